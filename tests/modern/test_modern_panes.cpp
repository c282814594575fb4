// The main window's remote panes against a server that offers MLSD
// (pyftpdlib, and a scripted one with cdir/pdir entries and Unix modes) and
// against one that only has LIST in the DOS/IIS layout; offscreen, driven
// through the widgets.

#include "sessionfixture.h"

#include "dialogs/chmod.h"
#include "ftp/ftpclient.h"
#include "support/eventwait.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <map>

using namespace sessiontest;

namespace {

int RowOf(const TListView* list, const QString& caption)
{
    const TListModel* items = list->Items();
    for (int row = 0; row < items->Count(); ++row)
        if (items->Item(row).Caption == caption)
            return row;
    return -1;
}

void DoubleClickRow(TListView* list, const QString& caption)
{
    const int row = RowOf(list, caption);
    ASSERT_GE(row, 0) << caption.toStdString() << " in " << Captions(list).join('|').toStdString();
    const QModelIndex index = list->Items()->index(row, 0);
    QTreeView* view = list->ReportView();
    view->scrollTo(index);
    const QPoint at = view->visualRect(index).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
}

void ClickRow(TListView* list, const QString& caption, Qt::KeyboardModifiers modifiers = {})
{
    const int row = RowOf(list, caption);
    ASSERT_GE(row, 0) << caption.toStdString() << " in " << Captions(list).join('|').toStdString();
    const QModelIndex index = list->Items()->index(row, 0);
    QTreeView* view = list->ReportView();
    view->scrollTo(index);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, modifiers, view->visualRect(index).center());
}

// What the permission dialog showed when it opened.
struct ChmodSeen {
    bool opened = false;
    QString mode;
};

// Answers the next permission dialog with the mouse: records the mode it
// opened with, clicks the boxes named by index (toggling them) and OK.
void AnswerChmod(ChmodSeen& seen, std::vector<int> toggles)
{
    QTimer::singleShot(0, [&seen, toggles] {
        auto* dialog = qobject_cast<TFormMod*>(QApplication::activeModalWidget());
        ASSERT_TRUE(dialog);
        seen.opened = true;
        seen.mode = dialog->ShownMode();
        for (const int box : toggles)
            QTest::mouseClick(dialog->Box(box), Qt::LeftButton);
        auto* ok = dialog->findChild<QPushButton*>(QStringLiteral("Button1"));
        ASSERT_TRUE(ok);
        QTest::mouseClick(ok, Qt::LeftButton);
    });
}

// Plays login, SYST, TYPE, PWD and passive data; `listing` answers the
// listing command `verb` ("MLSD" or "LIST"). FEAT lists `features` (none:
// refused). SIZE, MDTM and RETR serve `files` (MDTM always answers
// 2020-01-01 00:00:00, so a time taken from it is told from the listing's);
// SITE is accepted.
void PlayServer(ftptest::FakeSession& s, const std::vector<std::string>& features, const std::string& verb,
                const std::string& listing, const std::map<std::string, std::string>& files = {})
{
    s.SetRfc959Only(false);
    s.Reply("220 scripted");
    for (std::string line = s.ReadLine(); !line.empty(); line = s.ReadLine()) {
        if (line.rfind("USER ", 0) == 0) {
            s.Reply("331 password");
        } else if (line.rfind("PASS ", 0) == 0) {
            s.Reply("230 in");
        } else if (line == "FEAT") {
            if (features.empty()) {
                s.Reply("502 no FEAT");
                continue;
            }
            s.Reply("211-Features:");
            for (const auto& f : features)
                s.Reply(" " + f);
            s.Reply("211 End");
        } else if (line == "SYST") {
            s.Reply("215 UNIX Type: L8");
        } else if (line.rfind("TYPE", 0) == 0 || line.rfind("OPTS", 0) == 0) {
            s.Reply("200 ok");
        } else if (line == "PWD") {
            s.Reply("257 \"/\"");
        } else if (line == "EPSV") {
            s.Reply("229 Extended (|||" + std::to_string(s.ListenData()) + "|)");
        } else if (line == "PASV") {
            const int port = s.ListenData();
            s.Reply("227 Passive (127,0,0,1," + std::to_string(port / 256) + "," + std::to_string(port % 256) + ")");
        } else if (line == verb) {
            s.Reply("150 listing");
            if (s.AcceptData()) {
                s.SendData(listing);
                s.CloseData();
            }
            s.Reply("226 done");
        } else if (line.rfind("SIZE ", 0) == 0 && files.count(line.substr(5)) != 0) {
            s.Reply("213 " + std::to_string(files.at(line.substr(5)).size()));
        } else if (line.rfind("MDTM ", 0) == 0 && files.count(line.substr(5)) != 0) {
            s.Reply("213 20200101000000");
        } else if (line.rfind("RETR ", 0) == 0 && files.count(line.substr(5)) != 0) {
            s.Reply("150 sending");
            if (s.AcceptData()) {
                s.SendData(files.at(line.substr(5)));
                s.CloseData();
            }
            s.Reply("226 done");
        } else if (line.rfind("SITE ", 0) == 0) {
            s.Reply("200 SITE command successful.");
        } else if (line == "QUIT") {
            s.Reply("221 bye");
            return;
        } else {
            s.Reply("500 not here");
        }
    }
}

class PanesTest : public SessionTest {
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        if (HasFatalFailure())
            return;
        form->resize(900, 700);
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }
    const TListItem& FileItem(const QString& caption) const
    {
        return form->RemoteFiles->Items()->Item(RowOf(form->RemoteFiles, caption));
    }
};

TEST_F(PanesTest, Utf8NamesFillThePanesAndFoldersWithSpacesOrDashesOpenByDoubleClick)
{
    StartServer();
    const QString mueller = QString::fromUtf8("M\xC3\xBCller \xC3\x9C"
                                              "bersicht.txt");
    const QString japanese = QString::fromUtf8("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt");
    WriteFile(Remote(mueller), "12345");
    WriteFile(Remote(japanese), "ab");
    ASSERT_TRUE(QDir().mkpath(Remote(QStringLiteral("with space"))));
    ASSERT_TRUE(QDir().mkpath(Remote(QStringLiteral("-dash"))));
    WriteFile(Remote(QStringLiteral("with space/inner.txt")), "inner");
    WriteFile(Remote(QStringLiteral("-dash/dashed.txt")), "d");

    QuickConnect(true);
    // pyftpdlib offers MLSD without the Unix mode among the facts it sends:
    // the panes keep LIST there (permissions and links).
    EXPECT_TRUE(form->FTPC1->Features().Mlst);
    EXPECT_EQ(LogCount(*form, QStringLiteral("> LIST")), 1) << LogText(*form).toStdString();
    ASSERT_GE(RowOf(form->RemoteFiles, mueller), 0) << Captions(form->RemoteFiles).join('|').toStdString();
    ASSERT_GE(RowOf(form->RemoteFiles, japanese), 0);
    EXPECT_EQ(FileItem(mueller).Size, 5);
    EXPECT_NE(FileItem(mueller).Time, TListItem::kNoTime);
    QStringList dirs = Captions(form->RemoteDirs);
    dirs.sort();
    EXPECT_EQ(dirs, (QStringList{QStringLiteral("-dash"), QStringLiteral("with space")}));

    for (const auto& [dir, inner] :
         {std::pair<QString, QString>{QStringLiteral("with space"), QStringLiteral("inner.txt")},
          std::pair<QString, QString>{QStringLiteral("-dash"), QStringLiteral("dashed.txt")}}) {
        DoubleClickRow(form->RemoteDirs, dir);
        ASSERT_TRUE(testsupport::WaitFor([&] { return Captions(form->RemoteFiles) == QStringList{inner}; }, 10000))
            << dir.toStdString() << ": " << Captions(form->RemoteFiles).join('|').toStdString();
        form->UpDirectory1Click();
        ASSERT_TRUE(testsupport::WaitFor([&] { return RowOf(form->RemoteFiles, mueller) >= 0; }, 10000));
    }
}

TEST_F(PanesTest, MlsdCdirAndPdirAreNotFoldersAndUnixModesFillThePermissions)
{
    const std::string listing = "type=cdir;modify=20250101120000;perm=el;unix.mode=0755; /home/x\r\n"
                                "type=pdir;modify=20250101120000;perm=el; ..\r\n"
                                "type=dir;modify=20250101120000;perm=el;unix.mode=0750; sub dir\r\n"
                                "type=file;size=10;modify=20250102030405;perm=r;unix.mode=0644; a file.txt\r\n"
                                "type=OS.unix=symlink;modify=20250101120000; link\r\n";
    ftptest::FakeFtpServer fake([&](ftptest::FakeSession& s) {
        PlayServer(s, {"EPSV", "MLST type*;size*;modify*;perm*;unix.mode*;", "UTF8"}, "MLSD", listing);
    });
    ConnectFake(fake);
    ASSERT_TRUE(form->IsConnected()) << LogText(*form).toStdString();
    EXPECT_EQ(Captions(form->RemoteDirs), QStringList{QStringLiteral("sub dir")});
    const int row = RowOf(form->RemoteFiles, QStringLiteral("a file.txt"));
    ASSERT_GE(row, 0) << Captions(form->RemoteFiles).join('|').toStdString();
    const TListItem& item = form->RemoteFiles->Items()->Item(row);
    EXPECT_EQ(item.Size, 10);
    EXPECT_EQ(item.Time, 1735787045); // 2025-01-02 03:04:05 UTC
    ASSERT_EQ(item.SubItems.size(), 3);
    EXPECT_EQ(item.SubItems[2], QStringLiteral("-rw-r--r--"));
    EXPECT_FALSE(Captions(form->RemoteFiles).contains(QStringLiteral("..")));
}

const char* const kModeListing = "type=cdir;modify=20250101120000;perm=el;unix.mode=0755; /home/x\r\n"
                                 "type=dir;modify=20250101120000;perm=el;unix.mode=0711; sub dir\r\n"
                                 "type=file;size=10;modify=20250102030405;perm=r;UNIX.mode=0750; run.sh\r\n"
                                 "type=file;size=3;modify=20250102030405;perm=r;unix.mode=0600; secret.txt\r\n"
                                 "type=file;size=3;modify=20250102030405;perm=r; plain.txt\r\n";
const std::vector<std::string> kModeFeatures{"EPSV", "MDTM", "MLST type*;size*;modify*;perm*;unix.mode*;", "UTF8"};

TEST_F(PanesTest, ThePermissionDialogStartsFromTheModeMlsdGave)
{
    ftptest::FakeFtpServer fake([&](ftptest::FakeSession& s) { PlayServer(s, kModeFeatures, "MLSD", kModeListing); });
    ConnectFake(fake);
    ASSERT_TRUE(form->IsConnected()) << LogText(*form).toStdString();
    EXPECT_EQ(form->RemoteFiles->Items()->Item(RowOf(form->RemoteFiles, QStringLiteral("run.sh"))).Mode, 0750);

    // One file: its own mode; the other-read box clicked makes 754.
    ChmodSeen seen;
    ClickRow(form->RemoteFiles, QStringLiteral("run.sh"));
    AnswerChmod(seen, {6});
    form->CHMODFile1->trigger();
    ASSERT_TRUE(seen.opened);
    EXPECT_EQ(seen.mode, QStringLiteral("750"));
    EXPECT_EQ(LogCount(*form, QStringLiteral("> SITE chmod 754 run.sh")), 1) << LogText(*form).toStdString();

    // A folder: its mode, sent unchanged.
    seen = {};
    ClickRow(form->RemoteDirs, QStringLiteral("sub dir"));
    AnswerChmod(seen, {});
    form->CHMODDirectory1->trigger();
    EXPECT_EQ(seen.mode, QStringLiteral("711"));
    EXPECT_EQ(LogCount(*form, QStringLiteral("> SITE chmod 711 sub dir")), 1) << LogText(*form).toStdString();

    // Files of different modes, or one without a mode: the default 644.
    for (const QString& other : {QStringLiteral("secret.txt"), QStringLiteral("plain.txt")}) {
        seen = {};
        ASSERT_TRUE(testsupport::WaitFor([&] { return RowOf(form->RemoteFiles, other) >= 0; }, 10000));
        ClickRow(form->RemoteFiles, QStringLiteral("run.sh"));
        ClickRow(form->RemoteFiles, other, Qt::ControlModifier);
        ASSERT_EQ(form->RemoteFiles->SelCount(), 2);
        AnswerChmod(seen, {});
        form->CHMODFile1->trigger();
        EXPECT_EQ(seen.mode, QStringLiteral("644")) << other.toStdString();
    }
    EXPECT_EQ(LogCount(*form, QStringLiteral("> SITE chmod 644 secret.txt")), 1) << LogText(*form).toStdString();
}

TEST_F(PanesTest, ADownloadFromAnMlsdListingKeepsItsTimeWithoutMdtm)
{
    const std::map<std::string, std::string> files{{"run.sh", "0123456789"}, {"plain.txt", "abc"}};
    ftptest::FakeFtpServer fake(
        [&](ftptest::FakeSession& s) { PlayServer(s, kModeFeatures, "MLSD", kModeListing, files); });
    ConnectFake(fake);
    ASSERT_TRUE(form->IsConnected()) << LogText(*form).toStdString();
    ASSERT_TRUE(form->FTPC1->PreserveTimes());

    ClickRow(form->RemoteFiles, QStringLiteral("run.sh"));
    prompts.AnswerQuestion(QMessageBox::Yes);
    form->DownloadFile1->trigger();
    const QString copy = local.filePath(QStringLiteral("run.sh"));
    EXPECT_EQ(ReadAll(copy), QByteArray("0123456789")) << LogText(*form).toStdString();
    EXPECT_EQ(QFileInfo(copy).lastModified().toSecsSinceEpoch(), 1735787045) << "2025-01-02 03:04:05 UTC";
    EXPECT_EQ(LogCount(*form, QStringLiteral("> MDTM run.sh")), 0) << LogText(*form).toStdString();

    // A listing without the time: MDTM stays the way to it.
    const std::string noTime = "type=file;size=3;perm=r;unix.mode=0644; plain.txt\r\n";
    ftptest::FakeFtpServer bare([&](ftptest::FakeSession& s) { PlayServer(s, kModeFeatures, "MLSD", noTime, files); });
    Disconnect();
    ConnectFake(bare);
    ASSERT_TRUE(form->IsConnected()) << LogText(*form).toStdString();
    ClickRow(form->RemoteFiles, QStringLiteral("plain.txt"));
    prompts.AnswerQuestion(QMessageBox::Yes);
    form->DownloadFile1->trigger();
    const QString plain = local.filePath(QStringLiteral("plain.txt"));
    EXPECT_EQ(ReadAll(plain), QByteArray("abc"));
    EXPECT_EQ(LogCount(*form, QStringLiteral("> MDTM plain.txt")), 1) << LogText(*form).toStdString();
    EXPECT_EQ(QFileInfo(plain).lastModified().toSecsSinceEpoch(), 1577836800) << "2020-01-01 00:00:00 UTC";
}

TEST_F(PanesTest, AnIisStyleListingFillsThePanes)
{
    const std::string listing = "12-08-26  07:03PM       <DIR>          Folder One\r\n"
                                "12-08-26  07:04PM                 1234 file one.txt\r\n";
    ftptest::FakeFtpServer fake([&](ftptest::FakeSession& s) { PlayServer(s, {}, "LIST", listing); });
    ConnectFake(fake);
    ASSERT_TRUE(form->IsConnected()) << LogText(*form).toStdString();
    EXPECT_EQ(LogCount(*form, QStringLiteral("> MLSD")), 0);
    EXPECT_EQ(Captions(form->RemoteDirs), QStringList{QStringLiteral("Folder One")});
    ASSERT_EQ(Captions(form->RemoteFiles), QStringList{QStringLiteral("file one.txt")});
    EXPECT_EQ(FileItem(QStringLiteral("file one.txt")).Size, 1234);
    EXPECT_NE(FileItem(QStringLiteral("file one.txt")).Time, TListItem::kNoTime);
}

} // namespace
