#include "cli/ftpcommandrunner.h"

#include "cli/progressbar.h"
#include "cli/visibletext.h"
#include "ftp/ftplocalfile.h"
#include "ftp/ftpnamecodec.h"

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
    ftp_.SetPreserveTimes(!args_.noPreserve);
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
    SetUpTls();
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

void TFtpCommandRunner::SetUpTls()
{
    if (args_.tls == "explicit")
        ftp_.SetEncryption(TFtpEncryption::ExplicitRequired);
    else if (args_.tls == "if-offered")
        ftp_.SetEncryption(TFtpEncryption::ExplicitIfOffered);
    else if (args_.tls == "implicit")
        ftp_.SetEncryption(TFtpEncryption::Implicit);
    ftp_.SetSslCAFile(args_.cacert);
    ftp_.SetSslVerifyPeer(!args_.insecure);
    // A certificate is trusted by the authorities or not at all: nobody is
    // there to answer a question, and the desktop's choices are not ours.
    ftp_.SetSslUseTrustStore(false);
    if (args_.insecure && args_.tls != "none")
        std::fprintf(stderr, "tarvik-ftp: --insecure: the server's certificate is NOT verified\n");
}

bool TFtpCommandRunner::LoginTls()
{
    if (args_.tls != "explicit" && args_.tls != "if-offered")
        return true;
    if (!ftp_.Auth())
        return false;
    if (!ftp_.ControlTlsActive())
        std::fprintf(stderr, "tarvik-ftp: the server refused TLS: continuing WITHOUT encryption\n");
    return true;
}

bool TFtpCommandRunner::Login()
{
    // Step by step rather than through the connect chain, so that a server
    // that wants a password we do not have gets a clear message.
    if (!ftp_.Open())
        return false;
    if (!LoginTls())
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
    if (ftp_.ControlTlsActive() && !ftp_.Protect())
        return false;
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
        // Names in the server's encoding are shown as UTF-8; bytes the
        // encoding does not allow come out as the escapes that `get` and
        // `rm` take back.
        const std::string text = TFtpNameCodec(ftp_.WireEncoding()).ToDisplay(listing);
        const std::string shown = args_.raw ? listing : VisibleText(text, true);
        std::fwrite(shown.data(), 1, shown.size(), stdout);
        std::fflush(stdout);
        return ok;
    }
    if (cmd == "mls")
        return MachineListing();
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

bool TFtpCommandRunner::MachineListing()
{
    const auto& a = args_.args;
    if (ftp_.Features().Received && !ftp_.Features().Mlst) {
        std::fprintf(stderr, "tarvik-ftp: the server does not offer MLSD (use ls)\n");
        return false;
    }
    ftp_.SetHostFileName(a.empty() ? "" : a[0]);
    ftp_.SetLocalFileName("");
    ftp_.SetDisplayFileFlag(true);
    ftp_.SetDisplayFileMode(ftpBinary);
    std::string listing;
    ftp_.OnDisplayFile = [&listing](TCustomFtpCli*, std::string& data) { listing += data; };
    const bool ok = ftp_.Mlsd();
    ftp_.OnDisplayFile = nullptr;
    // Each line: the facts as the server gave them, then the name in the
    // connection's encoding shown as UTF-8.
    const TFtpNameCodec codec(ftp_.WireEncoding());
    std::string out;
    std::size_t start = 0;
    while (start < listing.size()) {
        std::size_t end = listing.find('\n', start);
        if (end == std::string::npos)
            end = listing.size();
        std::string line = listing.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        if (!args_.raw) {
            const std::size_t space = line.find(' ');
            if (space != std::string::npos)
                line = line.substr(0, space + 1) + codec.ToDisplay(line.substr(space + 1));
            line = VisibleText(line);
        }
        out += line + "\n";
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
    return ok;
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
