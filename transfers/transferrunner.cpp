#include "transfers/transferrunner.h"

#include "ftp/ftplocalfile.h"
#include "transfers/transferpaths.h"
#include "transfers/transfertime.h"

#include <QTimer>

#include <algorithm>

TTransferRunner::TTransferRunner(TTransferQueue& queue, const TTransferSite& site, const TTransferSettings& settings)
    : queue_(queue), site_(site), settings_(settings)
{
    settings_.Connections = settings_.ClampedConnections();
    settings_.MaxRetries = std::max(0, settings_.MaxRetries);
}

TTransferRunner::~TTransferRunner()
{
    running_ = false;
    busy_.clear();
    workers_.clear();
    retired_.clear();
}

void TTransferRunner::Log(const std::string& text)
{
    if (OnLog)
        OnLog(text);
}

// --- starting and stopping ---------------------------------------------------------

void TTransferRunner::Start()
{
    if (running_) {
        Pump();
        return;
    }
    running_ = true;
    gaveUp_ = false;
    // Sessions that gave up on an earlier run get a fresh chance.
    for (auto it = workers_.begin(); it != workers_.end();) {
        if ((*it)->GetState() != TTransferWorker::State::GaveUp) {
            ++it;
            continue;
        }
        retired_.push_back(std::move(*it));
        it = workers_.erase(it);
    }
    QTimer::singleShot(0, &context_, [this] { retired_.clear(); });
    Pump();
}

void TTransferRunner::Stop()
{
    running_ = false;
    for (const auto& [worker, id] : busy_) {
        worker->Abort();
        queue_.SetState(id, TTransferState::Queued, "Stopped");
    }
    busy_.clear();
    // The sessions go away from the message loop: Stop may be called from
    // inside one of their events.
    for (auto& worker : workers_) {
        worker->Abort();
        retired_.push_back(std::move(worker));
    }
    workers_.clear();
    QTimer::singleShot(0, &context_, [this] { retired_.clear(); });
}

bool TTransferRunner::Remove(TTransferId id)
{
    for (auto it = busy_.begin(); it != busy_.end(); ++it) {
        if (it->second != id)
            continue;
        TTransferWorker* const worker = it->first;
        busy_.erase(it);
        worker->Abort();
        queue_.SetState(id, TTransferState::Queued, "Removed");
        if (running_)
            worker->Connect(0);
        break;
    }
    const bool removed = queue_.Remove(id);
    Pump();
    return removed;
}

TTransferWorker* TTransferRunner::NewWorker()
{
    auto worker = std::make_unique<TTransferWorker>(site_, settings_, nextWorker_++);
    worker->OnReady = [this](TTransferWorker*) { Pump(); };
    worker->OnOffline = [this](TTransferWorker*) { Pump(); };
    worker->OnGaveUp = [this](TTransferWorker* w, const std::string& why) {
        Log("Connection " + std::to_string(w->Index()) + " gave up: " + why);
        const bool anyAlive = std::any_of(workers_.begin(), workers_.end(), [](const auto& other) {
            return other->GetState() != TTransferWorker::State::GaveUp;
        });
        if (!anyAlive && running_) {
            gaveUp_ = true;
            running_ = false;
            Log("Cannot reach the site: the queue stops");
            ReportFinished(false);
            return;
        }
        Pump();
    };
    worker->OnLog = [this](TTransferWorker* w, const std::string& text) {
        Log("[" + std::to_string(w->Index()) + "] " + text);
    };
    workers_.push_back(std::move(worker));
    return workers_.back().get();
}

// --- scheduling ---------------------------------------------------------------------

bool TTransferRunner::Startable(const TTransferItem& item)
{
    if (item.State != TTransferState::Queued || item.Kind == TTransferKind::Link)
        return false;
    const TTransferItem* parent = item.Parent ? queue_.Find(item.Parent) : nullptr;
    return !parent || parent->State == TTransferState::Done;
}

void TTransferRunner::Pump()
{
    // Settling an item may notify a listener that calls back in here.
    if (pumping_) {
        pumpAgain_ = true;
        return;
    }
    pumping_ = true;
    do {
        pumpAgain_ = false;
        if (!running_)
            break;

        // What needs no session: children of folders that failed, and links.
        // Only queued items matter; the items of one folder's listing sit
        // side by side, so their folder's state is looked up once for all.
        std::vector<TTransferId> ids;
        TTransferId lastParent = 0;
        TTransferState lastParentState = TTransferState::Queued;
        const std::deque<TTransferItem>& items = queue_.Items();
        for (std::size_t i = queue_.FirstUnfinished(); i < items.size(); ++i) {
            const TTransferItem& item = items[i];
            if (item.State != TTransferState::Queued)
                continue;
            if (item.Kind != TTransferKind::Link && item.Parent != 0) {
                if (item.Parent != lastParent) {
                    const TTransferItem* parent = queue_.Find(item.Parent);
                    lastParent = item.Parent;
                    lastParentState = parent ? parent->State : TTransferState::Done;
                }
                if (lastParentState != TTransferState::Failed && lastParentState != TTransferState::Skipped)
                    continue;
            } else if (item.Kind != TTransferKind::Link) {
                continue;
            }
            ids.push_back(item.Id);
        }
        for (const TTransferId id : ids) {
            const TTransferItem* item = queue_.Find(id);
            if (!item || item->State != TTransferState::Queued)
                continue;
            const TTransferItem* parent = item->Parent ? queue_.Find(item->Parent) : nullptr;
            if (parent && (parent->State == TTransferState::Failed || parent->State == TTransferState::Skipped)) {
                Skip(id, "Its folder was not transferred");
                continue;
            }
            if (item->Kind == TTransferKind::Link && (!parent || parent->State == TTransferState::Done))
                MakeLink(*item);
        }

        // By index: a same-name question may run the event loop, and a
        // Stop from there empties the list.
        for (std::size_t i = 0; running_ && i < workers_.size(); ++i) {
            TTransferWorker* const worker = workers_[i].get();
            if (worker->IsIdle() && !busy_.count(worker))
                Assign(worker);
        }
        if (!running_)
            break;

        // More sessions while there is work nobody is logging in for.
        // Counted only as far as it can matter: no more sessions than the
        // setting are ever started.
        int waiting = 0;
        for (std::size_t i = queue_.FirstUnfinished(); i < items.size(); ++i) {
            if (waiting > settings_.Connections)
                break;
            waiting += Startable(items[i]) ? 1 : 0;
        }
        int starting = 0;
        for (const auto& worker : workers_) {
            const auto state = worker->GetState();
            starting += state == TTransferWorker::State::Connecting || state == TTransferWorker::State::Waiting;
        }
        for (const auto& worker : workers_) {
            if (waiting <= starting)
                break;
            if (worker->GetState() == TTransferWorker::State::Offline) {
                worker->Connect(0);
                ++starting;
            }
        }
        while (waiting > starting && int(workers_.size()) < settings_.Connections) {
            NewWorker()->Connect(0);
            ++starting;
        }
    } while (pumpAgain_);
    pumping_ = false;
    CheckFinished();
}

bool TTransferRunner::Assign(TTransferWorker* worker)
{
    while (running_) {
        TTransferId next = 0;
        const std::deque<TTransferItem>& items = queue_.Items();
        for (std::size_t i = queue_.FirstUnfinished(); i < items.size(); ++i) {
            if (Startable(items[i])) {
                next = items[i].Id;
                break;
            }
        }
        if (next == 0)
            return false;
        if (StartItem(worker, next))
            return true;
        if (!worker->IsIdle())
            return false;
    }
    return false;
}

void TTransferRunner::CheckFinished()
{
    if (!running_ || !busy_.empty())
        return;
    if (queue_.FirstUnfinished() < queue_.Items().size())
        return;
    running_ = false;
    for (const auto& worker : workers_)
        worker->Close();
    const TTransferTotals totals = queue_.Totals();
    Log("Queue finished: " + std::to_string(totals.Done) + " done, " + std::to_string(totals.Failed) + " failed, " +
        std::to_string(totals.Skipped) + " skipped");
    ReportFinished(totals.Failed == 0);
}

void TTransferRunner::ReportFinished(bool ok)
{
    // From the message loop: the listener may well destroy the runner, and
    // this runs inside a session's completion event.
    QTimer::singleShot(0, &context_, [this, ok] {
        if (OnFinished)
            OnFinished(ok);
    });
}

void TTransferRunner::Fail(TTransferId id, const std::string& text)
{
    Log("Failed: " + text);
    queue_.SetState(id, TTransferState::Failed, text);
}

void TTransferRunner::Skip(TTransferId id, const std::string& text)
{
    Log("Skipped: " + text);
    queue_.SetState(id, TTransferState::Skipped, text);
}

const TRemoteNames* TTransferRunner::RemoteFolder(const std::string& path) const
{
    const auto found = remoteNames_.find(path);
    return found == remoteNames_.end() ? nullptr : &found->second;
}

void TTransferRunner::RememberRemoteNames(const std::string& dir, const std::vector<TFtpListEntry>& entries)
{
    TRemoteNames& names = remoteNames_[dir];
    for (const TFtpListEntry& e : entries) {
        if (e.Role == TFtpEntryRole::Child)
            names[e.Name] = TRemoteName{e.Size, TransferTimeFromListing(e.Modified), e.Type};
    }
}

// --- results ------------------------------------------------------------------------------

void TTransferRunner::Transient(TTransferId id, const std::string& text)
{
    bool failed = false;
    queue_.Update(id, [&](TTransferItem& i) {
        ++i.Attempts;
        if (i.Attempts > settings_.MaxRetries) {
            i.State = TTransferState::Failed;
            i.ErrorText = text;
            failed = true;
            return;
        }
        i.State = TTransferState::Queued;
        i.ErrorText = "Attempt " + std::to_string(i.Attempts) + " failed, retrying: " + text;
    });
    Log((failed ? "Failed: " : "Will retry: ") + text);
}

void TTransferRunner::ItemResult(TTransferWorker* worker, TTransferId id, const TWorkerResult& result)
{
    busy_.erase(worker);
    worker->OnProgress = nullptr;
    const TTransferItem* found = queue_.Find(id);
    if (!found) {
        Pump();
        return;
    }
    const TTransferItem item = *found;
    if (result.RestRefused)
        restRefused_ = true;
    if (!result.Ok) {
        if (result.Permanent)
            Fail(id, result.Error);
        else
            Transient(id, result.Error);
        Pump();
        return;
    }
    if (item.Kind == TTransferKind::Folder) {
        if (item.Direction == TTransferDirection::Download) {
            ExpandRemoteFolder(id, result.Entries);
        } else {
            RememberRemoteNames(item.RemotePath, result.Entries);
        }
        queue_.SetState(id, TTransferState::Done, result.Created ? "Created" : "");
        Pump();
        return;
    }
    if (item.Direction == TTransferDirection::Download && item.Size >= 0) {
        // The engine's success is checked against the listing: a short file
        // is never reported as done.
        const std::int64_t have = TFtpLocalFile::FileSize(item.LocalPath);
        if (have != item.Size) {
            Transient(id,
                      "The file arrived with " + std::to_string(have) + " of " + std::to_string(item.Size) + " bytes");
            Pump();
            return;
        }
    }
    if (item.Direction == TTransferDirection::Upload)
        remoteNames_[ParentPath(item.RemotePath)][LeafName(item.RemotePath)] = TRemoteName{
            item.Size, {}, TFtpEntryType::File};
    queue_.SetState(id, TTransferState::Done);
    Pump();
}
