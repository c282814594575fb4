// Menus, popup menus, toolbars and the wiring of their commands.

#include "app/formmain.h"

#include "app/formmain_commands.h"
#include "app/listview.h"
#include "app/toolbarglyphs.h"

#include <QAction>
#include <QActionGroup>
#include <QButtonGroup>
#include <QComboBox>
#include <QFileSystemModel>
#include <QItemSelectionModel>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>

namespace {

QAction* MakeAction(QObject* parent, const char* name, const QString& caption)
{
    auto* action = new QAction(caption, parent);
    action->setObjectName(QString::fromLatin1(name));
    return action;
}

QMenu* MakeMenu(QWidget* parent, const char* name, const QString& caption)
{
    auto* menu = new QMenu(caption, parent);
    menu->setObjectName(QString::fromLatin1(name));
    return menu;
}

} // namespace

void TFormMain::CreateActions()
{
    for (const TCommandRow& row : CommandTable())
        for (const TCommandAction& action : row.Actions)
            this->*action.Slot = MakeAction(this, action.Name, QString::fromUtf8(action.Caption));

    QuickConnect1->setShortcut(Qt::Key_F2);
    Disconnect1->setShortcut(Qt::Key_F3);
    Exit1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F10));
    HelpContents1->setShortcut(Qt::Key_F1);

    for (QAction* item :
         {QuickConnectBar1, MainToolbar1, TransferModeBar1, IconView1, ListView1, SmallIcons1, ReportView1}) {
        item->setCheckable(true);
        item->setChecked(true);
    }
    IconView1->setChecked(false);
    ListView1->setChecked(false);
    SmallIcons1->setChecked(false);

    const QList<QAction*> buttons = {TBConnect, TBDisconnect,     TBQuickConnect, TBUpload, TBDownload,
                                     TBDelete,  ToolbarButton971, TBRename,       TBGetDir, TBLgIcons,
                                     TBList,    TBSmIcons,        TBDetails};
    for (int i = 0; i < buttons.size(); ++i) {
        buttons[i]->setIcon(ToolbarGlyph(i));
        buttons[i]->setToolTip(buttons[i]->text());
    }
    ViewGroup = new QActionGroup(this);
    ViewGroup->setExclusive(true);
    for (QAction* button : {TBLgIcons, TBList, TBSmIcons, TBDetails}) {
        button->setCheckable(true);
        ViewGroup->addAction(button);
    }
    TBDetails->setChecked(true);
}

void TFormMain::CreateMainMenu()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));

    Connection = MakeMenu(this, "Connection", QStringLiteral("&Connection"));
    Connection->addActions({Connect1, QuickConnect1, Disconnect1, Profiles1, Exit1});

    Files1 = MakeMenu(this, "Files1", QStringLiteral("&Files"));
    Files1->addActions({UploadFile1, DownloadFile1, ResumeDownload1});
    Files1->addSeparator();
    Delete1 = MakeMenu(Files1, "Delete1", QStringLiteral("Delete"));
    Delete1->addActions({RemoteFile1, LocalFile1});
    Files1->addMenu(Delete1);
    Files1->addSeparator();
    Rename1 = MakeMenu(Files1, "Rename1", QStringLiteral("Rename"));
    Rename1->addActions({RemoteFile2, LocalFile2});
    Files1->addMenu(Rename1);

    Directories1 = MakeMenu(this, "Directories1", QStringLiteral("&Directories"));
    Directories1->addActions({SendDirectory1, ChangeDirectory1});
    CreateDirectory1 = MakeMenu(Directories1, "CreateDirectory1", QStringLiteral("Create &Directory"));
    CreateDirectory1->addActions({Remote1, Local1});
    Directories1->addMenu(CreateDirectory1);
    Directories1->addAction(UpDirectory1);
    Directories1->addSeparator();
    Delete2 = MakeMenu(Directories1, "Delete2", QStringLiteral("Delete"));
    Delete2->addActions({RemoteDirectory1, LocalDirectory1});
    Directories1->addMenu(Delete2);
    Directories1->addSeparator();
    Rename2 = MakeMenu(Directories1, "Rename2", QStringLiteral("Rename"));
    Rename2->addActions({RemoteDirectory2, LocalDirectory2});
    Directories1->addMenu(Rename2);

    Main = MakeMenu(this, "Main", QStringLiteral("&View"));
    Main->addActions({QuickConnectBar1, MainToolbar1, TransferModeBar1});
    Main->addSeparator();
    Main->addActions({IconView1, ListView1, SmallIcons1, ReportView1});

    Options1 = MakeMenu(this, "Options1", QStringLiteral("&Options"));
    Options1->addActions({CHMODFile1, CHMODDirectory1, SendCommand1, ViewRemoteFile1, ViewLocalFile1,
                          RefreshRemoteListing1, RefreshLocalListing1});

    Utilities1 = MakeMenu(this, "Utilities1", QStringLiteral("&Utilities"));
    Utilities1->addActions({DirectoryInformation1, Ping1, DnsLookup1, URLValidation1});

    Help1 = MakeMenu(this, "Help1", QStringLiteral("&Help"));
    Help1->addActions({AboutTarvik1, HelpContents1, HelpIndex1, VeltraneOnline1});

    for (QMenu* menu : {Connection, Files1, Directories1, Main, Options1, Utilities1, Help1})
        bar->addMenu(menu);
}

void TFormMain::CreatePopupMenus()
{
    PopDir1 = MakeMenu(this, "PopDir1", QString());
    PopDir1->addActions({UploadDir1, CreateDir1, DeleteDir1, RenameDir1});
    PopRemoteDir = MakeMenu(this, "PopRemoteDir", QString());
    PopRemoteDir->addActions({ChangeDirectory2, DownloadDirectory1, CreateDirectory2, UpDirectory2, DeleteDirectory1,
                              RenameDirectory1, CHMODDirectory2});
    PopFile1 = MakeMenu(this, "PopFile1", QString());
    PopFile1->addActions({UploadFile2, DeleteFile1, RenameFile1, ViewFile1});
    PopRFile1 = MakeMenu(this, "PopRFile1", QString());
    PopRFile1->addActions({DownloadFile2, ResumeDownload2, DeleteFile2, RenameFile2, ViewFile2, CHMODFile2});
    PopTBDelF = MakeMenu(this, "PopTBDelF", QString());
    PopTBDelF->addActions({RemoteFile3, LocalFile3});
    PopTBDelF->addSeparator();
    PopTBDelF->addActions({RemoteDirectory3, LocalDirectory3});
    PopTBRename = MakeMenu(this, "PopTBRename", QString());
    PopTBRename->addActions({RemoteFile4, LocalFile4});
    PopTBRename->addSeparator();
    PopTBRename->addActions({RemoteDirectory4, LocalDirectory4});
    PopTBDir = MakeMenu(this, "PopTBDir", QString());
    PopTBDir->addActions({CreateRemoteDirectory1, CreateLocalDirectory1});

    List1->SetPopupMenu(PopFile1);
    RemoteDirs->SetPopupMenu(PopRemoteDir);
    RemoteFiles->SetPopupMenu(PopRFile1);
    Dir1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Dir1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { PopDir1->popup(Dir1->viewport()->mapToGlobal(pos)); });
}

void TFormMain::CreateToolbars()
{
    auto makeBar = [this](const char* name, const QString& title) {
        auto* bar = new QToolBar(title, this);
        bar->setObjectName(QString::fromLatin1(name));
        bar->setMovable(true);
        bar->setFloatable(true);
        bar->setIconSize(QSize(16, 16));
        bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
        addToolBar(Qt::TopToolBarArea, bar);
        return bar;
    };

    Toolbar1 = makeBar("Toolbar1", QStringLiteral("Quick Connect Bar"));
    Toolbar1->addAction(TBConnect);
    Toolbar1->addAction(TBDisconnect);
    Toolbar1->addSeparator();
    ComboQuick = new QComboBox(Toolbar1);
    ComboQuick->setObjectName(QStringLiteral("ComboQuick"));
    ComboQuick->setEditable(false);
    ComboQuick->setFixedWidth(115);
    ComboQuick->setToolTip(QStringLiteral("Select profile for quick connect"));
    ComboQuick->setFocusPolicy(Qt::ClickFocus);
    Toolbar1->addWidget(ComboQuick);
    Toolbar1->addAction(TBQuickConnect);

    Toolbar2 = makeBar("Toolbar2", QStringLiteral("Main Toolbar"));
    Toolbar2->addActions({TBUpload, TBDownload, TBDelete, ToolbarButton971, TBRename, TBGetDir});
    Toolbar2->addSeparator();
    Toolbar2->addActions({TBLgIcons, TBList, TBSmIcons, TBDetails});
    const std::pair<QAction*, QMenu*> dropDowns[] = {
        {TBDelete, PopTBDelF}, {ToolbarButton971, PopTBDir}, {TBRename, PopTBRename}};
    for (const auto& [button, menu] : dropDowns) {
        button->setMenu(menu);
        if (auto* tool = qobject_cast<QToolButton*>(Toolbar2->widgetForAction(button)))
            tool->setPopupMode(QToolButton::InstantPopup);
    }

    Toolbar3 = makeBar("Toolbar3", QStringLiteral("Transfer Mode Bar"));
    Radio1 = new QRadioButton(QStringLiteral("Binary "), Toolbar3);
    Radio1->setObjectName(QStringLiteral("Radio1"));
    Radio1->setToolTip(QStringLiteral("Binary Transfer"));
    Radio1->setChecked(true);
    Radio2 = new QRadioButton(QStringLiteral("Ascii"), Toolbar3);
    Radio2->setObjectName(QStringLiteral("Radio2"));
    Radio2->setToolTip(QStringLiteral("Ascii Transfer"));
    auto* modes = new QButtonGroup(this);
    modes->setExclusive(true);
    modes->addButton(Radio1);
    modes->addButton(Radio2);
    Toolbar3->addWidget(Radio1);
    Toolbar3->addSeparator();
    Toolbar3->addWidget(Radio2);
    ColourTransferModes();
}

void TFormMain::ConnectSignals()
{
    for (const TCommandRow& row : CommandTable()) {
        if (!row.Handler)
            continue;
        for (const TCommandAction& action : row.Actions)
            connect(this->*action.Slot, &QAction::triggered, this, row.Handler);
    }

    // A toolbar closed or shown by other means than the View menu (its own
    // close button while floating, the toolbar area's context menu) keeps the
    // menu's check mark honest.
    const std::pair<QToolBar*, QAction*> bars[] = {
        {Toolbar1, QuickConnectBar1}, {Toolbar2, MainToolbar1}, {Toolbar3, TransferModeBar1}};
    for (const auto& pair : bars) {
        QToolBar* const bar = pair.first;
        QAction* const item = pair.second;
        connect(bar, &QToolBar::visibilityChanged, this, [bar, item](bool) { item->setChecked(!bar->isHidden()); });
    }

    connect(Radio1, &QRadioButton::clicked, this, &TFormMain::Radio1Click);
    connect(Radio2, &QRadioButton::clicked, this, &TFormMain::Radio2Click);

    for (TListView* list : {List1, RemoteDirs, RemoteFiles}) {
        connect(list, &TListView::SelectionChanged, this, [this] { SetControls(); });
        connect(list, &TListView::MouseUp, this, [this] { SetControls(); });
    }
    connect(RemoteDirs, &TListView::DoubleClicked, this, &TFormMain::RemoteDirsDblClick);
    connect(RemoteFiles, &TListView::DoubleClicked, this, &TFormMain::RemoteFilesDblClick);
    InstallPaneKeys();
}
