// Uploads, downloads, resume, cancel, folder uploads and drag and drop
// against pyftpdlib, every transferred file compared byte for byte; and a
// hostile server whose names try to leave the chosen folder.
#include "sessionfixture.h"

#include "dialogs/transfer.h"
#include "dialogs/transferprogress.h"
#include "ftp/ftpclient.h"
#include "support/eventwait.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

using namespace sessiontest;

namespace {

class TransferTest : public SessionTest {
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        if (HasFatalFailure())
            return;
        StartServer();
    }

    // Local files, listed in List1.
    void MakeLocal(const QStringList& names, qint64 size)
    {
        int seed = 1;
        for (const QString& name : names)
            WriteFile(local.filePath(name), Pattern(size, seed++));
        form->SetLocalFiles();
    }

    void MakeRemote(const QStringList& names, qint64 size)
    {
        int seed = 100;
        for (const QString& name : names)
            WriteFile(Remote(name), Pattern(size, seed++));
        if (form->IsConnected())
            form->RefreshRemoteListing1Click();
    }

    int Questions() const
    {
        int count = 0;
        for (const auto& record : prompts.Records())
            count += record.kind == QLatin1String("question") ? 1 : 0;
        return count;
    }

    int Sent(const QString& verb) const
    {
        int count = 0;
        for (const QString& line : LogText(*form).split(QLatin1Char('\n')))
            count += line.startsWith(QStringLiteral("> ") + verb) ? 1 : 0;
        return count;
    }
};

TEST_F(TransferTest, UploadThreeFilesWithYesToAll)
{
    QuickConnect();
    const QStringList names{QStringLiteral("a.bin"), QStringLiteral("b.txt"), QStringLiteral("c d.dat")};
    MakeLocal(names, 70000);
    Select(form->List1, names);
    prompts.AnswerQuestion(QMessageBox::YesToAll);
    const QString first = form->List1->Items()->Item(form->List1->SelectedRows().front()).Caption;
    form->UploadFile1Click();
    EXPECT_EQ(Questions(), 1);
    EXPECT_EQ(prompts.Records().value(0).text, QStringLiteral("Do you want the file \"") + first +
                                                   QStringLiteral("\" to have the same name on the remote host?"));
    for (const QString& name : names)
        EXPECT_EQ(ReadAll(Remote(name)), ReadAll(local.filePath(name))) << name.toStdString();
    QStringList listed = Captions(form->RemoteFiles);
    listed.sort();
    EXPECT_EQ(listed, names);
    EXPECT_FALSE(form->ProgressDialog->IsOpen());
    EXPECT_EQ(prompts.Unexpected(), 0);
}

TEST_F(TransferTest, UploadWithANewNameAndWithAnEmptiedName)
{
    QuickConnect();
    MakeLocal({QStringLiteral("one.bin"), QStringLiteral("two.bin")}, 5000);
    Select(form->List1, {QStringLiteral("one.bin"), QStringLiteral("two.bin")});
    // The list keeps the order the folder gives.
    const QString first = form->List1->Items()->Item(form->List1->SelectedRows().front()).Caption;
    const QString second = first == QLatin1String("one.bin") ? QStringLiteral("two.bin") : QStringLiteral("one.bin");
    prompts.AnswerQuestion(QMessageBox::No);
    prompts.AnswerInput(QStringLiteral("renamed.bin"));
    prompts.AnswerQuestion(QMessageBox::No);
    prompts.AnswerInput(QString());
    form->UploadFile1Click();
    EXPECT_EQ(ReadAll(Remote(QStringLiteral("renamed.bin"))), ReadAll(local.filePath(first)));
    EXPECT_FALSE(QFile::exists(Remote(first)));
    EXPECT_FALSE(QFile::exists(Remote(second)));
    EXPECT_EQ(QDir(QString::fromStdString(server->Root())).entryList(QDir::Files),
              QStringList{QStringLiteral("renamed.bin")});
    EXPECT_EQ(prompts.Unexpected(), 0);
}

TEST_F(TransferTest, DownloadIntoTheSelectedFolderAndOneChosenAfterNo)
{
    QuickConnect();
    MakeRemote({QStringLiteral("first.bin"), QStringLiteral("second.bin"), QStringLiteral("third.bin")}, 40000);
    Select(form->RemoteFiles, {QStringLiteral("first.bin"), QStringLiteral("second.bin"), QStringLiteral("third.bin")});
    QTemporaryDir other;
    const QString chosen = other.filePath(QStringLiteral("made"));
    prompts.AnswerQuestion(QMessageBox::Yes);
    prompts.AnswerQuestion(QMessageBox::No);
    prompts.AnswerFolder(chosen);
    prompts.AnswerQuestion(QMessageBox::YesToAll);
    form->DownloadFile1Click();
    EXPECT_EQ(prompts.Records().value(0).text,
              QStringLiteral("Do you want the selected file(files) to be saved in the directory \" ") + local.path() +
                  QStringLiteral("/ ?"));
    EXPECT_EQ(ReadAll(local.filePath(QStringLiteral("first.bin"))), ReadAll(Remote(QStringLiteral("first.bin"))));
    EXPECT_EQ(ReadAll(chosen + QStringLiteral("/second.bin")), ReadAll(Remote(QStringLiteral("second.bin"))));
    // The folder chosen stays the target of the following files.
    EXPECT_EQ(ReadAll(chosen + QStringLiteral("/third.bin")), ReadAll(Remote(QStringLiteral("third.bin"))));
    EXPECT_TRUE(prompts.Records().last().text.contains(chosen));
    EXPECT_TRUE(Captions(form->List1).contains(QStringLiteral("first.bin")));
    EXPECT_TRUE(LogText(*form).contains(QStringLiteral("File size is 40000 bytes")));
    EXPECT_EQ(prompts.Unexpected(), 0);
}

TEST_F(TransferTest, CancelledFolderDialogSkipsTheFiles)
{
    QuickConnect();
    MakeRemote({QStringLiteral("x.bin"), QStringLiteral("y.bin")}, 100);
    Select(form->RemoteFiles, {QStringLiteral("x.bin"), QStringLiteral("y.bin")});
    prompts.AnswerQuestion(QMessageBox::No);
    prompts.AnswerFolder(QString());
    prompts.AnswerQuestion(QMessageBox::Yes);
    form->DownloadFile1Click();
    ASSERT_EQ(Questions(), 2);
    EXPECT_EQ(prompts.Records().last().text,
              QStringLiteral("Do you want the selected file(files) to be saved in the directory \"  ?"));
    EXPECT_TRUE(QDir(local.path()).entryList(QDir::Files).isEmpty());
    EXPECT_EQ(Sent(QStringLiteral("RETR")), 0);
}

TEST_F(TransferTest, ResumeOfAPartialDownload)
{
    QuickConnect();
    MakeRemote({QStringLiteral("big.bin")}, 300000);
    WriteFile(local.filePath(QStringLiteral("big.bin")), ReadAll(Remote(QStringLiteral("big.bin"))).left(100000));
    form->SetLocalFiles();
    Select(form->RemoteFiles, {QStringLiteral("big.bin")});
    form->ResumeDownload1Click();
    EXPECT_EQ(ReadAll(local.filePath(QStringLiteral("big.bin"))), ReadAll(Remote(QStringLiteral("big.bin"))));
    EXPECT_EQ(Sent(QStringLiteral("REST 100000")), 1) << LogText(*form).toStdString();
    EXPECT_EQ(form->ResumeOffset, 0);

    // A missing local part is refused before anything is sent.
    Select(form->RemoteFiles, {QStringLiteral("big.bin")});
    QFile::remove(local.filePath(QStringLiteral("big.bin")));
    prompts.Clear();
    form->ResumeDownload1Click();
    EXPECT_EQ(prompts.Notices(),
              QStringList{QStringLiteral("Resume Error|Tarvik can not find the file on your local drive.\n"
                                         "Make sure it is in the selected directory")});
}

TEST_F(TransferTest, CancelInTheMiddleStopsTheBatchAndTheSessionGoesOn)
{
    QuickConnect();
    const qint64 size = 24 * 1024 * 1024;
    MakeRemote({QStringLiteral("huge1.bin"), QStringLiteral("huge2.bin")}, size);
    Select(form->RemoteFiles, {QStringLiteral("huge1.bin"), QStringLiteral("huge2.bin")});
    // Press Cancel in the progress dialog once a part has arrived.
    auto original = form->FTPC1->OnProgress;
    bool pressed = false;
    form->FTPC1->OnProgress = [&](TCustomFtpCli* sender, std::int64_t count, bool& abort) {
        if (!pressed && count > 1024 * 1024 && form->ProgressDialog->Form()) {
            pressed = true;
            form->ProgressDialog->Form()->Button1Click();
        }
        original(sender, count, abort);
    };
    prompts.AnswerQuestion(QMessageBox::YesToAll);
    form->DownloadFile1Click();
    form->FTPC1->OnProgress = original;
    ASSERT_TRUE(pressed);
    const qint64 partial = QFileInfo(local.filePath(QStringLiteral("huge1.bin"))).size();
    EXPECT_LT(partial, size);
    EXPECT_FALSE(QFile::exists(local.filePath(QStringLiteral("huge2.bin"))));
    EXPECT_FALSE(form->CancelTransfer);
    EXPECT_FALSE(form->ProgressDialog->IsOpen());
    ASSERT_TRUE(form->IsConnected()) << LogText(*form).toStdString();

    // The session is still usable and the partial file resumable.
    form->RefreshRemoteListing1Click();
    Select(form->RemoteFiles, {QStringLiteral("huge1.bin")});
    form->ResumeDownload1Click();
    EXPECT_TRUE(ReadAll(local.filePath(QStringLiteral("huge1.bin"))) == ReadAll(Remote(QStringLiteral("huge1.bin"))));
}

TEST_F(TransferTest, DirectoryUploadQueuesTheWholeTree)
{
    QuickConnect();
    MakeLocal({QStringLiteral("p.bin"), QStringLiteral("q.txt")}, 3000);
    ASSERT_TRUE(QDir(local.path()).mkdir(QStringLiteral("nested")));
    WriteFile(local.filePath(QStringLiteral("nested/deep.bin")), "deep");
    form->SendDirectory1Click();
    // The folder itself arrives under its own name, sub-folders and all,
    // through the queue's own sessions.
    const QString name = QFileInfo(local.path()).fileName();
    ASSERT_TRUE(testsupport::WaitFor([this] { return form->QueueIdle(); }, 30000)) << LogText(*form).toStdString();
    EXPECT_EQ(ReadAll(Remote(name + QStringLiteral("/p.bin"))), ReadAll(local.filePath(QStringLiteral("p.bin"))));
    EXPECT_EQ(ReadAll(Remote(name + QStringLiteral("/q.txt"))), ReadAll(local.filePath(QStringLiteral("q.txt"))));
    EXPECT_EQ(ReadAll(Remote(name + QStringLiteral("/nested/deep.bin"))), QByteArray("deep"));
    EXPECT_FALSE(QFile::exists(Remote(QStringLiteral("p.bin"))));
    ASSERT_TRUE(testsupport::WaitFor([&] { return Captions(form->RemoteDirs).contains(name); }, 10000))
        << Captions(form->RemoteDirs).join('|').toStdString();
    EXPECT_EQ(form->DragSource, QStringLiteral("remoteDir"));
}

TEST_F(TransferTest, DragFromLocalToRemoteAndBack)
{
    // Not connected: a drag from the local list carries nothing.
    MakeLocal({QStringLiteral("drag1.bin"), QStringLiteral("drag2.bin")}, 9000);
    Select(form->List1, {QStringLiteral("drag1.bin"), QStringLiteral("drag2.bin")});
    form->List1StartDrag();
    EXPECT_TRUE(form->SelectionList.isEmpty());

    QuickConnect();
    Select(form->List1, {QStringLiteral("drag1.bin"), QStringLiteral("drag2.bin")});
    form->List1StartDrag();
    EXPECT_EQ(form->DragSource, QStringLiteral("list"));
    EXPECT_EQ(form->SelectionList.size(), 2);
    EXPECT_TRUE(form->RemoteFilesDragOver());
    form->RemoteFilesDragDrop();
    EXPECT_EQ(ReadAll(Remote(QStringLiteral("drag1.bin"))), ReadAll(local.filePath(QStringLiteral("drag1.bin"))));
    EXPECT_EQ(ReadAll(Remote(QStringLiteral("drag2.bin"))), ReadAll(local.filePath(QStringLiteral("drag2.bin"))));
    EXPECT_TRUE(form->SelectionList.isEmpty());

    QTemporaryDir back;
    ASSERT_TRUE(form->SelectFolder(back.path()));
    Select(form->RemoteFiles, {QStringLiteral("drag2.bin")});
    form->RemoteFilesStartDrag();
    EXPECT_TRUE(form->List1DragOver(true));
    EXPECT_FALSE(form->List1DragOver(false));
    form->List1DragDrop();
    EXPECT_EQ(ReadAll(back.filePath(QStringLiteral("drag2.bin"))), ReadAll(Remote(QStringLiteral("drag2.bin"))));
    EXPECT_FALSE(QFile::exists(back.filePath(QStringLiteral("drag1.bin"))));
    EXPECT_TRUE(Captions(form->List1).contains(QStringLiteral("drag2.bin")));

    // A folder dragged from the tree is queued like Upload Directory: the
    // whole folder, under its own name.
    WriteFile(back.filePath(QStringLiteral("fromtree.bin")), Pattern(777, 9));
    form->Dir1StartDrag();
    EXPECT_EQ(form->DragSource, QStringLiteral("remoteDir"));
    form->RemoteFilesDragDrop();
    ASSERT_TRUE(testsupport::WaitFor([this] { return form->QueueIdle(); }, 30000)) << LogText(*form).toStdString();
    const QString name = QFileInfo(back.path()).fileName();
    EXPECT_EQ(ReadAll(Remote(name + QStringLiteral("/fromtree.bin"))),
              ReadAll(back.filePath(QStringLiteral("fromtree.bin"))));
    EXPECT_EQ(ReadAll(Remote(name + QStringLiteral("/drag2.bin"))), ReadAll(Remote(QStringLiteral("drag2.bin"))));
    EXPECT_EQ(prompts.Unexpected(), 0);
}

TEST_F(TransferTest, ZeroLengthUploadAndAsciiMode)
{
    QuickConnect();
    MakeLocal({QStringLiteral("before.bin")}, 4321);
    form->SendAFile(local.filePath(QStringLiteral("before.bin")), QStringLiteral("before.bin"));
    EXPECT_EQ(form->TransferSize, 4321);
    WriteFile(local.filePath(QStringLiteral("empty.bin")), QByteArray());
    // An empty file's progress shows its own size, not the previous file's.
    form->SendAFile(local.filePath(QStringLiteral("empty.bin")), QStringLiteral("empty.bin"));
    EXPECT_EQ(form->TransferSize, 0);
    ASSERT_TRUE(QFile::exists(Remote(QStringLiteral("empty.bin"))));
    EXPECT_EQ(QFileInfo(Remote(QStringLiteral("empty.bin"))).size(), 0);

    form->SendAFile(local.filePath(QStringLiteral("missing.bin")), QStringLiteral("missing.bin"));
    EXPECT_EQ(
        prompts.Notices(),
        QStringList{QStringLiteral("File doesn't exist!|The file selected file does not exist on your local drive!")});

    // The transfer type is chosen again for every file.
    form->Radio2->setChecked(true);
    WriteFile(local.filePath(QStringLiteral("lines.txt")), "one\ntwo\n");
    form->SendAFile(local.filePath(QStringLiteral("lines.txt")), QStringLiteral("lines.txt"));
    EXPECT_EQ(Sent(QStringLiteral("TYPE A")), 1) << LogText(*form).toStdString();
    EXPECT_EQ(ReadAll(Remote(QStringLiteral("lines.txt"))), QByteArray("one\ntwo\n"));
}

TEST_F(TransferTest, ViewOfAFileWithoutExtension)
{
    QuickConnect();
    MakeRemote({QStringLiteral("readme")}, 1500);
    Select(form->RemoteFiles, {QStringLiteral("readme")});
    form->ViewRemoteFile1Click();
    // The copy goes into the program's own temporary folder, never among
    // the user's files.
    ASSERT_EQ(shell.opened.size(), 1);
    const QString temp = shell.opened.front().toLocalFile();
    EXPECT_EQ(QFileInfo(temp).fileName(), QStringLiteral("ftp_temp"));
    EXPECT_NE(QFileInfo(temp).path(), local.path());
    EXPECT_EQ(ReadAll(temp), ReadAll(Remote(QStringLiteral("readme"))));
    EXPECT_FALSE(Captions(form->List1).contains(QStringLiteral("ftp_temp")));

    MakeRemote({QStringLiteral("page.html")}, 10);
    Select(form->RemoteFiles, {QStringLiteral("page.html")});
    form->ViewRemoteFile1Click();
    ASSERT_EQ(shell.opened.size(), 2);
    EXPECT_EQ(shell.opened.back().toLocalFile(), QFileInfo(temp).path() + QStringLiteral("/ftp_temp.html"));
    EXPECT_EQ(ReadAll(shell.opened.back().toLocalFile()), ReadAll(Remote(QStringLiteral("page.html"))));
}

TEST(HostileServer, NamesLeavingTheFolderAreRefused)
{
    testsupport::ScriptedPrompts prompts;
    testsupport::RecordingShell shell;
    QTemporaryDir outer;
    const QString chosen = outer.filePath(QStringLiteral("chosen/inner"));
    ASSERT_TRUE(QDir().mkpath(chosen));
    const std::string listing = "-rw-r--r-- 1 u g 6 Jan 1 00:00 ../escape\r\n"
                                "-rw-r--r-- 1 u g 6 Jan 1 00:00 /etc/escape\r\n"
                                "-rw-r--r-- 1 u g 6 Jan 1 00:00 a/b\r\n"
                                "-rw-r--r-- 1 u g 6 Jan 1 00:00 ..\r\n"
                                "-rw-r--r-- 1 u g 6 Jan 1 00:00 fine\r\n";
    std::string retrieved;
    ftptest::FakeFtpServer fake([&](ftptest::FakeSession& s) {
        s.Reply("220 hostile");
        for (;;) {
            const std::string line = s.ReadLine();
            if (line.empty())
                return;
            const std::string verb = line.substr(0, line.find(' '));
            if (verb == "USER")
                s.Reply("331 ok");
            else if (verb == "PASS")
                s.Reply("230 ok");
            else if (verb == "PWD")
                s.Reply("257 \"/\"");
            else if (verb == "SIZE")
                s.Reply("213 6");
            else if (verb == "PASV") {
                const int port = s.ListenData();
                s.Reply("227 Entering Passive Mode (127,0,0,1," + std::to_string(port / 256) + "," +
                        std::to_string(port % 256) + ")");
            } else if (verb == "LIST" || verb == "RETR") {
                if (!s.AcceptData()) {
                    s.Reply("425 no data");
                    continue;
                }
                if (verb == "RETR")
                    retrieved += line.substr(5) + "|";
                s.Reply("150 go");
                s.SendData(verb == "LIST" ? listing : std::string("escape"));
                s.CloseData();
                s.Reply("226 done");
            } else if (verb == "QUIT") {
                s.Reply("221 bye");
                return;
            } else
                s.Reply("200 ok");
        }
    });
    TFormMain form;
    ASSERT_TRUE(form.SelectFolder(chosen));
    form.SiteHost = QStringLiteral("127.0.0.1");
    form.SiteUser = QStringLiteral("u");
    form.SitePassword = QStringLiteral("p");
    form.SitePort = QString::fromStdString(fake.PortText());
    form.SitePassive = true;
    form.OpenSession();
    ASSERT_TRUE(form.IsConnected()) << LogText(form).toStdString();
    ASSERT_EQ(form.RemoteFiles->Items()->Count(), 5);

    for (int row = 0; row < 5; ++row)
        form.RemoteFiles->SelectRow(row);
    prompts.AnswerQuestion(QMessageBox::YesToAll);
    form.DownloadFile1Click();
    for (const char* name : {"../escape", "/etc/escape", "a/b"})
        EXPECT_EQ(LogCount(form, QStringLiteral("Error: Refused to write the remote file \"") + QLatin1String(name) +
                                     QStringLiteral("\": its name leads outside the folder \"") + chosen +
                                     QStringLiteral("/\"")),
                  1)
            << name << LogText(form).toStdString();
    // The batch went on with the harmless name.
    EXPECT_EQ(retrieved, "fine|");
    EXPECT_EQ(sessiontest::ReadAll(chosen + QStringLiteral("/fine")), QByteArray("escape"));

    // Resume, view and drop refuse the same names.
    form.RemoteFiles->ClearSelection();
    form.RemoteFiles->SelectRow(0);
    WriteFile(outer.filePath(QStringLiteral("chosen/escape")), "part");
    form.ResumeDownload1Click();
    form.RemoteFiles->ClearSelection();
    form.RemoteFiles->SelectRow(2);
    form.ViewRemoteFile1Click();
    EXPECT_TRUE(shell.opened.isEmpty());
    form.SelectionList = QStringList{QStringLiteral("../escape"), QStringLiteral("/etc/escape"), QStringLiteral("a/b")};
    form.DragSource = QStringLiteral("remote");
    form.List1DragDrop();
    EXPECT_EQ(retrieved, "fine|");

    EXPECT_EQ(sessiontest::ReadAll(outer.filePath(QStringLiteral("chosen/escape"))), QByteArray("part"));
    EXPECT_FALSE(QFile::exists(outer.filePath(QStringLiteral("escape"))));
    EXPECT_FALSE(QFile::exists(chosen + QStringLiteral("/a")));
    QStringList written = QDir(chosen).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    EXPECT_EQ(written, QStringList{QStringLiteral("fine")});
    form.FTPC1->AbortAsync();
}

} // namespace
