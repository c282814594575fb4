#pragma once

// TQueuePane: the transfer queue beside the log. Three tabs ("Queued
// files", "Failed transfers", "Successful transfers") list the items of a
// TTransferQueue with their name, direction, size, progress and rate; a
// context menu removes, retries and moves items and stops or starts the
// queue. The pane only shows and asks: what its commands do is up to the
// owner, through the signals.
//
// The queue tells of every change, many times a second for every running
// transfer; the pane notes which items changed and redraws them a few times
// a second, so a queue of thousands of small files costs the window little.

#include "transfers/transfertypes.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class QAction;
class QMenu;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;
class TTransferQueue;

class TQueuePane : public QWidget {
    Q_OBJECT
public:
    enum Tab {
        QueuedTab = 0,
        FailedTab = 1,
        DoneTab = 2,
        TabCount = 3
    };
    enum Column {
        NameColumn,
        DirectionColumn,
        SizeColumn,
        ProgressColumn,
        RateColumn,
        StatusColumn
    };

    explicit TQueuePane(QWidget* parent = nullptr);
    ~TQueuePane() override;

    // Shows `queue` (not owned; it must outlive the pane or be unset with
    // null first) and follows its changes.
    void SetQueue(TTransferQueue* queue);
    // Stops following the queue without redrawing or signalling (the
    // owners are going away).
    void Detach();
    // Whether the queue runs: chooses between "Start Queue" and "Stop Queue".
    void SetRunning(bool running);
    // Redraws what changed now instead of at the next tick.
    void Flush();

    // The tab an item in `state` is listed on.
    static Tab TabOf(TTransferState state);
    // The ids of the selected rows of the tab on show.
    std::vector<TTransferId> SelectedIds() const;
    // The row of an item, if listed (tests and screenshots look rows up).
    QTreeWidgetItem* RowOf(TTransferId id) const;

    QTabWidget* Tabs = nullptr;
    QTreeWidget* Lists[TabCount] = {};
    QMenu* PopQueue = nullptr;
    QAction* QueueRemove1 = nullptr;
    QAction* QueueRetry1 = nullptr;
    QAction* QueueMoveToTop1 = nullptr;
    QAction* QueueStart1 = nullptr;
    QAction* QueueStop1 = nullptr;

signals:
    void RemoveRequested(const std::vector<TTransferId>& ids);
    void RetryRequested(const std::vector<TTransferId>& ids);
    void MoveToTopRequested(const std::vector<TTransferId>& ids);
    void StartRequested();
    void StopRequested();
    // After every redraw: the overall figures may have moved.
    void Refreshed();

private:
    struct Row {
        Tab ListedOn = QueuedTab;
        QTreeWidgetItem* Item = nullptr;
        // For the item's own rate: bytes at the last redraw and when.
        std::int64_t LastBytes = 0;
        std::int64_t LastMs = -1;
        double Rate = 0.0;
        // The name, its tool tip and the direction are drawn (they do not
        // change).
        bool Named = false;
    };

    void Changed(TTransferId id);
    void Removed(TTransferId id);
    void Rebuild();
    void Show(const TTransferItem& item, Row& row, std::int64_t nowMs);
    static QTreeWidgetItem* NewRowItem(TTransferId id);
    // Takes `rows` out of `list` (they stay alive) and empties `rows`.
    static void TakeRows(QTreeWidget* list, std::vector<QTreeWidgetItem*>& rows);
    void SetControls();
    void PopupAt(QTreeWidget* list, const QPoint& pos);

    TTransferQueue* queue_ = nullptr;
    bool running_ = false;
    std::unordered_map<TTransferId, Row> rows_;
    std::unordered_set<TTransferId> dirty_;
    bool rebuild_ = false;
    QTimer tick_;
    QElapsedTimer clock_;
};
