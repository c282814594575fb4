// The main window driven the way a user drives it: mouse clicks on the
// views' rows and headers, keys on the focused pane, commands through their
// actions, questions answered through the prompts interface; against
// pyftpdlib on 127.0.0.1.
#include "sessionfixture.h"

#include "dialogs/chmod.h"
#include "dialogs/transfer.h"
#include "dialogs/transferprogress.h"
#include "ftp/ftpclient.h"
#include "support/eventwait.h"

#include <QAction>
#include <QApplication>
#include <QSettings>
#include <QTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QTest>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QUrl>
#include <QTreeView>

using namespace sessiontest;

namespace {

// A click (with modifiers) on the row of the report view, where a user
// would click.
void ClickRow(TListView* list, const QString& caption, Qt::KeyboardModifiers modifiers = {})
{
    const QModelIndex index = RowIndex(list, caption);
    ASSERT_TRUE(index.isValid()) << caption.toStdString() << " in " << Captions(list).join('|').toStdString();
    QTreeView* view = list->ReportView();
    view->scrollTo(index);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, modifiers, view->visualRect(index).center());
}

void DoubleClickRow(TListView* list, const QString& caption)
{
    const QModelIndex index = RowIndex(list, caption);
    ASSERT_TRUE(index.isValid()) << caption.toStdString();
    QTreeView* view = list->ReportView();
    const QPoint at = view->visualRect(index).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
}

void ClickHeader(TListView* list, int column)
{
    QHeaderView* header = list->ReportView()->header();
    const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

void Key(TListView* list, Qt::Key key)
{
    list->ReportView()->setFocus();
    QTest::keyClick(list->ReportView(), key);
}

class WidgetTest : public SessionTest {
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        if (HasFatalFailure())
            return;
        form->resize(900, 700);
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        StartServer();
    }

    void MakeRemote(const QString& name, const QByteArray& bytes) { WriteFile(Remote(name), bytes); }

    int Sent(const QString& verb) const
    {
        int count = 0;
        for (const QString& line : LogText(*form).split(QLatin1Char('\n')))
            count += line.startsWith(QStringLiteral("> ") + verb) ? 1 : 0;
        return count;
    }

    int Kind(const QString& kind) const
    {
        int count = 0;
        for (const auto& record : prompts.Records())
            count += record.kind == kind ? 1 : 0;
        return count;
    }
};

TEST_F(WidgetTest, ClickingALocalFolderListsItsFiles)
{
    ASSERT_TRUE(QDir(local.path()).mkdir(QStringLiteral("sub")));
    WriteFile(local.filePath(QStringLiteral("sub/inside.txt")), "inside");
    form->SetLocalFiles();
    QTreeView* tree = form->Dir1;
    QModelIndex sub;
    ASSERT_TRUE(testsupport::WaitFor(
        [&] {
            sub = form->Dir1Model->index(local.filePath(QStringLiteral("sub")));
            tree->expand(sub.parent());
            return sub.isValid() && tree->visualRect(sub).isValid();
        },
        5000));
    tree->scrollTo(sub);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(sub).center());
    EXPECT_EQ(form->SelectedFolder(), local.filePath(QStringLiteral("sub")));
    EXPECT_EQ(Captions(form->List1), QStringList{QStringLiteral("inside.txt")});

    // Backspace in the tree goes back up.
    tree->setFocus();
    QTest::keyClick(tree, Qt::Key_Backspace);
    EXPECT_EQ(form->SelectedFolder(), local.path());
}

TEST_F(WidgetTest, DownloadOverAnExistingFileAsksAndEachAnswerDoesWhatItSays)
{
    const QByteArray remote = Pattern(30000, 7);
    for (const char* name : {"keep.bin", "over.bin", "more.bin", "rename.bin"})
        MakeRemote(QString::fromLatin1(name), remote);
    for (const char* name : {"keep.bin", "rename.bin"})
        WriteFile(local.filePath(QString::fromLatin1(name)), "local edit");
    WriteFile(local.filePath(QStringLiteral("over.bin")), QByteArray(40000, 'L'));
    WriteFile(local.filePath(QStringLiteral("more.bin")), remote.left(10000));
    form->SetLocalFiles();
    QuickConnect();
    ClickHeader(form->RemoteFiles, 0);

    ClickRow(form->RemoteFiles, QStringLiteral("keep.bin"));
    for (const char* name : {"more.bin", "over.bin", "rename.bin"})
        ClickRow(form->RemoteFiles, QString::fromLatin1(name), Qt::ControlModifier);
    ASSERT_EQ(form->RemoteFiles->SelCount(), 4);
    ASSERT_TRUE(form->DownloadFile1->isEnabled());
    prompts.AnswerQuestion(QMessageBox::YesToAll);
    // keep, more, over, rename: the list is sorted by name.
    prompts.AnswerSameName(TSameNameAnswer::Skip);
    prompts.AnswerSameName(TSameNameAnswer::Resume);
    prompts.AnswerSameName(TSameNameAnswer::Overwrite);
    prompts.AnswerSameName(TSameNameAnswer::Rename);
    prompts.AnswerInput(QStringLiteral("copy.bin"));
    form->DownloadFile1->trigger();

    EXPECT_EQ(ReadAll(local.filePath(QStringLiteral("keep.bin"))), QByteArray("local edit"));
    EXPECT_EQ(ReadAll(local.filePath(QStringLiteral("more.bin"))), remote);
    EXPECT_EQ(Sent(QStringLiteral("REST 10000")), 1) << LogText(*form).toStdString();
    EXPECT_EQ(ReadAll(local.filePath(QStringLiteral("over.bin"))), remote);
    EXPECT_EQ(ReadAll(local.filePath(QStringLiteral("rename.bin"))), QByteArray("local edit"));
    EXPECT_EQ(ReadAll(local.filePath(QStringLiteral("copy.bin"))), remote);
    ASSERT_EQ(Kind(QStringLiteral("samename")), 4);
    // Resume is offered only where the local file is the shorter one.
    std::vector<int> offered;
    for (const auto& record : prompts.Records())
        if (record.kind == QLatin1String("samename"))
            offered.push_back(record.noticeKind);
    EXPECT_EQ(offered, (std::vector<int>{1, 1, 0, 1}));
    EXPECT_EQ(prompts.Unexpected(), 0);
}

TEST_F(WidgetTest, ApplyToAllAnswersTheRestOfTheBatchAndUploadsAskToo)
{
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
        MakeRemote(QString::fromLatin1(name), "remote");
        WriteFile(local.filePath(QString::fromLatin1(name)), "local");
    }
    form->SetLocalFiles();
    QuickConnect();
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        ClickRow(form->List1, QString::fromLatin1(name), Qt::ControlModifier);
    ASSERT_EQ(form->List1->SelCount(), 3);
    prompts.AnswerQuestion(QMessageBox::YesToAll);
    prompts.AnswerSameName(TSameNameAnswer::Skip, true);
    Key(form->List1, Qt::Key_Return); // Enter uploads the selection
    EXPECT_EQ(Kind(QStringLiteral("samename")), 1);
    EXPECT_EQ(Sent(QStringLiteral("STOR")), 0);
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        EXPECT_EQ(ReadAll(Remote(QString::fromLatin1(name))), QByteArray("remote"));

    prompts.Clear();
    prompts.AnswerQuestion(QMessageBox::YesToAll);
    prompts.AnswerSameName(TSameNameAnswer::Overwrite, true);
    form->UploadFile1->trigger();
    EXPECT_EQ(Kind(QStringLiteral("samename")), 1);
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        EXPECT_EQ(ReadAll(Remote(QString::fromLatin1(name))), QByteArray("local"));
    EXPECT_EQ(prompts.Unexpected(), 0);
}

TEST_F(WidgetTest, AnUploadResumesWhereTheServersShorterCopyEnds)
{
    const QByteArray whole = Pattern(50000, 11);
    WriteFile(local.filePath(QStringLiteral("part.bin")), whole);
    MakeRemote(QStringLiteral("part.bin"), whole.left(20000));
    form->SetLocalFiles();
    QuickConnect();
    ClickRow(form->List1, QStringLiteral("part.bin"));
    prompts.AnswerQuestion(QMessageBox::Yes);
    prompts.AnswerSameName(TSameNameAnswer::Resume);
    form->TBUpload->trigger();
    EXPECT_EQ(Sent(QStringLiteral("REST 20000")), 1) << LogText(*form).toStdString();
    EXPECT_EQ(ReadAll(Remote(QStringLiteral("part.bin"))), whole);
    ASSERT_EQ(Kind(QStringLiteral("samename")), 1);
    EXPECT_EQ(prompts.Records().last().noticeKind, 1);
    EXPECT_EQ(prompts.Unexpected(), 0);
}

TEST_F(WidgetTest, TheTypeIsSetBeforeSizeAndARefusedSizeIsUnknownNotStale)
{
    MakeRemote(QStringLiteral("big.bin"), Pattern(200000, 1));
    MakeRemote(QStringLiteral("small.txt"), QByteArray("49 bytes of text, line after line, in ASCII mode\n"));
    QuickConnect();
    std::vector<qint64> totals;
    auto forward = form->FTPC1->OnProgress;
    form->FTPC1->OnProgress = [&](TCustomFtpCli* sender, std::int64_t count, bool& abort) {
        forward(sender, count, abort);
        if (TSendForm* dialog = form->ProgressDialog->Form())
            totals.push_back(dialog->BytesTotal());
    };

    ClickRow(form->RemoteFiles, QStringLiteral("big.bin"));
    prompts.AnswerQuestion(QMessageBox::Yes);
    form->DownloadFile1->trigger();
    QStringList sent;
    for (const QString& line : LogText(*form).split('\n'))
        if (line.startsWith(QStringLiteral("> ")))
            sent.append(line);
    const qsizetype size = sent.indexOf(QStringLiteral("> SIZE big.bin"));
    ASSERT_GT(size, 0) << LogText(*form).toStdString();
    EXPECT_EQ(sent[size - 1], QStringLiteral("> TYPE I"));
    ASSERT_FALSE(totals.empty());
    EXPECT_EQ(totals.back(), 200000);
}

TEST_F(WidgetTest, ARefusedSizeIsUnknownNotThePreviousFiles)
{
    // A server that knows the first file's size and refuses the second's,
    // as servers do in ASCII mode.
    const std::string listing = "-rw-r--r-- 1 u g 179896267 Jan 1 00:00 first.bin\r\n"
                                "-rw-r--r-- 1 u g 49 Jan 1 00:00 second.txt\r\n";
    ftptest::FakeFtpServer fake([&](ftptest::FakeSession& s) {
        s.Reply("220 scripted");
        for (;;) {
            const std::string line = s.ReadLine();
            if (line.empty())
                return;
            const std::string verb = line.substr(0, line.find(' '));
            if (verb == "USER")
                s.Reply("331 ok");
            else if (verb == "PWD")
                s.Reply("257 \"/\"");
            else if (verb == "SIZE")
                s.Reply(line == "SIZE first.bin" ? "213 6" : "550 SIZE not allowed in ASCII mode.");
            else if (verb == "PASV") {
                const int port = s.ListenData();
                s.Reply("227 Entering Passive Mode (127,0,0,1," + std::to_string(port / 256) + "," +
                        std::to_string(port % 256) + ")");
            } else if (verb == "LIST" || verb == "RETR") {
                if (!s.AcceptData()) {
                    s.Reply("425 no data");
                    continue;
                }
                s.Reply("150 go");
                s.SendData(verb == "LIST" ? listing : std::string("sixsix"));
                s.CloseData();
                s.Reply("226 done");
            } else if (verb == "QUIT") {
                s.Reply("221 bye");
                return;
            } else
                s.Reply("200 ok");
        }
    });
    ConnectFake(fake);
    ASSERT_TRUE(form->IsConnected()) << LogText(*form).toStdString();
    std::vector<qint64> totals;
    auto forward = form->FTPC1->OnProgress;
    form->FTPC1->OnProgress = [&](TCustomFtpCli* sender, std::int64_t count, bool& abort) {
        forward(sender, count, abort);
        if (TSendForm* dialog = form->ProgressDialog->Form())
            totals.push_back(dialog->BytesTotal());
    };
    ClickRow(form->RemoteFiles, QStringLiteral("first.bin"));
    prompts.AnswerQuestion(QMessageBox::Yes);
    form->DownloadFile1->trigger();
    EXPECT_EQ(form->TransferSize, 6);
    ASSERT_FALSE(totals.empty());
    EXPECT_EQ(totals.back(), 6);

    totals.clear();
    ClickRow(form->RemoteFiles, QStringLiteral("second.txt"));
    prompts.AnswerQuestion(QMessageBox::Yes);
    form->DownloadFile1->trigger();
    EXPECT_EQ(form->TransferSize, 0) << LogText(*form).toStdString();
    ASSERT_FALSE(totals.empty());
    for (const qint64 total : totals)
        EXPECT_EQ(total, 0);
    EXPECT_EQ(ReadAll(local.filePath(QStringLiteral("second.txt"))), QByteArray("sixsix"));
    // Bytes only: no "of", no percentage.
    EXPECT_EQ(TSendForm::StatusText(6, 0), QStringLiteral("6 bytes transferred"));
    EXPECT_EQ(TSendForm::PercentText(6, 0), QString());
    form->FTPC1->AbortAsync();
}

TEST_F(WidgetTest, PassiveModeComesFromTheProfile)
{
    MakeRemote(QStringLiteral("p.bin"), Pattern(1000, 2));
    QuickConnect(true);
    EXPECT_TRUE(form->FTPC1->Passive());
    // Passive data connections start with EPSV, which pyftpdlib takes.
    EXPECT_GE(Sent(QStringLiteral("EPSV")), 1) << LogText(*form).toStdString();
    EXPECT_EQ(Sent(QStringLiteral("PORT")), 0);
    EXPECT_EQ(Captions(form->RemoteFiles), QStringList{QStringLiteral("p.bin")});
}

TEST_F(WidgetTest, WrongPasswordSaysLoginFailedAsksMaskedAndEndsDisconnected)
{
    form->SiteHost = QStringLiteral("127.0.0.1");
    form->SiteUser = QString::fromStdString(server->User());
    form->SitePassword = QStringLiteral("wrong");
    form->SitePort = QString::fromStdString(server->PortText());
    prompts.CancelInput();
    prompts.CancelInput();
    form->OpenSession();
    ASSERT_GE(prompts.Records().size(), 3);
    EXPECT_EQ(prompts.Records()[0].kind, QStringLiteral("notice"));
    EXPECT_EQ(prompts.Records()[0].caption, QStringLiteral("Login failed"));
    EXPECT_TRUE(prompts.Records()[0].text.startsWith(QStringLiteral("Login failed: 530")))
        << prompts.Records()[0].text.toStdString();
    EXPECT_EQ(prompts.Records()[2].kind, QStringLiteral("password"));
    testsupport::WaitFor([this] { return !form->IsConnected(); }, 5000);
    EXPECT_FALSE(form->IsConnected());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Tarvik - No Connection")) << LogText(*form).toStdString();
    EXPECT_EQ(form->StatusText(1), QStringLiteral("Disconnected"));
    EXPECT_TRUE(form->Connect1->isEnabled());
    EXPECT_EQ(Sent(QStringLiteral("LIST")), 0);
}

TEST_F(WidgetTest, HeadersSortEveryColumnAndTheChoiceIsKept)
{
    MakeRemote(QStringLiteral("file_10.txt"), QByteArray(10, 'x'));
    MakeRemote(QStringLiteral("file_9.txt"), QByteArray(3000, 'x'));
    MakeRemote(QStringLiteral("File_100.txt"), QByteArray(200, 'x'));
    const QDateTime base = QDateTime::currentDateTime().addDays(-30);
    const std::pair<const char*, int> ages[] = {{"file_10.txt", 2}, {"file_9.txt", 0}, {"File_100.txt", 1}};
    for (const auto& [name, days] : ages) {
        QFile file(Remote(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(base.addDays(days), QFileDevice::FileModificationTime));
    }
    QuickConnect();
    TListView* files = form->RemoteFiles;
    ClickHeader(files, 0);
    EXPECT_EQ(Captions(files), (QStringList{"file_9.txt", "file_10.txt", "File_100.txt"}));
    ClickHeader(files, 0);
    EXPECT_EQ(Captions(files), (QStringList{"File_100.txt", "file_10.txt", "file_9.txt"}));
    ClickHeader(files, 1);
    EXPECT_EQ(Captions(files), (QStringList{"file_10.txt", "File_100.txt", "file_9.txt"}));
    ClickHeader(files, 2);
    EXPECT_EQ(Captions(files), (QStringList{"file_9.txt", "File_100.txt", "file_10.txt"}));
    ClickHeader(files, 3);
    EXPECT_EQ(files->Items()->SortColumn(), 3);
    // Sizes with the locale's separators, dates in one format for both panes.
    const QModelIndex big = RowIndex(files, QStringLiteral("file_9.txt"));
    EXPECT_EQ(files->Items()->data(big.siblingAtColumn(1), Qt::DisplayRole).toString(),
              QLocale::system().toString(3000));
    ClickHeader(files, 1);

    // The local list: natural order of names by default.
    for (const char* name : {"file_1997", "file_2510", "file_3", "File_20"})
        WriteFile(local.filePath(QString::fromLatin1(name)), "x");
    form->SetLocalFiles();
    EXPECT_EQ(Captions(form->List1), (QStringList{"file_3", "File_20", "file_1997", "file_2510"}));

    // The sorted column stays with the window.
    form->SaveWindowSettings();
    QSettings settings(QStringLiteral("Veltrane"), QStringLiteral("Tarvik"));
    TListView again;
    again.SetColumns({"Name", "Size (bytes)", "Date", "Attributes"}, {140, 80, 110, 90});
    again.RestoreLayout(settings.value(QStringLiteral("Settings/RemoteFilesColumns")).toByteArray());
    EXPECT_EQ(again.Items()->SortColumn(), 1);
}

TEST_F(WidgetTest, KeysRefreshGoUpEnterAndDelete)
{
    ASSERT_TRUE(QDir().mkdir(Remote(QStringLiteral("sub"))));
    MakeRemote(QStringLiteral("sub/deep.bin"), "deep");
    MakeRemote(QStringLiteral("gone.bin"), "x");
    QuickConnect();

    MakeRemote(QStringLiteral("late.bin"), "late");
    Key(form->RemoteFiles, Qt::Key_F5);
    EXPECT_TRUE(Captions(form->RemoteFiles).contains(QStringLiteral("late.bin")));

    ClickRow(form->RemoteDirs, QStringLiteral("sub"));
    Key(form->RemoteDirs, Qt::Key_Return);
    EXPECT_EQ(form->RemoteDir, QStringLiteral("/sub"));
    EXPECT_EQ(Captions(form->RemoteFiles), QStringList{QStringLiteral("deep.bin")});
    Key(form->RemoteFiles, Qt::Key_Backspace);
    EXPECT_EQ(form->RemoteDir, QStringLiteral("/"));

    ClickRow(form->RemoteFiles, QStringLiteral("gone.bin"));
    prompts.AnswerQuestion(QMessageBox::Yes);
    Key(form->RemoteFiles, Qt::Key_Delete);
    EXPECT_FALSE(QFile::exists(Remote(QStringLiteral("gone.bin"))));
    EXPECT_FALSE(Captions(form->RemoteFiles).contains(QStringLiteral("gone.bin")));

    WriteFile(local.filePath(QStringLiteral("mine.txt")), "mine");
    Key(form->List1, Qt::Key_F5);
    ClickRow(form->List1, QStringLiteral("mine.txt"));
    prompts.AnswerQuestion(QMessageBox::Yes);
    Key(form->List1, Qt::Key_Delete);
    EXPECT_FALSE(QFile::exists(local.filePath(QStringLiteral("mine.txt"))));
    EXPECT_EQ(prompts.Unexpected(), 0);
}

TEST_F(WidgetTest, ALinkToAFileIsListedWithTheFilesAndDownloads)
{
    MakeRemote(QStringLiteral("target.bin"), Pattern(5000, 3));
    ASSERT_TRUE(QFile::link(Remote(QStringLiteral("target.bin")), Remote(QStringLiteral("shortcut"))));
    QuickConnect();
    EXPECT_TRUE(Captions(form->RemoteFiles).join('|').contains(QStringLiteral("shortcut")))
        << Captions(form->RemoteFiles).join('|').toStdString();
    EXPECT_FALSE(Captions(form->RemoteDirs).join('|').contains(QStringLiteral("shortcut")));
    QString caption;
    for (const QString& c : Captions(form->RemoteFiles))
        if (c.startsWith(QStringLiteral("shortcut")))
            caption = c;
    prompts.AnswerQuestion(QMessageBox::Yes);
    DoubleClickRow(form->RemoteFiles, caption);
    EXPECT_EQ(form->RemoteDir, QStringLiteral("/"));
    EXPECT_EQ(ReadAll(local.filePath(QStringLiteral("shortcut"))), ReadAll(Remote(QStringLiteral("target.bin"))));
}

TEST_F(WidgetTest, AMultiLineReplyIsShownWholeAndViewUsesAPrivateFolder)
{
    MakeRemote(QStringLiteral("readme.txt"), "read me");
    WriteFile(local.filePath(QStringLiteral("ftp_temp.txt")), "mine, not a copy");
    QuickConnect();
    prompts.AnswerInput(QStringLiteral("HELP"));
    form->SendCommand1->trigger();
    const QStringList lines = LogText(*form).split('\n');
    int replyLines = 0;
    for (const QString& line : lines)
        replyLines += line.startsWith(QStringLiteral("< ")) &&
                              lines.indexOf(line) > lines.indexOf(QStringLiteral("> HELP"))
                          ? 1
                          : 0;
    EXPECT_GT(replyLines, 2) << LogText(*form).toStdString();

    ClickRow(form->RemoteFiles, QStringLiteral("readme.txt"));
    shell.result = false;
    form->ViewFile2->trigger();
    ASSERT_EQ(shell.opened.size(), 1);
    const QString copy = shell.opened.front().toLocalFile();
    EXPECT_FALSE(copy.startsWith(local.path()));
    EXPECT_EQ(ReadAll(copy), QByteArray("read me"));
    EXPECT_EQ(ReadAll(local.filePath(QStringLiteral("ftp_temp.txt"))), QByteArray("mine, not a copy"));
    ASSERT_FALSE(prompts.Notices().isEmpty());
    EXPECT_TRUE(prompts.Notices().last().startsWith(QStringLiteral("View File|No application is set up to open")));
    form->FTPC1->AbortAsync();
    form.reset();
    EXPECT_FALSE(QFileInfo::exists(copy));
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(copy).path()));
}

TEST_F(WidgetTest, SeveralFilesGetTheirPermissionsAndAnEmptyFolderUploadEnds)
{
    MakeRemote(QStringLiteral("one.sh"), "1");
    MakeRemote(QStringLiteral("two.sh"), "2");
    QuickConnect();
    ClickRow(form->RemoteFiles, QStringLiteral("one.sh"));
    ClickRow(form->RemoteFiles, QStringLiteral("two.sh"), Qt::ShiftModifier);
    ASSERT_EQ(form->RemoteFiles->SelCount(), 2);
    QTimer::singleShot(0, [] {
        if (auto* dialog = qobject_cast<TFormMod*>(QApplication::activeModalWidget()))
            dialog->Button1Click();
    });
    // The permission dialog's OK gives "644"; both files get it.
    QFile(Remote(QStringLiteral("one.sh"))).setPermissions(QFileDevice::ReadOwner);
    QFile(Remote(QStringLiteral("two.sh"))).setPermissions(QFileDevice::ReadOwner);
    form->CHMODFile1->trigger();
    EXPECT_EQ(Sent(QStringLiteral("SITE chmod 644")), 2) << LogText(*form).toStdString();
    for (const char* name : {"one.sh", "two.sh"})
        EXPECT_TRUE(QFileInfo(Remote(QString::fromLatin1(name))).permissions().testFlag(QFileDevice::ReadOther))
            << name;

    // Resume with no local folder chosen says so, and writes nothing.
    form->Dir1->selectionModel()->clearSelection();
    ASSERT_TRUE(form->SelectedFolder().isEmpty());
    ClickRow(form->RemoteFiles, QStringLiteral("one.sh"));
    prompts.Clear();
    form->ResumeDownload1->trigger();
    ASSERT_EQ(prompts.Notices().size(), 1);
    EXPECT_TRUE(prompts.Notices().front().startsWith(QStringLiteral("Resume Error|Tarvik can not find the file")));
    EXPECT_FALSE(LogText(*form).contains(QStringLiteral("Refused")));

    ASSERT_TRUE(QDir(local.path()).mkdir(QStringLiteral("nofiles")));
    ASSERT_TRUE(form->SelectFolder(local.filePath(QStringLiteral("nofiles"))));
    const int lists = Sent(QStringLiteral("LIST"));
    form->CancelTransfer = true;
    form->SendDirectory1->trigger();
    EXPECT_FALSE(form->CancelTransfer);
    // The empty folder is created through the queue; the remote pane is
    // listed again once the queue is done.
    EXPECT_TRUE(testsupport::WaitFor([&] { return Sent(QStringLiteral("LIST")) == lists + 1; }, 30000));
    EXPECT_TRUE(QFileInfo(Remote(QStringLiteral("nofiles"))).isDir());
}

TEST_F(WidgetTest, OnlyThisWindowsOwnDragsAreTakenAndTheDirectoriesDragNothing)
{
    WriteFile(local.filePath(QStringLiteral("mine.bin")), "mine");
    form->SetLocalFiles();
    QuickConnect();
    ClickRow(form->List1, QStringLiteral("mine.bin"));
    form->List1StartDrag(); // a drag that ends outside, never dropped
    ASSERT_EQ(form->DragSource, QStringLiteral("list"));
    QMimeData foreign;
    foreign.setUrls({QUrl::fromLocalFile(local.filePath(QStringLiteral("mine.bin")))});
    EXPECT_FALSE(form->RemoteFilesDragOver(&foreign));
    std::unique_ptr<QMimeData> own(form->List1->Items()->mimeData({form->List1->Items()->index(0, 0)}));
    EXPECT_TRUE(form->RemoteFilesDragOver(own.get()));
    std::unique_ptr<QMimeData> remote(form->RemoteFiles->Items()->mimeData({}));
    EXPECT_FALSE(remote);
    EXPECT_FALSE(form->RemoteDirs->ReportView()->dragEnabled());
    EXPECT_TRUE(form->RemoteFiles->ReportView()->dragEnabled());
}

} // namespace
