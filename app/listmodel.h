#pragma once

// The items of a list view: a caption, a picture index and sub-items for the
// further report columns. Filling goes through BeginUpdate/EndUpdate so that
// a hundred thousand items cost one model reset instead of one signal each.

#include <QAbstractTableModel>
#include <QStringList>

#include <vector>

#include <functional>

class QMimeData;
class TImageList;

#include <limits>

struct TListItem {
    QString Caption;
    int ImageIndex = -1;
    QStringList SubItems;
    // Sort keys and the values the list shows in the user's formats; a
    // size of -1 or a time of kNoTime shows the sub-item's text as it is.
    qint64 Size = -1;
    qint64 Time = kNoTime;  // seconds since the epoch
    bool IsFolder = false;  // listed before the files
    QString Name = {};      // the name the item stands for, when its caption only shows it
    int Mode = -1;          // Unix permission bits 0777 when the listing gave them
    bool TimeExact = false; // Time is the server's own UTC time to the second (MLSD "modify")

    static constexpr qint64 kNoTime = std::numeric_limits<qint64>::min();
};

// What a column holds, for sorting and showing it.
enum class TColumnKind {
    Name,
    Size,
    Date,
    Text
};

// Natural order of names: case ignored, runs of digits compared as
// numbers ("file_2" before "file_10").
int NaturalCompare(const QString& a, const QString& b);

class TListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TListModel(QObject* parent = nullptr);

    void SetColumns(const QStringList& headers);
    void SetColumnKinds(const std::vector<TColumnKind>& kinds) { kinds_ = kinds; }
    // Sorts by `column` (-1: the order the items were added in) now and
    // after every fill.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    int SortColumn() const { return sortColumn_; }
    Qt::SortOrder SortOrder() const { return sortOrder_; }
    // Not owned; both may be the same list.
    void SetImages(const TImageList* small, const TImageList* large);
    void SetLargeImages(bool large);

    void BeginUpdate();
    void EndUpdate();
    void Clear();
    void Reserve(int count);
    int Add(TListItem item);
    // Adds an item whose caption only shows its real name (a name cut short
    // or with control characters made visible).
    int Add(TListItem item, const QString& name);
    // The name an item stands for: its caption unless added with a name.
    QString Name(int row) const;
    int Count() const { return static_cast<int>(items_.size()); }
    const TListItem& Item(int row) const { return items_.at(static_cast<size_t>(row)); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;

    // Called when a drag of some of the items starts.
    std::function<void()> OnStartDrag;
    // The drag format of every list view's items.
    static QString MimeType() { return QStringLiteral("application/x-tarvik-listview"); }

private:
    void SortItems();
    TColumnKind Kind(int column) const;

    std::vector<TListItem> items_;
    std::vector<TColumnKind> kinds_;
    int sortColumn_ = -1;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
    QStringList headers_;
    const TImageList* small_ = nullptr;
    const TImageList* large_ = nullptr;
    bool useLarge_ = false;
    int updating_ = 0;
};
