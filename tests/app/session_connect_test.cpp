// Connecting, the FTP events in the window, the remote listing and moving
// between remote directories, against pyftpdlib and scripted servers.
#include "sessionfixture.h"

#include "dialogs/transfer.h"
#include "dialogs/transferprogress.h"
#include "ftp/ftpclient.h"
#include "profiles/login.h"
#include "support/eventwait.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTimer>

#include <unistd.h>

using namespace sessiontest;

namespace {

// Answers the commands of a login and of listings; `listing` is sent for
// every LIST. With `closeAfterListing` the server hangs up after the first
// listing's PWD.
void ServeListings(ftptest::FakeSession& s, const std::string& listing, bool closeAfterListing = false,
                   std::string* retrieved = nullptr)
{
    s.Reply("220 fake ready");
    for (;;) {
        const std::string line = s.ReadLine();
        if (line.empty())
            return;
        const std::string verb = line.substr(0, line.find(' '));
        if (verb == "USER")
            s.Reply("331 password please");
        else if (verb == "PASS")
            s.Reply("230 logged in");
        else if (verb == "SYST")
            s.Reply("215 UNIX Type: L8");
        else if (verb == "TYPE" || verb == "NOOP")
            s.Reply("200 ok");
        else if (verb == "CWD" || verb == "CDUP")
            s.Reply("250 ok");
        else if (verb == "PWD") {
            s.Reply("257 \"/\" is the current directory");
            if (closeAfterListing) {
                s.Close();
                return;
            }
        } else if (verb == "SIZE")
            s.Reply("213 6");
        else if (verb == "PASV") {
            const int port = s.ListenData();
            s.Reply("227 Entering Passive Mode (127,0,0,1," + std::to_string(port / 256) + "," +
                    std::to_string(port % 256) + ")");
        } else if (verb == "LIST" || verb == "RETR") {
            if (!s.AcceptData()) {
                s.Reply("425 no data connection");
                continue;
            }
            if (verb == "RETR" && retrieved)
                *retrieved += line.substr(5) + "\n";
            s.Reply("150 here it comes");
            s.SendData(verb == "LIST" ? listing : std::string("escape"));
            s.CloseData();
            s.Reply("226 done");
        } else if (verb == "QUIT") {
            s.Reply("221 bye");
            return;
        } else
            s.Reply("502 not here");
    }
}

TEST_F(SessionTest, ClientConfigurationAndStartState)
{
    EXPECT_EQ(form->FTPC1->Timeout(), 15);
    EXPECT_TRUE(form->FTPC1->Binary());
    EXPECT_EQ(form->FTPC1->ShareMode(), ftpShareExclusive);
    EXPECT_TRUE(form->FTPC1->Options().Contains(ftpAcceptLF));
    EXPECT_FALSE(form->IsConnected());
    EXPECT_FALSE(form->RemoteFiles->isEnabled());
    EXPECT_TRUE(LogText(*form).contains(QStringLiteral("Initializing "))) << LogText(*form).toStdString();
    EXPECT_TRUE(LogText(*form).contains(QStringLiteral("Status: ")));
    form->Disconnect1Click();
    EXPECT_EQ(prompts.Notices(), QStringList{QStringLiteral("Cannot Execute command|You are already diconnected!")});
}

TEST_F(SessionTest, ProgressWithoutADialogAndCancel)
{
    // After a failed, aborted or resumed transfer the flag stays raised
    // while the dialog is gone.
    form->ProgressActive = true;
    bool abort = true;
    form->FTPC1Progress(form->FTPC1.get(), 12345, abort);
    EXPECT_FALSE(abort);
    EXPECT_FALSE(form->ProgressDialog->IsOpen());

    auto dialog = form->ProgressDialog->Open(TProgressDirection::Receiving, QStringLiteral("f"), QStringLiteral("/f"),
                                             local.filePath(QStringLiteral("f")), 1000, 0);
    form->FTPC1Progress(form->FTPC1.get(), 500, abort);
    EXPECT_EQ(dialog.Form()->BytesDone(), 500);
    form->ProgressActive = false;
    form->FTPC1Progress(form->FTPC1.get(), 900, abort);
    EXPECT_EQ(dialog.Form()->BytesDone(), 500);

    form->ResumeOffset = 77;
    form->CancelTransfer = true;
    form->FTPC1Progress(form->FTPC1.get(), 950, abort);
    EXPECT_TRUE(abort);
    EXPECT_EQ(form->ResumeOffset, 0);
    dialog.Close();
    form->CancelTransfer = false;
}

TEST_F(SessionTest, LoginDialogConnectsAndListsBothPanes)
{
    StartServer();
    WriteFile(Remote(QStringLiteral("my file.txt")), "hello");
    WriteFile(Remote(QStringLiteral("index.HTML")), "<html>");
    WriteFile(Remote(QStringLiteral("notes.txt.bak")), "n");
    ASSERT_TRUE(QDir().mkdir(Remote(QStringLiteral("sub"))));
    ASSERT_EQ(symlink("sub", Remote(QStringLiteral("www")).toLocal8Bit().constData()), 0);

    QTimer::singleShot(0, [this] {
        auto* dialog = qobject_cast<TLogForm*>(QApplication::activeModalWidget());
        ASSERT_TRUE(dialog);
        dialog->findChild<QLineEdit*>(QStringLiteral("Host_Edit"))->setText(QStringLiteral("127.0.0.1"));
        dialog->findChild<QLineEdit*>(QStringLiteral("User_Edit"))->setText(QString::fromStdString(server->User()));
        dialog->findChild<QLineEdit*>(QStringLiteral("Pass_Edit"))->setText(QString::fromStdString(server->Password()));
        dialog->findChild<QLineEdit*>(QStringLiteral("Port_Edit"))->setText(QString::fromStdString(server->PortText()));
        dialog->Button1Click();
    });
    form->Connect1Click();
    ASSERT_TRUE(form->IsConnected()) << LogText(*form).toStdString();

    const QString log = LogText(*form);
    EXPECT_TRUE(log.contains(QStringLiteral("..Connected to: 127.0.0.1 - IP (127.0.0.1)"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("..Received response from: IP (127.0.0.1)")));
    EXPECT_TRUE(log.contains(QStringLiteral("..Waiting for response")));
    EXPECT_TRUE(log.contains(QStringLiteral("..Ready")));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Tarvik - Connected to: 127.0.0.1 - IP (127.0.0.1)"));
    EXPECT_EQ(form->StatusText(1), QStringLiteral("Current Directory - /"));
    EXPECT_EQ(form->StatusText(0), QString());
    EXPECT_EQ(form->RemoteDir, QStringLiteral("/"));
    EXPECT_TRUE(form->RemoteFiles->isEnabled());
    EXPECT_TRUE(form->RemoteDirs->isEnabled());
    EXPECT_TRUE(form->Disconnect1->isEnabled());
    EXPECT_FALSE(form->Connect1->isEnabled());

    // A link's target may be a file or a directory: it is listed with the
    // files, under its own name.
    const TListModel* files = form->RemoteFiles->Items();
    ASSERT_EQ(files->Count(), 4) << Captions(form->RemoteFiles).join(QLatin1Char('|')).toStdString();
    for (int row = 0; row < files->Count(); ++row) {
        const TListItem& item = files->Item(row);
        ASSERT_EQ(item.SubItems.size(), 3);
        if (item.Caption == QLatin1String("www -> sub")) {
            EXPECT_EQ(files->Name(row), QStringLiteral("www"));
        } else if (item.Caption == QLatin1String("my file.txt")) {
            EXPECT_EQ(item.ImageIndex, 1);
            EXPECT_EQ(item.SubItems[0], QStringLiteral("5 "));
            EXPECT_TRUE(item.SubItems[1].endsWith(QStringLiteral("  "))) << item.SubItems[1].toStdString();
            EXPECT_TRUE(item.SubItems[2].startsWith(QLatin1Char('-')));
            EXPECT_TRUE(item.SubItems[2].endsWith(QLatin1Char(' ')));
        } else if (item.Caption == QLatin1String("index.HTML")) {
            EXPECT_EQ(item.ImageIndex, 0);
        } else {
            EXPECT_EQ(item.Caption, QStringLiteral("notes.txt.bak"));
            EXPECT_EQ(item.ImageIndex, 1);
        }
    }
    QStringList dirs = Captions(form->RemoteDirs);
    dirs.sort();
    EXPECT_EQ(dirs, (QStringList{QStringLiteral("sub")}));
    EXPECT_EQ(form->RemoteDirs->Items()->Item(0).ImageIndex, 2);
    EXPECT_EQ(prompts.Unexpected(), 0);
}

TEST_F(SessionTest, DirectoriesLinksUpAndRefresh)
{
    StartServer();
    ASSERT_TRUE(QDir().mkdir(Remote(QStringLiteral("sub"))));
    WriteFile(Remote(QStringLiteral("sub/inner.bin")), "inside");
    ASSERT_EQ(symlink("sub", Remote(QStringLiteral("www")).toLocal8Bit().constData()), 0);
    QuickConnect();
    EXPECT_EQ(form->SiteHost, QStringLiteral("127.0.0.1"));

    form->RemoteDirs->ClearSelection();
    form->RemoteDirsDblClick();
    EXPECT_EQ(prompts.Notices(),
              QStringList{QStringLiteral("Tarvik|You must click on the folder to change directories.")});

    Select(form->RemoteDirs, {QStringLiteral("sub")});
    form->RemoteDirsDblClick();
    EXPECT_EQ(LogCount(*form, QStringLiteral("Directory is \"sub\"")), 1) << LogText(*form).toStdString();
    EXPECT_EQ(Captions(form->RemoteFiles), QStringList{QStringLiteral("inner.bin")});
    EXPECT_EQ(form->StatusText(1), QStringLiteral("Current Directory - /sub"));

    form->UpDirectory1Click();
    EXPECT_EQ(form->StatusText(1), QStringLiteral("Current Directory - /"));
    EXPECT_EQ(Captions(form->RemoteFiles), QStringList{QStringLiteral("www -> sub")});

    // A link is tried as a directory first, and entered.
    Select(form->RemoteFiles, {QStringLiteral("www -> sub")});
    form->RemoteFilesDblClick();
    EXPECT_EQ(LogCount(*form, QStringLiteral("Directory is \"www\"")), 1) << LogText(*form).toStdString();
    EXPECT_EQ(form->RemoteDir, QStringLiteral("/www"));

    WriteFile(Remote(QStringLiteral("sub/later.txt")), "new");
    form->RefreshRemoteListing1Click();
    QStringList files = Captions(form->RemoteFiles);
    files.sort();
    EXPECT_EQ(files, (QStringList{QStringLiteral("inner.bin"), QStringLiteral("later.txt")}));
    EXPECT_TRUE(QFile::exists(form->ListingFile));
    EXPECT_EQ(prompts.Unexpected(), 0);

    Disconnect();
    EXPECT_FALSE(form->IsConnected());
    EXPECT_EQ(form->RemoteFiles->Items()->Count(), 0);
    EXPECT_EQ(form->RemoteDirs->Items()->Count(), 0);
    EXPECT_FALSE(form->RemoteFiles->isEnabled());
    EXPECT_FALSE(form->RemoteDirs->isEnabled());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Tarvik - No Connection"));
    EXPECT_EQ(form->StatusText(1), QStringLiteral("Disconnected"));
    EXPECT_TRUE(LogText(*form).contains(QStringLiteral("..Disconnected")));

    // The same window connects again.
    form->QuickConnect1Click();
    EXPECT_TRUE(form->IsConnected());
    EXPECT_EQ(form->StatusText(1), QStringLiteral("Current Directory - /"));
    EXPECT_FALSE(LogText(*form).contains(QStringLiteral("not ready")));
}

TEST_F(SessionTest, QuickConnectWithNoProfileUsesThePreviousFields)
{
    StartServer();
    form->SiteHost = QStringLiteral("127.0.0.1");
    form->SiteUser = QString::fromStdString(server->User());
    form->SitePassword = QString::fromStdString(server->Password());
    form->SitePort = QString::fromStdString(server->PortText());
    form->FillQuickConnectList();
    ASSERT_EQ(form->ComboQuick->count(), 0);
    form->QuickConnect1Click();
    EXPECT_EQ(prompts.Notices().size(), 1);
    EXPECT_TRUE(prompts.Notices().value(0).startsWith(QStringLiteral("Quick Connect|")));
    EXPECT_TRUE(form->IsConnected()) << LogText(*form).toStdString();
}

TEST_F(SessionTest, RejectedLoginIsAskedAgain)
{
    StartServer();
    form->SiteHost = QStringLiteral("127.0.0.1");
    form->SiteUser = QString::fromStdString(server->User());
    form->SitePassword = QStringLiteral("wrong");
    form->SitePort = QString::fromStdString(server->PortText());
    prompts.AnswerInput(QString::fromStdString(server->User()));
    prompts.AnswerInput(QString::fromStdString(server->Password()));
    form->OpenSession();
    // The refusal is told first, with the server's reply; then the login
    // is asked again, the password masked.
    ASSERT_EQ(prompts.Records().size(), 3);
    EXPECT_EQ(prompts.Records()[0].caption, QStringLiteral("Login failed"));
    EXPECT_EQ(prompts.Records()[1].caption, QStringLiteral("Invalid Login"));
    EXPECT_EQ(prompts.Records()[1].text, QStringLiteral("Please enter your username"));
    EXPECT_EQ(prompts.Records()[2].text, QStringLiteral("Please enter your password"));
    EXPECT_EQ(prompts.Records()[2].kind, QStringLiteral("password"));
    EXPECT_EQ(form->SitePassword, QString::fromStdString(server->Password()));
    EXPECT_EQ(form->StatusText(1), QStringLiteral("Current Directory - /")) << LogText(*form).toStdString();
    EXPECT_EQ(prompts.Notices().size(), 1);
}

TEST_F(SessionTest, RejectedLoginTwiceThenGivenUp)
{
    StartServer();
    form->SiteHost = QStringLiteral("127.0.0.1");
    form->SiteUser = QString::fromStdString(server->User());
    form->SitePassword = QStringLiteral("wrong");
    form->SitePort = QString::fromStdString(server->PortText());
    prompts.AnswerInput(QString::fromStdString(server->User()));
    prompts.AnswerInput(QStringLiteral("still wrong"));
    prompts.CancelInput();
    prompts.AnswerInput(QStringLiteral("whatever"));
    // The listing that follows the connection is refused as well and asks
    // once more; that one is given up too.
    prompts.CancelInput();
    prompts.CancelInput();
    form->OpenSession();
    const QString invalid = QStringLiteral(
        "Invalid Login|You can not connect to the remote host: Invalid Username and Password");
    ASSERT_GE(prompts.Notices().size(), 1);
    EXPECT_EQ(prompts.Notices().back(), invalid);
    EXPECT_EQ(prompts.Notices().count(invalid), 1);
    EXPECT_GE(prompts.Records().size(), 5);
    EXPECT_EQ(form->RemoteFiles->Items()->Count(), 0);
    EXPECT_EQ(form->SitePassword, QStringLiteral("still wrong"));
}

TEST_F(SessionTest, SilentServerTimesOut)
{
    ftptest::FakeFtpServer silent([](ftptest::FakeSession& s) { s.WaitClosed(20000); });
    form->FTPC1->SetTimeout(2);
    ConnectFake(silent);
    EXPECT_TRUE(LogText(*form).contains(QStringLiteral("Error: Timed out!"))) << LogText(*form).toStdString();
    ASSERT_FALSE(prompts.Notices().isEmpty());
    EXPECT_EQ(prompts.Notices().front(),
              QStringLiteral("Connection Timeout|The connection timed out while waiting for a response from the "
                             "server.\nPlease try again or contact your server administrator"));
    EXPECT_FALSE(form->IsConnected());
}

TEST_F(SessionTest, DotsLinksAndUnsafeLinesFromAScriptedServer)
{
    std::string listing = "total 12\r\n"
                          "drwxr-xr-x   2 u g 4096 Jan  1 00:00 .\r\n"
                          "drwxr-xr-x   2 u g 4096 Jan  1 00:00 ..\r\n"
                          "lrwxrwxrwx   1 u g   11 Jan  1 00:00 www -> public_html\r\n"
                          "-rw-r--r--   1 u g 1234 Jan 12 10:30 index.html\r\n"
                          "-rw-r--r--   1 u g    1 Jan 12 10:30 bell\x07name\r\n"
                          "-rw-r--r--   1 u g    1 Jan 12 10:30 ";
    listing += std::string(100000, 'n') + "\n";
    std::string retrieved;
    ftptest::FakeFtpServer fake([&](ftptest::FakeSession& s) { ServeListings(s, listing, false, &retrieved); });
    ConnectFake(fake);
    ASSERT_TRUE(form->IsConnected()) << LogText(*form).toStdString();
    EXPECT_EQ(Captions(form->RemoteDirs), (QStringList{QStringLiteral("."), QStringLiteral("..")}));
    const TListModel* files = form->RemoteFiles->Items();
    ASSERT_EQ(files->Count(), 4);
    EXPECT_EQ(files->Item(0).Caption, QStringLiteral("www -> public_html"));
    EXPECT_EQ(files->Name(0), QStringLiteral("www"));
    EXPECT_EQ(files->Item(1).Caption, QStringLiteral("index.html"));
    EXPECT_EQ(files->Item(1).SubItems, (QStringList{QStringLiteral("1234 "), QStringLiteral("Jan  12  10:30  "),
                                                    QStringLiteral("-rw-r--r-- ")}));
    // Shown with the control character made visible; the name itself kept.
    EXPECT_EQ(files->Item(2).Caption, QStringLiteral("bell") + QChar(0x2407) + QStringLiteral("name"));
    EXPECT_EQ(files->Name(2), QString::fromLatin1("bell\x07"
                                                  "name"));
    EXPECT_LE(files->Item(3).Caption.size(), 600);
    EXPECT_EQ(files->Name(3).size(), 100000);

    // A link is tried as a directory first, under its own name.
    form->RemoteFiles->ClearSelection();
    form->RemoteFiles->SelectRow(0);
    form->RemoteFilesDblClick();
    EXPECT_EQ(LogCount(*form, QStringLiteral("Directory is \"www\"")), 1) << LogText(*form).toStdString();
}

TEST_F(SessionTest, ServerClosingTheSessionClearsBothPanes)
{
    const std::string listing = "drwxr-xr-x 2 u g 4096 Jan 1 00:00 dir\r\n-rw-r--r-- 1 u g 5 Jan 1 00:00 file\r\n";
    ftptest::FakeFtpServer fake([&](ftptest::FakeSession& s) { ServeListings(s, listing, true); });
    ConnectFake(fake);
    ASSERT_TRUE(testsupport::WaitFor([this] { return !form->IsConnected(); }, 5000));
    EXPECT_EQ(form->RemoteFiles->Items()->Count(), 0);
    EXPECT_EQ(form->RemoteDirs->Items()->Count(), 0);
    EXPECT_FALSE(form->RemoteFiles->isEnabled());
    EXPECT_FALSE(form->RemoteDirs->isEnabled());
    EXPECT_TRUE(form->Connect1->isEnabled());
}

TEST_F(SessionTest, UnreadableListingFileReachesTheErrorDisplay)
{
    const std::string listing = "-rw-r--r-- 1 u g 5 Jan 1 00:00 file\r\n";
    ftptest::FakeFtpServer fake([&](ftptest::FakeSession& s) { ServeListings(s, listing); });
    ConnectFake(fake);
    ASSERT_TRUE(form->IsConnected());
    ASSERT_EQ(form->RemoteFiles->Items()->Count(), 1);
    QFile::remove(form->ListingFile);
    ASSERT_TRUE(QDir().mkdir(form->ListingFile)); // a folder cannot be read as a file
    prompts.Clear();
    form->ParseRemoteListing();
    QDir().rmdir(form->ListingFile);
    ASSERT_EQ(prompts.Notices().size(), 1) << LogText(*form).toStdString() << prompts.Records().size();
    EXPECT_TRUE(prompts.Notices().front().startsWith(QStringLiteral("Application Error|")));
    EXPECT_TRUE(form->StatusText(1).startsWith(QStringLiteral("Message: Cannot open file")))
        << form->StatusText(1).toStdString();
}

} // namespace
