// Pictures of the transfer queue pane while a folder downloads:
//   tarvik_queue_screenshots <output folder>
// Meant for an X display with a window manager (Xvfb + openbox): the window
// is shown, a folder queued through "Download Directory", and the whole
// screen taken with ImageMagick's import on each of the three tabs and with
// the pane's context menu open.
#include "app/formmain.h"
#include "app/listview.h"
#include "app/queuepane.h"
#include "app/tarvikapplication.h"
#include "ui/unattendedprompts.h"
#include "support/ftpserver.h"
#include "transfers/transferqueue.h"

#include <QAction>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QProcess>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

void Settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void MakeFile(const std::string& path, long long size)
{
    std::ofstream out(path, std::ios::binary);
    std::string block(1 << 20, '\0');
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = char((i * 2654435761u) >> 13);
    for (long long left = size; left > 0; left -= static_cast<long long>(block.size()))
        out.write(block.data(), std::streamsize(std::min<long long>(left, static_cast<long long>(block.size()))));
}

void Shoot(const QString& path)
{
    // Long enough to draw; the transfers, which run on this thread, stand
    // still while the picture is taken.
    Settle(120);
    // The screen as X shows it, popup menus included.
    if (QProcess::execute(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), path}) != 0)
        std::fprintf(stderr, "could not take %s\n", qPrintable(path));
    else
        std::printf("%s\n", qPrintable(path));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: tarvik_queue_screenshots <output folder>\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir sandbox;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(sandbox.path() + QStringLiteral("/config")));
    qputenv("TARVIK_HOME", QFile::encodeName(sandbox.path() + QStringLiteral("/home")));
    QDir().mkpath(sandbox.path() + QStringLiteral("/home"));
    QDir().mkpath(out);
    TTarvikApplication app(argc, argv);
    TUnattendedPrompts prompts;
    SetPrompts(&prompts);

    std::string whyNot;
    auto server = testsupport::FtpTestServer::Start(testsupport::FtpTestServer::Kind::Pyftpdlib, &whyNot);
    if (!server) {
        std::fprintf(stderr, "no server: %s\n", whyNot.c_str());
        return 1;
    }
    const std::string tree = server->Root() + "/website";
    QDir().mkpath(QString::fromStdString(tree + "/images"));
    QDir().mkpath(QString::fromStdString(tree + "/videos"));
    for (int i = 0; i < 12; ++i)
        MakeFile(tree + "/images/photo" + std::to_string(i) + ".jpg", 40000 + i * 5000);
    MakeFile(tree + "/index.html", 4200);
    MakeFile(tree + "/clash.bin", 1000);
    for (int i = 0; i < 4; ++i)
        MakeFile(tree + "/videos/clip" + std::to_string(i) + ".mp4", 400ll * 1024 * 1024);
    QTemporaryDir local;
    // A folder where a file should go: that item fails.
    QDir().mkpath(local.path() + QStringLiteral("/website/clash.bin"));

    int status = 0;
    {
        TFormMain form;
        form.resize(1260, 860);
        form.move(0, 0);
        form.show();
        form.SelectFolder(local.path());
        Settle(300);
        form.SiteHost = QStringLiteral("127.0.0.1");
        form.SitePort = QString::fromStdString(server->PortText());
        form.SiteUser = QString::fromStdString(server->User());
        form.SitePassword = QString::fromStdString(server->Password());
        form.SitePassive = true;
        form.OpenSession();
        form.Splitter2->setSizes({220, 220, 380});
        for (int row = 0; row < form.RemoteDirs->Items()->Count(); ++row) {
            if (TFormMain::ItemName(form.RemoteDirs, row) == QLatin1String("website"))
                form.RemoteDirs->SelectRow(row);
        }
        form.SetControls();
        form.DownloadDirectory1->trigger();
        // Until the large files move and the small ones are done.
        for (int i = 0; i < 3000; ++i) {
            const TTransferTotals totals = form.TransferQueue().Totals();
            if (i % 20 == 0)
                std::fprintf(stderr, "active %d done %d bytes %lld\n", totals.Active, totals.Done,
                             static_cast<long long>(totals.BytesDone));
            if (totals.Active >= 2 && totals.Done >= 3 && totals.BytesDone > 20ll * 1024 * 1024)
                break;
            Settle(10);
        }
        TQueuePane* pane = form.QueuePane;
        pane->Tabs->setCurrentIndex(TQueuePane::QueuedTab);
        Settle(300);
        pane->Flush();
        Shoot(out + QStringLiteral("/queue-queued.png"));
        pane->Tabs->setCurrentIndex(TQueuePane::FailedTab);
        pane->Flush();
        Shoot(out + QStringLiteral("/queue-failed.png"));
        pane->Tabs->setCurrentIndex(TQueuePane::DoneTab);
        pane->Flush();
        Shoot(out + QStringLiteral("/queue-successful.png"));
        pane->Tabs->setCurrentIndex(TQueuePane::QueuedTab);
        QTreeWidget* list = pane->Lists[TQueuePane::QueuedTab];
        if (list->topLevelItemCount() > 1) {
            list->topLevelItem(1)->setSelected(true);
            const QPoint at = list->visualItemRect(list->topLevelItem(1)).center();
            emit list->customContextMenuRequested(at);
            Shoot(out + QStringLiteral("/queue-menu.png"));
            pane->PopQueue->close();
        } else {
            status = 1;
        }
        std::fprintf(stderr, "%s\n", qPrintable(form.Memo1->toPlainText().right(2500)));
        pane->QueueStop1->trigger();
        form.TransferQueue().Clear();
    }
    SetPrompts(nullptr);
    return status;
}
