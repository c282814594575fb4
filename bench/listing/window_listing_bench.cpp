// How long the main window takes to show a remote folder of many entries:
// from the double-click on the folder in the remote directory list to the
// filled panes, against vsftpd (LIST) and pyftpdlib on 127.0.0.1, beside
// curl (LIST) and `lftp -e 'cls -1'` listing the same folder in the same run.
//
//   tarvik_bench_window_listing [--entries N] [--rounds N] [--server vsftpd|pyftpdlib|both]
//
// Defaults: 100,000 entries, 3 rounds, both servers. Prints one line per
// server with the median seconds of each client and the window's speed
// relative to each reference (above 1.0: the window is faster):
//   window_listing server=S entries=N window_s=W curl_s=C lftp_s=L vs_curl=C/W vs_lftp=L/W

#include "benchwindow.h"

#include "app/formmain.h"
#include "app/listview.h"
#include "app/tarvikapplication.h"
#include "ftp/ftpclient.h"
#include "support/ftpserver.h"

#include <QDir>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTest>
#include <QTreeView>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using benchsupport::Seconds;
using benchsupport::Settle;
using Clock = std::chrono::steady_clock;

struct TOptions {
    int entries = 100000;
    int rounds = 3;
    std::string server = "both";
};

bool WaitUntil(const std::function<bool()>& done, int timeoutMs)
{
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() > end)
            return false;
        Settle(2);
    }
    return true;
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool MakeEntries(const std::string& folder, int count)
{
    if (!QDir().mkpath(QString::fromStdString(folder)))
        return false;
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/file-%06d.txt", i);
        const int fd = ::open((folder + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0)
            return false;
        ::close(fd);
    }
    return true;
}

// Seconds one reference client takes to list the folder, or a negative
// value when it failed or printed fewer lines than the folder holds.
double TimeClient(const QString& program, const QStringList& args, int entries)
{
    QProcess process;
    const auto start = Clock::now();
    process.start(program, args);
    if (!process.waitForStarted(10000) || !process.waitForFinished(300000))
        return -1;
    const double seconds = Seconds(Clock::now() - start);
    const int lines = int(process.readAllStandardOutput().count('\n'));
    if (process.exitCode() != 0 || lines < entries)
        return -1;
    return seconds;
}

int RowOf(TListView* list, const QString& name)
{
    for (int row = 0; row < list->Items()->Count(); ++row) {
        if (TFormMain::ItemName(list, row) == name)
            return row;
    }
    return -1;
}

void DoubleClick(TListView* list, int row)
{
    QTreeView* view = list->ReportView();
    const QModelIndex index = view->model()->index(row, 0);
    view->scrollTo(index);
    const QPoint at = view->visualRect(index).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
}

// The window's seconds from the double-click on "big" to a file list of
// `entries` rows; negative on failure.
double TimeWindow(TFormMain& form, const QString& home, int entries)
{
    form.FTPC1->SetHostDirName(home.toStdString());
    form.FTPC1->Cwd();
    form.RequestRemoteListing();
    const int row = RowOf(form.RemoteDirs, QStringLiteral("big"));
    if (row < 0) {
        std::fprintf(stderr, "no folder \"big\" in %s\n", qPrintable(form.RemoteDir));
        return -1;
    }
    const auto start = Clock::now();
    DoubleClick(form.RemoteDirs, row);
    if (!WaitUntil([&] { return form.RemoteFiles->Items()->Count() >= entries; }, 600000))
        return -1;
    return Seconds(Clock::now() - start);
}

int RunServer(testsupport::FtpTestServer::Kind kind, const TOptions& o)
{
    std::string whyNot;
    auto server = testsupport::FtpTestServer::Start(kind, &whyNot);
    if (!server) {
        std::fprintf(stderr, "tarvik_bench_window_listing: no %s: %s\n",
                     testsupport::FtpTestServer::KindName(kind).c_str(), whyNot.c_str());
        return 1;
    }
    const std::string big = server->Root() + "/big";
    if (!MakeEntries(big, o.entries)) {
        std::fprintf(stderr, "cannot create the entries in %s\n", big.c_str());
        return 1;
    }
    server->Share(big);
    const QString url = QStringLiteral("ftp://%1:%2@127.0.0.1:%3")
                            .arg(QString::fromStdString(server->User()), QString::fromStdString(server->Password()),
                                 QString::fromStdString(server->PortText()));

    TFormMain form;
    form.resize(1000, 700);
    form.show();
    Settle(100);
    if (!benchsupport::OpenWindowSession(form, QStringLiteral("127.0.0.1"), QString::fromStdString(server->PortText()),
                                         QString::fromStdString(server->User()),
                                         QString::fromStdString(server->Password()), true,
                                         "tarvik_bench_window_listing"))
        return 1;
    const QString home = form.RemoteDir;

    std::vector<double> window, curl, lftp;
    for (int round = 0; round < o.rounds; ++round) {
        const double w = TimeWindow(form, home, o.entries);
        const double c = TimeClient(QStringLiteral("curl"), {QStringLiteral("-s"), url + QStringLiteral("/big/")},
                                    o.entries);
        const double l = TimeClient(
            QStringLiteral("lftp"),
            {QStringLiteral("-e"), QStringLiteral("set ftp:passive-mode on; cls -1 big; quit"), url}, o.entries);
        if (w < 0 || c < 0 || l < 0) {
            std::fprintf(stderr, "round %d failed: window %.3f curl %.3f lftp %.3f\n%s\n", round, w, c, l,
                         qPrintable(form.Memo1->toPlainText().right(2000)));
            return 1;
        }
        window.push_back(w);
        curl.push_back(c);
        lftp.push_back(l);
    }
    const double w = Median(window);
    const double c = Median(curl);
    const double l = Median(lftp);
    std::printf("window_listing server=%s entries=%d window_s=%.3f curl_s=%.3f lftp_s=%.3f vs_curl=%.2f "
                "vs_lftp=%.2f\n",
                server->Name().c_str(), o.entries, w, c, l, c / w, l / w);
    std::fflush(stdout);
    if (form.IsConnected())
        form.FTPC1->AbortAsync();
    return 0;
}

int Usage(const char* why)
{
    return benchsupport::Usage("tarvik_bench_window_listing", why,
                               "[--entries N] [--rounds N] [--server vsftpd|pyftpdlib|both]");
}

} // namespace

int main(int argc, char** argv)
{
    TOptions o;
    const char* why = benchsupport::ReadOptions(argc, argv, 1, {},
                                                [&](const std::string& arg, const std::string& value) {
                                                    if (arg == "--entries")
                                                        o.entries = std::max(1, std::atoi(value.c_str()));
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
    if (o.server != "vsftpd" && o.server != "pyftpdlib" && o.server != "both")
        return Usage("unknown server");

    const benchsupport::TWindowSandbox sandbox;
    if (!sandbox.IsValid())
        return Usage("no temporary folder");
    TTarvikApplication app(argc, argv);
    const benchsupport::TUnattendedRun unattended;

    int status = 0;
    if (o.server != "pyftpdlib")
        status |= RunServer(testsupport::FtpTestServer::Kind::Vsftpd, o);
    if (o.server != "vsftpd")
        status |= RunServer(testsupport::FtpTestServer::Kind::Pyftpdlib, o);
    return status;
}
