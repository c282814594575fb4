// The main window as a frame: caption, settings kept between runs, closing,
// the error display, help and the web-site command.
#include "platform/appfolder.h"
#include "app/formmain.h"
#include "app/listview.h"
#include "dialogs/about.h"
#include "ui/helpfile.h"
#include "support/gui/scriptedprompts.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QToolBar>
#include <QSplitter>
#include <QTreeView>
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "support/eventwait.h"

namespace {

// A window whose session can be made to look connected.
class TConnectedForm final : public TFormMain {
public:
    bool connected = true;
    int quits = 0;
    int aborts = 0;
    bool IsConnected() const override { return connected; }

protected:
    void QuitSession() override { ++quits; }
    void AbortSession() override { ++aborts; }
};

QSettings Store() { return QSettings(QStringLiteral("Veltrane"), QStringLiteral("Tarvik")); }

class FormMainFrame : public ::testing::Test {
protected:
    void SetUp() override { Store().remove(QStringLiteral("Settings")); }
    void TearDown() override { THelpFile::SetSearchFolders({}); }
    testsupport::ScriptedPrompts prompts;
    testsupport::RecordingShell shell;
};

TEST_F(FormMainFrame, FirstStartIsCentred640By455OnTheHomeFolder)
{
    TFormMain form;
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Tarvik"));
    EXPECT_EQ(form.size(), QSize(640, 455));
    EXPECT_EQ(form.minimumSize(), QSize(640, 440));
    // The user's own files, not the program's folder.
    EXPECT_EQ(form.SelectedFolder(), QDir::homePath());
    EXPECT_EQ(form.ListingFile, appfolder::ApplicationFolder() + QStringLiteral("/FTPDIR.TXT"));
    EXPECT_EQ(FormMain, &form);
    EXPECT_TRUE(prompts.Records().isEmpty());
    form.show();
    form.SetStatusText(1, QStringLiteral("Disconnected"));
    testsupport::RunFor(20);
    EXPECT_EQ(form.StatusPanel0->width(), 300);
    EXPECT_GE(form.StatusPanel1->x(), 300);
}

TEST_F(FormMainFrame, CaptionRules)
{
    TFormMain form;
    form.SetCaptionConnected(QStringLiteral("ftp.example.org"), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Tarvik - Connected to: ftp.example.org - IP (127.0.0.1)"));
    form.SetCaptionDisconnected();
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Tarvik - No Connection"));
}

TEST_F(FormMainFrame, WindowSettingsRoundTrip)
{
    QTemporaryDir folder;
    {
        TFormMain form;
        ASSERT_TRUE(form.SelectFolder(folder.path()));
        form.move(33, 44);
        form.resize(700, 500);
        form.Toolbar2->hide();
        form.SaveWindowSettings();
    }
    QSettings store = Store();
    EXPECT_EQ(store.value(QStringLiteral("Settings/Path")).toString(), folder.path());
    EXPECT_EQ(store.value(QStringLiteral("Settings/State")).toString(), QStringLiteral("Normal"));
    EXPECT_EQ(store.value(QStringLiteral("Settings/Left")).toInt(), 33);
    EXPECT_EQ(store.value(QStringLiteral("Settings/Top")).toInt(), 44);
    EXPECT_EQ(store.value(QStringLiteral("Settings/Width")).toInt(), 700);
    EXPECT_EQ(store.value(QStringLiteral("Settings/Height")).toInt(), 500);

    TFormMain again;
    EXPECT_EQ(again.SelectedFolder(), folder.path());
    EXPECT_EQ(again.pos(), QPoint(33, 44));
    EXPECT_EQ(again.size(), QSize(700, 500));
    EXPECT_TRUE(again.Toolbar2->isHidden());
    EXPECT_FALSE(again.Toolbar1->isHidden());
    EXPECT_FALSE(again.MainToolbar1->isChecked());
}

TEST_F(FormMainFrame, MaximisedKeepsTheLastNormalPlacement)
{
    {
        QSettings store = Store();
        store.setValue(QStringLiteral("Settings/State"), QStringLiteral("Max"));
        store.setValue(QStringLiteral("Settings/Left"), 5);
        store.setValue(QStringLiteral("Settings/Top"), 6);
        store.setValue(QStringLiteral("Settings/Width"), 800);
        store.setValue(QStringLiteral("Settings/Height"), 600);
    }
    TFormMain form;
    EXPECT_TRUE(form.windowState() & Qt::WindowMaximized);
    form.show();
    form.SaveWindowSettings();
    QSettings store = Store();
    EXPECT_EQ(store.value(QStringLiteral("Settings/State")).toString(), QStringLiteral("Max"));
    EXPECT_EQ(store.value(QStringLiteral("Settings/Left")).toInt(), 5);
    EXPECT_EQ(store.value(QStringLiteral("Settings/Width")).toInt(), 800);
    EXPECT_FALSE(store.value(QStringLiteral("Settings/Path")).toString().isEmpty());
}

TEST_F(FormMainFrame, MissingOrEmptyPathStaysOnTheHomeFolder)
{
    Store().setValue(QStringLiteral("Settings/Path"), QString());
    TFormMain form;
    EXPECT_EQ(form.SelectedFolder(), QDir::homePath());
    EXPECT_EQ(form.size(), QSize(640, 455)); // no "State": the layout's size stays
}

TEST_F(FormMainFrame, ClosingWhileConnectedAsksAndCancelKeepsTheWindow)
{
    TConnectedForm form;
    form.show();
    prompts.AnswerQuestion(QMessageBox::Cancel);
    EXPECT_FALSE(form.close());
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.quits, 0);
    ASSERT_EQ(prompts.Records().size(), 1);
    EXPECT_EQ(prompts.Records()[0].text, QStringLiteral("You are still connected. Are you sure you want to exit?"));
    EXPECT_EQ(prompts.Beeps(), 1);
    EXPECT_FALSE(Store().contains(QStringLiteral("Settings/State")));

    prompts.AnswerQuestion(QMessageBox::Yes);
    form.Exit1->trigger();
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.quits, 1);
    EXPECT_EQ(Store().value(QStringLiteral("Settings/State")).toString(), QStringLiteral("Normal"));
    EXPECT_EQ(prompts.Unexpected(), 0);
}

TEST_F(FormMainFrame, ClosingWhileNotConnectedAsksNothing)
{
    TConnectedForm form;
    form.connected = false;
    form.show();
    EXPECT_TRUE(form.close());
    EXPECT_TRUE(prompts.Records().isEmpty());
    EXPECT_EQ(form.quits, 0);
}

TEST_F(FormMainFrame, DoErrorShowsApplicationErrorAndAbortsTheSession)
{
    TConnectedForm form;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    form.DoError(QStringLiteral("boom"));
    ASSERT_EQ(prompts.Records().size(), 1);
    EXPECT_EQ(prompts.Records()[0].caption, QStringLiteral("Application Error"));
    EXPECT_EQ(prompts.Records()[0].text,
              QStringLiteral("There was an error with Tarvik. Please report it to the vendor.\n"
                             "The error message is: boom"));
    EXPECT_EQ(prompts.Records()[0].noticeKind, 5);
    EXPECT_EQ(form.aborts, 1);
    EXPECT_EQ(form.StatusText(1), QStringLiteral("Message: boom"));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(FormMainFrame, CancelledTransfersGetTheirOwnNotice)
{
    TConnectedForm form;
    form.connected = false;
    form.DoError(QStringLiteral("Socket send aborted"));
    form.DoError(QStringLiteral("Accepting Canceled"));
    EXPECT_EQ(prompts.Notices(),
              (QStringList{QStringLiteral("Transfer canceled|The current file transfer was cancelled!"),
                           QStringLiteral("Transfer canceled|The current file transfer was cancelled!")}));
    EXPECT_EQ(prompts.Records()[0].noticeKind, 0);
    EXPECT_EQ(form.aborts, 0);
    EXPECT_EQ(form.StatusText(1), QStringLiteral("Message: Accepting Canceled"));
}

TEST_F(FormMainFrame, ExceptionsFromEventHandlersReachTheErrorDisplay)
{
    TFormMain form;
    QTimer::singleShot(0, &form, [] { throw std::runtime_error("handler failed"); });
    ASSERT_TRUE(testsupport::WaitFor([&] { return !prompts.Records().isEmpty(); }, 2000));
    EXPECT_EQ(prompts.Records()[0].caption, QStringLiteral("Application Error"));
    EXPECT_TRUE(prompts.Records()[0].text.endsWith(QStringLiteral("The error message is: handler failed")));
    EXPECT_EQ(form.StatusText(1), QStringLiteral("Message: handler failed"));
}

TEST_F(FormMainFrame, ForeignExceptionsFromEventHandlersToo)
{
    TFormMain form;
    QTimer::singleShot(0, &form, [] { throw 42; });
    ASSERT_TRUE(testsupport::WaitFor([&] { return !prompts.Records().isEmpty(); }, 2000));
    EXPECT_EQ(form.StatusText(1), QStringLiteral("Message: Unknown exception"));
    // The program carries on: the window still handles its commands.
    form.Disconnect1Click();
    EXPECT_EQ(prompts.Records().size(), 2);
}

TEST_F(FormMainFrame, HelpOpensTheTopicsInTheBrowser)
{
    QTemporaryDir folder;
    QFile help(folder.filePath(QStringLiteral("tarvik.html")));
    ASSERT_TRUE(help.open(QIODevice::WriteOnly));
    help.write("<html></html>");
    help.close();
    THelpFile::SetSearchFolders({folder.path()});

    TFormMain form;
    form.HelpContents1->trigger();
    form.HelpIndex1->trigger();
    ASSERT_EQ(shell.opened.size(), 2);
    EXPECT_EQ(shell.opened[0].toLocalFile(), help.fileName());
    EXPECT_EQ(shell.opened[0].fragment(), QStringLiteral("contents"));
    EXPECT_EQ(shell.opened[1].fragment(), QStringLiteral("index"));
    EXPECT_TRUE(prompts.Records().isEmpty());
}

TEST_F(FormMainFrame, MissingHelpFileSaysSo)
{
    QTemporaryDir empty;
    THelpFile::SetSearchFolders({empty.path()});
    TFormMain form;
    form.HelpContents1Click();
    EXPECT_TRUE(shell.opened.isEmpty());
    ASSERT_EQ(prompts.Records().size(), 1);
    EXPECT_EQ(prompts.Records()[0].caption, QStringLiteral("Help"));
    EXPECT_TRUE(prompts.Records()[0].text.contains(QStringLiteral("\"tarvik.html\" could not be found")));
    EXPECT_TRUE(prompts.Records()[0].text.contains(empty.path()));
}

TEST_F(FormMainFrame, BrowserThatWillNotStartIsReported)
{
    shell.result = false;
    TFormMain form;
    form.HelpContents1Click(); // found in the source tree
    ASSERT_EQ(prompts.Records().size(), 1);
    EXPECT_TRUE(prompts.Records()[0].text.contains(QStringLiteral("could not be opened")));
}

TEST_F(FormMainFrame, VeltraneOnlineOpensTheMakersSite)
{
    TFormMain form;
    form.VeltraneOnline1->trigger();
    ASSERT_EQ(shell.opened.size(), 1);
    EXPECT_EQ(shell.opened[0], TFormAbout::WebSiteUrl());
    EXPECT_TRUE(prompts.Records().isEmpty());
}

TEST_F(FormMainFrame, DisconnectWhileNotConnected)
{
    TFormMain form;
    form.Disconnect1Click();
    EXPECT_EQ(prompts.Notices(), QStringList{QStringLiteral("Cannot Execute command|You are already diconnected!")});
}

TEST_F(FormMainFrame, LogAndStatusPanels)
{
    TFormMain form;
    // The socket layer's description comes first.
    EXPECT_TRUE(form.Memo1->toPlainText().startsWith(QStringLiteral("Initializing ")));
    EXPECT_TRUE(form.Memo1->toPlainText().contains(QStringLiteral("\nStatus: ")));
    form.Memo1->clear();
    form.Log(QStringLiteral("> USER anonymous"));
    form.Log(QStringLiteral("< 331 Password please"));
    EXPECT_EQ(form.Memo1->toPlainText(), QStringLiteral("> USER anonymous\n< 331 Password please"));
    form.SetStatusText(0, QStringLiteral("Executing Command: LIST"));
    EXPECT_EQ(form.StatusText(0), QStringLiteral("Executing Command: LIST"));
}

TEST_F(FormMainFrame, ResizingSharesTheHeightBetweenThePanes)
{
    TFormMain form;
    form.show();
    form.resize(800, 700);
    testsupport::RunFor(50);
    EXPECT_EQ(form.RemoteMain->height(), 700 / 2 - 60);
    EXPECT_GT(form.Memo1->height(), 60);
}

TEST_F(FormMainFrame, PanesColumnsAndTheLastFolderAreKeptWithTheWindow)
{
    QTemporaryDir last;
    QList<int> local;
    int nameWidth = 0;
    {
        TFormMain form;
        form.show();
        form.resize(900, 700);
        testsupport::RunFor(50);
        // The name column takes the width the others leave.
        EXPECT_GT(form.List1->ReportView()->columnWidth(0), 140);
        form.Splitter1->setSizes({300, 600});
        local = form.Splitter1->sizes();
        form.RemoteFiles->ReportView()->setColumnWidth(2, 171);
        ASSERT_TRUE(form.SelectFolder(last.path()));
        form.close();
        nameWidth = form.RemoteFiles->ReportView()->columnWidth(2);
    }
    TFormMain again;
    again.show();
    again.resize(900, 700);
    testsupport::RunFor(50);
    EXPECT_EQ(again.Splitter1->sizes(), local);
    EXPECT_EQ(again.RemoteFiles->ReportView()->columnWidth(2), nameWidth);
    EXPECT_EQ(again.SelectedFolder(), last.path());
}

} // namespace
