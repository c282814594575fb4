#include "cli/ftpcommandrunner.h"

#include "cli/progressbar.h"
#include "cli/visibletext.h"
#include "ftp/ftplocalfile.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

std::string BaseName(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

TFtpCommandRunner::TFtpCommandRunner(const TCliArgs& args) : args_(args)
{
    interactive_ = ::isatty(STDERR_FILENO) == 1;
    ftp_.SetHostName(args_.host);
    ftp_.SetPort(args_.port);
    ftp_.SetPassive(args_.passive);
    ftp_.SetTimeout(args_.timeout);
    if (args_.userGiven) {
        ftp_.SetUserName(args_.user);
    } else {
        ftp_.SetUserName("anonymous");
    }
    std::string password = args_.password;
    if (!args_.passwordGiven) {
        const char* env = std::getenv("TARVIK_PASSWORD");
        if (env)
            password = env;
        else if (!args_.userGiven)
            password = "anonymous@";
    }
    ftp_.SetPassWord(password);
    if (args_.verbose) {
        ftp_.OnDisplay = [](TCustomFtpCli*, std::string& msg) {
            std::fprintf(stderr, "%s\n", VisibleText(msg).c_str());
        };
    }
    ftp_.OnProgress = [this](TCustomFtpCli*, std::int64_t count, bool&) {
        if (bar_)
            bar_->Update(count);
    };
}

TFtpCommandRunner::~TFtpCommandRunner() = default;

std::string TFtpCommandRunner::FailureText() const
{
    if (!ftp_.ErrorMessage().empty())
        return ftp_.ErrorMessage();
    if (!ftp_.LastResponse().empty())
        return ftp_.LastResponse();
    return "request failed";
}

int TFtpCommandRunner::Fail(const std::string& what)
{
    std::fprintf(stderr, "tarvik-ftp: %s\n", VisibleText(what).c_str());
    if (ftp_.Connected())
        ftp_.Abort();
    return 1;
}

bool TFtpCommandRunner::Login()
{
    // Step by step rather than through the connect chain, so that a server
    // that wants a password we do not have gets a clear message.
    if (!ftp_.Open())
        return false;
    if (!ftp_.User())
        return false;
    if (ftp_.StatusCode() == 331) {
        if (ftp_.PassWord().empty()) {
            std::fprintf(stderr, "tarvik-ftp: the server wants a password: use --password or TARVIK_PASSWORD\n");
            return false;
        }
        if (!ftp_.Pass())
            return false;
    }
    if (!(args_.ascii ? ftp_.TypeAscii() : ftp_.TypeBinary()))
        return false;
    if (!args_.cwd.empty()) {
        ftp_.SetHostDirName(args_.cwd);
        if (!ftp_.Cwd())
            return false;
    }
    return true;
}

bool TFtpCommandRunner::Transfer(bool (TFtpClient::*wrapper)(), std::int64_t total, std::int64_t start)
{
    if (interactive_ && !args_.verbose)
        bar_ = std::make_unique<TProgressBar>(stderr, total, start);
    const bool ok = (ftp_.*wrapper)();
    if (bar_) {
        bar_->Finish(ftp_.ByteCount() + start);
        bar_.reset();
    }
    return ok;
}

bool TFtpCommandRunner::RunCommand()
{
    const std::string& cmd = args_.command;
    const auto& a = args_.args;

    if (cmd == "ls" || cmd == "nlst") {
        ftp_.SetHostFileName(a.empty() ? "" : a[0]);
        ftp_.SetLocalFileName("");
        ftp_.SetDisplayFileFlag(true);
        ftp_.SetDisplayFileMode(ftpBinary);
        // The listing is printed whole at the end, so that a line end split
        // between two blocks is recognised.
        std::string listing;
        ftp_.OnDisplayFile = [&listing](TCustomFtpCli*, std::string& data) { listing += data; };
        const bool ok = cmd == "ls" ? ftp_.Dir() : ftp_.Ls();
        ftp_.OnDisplayFile = nullptr;
        const std::string shown = args_.raw ? listing : VisibleText(listing, true);
        std::fwrite(shown.data(), 1, shown.size(), stdout);
        std::fflush(stdout);
        return ok;
    }
    if (cmd == "get" || cmd == "reget") {
        ftp_.SetHostFileName(a[0]);
        ftp_.SetLocalFileName(a.size() > 1 ? a[1] : BaseName(a[0]));
        std::int64_t total = -1;
        if (interactive_ && ftp_.Size())
            total = ftp_.SizeResult();
        std::int64_t start = 0;
        if (cmd == "reget")
            start = std::max<std::int64_t>(0, TFtpLocalFile::FileSize(ftp_.LocalFileName()));
        return Transfer(cmd == "get" ? &TFtpClient::Get : &TFtpClient::RestGet, total, start);
    }
    if (cmd == "put" || cmd == "append") {
        ftp_.SetLocalFileName(a[0]);
        ftp_.SetHostFileName(a.size() > 1 ? a[1] : BaseName(a[0]));
        ftp_.SetResumeAt(0);
        const std::int64_t total = TFtpLocalFile::FileSize(a[0]);
        if (total < 0) {
            std::fprintf(stderr, "tarvik-ftp: cannot read local file %s\n", a[0].c_str());
            return false;
        }
        return Transfer(cmd == "put" ? &TFtpClient::Put : &TFtpClient::Append, total, 0);
    }
    if (cmd == "mkdir") {
        ftp_.SetHostFileName(a[0]);
        return ftp_.Mkd();
    }
    if (cmd == "rmdir") {
        ftp_.SetHostFileName(a[0]);
        return ftp_.Rmd();
    }
    if (cmd == "rm") {
        ftp_.SetHostFileName(a[0]);
        return ftp_.Dele();
    }
    if (cmd == "mv") {
        ftp_.SetHostFileName(a[0]);
        ftp_.SetLocalFileName(a[1]);
        return ftp_.Ren();
    }
    if (cmd == "size") {
        ftp_.SetHostFileName(a[0]);
        if (!ftp_.Size())
            return false;
        std::printf("%lld\n", static_cast<long long>(ftp_.SizeResult()));
        return true;
    }
    if (cmd == "pwd") {
        if (!ftp_.Pwd())
            return false;
        std::printf("%s\n", VisibleText(ftp_.DirResult().empty() ? ftp_.LastResponse() : ftp_.DirResult()).c_str());
        return true;
    }
    if (cmd == "quote") {
        std::string line;
        for (const auto& w : a)
            line += (line.empty() ? "" : " ") + w;
        ftp_.SetLocalFileName(line);
        std::vector<std::string> reply;
        ftp_.OnResponse = [&](TCustomFtpCli* s) { reply.push_back(s->LastResponse()); };
        const bool ok = ftp_.Quote();
        ftp_.OnResponse = nullptr;
        for (const auto& l : reply)
            std::printf("%s\n", VisibleText(l).c_str());
        return ok;
    }
    return false;
}

int TFtpCommandRunner::Run()
{
    if (!Login())
        return Fail(FailureText());
    if (SeveralFiles())
        return RunSeveral();
    if (!RunCommand())
        return Fail(FailureText());
    ftp_.Quit();
    return 0;
}
