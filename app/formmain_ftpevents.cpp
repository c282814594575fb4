// The session's FTP client and everything it reports: the log, the status
// bar, the caption, the remote panes, login retries, time-outs and progress.

#include "app/formmain.h"

#include "app/busycursor.h"
#include "app/listview.h"
#include "ui/prompts.h"
#include "dialogs/transferprogress.h"
#include "ftp/ftpclient.h"
#include "platform/tickcount.h"

namespace {

QString Text(const std::string& bytes) { return QString::fromUtf8(bytes.data(), qsizetype(bytes.size())); }

} // namespace

void TFormMain::CreateFtpClient()
{
    FTPC1 = std::make_unique<TFtpClient>();
    FTPC1->SetTimeout(15);
    FTPC1->SetBinary(true);
    FTPC1->SetShareMode(ftpShareExclusive);
    FTPC1->SetOptions(TFtpOptions{ftpAcceptLF});

    FTPC1->OnDisplay = [this](TCustomFtpCli* s, std::string& m) { FTPC1Display(s, m); };
    FTPC1->OnDisplayFile = [this](TCustomFtpCli* s, std::string& m) { FTPC1DisplayFile(s, m); };
    FTPC1->OnCommand = [this](TCustomFtpCli* s, std::string& c) { FTPC1Command(s, c); };
    FTPC1->OnResponse = [this](TCustomFtpCli* s) { FTPC1Response(s); };
    FTPC1->OnProgress = [this](TCustomFtpCli* s, std::int64_t n, bool& abort) { FTPC1Progress(s, n, abort); };
    FTPC1->OnSessionConnected = [this](TCustomFtpCli* s, std::uint16_t e) { FTPC1SessionConnected(s, e); };
    FTPC1->OnSessionClosed = [this](TCustomFtpCli* s, std::uint16_t e) { FTPC1SessionClosed(s, e); };
    FTPC1->OnRequestDone = [this](TCustomFtpCli* s, TFtpRequest r, std::uint16_t e) { FTPC1RequestDone(s, r, e); };
    FTPC1->OnStateChange = [this](TCustomFtpCli* s) { FTPC1StateChange(s); };
    FTPC1->OnReadyToTransmit = [this](TCustomFtpCli* s, bool& cancel) { FTPC1ReadyToTransmit(s, cancel); };
    FTPC1->OnBgException = [this](TCustomFtpCli* s, const std::exception& e, bool& canClose) {
        FTPC1BgException(s, e, canClose);
    };
    WireCertificateCheck();

    ProgressDialog = std::make_unique<TTransferProgress>(CancelTransfer, this);
}

void TFormMain::ReleaseFtpClient()
{
    if (!FTPC1)
        return;
    // The client closes its connections as it goes; the window it would
    // report that to is going too.
    FTPC1->OnDisplay = nullptr;
    FTPC1->OnDisplayFile = nullptr;
    FTPC1->OnCommand = nullptr;
    FTPC1->OnResponse = nullptr;
    FTPC1->OnProgress = nullptr;
    FTPC1->OnSessionConnected = nullptr;
    FTPC1->OnSessionClosed = nullptr;
    FTPC1->OnRequestDone = nullptr;
    FTPC1->OnStateChange = nullptr;
    FTPC1->OnReadyToTransmit = nullptr;
    FTPC1->OnBgException = nullptr;
    FTPC1->OnCertificateCheck = nullptr;
    ProgressDialog.reset();
    FTPC1.reset();
}

bool TFormMain::IsConnected() const { return FTPC1 && FTPC1->Connected(); }

bool TFormMain::RunRequest(bool (TFtpClient::*request)())
{
    // The client refuses a request while another one runs, and its blocking
    // calls keep the refusal to themselves; the user hears of it here.
    if (FTPC1->State() != ftpReady && FTPC1->State() != ftpInternalReady) {
        Log(QStringLiteral("Error: FTP component not ready"));
        return false;
    }
    const std::int64_t started = GetTickCount64();
    const bool ok = ((*FTPC1).*request)();
    // A wait that runs out ends without any completion, so the request-done
    // handler never hears of it; the client only leaves its time-out text.
    // A request refused at once leaves that text from an earlier time-out
    // in place, hence the look at the clock.
    const std::int64_t waited = GetTickCount64() - started;
    if (!ok && FTPC1->ErrorMessage() == "426 Timeout" && FTPC1->StatusCode() == 426 && FTPC1->Timeout() > 0 &&
        waited >= std::int64_t(FTPC1->Timeout()) * 1000 - 50)
        ReportTimeout();
    return ok;
}

void TFormMain::ReportTimeout()
{
    Log(QStringLiteral("Error: Timed out!"));
    ShowMessageBox(QStringLiteral("Connection Timeout"),
                   QStringLiteral("The connection timed out while waiting for a response from the server.\n"
                                  "Please try again or contact your server administrator"),
                   0);
}

void TFormMain::OpenSession()
{
    const TBusyCursor busy;
    FTPC1->SetHostName(SiteHost.toStdString());
    FTPC1->SetUserName(SiteUser.toStdString());
    FTPC1->SetPassWord(SitePassword.toStdString());
    FTPC1->SetPort(SitePort.toStdString());
    FTPC1->SetPassive(SitePassive);
    ApplySiteSettings();
    loginGivenUp_ = false;
    // Each step reports its own failure through the request-done handler.
    RunRequest(&TFtpClient::Connect);
    if (loginGivenUp_) {
        // Not logged in and not going to be: leave, so that the caption, the
        // status bar and the commands all say "not connected".
        if (IsConnected())
            QuitSession();
        return;
    }
    RunRequest(&TFtpClient::Syst);
    RequestRemoteListing();
    QueueSessionOpened();
}

void TFormMain::AskLoginAgain()
{
    Prompts().Beep();
    QString reply = Text(FTPC1->ErrorMessage());
    if (reply.isEmpty())
        reply = Text(FTPC1->LastResponse());
    SetStatusText(1, QStringLiteral("Login failed"));
    ShowMessageBox(QStringLiteral("Login failed"), QStringLiteral("Login failed: ") + reply, 0);
    QString user;
    QString password;
    const bool gotUser = Prompts().Input(this, QStringLiteral("Invalid Login"),
                                         QStringLiteral("Please enter your username"), user);
    const bool gotPassword = Prompts().Password(this, QStringLiteral("Invalid Login"),
                                                QStringLiteral("Please enter your password"), password);
    if (!gotUser || !gotPassword || user.isEmpty() || password.isEmpty()) {
        loginGivenUp_ = true;
        ShowMessageBox(QStringLiteral("Invalid Login"),
                       QStringLiteral("You can not connect to the remote host: Invalid Username and Password"), 0);
        return;
    }
    SiteUser = user;
    SitePassword = password;
    FTPC1->SetUserName(user.toStdString());
    RunRequest(&TFtpClient::User);
    FTPC1->SetPassWord(password.toStdString());
    RunRequest(&TFtpClient::Pass);
    // The connect chain that failed at the login never reached PBSZ/PROT.
    if (FTPC1->ControlTlsActive() && !FTPC1->DataProtected())
        RunRequest(&TFtpClient::Protect);
}

void TFormMain::FTPC1Display(TCustomFtpCli*, std::string& msg) { Log(Text(msg)); }

void TFormMain::FTPC1DisplayFile(TCustomFtpCli*, std::string& msg) { Log(Text(msg)); }

void TFormMain::FTPC1Command(TCustomFtpCli*, std::string& cmd)
{
    SetStatusText(0, QStringLiteral("Executing Command: ") + Text(cmd));
}

void TFormMain::FTPC1Response(TCustomFtpCli*)
{
    // The client shows the last line of each reply; the lines before it
    // (a multi-line reply to HELP, FEAT, STAT...) are shown here, in order.
    if (FTPC1->State() != ftpWaitingResponse)
        return;
    const QString line = Text(FTPC1->LastResponse());
    const bool final = line.size() >= 3 && line[0].isDigit() && line[1].isDigit() && line[2].isDigit() &&
                       (line.size() == 3 || line[3] == QLatin1Char(' '));
    if (!final)
        Log(QStringLiteral("< ") + line);
}

void TFormMain::FTPC1ReadyToTransmit(TCustomFtpCli*, bool&) {}

void TFormMain::FTPC1StateChange(TCustomFtpCli*)
{
    const QString host = DisplayHost();
    const QString address = Text(FTPC1->DnsResult());
    switch (FTPC1->State()) {
    case ftpNotConnected:
        Log(QStringLiteral("..Disconnected"));
        SetCaptionDisconnected();
        SetStatusText(1, QStringLiteral("Disconnected"));
        break;
    case ftpReady:
        Log(QStringLiteral("..Ready"));
        SetStatusText(0, QString());
        break;
    case ftpInternalReady:
        break;
    case ftpDnsLookup:
        Log(QStringLiteral("..Looking for DNS"));
        break;
    case ftpConnected:
        Log(QStringLiteral("..Connected to: ") + host + QStringLiteral(" - IP (") + address + QStringLiteral(")"));
        SetCaptionConnected(host, address);
        break;
    case ftpAbort:
        Log(QStringLiteral("..Command aborted"));
        ResumeOffset = 0;
        break;
    case ftpInternalAbort:
        Log(QStringLiteral("..Client command aborted"));
        break;
    case ftpWaitingBanner:
        Log(QStringLiteral("..Received response from: IP (") + address + QStringLiteral(")"));
        break;
    case ftpWaitingResponse:
        Log(QStringLiteral("..Waiting for response"));
        break;
    }
}

void TFormMain::FTPC1SessionConnected(TCustomFtpCli*, std::uint16_t error)
{
    RemoteFiles->setEnabled(true);
    RemoteDirs->setEnabled(true);
    SetControls();
    if (error != 0)
        Log(QStringLiteral("Session Connected, error = ") + QString::number(error));
}

void TFormMain::FTPC1SessionClosed(TCustomFtpCli*, std::uint16_t error)
{
    for (TListView* list : {RemoteFiles, RemoteDirs}) {
        list->BeginUpdate();
        list->Clear();
        list->EndUpdate();
    }
    RemoteFiles->setEnabled(false);
    RemoteDirs->setEnabled(false);
    // When the server closes, the event comes while the control socket is
    // still on its way to the closed state, so asking the client would
    // leave the connect commands disabled: the session is over either way.
    SetControls(false);
    if (error != 0)
        Log(QStringLiteral("Error: ") + Text(FTPC1->ErrorMessage()));
}

void TFormMain::FTPC1RequestDone(TCustomFtpCli*, TFtpRequest rqType, std::uint16_t error)
{
    ++requestsDone_;
    if (error != 0) {
        if (QString::number(error).contains(QLatin1String("530"))) {
            AskLoginAgain();
            return;
        }
        if (FTPC1->ErrorMessage().empty()) {
            ReportTimeout();
            return;
        }
        Log(QStringLiteral("Error: ") + Text(FTPC1->ErrorMessage()));
        ResumeOffset = 0;
        return;
    }

    switch (rqType) {
    case ftpCwdAsync:
        Log(QStringLiteral("Directory is \"") + Text(FTPC1->HostDirName()) + QStringLiteral("\""));
        RequestRemoteListing();
        break;
    case ftpMkdAsync:
    case ftpRmdAsync:
    case ftpRenAsync:
    case ftpCDupAsync:
        RequestRemoteListing();
        break;
    case ftpDirAsync:
    case ftpMlsdAsync:
        ParseRemoteListing();
        RunRequest(&TFtpClient::Pwd);
        break;
    case ftpPwdAsync:
        RemoteDir = Text(FTPC1->DirResult());
        SetStatusText(1, QStringLiteral("Current Directory - ") + RemoteDir);
        break;
    case ftpSizeAsync:
        TransferSize = FTPC1->SizeResult();
        Log(QStringLiteral("File size is ") + QString::number(TransferSize) + QStringLiteral(" bytes"));
        break;
    case ftpGetAsync:
        ProgressActive = false;
        SetLocalFiles();
        break;
    case ftpPutAsync:
        ProgressActive = false;
        break;
    default:
        break;
    }
}

void TFormMain::FTPC1Progress(TCustomFtpCli*, std::int64_t count, bool& abort)
{
    if (CancelTransfer) {
        abort = true;
        ResumeOffset = 0;
        return;
    }
    abort = false;
    // The dialog may already be gone (a resumed, failed or aborted transfer
    // leaves ProgressActive raised); the progress owner ignores that case.
    if (ProgressActive && ProgressDialog)
        ProgressDialog->Update(count);
}

void TFormMain::FTPC1BgException(TCustomFtpCli*, const std::exception& e, bool&)
{
    ShowMessageBox(QStringLiteral("Error"),
                   QStringLiteral("There was an Error with the connection. Error: ") + QString::fromUtf8(e.what()), 5);
}
