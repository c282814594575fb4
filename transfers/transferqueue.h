#pragma once

// TTransferQueue: the list of transfers and nothing else. It holds the
// items in the order they run, tells listeners about every change (a pane
// redraws a row, a command-line front end prints a line), adds local trees
// for upload by reading folders, and is saved to and loaded from a file so
// a later session can offer an unfinished queue again. Running it is
// TTransferRunner's business.

#include "transfers/transfertypes.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

struct TTransferTotals {
    int Items = 0;
    int Queued = 0;
    int Active = 0;
    int Done = 0;
    int Failed = 0;
    int Skipped = 0;
    std::int64_t Bytes = 0;     // sizes of the files (those with a known size)
    std::int64_t BytesDone = 0; // what has been moved of them
};

class TTransferQueue {
public:
    TTransferQueue() = default;
    TTransferQueue(const TTransferQueue&) = delete;
    TTransferQueue& operator=(const TTransferQueue&) = delete;

    // --- change notifications (any may be empty) ----------------------------
    std::function<void(const TTransferItem&)> OnItemAdded;
    std::function<void(const TTransferItem&)> OnItemChanged;
    std::function<void(TTransferId)> OnItemRemoved;
    // The order changed (move to top) or everything was replaced (load).
    std::function<void()> OnReset;

    // --- adding ---------------------------------------------------------------
    // Queues the remote file or folder `remotePath` (absolute, server bytes)
    // for download into the existing local folder `localFolder`; a folder is
    // listed when its turn comes. Returns 0 with the reason when refused.
    TTransferId AddDownload(const std::string& remotePath, TTransferKind kind, std::int64_t size,
                            const std::string& localFolder, std::string* why = nullptr);
    // Queues the local file or folder `localPath` for upload into the remote
    // folder `remoteFolder` (absolute); a folder is read here and now, each
    // folder queued before what it holds. Returns the first item's id, or 0
    // with the reason.
    TTransferId AddUpload(const std::string& localPath, const std::string& remoteFolder, int maxDepth = 64,
                          std::string* why = nullptr);
    // Mirroring: the contents of remote folder `remoteFolder` into the
    // existing local folder `localFolder` itself (not into a folder of the
    // remote name inside it), and the contents of local folder
    // `localFolder` into remote folder `remoteFolder` (created when
    // missing). Return the folder item's id, or 0 with the reason.
    TTransferId AddDownloadInto(const std::string& remoteFolder, const std::string& localFolder,
                                std::string* why = nullptr);
    TTransferId AddUploadInto(const std::string& localFolder, const std::string& remoteFolder, int maxDepth = 64,
                              std::string* why = nullptr);
    // Adds an item found by expanding a folder; it gets a fresh id.
    TTransferId AddItem(TTransferItem item);

    // --- reading ----------------------------------------------------------------
    const std::deque<TTransferItem>& Items() const { return items_; }
    const TTransferItem* Find(TTransferId id) const;
    // Position of the first item not yet finished (Items().size() when all
    // are): everything before it is done, failed or skipped, so the
    // scheduler's scans start there instead of at the top of a long queue.
    std::size_t FirstUnfinished() const;
    TTransferTotals Totals() const;
    bool HasUnfinished() const;
    // Bytes per second over the last few seconds.
    double Rate() const;

    // --- changing -----------------------------------------------------------------
    // Changes one item through `change` and notifies; false when absent.
    bool Update(TTransferId id, const std::function<void(TTransferItem&)>& change);
    void SetState(TTransferId id, TTransferState state, const std::string& text = {});
    void SetProgress(TTransferId id, std::int64_t bytesDone);
    bool MoveToTop(TTransferId id);
    // Removes an item that is not active, with everything its listing
    // produced. False for an active item (stop it through the runner).
    bool Remove(TTransferId id);
    // A failed or skipped item goes back to the queue with fresh attempts;
    // what an earlier attempt transferred is resumed.
    bool Retry(TTransferId id);
    // Drops every finished item in `state`.
    void RemoveFinished(TTransferState state);
    void Clear();

    // --- persistence ----------------------------------------------------------------
    // Written atomically: a temporary file in the same folder, flushed to
    // disk, then renamed over `path`. Active items are saved as queued.
    bool Save(const std::string& path, std::string& error) const;
    // Replaces the items with the file's; on any error nothing changes.
    bool Load(const std::string& path, std::string& error);

private:
    TTransferItem* FindMutable(TTransferId id);
    void Notify(const TTransferItem& item);
    // Items moved or went away: positions are recomputed on next use.
    void Reordered();
    // `item` may have become unfinished again.
    void Reopened(const TTransferItem& item);
    // The folder item of a mirror in `direction`, both folders checked (the
    // local one must exist); false with the reason otherwise.
    bool MirrorFolder(TTransferDirection direction, const std::string& remoteFolder, const std::string& localFolder,
                      TTransferItem& item, std::string* why);
    bool AddLocalTree(const std::string& localDir, const std::string& remoteDir, const TTransferItem& proto,
                      TTransferId parent, int depth, int maxDepth, std::string* why);

    std::deque<TTransferItem> items_;
    // Id -> position in items_, rebuilt after an item moved or went away.
    mutable std::unordered_map<TTransferId, std::size_t> index_;
    mutable bool indexStale_ = false;
    // Every item before this position is finished (see FirstUnfinished).
    mutable std::size_t finishedPrefix_ = 0;
    TTransferId nextId_ = 1;
    TTransferId nextBatch_ = 1;
    // (milliseconds, bytes moved so far) samples for the rate.
    std::int64_t moved_ = 0;
    std::deque<std::pair<std::int64_t, std::int64_t>> samples_;
};
