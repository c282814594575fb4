// The queue model without a server: the checks on remote names and links,
// the local walk of an upload, moving, removing and retrying items, and the
// queue file (round trip, odd bytes, damaged files).

#include "transfers/transferpaths.h"
#include "transfers/transfertime.h"
#include "transfertestutil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

namespace fs = std::filesystem;
using namespace transfertest;

namespace {

TEST(TransferPaths, EntryNamesThatAreNotPlainAreRefused)
{
    std::string why;
    for (const std::string& bad :
         {std::string(), std::string("."), std::string(".."), std::string("a/b"), std::string("../x"),
          std::string("/etc"), std::string("a\rb"), std::string("a\nb"), std::string("a\0b", 3)}) {
        EXPECT_FALSE(IsSafeEntryName(bad, why)) << bad;
        EXPECT_FALSE(why.empty());
    }
    for (const std::string good : {"a", "...", "..a", " leading", "naïve café", "a\\b", "-rf"})
        EXPECT_TRUE(IsSafeEntryName(good, why)) << good;
}

TEST(TransferPaths, LocalChildrenStayInsideTheRootThroughLinks)
{
    TempFolder base;
    const std::string root = base.Path() + "/root";
    fs::create_directories(root + "/in");
    fs::create_directories(base.Path() + "/out");
    fs::create_directory_symlink(base.Path() + "/out", root + "/away");
    fs::create_directory_symlink(root + "/in", root + "/near");
    fs::create_symlink(base.Path() + "/out/file", root + "/in/dangling-out");
    fs::create_symlink("sibling", root + "/in/inside-link");

    std::string path;
    std::string why;
    EXPECT_TRUE(SafeLocalChild(root, root + "/in", "new.txt", path, why)) << why;
    EXPECT_EQ(path, root + "/in/new.txt");
    EXPECT_TRUE(SafeLocalChild(root, root + "/near", "new.txt", path, why)) << why;
    EXPECT_FALSE(SafeLocalChild(root, root + "/away", "new.txt", path, why));
    EXPECT_FALSE(SafeLocalChild(root, root + "/in", "dangling-out", path, why));
    EXPECT_NE(why.find("leads outside"), std::string::npos) << why;
    // A link to something not there yet, inside, is acceptable; a name that
    // climbs is not, whatever the folder.
    EXPECT_FALSE(SafeLocalChild(root, root + "/in", "inside-link", path, why)) << "dangling: cannot be resolved";
    EXPECT_FALSE(SafeLocalChild(root, root, "..", path, why));
    EXPECT_FALSE(SafeLocalChild(root, base.Path(), "x", path, why));
}

TEST(TransferPaths, RemoteLinksAreFollowedOnlyInsideTheTree)
{
    std::string rel;
    EXPECT_TRUE(RemoteLinkInside("/pub/tree", "/pub/tree/a", "b.txt", rel));
    EXPECT_EQ(rel, "b.txt");
    EXPECT_TRUE(RemoteLinkInside("/pub/tree", "/pub/tree/a", "../c/d.txt", rel));
    EXPECT_EQ(rel, "../c/d.txt");
    EXPECT_TRUE(RemoteLinkInside("/pub/tree", "/pub/tree/a/b", "/pub/tree/x", rel));
    EXPECT_EQ(rel, "../../x");
    EXPECT_TRUE(RemoteLinkInside("/pub/tree/", "/pub/tree", "./sub//f", rel));
    EXPECT_EQ(rel, "sub/f");
    EXPECT_FALSE(RemoteLinkInside("/pub/tree", "/pub/tree/a", "../../secret", rel));
    EXPECT_FALSE(RemoteLinkInside("/pub/tree", "/pub/tree", "/etc/passwd", rel));
    EXPECT_FALSE(RemoteLinkInside("/pub/tree", "/pub/tree", "/pub/treehouse/x", rel));
    EXPECT_FALSE(RemoteLinkInside("/pub/tree", "/pub/tree/a", "..", rel)) << "the tree itself";
    EXPECT_FALSE(RemoteLinkInside("/", "/", "../../../../x", rel));
    EXPECT_FALSE(RemoteLinkInside("/pub/tree", "/pub/tree", "", rel));
    EXPECT_FALSE(RemoteLinkInside("/pub/tree", "/pub/tree", std::string("a\0b", 3), rel));
}

TEST(TransferQueueModel, UploadWalkQueuesFoldersBeforeTheirFiles)
{
    TempFolder base;
    const std::string src = base.Path() + "/src";
    fs::create_directories(src + "/a/b");
    MakeFile(src + "/top.bin", 10, 1);
    MakeFile(src + "/a/mid.bin", 20, 2);
    MakeFile(src + "/a/b/deep.bin", 0, 3);
    fs::create_directory_symlink(base.Path(), src + "/loop");
    fs::create_symlink(src + "/top.bin", src + "/alias.bin");

    TTransferQueue queue;
    int added = 0;
    queue.OnItemAdded = [&](const TTransferItem&) { ++added; };
    std::string why;
    const TTransferId first = queue.AddUpload(src, "/remote/dir", 64, &why);
    ASSERT_NE(first, 0u) << why;
    EXPECT_EQ(added, int(queue.Items().size()));
    std::map<std::string, const TTransferItem*> byRemote;
    std::map<TTransferId, std::size_t> position;
    for (std::size_t i = 0; i < queue.Items().size(); ++i) {
        byRemote[queue.Items()[i].RemotePath] = &queue.Items()[i];
        position[queue.Items()[i].Id] = i;
    }
    ASSERT_TRUE(byRemote.count("/remote/dir/src"));
    EXPECT_EQ(byRemote["/remote/dir/src"]->Kind, TTransferKind::Folder);
    EXPECT_EQ(byRemote["/remote/dir/src/a/b/deep.bin"]->Size, 0);
    EXPECT_EQ(byRemote["/remote/dir/src/alias.bin"]->Kind, TTransferKind::File) << "a link to a file sends it";
    EXPECT_EQ(byRemote["/remote/dir/src/loop"]->State, TTransferState::Skipped) << "a link to a folder is not followed";
    for (const TTransferItem& item : queue.Items()) {
        if (item.Parent) {
            EXPECT_LT(position[item.Parent], position[item.Id]) << item.RemotePath;
        }
    }
    const TTransferTotals totals = queue.Totals();
    EXPECT_EQ(totals.Bytes, 40);
    EXPECT_EQ(totals.Skipped, 1);

    EXPECT_EQ(queue.AddUpload(src + "/none", "/remote", 64, &why), 0u);
    EXPECT_EQ(queue.AddUpload(src, "relative", 64, &why), 0u);
    EXPECT_EQ(queue.AddDownload("/x/..", TTransferKind::Folder, -1, src, &why), 0u);
    EXPECT_EQ(queue.AddDownload("/x/y", TTransferKind::File, 1, src + "/missing", &why), 0u);
}

TEST(TransferQueueModel, MoveRemoveRetryAndProgress)
{
    TempFolder base;
    TTransferQueue queue;
    const TTransferId folder = queue.AddDownload("/f", TTransferKind::Folder, -1, base.Path());
    TTransferItem child;
    child.Parent = folder;
    child.RemotePath = "/f/c";
    child.LocalPath = base.Path() + "/f/c";
    child.Size = 100;
    const TTransferId c = queue.AddItem(child);
    const TTransferId other = queue.AddDownload("/g", TTransferKind::File, 50, base.Path());
    int resets = 0;
    int removed = 0;
    std::vector<TTransferId> changed;
    queue.OnReset = [&] { ++resets; };
    queue.OnItemRemoved = [&](TTransferId) { ++removed; };
    queue.OnItemChanged = [&](const TTransferItem& i) { changed.push_back(i.Id); };

    EXPECT_TRUE(queue.MoveToTop(other));
    EXPECT_EQ(queue.Items().front().Id, other);
    EXPECT_EQ(queue.Find(c)->RemotePath, "/f/c") << "the index follows the move";
    EXPECT_EQ(resets, 1);

    queue.SetProgress(c, 40);
    EXPECT_EQ(queue.Totals().BytesDone, 40);
    EXPECT_EQ(queue.Totals().Bytes, 150);
    queue.SetState(other, TTransferState::Failed, "550 gone");
    EXPECT_FALSE(queue.Retry(c)) << "only failed or skipped items";
    EXPECT_TRUE(queue.Retry(other));
    EXPECT_EQ(queue.Find(other)->State, TTransferState::Queued);
    EXPECT_EQ(queue.Find(other)->ErrorText, "");
    EXPECT_FALSE(changed.empty());

    queue.SetState(c, TTransferState::Active);
    EXPECT_FALSE(queue.Remove(c)) << "an active item is stopped through the runner";
    queue.SetState(c, TTransferState::Queued);
    EXPECT_TRUE(queue.Remove(folder));
    EXPECT_EQ(removed, 2) << "a folder goes with what its listing produced";
    EXPECT_EQ(queue.Find(c), nullptr);
    EXPECT_NE(queue.Find(other), nullptr);
}

TEST(TransferQueueModel, FirstUnfinishedFollowsRetriesMovesAndRemovals)
{
    // The scheduler starts its scans at FirstUnfinished: an item before it
    // that is queued again would never run.
    TempFolder base;
    TTransferQueue queue;
    std::vector<TTransferId> ids;
    for (const char* name : {"/a", "/b", "/c", "/d"})
        ids.push_back(queue.AddDownload(name, TTransferKind::File, 10, base.Path()));
    EXPECT_EQ(queue.FirstUnfinished(), 0u);
    queue.SetState(ids[0], TTransferState::Done);
    queue.SetState(ids[1], TTransferState::Failed, "550 no");
    queue.SetState(ids[2], TTransferState::Skipped);
    EXPECT_EQ(queue.FirstUnfinished(), 3u);

    EXPECT_TRUE(queue.Retry(ids[1]));
    EXPECT_EQ(queue.FirstUnfinished(), 1u) << "a retried item is scanned again";
    queue.SetState(ids[1], TTransferState::Done);
    queue.SetState(ids[3], TTransferState::Done);
    EXPECT_EQ(queue.FirstUnfinished(), 4u);

    queue.Update(ids[0], [](TTransferItem& item) { item.State = TTransferState::Queued; });
    EXPECT_EQ(queue.FirstUnfinished(), 0u) << "any change back to queued counts";
    queue.SetState(ids[0], TTransferState::Done);

    const TTransferId late = queue.AddDownload("/e", TTransferKind::File, 10, base.Path());
    EXPECT_EQ(queue.FirstUnfinished(), 4u) << "an added item is unfinished";
    EXPECT_TRUE(queue.MoveToTop(late));
    EXPECT_EQ(queue.FirstUnfinished(), 0u);
    queue.SetState(late, TTransferState::Done);
    EXPECT_TRUE(queue.Retry(ids[2]));
    EXPECT_TRUE(queue.Remove(ids[0]));
    ASSERT_EQ(queue.FirstUnfinished(), 2u) << "positions after a removal";
    EXPECT_EQ(queue.Items()[queue.FirstUnfinished()].Id, ids[2]);
}

TEST(TransferQueueFile, RoundTripKeepsOddBytesAndDamagedFilesChangeNothing)
{
    TempFolder base;
    TTransferQueue queue;
    TTransferItem item;
    item.Kind = TTransferKind::File;
    item.Direction = TTransferDirection::Upload;
    item.LocalPath = base.Path() + "/caf\xe9 latin-1";
    item.RemotePath = "/r/\xff\xfe odd";
    item.LocalRoot = base.Path();
    item.RemoteRoot = "/r";
    item.Size = 12345;
    item.BytesDone = 100;
    item.State = TTransferState::Active;
    item.Attempts = 2;
    item.TargetSettled = true;
    item.ErrorText = "Attempt 2 failed";
    const TTransferId id = queue.AddItem(item);
    const std::string file = base.Path() + "/queue.json";
    std::string error;
    ASSERT_TRUE(queue.Save(file, error)) << error;

    TTransferQueue loaded;
    ASSERT_TRUE(loaded.Load(file, error)) << error;
    const TTransferItem* back = loaded.Find(id);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->LocalPath, item.LocalPath);
    EXPECT_EQ(back->RemotePath, item.RemotePath);
    EXPECT_EQ(back->State, TTransferState::Queued) << "an interrupted item is queued again";
    EXPECT_EQ(back->Direction, TTransferDirection::Upload);
    EXPECT_EQ(back->Size, 12345);
    EXPECT_EQ(back->BytesDone, 100);
    EXPECT_EQ(back->Attempts, 2);
    EXPECT_TRUE(back->TargetSettled);
    EXPECT_GT(loaded.AddItem(item), id) << "new ids do not collide with loaded ones";

    const auto refused = [&](const std::string& text) {
        std::ofstream(file, std::ios::trunc) << text;
        std::string why;
        const std::size_t before = loaded.Items().size();
        EXPECT_FALSE(loaded.Load(file, why)) << text;
        EXPECT_FALSE(why.empty());
        EXPECT_EQ(loaded.Items().size(), before);
    };
    refused("not json");
    refused(R"({"format":"other","version":1,"items":[]})");
    refused(R"({"format":"tarvik-transfer-queue","version":2,"items":[]})");
    refused(R"({"format":"tarvik-transfer-queue","version":1,"items":[{"id":1}]})");
    refused(R"({"format":"tarvik-transfer-queue","version":1,"items":[{"id":1,"kind":"file","direction":"download",)"
            R"("local":"/a\u0000b","remote":"/x","localRoot":"/","state":"queued"}]})");
    refused(R"({"format":"tarvik-transfer-queue","version":1,"items":[{"id":1,"kind":"file","direction":"download",)"
            R"("local":"/a","remote":"x","localRoot":"/","state":"queued"}]})");
    EXPECT_FALSE(loaded.Load(base.Path() + "/absent.json", error));

    // A folder that is not there: refused with the reason.
    EXPECT_FALSE(queue.Save(base.Path() + "/missing-folder/q.json", error));
    EXPECT_FALSE(error.empty());
}

TEST(TransferTime, ListingPrecisionAndOnlyNewerComparison)
{
    TFtpTime minute;
    minute.HasDate = minute.TimeKnown = true;
    minute.Year = 2026;
    minute.Month = 12;
    minute.Day = 8;
    minute.Hour = 12;
    minute.Minute = 34;
    const TTransferTime m = TransferTimeFromListing(minute);
    ASSERT_TRUE(m.Known());
    EXPECT_EQ(m.Latest - m.Earliest, 59);
    TFtpTime day = minute;
    day.TimeKnown = false;
    const TTransferTime d = TransferTimeFromListing(day);
    EXPECT_EQ(d.Latest - d.Earliest, 86399);
    EXPECT_LE(d.Earliest, m.Earliest);
    TFtpTime exact = minute;
    exact.SecondsKnown = true;
    exact.Second = 56;
    const TTransferTime e = TransferTimeFromListing(exact);
    EXPECT_EQ(e.Earliest, m.Earliest + 56);
    EXPECT_EQ(e.Latest, e.Earliest);
    EXPECT_FALSE(TransferTimeFromListing(TFtpTime{}).Known());

    // The same minute on both sides is as new; a minute earlier is not.
    EXPECT_TRUE(TransferTimeAsNew(m, e));
    EXPECT_TRUE(TransferTimeAsNew(e, m));
    EXPECT_FALSE(TransferTimeAsNew(TTransferTime::Exact(m.Earliest - 1), m));
    EXPECT_TRUE(TransferTimeAsNew(TTransferTime::Exact(e.Earliest + 3600), e));
    EXPECT_FALSE(TransferTimeAsNew(TTransferTime{}, e));
    EXPECT_FALSE(TransferTimeAsNew(e, TTransferTime{}));
}

TEST(TransferQueue, MirrorRootsAreTheChosenFoldersThemselves)
{
    TempFolder base;
    fs::create_directories(base.Path() + "/up/sub");
    std::ofstream(base.Path() + "/up/sub/f.txt") << "f";
    TTransferQueue queue;
    std::string why;
    const TTransferId down = queue.AddDownloadInto("/remote/./tree/", base.Path(), &why);
    ASSERT_NE(down, 0u) << why;
    EXPECT_EQ(queue.Find(down)->LocalPath, base.Path());
    EXPECT_EQ(queue.Find(down)->LocalRoot, base.Path());
    EXPECT_EQ(queue.Find(down)->RemotePath, "/remote/tree");
    EXPECT_EQ(queue.AddDownloadInto("relative", base.Path(), &why), 0u);
    EXPECT_EQ(queue.AddDownloadInto("/r", base.Path() + "/missing", &why), 0u);

    const TTransferId up = queue.AddUploadInto(base.Path() + "/up", "/target", 64, &why);
    ASSERT_NE(up, 0u) << why;
    EXPECT_EQ(queue.Find(up)->RemotePath, "/target");
    std::set<std::string> remote;
    for (const TTransferItem& item : queue.Items())
        remote.insert(item.RemotePath);
    EXPECT_TRUE(remote.count("/target/sub/f.txt")) << "the contents go into the folder, not below its name";
    EXPECT_EQ(queue.AddUploadInto(base.Path() + "/missing", "/target", 64, &why), 0u);
}

} // namespace
