// The local pane: the folder tree and the list of the selected folder's files.

#include "app/formmain.h"

#include "app/foldertreemodel.h"
#include "app/busycursor.h"
#include "app/imagelist.h"
#include "app/listformat.h"
#include "app/listview.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHash>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLocale>
#include <QTimer>
#include <QTreeView>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <memory>

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

} // namespace

void TFormMain::CreateFolderTree()
{
    Dir1 = new QTreeView;
    Dir1->setObjectName(QStringLiteral("Dir1"));
    Dir1->setHeaderHidden(true);
    Dir1->setUniformRowHeights(true);
    Dir1->setSelectionMode(QAbstractItemView::SingleSelection);
    Dir1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Dir1->setAnimated(false);
    Dir1->setDragEnabled(true);
    Dir1->setDragDropMode(QAbstractItemView::DragOnly);

    CreateFolderTreeModel();
}

void TFormMain::CreateFolderTreeModel()
{
    QItemSelectionModel* oldSelection = Dir1->selectionModel();
    auto* model = new TFolderTreeModel(this);
    model->OnStartDrag = [this] { Dir1StartDrag(); };
    Dir1Model = model;
    Dir1Model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::Drives);
    Dir1Model->setReadOnly(true);
    static TDesktopIconProvider folderIcons;
    Dir1Model->setIconProvider(&folderIcons);
    Dir1Model->setRootPath(QStringLiteral("/"));
    Dir1->setModel(Dir1Model);
    delete oldSelection;
    Dir1->setRootIndex(Dir1Model->index(QStringLiteral("/")));
    for (int column = 1; column < Dir1Model->columnCount(); ++column)
        Dir1->hideColumn(column);
    Dir1->setSortingEnabled(true);
    Dir1->sortByColumn(0, Qt::AscendingOrder);
    Dir1->header()->setStretchLastSection(true);

    // The model reads folders in the background; keep the selected folder
    // in view once its parents have arrived.
    connect(Dir1Model, &QFileSystemModel::directoryLoaded, this, [this](const QString& loaded) {
        if (revealPending_.isEmpty() || QFileInfo(revealPending_).path() != loaded)
            return;
        revealPending_.clear();
        // The model sorts the rows it has just read a moment later.
        QTimer::singleShot(50, this, [this] {
            if (Dir1->currentIndex().isValid())
                Dir1->scrollTo(Dir1->currentIndex(), QAbstractItemView::PositionAtCenter);
        });
    });
    // The selection, not the current item: a mouse click makes the row
    // current before it selects it, and the folder counts once selected.
    connect(Dir1->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!constructing_)
            Dir1Change();
    });
}

QString TFormMain::SelectedFolder() const
{
    const QModelIndex current = Dir1->currentIndex();
    if (!current.isValid() || !Dir1->selectionModel()->isSelected(current))
        return {};
    return Dir1Model->filePath(current);
}

bool TFormMain::SelectFolder(const QString& path)
{
    const QModelIndex index = Dir1Model->index(QDir::cleanPath(QDir(path).absolutePath()));
    if (!index.isValid())
        return false;
    for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent())
        Dir1->expand(parent);
    Dir1->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    Dir1->scrollTo(index, QAbstractItemView::PositionAtCenter);
    revealPending_ = Dir1Model->filePath(index);
    return true;
}

void TFormMain::RefreshDir1()
{
    // The model watches the folders it has read, but a forced re-read is
    // only had by reading them again from scratch.
    const QString selected = SelectedFolder();
    const bool wasConstructing = constructing_;
    constructing_ = true;
    QFileSystemModel* old = Dir1Model;
    CreateFolderTreeModel();
    delete old;
    if (!selected.isEmpty())
        SelectFolder(selected);
    constructing_ = wasConstructing;
}

QString TFormMain::LocalFileDate(const QDateTime& lastWrite) { return DateText(lastWrite.toSecsSinceEpoch()); }

void TFormMain::SetLocalFiles()
{
    const QString folder = SelectedFolder();
    const TBusyCursor busy;
    List1->BeginUpdate();
    List1->Clear();
    List1->SetImages(&TSystemImageList::Instance().Images(), &TSystemImageList::Instance().Images());

    std::unique_ptr<DIR, DirCloser> dir;
    if (!folder.isEmpty())
        dir.reset(opendir(QFile::encodeName(folder).constData()));
    if (dir) {
        TSystemImageList& images = TSystemImageList::Instance();
        const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
        const int dirFd = dirfd(dir.get());
        while (const dirent* entry = readdir(dir.get())) {
            struct stat info {};
            // Links are listed with what they point to; a dangling one with
            // the link itself.
            if (fstatat(dirFd, entry->d_name, &info, 0) != 0 &&
                fstatat(dirFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            if (S_ISDIR(info.st_mode) || info.st_size == 0)
                continue;
            TListItem item;
            item.Caption = QFile::decodeName(entry->d_name);
            item.ImageIndex = images.IconIndex(prefix + item.Caption, item.Caption, (info.st_mode & S_IXUSR) != 0);
            const QString when = DateText(static_cast<qint64>(info.st_mtim.tv_sec));
            item.SubItems = QStringList{QString::number(static_cast<qint64>(info.st_size)), when};
            item.Size = static_cast<qint64>(info.st_size);
            item.Time = static_cast<qint64>(info.st_mtim.tv_sec);
            List1->Items()->Add(std::move(item));
        }
    }
    List1->EndUpdate();
}

void TFormMain::Dir1Change()
{
    const TBusyCursor busy;
    SetLocalFiles();
    SetControls();
}

void TFormMain::LocalFolderUp()
{
    const QString folder = SelectedFolder();
    if (folder.isEmpty())
        return;
    const QString parent = QFileInfo(QDir::cleanPath(folder)).path();
    if (parent != QDir::cleanPath(folder))
        SelectFolder(parent);
}

void TFormMain::RefreshLocalListing1Click()
{
    RefreshDir1();
    SetLocalFiles();
}
