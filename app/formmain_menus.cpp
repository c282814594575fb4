// Menus, popup menus, toolbars and the wiring of their commands.

#include "app/formmain.h"

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
    // Every command, with its object name (the name the code knows it by).
    const struct {
        QAction** slot;
        const char* name;
        const char* caption;
    } commands[] = {
        {&Connect1, "Connect1", "&Connect"},
        {&QuickConnect1, "QuickConnect1", "&Quick Connect"},
        {&Disconnect1, "Disconnect1", "&Disconnect"},
        {&Profiles1, "Profiles1", "&Profiles"},
        {&Exit1, "Exit1", "&Exit"},
        {&UploadFile1, "UploadFile1", "&Upload File"},
        {&DownloadFile1, "DownloadFile1", "Download &File"},
        {&ResumeDownload1, "ResumeDownload1", "&Resume Download"},
        {&RemoteFile1, "RemoteFile1", "Remote &File"},
        {&LocalFile1, "LocalFile1", "&Local File"},
        {&RemoteFile2, "RemoteFile2", "Remote &File"},
        {&LocalFile2, "LocalFile2", "&Local File"},
        {&SendDirectory1, "SendDirectory1", "U&pload Directory"},
        {&ChangeDirectory1, "ChangeDirectory1", "&Change Directory"},
        {&Remote1, "Remote1", "&Remote"},
        {&Local1, "Local1", "&Local"},
        {&UpDirectory1, "UpDirectory1", "&Up Directory"},
        {&RemoteDirectory1, "RemoteDirectory1", "Remote &Directory"},
        {&LocalDirectory1, "LocalDirectory1", "&Local Directory"},
        {&RemoteDirectory2, "RemoteDirectory2", "Remote &Directory"},
        {&LocalDirectory2, "LocalDirectory2", "&Local Directory"},
        {&QuickConnectBar1, "QuickConnectBar1", "&Quick Connect Bar"},
        {&MainToolbar1, "MainToolbar1", "&Main Toolbar"},
        {&TransferModeBar1, "TransferModeBar1", "&Transfer Mode Bar"},
        {&IconView1, "IconView1", "Large &Icons"},
        {&ListView1, "ListView1", "&List View"},
        {&SmallIcons1, "SmallIcons1", "&Small Icons"},
        {&ReportView1, "ReportView1", "&Details"},
        {&CHMODFile1, "CHMODFile1", "&CHMOD File"},
        {&CHMODDirectory1, "CHMODDirectory1", "CHMOD &Directory"},
        {&SendCommand1, "SendCommand1", "&Send Command"},
        {&ViewRemoteFile1, "ViewRemoteFile1", "&View Remote File"},
        {&ViewLocalFile1, "ViewLocalFile1", "View Local &File"},
        {&RefreshRemoteListing1, "RefreshRemoteListing1", "&Refresh Remote Listing"},
        {&RefreshLocalListing1, "RefreshLocalListing1", "Refresh &Local Listing"},
        {&DirectoryInformation1, "DirectoryInformation1", "&Directory Information"},
        {&Ping1, "Ping1", "&Ping"},
        {&DnsLookup1, "DnsLookup1", "Dns &Lookup"},
        {&URLValidation1, "URLValidation1", "&URL Information"},
        {&AboutTarvik1, "AboutTarvik1", "&About Tarvik"},
        {&HelpContents1, "HelpContents1", "Help &Contents"},
        {&HelpIndex1, "HelpIndex1", "Help &Index"},
        {&VeltraneOnline1, "VeltraneOnline1", "&Veltrane Online"},
        {&UploadDir1, "UploadDir1", "&Upload Directory"},
        {&CreateDir1, "CreateDir1", "&Create Directory"},
        {&DeleteDir1, "DeleteDir1", "&Delete Directory"},
        {&RenameDir1, "RenameDir1", "&Rename Directory"},
        {&ChangeDirectory2, "ChangeDirectory2", "&Change Directory"},
        {&CreateDirectory2, "CreateDirectory2", "Create Di&rectory"},
        {&UpDirectory2, "UpDirectory2", "&Up Directory"},
        {&DeleteDirectory1, "DeleteDirectory1", "Dele&te Directory"},
        {&RenameDirectory1, "RenameDirectory1", "&Rename Directory"},
        {&CHMODDirectory2, "CHMODDirectory2", "C&HMOD Directory"},
        {&UploadFile2, "UploadFile2", "&Upload File"},
        {&DeleteFile1, "DeleteFile1", "&Delete File"},
        {&RenameFile1, "RenameFile1", "&Rename File"},
        {&ViewFile1, "ViewFile1", "&View File"},
        {&DownloadFile2, "DownloadFile2", "&Download File"},
        {&ResumeDownload2, "ResumeDownload2", "Re&sume Download"},
        {&DeleteFile2, "DeleteFile2", "Delete &File"},
        {&RenameFile2, "RenameFile2", "&Rename File"},
        {&ViewFile2, "ViewFile2", "&View File"},
        {&CHMODFile2, "CHMODFile2", "&CHMOD File"},
        {&RemoteFile3, "RemoteFile3", "Remote File"},
        {&LocalFile3, "LocalFile3", "Local File"},
        {&RemoteDirectory3, "RemoteDirectory3", "Remote Directory"},
        {&LocalDirectory3, "LocalDirectory3", "Local Directory"},
        {&RemoteFile4, "RemoteFile4", "Remote File"},
        {&LocalFile4, "LocalFile4", "Local File"},
        {&RemoteDirectory4, "RemoteDirectory4", "Remote Directory"},
        {&LocalDirectory4, "LocalDirectory4", "Local Directory"},
        {&CreateRemoteDirectory1, "CreateRemoteDirectory1", "Create Remote Directory"},
        {&CreateLocalDirectory1, "CreateLocalDirectory1", "Create Local Directory"},
        {&TBConnect, "TBConnect", "Connect"},
        {&TBDisconnect, "TBDisconnect", "Disconnect"},
        {&TBQuickConnect, "TBQuickConnect", "Quick Connect"},
        {&TBUpload, "TBUpload", "Upload selected files"},
        {&TBDownload, "TBDownload", "Download selected files"},
        {&TBDelete, "TBDelete", "Delete"},
        {&ToolbarButton971, "ToolbarButton971", "Create Directory"},
        {&TBRename, "TBRename", "Rename"},
        {&TBGetDir, "TBGetDir", "Directory Information"},
        {&TBLgIcons, "TBLgIcons", "Large Icons"},
        {&TBList, "TBList", "List View"},
        {&TBSmIcons, "TBSmIcons", "Small Icons"},
        {&TBDetails, "TBDetails", "Details"},
    };
    for (const auto& command : commands)
        *command.slot = MakeAction(this, command.name, QString::fromUtf8(command.caption));

    QuickConnect1->setShortcut(Qt::Key_F2);
    Disconnect1->setShortcut(Qt::Key_F3);
    Exit1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F10));
    HelpContents1->setShortcut(Qt::Key_F1);

    for (QAction* item : {QuickConnectBar1, MainToolbar1, TransferModeBar1, IconView1, ListView1, SmallIcons1,
                          ReportView1}) {
        item->setCheckable(true);
        item->setChecked(true);
    }
    IconView1->setChecked(false);
    ListView1->setChecked(false);
    SmallIcons1->setChecked(false);

    const QList<QAction*> buttons = {TBConnect, TBDisconnect, TBQuickConnect, TBUpload, TBDownload,
                                     TBDelete,  ToolbarButton971, TBRename, TBGetDir, TBLgIcons,
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
    PopRemoteDir->addActions(
        {ChangeDirectory2, CreateDirectory2, UpDirectory2, DeleteDirectory1, RenameDirectory1, CHMODDirectory2});
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
    const std::pair<QAction*, void (TFormMain::*)()> commands[] = {
        {Connect1, &TFormMain::Connect1Click},
        {TBConnect, &TFormMain::Connect1Click},
        {QuickConnect1, &TFormMain::QuickConnect1Click},
        {TBQuickConnect, &TFormMain::QuickConnect1Click},
        {Disconnect1, &TFormMain::Disconnect1Click},
        {TBDisconnect, &TFormMain::Disconnect1Click},
        {Profiles1, &TFormMain::Profiles1Click},
        {Exit1, &TFormMain::Exit1Click},
        {UploadFile1, &TFormMain::UploadFile1Click},
        {UploadFile2, &TFormMain::UploadFile1Click},
        {TBUpload, &TFormMain::UploadFile1Click},
        {DownloadFile1, &TFormMain::DownloadFile1Click},
        {DownloadFile2, &TFormMain::DownloadFile1Click},
        {TBDownload, &TFormMain::DownloadFile1Click},
        {ResumeDownload1, &TFormMain::ResumeDownload1Click},
        {ResumeDownload2, &TFormMain::ResumeDownload1Click},
        {RemoteFile1, &TFormMain::RemoteFile1Click},
        {RemoteFile3, &TFormMain::RemoteFile1Click},
        {DeleteFile2, &TFormMain::RemoteFile1Click},
        {LocalFile1, &TFormMain::LocalFile1Click},
        {LocalFile3, &TFormMain::LocalFile1Click},
        {DeleteFile1, &TFormMain::LocalFile1Click},
        {RemoteFile2, &TFormMain::RemoteFile2Click},
        {RemoteFile4, &TFormMain::RemoteFile2Click},
        {RenameFile2, &TFormMain::RemoteFile2Click},
        {LocalFile2, &TFormMain::LocalFile2Click},
        {LocalFile4, &TFormMain::LocalFile2Click},
        {RenameFile1, &TFormMain::LocalFile2Click},
        {SendDirectory1, &TFormMain::SendDirectory1Click},
        {UploadDir1, &TFormMain::SendDirectory1Click},
        {ChangeDirectory1, &TFormMain::ChangeDirectory1Click},
        {ChangeDirectory2, &TFormMain::ChangeDirectory1Click},
        {Remote1, &TFormMain::Remote1Click},
        {CreateDirectory2, &TFormMain::Remote1Click},
        {CreateRemoteDirectory1, &TFormMain::Remote1Click},
        {Local1, &TFormMain::Local1Click},
        {CreateDir1, &TFormMain::Local1Click},
        {CreateLocalDirectory1, &TFormMain::Local1Click},
        {UpDirectory1, &TFormMain::UpDirectory1Click},
        {UpDirectory2, &TFormMain::UpDirectory1Click},
        {RemoteDirectory1, &TFormMain::RemoteDirectory1Click},
        {RemoteDirectory3, &TFormMain::RemoteDirectory1Click},
        {DeleteDirectory1, &TFormMain::RemoteDirectory1Click},
        {LocalDirectory1, &TFormMain::LocalDirectory1Click},
        {LocalDirectory3, &TFormMain::LocalDirectory1Click},
        {DeleteDir1, &TFormMain::LocalDirectory1Click},
        {RemoteDirectory2, &TFormMain::RemoteDirectory2Click},
        {RemoteDirectory4, &TFormMain::RemoteDirectory2Click},
        {RenameDirectory1, &TFormMain::RemoteDirectory2Click},
        {LocalDirectory2, &TFormMain::LocalDirectory2Click},
        {LocalDirectory4, &TFormMain::LocalDirectory2Click},
        {RenameDir1, &TFormMain::LocalDirectory2Click},
        {QuickConnectBar1, &TFormMain::QuickConnectBar1Click},
        {MainToolbar1, &TFormMain::MainToolbar1Click},
        {TransferModeBar1, &TFormMain::TransferModeBar1Click},
        {IconView1, &TFormMain::IconView1Click},
        {TBLgIcons, &TFormMain::IconView1Click},
        {ListView1, &TFormMain::ListView1Click},
        {TBList, &TFormMain::ListView1Click},
        {SmallIcons1, &TFormMain::SmallIcons1Click},
        {TBSmIcons, &TFormMain::SmallIcons1Click},
        {ReportView1, &TFormMain::ReportView1Click},
        {TBDetails, &TFormMain::ReportView1Click},
        {CHMODFile1, &TFormMain::CHMODFile1Click},
        {CHMODFile2, &TFormMain::CHMODFile1Click},
        {CHMODDirectory1, &TFormMain::CHMODDirectory1Click},
        {CHMODDirectory2, &TFormMain::CHMODDirectory1Click},
        {SendCommand1, &TFormMain::SendCommand1Click},
        {ViewRemoteFile1, &TFormMain::ViewRemoteFile1Click},
        {ViewFile2, &TFormMain::ViewRemoteFile1Click},
        {ViewLocalFile1, &TFormMain::ViewLocalFile1Click},
        {ViewFile1, &TFormMain::ViewLocalFile1Click},
        {RefreshRemoteListing1, &TFormMain::RefreshRemoteListing1Click},
        {RefreshLocalListing1, &TFormMain::RefreshLocalListing1Click},
        {DirectoryInformation1, &TFormMain::DirectoryInformation1Click},
        {TBGetDir, &TFormMain::DirectoryInformation1Click},
        {Ping1, &TFormMain::Ping1Click},
        {DnsLookup1, &TFormMain::DnsLookup1Click},
        {URLValidation1, &TFormMain::URLValidation1Click},
        {AboutTarvik1, &TFormMain::AboutTarvik1Click},
        {HelpContents1, &TFormMain::HelpContents1Click},
        {HelpIndex1, &TFormMain::HelpIndex1Click},
        {VeltraneOnline1, &TFormMain::VeltraneOnline1Click},
    };
    for (const auto& [action, handler] : commands)
        connect(action, &QAction::triggered, this, handler);

    // A toolbar closed or shown by other means than the View menu (its own
    // close button while floating, the toolbar area's context menu) keeps the
    // menu's check mark honest.
    const std::pair<QToolBar*, QAction*> bars[] = {
        {Toolbar1, QuickConnectBar1}, {Toolbar2, MainToolbar1}, {Toolbar3, TransferModeBar1}};
    for (const auto& [bar, item] : bars)
        connect(bar, &QToolBar::visibilityChanged, this, [bar, item](bool) { item->setChecked(!bar->isHidden()); });

    connect(Radio1, &QRadioButton::clicked, this, &TFormMain::Radio1Click);
    connect(Radio2, &QRadioButton::clicked, this, &TFormMain::Radio2Click);

    for (TListView* list : {List1, RemoteDirs, RemoteFiles}) {
        connect(list, &TListView::SelectionChanged, this, [this] { SetControls(); });
        connect(list, &TListView::MouseUp, this, [this] { SetControls(); });
    }
    connect(RemoteDirs, &TListView::DoubleClicked, this, &TFormMain::RemoteDirsDblClick);
}
