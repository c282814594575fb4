// The main window's transfer queue against the same queue driven without a
// window, on one tree, in one run, against a server on 127.0.0.1 that the
// benchmark starts (vsftpd when run as root, else pyftpdlib).
//
//   tarvik_bench_queue_gui [--connections N] [--small N] [--small-size BYTES]
//                          [--big N] [--big-size BYTES] [--rounds N]
//                          [--server vsftpd|pyftpdlib]
//
// Defaults: 4 connections, 2,000 files of 8 KiB in 20 folders plus 20 files
// of 20 MiB, 2 rounds. Each round downloads the tree and uploads it back,
// first through a TTransferRunner alone, then through the window (a remote
// folder chosen in its directory list and "Download Directory" clicked; a
// local folder chosen and "Upload Directory" clicked). The best round of
// each is compared; every run is checked file by file.
//
// Prints one line per direction:
//   queue_gui direction=download files=F bytes=B runner_s=R window_s=W ratio=R/W runner_cpu_s=.. window_cpu_s=..
// ratio is the window's speed relative to the runner's (1.0: the same).
// Run it with TMPDIR=/dev/shm: the trees and the server's folder then live on
// a tmpfs, where creating files does not depend on what was deleted before.

#include "benchwindow.h"

#include "app/formmain.h"
#include "app/listview.h"
#include "app/queuepane.h"
#include "app/tarvikapplication.h"
#include "ftp/ftpclient.h"
#include "support/ftpserver.h"
#include "transfers/transferqueue.h"
#include "transfers/transferrunner.h"

#include <QAction>
#include <QFile>
#include <QPlainTextEdit>
#include <QSettings>

#include <algorithm>
#include <cstdint>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace benchsupport;

namespace {

struct TOptions {
    int connections = 4;
    int small = 2000;
    long long smallSize = 8 * 1024;
    int big = 20;
    long long bigSize = 20ll * 1024 * 1024;
    int rounds = 2;
    std::string server = "vsftpd";
};

bool WaitUntil(const std::function<bool()>& done, int timeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        Settle(5);
    }
    return true;
}

void MakeFile(const std::string& path, long long size, unsigned seed)
{
    // Pseudo-random words, so no two files or blocks are alike.
    std::vector<std::uint64_t> words(std::size_t((size + 7) / 8));
    std::uint64_t state = 0x9E3779B97F4A7C15ull * (seed + 1);
    for (std::uint64_t& w : words) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        w = state;
    }
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(words.data()), std::streamsize(size));
}

void MakeTree(const std::string& root, const TOptions& o)
{
    fs::create_directories(root + "/big");
    for (int f = 0; f < 20; ++f)
        fs::create_directories(root + "/small" + std::to_string(f));
    for (int i = 0; i < o.small; ++i)
        MakeFile(root + "/small" + std::to_string(i % 20) + "/f" + std::to_string(i) + ".bin", o.smallSize,
                 unsigned(i));
    for (int i = 0; i < o.big; ++i)
        MakeFile(root + "/big/b" + std::to_string(i) + ".bin", o.bigSize, unsigned(100000 + i));
}

// Empty when both trees hold the same files with the same sizes and bytes.
std::string Compare(const std::string& a, const std::string& b)
{
    long long count = 0;
    for (const auto& e : fs::recursive_directory_iterator(a)) {
        const fs::path other = fs::path(b) / fs::relative(e.path(), a);
        if (e.is_directory()) {
            if (!fs::is_directory(other))
                return "missing folder " + other.string();
            continue;
        }
        QFile x(QString::fromStdString(e.path().string()));
        QFile y(QString::fromStdString(other.string()));
        if (!x.open(QIODevice::ReadOnly) || !y.open(QIODevice::ReadOnly))
            return "missing " + other.string();
        if (x.size() != y.size() || x.readAll() != y.readAll())
            return "differs: " + other.string();
        ++count;
    }
    return count > 0 ? "" : "nothing compared";
}

struct TMeasure {
    double seconds = 1e30;
    double cpu = 0;
};

void Keep(TMeasure& best, double seconds, double cpu)
{
    if (seconds < best.seconds) {
        best.seconds = seconds;
        best.cpu = cpu;
    }
}

// The queue alone: no window, the runner's own sessions.
bool RunnerRun(TTransferQueue& queue, const TTransferSite& site, const TTransferSettings& settings, double& seconds,
               double& cpu)
{
    TTransferRunner runner(queue, site, settings);
    runner.OnConflict = [](const TConflictQuestion&) {
        TConflictAnswer a;
        a.Action = TConflictAction::Overwrite;
        a.ApplyToAll = true;
        return a;
    };
    bool finished = false;
    bool ok = false;
    runner.OnFinished = [&](bool good) {
        finished = true;
        ok = good;
    };
    const double cpu0 = CpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    runner.Start();
    if (!WaitUntil([&] { return finished; }, 3600 * 1000))
        return false;
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    cpu = CpuSeconds() - cpu0;
    return ok && queue.Totals().Failed == 0 && queue.Totals().Skipped == 0;
}

bool WindowDone(TFormMain& form)
{
    return !form.TransferQueue().HasUnfinished() && form.TransferQueue().Totals().Active == 0 &&
           !form.QueuePane->QueueStop1->isEnabled();
}

int Usage(const char* why)
{
    return benchsupport::Usage("tarvik_bench_queue_gui", why,
                               "[--connections N] [--small N] [--small-size BYTES] [--big N] [--big-size BYTES] "
                               "[--rounds N] [--server vsftpd|pyftpdlib]");
}

} // namespace

int main(int argc, char** argv)
{
    TOptions o;
    const char* why = ReadOptions(argc, argv, 1, {}, [&](const std::string& arg, const std::string& value) {
        if (arg == "--connections")
            o.connections = std::atoi(value.c_str());
        else if (arg == "--small")
            o.small = std::atoi(value.c_str());
        else if (arg == "--small-size")
            o.smallSize = std::atoll(value.c_str());
        else if (arg == "--big")
            o.big = std::atoi(value.c_str());
        else if (arg == "--big-size")
            o.bigSize = std::atoll(value.c_str());
        else if (arg == "--rounds")
            o.rounds = std::max(1, std::atoi(value.c_str()));
        else if (arg == "--server")
            o.server = value;
        else
            return false;
        return true;
    });
    if (why)
        return Usage(why);

    const TWindowSandbox sandbox;
    if (!sandbox.IsValid())
        return Usage("no temporary folder");
    TTarvikApplication app(argc, argv);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, sandbox.ConfigPath());
    const TUnattendedRun unattended;

    std::string whyNot;
    auto server = testsupport::FtpTestServer::Start(o.server == "pyftpdlib"
                                                        ? testsupport::FtpTestServer::Kind::Pyftpdlib
                                                        : testsupport::FtpTestServer::Kind::Vsftpd,
                                                    &whyNot);
    if (!server) {
        std::fprintf(stderr, "tarvik_bench_queue_gui: no %s: %s\n", o.server.c_str(), whyNot.c_str());
        return 1;
    }
    const std::string root = server->Root();
    const std::string tree = root + "/tree";
    MakeTree(tree, o);
    server->Share(tree);
    // vsftpd serves the real paths; pyftpdlib shows its folder as "/".
    const bool realPaths = server->ServerKind() == testsupport::FtpTestServer::Kind::Vsftpd;
    const auto remote = [&](const std::string& path) {
        return realPaths ? path : "/" + fs::relative(path, root).string();
    };
    const std::string work = sandbox.Path().toStdString() + "/work";
    fs::create_directories(work);

    TTransferSite site;
    site.Host = "127.0.0.1";
    site.Port = server->PortText();
    site.User = server->User();
    site.Password = server->Password();
    site.Passive = true;
    TTransferSettings settings;
    settings.Connections = o.connections;
    QSettings(QStringLiteral("Veltrane"), QStringLiteral("Tarvik"))
        .setValue(QStringLiteral("Settings/QueueConnections"), o.connections);

    TMeasure runnerDown, runnerUp, windowDown, windowUp;
    int status = 0;
    {
        TFormMain form;
        form.resize(1000, 700);
        form.show();
        Settle(100);
        if (!OpenWindowSession(form, QStringLiteral("127.0.0.1"), QString::fromStdString(server->PortText()),
                               QString::fromStdString(server->User()), QString::fromStdString(server->Password()), true,
                               "tarvik_bench_queue_gui"))
            return 1;
        const QString home = form.RemoteDir;

        for (int round = 0; round < o.rounds && status == 0; ++round) {
            const std::string tag = std::to_string(round);
            // --- the runner alone ---
            {
                const std::string into = work + "/runner" + tag;
                fs::create_directories(into);
                TTransferQueue queue;
                queue.AddDownload(remote(tree), TTransferKind::Folder, -1, into);
                double s = 0, c = 0;
                if (!RunnerRun(queue, site, settings, s, c) || !Compare(tree, into + "/tree").empty()) {
                    std::fprintf(stderr, "runner download failed: %s\n", Compare(tree, into + "/tree").c_str());
                    status = 1;
                    break;
                }
                Keep(runnerDown, s, c);
                const std::string up = root + "/runnerup" + tag;
                fs::create_directories(up);
                server->Share(up);
                TTransferQueue back;
                back.AddUpload(into + "/tree", remote(up));
                if (!RunnerRun(back, site, settings, s, c) || !Compare(into + "/tree", up + "/tree").empty()) {
                    std::fprintf(stderr, "runner upload failed: %s\n", Compare(into + "/tree", up + "/tree").c_str());
                    status = 1;
                    break;
                }
                Keep(runnerUp, s, c);
                fs::remove_all(into);
                fs::remove_all(up);
            }
            // --- the window ---
            {
                const std::string into = work + "/window" + tag;
                fs::create_directories(into);
                form.TransferQueue().Clear();
                form.SelectFolder(QString::fromStdString(into));
                form.FTPC1->SetHostDirName(home.toStdString());
                form.FTPC1->Cwd();
                form.RequestRemoteListing();
                form.RemoteFiles->ClearSelection();
                form.RemoteDirs->ClearSelection();
                for (int row = 0; row < form.RemoteDirs->Items()->Count(); ++row) {
                    if (TFormMain::ItemName(form.RemoteDirs, row) == QLatin1String("tree"))
                        form.RemoteDirs->SelectRow(row);
                }
                form.SetControls();
                double cpu0 = CpuSeconds();
                auto t0 = std::chrono::steady_clock::now();
                form.DownloadDirectory1->trigger();
                // Timed up to the end of the queue, as the runner is: the
                // comparison below is the benchmark's, not the window's.
                bool finished = WaitUntil([&] { return WindowDone(form); }, 3600 * 1000);
                double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
                double cpu = CpuSeconds() - cpu0;
                if (!finished || form.TransferQueue().Totals().Done != form.TransferQueue().Totals().Items ||
                    !Compare(tree, into + "/tree").empty()) {
                    std::fprintf(stderr, "window download failed: %s\n%s\n", Compare(tree, into + "/tree").c_str(),
                                 qPrintable(form.Memo1->toPlainText().right(3000)));
                    status = 1;
                    break;
                }
                Keep(windowDown, seconds, cpu);

                const std::string up = root + "/windowup" + tag;
                fs::create_directories(up);
                server->Share(up);
                form.TransferQueue().Clear();
                form.FTPC1->SetHostDirName(remote(up));
                form.FTPC1->Cwd();
                form.RequestRemoteListing();
                if (form.RemoteDir != QString::fromStdString(remote(up))) {
                    std::fprintf(stderr, "the window is in %s, not in %s\n", qPrintable(form.RemoteDir),
                                 remote(up).c_str());
                    status = 1;
                    break;
                }
                form.SelectFolder(QString::fromStdString(into + "/tree"));
                cpu0 = CpuSeconds();
                t0 = std::chrono::steady_clock::now();
                form.SendDirectory1->trigger();
                finished = WaitUntil([&] { return WindowDone(form); }, 3600 * 1000);
                seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
                cpu = CpuSeconds() - cpu0;
                if (!finished || form.TransferQueue().Totals().Done != form.TransferQueue().Totals().Items ||
                    !Compare(into + "/tree", up + "/tree").empty()) {
                    std::fprintf(stderr, "window upload failed: %s\n%s\n",
                                 Compare(into + "/tree", up + "/tree").c_str(),
                                 qPrintable(form.Memo1->toPlainText().right(3000)));
                    status = 1;
                    break;
                }
                Keep(windowUp, seconds, cpu);
                fs::remove_all(into);
                fs::remove_all(up);
            }
        }
        form.TransferQueue().Clear();
        if (form.IsConnected())
            form.FTPC1->AbortAsync();
    }
    if (status == 0) {
        const long long files = o.small + o.big;
        const long long bytes = o.small * o.smallSize + o.big * o.bigSize;
        const auto line = [&](const char* direction, const TMeasure& runner, const TMeasure& window) {
            std::printf("queue_gui server=%s connections=%d direction=%s files=%lld bytes=%lld runner_s=%.3f "
                        "window_s=%.3f ratio=%.3f runner_cpu_s=%.3f window_cpu_s=%.3f\n",
                        server->Name().c_str(), o.connections, direction, files, bytes, runner.seconds, window.seconds,
                        runner.seconds / window.seconds, runner.cpu, window.cpu);
        };
        line("download", runnerDown, windowDown);
        line("upload", runnerUp, windowUp);
    }
    return status;
}
