#include "app/queuepane.h"

#include "app/listformat.h"
#include "transfers/transferqueue.h"

#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Redraws per second at most: enough for a moving bar, cheap for the window.
constexpr int TickMs = 250;

QString Path(const std::string& bytes) { return QString::fromUtf8(bytes.data(), qsizetype(bytes.size())); }

// Names may hold anything a server sent: control characters are shown as
// their Unicode pictures so a row stays one line.
QString Shown(const std::string& bytes)
{
    QString text = Path(bytes);
    for (QChar& c : text) {
        const char16_t code = c.unicode();
        if (code < 0x20)
            c = QChar(char16_t(0x2400 + code));
        else if (code == 0x7F)
            c = QChar(char16_t(0x2421));
    }
    return text;
}

QString RateText(double bytesPerSecond)
{
    if (bytesPerSecond <= 0.0)
        return {};
    if (bytesPerSecond >= 1024.0 * 1024.0)
        return QString::number(bytesPerSecond / (1024.0 * 1024.0), 'f', 1) + QStringLiteral(" MB/s");
    return QString::number(bytesPerSecond / 1024.0, 'f', 1) + QStringLiteral(" KB/s");
}

QString StatusText(const TTransferItem& item)
{
    QString text = QString::fromStdString(item.ErrorText);
    switch (item.State) {
    case TTransferState::Queued:
        return text.isEmpty() ? QStringLiteral("Queued") : text;
    case TTransferState::Active:
        return QStringLiteral("Transferring");
    case TTransferState::Done:
        return text.isEmpty() ? QStringLiteral("Done") : text;
    case TTransferState::Failed:
        return text.isEmpty() ? QStringLiteral("Failed") : text;
    case TTransferState::Skipped:
        return QStringLiteral("Skipped: ") + text;
    }
    return text;
}

constexpr int IdRole = Qt::UserRole + 1;

} // namespace

TQueuePane::TQueuePane(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("QueuePane"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    Tabs = new QTabWidget(this);
    Tabs->setObjectName(QStringLiteral("QueueTabs"));
    Tabs->setDocumentMode(true);
    layout->addWidget(Tabs);

    const char* names[TabCount] = {"QueuedList", "FailedList", "DoneList"};
    const QString captions[TabCount] = {QStringLiteral("Queued files"), QStringLiteral("Failed transfers"),
                                        QStringLiteral("Successful transfers")};
    for (int tab = 0; tab < TabCount; ++tab) {
        auto* list = new QTreeWidget;
        list->setObjectName(QString::fromLatin1(names[tab]));
        list->setRootIsDecorated(false);
        list->setUniformRowHeights(true);
        list->setSelectionMode(QAbstractItemView::ExtendedSelection);
        list->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Direction"), QStringLiteral("Size"),
                               QStringLiteral("Progress"), QStringLiteral("Rate"), QStringLiteral("Status")});
        list->header()->setStretchLastSection(true);
        list->setColumnWidth(NameColumn, 220);
        list->setColumnWidth(DirectionColumn, 70);
        list->setColumnWidth(SizeColumn, 90);
        list->setColumnWidth(ProgressColumn, 60);
        list->setColumnWidth(RateColumn, 80);
        list->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(list, &QWidget::customContextMenuRequested, this,
                [this, list](const QPoint& pos) { PopupAt(list, pos); });
        connect(list, &QTreeWidget::itemSelectionChanged, this, [this] { SetControls(); });
        Lists[tab] = list;
        Tabs->addTab(list, captions[tab]);
    }
    connect(Tabs, &QTabWidget::currentChanged, this, [this] { SetControls(); });

    PopQueue = new QMenu(this);
    PopQueue->setObjectName(QStringLiteral("PopQueue"));
    const auto make = [this](const char* name, const QString& caption) {
        auto* action = new QAction(caption, this);
        action->setObjectName(QString::fromLatin1(name));
        PopQueue->addAction(action);
        return action;
    };
    QueueRemove1 = make("QueueRemove1", QStringLiteral("&Remove"));
    QueueRetry1 = make("QueueRetry1", QStringLiteral("Re&try"));
    QueueMoveToTop1 = make("QueueMoveToTop1", QStringLiteral("Move to &Top"));
    PopQueue->addSeparator();
    QueueStart1 = make("QueueStart1", QStringLiteral("&Start Queue"));
    QueueStop1 = make("QueueStop1", QStringLiteral("St&op Queue"));
    connect(QueueRemove1, &QAction::triggered, this, [this] { emit RemoveRequested(SelectedIds()); });
    connect(QueueRetry1, &QAction::triggered, this, [this] { emit RetryRequested(SelectedIds()); });
    connect(QueueMoveToTop1, &QAction::triggered, this, [this] { emit MoveToTopRequested(SelectedIds()); });
    connect(QueueStart1, &QAction::triggered, this, [this] { emit StartRequested(); });
    connect(QueueStop1, &QAction::triggered, this, [this] { emit StopRequested(); });

    clock_.start();
    tick_.setInterval(TickMs);
    connect(&tick_, &QTimer::timeout, this, [this] { Flush(); });
    SetControls();
}

TQueuePane::~TQueuePane()
{
    Detach();
    // The tabs and lists go after this destructor; what they signal while
    // they go must not reach a pane that is half gone.
    Tabs->disconnect(this);
    for (QTreeWidget* list : Lists)
        list->disconnect(this);
}

void TQueuePane::Detach()
{
    tick_.stop();
    if (queue_) {
        queue_->OnItemAdded = nullptr;
        queue_->OnItemChanged = nullptr;
        queue_->OnItemRemoved = nullptr;
        queue_->OnReset = nullptr;
    }
    queue_ = nullptr;
}

void TQueuePane::SetQueue(TTransferQueue* queue)
{
    Detach();
    queue_ = queue;
    if (queue_) {
        queue_->OnItemAdded = [this](const TTransferItem& item) { Changed(item.Id); };
        queue_->OnItemChanged = [this](const TTransferItem& item) { Changed(item.Id); };
        queue_->OnItemRemoved = [this](TTransferId id) { Removed(id); };
        queue_->OnReset = [this] {
            rebuild_ = true;
            if (!tick_.isActive())
                tick_.start();
        };
    }
    Rebuild();
}

void TQueuePane::SetRunning(bool running)
{
    running_ = running;
    SetControls();
}

TQueuePane::Tab TQueuePane::TabOf(TTransferState state)
{
    switch (state) {
    case TTransferState::Queued:
    case TTransferState::Active:
        return QueuedTab;
    case TTransferState::Done:
        return DoneTab;
    case TTransferState::Failed:
    case TTransferState::Skipped:
        break;
    }
    // A skipped item did not arrive either: it is listed with the failures,
    // with the reason, and never as a success.
    return FailedTab;
}

void TQueuePane::Changed(TTransferId id)
{
    dirty_.insert(id);
    if (!tick_.isActive())
        tick_.start();
}

void TQueuePane::Removed(TTransferId id)
{
    dirty_.erase(id);
    const auto found = rows_.find(id);
    if (found == rows_.end())
        return;
    delete found->second.Item; // takes itself out of its list
    rows_.erase(found);
    SetControls();
}

void TQueuePane::Rebuild()
{
    rebuild_ = false;
    dirty_.clear();
    for (QTreeWidget* list : Lists)
        list->clear();
    rows_.clear();
    if (queue_) {
        const std::int64_t now = clock_.elapsed();
        // One insertion per list: thousands of rows arrive at once on a load.
        QList<QTreeWidgetItem*> fresh[TabCount];
        for (const TTransferItem& item : queue_->Items()) {
            Row& row = rows_[item.Id];
            row.Item = NewRowItem(item.Id);
            row.ListedOn = TabOf(item.State);
            Show(item, row, now);
            fresh[row.ListedOn].append(row.Item);
        }
        for (int tab = 0; tab < TabCount; ++tab)
            Lists[tab]->addTopLevelItems(fresh[tab]);
    }
    SetControls();
    emit Refreshed();
}

void TQueuePane::Flush()
{
    if (rebuild_) {
        Rebuild();
        return;
    }
    if (!queue_) {
        tick_.stop();
        return;
    }
    const std::int64_t now = clock_.elapsed();
    // Rows of running items are redrawn on every tick for their rate even
    // when no byte moved.
    for (const auto& [id, row] : rows_) {
        if (row.ListedOn == QueuedTab && row.LastMs >= 0)
            dirty_.insert(id);
    }
    std::vector<TTransferId> ids(dirty_.begin(), dirty_.end());
    dirty_.clear();
    // In queue order, so rows that arrive together keep the queue's order.
    std::sort(ids.begin(), ids.end());

    // Rows that change tabs are taken out first and rows that arrive are
    // drawn before they join a list, all in one insertion per list: a
    // list that changes while rows in it are redrawn lays itself out again
    // for every row, which costs a queue of thousands of files dearly.
    std::vector<std::pair<TTransferId, const TTransferItem*>> staying;
    QList<QTreeWidgetItem*> arriving[TabCount];
    std::vector<QTreeWidgetItem*> leaving[TabCount];
    bool active = false;
    for (const TTransferId id : ids) {
        const TTransferItem* item = queue_->Find(id);
        if (!item)
            continue;
        active = active || item->State == TTransferState::Active;
        const Tab tab = TabOf(item->State);
        auto found = rows_.find(id);
        if (found == rows_.end()) {
            Row row;
            row.Item = NewRowItem(id);
            row.ListedOn = tab;
            found = rows_.emplace(id, row).first;
        } else if (found->second.ListedOn != tab) {
            leaving[found->second.ListedOn].push_back(found->second.Item);
            found->second.ListedOn = tab;
        } else {
            staying.emplace_back(id, item);
            continue;
        }
        Show(*item, found->second, now);
        arriving[tab].append(found->second.Item);
    }
    for (int tab = 0; tab < TabCount; ++tab)
        TakeRows(Lists[tab], leaving[tab]);
    for (int tab = 0; tab < TabCount; ++tab) {
        if (!arriving[tab].isEmpty())
            Lists[tab]->addTopLevelItems(arriving[tab]);
    }
    for (const auto& [id, item] : staying)
        Show(*item, rows_[id], now);
    if (!active && dirty_.empty())
        tick_.stop();
    SetControls();
    emit Refreshed();
}

QTreeWidgetItem* TQueuePane::NewRowItem(TTransferId id)
{
    auto* w = new QTreeWidgetItem;
    w->setData(NameColumn, IdRole, QVariant::fromValue<qulonglong>(id));
    for (const Column column : {SizeColumn, ProgressColumn, RateColumn})
        w->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
    return w;
}

void TQueuePane::TakeRows(QTreeWidget* list, std::vector<QTreeWidgetItem*>& rows)
{
    if (rows.empty())
        return;
    // Rows finish roughly in the order they are listed: each is looked for
    // from where the last one was, not from the top.
    int from = 0;
    for (QTreeWidgetItem* row : rows) {
        const int count = list->topLevelItemCount();
        int at = -1;
        for (int step = 0; step < count && at < 0; ++step) {
            const int i = (from + step) % count;
            if (list->topLevelItem(i) == row)
                at = i;
        }
        if (at < 0)
            continue;
        list->takeTopLevelItem(at);
        from = at;
    }
    rows.clear();
}

namespace {

// Sets a text only when it differs: every change makes the list redraw.
void Put(QTreeWidgetItem* w, int column, const QString& text)
{
    if (w->text(column) != text)
        w->setText(column, text);
}

void PutTip(QTreeWidgetItem* w, int column, const QString& text)
{
    if (w->toolTip(column) != text)
        w->setToolTip(column, text);
}

} // namespace

void TQueuePane::Show(const TTransferItem& item, Row& row, std::int64_t nowMs)
{
    QTreeWidgetItem* const w = row.Item;
    const bool upload = item.Direction == TTransferDirection::Upload;
    if (!row.Named) {
        // Names, direction and size stay as they were queued.
        const std::string& source = upload ? item.LocalPath : item.RemotePath;
        const std::string& target = upload ? item.RemotePath : item.LocalPath;
        QString name = Shown(source);
        if (item.Kind == TTransferKind::Folder)
            name += QLatin1Char('/');
        w->setText(NameColumn, name);
        w->setToolTip(NameColumn, Shown(source) + QStringLiteral(" -> ") + Shown(target));
        w->setText(DirectionColumn, upload ? QStringLiteral("Upload") : QStringLiteral("Download"));
        row.Named = true;
    }
    Put(w, SizeColumn, item.Size >= 0 ? SizeText(item.Size) : QString());

    QString progress;
    if (item.State == TTransferState::Done) {
        progress = QStringLiteral("100%");
    } else if (item.Kind == TTransferKind::File && item.Size > 0) {
        const std::int64_t done = std::min(item.BytesDone, item.Size);
        progress = QString::number(done * 100 / item.Size) + QLatin1Char('%');
    } else if (item.Kind == TTransferKind::File && item.Size == 0 && item.State == TTransferState::Active) {
        progress = QStringLiteral("0%");
    }
    Put(w, ProgressColumn, progress);

    if (item.State == TTransferState::Active) {
        if (row.LastMs < 0) {
            row.LastMs = nowMs;
            row.LastBytes = item.BytesDone;
        } else if (nowMs - row.LastMs >= TickMs) {
            // Smoothed a little, so the figure does not jump with each tick.
            const double sample = double(item.BytesDone - row.LastBytes) * 1000.0 / double(nowMs - row.LastMs);
            row.Rate = row.Rate <= 0.0 ? sample : 0.5 * row.Rate + 0.5 * sample;
            row.LastMs = nowMs;
            row.LastBytes = item.BytesDone;
        }
        Put(w, RateColumn, RateText(row.Rate));
    } else {
        row.LastMs = -1;
        row.Rate = 0.0;
        Put(w, RateColumn, QString());
    }
    const QString status = StatusText(item);
    Put(w, StatusColumn, status);
    PutTip(w, StatusColumn, status);
}

std::vector<TTransferId> TQueuePane::SelectedIds() const
{
    std::vector<TTransferId> ids;
    const QTreeWidget* list = Lists[std::clamp(Tabs->currentIndex(), 0, TabCount - 1)];
    for (const QTreeWidgetItem* item : list->selectedItems())
        ids.push_back(TTransferId(item->data(NameColumn, IdRole).toULongLong()));
    // In the order they are listed: "move to top" keeps their order.
    std::sort(ids.begin(), ids.end(), [list, this](TTransferId a, TTransferId b) {
        return list->indexOfTopLevelItem(RowOf(a)) < list->indexOfTopLevelItem(RowOf(b));
    });
    return ids;
}

QTreeWidgetItem* TQueuePane::RowOf(TTransferId id) const
{
    const auto found = rows_.find(id);
    return found == rows_.end() ? nullptr : found->second.Item;
}

void TQueuePane::SetControls()
{
    const int tab = Tabs->currentIndex();
    const bool selected = tab >= 0 && !Lists[tab]->selectedItems().isEmpty();
    bool unfinished = false;
    if (queue_)
        unfinished = queue_->HasUnfinished();
    QueueRemove1->setEnabled(selected);
    QueueRetry1->setEnabled(selected && tab == FailedTab);
    QueueMoveToTop1->setEnabled(selected && tab == QueuedTab);
    QueueStart1->setEnabled(!running_ && unfinished);
    QueueStop1->setEnabled(running_);
}

void TQueuePane::PopupAt(QTreeWidget* list, const QPoint& pos)
{
    // A right click on a row that is not selected selects it alone, as in
    // a file manager.
    QTreeWidgetItem* under = list->itemAt(pos);
    if (under && !under->isSelected()) {
        list->clearSelection();
        under->setSelected(true);
    }
    SetControls();
    PopQueue->popup(list->viewport()->mapToGlobal(pos));
}
