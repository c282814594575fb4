// Uploads and downloads: one file at a time through the progress dialog,
// batches over the selections, folder uploads and drag and drop between
// the panes.

#include "app/formmain.h"

#include "app/busycursor.h"
#include "app/foldertreemodel.h"
#include "app/listformat.h"
#include "app/listview.h"
#include "ui/prompts.h"
#include "dialogs/transferprogress.h"
#include "ftp/ftpclient.h"
#include "platform/application.h"
#include "transfers/transferpaths.h"

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
    QString folder = SelectedFolder();
    if (folder.isEmpty() || folder.endsWith(QLatin1Char('/')))
        return folder;
    return folder + QLatin1Char('/');
}

bool TFormMain::SafeLocalPath(const QString& folder, const QString& remoteName, QString& localPath)
{
    // The name comes from the server's listing: it must name a file right
    // inside the folder the user chose, and nothing else (the queue's checks,
    // so both ways of downloading refuse the same names).
    const std::string dir = QFile::encodeName(QDir::cleanPath(folder)).toStdString();
    const std::string name = QFile::encodeName(remoteName).toStdString();
    std::string path;
    std::string why;
    bool inside = !folder.isEmpty();
    if (inside && QFileInfo(folder).isDir()) {
        inside = SafeLocalChild(dir, dir, name, path, why);
    } else if (inside) {
        // A folder not there yet holds no link to follow; the transfer
        // reports the missing folder itself.
        inside = IsSafeEntryName(name, why);
        path = JoinLocalPath(dir, name);
    }
    if (!inside) {
        Log(QStringLiteral("Error: Refused to write the remote file \"") + remoteName +
            QStringLiteral("\": its name leads outside the folder \"") + folder + QStringLiteral("\""));
        return false;
    }
    localPath = QFile::decodeName(QByteArray::fromStdString(path));
    return true;
}

void TFormMain::SetTransferType()
{
    FTPC1->SetBinary(Radio1->isChecked());
    RunRequest(&TFtpClient::TypeSet);
}

bool TFormMain::SendAFile(const QString& localPath, const QString& remoteName, qint64 resumeAt)
{
    struct stat info {};
    if (stat(QFile::encodeName(localPath).constData(), &info) != 0) {
        ShowMessageBox(QStringLiteral("File doesn't exist!"),
                       QStringLiteral("The file selected file does not exist on your local drive!"), 0);
        return false;
    }
    // An empty file has a known size of 0, shown as such: never the figure of
    // the file sent before it.
    TransferSize = info.st_size;

    const TBusyCursor busy;
    const QString fileNamePart = remoteName.mid(remoteName.lastIndexOf(QLatin1Char('/')) + 1);
    auto dialog = ProgressDialog->Open(TProgressDirection::Sending, fileNamePart, RemotePath(RemoteDir, remoteName),
                                       localPath, TransferSize, resumeAt);
    FTPC1->SetLocalFileName(LocalName(localPath));
    FTPC1->SetHostDirName(RemoteDir.toStdString());
    FTPC1->SetHostFileName(remoteName.toStdString());
    SetTransferType();
    ProgressActive = true;
    bool sent = false;
    if (resumeAt > 0) {
        FTPC1->SetResumeAt(resumeAt);
        sent = RunRequest(&TFtpClient::RestPut);
    } else {
        sent = RunRequest(&TFtpClient::Put);
    }
    dialog.Close();
    return sent && !CancelTransfer;
}

bool TFormMain::ReceiveOrResume(const QString& remoteName, const QString& localPath, bool resume)
{
    const TBusyCursor busy;
    const qint64 start = resume ? ResumeOffset : 0;
    FTPC1->SetHostFileName(remoteName.toStdString());
    // The type first: some servers refuse SIZE in ASCII mode, and the size
    // they give depends on the type. A refused SIZE leaves the size
    // unknown, never the previous file's.
    SetTransferType();
    TransferSize = 0;
    RunRequest(&TFtpClient::Size);
    auto dialog = ProgressDialog->Open(TProgressDirection::Receiving, remoteName, RemotePath(RemoteDir, remoteName),
                                       localPath, TransferSize, start);
    ProgressActive = true;
    FTPC1->SetLocalFileName(LocalName(localPath));
    // The MLSD listing's time saves the MDTM the kept time would cost.
    FTPC1->SetHostFileTime(RemoteFileExactTime(remoteName));
    const bool received = RunRequest(resume ? &TFtpClient::RestGet : &TFtpClient::Get);
    FTPC1->SetHostFileTime(0);
    dialog.Close();
    if (resume)
        ResumeOffset = 0;
    return received && !CancelTransfer;
}

bool TFormMain::ReceiveAFile(const QString& remoteName, const QString& localPath)
{
    return ReceiveOrResume(remoteName, localPath, false);
}

bool TFormMain::ResumeAFile(const QString& remoteName, const QString& localPath)
{
    return ReceiveOrResume(remoteName, localPath, true);
}

qint64 TFormMain::RemoteFileSize(const QString& name) const
{
    for (int row = 0; row < RemoteFiles->Items()->Count(); ++row) {
        if (ItemName(RemoteFiles, row) == name)
            return RemoteFiles->Items()->Item(row).Size;
    }
    return -1;
}

std::int64_t TFormMain::RemoteFileExactTime(const QString& name) const
{
    for (int row = 0; row < RemoteFiles->Items()->Count(); ++row) {
        const TListItem& item = RemoteFiles->Items()->Item(row);
        if (ItemName(RemoteFiles, row) == name)
            return item.TimeExact && item.Time > 0 ? item.Time : 0;
    }
    return 0;
}

bool TFormMain::RemoteFileListed(const QString& name) const
{
    for (int row = 0; row < RemoteFiles->Items()->Count(); ++row) {
        if (ItemName(RemoteFiles, row) == name)
            return true;
    }
    return false;
}

TFormMain::TTarget TFormMain::ResolveSameName(TSameNameBatch& batch, const QString& folder, const QString& name,
                                              qint64 sourceSize, bool upload)
{
    TTarget target;
    target.Name = name;
    for (;;) {
        qint64 targetSize = -1;
        bool exists = false;
        if (upload) {
            exists = RemoteFileListed(target.Name);
            targetSize = RemoteFileSize(target.Name);
        } else {
            const QFileInfo info(folder + target.Name);
            exists = info.exists() || info.isSymLink();
            targetSize = info.isFile() ? info.size() : -1;
        }
        if (!exists)
            return target;

        const bool canResume = sourceSize > 0 && targetSize >= 0 && targetSize < sourceSize;
        TSameNameAnswer answer = batch.Answer;
        if (!batch.ApplyToAll) {
            const QString where = upload ? QStringLiteral("on the remote host")
                                         : QStringLiteral("in \"") + folder + QLatin1Char('"');
            QString text = QStringLiteral("The file \"") + target.Name + QStringLiteral("\" already exists ") + where +
                           QLatin1Char('.');
            if (targetSize >= 0)
                text += QStringLiteral("\nExisting file: ") + SizeText(targetSize) + QStringLiteral(" bytes");
            if (sourceSize >= 0)
                text += QStringLiteral("\nNew file: ") + SizeText(sourceSize) + QStringLiteral(" bytes");
            Prompts().Beep();
            bool applyToAll = false;
            answer = Prompts().SameName(this, QStringLiteral("File Exists"), text, canResume, applyToAll);
            if (applyToAll) {
                batch.ApplyToAll = true;
                batch.Answer = answer;
            }
        }
        switch (answer) {
        case TSameNameAnswer::Overwrite:
            return target;
        case TSameNameAnswer::Resume:
            // Nothing left to fetch, or a target that is not a shorter copy:
            // leave it as it is.
            if (!canResume) {
                target.Skip = true;
                return target;
            }
            target.ResumeAt = targetSize;
            return target;
        case TSameNameAnswer::Skip:
            target.Skip = true;
            return target;
        case TSameNameAnswer::Rename: {
            QString renamed = target.Name;
            if (!Prompts().Input(this, QStringLiteral("Rename"),
                                 QStringLiteral("New name for \"") + target.Name + QStringLiteral("\":"), renamed) ||
                renamed.isEmpty() || renamed == target.Name) {
                target.Skip = true;
                return target;
            }
            // The new name may be taken as well: look again.
            target.Name = renamed;
            continue;
        }
        }
        return target;
    }
}

void TFormMain::UploadFile1Click()
{
    const std::vector<int> selected = List1->SelectedRows();
    if (selected.empty()) {
        ShowMessageBox(QStringLiteral("No selected file!"), QStringLiteral("You didn't select any files to upload!"),
                       0);
        return;
    }
    // The names first: every upload runs the event loop.
    QStringList captions;
    for (const int row : selected)
        captions.append(List1->Items()->Item(row).Caption);
    const TBusyCursor busy;
    bool ask = true;
    TSameNameBatch batch;
    for (const QString& caption : captions) {
        QString name;
        QString localPath;
        if (HasSelectedFolder()) {
            name = caption;
            localPath = FolderPrefix() + name;
        }
        QMessageBox::StandardButton answer = QMessageBox::Yes;
        if (ask) {
            Prompts().Beep();
            answer = Prompts().Question(this, QStringLiteral("Confirm"),
                                        QStringLiteral("Do you want the file \"") + name +
                                            QStringLiteral("\" to have the same name on the remote host?"),
                                        QMessageBox::Yes | QMessageBox::No | QMessageBox::YesToAll, QMessageBox::Yes,
                                        QMessageBox::Cancel);
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
        if (name.isEmpty() || localPath.isEmpty())
            continue;
        const TTarget target = ResolveSameName(batch, QString(), name, QFileInfo(localPath).size(), true);
        if (!target.Skip)
            SendAFile(localPath, target.Name, target.ResumeAt);
    }
    CancelTransfer = false;
    RequestRemoteListing();
}

void TFormMain::DownloadFile1Click()
{
    // Only directories selected: they are queued as whole trees.
    if (RemoteFiles->SelCount() == 0 && RemoteDirs->SelCount() > 0) {
        DownloadDirectory1Click();
        return;
    }
    QString target = FolderPrefix();
    const std::vector<int> selected = RemoteFiles->SelectedRows();
    if (selected.empty()) {
        ShowMessageBox(QStringLiteral("File Download Error"),
                       QStringLiteral("You didn't select any files to download!"), 0);
        return;
    }
    // The names and sizes first: the loop runs the event loop and the list
    // may change.
    QStringList names;
    QList<qint64> sizes;
    for (const int row : selected) {
        names.append(ItemName(RemoteFiles, row));
        sizes.append(RemoteFiles->Items()->Item(row).Size);
    }

    bool ask = true;
    TSameNameBatch batch;
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QString& name = names[i];
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
        ReceiveInto(batch, target, name, sizes[i]);
    }
    Dir1->viewport()->update();
    CancelTransfer = false;
    SetLocalFiles();
}

void TFormMain::ReceiveInto(TSameNameBatch& batch, const QString& folder, const QString& name, qint64 remoteSize)
{
    QString localPath;
    if (!SafeLocalPath(folder, name, localPath))
        return;
    const TTarget target = ResolveSameName(batch, folder, name, remoteSize, false);
    if (target.Skip)
        return;
    if (target.Name != name && !SafeLocalPath(folder, target.Name, localPath))
        return;
    if (target.ResumeAt > 0) {
        ResumeOffset = target.ResumeAt;
        ResumeAFile(name, localPath);
        return;
    }
    ReceiveAFile(name, localPath);
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
    const QString notFound = QStringLiteral("Tarvik can not find the file on your local drive.\n"
                                            "Make sure it is in the selected directory");
    if (folder.isEmpty()) {
        ShowMessageBox(QStringLiteral("Resume Error"), notFound, 0);
        return;
    }
    QString localPath;
    if (!SafeLocalPath(folder, name, localPath))
        return;
    struct stat info {};
    if (stat(QFile::encodeName(localPath).constData(), &info) != 0) {
        ShowMessageBox(QStringLiteral("Resume Error"), notFound, 0);
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
    // The whole tree, through the transfer queue: its own sessions move it
    // while this one stays free for browsing.
    QueueUploadFolder(UploadDirPath);
    CancelTransfer = false;
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

bool TFormMain::RemoteFilesDragOver() const
{
    return IsConnected() && (DragSource == QLatin1String("list") || DragSource == QLatin1String("remoteDir"));
}

bool TFormMain::RemoteFilesDragOver(const QMimeData* data) const
{
    // Only what this window's local side started: local files, or a local
    // folder from the tree. Anything else (another program's files) could
    // otherwise replay an earlier drag that never ended.
    if (!RemoteFilesDragOver() || !data)
        return false;
    if (data->hasFormat(TListModel::MimeType()))
        return data->data(TListModel::MimeType()) == QByteArrayLiteral("List1") && DragSource == QLatin1String("list");
    return data->hasFormat(FolderMimeType()) && DragSource == QLatin1String("remoteDir");
}

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
    const TBusyCursor busy;
    const QStringList files = SelectionList;
    TSameNameBatch batch;
    for (const QString& path : files) {
        if (CancelTransfer)
            break;
        const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
        const TTarget target = ResolveSameName(batch, QString(), name, QFileInfo(path).size(), true);
        if (!target.Skip)
            SendAFile(path, target.Name, target.ResumeAt);
    }
    CancelTransfer = false;
    SelectionList.clear();
    RequestRemoteListing();
}

void TFormMain::List1DragDrop()
{
    if (DragSource == QLatin1String("list"))
        return;
    DragSource.clear();
    if (!SelectionList.isEmpty()) {
        const TBusyCursor busy;
        const QStringList names = SelectionList;
        TSameNameBatch batch;
        for (const QString& name : names) {
            if (CancelTransfer)
                break;
            if (!HasSelectedFolder())
                continue;
            ReceiveInto(batch, FolderPrefix(), name, RemoteFileSize(name));
        }
    }
    CancelTransfer = false;
    SelectionList.clear();
    SetLocalFiles();
}

void TFormMain::ConnectDragAndDrop()
{
    List1->Items()->OnStartDrag = [this] { List1StartDrag(); };
    RemoteFiles->Items()->OnStartDrag = [this] { RemoteFilesStartDrag(); };
    List1->SetDropFilter([this](const QMimeData* data) {
        return List1DragOver(data->hasFormat(TListModel::MimeType()) &&
                             data->data(TListModel::MimeType()) == QByteArrayLiteral("RemoteFiles"));
    });
    RemoteFiles->SetDropFilter([this](const QMimeData* data) { return RemoteFilesDragOver(data); });
    connect(List1, &TListView::Dropped, this, &TFormMain::List1DragDrop);
    connect(RemoteFiles, &TListView::Dropped, this, &TFormMain::RemoteFilesDragDrop);
}
