// FEAT after login, OPTS UTF8, the encoding names travel in, and the steps
// a chain adds by itself: once logged in, FEAT (once per connection) and
// OPTS UTF8 ON; around a listing by name, PWD/CWD/CWD back; around a
// transfer, the steps that keep modification times.

#include "ftp/customftpcli.h"

#include "ftp/ftpnamecodec.h"

namespace {

// A reply that says the connection is going away fails even a step whose
// refusal is otherwise harmless.
bool LosesConnection(int status) { return status == 421 || status >= 600 || status < 100; }

} // namespace

TFtpServerEncoding TCustomFtpCli::WireEncoding() const { return FWireEncoding; }

void TCustomFtpCli::ResetSessionFeatures()
{
    FFeatures = TFtpFeatures{};
    FFeatDone = false;
    FCollectReply = false;
    FCollectedReply.clear();
    FEpsvRefused = false;
    FPortRefused = false;
    // Until FEAT has spoken, Auto reads and writes UTF-8 (plain ASCII,
    // which is all a login usually holds, is the same in both).
    FWireEncoding = FServerEncoding == TFtpServerEncoding::Latin1 ? TFtpServerEncoding::Latin1
                                                                  : TFtpServerEncoding::Utf8;
}

bool TCustomFtpCli::ToWire(const std::string& display, std::string& wire, std::string& error) const
{
    // Text that is not UTF-8 cannot be a display text: it already is the
    // server's bytes (a caller that kept them), and goes out unchanged.
    if (!IsValidUtf8(display)) {
        wire = display;
        return true;
    }
    const TFtpNameCodec codec(FWireEncoding);
    return codec.ToCommand(display, wire, error);
}

std::string TCustomFtpCli::FromWire(const std::string& wire) const
{
    return TFtpNameCodec(FWireEncoding).ToDisplay(wire);
}

// --- FEAT and OPTS UTF8 -------------------------------------------------------

void TCustomFtpCli::FeatAsync()
{
    if (!FHighLevelMode) {
        HighLevelAsync(ftpFeatAsync, {ftpFctFeat});
        return;
    }
    FLastFct = ftpFctFeat;
    FCollectedReply.clear();
    FCollectReply = true;
    ExecTolerantAsync(ftpFeatAsync, "FEAT", {211}, &TCustomFtpCli::FeatDone);
    // The lines between the first and the last of the reply are collected
    // as they arrive (ControlSocketDataAvailable); the last one too.
}

void TCustomFtpCli::FeatDone()
{
    FCollectReply = false;
    const bool positive = FRequestResult == 0;
    FFeatures = positive ? ParseFeatReply(FCollectedReply) : TFtpFeatures{};
    FCollectedReply.clear();
    FFeatDone = true;
    FWireEncoding = ResolveServerEncoding(FServerEncoding, FFeatures.Utf8);
    if (!ForgiveRefusal())
        return;
    TriggerRequestDone(0);
}

void TCustomFtpCli::OptsUtf8Async()
{
    FLastFct = ftpFctOptsUtf8;
    ExecTolerantAsync(ftpOptsUtf8Async, "OPTS UTF8 ON", {200, 202}, &TCustomFtpCli::OptsUtf8Done);
}

void TCustomFtpCli::OptsUtf8Done()
{
    // A server that lists UTF8 and refuses the option (some always speak
    // UTF-8 and know no OPTS) still has its names in UTF-8.
    if (ForgiveRefusal())
        TriggerRequestDone(0);
}

void TCustomFtpCli::ExecTolerantAsync(TFtpRequest rqType, const std::string& cmd,
                                      std::initializer_list<std::uint16_t> ok, TFtpNextProc done)
{
    FForgivenError = FErrorMessage;
    ExecAsync(rqType, cmd, ok, done);
}

bool TCustomFtpCli::ForgiveRefusal()
{
    if (FRequestResult == 0)
        return true;
    if (LosesConnection(FStatusCode)) {
        FCollectReply = false;
        FSavedStatusCode = -1;
        EndWithFailure(ErrorValue(FRequestResult), FLastResponse, TFailText::Reply);
        return false;
    }
    // The refusal is in the log; it is not the request's error.
    FErrorMessage = FForgivenError;
    FRequestResult = 0;
    return true;
}

// --- steps added by the chain ----------------------------------------------------

void TCustomFtpCli::AddImpliedSteps(TFtpFctSet& fcts)
{
    FListInPlace = false;
    FListCanReturn = false;
    FRemoteFileTime = 0;
    const bool listing = fcts.Contains(ftpFctDir) || fcts.Contains(ftpFctLs) || fcts.Contains(ftpFctMlsd);
    if (listing && !FHostFileName.empty()) {
        // Listed by changing into the folder: a name with spaces or a
        // leading dash is then never split or read as options. A chain
        // that quits afterwards needs no way back.
        fcts.Include(ftpFctListCwd);
        if (!fcts.Contains(ftpFctQuit)) {
            fcts.Include(ftpFctListPwd);
            fcts.Include(ftpFctListBack);
        }
    }
    if (FPreserveTimes && fcts.Contains(ftpFctGet) && !FDisplayFileFlag) {
        fcts.Include(ftpFctMdtm);
        fcts.Include(ftpFctKeepTime);
    }
    if (FPreserveTimes && fcts.Contains(ftpFctPut))
        fcts.Include(ftpFctMfmt);
}

void TCustomFtpCli::AddLoginFollowUps(TFtpFct previous)
{
    // Logged in (by PASS, or by USER alone): FEAT once per connection.
    if (previous != ftpFctUser && previous != ftpFctPass)
        return;
    if (FStatusCode != 230 && FStatusCode != 202)
        return;
    if (FFeatDone || !FControlConnected)
        return;
    // A chain that only logs in reports the login's reply, not FEAT's.
    if (FPendingFcts.Empty() || (FPendingFcts.Mask() & ~TFtpFctSet{ftpFctPass}.Mask()) == 0) {
        FSavedResponse = FLastResponse;
        FSavedStatusCode = FStatusCode;
    }
    FPendingFcts.Include(ftpFctFeat);
    FPendingFcts.Include(ftpFctOptsUtf8);
}

bool TCustomFtpCli::HandledWithoutCommand(TFtpFct fct)
{
    switch (fct) {
    case ftpFctFeat:
        return FFeatDone;
    case ftpFctOptsUtf8:
        return !FFeatures.Utf8 || FServerEncoding == TFtpServerEncoding::Latin1;
    case ftpFctListPwd:
        return false;
    case ftpFctListCwd:
        // Without a known way back the name goes as LIST's argument.
        return FPendingFcts.Contains(ftpFctListBack) && !FListCanReturn;
    case ftpFctListBack:
        return !FListInPlace;
    case ftpFctMdtm:
        if (FHostFileTime > 0) {
            FRemoteFileTime = FHostFileTime;
            FHostFileTime = 0;
            return true;
        }
        // RFC 3659: a server with MDTM lists it in FEAT.
        return !FFeatures.Mdtm;
    case ftpFctKeepTime:
        ApplyKeptTime();
        return true;
    case ftpFctMfmt:
        return !FFeatures.Mfmt;
    default:
        return false;
    }
}

void TCustomFtpCli::RunModernStep(TFtpFct fct)
{
    switch (fct) {
    case ftpFctFeat:
        FeatAsync();
        break;
    case ftpFctOptsUtf8:
        OptsUtf8Async();
        break;
    case ftpFctMlsd:
        ExecMlsdAsync();
        break;
    case ftpFctListPwd:
        FLastFct = ftpFctListPwd;
        ExecTolerantAsync(ftpPwdAsync, "PWD", {257}, &TCustomFtpCli::ListPwdDone);
        break;
    case ftpFctListCwd:
        FLastFct = ftpFctListCwd;
        ExecTolerantAsync(ftpCwdAsync, "CWD " + FHostFileName, {200, 250}, &TCustomFtpCli::ListCwdDone);
        break;
    case ftpFctListBack:
        // Failing to return is a failure: the session would go on in the
        // wrong folder.
        FLastFct = ftpFctListBack;
        ExecAsync(ftpCwdAsync, "CWD " + FListReturnDir, {200, 250});
        break;
    case ftpFctMdtm:
        FLastFct = ftpFctMdtm;
        ExecTolerantAsync(ftpSizeAsync, "MDTM " + FHostFileName, {213}, &TCustomFtpCli::MdtmDone);
        break;
    case ftpFctMfmt:
        RunMfmtStep();
        break;
    default:
        break;
    }
}

void TCustomFtpCli::ListPwdDone()
{
    if (!ForgiveRefusal())
        return;
    FListCanReturn = false;
    if (FStatusCode == 257) {
        std::size_t pos = 0;
        ReadNumber(FLastResponse, pos);
        FListReturnDir = FromWire(ReadQuoted(FLastResponse, pos));
        FListCanReturn = !FListReturnDir.empty();
    }
    TriggerRequestDone(0);
}

void TCustomFtpCli::ListCwdDone()
{
    // A name that is no folder (a file, or nothing) is listed by name.
    const bool entered = FRequestResult == 0;
    if (!ForgiveRefusal())
        return;
    FListInPlace = entered;
    TriggerRequestDone(0);
}

std::string TCustomFtpCli::TransferCommandLine() const
{
    if (FHostFileName.empty())
        return FTransferCommand;
    if (FTransferCommand != "RETR") {
        if (FListInPlace)
            return FTransferCommand;
        // A leading dash would be read as options by servers that pass the
        // argument to ls.
        if (FHostFileName[0] == '-')
            return FTransferCommand + " ./" + FHostFileName;
    }
    return FTransferCommand + " " + FHostFileName;
}
