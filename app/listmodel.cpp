#include "app/listmodel.h"

#include <QMimeData>

#include "app/imagelist.h"
#include "app/listformat.h"

#include <algorithm>

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

namespace {

// A name's natural-order key: case folded, each run of digits as a "0",
// its length without leading zeros and its significant digits, so that
// plain comparison of keys gives NaturalCompare's order.
QString NaturalKey(const QString& name)
{
    QString key;
    key.reserve(name.size() + 8);
    const qsizetype n = name.size();
    for (qsizetype i = 0; i < n;) {
        const char16_t c = name[i].unicode();
        if (c < u'0' || c > u'9') {
            key.append(QChar(char16_t(QChar::toCaseFolded(char32_t(c)) & 0xFFFF)));
            ++i;
            continue;
        }
        qsizetype start = i;
        while (i < n && name[i].unicode() >= u'0' && name[i].unicode() <= u'9')
            ++i;
        while (start + 1 < i && name[start].unicode() == u'0')
            ++start;
        key.append(QLatin1Char('0'));
        key.append(QChar(char16_t(0x30 + std::min<qsizetype>(i - start, 0xFF00))));
        key.append(QStringView(name).mid(start, i - start));
    }
    return key;
}

} // namespace

int NaturalCompare(const QString& a, const QString& b)
{
    int c = NaturalKey(a).compare(NaturalKey(b));
    // Equal but for case or leading zeros: a stable, exact tie-break.
    if (c == 0)
        c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

void TListModel::SortItems()
{
    if (sortColumn_ < 0 || items_.size() < 2)
        return;
    const int column = sortColumn_;
    const TColumnKind kind = Kind(column);
    const bool descending = sortOrder_ == Qt::DescendingOrder;
    // Keys once per item, not once per comparison.
    std::vector<QString> keys;
    keys.reserve(items_.size());
    for (const TListItem& item : items_)
        keys.push_back(NaturalKey(item.Caption));
    std::vector<std::size_t> order(items_.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    const auto text = [this, column](std::size_t i) {
        return column == 0 ? items_[i].Caption : items_[i].SubItems.value(column - 1);
    };
    // Folders first whichever way the rest goes; then the column's own
    // order, with the names deciding ties.
    std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
        const TListItem& a = items_[x];
        const TListItem& b = items_[y];
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
            c = text(x).compare(text(y), Qt::CaseInsensitive);
            break;
        case TColumnKind::Name:
            break;
        }
        if (c == 0)
            c = keys[x].compare(keys[y]);
        if (c == 0)
            c = a.Caption.compare(b.Caption);
        return descending ? c > 0 : c < 0;
    });
    std::vector<TListItem> sorted;
    sorted.reserve(items_.size());
    for (const std::size_t i : order)
        sorted.push_back(std::move(items_[i]));
    items_ = std::move(sorted);
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

int TListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : Count(); }

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
