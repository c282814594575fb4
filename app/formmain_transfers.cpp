// Uploads and downloads: one file at a time through the progress dialog,
// batches over the selections, folder uploads and drag and drop between
// the panes.

#include "app/formmain.h"

#include "app/listview.h"
#include "dialogs/prompts.h"
#include "dialogs/transferprogress.h"
#include "ftp/ftpclient.h"
#include "platform/application.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QRadioButton>
#include <QTreeView>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

// The remote path the progress dialog shows; the root needs no second "/".
QString RemotePath(const QString& dir, const QString& name)
{
    return dir.endsWith(QLatin1Char('/')) ? dir + name : dir + QLatin1Char('/') + name;
}

std::string LocalName(const QString& path) { return QFile::encodeName(path).toStdString(); }

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

} // namespace

QString TFormMain::FolderPrefix() const
{
    const QString folder = SelectedFolder();
    if (folder.isEmpty() || folder.endsWith(QLatin1Char('/')))
        return folder;
    return folder + QLatin1Char('/');
}

bool TFormMain::SafeLocalPath(const QString& folder, const QString& remoteName, QString& localPath)
{
    // The name comes from the server's listing: it must name a file right
    // inside the folder the user chose, and nothing else.
    const bool plain = !remoteName.isEmpty() && remoteName != QLatin1String(".") &&
                       remoteName != QLatin1String("..") && !remoteName.contains(QLatin1Char('/')) &&
                       !remoteName.contains(QChar(0)) && !remoteName.contains(QLatin1Char('\r')) &&
                       !remoteName.contains(QLatin1Char('\n'));
    bool inside = plain && !folder.isEmpty();
    QString path;
    if (inside) {
        const QString base = QDir::cleanPath(folder);
        path = QDir::cleanPath(base + QLatin1Char('/') + remoteName);
        inside = QFileInfo(path).absolutePath() == QFileInfo(base + QLatin1Char('/') + QLatin1Char('x')).absolutePath();
        // A link already there would carry the data wherever it points.
        const QFileInfo existing(path);
        if (inside && existing.isSymLink()) {
            const QString target = existing.canonicalFilePath();
            const QString canonicalBase = QFileInfo(base).canonicalFilePath();
            inside = !target.isEmpty() && QFileInfo(target).absolutePath() == canonicalBase;
        }
    }
    if (!inside) {
        Log(QStringLiteral("Error: Refused to write the remote file \"") + remoteName +
            QStringLiteral("\": its name leads outside the folder \"") + folder + QStringLiteral("\""));
        return false;
    }
    localPath = path;
    return true;
}

void TFormMain::SetTransferType()
{
    FTPC1->SetBinary(Radio1->isChecked());
    RunRequest(&TFtpClient::TypeSet);
}

void TFormMain::SendAFile(const QString& localPath, const QString& remoteName)
{
    struct stat info {};
    if (stat(QFile::encodeName(localPath).constData(), &info) != 0) {
        ShowMessageBox(QStringLiteral("File doesn't exist!"),
                       QStringLiteral("The file selected file does not exist on your local drive!"), 0);
        return;
    }
    if (info.st_size != 0)
        TransferSize = info.st_size;

    HourglassCursor();
    const QString fileNamePart = remoteName.mid(remoteName.lastIndexOf(QLatin1Char('/')) + 1);
    auto dialog = ProgressDialog->Open(TTransferDirection::Sending, fileNamePart,
                                       RemotePath(RemoteDir, remoteName), localPath, TransferSize, 0);
    FTPC1->SetLocalFileName(LocalName(localPath));
    FTPC1->SetHostDirName(RemoteDir.toStdString());
    FTPC1->SetHostFileName(remoteName.toStdString());
    SetTransferType();
    ProgressActive = true;
    RunRequest(&TFtpClient::Put);
    dialog.Close();
    DefaultCursor();
}

void TFormMain::ReceiveOrResume(const QString& remoteName, const QString& localPath, bool resume)
{
    HourglassCursor();
    FTPC1->SetHostFileName(remoteName.toStdString());
    RunRequest(&TFtpClient::Size);
    auto dialog = ProgressDialog->Open(TTransferDirection::Receiving, remoteName,
                                       RemotePath(RemoteDir, remoteName), localPath, TransferSize,
                                       resume ? ResumeOffset : 0);
    SetTransferType();
    ProgressActive = true;
    FTPC1->SetLocalFileName(LocalName(localPath));
    RunRequest(resume ? &TFtpClient::RestGet : &TFtpClient::Get);
    dialog.Close();
    DefaultCursor();
    if (resume)
        ResumeOffset = 0;
}

void TFormMain::ReceiveAFile(const QString& remoteName, const QString& localPath)
{
    ReceiveOrResume(remoteName, localPath, false);
}

void TFormMain::ResumeAFile(const QString& remoteName, const QString& localPath)
{
    ReceiveOrResume(remoteName, localPath, true);
}

void TFormMain::UploadFile1Click()
{
    const std::vector<int> selected = List1->SelectedRows();
    if (selected.empty()) {
        ShowMessageBox(QStringLiteral("No selected file!"), QStringLiteral("You didn't select any files to upload!"), 0);
        return;
    }
    HourglassCursor();
    bool ask = true;
    QString name;
    QString localPath;
    for (const int row : selected) {
        if (row >= List1->Items()->Count())
            break;
        if (HasSelectedFolder()) {
            name = List1->Items()->Item(row).Caption;
            localPath = FolderPrefix() + name;
        }
        QMessageBox::StandardButton answer = QMessageBox::Yes;
        if (ask) {
            Prompts().Beep();
            answer = Prompts().Question(this, QStringLiteral("Confirm"),
                                        QStringLiteral("Do you want the file \"") + name +
                                            QStringLiteral("\" to have the same name on the remote host?"),
                                        QMessageBox::Yes | QMessageBox::No | QMessageBox::YesToAll,
                                        QMessageBox::Yes, QMessageBox::Cancel);
            if (answer != QMessageBox::Yes && answer != QMessageBox::No)
                ask = false;
        }
        if (answer == QMessageBox::No) {
            QString newName = name;
            if (!Prompts().Input(this, QStringLiteral("New File Name"),
                                 QStringLiteral("Please type in a new name for the file."), newName))
                newName = name;
            name = newName;
        }
        if (CancelTransfer)
            break;
        if (!name.isEmpty() && !localPath.isEmpty())
            SendAFile(localPath, name);
    }
    CancelTransfer = false;
    RequestRemoteListing();
    DefaultCursor();
}

void TFormMain::DownloadFile1Click()
{
    QString target = FolderPrefix();
    const std::vector<int> selected = RemoteFiles->SelectedRows();
    if (selected.empty()) {
        ShowMessageBox(QStringLiteral("File Download Error"), QStringLiteral("You didn't select any files to download!"),
                       0);
        return;
    }
    // The names first: the loop runs the event loop and the list may change.
    QStringList names;
    for (const int row : selected)
        names.append(ItemName(RemoteFiles, row));

    bool ask = true;
    for (const QString& name : names) {
        if (ask) {
            Prompts().Beep();
            const QMessageBox::StandardButton answer = Prompts().Question(
                this, QStringLiteral("Confirm"),
                QStringLiteral("Do you want the selected file(files) to be saved in the directory \" ") + target +
                    QStringLiteral(" ?"),
                QMessageBox::Yes | QMessageBox::No | QMessageBox::YesToAll, QMessageBox::Yes, QMessageBox::Cancel);
            if (answer == QMessageBox::No) {
                const QString chosen = Prompts().SelectFolder(this, QStringLiteral("Select a folder"), target);
                if (chosen.isEmpty()) {
                    target.clear();
                } else {
                    QDir().mkpath(chosen);
                    target = chosen.endsWith(QLatin1Char('/')) ? chosen : chosen + QLatin1Char('/');
                    RefreshDir1();
                    Application::ProcessMessages();
                }
            } else if (answer != QMessageBox::Yes) {
                ask = false;
            }
        }
        if (CancelTransfer)
            break;
        if (target.isEmpty())
            continue;
        QString localPath;
        if (SafeLocalPath(target, name, localPath))
            ReceiveAFile(name, localPath);
    }
    Dir1->viewport()->update();
    CancelTransfer = false;
    SetLocalFiles();
}

void TFormMain::ResumeDownload1Click()
{
    const QString folder = FolderPrefix();
    const std::vector<int> selected = RemoteFiles->SelectedRows();
    if (selected.empty()) {
        ShowMessageBox(QStringLiteral("Resume Error"), QStringLiteral("You didn't select any files to download!"), 0);
        return;
    }
    if (selected.size() > 1) {
        ShowMessageBox(QStringLiteral("Resume Error"),
                       QStringLiteral("You can only resume the download of one file at a time!"), 0);
        return;
    }
    const QString name = ItemName(RemoteFiles, selected.front());
    QString localPath;
    if (!SafeLocalPath(folder, name, localPath))
        return;
    struct stat info {};
    if (stat(QFile::encodeName(localPath).constData(), &info) != 0) {
        ShowMessageBox(QStringLiteral("Resume Error"),
                       QStringLiteral("Tarvik can not find the file on your local drive.\n"
                                      "Make sure it is in the selected directory"),
                       0);
        return;
    }
    if (info.st_size != 0)
        ResumeOffset = info.st_size;
    ResumeAFile(name, localPath);
    CancelTransfer = false;
    SetLocalFiles();
}

void TFormMain::SendDirectory1Click()
{
    if (!HasSelectedFolder())
        return;
    DragSource = QStringLiteral("remoteDir");
    CancelTransfer = false;
    UploadDirPath = FolderPrefix();
    SendDragDir();
}

void TFormMain::SendDragDir()
{
    std::unique_ptr<DIR, DirCloser> dir(opendir(QFile::encodeName(UploadDirPath).constData()));
    if (!dir)
        return;
    // The names first: each upload runs the event loop, and the folder may
    // change meanwhile.
    QStringList names;
    const int dirFd = dirfd(dir.get());
    while (const dirent* entry = readdir(dir.get())) {
        struct stat info {};
        if (fstatat(dirFd, entry->d_name, &info, 0) != 0 &&
            fstatat(dirFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        // Folders are not entered, and a folder is no file to send, whatever
        // its permissions.
        if (S_ISDIR(info.st_mode))
            continue;
        names.append(QFile::decodeName(entry->d_name));
    }
    dir.reset();
    if (names.isEmpty())
        return;
    for (const QString& name : names) {
        if (CancelTransfer)
            break;
        SendAFile(UploadDirPath + name, name);
    }
    CancelTransfer = false;
    RequestRemoteListing();
}

void TFormMain::List1StartDrag()
{
    if (!HasSelectedFolder())
        return;
    DragSource = QStringLiteral("list");
    CancelTransfer = false;
    SelectionList.clear();
    if (!RemoteFiles->isEnabled())
        return;
    for (const int row : List1->SelectedRows())
        SelectionList.append(FolderPrefix() + List1->Items()->Item(row).Caption);
}

void TFormMain::RemoteFilesStartDrag()
{
    DragSource = QStringLiteral("remote");
    CancelTransfer = false;
    SelectionList.clear();
    for (const int row : RemoteFiles->SelectedRows())
        SelectionList.append(ItemName(RemoteFiles, row));
}

void TFormMain::Dir1StartDrag()
{
    if (!HasSelectedFolder())
        return;
    DragSource = QStringLiteral("remoteDir");
    CancelTransfer = false;
    UploadDirPath = FolderPrefix();
}

bool TFormMain::List1DragOver(bool sourceIsListView) const { return sourceIsListView; }

bool TFormMain::RemoteFilesDragOver() const { return true; }

void TFormMain::RemoteFilesDragDrop()
{
    if (DragSource == QLatin1String("list"))
        SendDragFiles();
    else if (DragSource == QLatin1String("remoteDir"))
        SendDragDir();
}

void TFormMain::SendDragFiles()
{
    if (SelectionList.isEmpty())
        return;
    HourglassCursor();
    const QStringList files = SelectionList;
    for (const QString& path : files) {
        if (CancelTransfer)
            break;
        SendAFile(path, path.mid(path.lastIndexOf(QLatin1Char('/')) + 1));
    }
    CancelTransfer = false;
    SelectionList.clear();
    RequestRemoteListing();
    DefaultCursor();
}

void TFormMain::List1DragDrop()
{
    if (DragSource == QLatin1String("list"))
        return;
    if (!SelectionList.isEmpty()) {
        HourglassCursor();
        const QStringList names = SelectionList;
        for (const QString& name : names) {
            if (CancelTransfer)
                break;
            if (!HasSelectedFolder())
                continue;
            QString localPath;
            if (SafeLocalPath(FolderPrefix(), name, localPath))
                ReceiveAFile(name, localPath);
        }
    }
    CancelTransfer = false;
    SelectionList.clear();
    SetLocalFiles();
    DefaultCursor();
}

void TFormMain::ConnectDragAndDrop()
{
    List1->Items()->OnStartDrag = [this] { List1StartDrag(); };
    RemoteFiles->Items()->OnStartDrag = [this] { RemoteFilesStartDrag(); };
    List1->SetDropFilter([this](const QMimeData* data) { return List1DragOver(data->hasFormat(TListModel::MimeType())); });
    RemoteFiles->SetDropFilter([this](const QMimeData*) { return RemoteFilesDragOver(); });
    connect(List1, &TListView::Dropped, this, &TFormMain::List1DragDrop);
    connect(RemoteFiles, &TListView::Dropped, this, &TFormMain::RemoteFilesDragDrop);
}
