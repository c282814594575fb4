// Which commands the main window enables, its view and toolbar commands.
#include "app/formmain.h"
#include "app/listview.h"
#include "support/gui/scriptedprompts.h"

#include <QAction>
#include <QComboBox>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QToolButton>
#include <QRadioButton>
#include <QSettings>
#include <QToolBar>
#include <gtest/gtest.h>

#include <memory>
#include <set>

namespace {

class FormMainControls : public ::testing::Test {
protected:
    void SetUp() override
    {
        QSettings(QStringLiteral("Veltrane"), QStringLiteral("Tarvik")).remove(QStringLiteral("Settings"));
        form = std::make_unique<TFormMain>();
    }

    // Every main-menu, popup and toolbar command that is enabled.
    std::set<QString> Enabled() const
    {
        std::set<QString> names;
        for (QAction* action : form->findChildren<QAction*>())
            if (!action->objectName().isEmpty() && action->isEnabled())
                names.insert(action->objectName());
        return names;
    }

    static void Fill(TListView* list, int count)
    {
        for (int i = 0; i < count; ++i)
            list->Items()->Add({QStringLiteral("item%1").arg(i), 0, {QStringLiteral("1"), QString()}});
    }

    testsupport::ScriptedPrompts prompts;
    std::unique_ptr<TFormMain> form;
};

const std::set<QString> kAlwaysEnabled = {
    QStringLiteral("Profiles1"),
    QStringLiteral("Exit1"),
    QStringLiteral("QuickConnect1"),
    QStringLiteral("Local1"),
    QStringLiteral("LocalDirectory1"),
    QStringLiteral("LocalDirectory2"),
    QStringLiteral("CreateDir1"),
    QStringLiteral("DeleteDir1"),
    QStringLiteral("RenameDir1"),
    QStringLiteral("LocalDirectory3"),
    QStringLiteral("LocalDirectory4"),
    QStringLiteral("CreateLocalDirectory1"),
    QStringLiteral("QuickConnectBar1"),
    QStringLiteral("MainToolbar1"),
    QStringLiteral("TransferModeBar1"),
    QStringLiteral("IconView1"),
    QStringLiteral("ListView1"),
    QStringLiteral("SmallIcons1"),
    QStringLiteral("ReportView1"),
    QStringLiteral("RefreshLocalListing1"),
    QStringLiteral("Ping1"),
    QStringLiteral("DnsLookup1"),
    QStringLiteral("URLValidation1"),
    QStringLiteral("AboutTarvik1"),
    QStringLiteral("HelpContents1"),
    QStringLiteral("HelpIndex1"),
    QStringLiteral("VeltraneOnline1"),
    QStringLiteral("TBDelete"),
    QStringLiteral("ToolbarButton971"),
    QStringLiteral("TBRename"),
    QStringLiteral("TBLgIcons"),
    QStringLiteral("TBList"),
    QStringLiteral("TBSmIcons"),
    QStringLiteral("TBDetails"),
    QStringLiteral("KeepTimes1"),
    QStringLiteral("QueueSettings1"),
};

std::set<QString> With(std::set<QString> base, std::initializer_list<const char*> more)
{
    for (const char* name : more)
        base.insert(QString::fromLatin1(name));
    return base;
}

TEST_F(FormMainControls, NotConnectedNothingSelectedLeavesOnlyConnectCommands)
{
    form->SetControls(false);
    EXPECT_EQ(Enabled(), With(kAlwaysEnabled, {"Connect1", "TBConnect", "TBQuickConnect"}));
}

TEST_F(FormMainControls, ConnectedNothingSelected)
{
    form->SetControls(true);
    EXPECT_EQ(Enabled(),
              With(kAlwaysEnabled,
                   {"RefreshRemoteListing1", "Disconnect1", "DirectoryInformation1", "TBGetDir", "TBDisconnect",
                    "SendDirectory1", "UploadDir1", "ChangeDirectory1", "ChangeDirectory2", "Remote1",
                    "CreateRemoteDirectory1", "CreateDirectory2", "UpDirectory1", "UpDirectory2", "SendCommand1"}));
}

TEST_F(FormMainControls, LocalSelectionCountsOneAndMany)
{
    Fill(form->List1, 3);
    form->List1->SelectRow(1);
    form->SetControls(false);
    EXPECT_EQ(Enabled(), With(kAlwaysEnabled,
                              {"Connect1", "TBConnect", "TBQuickConnect", "LocalFile1", "LocalFile3", "DeleteFile1",
                               "LocalFile2", "LocalFile4", "RenameFile1", "ViewLocalFile1", "ViewFile1"}));

    form->List1->SelectRow(2);
    form->SetControls(true);
    const std::set<QString> enabled = Enabled();
    for (const char* name : {"UploadFile1", "TBUpload", "UploadFile2", "LocalFile1", "LocalFile3", "DeleteFile1"})
        EXPECT_TRUE(enabled.count(QString::fromLatin1(name))) << name;
    for (const char* name : {"LocalFile2", "LocalFile4", "RenameFile1", "ViewLocalFile1", "ViewFile1"})
        EXPECT_FALSE(enabled.count(QString::fromLatin1(name))) << name;
}

TEST_F(FormMainControls, RemoteSelectionsNeedTheConnection)
{
    Fill(form->RemoteFiles, 2);
    Fill(form->RemoteDirs, 2);
    form->RemoteFiles->SelectRow(0);
    form->RemoteDirs->SelectRow(0);

    form->SetControls(false);
    const std::set<QString> offline = Enabled();
    for (const char* name : {"DownloadFile1", "RemoteFile1", "CHMODFile1", "ViewRemoteFile1", "RemoteDirectory1",
                             "RemoteDirectory2", "CHMODDirectory1"})
        EXPECT_FALSE(offline.count(QString::fromLatin1(name))) << name;

    form->SetControls(true);
    const std::set<QString> one = Enabled();
    for (const char* name :
         {"DownloadFile1",    "TBDownload",       "ResumeDownload1",  "ResumeDownload2",  "DownloadFile2",
          "RemoteFile1",      "RemoteFile2",      "RemoteFile3",      "RemoteFile4",      "DeleteFile2",
          "RenameFile2",      "CHMODFile1",       "CHMODFile2",       "ViewRemoteFile1",  "ViewFile2",
          "RemoteDirectory1", "RemoteDirectory3", "DeleteDirectory1", "RemoteDirectory2", "RemoteDirectory4",
          "RenameDirectory1", "CHMODDirectory1",  "CHMODDirectory2"})
        EXPECT_TRUE(one.count(QString::fromLatin1(name))) << name;
    EXPECT_FALSE(one.count(QStringLiteral("Connect1")));
    EXPECT_FALSE(one.count(QStringLiteral("TBConnect")));

    form->RemoteFiles->SelectRow(1);
    form->RemoteDirs->SelectRow(1);
    form->SetControls(true);
    const std::set<QString> two = Enabled();
    for (const char* name :
         {"ViewRemoteFile1", "ViewFile2", "RemoteDirectory2", "RemoteDirectory4", "RenameDirectory1"})
        EXPECT_FALSE(two.count(QString::fromLatin1(name))) << name;
    for (const char* name : {"DownloadFile1", "RemoteFile2", "CHMODFile1", "RemoteDirectory1", "CHMODDirectory1"})
        EXPECT_TRUE(two.count(QString::fromLatin1(name))) << name;
}

TEST_F(FormMainControls, SelectingInTheListReevaluatesTheCommands)
{
    Fill(form->List1, 2);
    EXPECT_FALSE(form->LocalFile1->isEnabled());
    form->List1->SelectRow(0);
    EXPECT_TRUE(form->LocalFile1->isEnabled());
    EXPECT_TRUE(form->LocalFile2->isEnabled());
    form->List1->ClearSelection();
    EXPECT_FALSE(form->LocalFile1->isEnabled());
}

TEST_F(FormMainControls, ViewModesMoveBothListsAndTheChecks)
{
    EXPECT_TRUE(form->ReportView1->isChecked());
    EXPECT_TRUE(form->TBDetails->isChecked());

    form->TBLgIcons->trigger();
    EXPECT_EQ(form->List1->ViewStyle(), TViewStyle::vsIcon);
    EXPECT_EQ(form->RemoteFiles->ViewStyle(), TViewStyle::vsIcon);
    EXPECT_TRUE(form->IconView1->isChecked());
    EXPECT_FALSE(form->ReportView1->isChecked());
    EXPECT_FALSE(form->TBDetails->isChecked());

    form->SmallIcons1->trigger();
    EXPECT_EQ(form->List1->ViewStyle(), TViewStyle::vsSmallIcon);
    EXPECT_TRUE(form->TBSmIcons->isChecked());
    EXPECT_FALSE(form->TBLgIcons->isChecked());
    EXPECT_FALSE(form->IconView1->isChecked());

    form->ListView1->trigger();
    EXPECT_EQ(form->RemoteFiles->ViewStyle(), TViewStyle::vsList);
    EXPECT_TRUE(form->TBList->isChecked());

    form->ReportView1->trigger();
    EXPECT_EQ(form->List1->ViewStyle(), TViewStyle::vsReport);
    EXPECT_TRUE(form->ReportView1->isChecked());
    EXPECT_FALSE(form->ListView1->isChecked());
    EXPECT_EQ(form->RemoteDirs->ViewStyle(), TViewStyle::vsReport);
}

TEST_F(FormMainControls, ListStyleCellsFitTheLongestName)
{
    form->List1->Items()->Add({QStringLiteral("a"), 0, {}});
    form->List1->Items()->Add({QStringLiteral("backup-2024-complete.tar.gz"), 0, {}});
    form->ListView1->trigger();
    QListView* view = form->List1->IconView();
    const int needed = view->fontMetrics().horizontalAdvance(QStringLiteral("backup-2024-complete.tar.gz")) + 16;
    EXPECT_GE(view->gridSize().width(), needed);
    form->List1->Items()->Add({QString(200, QLatin1Char('x')), 0, {}});
    EXPECT_LE(view->gridSize().width(), 320); // one odd name does not push the rest away
    EXPECT_GT(view->gridSize().width(), needed);
}

TEST_F(FormMainControls, SelectionSurvivesAViewChange)
{
    Fill(form->List1, 3);
    form->List1->SelectRow(2);
    form->IconView1->trigger();
    EXPECT_EQ(form->List1->SelectedRows(), std::vector<int>{2});
}

TEST_F(FormMainControls, ToolbarCommandsAndCloseButtonKeepChecksInStep)
{
    form->show();
    EXPECT_TRUE(form->QuickConnectBar1->isChecked());
    form->QuickConnectBar1->trigger();
    EXPECT_TRUE(form->Toolbar1->isHidden());
    EXPECT_FALSE(form->QuickConnectBar1->isChecked());
    form->QuickConnectBar1->trigger();
    EXPECT_FALSE(form->Toolbar1->isHidden());
    EXPECT_TRUE(form->QuickConnectBar1->isChecked());

    form->Toolbar3->close(); // as its own close button does while floating
    EXPECT_FALSE(form->TransferModeBar1->isChecked());
    form->MainToolbar1->trigger();
    form->SetControls(false);
    EXPECT_FALSE(form->MainToolbar1->isChecked());
    EXPECT_FALSE(form->TransferModeBar1->isChecked());
    EXPECT_TRUE(form->QuickConnectBar1->isChecked());
}

TEST_F(FormMainControls, TransferModeButtonsRecolour)
{
    const QColor teal(0, 128, 128);
    EXPECT_TRUE(form->BinaryMode());
    EXPECT_EQ(form->Radio1->palette().color(QPalette::WindowText), teal);
    EXPECT_EQ(form->Radio2->palette().color(QPalette::WindowText), QColor(Qt::red));
    form->Radio2->click();
    EXPECT_FALSE(form->BinaryMode());
    EXPECT_EQ(form->Radio2->palette().color(QPalette::WindowText), teal);
    EXPECT_EQ(form->Radio1->palette().color(QPalette::WindowText), QColor(Qt::red));
}

TEST_F(FormMainControls, RemotePanesStartEmptyAndDisabled)
{
    EXPECT_FALSE(form->RemoteDirs->isEnabled());
    EXPECT_FALSE(form->RemoteFiles->isEnabled());
    EXPECT_EQ(form->RemoteDirs->Items()->Count(), 0);
    EXPECT_EQ(form->RemoteFiles->Items()->Count(), 0);
    EXPECT_EQ(form->RemoteFiles->Items()->columnCount(), 4);
    EXPECT_EQ(form->List1->Items()->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(),
              QStringLiteral("Size (bytes)"));
}

// Captions of a menu in order; "-" for a separator, "name>" for a submenu.
QStringList Layout(const QMenu* menu)
{
    QStringList out;
    for (const QAction* action : menu->actions()) {
        if (action->isSeparator())
            out << QStringLiteral("-");
        else if (action->menu())
            out << action->menu()->objectName() + QLatin1Char('>');
        else
            out << action->objectName();
    }
    return out;
}

TEST_F(FormMainControls, MenusAsDesigned)
{
    QStringList bar;
    for (const QAction* action : form->menuBar()->actions())
        bar << action->text();
    EXPECT_EQ(bar, (QStringList{"&Connection", "&Files", "&Directories", "&View", "&Options", "&Utilities", "&Help"}));
    EXPECT_EQ(Layout(form->Files1),
              (QStringList{"UploadFile1", "DownloadFile1", "ResumeDownload1", "-", "Delete1>", "-", "Rename1>"}));
    EXPECT_EQ(Layout(form->Directories1), (QStringList{"SendDirectory1", "ChangeDirectory1", "CreateDirectory1>",
                                                       "UpDirectory1", "-", "Delete2>", "-", "Rename2>"}));
    EXPECT_EQ(Layout(form->Main), (QStringList{"QuickConnectBar1", "MainToolbar1", "TransferModeBar1", "-", "IconView1",
                                               "ListView1", "SmallIcons1", "ReportView1"}));
    EXPECT_EQ(Layout(form->PopTBDelF),
              (QStringList{"RemoteFile3", "LocalFile3", "-", "RemoteDirectory3", "LocalDirectory3"}));
    EXPECT_EQ(Layout(form->PopRFile1), (QStringList{"DownloadFile2", "ResumeDownload2", "DeleteFile2", "RenameFile2",
                                                    "ViewFile2", "CHMODFile2"}));
    EXPECT_EQ(form->findChild<QAction*>(QStringLiteral("RenameDirectory1")), form->RenameDirectory1);
    EXPECT_EQ(form->RenameDirectory1->text(), QStringLiteral("&Rename Directory"));
    EXPECT_EQ(form->Exit1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F10));
    EXPECT_EQ(form->QuickConnect1->shortcut(), QKeySequence(Qt::Key_F2));
    EXPECT_EQ(form->Disconnect1->shortcut(), QKeySequence(Qt::Key_F3));
    EXPECT_EQ(form->HelpContents1->shortcut(), QKeySequence(Qt::Key_F1));
}

TEST_F(FormMainControls, ToolbarsAsDesigned)
{
    for (QToolBar* bar : {form->Toolbar1, form->Toolbar2, form->Toolbar3}) {
        EXPECT_TRUE(bar->isMovable());
        EXPECT_TRUE(bar->isFloatable());
    }
    for (QAction* button : {form->TBDelete, form->ToolbarButton971, form->TBRename}) {
        auto* tool = qobject_cast<QToolButton*>(form->Toolbar2->widgetForAction(button));
        ASSERT_NE(tool, nullptr);
        EXPECT_EQ(tool->popupMode(), QToolButton::InstantPopup);
        EXPECT_NE(button->menu(), nullptr);
    }
    EXPECT_EQ(form->TBDelete->menu(), form->PopTBDelF);
    EXPECT_EQ(form->ComboQuick->width(), 115);
    EXPECT_EQ(form->ComboQuick->toolTip(), QStringLiteral("Select profile for quick connect"));
    EXPECT_EQ(form->Radio1->text(), QStringLiteral("Binary "));
    EXPECT_EQ(form->TBUpload->toolTip(), QStringLiteral("Upload selected files"));
}

} // namespace
