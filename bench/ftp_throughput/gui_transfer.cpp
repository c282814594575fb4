// One file through the main window, the way a user moves it: connect with
// the window's own session fields and OpenSession, then one ReceiveAFile or
// SendAFile with the progress dialog shown. ftp_throughput.py runs it beside
// tarvik-ftp and compares the two.
//
//   tarvik_bench_gui_transfer (get|put) --port N --user U [--host H]
//       [--passive] --remote NAME --local PATH [--size BYTES]
//   The password comes from TARVIK_PASSWORD (or --password).
//
// Prints one line on success:
//   gui_transfer bytes=N transfer_s=S transfer_cpu_s=C process_s=P process_cpu_s=Q
//                progress_events=E progress_s=H label_redraws=R
// transfer_* cover the ReceiveAFile/SendAFile call alone (size query, type,
// dialog and transfer); process_* the whole run from start to disconnect.
// progress_* count the window's progress handler (the dialog's share of the
// transfer) and label_redraws how often the dialog drew its figures.

#include "benchwindow.h"

#include "app/formmain.h"
#include "app/tarvikapplication.h"
#include "dialogs/transfer.h"
#include "dialogs/transferprogress.h"
#include "ftp/ftpclient.h"

#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace benchsupport;

namespace {

struct TOptions {
    bool get = true;
    QString host = QStringLiteral("127.0.0.1");
    QString port;
    QString user;
    QString password;
    bool passive = false;
    QString remote;
    QString local;
    long long size = -1;
};

int Usage(const char* why)
{
    std::fprintf(stderr,
                 "tarvik_bench_gui_transfer: %s\n"
                 "usage: tarvik_bench_gui_transfer (get|put) --port N --user U [--host H] [--password P]\n"
                 "       [--passive] --remote NAME --local PATH [--size BYTES]\n",
                 why);
    return 2;
}

bool ParseOptions(int argc, char** argv, TOptions& options, const char*& why)
{
    if (argc < 2) {
        why = "no command";
        return false;
    }
    const std::string command = argv[1];
    if (command != "get" && command != "put") {
        why = "the command is get or put";
        return false;
    }
    options.get = command == "get";
    if (const char* env = std::getenv("TARVIK_PASSWORD"))
        options.password = QString::fromLocal8Bit(env);
    why = benchsupport::ReadOptions(argc, argv, 2, {"--passive"}, [&](const std::string& arg, const std::string& text) {
        const QString value = QString::fromLocal8Bit(text.c_str());
        if (arg == "--passive")
            options.passive = true;
        else if (arg == "--host")
            options.host = value;
        else if (arg == "--port")
            options.port = value;
        else if (arg == "--user")
            options.user = value;
        else if (arg == "--password")
            options.password = value;
        else if (arg == "--remote")
            options.remote = value;
        else if (arg == "--local")
            options.local = value;
        else if (arg == "--size")
            options.size = value.toLongLong();
        else
            return false;
        return true;
    });
    if (why)
        return false;
    if (options.port.isEmpty() || options.user.isEmpty() || options.remote.isEmpty() || options.local.isEmpty()) {
        why = "--port, --user, --remote and --local are needed";
        return false;
    }
    return true;
}

long long FileSize(const QString& path)
{
    struct stat info {};
    if (stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return info.st_size;
}

// Log lines written since `from` that report a failure.
QStringList ErrorLines(const TFormMain& form, int from)
{
    QStringList errors;
    const QStringList lines = form.Memo1->toPlainText().split(QLatin1Char('\n'));
    for (int i = from; i < lines.size(); ++i) {
        if (lines[i].startsWith(QLatin1String("Error")))
            errors.append(lines[i]);
    }
    return errors;
}

int LineCount(const TFormMain& form) { return form.Memo1->toPlainText().split(QLatin1Char('\n')).size(); }

} // namespace

int main(int argc, char** argv)
{
    const auto processStart = std::chrono::steady_clock::now();
    const double processCpuStart = CpuSeconds();
    TOptions options;
    const char* why = "";
    if (!ParseOptions(argc, argv, options, why))
        return Usage(why);

    // The window keeps its settings and its listing file in places of its
    // own; a run must neither read nor change the user's.
    const TWindowSandbox sandbox;
    if (!sandbox.IsValid())
        return Usage("no temporary folder");

    TTarvikApplication app(argc, argv);
    const TUnattendedRun unattended;
    const TUnattendedPrompts& prompts = unattended.Prompts();

    int status = 1;
    {
        TFormMain form;
        const QString localFolder = QFileInfo(options.local).absolutePath();
        form.SelectFolder(localFolder);
        form.show();
        Settle(100);

        if (OpenWindowSession(form, options.host, options.port, options.user, options.password, options.passive,
                              "tarvik_bench_gui_transfer")) {
            // The window's own handler, timed: what the progress dialog costs
            // the transfer.
            auto handler = form.FTPC1->OnProgress;
            long long progressEvents = 0;
            std::chrono::steady_clock::duration inHandler{};
            int labelRedraws = 0;
            form.FTPC1->OnProgress = [&](TCustomFtpCli* sender, std::int64_t count, bool& abort) {
                const auto begin = std::chrono::steady_clock::now();
                handler(sender, count, abort);
                inHandler += std::chrono::steady_clock::now() - begin;
                ++progressEvents;
                if (const TSendForm* dialog = form.ProgressDialog->Form())
                    labelRedraws = dialog->LabelRefreshes();
            };
            const int logFrom = LineCount(form);
            const double cpuStart = CpuSeconds();
            const auto start = std::chrono::steady_clock::now();
            if (options.get)
                form.ReceiveAFile(options.remote, options.local);
            else
                form.SendAFile(options.local, options.remote);
            const double elapsed = Seconds(std::chrono::steady_clock::now() - start);
            const double cpu = CpuSeconds() - cpuStart;
            form.FTPC1->OnProgress = handler;

            const QStringList errors = ErrorLines(form, logFrom);
            const long long moved = form.FTPC1->ByteCount();
            const long long onDisk = options.get ? FileSize(options.local) : moved;
            const bool sizeOk = options.size < 0 || (moved == options.size && onDisk == options.size);
            if (!errors.isEmpty() || prompts.Notices() != 0 || !sizeOk ||
                !form.FTPC1->LastResponse().starts_with('2')) {
                std::fprintf(stderr, "tarvik_bench_gui_transfer: the transfer failed (%lld bytes moved)\n%s\n", moved,
                             qPrintable(form.Memo1->toPlainText()));
            } else {
                form.Disconnect1Click();
                for (int i = 0; i < 50 && form.IsConnected(); ++i)
                    Settle(20);
                std::printf("gui_transfer bytes=%lld transfer_s=%.6f transfer_cpu_s=%.6f process_s=%.6f "
                            "process_cpu_s=%.6f progress_events=%lld progress_s=%.6f label_redraws=%d\n",
                            moved, elapsed, cpu, Seconds(std::chrono::steady_clock::now() - processStart),
                            CpuSeconds() - processCpuStart, progressEvents, Seconds(inHandler), labelRedraws);
                std::fflush(stdout);
                status = 0;
            }
        }
        if (form.IsConnected())
            form.FTPC1->AbortAsync();
    }
    return status;
}
