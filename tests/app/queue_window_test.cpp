// The transfer queue in the main window, driven the way a user drives it:
// rows clicked, context menus opened with the mouse and their items
// clicked, questions answered through the prompts interface; against
// pyftpdlib and vsftpd on 127.0.0.1.
#include "sessionfixture.h"

#include "app/queuepane.h"
#include "app/queuesettingsform.h"
#include "support/eventwait.h"
#include "transfers/transferqueue.h"
#include "transfertestutil.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QRegularExpression>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTimer>
#include <QTabWidget>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>

#include <algorithm>
#include <cstring>
#include <functional>
#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

using namespace sessiontest;

namespace {

QPoint RowCentre(TListView* list, const QString& caption)
{
    const QModelIndex index = RowIndex(list, caption);
    EXPECT_TRUE(index.isValid()) << caption.toStdString() << " in " << Captions(list).join('|').toStdString();
    QTreeView* view = list->ReportView();
    view->scrollTo(index);
    return view->visualRect(index).center();
}

void ClickRow(TListView* list, const QString& caption)
{
    QTest::mouseClick(list->ReportView()->viewport(), Qt::LeftButton, {}, RowCentre(list, caption));
}

void DoubleClickRow(TListView* list, const QString& caption)
{
    const QPoint at = RowCentre(list, caption);
    QTest::mouseClick(list->ReportView()->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->ReportView()->viewport(), Qt::LeftButton, {}, at);
}

// The context menu request a right click at `pos` of a view's viewport
// makes.
void RightClick(QWidget* viewport, const QPoint& pos)
{
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, viewport->mapToGlobal(pos));
    QApplication::sendEvent(viewport, &event);
}

// Clicks `action` in the popup `menu`, which must be open with the item
// enabled.
void ClickMenuItem(QMenu* menu, QAction* action)
{
    ASSERT_TRUE(testsupport::WaitFor([menu] { return menu->isVisible(); }, 3000)) << menu->objectName().toStdString();
    ASSERT_TRUE(action->isEnabled()) << action->objectName().toStdString();
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
    testsupport::WaitFor([menu] { return !menu->isVisible(); }, 3000);
}

QString Std(const std::string& s) { return QString::fromStdString(s); }

// Established TCP connections whose local end is `port` on 127.0.0.1: the
// control sessions a server on that port holds right now.
int ServerSessions(const std::string& port)
{
    char wanted[16];
    std::snprintf(wanted, sizeof wanted, "0100007F:%04X", unsigned(std::stoul(port)));
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line); // the heading
    int count = 0;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        count += local == wanted && state == "01" ? 1 : 0;
    }
    return count;
}

// Types `text` over the whole value of a spin box, as a user does.
void Retype(QSpinBox* box, const QString& text)
{
    box->setFocus();
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClicks(box, text);
}

// A large file quickly: one pseudo-random mebibyte, each copy marked with
// its number so no two blocks are alike.
void MakeLargeFile(const std::string& path, std::int64_t size, int seed)
{
    QByteArray block = Pattern(1 << 20, seed);
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    for (std::int64_t done = 0, n = 0; done < size; done += block.size(), ++n) {
        std::memcpy(block.data(), &n, sizeof n);
        ASSERT_EQ(file.write(block.constData(), std::min<std::int64_t>(block.size(), size - done)),
                  std::min<std::int64_t>(block.size(), size - done));
    }
}

class QueueWindowTest : public SessionTest {
protected:
    void SetUp() override
    {
        SetConnections(2);
        QFile::remove(QueueFile());
        SessionTest::SetUp();
        if (HasFatalFailure())
            return;
        ShowForm();
    }

    void TearDown() override
    {
        SessionTest::TearDown();
        QFile::remove(QueueFile());
        QSettings(QStringLiteral("Veltrane"), QStringLiteral("Tarvik")).remove(QStringLiteral("Settings"));
    }

    static QString QueueFile() { return QString::fromLocal8Bit(qgetenv("TARVIK_HOME")) + "/TransferQueue.json"; }

    static void SetConnections(int n)
    {
        QSettings store(QStringLiteral("Veltrane"), QStringLiteral("Tarvik"));
        store.setValue(QStringLiteral("Settings/QueueConnections"), n);
    }

    void ShowForm()
    {
        form->resize(1000, 760);
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }

    TQueuePane* Pane() const { return form->QueuePane; }
    QTreeWidget* List(TQueuePane::Tab tab) const { return Pane()->Lists[tab]; }

    // Waits until the queue has nothing left to run and its runner stopped.
    bool WaitQueueDone(int timeoutMs = 120000)
    {
        return testsupport::WaitFor(
            [this] { return !form->TransferQueue().HasUnfinished() && !Pane()->QueueStop1->isEnabled(); }, timeoutMs);
    }

    // Right-clicks folder `name` in the remote directories and chooses
    // "Download Directory"; the folder question is answered with Yes.
    void DownloadRemoteFolder(const QString& name)
    {
        ClickRow(form->RemoteDirs, name);
        prompts.AnswerQuestion(QMessageBox::Yes);
        RightClick(form->RemoteDirs->ReportView()->viewport(), RowCentre(form->RemoteDirs, name));
        ClickMenuItem(form->PopRemoteDir, form->DownloadDirectory1);
    }

    // The queue pane's context menu on the first row of `tab`, then `action`.
    void QueueCommand(TQueuePane::Tab tab, QAction* action, int row = 0)
    {
        Pane()->Tabs->setCurrentIndex(tab);
        QTreeWidget* list = List(tab);
        Pane()->Flush();
        ASSERT_GT(list->topLevelItemCount(), row);
        const QRect rect = list->visualItemRect(list->topLevelItem(row));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
        RightClick(list->viewport(), rect.center());
        ClickMenuItem(Pane()->PopQueue, action);
    }

    // Opens Options > "Transfer Queue Settings..." and lets `drive` work
    // the dialog while it is open; the dialog is closed afterwards if
    // `drive` left it open. Returns what exec() returned.
    int WithQueueSettings(const std::function<void(TFormQueueSettings*)>& drive)
    {
        int shown = 0;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<TFormQueueSettings*>(QApplication::activeModalWidget());
            EXPECT_TRUE(dialog);
            if (!dialog)
                return;
            ++shown;
            drive(dialog);
            if (dialog->isVisible())
                dialog->reject();
        });
        QAction* const item = form->QueueSettings1;
        EXPECT_TRUE(form->Options1->actions().contains(item));
        item->trigger();
        EXPECT_EQ(shown, 1);
        return shown;
    }

    static QVariant Stored(const char* key)
    {
        return QSettings(QStringLiteral("Veltrane"), QStringLiteral("Tarvik"))
            .value(QStringLiteral("Settings/") + QLatin1String(key));
    }

    // Names shown in a tab's first column.
    QStringList Names(TQueuePane::Tab tab) const
    {
        Pane()->Flush();
        QStringList names;
        for (int i = 0; i < List(tab)->topLevelItemCount(); ++i)
            names << List(tab)->topLevelItem(i)->text(TQueuePane::NameColumn);
        return names;
    }
};

TEST_F(QueueWindowTest, FolderTreesGoDownAndUpThroughTheQueueAndArriveWhole)
{
    StartServer();
    transfertest::TreeShape shape;
    shape.Folders = 8;
    shape.Files = 60;
    shape.Big = 3 * 1024 * 1024;
    shape.Medium = 700 * 1024;
    transfertest::MakeTree(server->Root() + "/tree", shape);
    QuickConnect(true);

    DownloadRemoteFolder(QStringLiteral("tree"));
    EXPECT_EQ(prompts.Unexpected(), 0);
    ASSERT_TRUE(WaitQueueDone()) << transfertest::Unfinished(form->TransferQueue());
    EXPECT_EQ(transfertest::CompareTrees(server->Root() + "/tree", local.filePath("tree").toStdString()), "");
    EXPECT_TRUE(Names(TQueuePane::FailedTab).isEmpty()) << Names(TQueuePane::FailedTab).join('\n').toStdString();
    // Every file and folder of the tree, and the tree itself, succeeded.
    EXPECT_EQ(Names(TQueuePane::DoneTab).size(), shape.Files + shape.Folders + 1);
    EXPECT_TRUE(Names(TQueuePane::QueuedTab).isEmpty());
    EXPECT_TRUE(form->StatusQueue->text().contains(QStringLiteral("100%"))) << form->StatusQueue->text().toStdString();

    // The same tree back up, into another remote folder, from the local tree.
    ASSERT_TRUE(QDir().mkpath(Remote(QStringLiteral("up"))));
    form->RefreshRemoteListing1->trigger();
    DoubleClickRow(form->RemoteDirs, QStringLiteral("up"));
    ASSERT_TRUE(testsupport::WaitFor([this] { return form->RemoteDir.endsWith(QStringLiteral("/up")); }, 5000));
    ASSERT_TRUE(form->SelectFolder(local.filePath(QStringLiteral("tree"))));
    prompts.Clear();
    form->SendDirectory1->trigger();
    ASSERT_TRUE(WaitQueueDone()) << transfertest::Unfinished(form->TransferQueue());
    EXPECT_EQ(prompts.Unexpected(), 0);
    EXPECT_EQ(transfertest::CompareTrees(local.filePath("tree").toStdString(), server->Root() + "/up/tree"), "");
    // The remote pane was listed again once the queue had finished.
    ASSERT_TRUE(
        testsupport::WaitFor([this] { return RowIndex(form->RemoteDirs, QStringLiteral("tree")).isValid(); }, 5000));

    // Again: the targets exist now. One same-name question for the whole
    // batch, answered "skip" for all of them: nothing is touched.
    WriteFile(local.filePath(QStringLiteral("tree/changed.bin")), "local only");
    const QString aFile = Std(server->Root()) + "/up/tree/changed.bin";
    WriteFile(aFile, "remote copy");
    prompts.Clear();
    prompts.AnswerSameName(TSameNameAnswer::Skip, true);
    form->SendDirectory1->trigger();
    ASSERT_TRUE(WaitQueueDone()) << transfertest::Unfinished(form->TransferQueue());
    int asked = 0;
    for (const auto& record : prompts.Records())
        asked += record.kind == QLatin1String("samename") ? 1 : 0;
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(ReadAll(aFile), QByteArray("remote copy"));
    EXPECT_EQ(prompts.Unexpected(), 0);
}

TEST_F(QueueWindowTest, TheQueueIsSavedOnExitOfferedAtTheNextStartAndResumed)
{
    SetConnections(1);
    StartServer();
    transfertest::TreeShape shape;
    shape.Folders = 4;
    shape.Files = 30;
    shape.Big = 2 * 1024 * 1024;
    shape.Medium = 300 * 1024;
    transfertest::MakeTree(server->Root() + "/saved", shape);
    QuickConnect(true);

    DownloadRemoteFolder(QStringLiteral("saved"));
    // Stopped at once: the queue holds the folder, not yet listed.
    QueueCommand(TQueuePane::QueuedTab, Pane()->QueueStop1);
    EXPECT_FALSE(Pane()->QueueStop1->isEnabled());
    ASSERT_TRUE(form->TransferQueue().HasUnfinished());

    // Closing asks about the queue, then about the connection.
    prompts.Clear();
    prompts.AnswerQuestion(QMessageBox::Yes);
    prompts.AnswerQuestion(QMessageBox::Yes);
    form->Exit1->trigger();
    EXPECT_FALSE(form->isVisible());
    ASSERT_GE(prompts.Records().size(), 2);
    EXPECT_TRUE(prompts.Records()[0].text.contains(QStringLiteral("transfer queue")))
        << prompts.Records()[0].text.toStdString();
    ASSERT_TRUE(QFileInfo::exists(QueueFile()));
    form.reset();

    // A new window offers the queue; the same site connected resumes it.
    prompts.Clear();
    prompts.AnswerQuestion(QMessageBox::Yes);
    form = std::make_unique<TFormMain>();
    ASSERT_TRUE(form->SelectFolder(local.path()));
    ShowForm();
    ASSERT_TRUE(testsupport::WaitFor([this] { return form->TransferQueue().HasUnfinished(); }, 5000));
    ASSERT_EQ(prompts.Records().size(), 1);
    EXPECT_EQ(prompts.Records()[0].caption, QStringLiteral("Transfer Queue"));
    EXPECT_FALSE(Names(TQueuePane::QueuedTab).isEmpty());
    QuickConnect(true);
    ASSERT_TRUE(WaitQueueDone()) << transfertest::Unfinished(form->TransferQueue()) << LogText(*form).toStdString();
    EXPECT_EQ(transfertest::CompareTrees(server->Root() + "/saved", local.filePath("saved").toStdString()), "");
    EXPECT_TRUE(Names(TQueuePane::FailedTab).isEmpty());
    EXPECT_EQ(prompts.Unexpected(), 0);

    // Closing with the queue done asks nothing about it and leaves no file.
    prompts.Clear();
    prompts.AnswerQuestion(QMessageBox::Yes);
    form->Exit1->trigger();
    EXPECT_FALSE(QFileInfo::exists(QueueFile()));
    EXPECT_EQ(prompts.Unexpected(), 0);
}

TEST_F(QueueWindowTest, BrowsingWorksWhileTwoTransfersRun)
{
    // The faulty server sends "slow-" files at a fixed pace, so both
    // transfers still run while the browsing happens on any machine.
    StartServer(testsupport::FtpTestServer::Kind::FaultyPyftpdlib);
    ASSERT_TRUE(QDir().mkpath(Remote(QStringLiteral("big"))));
    ASSERT_TRUE(QDir().mkpath(Remote(QStringLiteral("elsewhere/inner"))));
    WriteFile(Remote(QStringLiteral("elsewhere/note.txt")), "note");
    const std::int64_t size = 8ll * 1024 * 1024;
    MakeLargeFile(server->Root() + "/big/slow-one.bin", size, 1);
    MakeLargeFile(server->Root() + "/big/slow-two.bin", size, 2);
    QuickConnect(true);

    DownloadRemoteFolder(QStringLiteral("big"));
    ASSERT_TRUE(testsupport::WaitFor(
        [this] {
            const TTransferTotals totals = form->TransferQueue().Totals();
            return totals.Active == 2 && totals.BytesDone > 0;
        },
        30000))
        << LogText(*form).toStdString();

    // CWD and LIST on the browsing session while both files move.
    const QString log = LogText(*form);
    DoubleClickRow(form->RemoteDirs, QStringLiteral("elsewhere"));
    ASSERT_TRUE(testsupport::WaitFor([this] { return form->RemoteDir.endsWith(QStringLiteral("/elsewhere")); }, 5000));
    EXPECT_EQ(Captions(form->RemoteFiles), QStringList{QStringLiteral("note.txt")});
    EXPECT_TRUE(RowIndex(form->RemoteDirs, QStringLiteral("inner")).isValid());
    EXPECT_EQ(form->TransferQueue().Totals().Active, 2) << "the transfers ended before the browsing did";
    EXPECT_FALSE(LogText(*form).mid(log.size()).contains(QStringLiteral("not ready")));

    ASSERT_TRUE(WaitQueueDone()) << transfertest::Unfinished(form->TransferQueue());
    EXPECT_EQ(transfertest::CompareTrees(server->Root() + "/big", local.filePath("big").toStdString()), "");
}

TEST_F(QueueWindowTest, ARefusedFileIsAFailureWithTheServersTextNeverASuccess)
{
    std::string whyNot;
    server = testsupport::FtpTestServer::Start(testsupport::FtpTestServer::Kind::Vsftpd, &whyNot);
    if (!server)
        GTEST_SKIP() << whyNot;
    const std::string dir = server->Root() + "/mixed";
    ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
    transfertest::MakeFile(dir + "/fine.bin", 5000, 3);
    transfertest::MakeFile(dir + "/locked.bin", 7000, 4);
    server->Share(dir);
    server->Share(dir + "/fine.bin");
    // Owned by root and readable by nobody: the server's user cannot open it.
    ASSERT_EQ(::chown((dir + "/locked.bin").c_str(), 0, 0), 0);
    ASSERT_EQ(::chmod((dir + "/locked.bin").c_str(), 0), 0);
    QuickConnect(true);

    DownloadRemoteFolder(QStringLiteral("mixed"));
    ASSERT_TRUE(WaitQueueDone()) << transfertest::Unfinished(form->TransferQueue());
    const QStringList failed = Names(TQueuePane::FailedTab);
    ASSERT_EQ(failed.size(), 1) << failed.join('\n').toStdString();
    EXPECT_TRUE(failed.front().endsWith(QStringLiteral("/mixed/locked.bin")));
    const QString status = List(TQueuePane::FailedTab)->topLevelItem(0)->text(TQueuePane::StatusColumn);
    EXPECT_TRUE(status.startsWith(QStringLiteral("550"))) << status.toStdString();
    for (const QString& name : Names(TQueuePane::DoneTab))
        EXPECT_FALSE(name.endsWith(QStringLiteral("locked.bin"))) << name.toStdString();
    EXPECT_TRUE(Names(TQueuePane::DoneTab).join('|').contains(QStringLiteral("/mixed/fine.bin")));
    EXPECT_TRUE(form->StatusPanel1->text().contains(QStringLiteral("failed")))
        << form->StatusPanel1->text().toStdString();

    // Retry from the failed tab: refused again, and failed again.
    QueueCommand(TQueuePane::FailedTab, Pane()->QueueRetry1);
    ASSERT_TRUE(WaitQueueDone()) << transfertest::Unfinished(form->TransferQueue());
    EXPECT_EQ(Names(TQueuePane::FailedTab).size(), 1);
    // Removed from the failed tab, it is gone from the queue.
    QueueCommand(TQueuePane::FailedTab, Pane()->QueueRemove1);
    EXPECT_TRUE(Names(TQueuePane::FailedTab).isEmpty());
}

TEST_F(QueueWindowTest, MoveToTopAndRemoveReorderTheWaitingItems)
{
    StartServer();
    for (const char* name : {"a", "b", "c"}) {
        ASSERT_TRUE(QDir().mkpath(Remote(QString::fromLatin1(name))));
        transfertest::MakeFile(server->Root() + "/" + name + "/f.bin", 1000, 5);
    }
    QuickConnect(true);
    // Three folders queued one after the other, the queue stopped at once.
    for (const char* name : {"a", "b", "c"}) {
        DownloadRemoteFolder(QString::fromLatin1(name));
        QueueCommand(TQueuePane::QueuedTab, Pane()->QueueStop1);
    }
    // The folders' rows (a session may have listed one before the stop).
    const QString root = form->RemoteDir == QLatin1String("/") ? QString() : form->RemoteDir;
    const auto folders = [this] {
        return Names(TQueuePane::QueuedTab).filter(QRegularExpression(QStringLiteral("/$")));
    };
    const auto rowOf = [this](const QString& name) { return int(Names(TQueuePane::QueuedTab).indexOf(name)); };
    EXPECT_EQ(folders(), (QStringList{root + "/a/", root + "/b/", root + "/c/"}));
    QueueCommand(TQueuePane::QueuedTab, Pane()->QueueMoveToTop1, rowOf(root + "/c/"));
    EXPECT_EQ(folders(), (QStringList{root + "/c/", root + "/a/", root + "/b/"}));
    QueueCommand(TQueuePane::QueuedTab, Pane()->QueueRemove1, rowOf(root + "/a/"));
    EXPECT_EQ(folders(), (QStringList{root + "/c/", root + "/b/"}));
    QueueCommand(TQueuePane::QueuedTab, Pane()->QueueStart1);
    ASSERT_TRUE(WaitQueueDone()) << transfertest::Unfinished(form->TransferQueue());
    EXPECT_TRUE(QFileInfo::exists(local.filePath(QStringLiteral("c/f.bin"))));
    EXPECT_TRUE(QFileInfo::exists(local.filePath(QStringLiteral("b/f.bin"))));
    EXPECT_FALSE(QFileInfo::exists(local.filePath(QStringLiteral("a"))));
}

TEST_F(QueueWindowTest, TheSettingsDialogSetsTheSessionsAndRetriesOfTheNextRun)
{
    // Slow files keep every session busy at once, so the number of
    // sessions shows on the server; a "close-" file breaks off once.
    StartServer(testsupport::FtpTestServer::Kind::FaultyPyftpdlib);
    ASSERT_TRUE(QDir().mkpath(Remote(QStringLiteral("slow"))));
    for (int i = 0; i < 5; ++i)
        MakeLargeFile(server->Root() + "/slow/slow-" + std::to_string(i) + ".bin", 1024 * 1024, i);
    ASSERT_TRUE(QDir().mkpath(Remote(QStringLiteral("broken"))));
    transfertest::MakeFile(server->Root() + "/broken/close-a.bin", 400 * 1024, 7);
    ASSERT_TRUE(QDir().mkpath(Remote(QStringLiteral("again"))));
    transfertest::MakeFile(server->Root() + "/again/close-b.bin", 400 * 1024, 8);
    QuickConnect(true);

    // Out of range: said so with the range, OK does nothing; then mended.
    WithQueueSettings([](TFormQueueSettings* dialog) {
        EXPECT_EQ(dialog->Connections1->value(), 2);
        EXPECT_EQ(dialog->Retries1->value(), 3);
        Retype(dialog->Connections1, QStringLiteral("15"));
        EXPECT_FALSE(dialog->Problem1->text().isEmpty());
        EXPECT_TRUE(dialog->Problem1->text().contains(QStringLiteral("from 1 to 10")))
            << dialog->Problem1->text().toStdString();
        EXPECT_FALSE(dialog->OKBtn->isEnabled());
        QTest::mouseClick(dialog->OKBtn, Qt::LeftButton);
        EXPECT_TRUE(dialog->isVisible());
        Retype(dialog->Connections1, QStringLiteral("0"));
        EXPECT_FALSE(dialog->OKBtn->isEnabled());
        Retype(dialog->Connections1, QStringLiteral("3"));
        EXPECT_TRUE(dialog->Problem1->text().isEmpty());
        Retype(dialog->Retries1, QStringLiteral("11"));
        EXPECT_TRUE(dialog->Problem1->text().contains(QStringLiteral("from 0 to 10")))
            << dialog->Problem1->text().toStdString();
        Retype(dialog->Retries1, QStringLiteral("0"));
        ASSERT_TRUE(dialog->OKBtn->isEnabled());
        QTest::mouseClick(dialog->OKBtn, Qt::LeftButton);
        EXPECT_FALSE(dialog->isVisible());
    });
    EXPECT_EQ(Stored("QueueConnections").toInt(), 3);
    EXPECT_EQ(Stored("QueueRetries").toInt(), 0);

    // Three sessions at once, never more: on the server (besides the
    // browsing session) and in the queue.
    DownloadRemoteFolder(QStringLiteral("slow"));
    int mostActive = 0;
    int mostSessions = 0;
    const bool done = testsupport::WaitFor(
        [&] {
            mostActive = std::max(mostActive, form->TransferQueue().Totals().Active);
            mostSessions = std::max(mostSessions, ServerSessions(server->PortText()));
            return !form->TransferQueue().HasUnfinished() && !Pane()->QueueStop1->isEnabled();
        },
        120000);
    ASSERT_TRUE(done) << transfertest::Unfinished(form->TransferQueue());
    EXPECT_EQ(mostActive, 3);
    EXPECT_EQ(mostSessions, 1 + 3);
    EXPECT_EQ(transfertest::CompareTrees(server->Root() + "/slow", local.filePath("slow").toStdString()), "");

    // No retries: the file that breaks off once fails, with the reason.
    DownloadRemoteFolder(QStringLiteral("broken"));
    ASSERT_TRUE(WaitQueueDone()) << transfertest::Unfinished(form->TransferQueue());
    ASSERT_EQ(Names(TQueuePane::FailedTab).size(), 1) << Names(TQueuePane::FailedTab).join('\n').toStdString();
    EXPECT_TRUE(Names(TQueuePane::FailedTab).front().endsWith(QStringLiteral("/broken/close-a.bin")));

    // Cancel stores nothing; the dialog shows what is stored.
    WithQueueSettings([](TFormQueueSettings* dialog) {
        EXPECT_EQ(dialog->Connections1->value(), 3);
        EXPECT_EQ(dialog->Retries1->value(), 0);
        Retype(dialog->Connections1, QStringLiteral("7"));
        QTest::mouseClick(dialog->CancelBtn, Qt::LeftButton);
    });
    EXPECT_EQ(Stored("QueueConnections").toInt(), 3);

    // Retries back on (Return takes the default button): the next file that
    // breaks off is resumed and arrives whole.
    WithQueueSettings([](TFormQueueSettings* dialog) {
        Retype(dialog->Retries1, QStringLiteral("2"));
        QTest::keyClick(dialog->Retries1, Qt::Key_Return);
        EXPECT_FALSE(dialog->isVisible());
    });
    EXPECT_EQ(Stored("QueueRetries").toInt(), 2);
    DownloadRemoteFolder(QStringLiteral("again"));
    ASSERT_TRUE(WaitQueueDone()) << transfertest::Unfinished(form->TransferQueue());
    EXPECT_EQ(Names(TQueuePane::FailedTab).size(), 1) << Names(TQueuePane::FailedTab).join('\n').toStdString();
    EXPECT_EQ(ReadAll(local.filePath(QStringLiteral("again/close-b.bin"))),
              ReadAll(Remote(QStringLiteral("again/close-b.bin"))));
}

} // namespace
