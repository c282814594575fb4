#include "ftp/ftpclient.h"

#include "platform/application.h"
#include "platform/tickcount.h"

#include <algorithm>

TFtpClient::TFtpClient() { FTimeout = 15; }

bool TFtpClient::Progress()
{
    // The time-out does not listen to progress events (they also come while
    // nothing moves); it watches the bytes themselves, see WaitUntilReady.
    return TCustomFtpCli::Progress();
}

bool TFtpClient::Synchronize(TAsyncRequest proc)
{
    const std::int64_t postedBefore = FDonePosted;
    FRefusal.clear();
    try {
        (this->*proc)();
    } catch (...) {
        return false;
    }
    // With OnError assigned a refused request raises nothing and starts
    // nothing: it has failed, whatever the previous request left behind.
    if (!FRefusal.empty() && FDonePosted == postedBefore && (FState == ftpReady || FState == ftpInternalReady))
        return false;
    return WaitUntilReady();
}

bool TFtpClient::WaitUntilReady()
{
    FDeadline = GetTickCount64() + std::int64_t(FTimeout) * 1000;
    for (;;) {
        // The completion is delivered before the wrapper returns, so the
        // OnRequestDone handler has run by then.
        if (FState == ftpReady && FDonePending == 0)
            return FRequestResult == 0;
        const std::int64_t now = GetTickCount64();
        // A transfer is cut off only when no byte moved, in either
        // direction, for the whole time-out: a slow one that keeps moving
        // goes on.
        const std::int64_t lastMove = FData->LastMoveTick();
        const std::int64_t deadline = lastMove > 0 ? std::max(FDeadline, lastMove + std::int64_t(FTimeout) * 1000)
                                                   : FDeadline;
        if (Application::Terminated() || (FTimeout > 0 && now > deadline))
            break;
        // Block in the event loop until something happens or the deadline
        // passes; never spin.
        int wait = 1000;
        if (FTimeout > 0)
            wait = int(std::clamp<std::int64_t>(deadline - now + 1, 1, 1000));
        if (FMultiThreaded)
            FControlSocket->MessagePump();
        Application::WaitForMessage(wait);
    }
    AbortAsync();
    FErrorMessage = "426 Timeout";
    FStatusCode = 426;
    return false;
}

bool TFtpClient::Open() { return Synchronize(&TCustomFtpCli::OpenAsync); }
bool TFtpClient::User() { return Synchronize(&TCustomFtpCli::UserAsync); }
bool TFtpClient::Pass() { return Synchronize(&TCustomFtpCli::PassAsync); }
bool TFtpClient::Connect() { return Synchronize(&TCustomFtpCli::ConnectAsync); }
bool TFtpClient::Cwd() { return Synchronize(&TCustomFtpCli::CwdAsync); }
bool TFtpClient::Pwd() { return Synchronize(&TCustomFtpCli::PwdAsync); }
bool TFtpClient::CDup() { return Synchronize(&TCustomFtpCli::CDupAsync); }
bool TFtpClient::TypeSet() { return Synchronize(&TCustomFtpCli::TypeSetAsync); }
bool TFtpClient::TypeBinary()
{
    SetBinary(true);
    return Synchronize(&TCustomFtpCli::TypeSetAsync);
}
bool TFtpClient::TypeAscii()
{
    SetBinary(false);
    return Synchronize(&TCustomFtpCli::TypeSetAsync);
}
bool TFtpClient::Get() { return Synchronize(&TCustomFtpCli::GetAsync); }
bool TFtpClient::Put() { return Synchronize(&TCustomFtpCli::PutAsync); }
bool TFtpClient::RestPut() { return Synchronize(&TCustomFtpCli::RestPutAsync); }
bool TFtpClient::RestartPut() { return Synchronize(&TCustomFtpCli::RestartPutAsync); }
bool TFtpClient::Append() { return Synchronize(&TCustomFtpCli::AppendAsync); }
bool TFtpClient::Quit() { return Synchronize(&TCustomFtpCli::QuitAsync); }
bool TFtpClient::Abort() { return Synchronize(&TCustomFtpCli::AbortAsync); }
bool TFtpClient::Receive() { return Synchronize(&TCustomFtpCli::ReceiveAsync); }
bool TFtpClient::Transmit() { return Synchronize(&TCustomFtpCli::TransmitAsync); }
bool TFtpClient::AppendFile() { return Synchronize(&TCustomFtpCli::AppendFileAsync); }
bool TFtpClient::Dir() { return Synchronize(&TCustomFtpCli::DirAsync); }
bool TFtpClient::Directory() { return Synchronize(&TCustomFtpCli::DirectoryAsync); }
bool TFtpClient::Ls() { return Synchronize(&TCustomFtpCli::LsAsync); }
bool TFtpClient::List() { return Synchronize(&TCustomFtpCli::ListAsync); }
bool TFtpClient::Mkd() { return Synchronize(&TCustomFtpCli::MkdAsync); }
bool TFtpClient::Mkdir() { return Synchronize(&TCustomFtpCli::MkdirAsync); }
bool TFtpClient::Ren() { return Synchronize(&TCustomFtpCli::RenAsync); }
bool TFtpClient::Rename() { return Synchronize(&TCustomFtpCli::RenameAsync); }
bool TFtpClient::Dele() { return Synchronize(&TCustomFtpCli::DeleAsync); }
bool TFtpClient::Delete() { return Synchronize(&TCustomFtpCli::DeleteAsync); }
bool TFtpClient::Rmd() { return Synchronize(&TCustomFtpCli::RmdAsync); }
bool TFtpClient::Rmdir() { return Synchronize(&TCustomFtpCli::RmdirAsync); }
bool TFtpClient::Syst() { return Synchronize(&TCustomFtpCli::SystAsync); }
bool TFtpClient::System() { return Synchronize(&TCustomFtpCli::SystemAsync); }
bool TFtpClient::Size() { return Synchronize(&TCustomFtpCli::SizeAsync); }
bool TFtpClient::FileSize() { return Synchronize(&TCustomFtpCli::FileSizeAsync); }
bool TFtpClient::Quote() { return Synchronize(&TCustomFtpCli::QuoteAsync); }
bool TFtpClient::DoQuote() { return Synchronize(&TCustomFtpCli::DoQuoteAsync); }
bool TFtpClient::RestGet() { return Synchronize(&TCustomFtpCli::RestGetAsync); }
bool TFtpClient::RestartGet() { return Synchronize(&TCustomFtpCli::RestartGetAsync); }
bool TFtpClient::Auth() { return Synchronize(&TCustomFtpCli::AuthAsync); }
bool TFtpClient::Protect() { return Synchronize(&TCustomFtpCli::ProtectAsync); }
bool TFtpClient::Feat() { return Synchronize(&TCustomFtpCli::FeatAsync); }
bool TFtpClient::Mlsd() { return Synchronize(&TCustomFtpCli::MlsdAsync); }
