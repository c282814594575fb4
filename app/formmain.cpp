#include "app/formmain.h"

#include "platform/appfolder.h"
#include "app/busycursor.h"
#include "app/imagelist.h"
#include "app/listview.h"
#include "ui/prompts.h"
#include "dialogs/tarvikicon.h"
#include "platform/application.h"
#include "dialogs/tools/toolhelp.h"
#include "ui/helpfile.h"
#include "dialogs/transferprogress.h"
#include "ftp/ftpclient.h"

#include <QCloseEvent>
#include <QDir>
#include <QHeaderView>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>

TFormMain* FormMain = nullptr;

namespace {

QWidget* MakePanel(QWidget* child)
{
    auto* panel = new QWidget;
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(child);
    return panel;
}

QSplitter* MakeSplitter(Qt::Orientation orientation, QWidget* parent)
{
    auto* splitter = new QSplitter(orientation, parent);
    splitter->setHandleWidth(3);
    splitter->setChildrenCollapsible(false);
    return splitter;
}

} // namespace

TFormMain::TFormMain(QWidget* parent) : QMainWindow(parent)
{
    FormMain = this;
    setObjectName(QStringLiteral("FormMain"));
    setWindowTitle(QStringLiteral("Tarvik"));
    setWindowIcon(TarvikIcon());
    setMinimumSize(640, 440);
    resize(640, 455);

    CreatePanes();
    CreateActions();
    CreateMainMenu();
    CreatePopupMenus();
    CreateToolbars();
    CreateStatusBar();
    ConnectSignals();
    ConnectDragAndDrop();
    CentreOnScreen();
    CreateFtpClient();
    SetToolHelpHandler([](const QString& topic) { THelpFile::ShowTopic(topic); });

    Application::SetExceptionHook([this](const std::exception& e) { AppException(nullptr, e); });
    ListingFile = appfolder::ApplicationFile(QStringLiteral("FTPDIR.TXT"));
    DragSource.clear();
    CancelTransfer = false;
    ResumeOffset = 0;
    // The user's own files at first; later starts go back to the last
    // folder (LoadWindowSettings).
    SelectFolder(QDir::homePath());
    LoadWindowSettings();
    FillQuickConnectList();
    constructing_ = false;
    SetLocalFiles();
    SetControls();
    ShowWinsockInfo();
    ApplyPaneHeights();
}

TFormMain::~TFormMain()
{
    ReleaseFtpClient();
    SetToolHelpHandler(nullptr);
    Application::SetExceptionHook(nullptr);
    if (FormMain == this)
        FormMain = nullptr;
}

void TFormMain::CreatePanes()
{
    Splitter2 = MakeSplitter(Qt::Vertical, this);
    Splitter2->setObjectName(QStringLiteral("Splitter2"));

    // Local side: folders | files.
    Splitter1 = MakeSplitter(Qt::Horizontal, nullptr);
    CreateFolderTree();
    Panel1 = MakePanel(Dir1);
    List1 = new TListView;
    List1->setObjectName(QStringLiteral("List1"));
    List1->SetColumns({QStringLiteral("Name"), QStringLiteral("Size (bytes)"), QStringLiteral("Date")}, {140, 80, 200});
    List1->Items()->setObjectName(QStringLiteral("List1"));
    List1->Items()->SetColumnKinds({TColumnKind::Name, TColumnKind::Size, TColumnKind::Date});
    List1->SetNameColumnStretches();
    // Files by name unless the user sorts otherwise.
    List1->ReportView()->sortByColumn(0, Qt::AscendingOrder);
    List1->SetImages(&TSystemImageList::Instance().Images(), &TSystemImageList::Instance().Images());
    Panel2 = MakePanel(List1);
    Splitter1->addWidget(Panel1);
    Splitter1->addWidget(Panel2);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({180, 460});
    PanelMain = MakePanel(Splitter1);
    PanelMain->setObjectName(QStringLiteral("PanelMain"));

    // Remote side: directories | files. Nothing to show before a session.
    Splitter3 = MakeSplitter(Qt::Horizontal, nullptr);
    RemoteDirs = new TListView;
    RemoteDirs->setObjectName(QStringLiteral("RemoteDirs"));
    RemoteDirs->SetColumns({QStringLiteral("Remote Directories")}, {160});
    RemoteDirs->SetImages(&RemoteImages(), &RemoteImages());
    RemoteDirs->Items()->setObjectName(QStringLiteral("RemoteDirs"));
    RemoteDirs->Items()->SetColumnKinds({TColumnKind::Name});
    // Directories are entered, not dragged anywhere.
    RemoteDirs->SetDragEnabled(false);
    RemoteDirs->setEnabled(false);
    Panel3 = MakePanel(RemoteDirs);
    RemoteFiles = new TListView;
    RemoteFiles->setObjectName(QStringLiteral("RemoteFiles"));
    RemoteFiles->SetColumns(
        {QStringLiteral("Name"), QStringLiteral("Size (bytes)"), QStringLiteral("Date"), QStringLiteral("Attributes")},
        {140, 80, 110, 90});
    RemoteFiles->Items()->setObjectName(QStringLiteral("RemoteFiles"));
    RemoteFiles->Items()->SetColumnKinds({TColumnKind::Name, TColumnKind::Size, TColumnKind::Date, TColumnKind::Text});
    RemoteFiles->SetNameColumnStretches();
    RemoteFiles->SetImages(&RemoteImages(), &RemoteImages());
    RemoteFiles->setEnabled(false);
    Panel4 = MakePanel(RemoteFiles);
    Splitter3->addWidget(Panel3);
    Splitter3->addWidget(Panel4);
    Splitter3->setStretchFactor(1, 1);
    Splitter3->setSizes({180, 460});
    RemoteMain = MakePanel(Splitter3);
    RemoteMain->setObjectName(QStringLiteral("RemoteMain"));

    Memo1 = new QPlainTextEdit;
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setFocusPolicy(Qt::NoFocus);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    QPalette palette = Memo1->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    Memo1->setPalette(palette);

    Splitter2->addWidget(PanelMain);
    Splitter2->addWidget(RemoteMain);
    Splitter2->addWidget(CreateQueuePane());
    Splitter2->setStretchFactor(2, 1);
    // Once the user sets the pane heights, they stay as set.
    connect(Splitter2, &QSplitter::splitterMoved, this, [this] { userPaneHeights_ = true; });
    setCentralWidget(Splitter2);
}

void TFormMain::CreateStatusBar()
{
    StatusPanel0 = new QLabel;
    StatusPanel0->setObjectName(QStringLiteral("StatusPanel0"));
    StatusPanel1 = new QLabel;
    StatusPanel1->setObjectName(QStringLiteral("StatusPanel1"));
    StatusPanel1->setMinimumWidth(200);
    for (QLabel* panel : {StatusPanel0, StatusPanel1}) {
        panel->setFrameShape(QFrame::NoFrame);
        panel->setTextFormat(Qt::PlainText);
        panel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }
    statusBar()->setObjectName(QStringLiteral("Status1"));
    // Panel 0 keeps its width so that panel 1 always starts at the same place.
    StatusPanel0->setFixedWidth(300);
    StatusPanel0->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    statusBar()->addWidget(StatusPanel0, 0);
    statusBar()->addWidget(StatusPanel1, 1);
}

void TFormMain::CentreOnScreen()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
}

void TFormMain::ApplyPaneHeights()
{
    // Local and remote panes share the window equally; the log takes what is
    // left. The toolbars sit above the local pane, so they count toward it.
    if (!Splitter2 || userPaneHeights_)
        return;
    const int toolbars = centralWidget()->geometry().top() - (menuBar() ? menuBar()->height() : 0);
    const int pane = std::max(60, height() / 2 - 60);
    const int local = std::max(60, pane - std::max(0, toolbars));
    const int total = Splitter2->height() - 2 * Splitter2->handleWidth();
    const int log = std::max(30, total - local - pane);
    Splitter2->setSizes({local, pane, log});
}

void TFormMain::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    ApplyPaneHeights();
}

void TFormMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    DefaultCursor();
    ApplyPaneHeights();
}

void TFormMain::Log(const QString& line)
{
    Memo1->appendPlainText(line);
    // The newest line stays in view, as the dialogue goes on.
    QScrollBar* bar = Memo1->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void TFormMain::SetStatusText(int panel, const QString& text)
{
    QLabel* label = panel == 0 ? StatusPanel0 : StatusPanel1;
    label->setText(text);
    label->setToolTip(text);
}

QString TFormMain::StatusText(int panel) const { return panel == 0 ? StatusPanel0->text() : StatusPanel1->text(); }

void TFormMain::SetCaptionDisconnected() { setWindowTitle(QStringLiteral("Tarvik - No Connection")); }

void TFormMain::SetCaptionConnected(const QString& host, const QString& address)
{
    setWindowTitle(QStringLiteral("Tarvik - Connected to: ") + host + QStringLiteral(" - IP (") + address +
                   QStringLiteral(")"));
}

void TFormMain::DefaultCursor()
{
    while (QGuiApplication::overrideCursor())
        QGuiApplication::restoreOverrideCursor();
}

void TFormMain::ShowMessageBox(const QString& caption, const QString& text, int kind)
{
    Prompts().Notice(caption, text, kind);
}

void TFormMain::DoError(const QString& message)
{
    if (message == QLatin1String("Socket send aborted") || message == QLatin1String("Accepting Canceled")) {
        ShowMessageBox(QStringLiteral("Transfer canceled"), QStringLiteral("The current file transfer was cancelled!"),
                       0);
    } else {
        const QString full = QStringLiteral("There was an error with Tarvik. Please report it to the vendor.\n"
                                            "The error message is: ") +
                             message;
        ShowMessageBox(QStringLiteral("Application Error"), full, 5);
    }
    if (IsConnected()) {
        AbortSession();
        DefaultCursor();
    }
    SetStatusText(1, QStringLiteral("Message: ") + message);
    DefaultCursor();
}

void TFormMain::AppException(QObject*, const std::exception& e) { DoError(QString::fromUtf8(e.what())); }

void TFormMain::Exit1Click() { close(); }

void TFormMain::closeEvent(QCloseEvent* event)
{
    if (!QueueMayClose()) {
        event->ignore();
        return;
    }
    if (IsConnected()) {
        Prompts().Beep();
        const QMessageBox::StandardButton answer = Prompts().Question(
            this, QStringLiteral("Warning"), QStringLiteral("You are still connected. Are you sure you want to exit?"),
            QMessageBox::Yes | QMessageBox::Cancel, QMessageBox::Cancel, QMessageBox::Cancel, QMessageBox::Warning);
        if (answer != QMessageBox::Yes) {
            event->ignore();
            return;
        }
        QuitSession();
        Application::ProcessMessages();
    }
    QueueClosing();
    SaveWindowSettings();
    SelectionList.clear();
    event->accept();
}
