#pragma once

// The main window: local folders and files above, the server's directories
// and files below, the log at the bottom. Its handlers are split over
// several files by concern: menus, settings, the local pane and its
// commands, connecting (session), FTP events, the remote listing, transfers,
// remote file commands and help.

#include <QDateTime>
#include <QMainWindow>
#include <QStringList>

#include "ui/prompts.h"
#include "ftp/ftptypes.h"
#include "net/ssltruststore.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

class QAction;
class QActionGroup;
class QComboBox;
class QFileSystemModel;
class QLabel;
class QMimeData;
class QTemporaryDir;
class QMenu;
class QPlainTextEdit;
class QRadioButton;
class QSplitter;
class QToolBar;
class QTreeView;
struct TProfileHooks;
class TFtpClient;
class TListView;
class TTransferProgress;
class TTransferQueue;
class TQueueControl;
class TQueuePane;
struct TTransferSite;
struct TConflictQuestion;
struct TConflictAnswer;
enum class TViewStyle;

class TFormMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TFormMain(QWidget* parent = nullptr);
    ~TFormMain() override;

    // ---- state shared by the main window's handlers --------------------
    QString DragSource;    // "", "list", "remote" or "remoteDir"
    QString UploadDirPath; // local folder of a directory upload, with trailing '/'
    QString SiteHost;
    QString SiteUser;
    QString SitePassword;
    QString SitePort;
    QString RemoteDir;   // from the last successful PWD
    QString ListingFile; // the listing file in the application folder
    qint64 TransferSize = 0;
    qint64 ResumeOffset = 0;
    bool CancelTransfer = false;
    bool SitePassive = false;
    // The profile's or login dialog's encryption and server-name encoding.
    TFtpEncryption SiteEncryption = TFtpEncryption::None;
    TFtpServerEncoding SiteEncoding = TFtpServerEncoding::Auto;
    bool ProgressActive = false;
    QStringList SelectionList;

    // The FTP client of the session, for the window's whole life.
    std::unique_ptr<TFtpClient> FTPC1;
    // The progress dialog of the transfer in progress, if any.
    std::unique_ptr<TTransferProgress> ProgressDialog;

    // ---- panes ----------------------------------------------------------
    QWidget* PanelMain = nullptr;
    QWidget* Panel1 = nullptr;
    QWidget* Panel2 = nullptr;
    QWidget* RemoteMain = nullptr;
    QWidget* Panel3 = nullptr;
    QWidget* Panel4 = nullptr;
    QSplitter* Splitter1 = nullptr; // local folders | local files
    QSplitter* Splitter2 = nullptr; // local | remote | log
    QSplitter* Splitter3 = nullptr; // remote directories | remote files
    QTreeView* Dir1 = nullptr;
    QFileSystemModel* Dir1Model = nullptr;
    TListView* List1 = nullptr;
    TListView* RemoteDirs = nullptr;
    TListView* RemoteFiles = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QLabel* StatusPanel0 = nullptr;
    QLabel* StatusPanel1 = nullptr;
    // The transfer queue beside the log, and its figures in the status bar.
    QSplitter* Splitter4 = nullptr; // log | transfer queue
    TQueuePane* QueuePane = nullptr;
    QLabel* StatusQueue = nullptr;

    // ---- toolbars -------------------------------------------------------
    QToolBar* Toolbar1 = nullptr; // quick connect bar
    QToolBar* Toolbar2 = nullptr; // main toolbar
    QToolBar* Toolbar3 = nullptr; // transfer mode bar
    QComboBox* ComboQuick = nullptr;
    QRadioButton* Radio1 = nullptr; // "Binary "
    QRadioButton* Radio2 = nullptr; // "Ascii"
    QAction* TBConnect = nullptr;
    QAction* TBDisconnect = nullptr;
    QAction* TBQuickConnect = nullptr;
    QAction* TBUpload = nullptr;
    QAction* TBDownload = nullptr;
    QAction* TBDelete = nullptr;
    QAction* ToolbarButton971 = nullptr;
    QAction* TBRename = nullptr;
    QAction* TBGetDir = nullptr;
    QAction* TBLgIcons = nullptr;
    QAction* TBList = nullptr;
    QAction* TBSmIcons = nullptr;
    QAction* TBDetails = nullptr;
    QActionGroup* ViewGroup = nullptr;

    // ---- main menu ------------------------------------------------------
    QMenu* Connection = nullptr;
    QAction* Connect1 = nullptr;
    QAction* QuickConnect1 = nullptr;
    QAction* Disconnect1 = nullptr;
    QAction* Profiles1 = nullptr;
    QAction* Exit1 = nullptr;
    QMenu* Files1 = nullptr;
    QAction* UploadFile1 = nullptr;
    QAction* DownloadFile1 = nullptr;
    QAction* ResumeDownload1 = nullptr;
    QMenu* Delete1 = nullptr;
    QAction* RemoteFile1 = nullptr;
    QAction* LocalFile1 = nullptr;
    QMenu* Rename1 = nullptr;
    QAction* RemoteFile2 = nullptr;
    QAction* LocalFile2 = nullptr;
    QMenu* Directories1 = nullptr;
    QAction* SendDirectory1 = nullptr;
    QAction* ChangeDirectory1 = nullptr;
    QMenu* CreateDirectory1 = nullptr;
    QAction* Remote1 = nullptr;
    QAction* Local1 = nullptr;
    QAction* UpDirectory1 = nullptr;
    QMenu* Delete2 = nullptr;
    QAction* RemoteDirectory1 = nullptr;
    QAction* LocalDirectory1 = nullptr;
    QMenu* Rename2 = nullptr;
    QAction* RemoteDirectory2 = nullptr;
    QAction* LocalDirectory2 = nullptr;
    QMenu* Main = nullptr;
    QAction* QuickConnectBar1 = nullptr;
    QAction* MainToolbar1 = nullptr;
    QAction* TransferModeBar1 = nullptr;
    QAction* IconView1 = nullptr;
    QAction* ListView1 = nullptr;
    QAction* SmallIcons1 = nullptr;
    QAction* ReportView1 = nullptr;
    QMenu* Options1 = nullptr;
    QAction* CHMODFile1 = nullptr;
    QAction* CHMODDirectory1 = nullptr;
    QAction* SendCommand1 = nullptr;
    QAction* ViewRemoteFile1 = nullptr;
    QAction* ViewLocalFile1 = nullptr;
    QAction* RefreshRemoteListing1 = nullptr;
    QAction* RefreshLocalListing1 = nullptr;
    QAction* KeepTimes1 = nullptr;     // "Keep modification times"
    QAction* QueueSettings1 = nullptr; // "Transfer &Queue Settings..."
    QMenu* Utilities1 = nullptr;
    QAction* DirectoryInformation1 = nullptr;
    QAction* Ping1 = nullptr;
    QAction* DnsLookup1 = nullptr;
    QAction* URLValidation1 = nullptr;
    QMenu* Help1 = nullptr;
    QAction* AboutTarvik1 = nullptr;
    QAction* HelpContents1 = nullptr;
    QAction* HelpIndex1 = nullptr;
    QAction* VeltraneOnline1 = nullptr;

    // ---- popup menus ----------------------------------------------------
    QMenu* PopDir1 = nullptr;
    QAction* UploadDir1 = nullptr;
    QAction* CreateDir1 = nullptr;
    QAction* DeleteDir1 = nullptr;
    QAction* RenameDir1 = nullptr;
    QMenu* PopRemoteDir = nullptr;
    QAction* ChangeDirectory2 = nullptr;
    QAction* DownloadDirectory1 = nullptr;
    QAction* CreateDirectory2 = nullptr;
    QAction* UpDirectory2 = nullptr;
    QAction* DeleteDirectory1 = nullptr;
    QAction* RenameDirectory1 = nullptr;
    QAction* CHMODDirectory2 = nullptr;
    QMenu* PopFile1 = nullptr;
    QAction* UploadFile2 = nullptr;
    QAction* DeleteFile1 = nullptr;
    QAction* RenameFile1 = nullptr;
    QAction* ViewFile1 = nullptr;
    QMenu* PopRFile1 = nullptr;
    QAction* DownloadFile2 = nullptr;
    QAction* ResumeDownload2 = nullptr;
    QAction* DeleteFile2 = nullptr;
    QAction* RenameFile2 = nullptr;
    QAction* ViewFile2 = nullptr;
    QAction* CHMODFile2 = nullptr;
    QMenu* PopTBDelF = nullptr;
    QAction* RemoteFile3 = nullptr;
    QAction* LocalFile3 = nullptr;
    QAction* RemoteDirectory3 = nullptr;
    QAction* LocalDirectory3 = nullptr;
    QMenu* PopTBRename = nullptr;
    QAction* RemoteFile4 = nullptr;
    QAction* LocalFile4 = nullptr;
    QAction* RemoteDirectory4 = nullptr;
    QAction* LocalDirectory4 = nullptr;
    QMenu* PopTBDir = nullptr;
    QAction* CreateRemoteDirectory1 = nullptr;
    QAction* CreateLocalDirectory1 = nullptr;

    // ---- frame operations -----------------------------------------------
    // Enables the commands from the connection state and the selections.
    void SetControls();
    void SetControls(bool connected);
    // True while the control connection is up.
    virtual bool IsConnected() const;

    void DoError(const QString& message);
    void AppException(QObject* sender, const std::exception& e);
    static void ShowMessageBox(const QString& caption, const QString& text, int kind);

    void LoadWindowSettings();
    void SaveWindowSettings();
    // The "Keep modification times" option of the Options menu: created
    // with its stored state (on when never stored), saved when toggled.
    void CreateOptionSettings();
    // Copies the site's encryption, server encoding and the keep-times
    // option into the FTP client before it connects.
    void ApplySiteSettings();
    // The connected host as the caption and log show it: a literal IPv6
    // address in brackets with its port ("[::1]:2121").
    QString DisplayHost() const;
    void FillQuickConnectList();
    void ShowWinsockInfo();

    // Appends one line to the log.
    void Log(const QString& line);
    // Status bar panel 0 or 1.
    void SetStatusText(int panel, const QString& text);
    QString StatusText(int panel) const;
    // Window caption after a disconnect and while connected.
    void SetCaptionDisconnected();
    void SetCaptionConnected(const QString& host, const QString& address);

    // Removes every hourglass, however many running commands set one (the
    // error display; requests and batches hold a TBusyCursor).
    static void DefaultCursor();

    // ---- local pane -------------------------------------------------------
    QString SelectedFolder() const; // empty when no folder is selected
    bool HasSelectedFolder() const { return !SelectedFolder().isEmpty(); }
    bool SelectFolder(const QString& path);
    void RefreshDir1();
    void SetLocalFiles();
    static QString LocalFileDate(const QDateTime& lastWrite);
    // Moves the local pane to the parent of the selected folder.
    void LocalFolderUp();

    TViewStyle ViewStyle() const;
    bool BinaryMode() const;

    // ---- session ----------------------------------------------------------
    void OpenSession();
    void AskLoginAgain();
    void RequestRemoteListing();
    void ParseRemoteListing();
    // The name a remote list item stands for (its caption may only show it).
    static QString ItemName(const TListView* list, int row);

    // ---- transfers ---------------------------------------------------------
    // Each returns true when the file arrived whole (not failed, not
    // cancelled).
    bool SendAFile(const QString& localPath, const QString& remoteName, qint64 resumeAt = 0);
    bool ReceiveAFile(const QString& remoteName, const QString& localPath);
    bool ResumeAFile(const QString& remoteName, const QString& localPath);

    // The same-name question's answers within one batch of transfers.
    struct TSameNameBatch {
        bool ApplyToAll = false;
        TSameNameAnswer Answer = TSameNameAnswer::Skip;
    };
    // Where one file of a batch goes: its (maybe new) name, whether it is
    // skipped, and the offset to resume from (0: from the start).
    struct TTarget {
        QString Name;
        bool Skip = false;
        qint64 ResumeAt = 0;
    };
    // Asks the same-name question when `name` is taken at the destination:
    // the local `folder` (downloads) or the current remote listing
    // (uploads). `sourceSize` is -1 when unknown.
    TTarget ResolveSameName(TSameNameBatch& batch, const QString& folder, const QString& name, qint64 sourceSize,
                            bool upload);
    // Size of a file in the current remote listing; -1 when not listed or
    // unknown.
    qint64 RemoteFileSize(const QString& name) const;
    bool RemoteFileListed(const QString& name) const;
    // The listed file's modification time when the listing gave it exactly
    // (MLSD), as Unix seconds; 0 otherwise.
    std::int64_t RemoteFileExactTime(const QString& name) const;
    void SendDragFiles();
    void SendDragDir();
    void List1StartDrag();
    void RemoteFilesStartDrag();
    void Dir1StartDrag();
    bool List1DragOver(bool sourceIsListView) const;
    // A drag this window started from its local side is pending; with the
    // drag's data, also that the data is that drag's.
    bool RemoteFilesDragOver() const;
    bool RemoteFilesDragOver(const QMimeData* data) const;
    void List1DragDrop();
    void RemoteFilesDragDrop();
    // The local file a remote name may be written to inside `folder`; false
    // (with an "Error: " log line) when the name could lead anywhere else.
    bool SafeLocalPath(const QString& folder, const QString& remoteName, QString& localPath);
    // The folder selected in Dir1 followed by "/", empty when none is.
    QString FolderPrefix() const;

    // ---- transfer queue (formmain_queue.cpp) --------------------------------
    TTransferQueue& TransferQueue();
    // Nothing queued is left to run and the queue's sessions are stopped.
    bool QueueIdle() const;
    // Queues the local folder for upload into the current remote directory.
    void QueueUploadFolder(const QString& folder);
    void StartQueue();
    // Options > "Transfer Queue Settings...": connections per site and
    // retries, taken by the next start of the queue.
    void QueueSettings1Click();
    // A session was opened: a queue loaded from the last session runs again
    // when it belongs to this site.
    void QueueSessionOpened();
    // Closing: the question about a non-empty queue, then stopping and
    // saving it.
    bool QueueMayClose();
    void QueueClosing();

    // ---- FTP events ----------------------------------------------------------
    void FTPC1Display(TCustomFtpCli* sender, std::string& msg);
    void FTPC1DisplayFile(TCustomFtpCli* sender, std::string& msg);
    void FTPC1Command(TCustomFtpCli* sender, std::string& cmd);
    void FTPC1Response(TCustomFtpCli* sender);
    void FTPC1Progress(TCustomFtpCli* sender, std::int64_t count, bool& abort);
    void FTPC1SessionConnected(TCustomFtpCli* sender, std::uint16_t error);
    void FTPC1SessionClosed(TCustomFtpCli* sender, std::uint16_t error);
    void FTPC1RequestDone(TCustomFtpCli* sender, TFtpRequest rqType, std::uint16_t error);
    void FTPC1StateChange(TCustomFtpCli* sender);
    void FTPC1ReadyToTransmit(TCustomFtpCli* sender, bool& cancel);
    void FTPC1BgException(TCustomFtpCli* sender, const std::exception& e, bool& canClose);
    void WireCertificateCheck();
    TSslTrustAnswer FTPC1CertificateCheck(const TSslTrustQuestion& question);

public slots:
    // Connection (filled in by the connection flow).
    void Connect1Click();
    void QuickConnect1Click();
    void Disconnect1Click();
    void Profiles1Click();
    void Exit1Click();
    // Transfers.
    void UploadFile1Click();
    void DownloadFile1Click();
    void ResumeDownload1Click();
    void SendDirectory1Click();
    void DownloadDirectory1Click();
    // File and directory commands.
    void RemoteFile1Click();
    void LocalFile1Click();
    void RemoteFile2Click();
    void LocalFile2Click();
    void ChangeDirectory1Click();
    void Remote1Click();
    void Local1Click();
    void UpDirectory1Click();
    void RemoteDirectory1Click();
    void LocalDirectory1Click();
    void RemoteDirectory2Click();
    void LocalDirectory2Click();
    void CHMODFile1Click();
    void CHMODDirectory1Click();
    void SendCommand1Click();
    void ViewRemoteFile1Click();
    void ViewLocalFile1Click();
    void RefreshRemoteListing1Click();
    void RefreshLocalListing1Click();
    void RemoteDirsDblClick();
    // A double-click or Enter on the remote files: a link may lead to a
    // directory (tried first); anything else is downloaded.
    void RemoteFilesDblClick();
    // View.
    void QuickConnectBar1Click();
    void MainToolbar1Click();
    void TransferModeBar1Click();
    void IconView1Click();
    void ListView1Click();
    void SmallIcons1Click();
    void ReportView1Click();
    void Radio1Click();
    void Radio2Click();
    // Utilities.
    void DirectoryInformation1Click();
    void Ping1Click();
    void DnsLookup1Click();
    void URLValidation1Click();
    // Help.
    void AboutTarvik1Click();
    void HelpContents1Click();
    void HelpIndex1Click();
    void VeltraneOnline1Click();
    // Local pane.
    void Dir1Change();

protected:
    // Leave the session when the window closes while connected, and stop
    // the running request after an error.
    virtual void QuitSession();
    virtual void AbortSession();

    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    bool AskChmodMode(const TListView* list, QString& mode);
    void CreatePanes();
    void CreateFolderTree();
    void CreateFolderTreeModel();
    void CreateActions();
    void CreateMainMenu();
    void CreatePopupMenus();
    void CreateToolbars();
    void CreateStatusBar();
    QWidget* CreateQueuePane();
    bool QueueSite(TTransferSite& site);
    QString AbsoluteRemotePath(const QString& name) const;
    void QueueFinished(bool ok);
    void ShowQueueStatus();
    void OfferSavedQueue();
    TConflictAnswer QueueConflict(const TConflictQuestion& question);
    void ConnectSignals();
    void ApplyPaneHeights();
    void SetViewStyle(TViewStyle style, QAction* menuItem, QAction* button);
    void ToggleToolbar(QAction* menuItem, QToolBar* toolbar);
    void ColourTransferModes();
    void CentreOnScreen();
    void CreateFtpClient();
    void ReleaseFtpClient();
    void ConnectDragAndDrop();
    // Runs one blocking request of FTPC1; a wait that ran out without any
    // completion is reported as a time-out.
    bool RunRequest(bool (TFtpClient::*request)());
    void ReportTimeout();
    void SetTransferType();
    bool ReceiveOrResume(const QString& remoteName, const QString& localPath, bool resume);
    void ReceiveInto(TSameNameBatch& batch, const QString& folder, const QString& name, qint64 remoteSize);
    // F5, Backspace, Enter and Delete on the panes.
    bool PaneKey(QObject* pane, int key);
    void InstallPaneKeys();
    void ApplyListSorting();
    void SaveListLayout() const;
    void RestoreListLayout();
    TProfileHooks ProfileHooks();

    bool constructing_ = true;
    int requestsDone_ = 0;  // completions seen, to tell a silent time-out
    QString revealPending_; // folder to scroll into view once its parent is read
    // Copies of remote files opened for viewing; removed with the window.
    std::unique_ptr<QTemporaryDir> viewFolder_;
    // The user moved (or a stored layout set) the heights of the panes.
    bool userPaneHeights_ = false;
    // The user gave up logging in again after a refused login.
    bool loginGivenUp_ = false;
    // Destroyed where its type is known (formmain_queue.cpp): the queue's
    // types and the progress dialog's share names and never meet in one file.
    struct TQueueControlDeleter {
        void operator()(TQueueControl* control) const;
    };
    std::unique_ptr<TQueueControl, TQueueControlDeleter> queue_;
};

// The one main window, set before its constructor runs its own code.
extern TFormMain* FormMain;
