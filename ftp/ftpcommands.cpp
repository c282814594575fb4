// The elementary requests (one command each) and the chained operations
// that run several of them with a single completion.

#include "ftp/customftpcli.h"

void TCustomFtpCli::UserAsync()
{
    // On its own, a login step runs as a chain of one, so that the steps
    // that follow a login (FEAT) run after it too.
    if (!FHighLevelMode) {
        HighLevelAsync(ftpUserAsync, {ftpFctUser});
        return;
    }
    FLastFct = ftpFctUser;
    if (RefuseClearLogin())
        return;
    if (FUserName.empty()) {
        HandleError("UserName emtpy");
        return;
    }
    ExecAsync(ftpUserAsync, "USER " + FUserName, {331, 230});
}

void TCustomFtpCli::PassAsync()
{
    if (!FHighLevelMode) {
        HighLevelAsync(ftpPassAsync, {ftpFctPass});
        return;
    }
    FLastFct = ftpFctPass;
    if (RefuseClearLogin())
        return;
    if (FPassWord.empty()) {
        HandleError("Password emtpy");
        return;
    }
    ExecAsync(ftpPassAsync, "PASS " + FPassWord, {230});
}

void TCustomFtpCli::CwdAsync()
{
    FLastFct = ftpFctCwd;
    if (FHostDirName.empty()) {
        HandleError("HostDirName emtpy");
        return;
    }
    ExecAsync(ftpCwdAsync, "CWD " + FHostDirName, {200, 250, 257});
}

void TCustomFtpCli::CDupAsync()
{
    FLastFct = ftpFctCDup;
    ExecAsync(ftpCDupAsync, "CDUP", {250});
}

void TCustomFtpCli::PwdAsync()
{
    FLastFct = ftpFctPwd;
    ExecAsync(ftpPwdAsync, "PWD", {250, 257});
}

void TCustomFtpCli::MkdAsync()
{
    FLastFct = ftpFctMkd;
    ExecAsync(ftpMkdAsync, "MKD " + FHostFileName, {257});
}

void TCustomFtpCli::RmdAsync()
{
    FLastFct = ftpFctRmd;
    ExecAsync(ftpRmdAsync, "RMD " + FHostFileName, {250, 257});
}

void TCustomFtpCli::DeleAsync()
{
    FLastFct = ftpFctDele;
    ExecAsync(ftpDeleAsync, "DELE " + FHostFileName, {250, 257});
}

void TCustomFtpCli::RenFromAsync()
{
    FLastFct = ftpFctRenFrom;
    ExecAsync(ftpRenFromAsync, "RNFR " + FHostFileName, {350});
}

void TCustomFtpCli::RenToAsync()
{
    FLastFct = ftpFctRenTo;
    ExecAsync(ftpRenToAsync, "RNTO " + FLocalFileName, {200, 250, 257});
}

void TCustomFtpCli::SizeAsync()
{
    FLastFct = ftpFctSize;
    FSizeResult = 0;
    FSizeKnown = false;
    FSizeFileName = FHostFileName;
    ExecAsync(ftpSizeAsync, "SIZE " + FHostFileName, {213});
}

void TCustomFtpCli::SystAsync()
{
    FLastFct = ftpFctSyst;
    ExecAsync(ftpSystAsync, "SYST", {215});
}

void TCustomFtpCli::TypeSetAsync()
{
    FLastFct = ftpFctTypeSet;
    ExecAsync(ftpTypeSetAsync, std::string("TYPE ") + FTransferType, {200});
}

void TCustomFtpCli::TypeBinaryAsync()
{
    SetBinary(true);
    TypeSetAsync();
}

void TCustomFtpCli::TypeAsciiAsync()
{
    SetBinary(false);
    TypeSetAsync();
}

void TCustomFtpCli::QuoteAsync()
{
    FLastFct = ftpFctQuote;
    ExecAsync(ftpQuoteAsync, FLocalFileName, {0});
}

void TCustomFtpCli::QuitAsync()
{
    FLastFct = ftpFctQuit;
    FData->CloseLocalFile();
    ExecAsync(ftpQuitAsync, "QUIT", {221}, &TCustomFtpCli::QuitDone);
}

// --- chained operations ------------------------------------------------------------

void TCustomFtpCli::HighLevelAsync(TFtpRequest rqType, TFtpFctSet fcts)
{
    if (FControlConnected && fcts.Contains(ftpFctOpen)) {
        HandleError("FTP component already connected");
        return;
    }
    if (!CheckReady())
        return;
    AddTlsSteps(fcts);
    FSavedResponse = FLastResponse;
    FSavedStatusCode = -1;
    FRequestType = rqType;
    FRequestResult = 0;
    AddImpliedSteps(fcts);
    FPendingFcts = fcts;
    FLastFct = ftpFctNone;
    FHighLevelResult = 0;
    FHighLevelMode = true;
    FLastResponse.clear();
    FErrorMessage.clear();
    DoHighLevelAsync();
}

void TCustomFtpCli::DoHighLevelAsync()
{
    if (FState == ftpAbort) {
        FPendingFcts.Clear();
        FHighLevelResult = 426;
        FErrorMessage = "426 Operation aborted.";
    }
    FChainStep = &TCustomFtpCli::DoHighLevelAsync;
    ExtractMoreResults();

    // The order of the commands on the wire, whatever order the set holds.
    static constexpr TFtpFct order[] = {
        ftpFctOpen,     ftpFctAuth,  ftpFctUser, ftpFctPass,     ftpFctPbsz,    ftpFctProt,    ftpFctFeat,
        ftpFctOptsUtf8, ftpFctCwd,   ftpFctCDup, ftpFctTypeSet,  ftpFctListPwd, ftpFctListCwd, ftpFctMdtm,
        ftpFctPort,     ftpFctRest,  ftpFctGet,  ftpFctKeepTime, ftpFctPut,     ftpFctAppend,  ftpFctMfmt,
        ftpFctDir,      ftpFctLs,    ftpFctMlsd, ftpFctListBack, ftpFctSyst,    ftpFctMkd,     ftpFctRmd,
        ftpFctRenFrom,  ftpFctRenTo, ftpFctSize, ftpFctDele,     ftpFctPwd,     ftpFctQuote,   ftpFctQuit,
    };

    const TFtpFct previous = FLastFct;
    AddLoginFollowUps(previous);
    for (const TFtpFct fct : order) {
        if (!FPendingFcts.Contains(fct))
            continue;
        FPendingFcts.Exclude(fct);

        if (fct == ftpFctPass && previous == ftpFctUser && FStatusCode != 331)
            continue; // logged in by USER alone
        if (fct == ftpFctCwd && FHostDirName.empty())
            continue;
        if (SkipTlsStep(fct) || HandledWithoutCommand(fct))
            continue;

        FLastFct = fct;
        FRefusal.clear();
        try {
            RunChainStep(fct, previous);
        } catch (const FtpException& e) {
            // A step that refuses to start ends the chain. The first one
            // refuses to the caller; a later one runs inside a socket event,
            // where nobody would see the exception, so it completes the
            // chain with an error instead of leaving it waiting forever.
            if (previous == ftpFctNone) {
                FPendingFcts.Clear();
                FChainStep = nullptr;
                FHighLevelMode = false;
                throw;
            }
            EndRefusedChain(e.Message());
            return;
        }
        // With OnError assigned a refusal raises nothing: the step then
        // returns having started nothing, and without this the chain would
        // wait between two steps for a completion that never comes. A step
        // that did start is waiting for the network, or has already
        // completed (which moved the chain on or ended it).
        const bool stepUnderWay = FChainStep != &TCustomFtpCli::DoHighLevelAsync ||
                                  (FState != ftpReady && FState != ftpInternalReady);
        if (!stepUnderWay)
            EndRefusedChain(FRefusal.empty() ? "FTP chain step did not start" : FRefusal);
        return;
    }

    FPendingFcts.Clear();
    FChainStep = nullptr;
    FDoneReported = false;
    TriggerRequestDone(ErrorValue(FHighLevelResult));
}

// A step that refused to start ends the chain with one completion carrying
// the refusal; nothing of the chain runs after it.
void TCustomFtpCli::EndRefusedChain(const std::string& why)
{
    FPendingFcts.Clear();
    FChainStep = nullptr;
    FDoneReported = false;
    EndWithFailure(500, why, TFailText::IfNone, FStatusCode);
}

void TCustomFtpCli::RunChainStep(TFtpFct fct, TFtpFct previous)
{
    switch (fct) {
    case ftpFctOpen:
        OpenAsync();
        break;
    case ftpFctAuth:
        AuthAsync();
        break;
    case ftpFctUser:
        UserAsync();
        break;
    case ftpFctPass:
        PassAsync();
        break;
    case ftpFctPbsz:
        PbszAsync();
        break;
    case ftpFctProt:
        ProtAsync();
        break;
    case ftpFctCwd:
        CwdAsync();
        break;
    case ftpFctCDup:
        CDupAsync();
        break;
    case ftpFctTypeSet:
        TypeSetAsync();
        break;
    case ftpFctPort:
        PortAsync();
        break;
    case ftpFctRest:
        RestAsync();
        break;
    case ftpFctGet:
        // Resume only right after a REST the server accepted with 350.
        if (!(previous == ftpFctRest && FResumeAt >= 0 && FStatusCode == 350))
            FResumeAt = 0;
        ExecGetAsync();
        break;
    case ftpFctPut:
        ExecPutAsync();
        break;
    case ftpFctAppend:
        ExecAppendAsync();
        break;
    case ftpFctDir:
        ExecDirAsync();
        break;
    case ftpFctLs:
        ExecLsAsync();
        break;
    case ftpFctSyst:
        SystAsync();
        break;
    case ftpFctMkd:
        MkdAsync();
        break;
    case ftpFctRmd:
        RmdAsync();
        break;
    case ftpFctRenFrom:
        RenFromAsync();
        break;
    case ftpFctRenTo:
        RenToAsync();
        break;
    case ftpFctSize:
        SizeAsync();
        break;
    case ftpFctDele:
        DeleAsync();
        break;
    case ftpFctPwd:
        PwdAsync();
        break;
    case ftpFctQuote:
        QuoteAsync();
        break;
    case ftpFctQuit:
        // Callers want the reply of the last real step, not QUIT's 221.
        FSavedResponse = FLastResponse;
        FSavedStatusCode = FStatusCode;
        QuitAsync();
        break;
    default:
        RunModernStep(fct);
        break;
    }
}

void TCustomFtpCli::ConnectAsync() { HighLevelAsync(ftpConnectAsync, {ftpFctOpen, ftpFctUser, ftpFctPass}); }

void TCustomFtpCli::ReceiveAsync()
{
    HighLevelAsync(ftpReceiveAsync,
                   {ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd, ftpFctTypeSet, ftpFctPort, ftpFctGet, ftpFctQuit});
}

void TCustomFtpCli::RestartGetAsync()
{
    HighLevelAsync(ftpRestartGetAsync, {ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd, ftpFctTypeSet, ftpFctPort,
                                        ftpFctRest, ftpFctGet, ftpFctQuit});
}

void TCustomFtpCli::GetAsync() { HighLevelAsync(ftpGetAsync, {ftpFctPort, ftpFctGet}); }

void TCustomFtpCli::RestGetAsync() { HighLevelAsync(ftpRestGetAsync, {ftpFctPort, ftpFctRest, ftpFctGet}); }

void TCustomFtpCli::TransmitAsync()
{
    HighLevelAsync(ftpTransmitAsync,
                   {ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd, ftpFctTypeSet, ftpFctPort, ftpFctPut, ftpFctQuit});
}

void TCustomFtpCli::RestartPutAsync()
{
    HighLevelAsync(ftpRestartPutAsync, {ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd, ftpFctTypeSet, ftpFctPort,
                                        ftpFctRest, ftpFctPut, ftpFctQuit});
}

void TCustomFtpCli::PutAsync() { HighLevelAsync(ftpPutAsync, {ftpFctPort, ftpFctPut}); }

void TCustomFtpCli::RestPutAsync() { HighLevelAsync(ftpRestPutAsync, {ftpFctPort, ftpFctRest, ftpFctPut}); }

void TCustomFtpCli::AppendFileAsync()
{
    HighLevelAsync(ftpTransmitAsync, {ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd, ftpFctTypeSet, ftpFctPort,
                                      ftpFctAppend, ftpFctQuit});
}

void TCustomFtpCli::AppendAsync() { HighLevelAsync(ftpAppendAsync, {ftpFctPort, ftpFctAppend}); }

void TCustomFtpCli::DirectoryAsync()
{
    HighLevelAsync(ftpDirectoryAsync,
                   {ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd, ftpFctPort, ftpFctDir, ftpFctQuit});
}

void TCustomFtpCli::DirAsync() { HighLevelAsync(ftpDirAsync, {ftpFctPort, ftpFctDir}); }

void TCustomFtpCli::ListAsync()
{
    HighLevelAsync(ftpListAsync, {ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd, ftpFctPort, ftpFctLs, ftpFctQuit});
}

void TCustomFtpCli::LsAsync() { HighLevelAsync(ftpLsAsync, {ftpFctPort, ftpFctLs}); }

void TCustomFtpCli::SystemAsync()
{
    HighLevelAsync(ftpSystemAsync, {ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctSyst, ftpFctQuit});
}

void TCustomFtpCli::MkdirAsync()
{
    HighLevelAsync(ftpMkdirAsync, {ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd, ftpFctMkd, ftpFctQuit});
}

void TCustomFtpCli::RmdirAsync()
{
    HighLevelAsync(ftpRmdirAsync, {ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd, ftpFctRmd, ftpFctQuit});
}

void TCustomFtpCli::DeleteAsync()
{
    HighLevelAsync(ftpDeleteAsync, {ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd, ftpFctDele, ftpFctQuit});
}

void TCustomFtpCli::RenameAsync()
{
    HighLevelAsync(ftpRenameAsync,
                   {ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd, ftpFctRenFrom, ftpFctRenTo, ftpFctQuit});
}

void TCustomFtpCli::RenAsync() { HighLevelAsync(ftpRenAsync, {ftpFctRenFrom, ftpFctRenTo}); }

void TCustomFtpCli::DoQuoteAsync()
{
    HighLevelAsync(ftpDoQuoteAsync, {ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd, ftpFctQuote, ftpFctQuit});
}

void TCustomFtpCli::FileSizeAsync()
{
    HighLevelAsync(ftpSizeAsync, {ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd, ftpFctSize, ftpFctQuit});
}
