#include "cli/urlfetch.h"

#include "cli/progressbar.h"
#include "http/httpprot.h"

#include <QEventLoop>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

// Text from a server with control characters made visible, so a header
// cannot rewrite the terminal.
std::string Visible(const std::string& text)
{
    std::string out;
    for (const unsigned char c : text) {
        if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

struct TFileCloser {
    void operator()(std::FILE* f) const
    {
        if (f != nullptr)
            std::fclose(f);
    }
};
using TFilePtr = std::unique_ptr<std::FILE, TFileCloser>;

} // namespace

int TUrlFetch::Run()
{
    THttpCli http;
    http.URL = args_.url;
    http.Agent = "tarvik-url";
    http.Accept = "*/*";
    http.MaxRedirects = args_.maxRedirs;
    if (args_.userGiven) {
        http.Username = args_.user;
        http.Password = args_.password;
    }
    if (!args_.proxyHost.empty()) {
        http.Proxy = args_.proxyHost;
        http.ProxyPort = args_.proxyPort;
    }
    if (!args_.socksHost.empty()) {
        http.SocksServer = args_.socksHost;
        http.SocksPort = args_.socksPort;
        http.SocksLevel = "5";
    }
    http.SslCAFile = args_.caFile;
    // A command line has nobody to ask about a certificate: only the
    // authorities decide (and what the user trusted in the desktop client).
    if (args_.insecure) {
        http.SslVerifyPeer = false;
        std::fputs("tarvik-url: warning: --insecure: the server's certificate is not checked\n", stderr);
    }

    // The document goes to a temporary file beside the target, which takes
    // the target's name only once the whole document has arrived.
    // Only a regular file (or a new one) is replaced that way; a device or
    // a pipe (/dev/null, /dev/stdout) is written directly.
    struct stat target {};
    const bool special = !args_.output.empty() && ::stat(args_.output.c_str(), &target) == 0 &&
                         !S_ISREG(target.st_mode);
    const bool toFile = !args_.output.empty();
    const std::string partName = special ? args_.output : args_.output + ".tarvik-part";
    TFilePtr file;
    std::FILE* out = stdout;
    if (toFile) {
        file.reset(std::fopen(partName.c_str(), "wb"));
        if (!file) {
            std::fprintf(stderr, "tarvik-url: cannot create %s: %s\n", partName.c_str(), std::strerror(errno));
            return 1;
        }
        out = file.get();
    }
    std::string writeError;
    const bool progress = isatty(STDERR_FILENO) == 1 && !args_.head && (toFile || isatty(STDOUT_FILENO) != 1);
    std::unique_ptr<TProgressBar> bar;

    if (args_.verbose) {
        http.OnSessionConnected = [&](THttpCli* c) {
            std::fprintf(stderr, "* Connected for %s\n", Visible(c->Location()).c_str());
            if (!c->SslVersion().empty())
                std::fprintf(stderr, "* TLS: %s, %s; certificate %s, %s\n", c->SslVersion().c_str(),
                             c->SslCipher().c_str(), Visible(c->SslPeerCert().Subject).c_str(),
                             c->SslPeerCert().Verified() ? "verified" : "not verified");
        };
        http.OnCommand = [](THttpCli*, std::string& line) {
            // Credentials are not shown.
            const bool secret = line.rfind("Authorization:", 0) == 0 || line.rfind("Proxy-Authorization:", 0) == 0;
            std::fprintf(stderr, "> %s\n",
                         secret ? (line.substr(0, line.find(':')) + ": ...").c_str() : Visible(line).c_str());
        };
        http.OnHeaderData = [](THttpCli* c) {
            if (!c->RcvdHeader().empty())
                std::fprintf(stderr, "< %s\n", Visible(c->RcvdHeader().back()).c_str());
        };
        http.OnLocationChange = [](THttpCli* c) {
            std::fprintf(stderr, "* Redirected to %s\n", Visible(c->Location()).c_str());
        };
    }
    http.OnDocBegin = [&](THttpCli* c) {
        if (progress)
            bar = std::make_unique<TProgressBar>(stderr, c->ContentLength(), 0);
    };
    http.OnDocData = [&](THttpCli* c, const char* data, std::int64_t len) {
        if (args_.head || !writeError.empty())
            return;
        if (std::fwrite(data, 1, static_cast<std::size_t>(len), out) != static_cast<std::size_t>(len)) {
            writeError = std::strerror(errno);
            c->Abort();
            return;
        }
        if (bar)
            bar->Update(c->RcvdCount());
    };

    QEventLoop loop;
    std::uint16_t doneError = 0;
    bool done = false;
    http.OnRequestDone = [&](THttpCli*, THttpRequest, std::uint16_t error) {
        doneError = error;
        done = true;
        loop.quit();
    };
    try {
        if (args_.head)
            http.HeadASync();
        else
            http.GetASync();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarvik-url: %s\n", e.what());
        return 1;
    }
    if (!done)
        loop.exec();
    if (bar)
        bar->Finish(http.RcvdCount());

    bool ok = doneError == 0 && writeError.empty() && http.StatusCode() >= 200 && http.StatusCode() < 400;
    if (toFile) {
        if (std::fflush(out) != 0 || std::ferror(out) != 0) {
            if (writeError.empty())
                writeError = std::strerror(errno);
            ok = false;
        }
        file.reset();
        if (!special && ok && std::rename(partName.c_str(), args_.output.c_str()) != 0) {
            writeError = std::strerror(errno);
            ok = false;
        }
        if (!special && !ok)
            std::remove(partName.c_str());
    } else {
        std::fflush(stdout);
    }

    if (args_.head) {
        for (const std::string& line : http.RcvdHeader())
            std::printf("%s\n", Visible(line).c_str());
        std::fflush(stdout);
    }
    if (!writeError.empty()) {
        std::fprintf(stderr, "tarvik-url: cannot write %s: %s\n", toFile ? args_.output.c_str() : "the document",
                     writeError.c_str());
        return 1;
    }
    if (doneError != 0) {
        std::fprintf(stderr, "tarvik-url: %s (error %u)\n", Visible(http.ReasonPhrase()).c_str(),
                     static_cast<unsigned>(doneError));
        if (doneError == httperrDocumentIncomplete)
            std::fprintf(stderr, "tarvik-url: the connection closed after %lld of %lld bytes\n",
                         static_cast<long long>(http.RcvdCount()), static_cast<long long>(http.ContentLength()));
        return 1;
    }
    if (!ok) {
        std::fprintf(stderr, "tarvik-url: the server answered %d %s\n", http.StatusCode(),
                     Visible(http.ReasonPhrase()).c_str());
        return 1;
    }
    return 0;
}
