#pragma once

// TQueueControl: the main window's transfer queue. It owns the queue model
// and the runner that moves it through worker sessions of their own (so the
// window's browsing session stays free), carries out the commands of the
// queue pane, remembers the site the queue belongs to, and saves the queue
// to a file and loads it back. It asks nothing itself: the same-name
// question and every notice go through the window's callbacks.

#include "transfers/transferqueue.h"
#include "transfers/transferrunner.h"

#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class TQueuePane;

// The site a queue belongs to, as far as it is stored with the queue (the
// password never is).
struct TQueueSiteKey {
    std::string Host;
    std::string Port;
    std::string User;
    bool operator==(const TQueueSiteKey&) const = default;
};

class TQueueControl {
public:
    TQueueControl(TQueuePane* pane, const TTransferSettings& settings);
    ~TQueueControl();
    TQueueControl(const TQueueControl&) = delete;
    TQueueControl& operator=(const TQueueControl&) = delete;

    TTransferQueue& Queue() { return queue_; }
    const TTransferQueue& Queue() const { return queue_; }
    bool Running() const { return runner_ && runner_->Running(); }
    const TTransferSettings& Settings() const { return settings_; }
    // New settings for the runs that start from now on; a run in progress
    // keeps the ones it started with.
    void SetSettings(const TTransferSettings& settings);
    // The site of the items in the queue; empty host when there is none.
    const TQueueSiteKey& SiteKey() const { return siteKey_; }
    bool HasSite() const { return !siteKey_.Host.empty(); }

    // Whether items for `site` may join: the queue is empty, finished, or
    // already belongs to that site.
    bool Accepts(const TTransferSite& site) const;
    // Sets the site the runner logs in to (the queue then belongs to it).
    void SetSite(const TTransferSite& site);
    // Loaded queues know their site but not its password.
    void SetSiteKey(const TQueueSiteKey& key) { siteKey_ = key; }
    bool HasPassword() const { return havePassword_; }

    // Adds the remote folders and files (absolute paths, server bytes) for
    // download into the existing local folder, and the local files and
    // folders for upload into the remote folder; all of them one batch (one
    // "apply to all"). Returns the number of items added; `errors` gets
    // a line per refused one.
    int AddDownloads(const std::vector<std::string>& folders,
                     const std::vector<std::pair<std::string, std::int64_t>>& files, const std::string& localFolder,
                     std::vector<std::string>& errors);
    int AddUploads(const std::vector<std::string>& localPaths, const std::string& remoteFolder,
                   std::vector<std::string>& errors);

    void Start();
    void Stop();
    void Remove(const std::vector<TTransferId>& ids);
    void Retry(const std::vector<TTransferId>& ids);
    void MoveToTop(const std::vector<TTransferId>& ids);

    // The queue file: saved with the site key beside the items.
    bool Save(const QString& path, std::string& error);
    bool Load(const QString& path, std::string& error);

    // "3 of 12 files, 1.2 of 40.0 MB, 2.5 MB/s"; empty for an empty queue.
    QString StatusText() const;

    TConflictHandler OnConflict;
    std::function<void(const std::string&)> OnLog;
    // The runner stopped with nothing left (ok: no failures), or was stopped.
    std::function<void(bool ok)> OnFinished;
    // Started or stopped.
    std::function<void(bool running)> OnRunningChanged;

private:
    void MakeRunner();
    void Joined(std::size_t firstIndex, TTransferId batch);

    TTransferQueue queue_;
    TQueuePane* pane_ = nullptr;
    TTransferSettings settings_;
    TTransferSite site_;
    TQueueSiteKey siteKey_;
    bool havePassword_ = false;
    // The runner was made with settings that have changed since.
    bool staleRunner_ = false;
    std::unique_ptr<TTransferRunner> runner_;
};
