// Soak: many connect / list / download / upload / disconnect cycles through
// one TFtpClient (as the main window holds one for its whole life) against
// pyftpdlib on 127.0.0.1. Prints the cycles done, the failures, and the open
// descriptors and memory at the start, after a warm-up and at the end.
//
// Usage: soak_ftp [--cycles N] [--verbose]

#include "ftp/ftpclient.h"
#include "support/ftpserver.h"
#include "support/procstats.h"
#include "support/testfiles.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <string>

#include <stdlib.h>

#if defined(__SANITIZE_ADDRESS__)
// Freed blocks held back by the sanitizer would show as resident memory and
// hide the program's own growth; a small quarantine still catches
// use-after-free within a cycle.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16:detect_leaks=1"; }
#endif

namespace {

constexpr int WarmUpCycles = 10;
constexpr double MiB = 1024.0 * 1024.0;

using testsupport::RandomBytes;
using testsupport::ReadFile;
using testsupport::WriteFile;

struct Figures {
    int fds = 0;
    std::int64_t resident = 0;
    std::int64_t heap = 0;
};

Figures Measure()
{
    return {testsupport::OpenDescriptors(), testsupport::ResidentBytes(), testsupport::LiveHeapBytes()};
}

class Soak {
public:
    Soak(testsupport::FtpTestServer& server, const std::string& work, bool verbose)
        : server_(server), work_(work), verbose_(verbose)
    {
        download_ = RandomBytes(256 * 1024, 1);
        upload_ = RandomBytes(192 * 1024, 2);
        WriteFile(server_.Root() + "/soak-down.bin", download_);
        WriteFile(work_ + "/upload.bin", upload_);
        ftp_.SetHostName("127.0.0.1");
        ftp_.SetPort(server_.PortText());
        ftp_.SetUserName(server_.User());
        ftp_.SetPassWord(server_.Password());
        ftp_.SetTimeout(15);
    }

    // One cycle; an empty text means success.
    std::string Cycle(int n)
    {
        ftp_.SetPassive(n % 2 == 0);
        if (!ftp_.Connect())
            return Failed("connect");
        if (!ftp_.TypeBinary())
            return Failed("type");

        const std::string listing = work_ + "/listing.txt";
        ftp_.SetHostFileName("");
        ftp_.SetLocalFileName(listing);
        if (!ftp_.Dir())
            return Failed("list");
        if (ReadFile(listing).find("soak-down.bin") == std::string::npos)
            return Failed("list (soak-down.bin missing)");

        const std::string local = work_ + "/download.bin";
        ftp_.SetHostFileName("soak-down.bin");
        ftp_.SetLocalFileName(local);
        if (!ftp_.Get())
            return Failed("download");
        if (ReadFile(local) != download_)
            return Failed("download (content differs)");

        ftp_.SetHostFileName("soak-up.bin");
        ftp_.SetLocalFileName(work_ + "/upload.bin");
        if (!ftp_.Put())
            return Failed("upload");
        if (ReadFile(server_.Root() + "/soak-up.bin") != upload_)
            return Failed("upload (content differs)");

        if (!ftp_.Quit())
            return Failed("quit");
        if (ftp_.Connected())
            return Failed("quit (still connected)");
        return {};
    }

private:
    std::string Failed(const std::string& step)
    {
        std::string why = step + ": " + ftp_.ErrorMessage() + " / " + ftp_.LastResponse();
        // Leave a clean client for the next cycle.
        if (ftp_.Connected() || ftp_.State() != ftpReady)
            ftp_.Abort();
        if (verbose_)
            std::fprintf(stderr, "%s\n", why.c_str());
        return why;
    }

    testsupport::FtpTestServer& server_;
    const std::string work_;
    const bool verbose_;
    std::string download_;
    std::string upload_;
    TFtpClient ftp_;
};

void Print(const char* label, const Figures& f)
{
    std::printf("%-22s descriptors %4d   resident %8.2f MiB   heap %8.2f MiB\n", label, f.fds, f.resident / MiB,
                f.heap / MiB);
}

} // namespace

int main(int argc, char** argv)
{
    int cycles = 1000;
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--cycles") == 0 && i + 1 < argc) {
            cycles = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--verbose") == 0) {
            verbose = true;
        } else {
            std::fprintf(stderr, "usage: %s [--cycles N] [--verbose]\n", argv[0]);
            return 2;
        }
    }
    if (cycles < 1) {
        std::fprintf(stderr, "--cycles needs a positive number\n");
        return 2;
    }

    QCoreApplication app(argc, argv);
    std::string whyNot;
    auto server = testsupport::FtpTestServer::Start(testsupport::FtpTestServer::Kind::Pyftpdlib, &whyNot);
    if (!server) {
        std::fprintf(stderr, "cannot start pyftpdlib: %s\n", whyNot.c_str());
        return 2;
    }
    const testsupport::TempDir workDir;
    const std::string& work = workDir.Path();
    if (work.empty()) {
        std::fprintf(stderr, "cannot create a work folder\n");
        return 2;
    }

    int failures = 0;
    int done = 0;
    std::string firstFailure;
    Figures start;
    Figures warm;
    Figures end;
    {
        Soak soak(*server, work, verbose);
        start = Measure();
        warm = start;
        for (int n = 0; n < cycles; ++n) {
            const std::string why = soak.Cycle(n);
            ++done;
            if (!why.empty()) {
                ++failures;
                if (firstFailure.empty())
                    firstFailure = "cycle " + std::to_string(n + 1) + ": " + why;
            }
            if (n + 1 == std::min(WarmUpCycles, cycles))
                warm = Measure();
            if (verbose && (n + 1) % 100 == 0)
                std::fprintf(stderr, "%d cycles, %d failures\n", n + 1, failures);
        }
        end = Measure();
    }
    server.reset();

    std::printf("cycles done            %d\n", done);
    std::printf("failures               %d\n", failures);
    if (!firstFailure.empty())
        std::printf("first failure          %s\n", firstFailure.c_str());
    Print("at the start", start);
    Print("after warm-up", warm);
    Print("at the end", end);
    const double growth = (end.resident - warm.resident) / MiB;
    std::printf("descriptor growth      %d (from the start), %d (from the warm-up)\n", end.fds - start.fds,
                end.fds - warm.fds);
    std::printf("resident growth        %.2f MiB (from the start), %.2f MiB (from the warm-up)\n",
                (end.resident - start.resident) / MiB, growth);
    std::printf("heap growth            %.2f MiB (from the start), %.2f MiB (from the warm-up)\n",
                (end.heap - start.heap) / MiB, (end.heap - warm.heap) / MiB);
    const bool ok = failures == 0 && end.fds <= start.fds && growth < 5.0;
    std::printf("verdict                %s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
