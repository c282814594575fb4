// The queue pane on a queue model changed by hand: which tab lists an item,
// what its row shows, and what the context menu offers.
#include "app/queuepane.h"
#include "transfers/transferqueue.h"

#include <QAction>
#include <QTabWidget>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TTransferItem File(const std::string& remote, std::int64_t size)
{
    TTransferItem item;
    item.Kind = TTransferKind::File;
    item.Direction = TTransferDirection::Download;
    item.RemotePath = remote;
    item.LocalPath = "/tmp/x" + remote;
    item.LocalRoot = "/tmp/x";
    item.RemoteRoot = "/";
    item.Size = size;
    return item;
}

QStringList Names(const TQueuePane& pane, TQueuePane::Tab tab)
{
    QStringList names;
    for (int i = 0; i < pane.Lists[tab]->topLevelItemCount(); ++i)
        names << pane.Lists[tab]->topLevelItem(i)->text(TQueuePane::NameColumn);
    return names;
}

TEST(QueuePane, ItemsMoveBetweenTheTabsWithTheirStateAndShowTheirFigures)
{
    TTransferQueue queue;
    TQueuePane pane;
    pane.SetQueue(&queue);
    EXPECT_EQ(pane.Tabs->tabText(0), QStringLiteral("Queued files"));
    EXPECT_EQ(pane.Tabs->tabText(1), QStringLiteral("Failed transfers"));
    EXPECT_EQ(pane.Tabs->tabText(2), QStringLiteral("Successful transfers"));

    const TTransferId a = queue.AddItem(File("/a.bin", 1000));
    const TTransferId b = queue.AddItem(File("/b.bin", 2000));
    const TTransferId c = queue.AddItem(File("/c.bin", 3000));
    const TTransferId d = queue.AddItem(File("/d.bin", 0));
    pane.Flush();
    EXPECT_EQ(Names(pane, TQueuePane::QueuedTab), (QStringList{"/a.bin", "/b.bin", "/c.bin", "/d.bin"}));

    queue.SetState(a, TTransferState::Active);
    queue.SetProgress(a, 250);
    queue.SetState(b, TTransferState::Failed, "550 Permission denied.");
    queue.SetState(c, TTransferState::Done);
    queue.SetState(d, TTransferState::Skipped, "The target exists: /tmp/x/d.bin");
    pane.Flush();
    EXPECT_EQ(Names(pane, TQueuePane::QueuedTab), QStringList{"/a.bin"});
    EXPECT_EQ(Names(pane, TQueuePane::FailedTab), (QStringList{"/b.bin", "/d.bin"}));
    EXPECT_EQ(Names(pane, TQueuePane::DoneTab), QStringList{"/c.bin"});

    const QTreeWidgetItem* active = pane.RowOf(a);
    ASSERT_NE(active, nullptr);
    EXPECT_EQ(active->text(TQueuePane::DirectionColumn), QStringLiteral("Download"));
    EXPECT_EQ(active->text(TQueuePane::ProgressColumn), QStringLiteral("25%"));
    EXPECT_EQ(pane.RowOf(b)->text(TQueuePane::StatusColumn), QStringLiteral("550 Permission denied."));
    EXPECT_TRUE(pane.RowOf(d)->text(TQueuePane::StatusColumn).startsWith(QStringLiteral("Skipped: ")));
    EXPECT_EQ(pane.RowOf(c)->text(TQueuePane::ProgressColumn), QStringLiteral("100%"));

    // A retried item goes back to the queued tab; a removed one disappears.
    ASSERT_TRUE(queue.Retry(b));
    ASSERT_TRUE(queue.Remove(d));
    pane.Flush();
    EXPECT_EQ(Names(pane, TQueuePane::QueuedTab), (QStringList{"/a.bin", "/b.bin"}));
    EXPECT_TRUE(Names(pane, TQueuePane::FailedTab).isEmpty());
    EXPECT_EQ(pane.RowOf(d), nullptr);

    // Move to top reorders the rows as the queue runs them.
    ASSERT_TRUE(queue.MoveToTop(b));
    pane.Flush();
    EXPECT_EQ(Names(pane, TQueuePane::QueuedTab), (QStringList{"/b.bin", "/a.bin"}));
    pane.SetQueue(nullptr);
}

TEST(QueuePane, ManyRowsChangingTabsInOneRedrawKeepTheirOrderAndTheirFigures)
{
    TTransferQueue queue;
    TQueuePane pane;
    pane.SetQueue(&queue);
    std::vector<TTransferId> ids;
    for (int i = 0; i < 600; ++i)
        ids.push_back(queue.AddItem(File("/f" + std::to_string(1000 + i) + ".bin", 100)));
    pane.Flush();
    ASSERT_EQ(pane.Lists[TQueuePane::QueuedTab]->topLevelItemCount(), 600);

    // Out of listing order: every third row succeeds, every seventh fails,
    // one runs; all in one redraw.
    QStringList done, failed, queued;
    for (int i = 599; i >= 0; --i) {
        if (i % 3 == 0)
            queue.SetState(ids[std::size_t(i)], TTransferState::Done);
        else if (i % 7 == 0)
            queue.SetState(ids[std::size_t(i)], TTransferState::Failed, "426 Broken.");
    }
    queue.SetState(ids[1], TTransferState::Active);
    queue.SetProgress(ids[1], 40);
    for (int i = 0; i < 600; ++i) {
        const QString name = QStringLiteral("/f%1.bin").arg(1000 + i);
        (i % 3 == 0 ? done : i % 7 == 0 ? failed : queued) << name;
    }
    pane.Flush();
    EXPECT_EQ(Names(pane, TQueuePane::DoneTab), done);
    EXPECT_EQ(Names(pane, TQueuePane::FailedTab), failed);
    EXPECT_EQ(Names(pane, TQueuePane::QueuedTab), queued);
    EXPECT_EQ(pane.RowOf(ids[1])->text(TQueuePane::ProgressColumn), QStringLiteral("40%"));
    EXPECT_EQ(pane.RowOf(ids[7])->text(TQueuePane::StatusColumn), QStringLiteral("426 Broken."));
    EXPECT_EQ(pane.RowOf(ids[3])->text(TQueuePane::ProgressColumn), QStringLiteral("100%"));
    EXPECT_EQ(pane.RowOf(ids[3])->text(TQueuePane::StatusColumn), QStringLiteral("Done"));

    // Retried failures go back to the end of the queued tab with fresh
    // texts.
    queue.Retry(ids[7]);
    queue.Retry(ids[14]);
    pane.Flush();
    EXPECT_EQ(Names(pane, TQueuePane::QueuedTab).mid(queued.size()), (QStringList{"/f1007.bin", "/f1014.bin"}));
    EXPECT_EQ(pane.RowOf(ids[7])->text(TQueuePane::StatusColumn), QStringLiteral("Queued"));
    EXPECT_EQ(Names(pane, TQueuePane::FailedTab).size(), failed.size() - 2);
    pane.SetQueue(nullptr);
}

TEST(QueuePane, TheMenuOffersWhatFitsTheTabAndTheQueuesState)
{
    TTransferQueue queue;
    TQueuePane pane;
    pane.SetQueue(&queue);
    const TTransferId a = queue.AddItem(File("/a.bin", 10));
    const TTransferId b = queue.AddItem(File("/b.bin", 10));
    queue.SetState(b, TTransferState::Failed, "550 No.");
    pane.Flush();

    pane.Tabs->setCurrentIndex(TQueuePane::QueuedTab);
    EXPECT_FALSE(pane.QueueRemove1->isEnabled());
    EXPECT_TRUE(pane.QueueStart1->isEnabled());
    EXPECT_FALSE(pane.QueueStop1->isEnabled());
    pane.RowOf(a)->setSelected(true);
    EXPECT_TRUE(pane.QueueRemove1->isEnabled());
    EXPECT_TRUE(pane.QueueMoveToTop1->isEnabled());
    EXPECT_FALSE(pane.QueueRetry1->isEnabled());

    std::vector<TTransferId> retried;
    QObject::connect(&pane, &TQueuePane::RetryRequested, [&](const std::vector<TTransferId>& ids) { retried = ids; });
    pane.Tabs->setCurrentIndex(TQueuePane::FailedTab);
    pane.RowOf(b)->setSelected(true);
    EXPECT_TRUE(pane.QueueRetry1->isEnabled());
    EXPECT_FALSE(pane.QueueMoveToTop1->isEnabled());
    pane.QueueRetry1->trigger();
    EXPECT_EQ(retried, std::vector<TTransferId>{b});

    pane.SetRunning(true);
    EXPECT_FALSE(pane.QueueStart1->isEnabled());
    EXPECT_TRUE(pane.QueueStop1->isEnabled());
    pane.SetQueue(nullptr);
}

} // namespace
