#pragma once

// The items of a list view: a caption, a picture index and sub-items for the
// further report columns. Filling goes through BeginUpdate/EndUpdate so that
// a hundred thousand items cost one model reset instead of one signal each.

#include <QAbstractTableModel>
#include <QStringList>

#include <vector>

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
    int Count() const { return static_cast<int>(items_.size()); }
    const TListItem& Item(int row) const { return items_.at(static_cast<size_t>(row)); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    std::vector<TListItem> items_;
    QStringList headers_;
    const TImageList* small_ = nullptr;
    const TImageList* large_ = nullptr;
    bool useLarge_ = false;
    int updating_ = 0;
};
