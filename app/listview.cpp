#include "app/listview.h"

#include <QContextMenuEvent>
#include <QDropEvent>
#include <QTimer>
#include <QFontMetrics>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QListView>
#include <QMenu>
#include <QMouseEvent>
#include <QStackedLayout>
#include <QTreeView>

#include <algorithm>

namespace {

void SetUpCommon(QAbstractItemView* view)
{
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setDragEnabled(true);
    view->setDragDropMode(QAbstractItemView::DragOnly);
    view->setContextMenuPolicy(Qt::DefaultContextMenu);
    view->setTextElideMode(Qt::ElideRight);
}

} // namespace

TListView::TListView(QWidget* parent) : QWidget(parent)
{
    model_ = new TListModel(this);
    selection_ = new QItemSelectionModel(model_, this);

    report_ = new QTreeView(this);
    SetUpCommon(report_);
    report_->setRootIsDecorated(false);
    report_->setItemsExpandable(false);
    report_->setUniformRowHeights(true);
    report_->setAllColumnsShowFocus(true);
    report_->setSelectionBehavior(QAbstractItemView::SelectRows);
    report_->header()->setStretchLastSection(true);
    // A click on a column's header sorts by it; nothing is sorted until
    // then (the owner may choose a column).
    report_->header()->setSortIndicator(-1, Qt::AscendingOrder);
    report_->header()->setSortIndicatorShown(true);
    report_->header()->setSectionsClickable(true);
    report_->setSortingEnabled(true);
    report_->header()->setSectionsMovable(false);
    report_->setIconSize(QSize(16, 16));
    report_->setModel(model_);
    report_->setSelectionModel(selection_);

    icons_ = new QListView(this);
    SetUpCommon(icons_);
    icons_->setModel(model_);
    icons_->setSelectionModel(selection_);
    icons_->setModelColumn(0);
    icons_->setResizeMode(QListView::Adjust);
    icons_->setLayoutMode(QListView::Batched);
    icons_->setBatchSize(2000);
    icons_->setMovement(QListView::Static);

    stack_ = new QStackedLayout(this);
    stack_->setContentsMargins(0, 0, 0, 0);
    stack_->addWidget(report_);
    stack_->addWidget(icons_);
    stack_->setCurrentWidget(report_);

    for (QAbstractItemView* view :
         {static_cast<QAbstractItemView*>(report_), static_cast<QAbstractItemView*>(icons_)}) {
        view->viewport()->installEventFilter(this);
        connect(view, &QAbstractItemView::doubleClicked, this, [this] { emit DoubleClicked(); });
    }
    connect(selection_, &QItemSelectionModel::selectionChanged, this, [this] { emit SelectionChanged(); });
    connect(model_, &QAbstractItemModel::modelReset, this, [this] {
        UpdateListGrid(0);
        emit SelectionChanged();
    });
    connect(model_, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first) { UpdateListGrid(first); });
}

QAbstractItemView* TListView::ActiveView() const
{
    if (style_ == TViewStyle::vsReport)
        return report_;
    return icons_;
}

void TListView::SetColumns(const QStringList& headers, const std::vector<int>& widths)
{
    model_->SetColumns(headers);
    for (size_t i = 0; i < widths.size() && i < static_cast<size_t>(headers.size()); ++i)
        report_->setColumnWidth(static_cast<int>(i), widths[i]);
}

void TListView::SetNameColumnStretches()
{
    QHeaderView* header = report_->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int column = 1; column < header->count(); ++column)
        header->setSectionResizeMode(column, QHeaderView::Interactive);
}

void TListView::SetDragEnabled(bool enabled)
{
    for (QAbstractItemView* view :
         {static_cast<QAbstractItemView*>(report_), static_cast<QAbstractItemView*>(icons_)}) {
        view->setDragEnabled(enabled);
        view->setDragDropMode(enabled ? QAbstractItemView::DragOnly : QAbstractItemView::NoDragDrop);
    }
}

QByteArray TListView::SaveLayout() const { return report_->header()->saveState(); }

void TListView::RestoreLayout(const QByteArray& layout)
{
    if (layout.isEmpty())
        return;
    QHeaderView* header = report_->header();
    const std::vector<QHeaderView::ResizeMode> modes = [header] {
        std::vector<QHeaderView::ResizeMode> list;
        list.reserve(std::size_t(header->count()));
        for (int column = 0; column < header->count(); ++column)
            list.push_back(header->sectionResizeMode(column));
        return list;
    }();
    const bool stretchLast = header->stretchLastSection();
    if (!header->restoreState(layout))
        return;
    // The stored state carries widths and sorting; how the columns give and
    // take room stays as this program sets it.
    header->setStretchLastSection(stretchLast);
    for (int column = 0; column < header->count() && std::size_t(column) < modes.size(); ++column)
        header->setSectionResizeMode(column, modes[std::size_t(column)]);
    model_->sort(header->sortIndicatorSection(), header->sortIndicatorOrder());
}

void TListView::SetImages(const TImageList* small, const TImageList* large) { model_->SetImages(small, large); }

void TListView::SetViewStyle(TViewStyle style)
{
    style_ = style;
    if (style == TViewStyle::vsReport) {
        model_->SetLargeImages(false);
        stack_->setCurrentWidget(report_);
        return;
    }
    icons_->setUniformItemSizes(style != TViewStyle::vsIcon);
    switch (style) {
    case TViewStyle::vsIcon:
        model_->SetLargeImages(true);
        icons_->setViewMode(QListView::IconMode);
        icons_->setIconSize(QSize(32, 32));
        icons_->setGridSize(QSize(96, 64));
        icons_->setWordWrap(true);
        break;
    case TViewStyle::vsSmallIcon:
        model_->SetLargeImages(false);
        icons_->setViewMode(QListView::ListMode);
        icons_->setFlow(QListView::LeftToRight);
        icons_->setWrapping(true);
        icons_->setIconSize(QSize(16, 16));
        icons_->setWordWrap(false);
        icons_->setSpacing(0);
        break;
    default: // vsList
        model_->SetLargeImages(false);
        icons_->setViewMode(QListView::ListMode);
        icons_->setFlow(QListView::TopToBottom);
        icons_->setWrapping(true);
        icons_->setIconSize(QSize(16, 16));
        icons_->setWordWrap(false);
        icons_->setSpacing(0);
        break;
    }
    gridWidth_ = 0;
    UpdateListGrid(0);
    icons_->setMovement(QListView::Static);
    stack_->setCurrentWidget(icons_);
}

void TListView::UpdateListGrid(int firstRow)
{
    // Small icons and list show every name in cells of one width, as wide
    // as the longest name (within reason, so one odd name cannot push all
    // the others out of sight).
    if (style_ != TViewStyle::vsList && style_ != TViewStyle::vsSmallIcon)
        return;
    if (firstRow == 0)
        gridWidth_ = 0;
    const QFontMetrics metrics(icons_->font());
    int widest = 0;
    for (int row = firstRow; row < model_->Count(); ++row)
        widest = std::max(widest, metrics.horizontalAdvance(model_->Item(row).Caption));
    const int width = std::clamp(widest + 16 + 16, 80, 320);
    if (width <= gridWidth_)
        return;
    gridWidth_ = width;
    icons_->setGridSize(QSize(width, std::max(metrics.height(), 16) + 4));
}

void TListView::BeginUpdate()
{
    if (updating_++ == 0)
        setUpdatesEnabled(false);
    model_->BeginUpdate();
}

void TListView::EndUpdate()
{
    if (updating_ == 0)
        return;
    model_->EndUpdate();
    if (--updating_ == 0)
        setUpdatesEnabled(true);
}

void TListView::Clear() { model_->Clear(); }

std::vector<int> TListView::SelectedRows() const
{
    std::vector<int> rows;
    for (const QItemSelectionRange& range : selection_->selection()) {
        if (range.left() > 0 || !range.isValid())
            continue;
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows.push_back(row);
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

int TListView::SelCount() const { return static_cast<int>(SelectedRows().size()); }

bool TListView::IsSelected(int row) const { return selection_->isSelected(model_->index(row, 0)); }

void TListView::SelectRow(int row, bool select)
{
    const QModelIndex index = model_->index(row, 0);
    if (!index.isValid())
        return;
    selection_->select(index, (select ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                                  QItemSelectionModel::Rows);
}

void TListView::ClearSelection() { selection_->clearSelection(); }

void TListView::SetDropFilter(std::function<bool(const QMimeData*)> accept)
{
    acceptDrop_ = std::move(accept);
    for (QAbstractItemView* view :
         {static_cast<QAbstractItemView*>(report_), static_cast<QAbstractItemView*>(icons_)}) {
        view->setAcceptDrops(true);
        view->setDragDropMode(QAbstractItemView::DragDrop);
        view->setDropIndicatorShown(false);
    }
}

void TListView::ShowPopup(QAbstractItemView* view, const QPoint& pos)
{
    if (popup_)
        popup_->popup(view->viewport()->mapToGlobal(pos));
}

bool TListView::eventFilter(QObject* watched, QEvent* event)
{
    QAbstractItemView* view = nullptr;
    if (watched == report_->viewport())
        view = report_;
    else if (watched == icons_->viewport())
        view = icons_;
    if (view) {
        if (event->type() == QEvent::MouseButtonRelease)
            emit MouseUp();
        else if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
            auto* drag = static_cast<QDropEvent*>(event);
            if (acceptDrop_ && acceptDrop_(drag->mimeData()))
                drag->acceptProposedAction();
            else
                drag->ignore();
            return true;
        } else if (event->type() == QEvent::Drop) {
            auto* drop = static_cast<QDropEvent*>(event);
            if (!acceptDrop_ || !acceptDrop_(drop->mimeData())) {
                drop->ignore();
                return true;
            }
            drop->acceptProposedAction();
            // Transfers run their own event loops; start them once the
            // drag's loop is over.
            QTimer::singleShot(0, this, [this] { emit Dropped(); });
            return true;
        } else if (event->type() == QEvent::ContextMenu) {
            ShowPopup(view, static_cast<QContextMenuEvent*>(event)->pos());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
