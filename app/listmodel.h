#pragma once

// The items of a list view: a caption, a picture index and sub-items for the
// further report columns. Filling goes through BeginUpdate/EndUpdate so that
// a hundred thousand items cost one model reset instead of one signal each.

#include <QAbstractTableModel>
#include <QHash>
#include <QStringList>

#include <vector>

#include <functional>

class QMimeData;
class TImageList;

struct TListItem {
    QString Caption;
    int ImageIndex = -1;
    QStringList SubItems;
};

class TListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TListModel(QObject* parent = nullptr);

    void SetColumns(const QStringList& headers);
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
    std::vector<TListItem> items_;
    QHash<int, QString> names_;
    QStringList headers_;
    const TImageList* small_ = nullptr;
    const TImageList* large_ = nullptr;
    bool useLarge_ = false;
    int updating_ = 0;
};
