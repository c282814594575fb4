#include "app/listmodel.h"

#include <QMimeData>

#include "app/imagelist.h"

TListModel::TListModel(QObject* parent) : QAbstractTableModel(parent) {}

void TListModel::SetColumns(const QStringList& headers)
{
    beginResetModel();
    headers_ = headers;
    endResetModel();
}

void TListModel::SetImages(const TImageList* small, const TImageList* large)
{
    small_ = small;
    large_ = large;
    if (!items_.empty())
        emit dataChanged(index(0, 0), index(Count() - 1, 0), {Qt::DecorationRole});
}

void TListModel::SetLargeImages(bool large)
{
    if (useLarge_ == large)
        return;
    useLarge_ = large;
    if (!items_.empty())
        emit dataChanged(index(0, 0), index(Count() - 1, 0), {Qt::DecorationRole});
}

void TListModel::BeginUpdate()
{
    if (updating_++ == 0)
        beginResetModel();
}

void TListModel::EndUpdate()
{
    if (updating_ == 0)
        return;
    if (--updating_ == 0)
        endResetModel();
}

void TListModel::Clear()
{
    names_.clear();
    if (updating_ > 0) {
        items_.clear();
        return;
    }
    beginResetModel();
    items_.clear();
    endResetModel();
}

void TListModel::Reserve(int count)
{
    if (count > 0)
        items_.reserve(static_cast<size_t>(count));
}

int TListModel::Add(TListItem item, const QString& name)
{
    const int row = Add(std::move(item));
    names_.insert(row, name);
    return row;
}

QString TListModel::Name(int row) const
{
    const auto found = names_.constFind(row);
    if (found != names_.constEnd())
        return found.value();
    if (row < 0 || row >= Count())
        return {};
    return items_[std::size_t(row)].Caption;
}

int TListModel::Add(TListItem item)
{
    const int row = Count();
    if (updating_ > 0) {
        items_.push_back(std::move(item));
        return row;
    }
    beginInsertRows({}, row, row);
    items_.push_back(std::move(item));
    endInsertRows();
    return row;
}

int TListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : Count();
}

int TListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(headers_.size());
}

QVariant TListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= Count())
        return {};
    const TListItem& item = items_[static_cast<size_t>(index.row())];
    const int column = index.column();
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        if (column == 0)
            return item.Caption;
        if (column - 1 < item.SubItems.size())
            return item.SubItems.at(column - 1);
        return {};
    }
    if (role == Qt::DecorationRole && column == 0) {
        const TImageList* images = useLarge_ ? large_ : small_;
        if (!images)
            return {};
        return images->Icon(item.ImageIndex);
    }
    return {};
}

QVariant TListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= headers_.size())
        return {};
    return headers_.at(section);
}

Qt::ItemFlags TListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsDragEnabled | Qt::ItemNeverHasChildren;
}

QStringList TListModel::mimeTypes() const { return {TListModel::MimeType()}; }

QMimeData* TListModel::mimeData(const QModelIndexList& indexes) const
{
    if (indexes.isEmpty())
        return nullptr;
    // The drop side only needs to know that the drag came from a list view;
    // which items travel is recorded by the window when the drag starts.
    if (OnStartDrag)
        OnStartDrag();
    auto* data = new QMimeData;
    data->setData(MimeType(), objectName().toUtf8());
    return data;
}
