#pragma once

// A list view with the four classic view styles: large icons, small icons,
// list and report (details). The report style is a tree view with columns,
// the other three a list view; both show the same items and share one
// selection, so switching styles keeps what the user selected.

#include "app/listmodel.h"

#include <QWidget>

#include <functional>
#include <vector>

class QAbstractItemView;
class QItemSelectionModel;
class QListView;
class QMenu;
class QMimeData;
class QStackedLayout;
class QTreeView;

enum class TViewStyle {
    vsIcon,
    vsSmallIcon,
    vsList,
    vsReport
};

class TListView final : public QWidget {
    Q_OBJECT
public:
    explicit TListView(QWidget* parent = nullptr);

    TListModel* Items() const { return model_; }
    QTreeView* ReportView() const { return report_; }
    QListView* IconView() const { return icons_; }
    QAbstractItemView* ActiveView() const;

    // Headers with their widths in pixels.
    void SetColumns(const QStringList& headers, const std::vector<int>& widths);
    void SetImages(const TImageList* small, const TImageList* large);
    void SetPopupMenu(QMenu* menu) { popup_ = menu; }
    // Lets the list take drops of what `accept` agrees to; Dropped is
    // emitted after the drag has finished (never inside the drag loop).
    void SetDropFilter(std::function<bool(const QMimeData*)> accept);

    // The first column takes the width the others leave.
    void SetNameColumnStretches();
    void SetDragEnabled(bool enabled);
    // Column widths and the sorted column, for keeping between runs.
    QByteArray SaveLayout() const;
    void RestoreLayout(const QByteArray& layout);

    void SetViewStyle(TViewStyle style);
    TViewStyle ViewStyle() const { return style_; }

    // Suspends repainting and model signals while many items change.
    void BeginUpdate();
    void EndUpdate();
    void Clear();

    int SelCount() const;
    std::vector<int> SelectedRows() const; // ascending
    bool IsSelected(int row) const;
    void SelectRow(int row, bool select = true);
    void ClearSelection();

signals:
    void SelectionChanged(); // every change of the selection
    void MouseUp();
    void DoubleClicked();
    void Dropped();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowPopup(QAbstractItemView* view, const QPoint& pos);
    void UpdateListGrid(int firstRow);

    TListModel* model_ = nullptr;
    QItemSelectionModel* selection_ = nullptr;
    QStackedLayout* stack_ = nullptr;
    QTreeView* report_ = nullptr;
    QListView* icons_ = nullptr;
    QMenu* popup_ = nullptr;
    std::function<bool(const QMimeData*)> acceptDrop_;
    TViewStyle style_ = TViewStyle::vsReport;
    int updating_ = 0;
    int gridWidth_ = 0;
};
