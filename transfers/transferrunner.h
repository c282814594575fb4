#pragma once

// TTransferRunner: runs a TTransferQueue against one site with up to N
// worker sessions of its own, so the browsing session stays free. It picks
// the next item whose folder is done, expands folders into items (remote
// folders by their listing, checked name by name; local folders were read
// when queued), asks the same-name question, retries failed items with a
// resume, and creates remote links that stay inside the tree as local links.

#include "ftp/ftplisting.h"
#include "transfers/transferqueue.h"
#include "transfers/transferworker.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

enum class TConflictAction : std::uint8_t {
    Overwrite,
    Resume,
    Rename,
    Skip
};

// The target of an item exists: what to do with it.
struct TConflictQuestion {
    const TTransferItem* Item = nullptr;
    std::string TargetPath;       // local path (download) or remote path (upload)
    std::int64_t TargetSize = -1; // -1: unknown
    std::int64_t SourceSize = -1;
    bool CanResume = false; // the target is smaller than the source
    TTransferTime TargetTime;
    TTransferTime SourceTime;
};

struct TConflictAnswer {
    TConflictAction Action = TConflictAction::Skip;
    std::string NewName;     // for Rename: a plain name in the same folder
    bool ApplyToAll = false; // the same answer for the rest of the batch
};

using TConflictHandler = std::function<TConflictAnswer(const TConflictQuestion&)>;

// An entry of a remote folder as its listing showed it.
struct TRemoteName {
    std::int64_t Size = -1; // -1: unknown
    TTransferTime Modified;
    TFtpEntryType Type = TFtpEntryType::Unknown;
};
using TRemoteNames = std::map<std::string, TRemoteName>;

class TTransferRunner {
public:
    TTransferRunner(TTransferQueue& queue, const TTransferSite& site, const TTransferSettings& settings);
    ~TTransferRunner();
    TTransferRunner(const TTransferRunner&) = delete;
    TTransferRunner& operator=(const TTransferRunner&) = delete;

    const TTransferSettings& Settings() const { return settings_; }

    // Starts (or continues) the queue; call it again after adding items to
    // a running queue so idle sessions pick them up. Stop cuts the running transfers, puts
    // them back in the queue (their bytes stay for a resume) and closes the
    // sessions.
    void Start();
    void Stop();
    bool Running() const { return running_; }
    // Removes an item, stopping it first when it is running.
    bool Remove(TTransferId id);
    int Sessions() const { return int(workers_.size()); }
    // The entries of remote folder `path` (absolute) as read before this
    // run's uploads into it, plus what the run uploaded; null when the
    // folder was not read.
    const TRemoteNames* RemoteFolder(const std::string& path) const;

    // Asked when a target exists. Without a handler such items are skipped:
    // nothing is overwritten unless someone said so.
    TConflictHandler OnConflict;
    std::function<void(const std::string&)> OnLog;
    // The queue has nothing left to run (done, or nothing could be
    // reached): `ok` is false when an item failed or the site gave up.
    std::function<void(bool ok)> OnFinished;

private:
    void Pump();
    bool Assign(TTransferWorker* worker);
    bool Startable(const TTransferItem& item);
    // Each returns true when it gave the worker a job; false when the item
    // was settled without one (skipped, refused, failed).
    bool StartItem(TTransferWorker* worker, TTransferId id);
    bool StartDownloadFile(TTransferWorker* worker, TTransferItem item);
    bool StartUploadFile(TTransferWorker* worker, TTransferItem item);
    bool StartDownloadFolder(TTransferWorker* worker, const TTransferItem& item);
    bool StartUploadFolder(TTransferWorker* worker, const TTransferItem& item);
    void MakeLink(const TTransferItem& item);
    void ExpandRemoteFolder(TTransferId id, const std::vector<TFtpListEntry>& entries);
    void ItemResult(TTransferWorker* worker, TTransferId id, const TWorkerResult& result);
    void Transient(TTransferId id, const std::string& text);
    // The same-name question for an item whose target exists.
    enum class Verdict {
        Go,
        Resume,
        Renamed,
        Settled
    };
    Verdict Settle(const TTransferItem& item, const std::string& target, std::int64_t targetSize,
                   const TTransferTime& targetTime);
    void RememberRemoteNames(const std::string& dir, const std::vector<TFtpListEntry>& entries);
    bool StillWanted(TTransferWorker* worker, TTransferId id) const;
    void Fail(TTransferId id, const std::string& text);
    void Skip(TTransferId id, const std::string& text);
    void CheckFinished();
    void ReportFinished(bool ok);
    void Log(const std::string& text);
    TTransferWorker* NewWorker();

    TTransferQueue& queue_;
    TTransferSite site_;
    TTransferSettings settings_;
    bool running_ = false;
    bool gaveUp_ = false;
    std::vector<std::unique_ptr<TTransferWorker>> workers_;
    std::vector<std::unique_ptr<TTransferWorker>> retired_;
    std::map<TTransferWorker*, TTransferId> busy_;
    // Remote folder -> its entries, from the listings read.
    std::map<std::string, TRemoteNames> remoteNames_;
    std::map<TTransferId, TConflictAnswer> batchAnswers_;
    // The server refused REST once: later retries start over.
    bool restRefused_ = false;
    bool pumping_ = false;
    bool pumpAgain_ = false;
    int nextWorker_ = 1;
    QObject context_;
};
