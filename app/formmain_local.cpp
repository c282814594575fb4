// The local pane: the folder tree and the list of the selected folder's files.

#include "app/formmain.h"

#include "app/foldertreemodel.h"
#include "app/imagelist.h"
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

// The user's long time format without the time zone, which the desktop's
// "long time" never showed in a file list.
QString LongTimeFormat(const QLocale& locale)
{
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    return format.trimmed();
}

// Formats last-write times for many files: dates repeat a lot in one
// folder, so each day's text is made once.
class TDateFormatter {
public:
    TDateFormatter() : locale_(QLocale::system()), timeFormat_(LongTimeFormat(locale_)) {}

    QString Format(const QDate& date, const QTime& time)
    {
        auto found = dates_.constFind(date.toJulianDay());
        if (found == dates_.constEnd())
            found = dates_.insert(date.toJulianDay(), locale_.toString(date, QLocale::ShortFormat));
        if (time == QTime(0, 0))
            return found.value();
        return found.value() + QLatin1Char(' ') + locale_.toString(time, timeFormat_);
    }

private:
    QLocale locale_;
    QString timeFormat_;
    QHash<qint64, QString> dates_;
};

bool LocalTime(time_t seconds, QDate& date, QTime& time)
{
    struct tm parts {};
    if (!localtime_r(&seconds, &parts))
        return false;
    date = QDate(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday);
    time = QTime(parts.tm_hour, parts.tm_min, std::min(parts.tm_sec, 59));
    return true;
}

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
    connect(Dir1->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
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

QString TFormMain::LocalFileDate(const QDateTime& lastWrite)
{
    TDateFormatter formatter;
    return formatter.Format(lastWrite.date(), lastWrite.time());
}

void TFormMain::SetLocalFiles()
{
    const QString folder = SelectedFolder();
    HourglassCursor();
    List1->BeginUpdate();
    List1->Clear();
    List1->SetImages(&TSystemImageList::Instance().Images(), &TSystemImageList::Instance().Images());

    std::unique_ptr<DIR, DirCloser> dir;
    if (!folder.isEmpty())
        dir.reset(opendir(QFile::encodeName(folder).constData()));
    if (dir) {
        TSystemImageList& images = TSystemImageList::Instance();
        TDateFormatter dates;
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
            QDate date;
            QTime time;
            QString when;
            if (LocalTime(info.st_mtim.tv_sec, date, time))
                when = dates.Format(date, time);
            item.SubItems = QStringList{QString::number(static_cast<qint64>(info.st_size)), when};
            List1->Items()->Add(std::move(item));
        }
    }
    List1->EndUpdate();
    DefaultCursor();
}

void TFormMain::Dir1Change()
{
    HourglassCursor();
    SetLocalFiles();
    SetControls();
    DefaultCursor();
}

void TFormMain::RefreshLocalListing1Click()
{
    RefreshDir1();
    SetLocalFiles();
}
