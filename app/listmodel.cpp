#include "app/listmodel.h"

#include <QMimeData>

#include "app/imagelist.h"
#include "app/listformat.h"

#include <algorithm>

int NaturalCompare(const QString& a, const QString& b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            // Compare the runs of digits as numbers: without leading zeros,
            // the longer run is the bigger number.
            qsizetype endA = i;
            qsizetype endB = j;
            while (endA < a.size() && a[endA].isDigit())
                ++endA;
            while (endB < b.size() && b[endB].isDigit())
                ++endB;
            qsizetype startA = i;
            qsizetype startB = j;
            while (startA + 1 < endA && a[startA] == QLatin1Char('0'))
                ++startA;
            while (startB + 1 < endB && b[startB] == QLatin1Char('0'))
                ++startB;
            const qsizetype lengthA = endA - startA;
            const qsizetype lengthB = endB - startB;
            if (lengthA != lengthB)
                return lengthA < lengthB ? -1 : 1;
            const int digits = QStringView(a).mid(startA, lengthA).compare(QStringView(b).mid(startB, lengthB));
            if (digits != 0)
                return digits < 0 ? -1 : 1;
            i = endA;
            j = endB;
            continue;
        }
        const int c = QStringView(a).mid(i, 1).compare(QStringView(b).mid(j, 1), Qt::CaseInsensitive);
        if (c != 0)
            return c < 0 ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    // Equal but for case or leading zeros: a stable, exact tie-break.
    const int exact = a.compare(b);
    return exact < 0 ? -1 : (exact > 0 ? 1 : 0);
}

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
    if (--updating_ == 0) {
        SortItems();
        endResetModel();
    }
}

TColumnKind TListModel::Kind(int column) const
{
    if (column >= 0 && std::size_t(column) < kinds_.size())
        return kinds_[std::size_t(column)];
    return column == 0 ? TColumnKind::Name : TColumnKind::Text;
}

void TListModel::sort(int column, Qt::SortOrder order)
{
    sortColumn_ = column;
    sortOrder_ = order;
    if (updating_ > 0)
        return;
    beginResetModel();
    SortItems();
    endResetModel();
}

void TListModel::SortItems()
{
    if (sortColumn_ < 0 || items_.size() < 2)
        return;
    const int column = sortColumn_;
    const TColumnKind kind = Kind(column);
    const bool descending = sortOrder_ == Qt::DescendingOrder;
    const auto text = [column](const TListItem& item) {
        return column == 0 ? item.Caption : item.SubItems.value(column - 1);
    };
    // Folders first whichever way the rest goes; then the column's own
    // order, with the names deciding ties.
    std::stable_sort(items_.begin(), items_.end(), [&](const TListItem& a, const TListItem& b) {
        if (a.IsFolder != b.IsFolder)
            return a.IsFolder;
        int c = 0;
        switch (kind) {
        case TColumnKind::Size:
            c = a.Size < b.Size ? -1 : (a.Size > b.Size ? 1 : 0);
            break;
        case TColumnKind::Date:
            c = a.Time < b.Time ? -1 : (a.Time > b.Time ? 1 : 0);
            break;
        case TColumnKind::Text:
            c = text(a).compare(text(b), Qt::CaseInsensitive);
            break;
        case TColumnKind::Name:
            break;
        }
        if (c == 0)
            c = NaturalCompare(a.Caption, b.Caption);
        return descending ? c > 0 : c < 0;
    });
}

void TListModel::Clear()
{
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
    item.Name = name;
    return Add(std::move(item));
}

QString TListModel::Name(int row) const
{
    if (row < 0 || row >= Count())
        return {};
    const TListItem& item = items_[std::size_t(row)];
    return item.Name.isEmpty() ? item.Caption : item.Name;
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
        if (role == Qt::DisplayRole) {
            const TColumnKind kind = Kind(column);
            if (kind == TColumnKind::Size && item.Size >= 0)
                return SizeText(item.Size);
            if (kind == TColumnKind::Date && item.Time != TListItem::kNoTime)
                return DateText(item.Time);
        }
        if (column - 1 < item.SubItems.size())
            return item.SubItems.at(column - 1);
        return {};
    }
    if (role == Qt::TextAlignmentRole && Kind(column) == TColumnKind::Size)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
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
