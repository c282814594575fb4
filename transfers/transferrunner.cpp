#include "transfers/transferrunner.h"

#include "ftp/ftplocalfile.h"
#include "transfers/transferpaths.h"

#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string DirOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int DepthBelow(const std::string& root, const std::string& path)
{
    if (path.size() <= root.size())
        return 0;
    return int(std::count(path.begin() + std::ptrdiff_t(root.size()), path.end(), '/'));
}

} // namespace

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
    if (running_)
        return;
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
        std::vector<TTransferId> ids;
        for (const TTransferItem& item : queue_.Items())
            ids.push_back(item.Id);
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
        int waiting = 0;
        for (const TTransferItem& item : queue_.Items())
            waiting += Startable(item) ? 1 : 0;
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
        for (const TTransferItem& item : queue_.Items()) {
            if (Startable(item)) {
                next = item.Id;
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
    for (const TTransferItem& item : queue_.Items()) {
        if (!item.Finished())
            return;
    }
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

// --- starting items -------------------------------------------------------------------

bool TTransferRunner::StartItem(TTransferWorker* worker, TTransferId id)
{
    const TTransferItem* item = queue_.Find(id);
    if (!item)
        return false;
    const TTransferItem copy = *item;
    if (copy.Kind == TTransferKind::Folder) {
        return copy.Direction == TTransferDirection::Download ? StartDownloadFolder(worker, copy)
                                                              : StartUploadFolder(worker, copy);
    }
    return copy.Direction == TTransferDirection::Download ? StartDownloadFile(worker, copy)
                                                          : StartUploadFile(worker, copy);
}

TTransferRunner::Verdict TTransferRunner::Settle(const TTransferItem& item, const std::string& target,
                                                 std::int64_t targetSize)
{
    TConflictAnswer answer;
    const auto stored = batchAnswers_.find(item.Batch);
    if (stored != batchAnswers_.end()) {
        answer = stored->second;
    } else if (!OnConflict) {
        Skip(item.Id, "The target exists: " + target);
        return Verdict::Settled;
    } else {
        TConflictQuestion question;
        question.Item = queue_.Find(item.Id);
        question.TargetPath = target;
        question.TargetSize = targetSize;
        question.SourceSize = item.Size;
        question.CanResume = targetSize >= 0 && item.Size >= 0 && targetSize < item.Size;
        answer = OnConflict(question);
        // A new name holds for one file only.
        if (answer.ApplyToAll && answer.Action != TConflictAction::Rename)
            batchAnswers_[item.Batch] = answer;
    }
    switch (answer.Action) {
    case TConflictAction::Overwrite:
        return Verdict::Go;
    case TConflictAction::Resume:
        if (targetSize >= 0 && item.Size >= 0 && targetSize < item.Size)
            return Verdict::Resume;
        Skip(item.Id, "The target is not smaller than the source, nothing to resume: " + target);
        return Verdict::Settled;
    case TConflictAction::Rename: {
        std::string why;
        if (!IsSafeEntryName(answer.NewName, why)) {
            Fail(item.Id, "Cannot rename the target to \"" + answer.NewName + "\": " + why);
            return Verdict::Settled;
        }
        queue_.Update(item.Id, [&](TTransferItem& i) {
            if (i.Direction == TTransferDirection::Download)
                i.LocalPath = JoinLocalPath(DirOf(i.LocalPath), answer.NewName);
            else
                i.RemotePath = JoinRemotePath(DirOf(i.RemotePath), answer.NewName);
        });
        return Verdict::Renamed;
    }
    case TConflictAction::Skip:
        break;
    }
    Skip(item.Id, "The target exists: " + target);
    return Verdict::Settled;
}

bool TTransferRunner::StillWanted(TTransferWorker* worker, TTransferId id) const
{
    // The question may have taken a while, with the event loop running: the
    // queue may have been stopped, the item removed, the session lost.
    const TTransferItem* item = queue_.Find(id);
    const bool known = std::any_of(workers_.begin(), workers_.end(),
                                   [worker](const auto& w) { return w.get() == worker; });
    return running_ && item && item->State == TTransferState::Queued && known && worker->IsIdle() &&
           !busy_.count(worker);
}

bool TTransferRunner::StartDownloadFile(TTransferWorker* worker, TTransferItem item)
{
    for (;;) {
        std::string path;
        std::string why;
        // Checked again right before writing: the local folder may have
        // changed since the item was queued.
        if (!SafeLocalChild(item.LocalRoot, DirOf(item.LocalPath), BaseOf(item.LocalPath), path, why)) {
            Fail(item.Id, "Refused to write " + item.LocalPath + ": " + why);
            return false;
        }
        struct stat info {};
        const bool exists = ::lstat(path.c_str(), &info) == 0;
        if (exists && S_ISDIR(info.st_mode)) {
            Fail(item.Id, "A folder is in the way: " + path);
            return false;
        }
        bool resume = false;
        if (exists && !item.TargetSettled) {
            const Verdict verdict = Settle(item, path, std::int64_t(info.st_size));
            if (verdict == Verdict::Settled || !StillWanted(worker, item.Id))
                return false;
            if (verdict == Verdict::Renamed) {
                item = *queue_.Find(item.Id);
                continue;
            }
            resume = verdict == Verdict::Resume;
        } else if (exists && (item.Attempts > 0 || item.BytesDone > 0)) {
            // What an earlier attempt left is ours: carry on from there.
            resume = !restRefused_;
        }
        queue_.Update(item.Id, [](TTransferItem& i) {
            i.TargetSettled = true;
            i.State = TTransferState::Active;
        });
        busy_[worker] = item.Id;
        const TTransferId id = item.Id;
        worker->OnProgress = [this, id](std::int64_t count) { queue_.SetProgress(id, count); };
        worker->Download(item.RemotePath, path, resume,
                         [this, worker, id](const TWorkerResult& r) { ItemResult(worker, id, r); });
        return true;
    }
}

bool TTransferRunner::StartUploadFile(TTransferWorker* worker, TTransferItem item)
{
    for (;;) {
        struct stat info {};
        if (::stat(item.LocalPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            Fail(item.Id, "The local file is gone or not a file: " + item.LocalPath);
            return false;
        }
        const std::string dir = DirOf(item.RemotePath);
        if (!remoteNames_.count(dir)) {
            // The names already in the remote folder are needed for the
            // same-name question: read them first.
            queue_.SetState(item.Id, TTransferState::Active);
            busy_[worker] = item.Id;
            const TTransferId id = item.Id;
            worker->ListFolder(dir, false, [this, worker, id, dir](const TWorkerResult& r) {
                busy_.erase(worker);
                if (r.Ok || r.Permanent) {
                    auto& names = remoteNames_[dir];
                    for (const TFtpListEntry& e : r.Entries) {
                        if (e.Role == TFtpEntryRole::Child)
                            names[e.Name] = e.Size;
                    }
                    if (queue_.Find(id))
                        queue_.SetState(id, TTransferState::Queued);
                } else if (queue_.Find(id)) {
                    Transient(id, r.Error);
                }
                Pump();
            });
            return true;
        }
        const auto& names = remoteNames_[dir];
        const auto found = names.find(BaseOf(item.RemotePath));
        const bool exists = found != names.end();
        std::int64_t resumeAt = 0;
        if (exists && !item.TargetSettled) {
            const Verdict verdict = Settle(item, item.RemotePath, found->second);
            if (verdict == Verdict::Settled || !StillWanted(worker, item.Id))
                return false;
            if (verdict == Verdict::Renamed) {
                item = *queue_.Find(item.Id);
                continue;
            }
            if (verdict == Verdict::Resume)
                resumeAt = found->second;
        } else if (item.TargetSettled && (item.Attempts > 0 || item.BytesDone > 0)) {
            resumeAt = restRefused_ ? 0 : -1;
        }
        item.Size = std::int64_t(info.st_size);
        queue_.Update(item.Id, [&](TTransferItem& i) {
            i.TargetSettled = true;
            i.State = TTransferState::Active;
            i.Size = item.Size;
        });
        busy_[worker] = item.Id;
        const TTransferId id = item.Id;
        worker->OnProgress = [this, id](std::int64_t count) { queue_.SetProgress(id, count); };
        worker->Upload(item.LocalPath, item.RemotePath, resumeAt,
                       [this, worker, id](const TWorkerResult& r) { ItemResult(worker, id, r); });
        return true;
    }
}

bool TTransferRunner::StartDownloadFolder(TTransferWorker* worker, const TTransferItem& item)
{
    if (DepthBelow(item.RemoteRoot, item.RemotePath) > settings_.MaxDepth) {
        Skip(item.Id, "Folder nested too deeply: " + item.RemotePath);
        return false;
    }
    std::string path;
    std::string why;
    if (!SafeLocalChild(item.LocalRoot, DirOf(item.LocalPath), BaseOf(item.LocalPath), path, why)) {
        Fail(item.Id, "Refused to create " + item.LocalPath + ": " + why);
        return false;
    }
    // The folder exists before anything is written into it.
    if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
        Fail(item.Id, "Cannot create the folder " + path + ": " + std::strerror(errno));
        return false;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || !LocalFolderInside(item.LocalRoot, path)) {
        Fail(item.Id, "Something other than a folder is in the way: " + path);
        return false;
    }
    queue_.SetState(item.Id, TTransferState::Active);
    busy_[worker] = item.Id;
    const TTransferId id = item.Id;
    worker->ListFolder(item.RemotePath, false,
                       [this, worker, id](const TWorkerResult& r) { ItemResult(worker, id, r); });
    return true;
}

bool TTransferRunner::StartUploadFolder(TTransferWorker* worker, const TTransferItem& item)
{
    queue_.SetState(item.Id, TTransferState::Active);
    busy_[worker] = item.Id;
    const TTransferId id = item.Id;
    worker->ListFolder(item.RemotePath, true,
                       [this, worker, id](const TWorkerResult& r) { ItemResult(worker, id, r); });
    return true;
}

void TTransferRunner::MakeLink(const TTransferItem& item)
{
    std::string relative;
    if (!RemoteLinkInside(item.RemoteRoot, DirOf(item.RemotePath), item.LinkTarget, relative)) {
        Skip(item.Id, "The link points outside the folder being downloaded: " + item.LinkTarget);
        return;
    }
    std::string path;
    std::string why;
    if (!SafeLocalChild(item.LocalRoot, DirOf(item.LocalPath), BaseOf(item.LocalPath), path, why)) {
        Fail(item.Id, "Refused to create the link " + item.LocalPath + ": " + why);
        return;
    }
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) {
        Skip(item.Id, "The target exists: " + path);
        return;
    }
    if (::symlink(relative.c_str(), path.c_str()) != 0) {
        Fail(item.Id, "Cannot create the link " + path + ": " + std::strerror(errno));
        return;
    }
    queue_.SetState(item.Id, TTransferState::Done, "Link to " + relative);
}

// --- results ------------------------------------------------------------------------------

void TTransferRunner::ExpandRemoteFolder(TTransferId id, const std::vector<TFtpListEntry>& entries)
{
    const TTransferItem* found = queue_.Find(id);
    if (!found)
        return;
    const TTransferItem folder = *found;
    std::vector<TTransferItem> folders;
    for (const TFtpListEntry& e : entries) {
        if (e.Role != TFtpEntryRole::Child)
            continue;
        TTransferItem child;
        child.Batch = folder.Batch;
        child.Parent = id;
        child.Direction = TTransferDirection::Download;
        child.LocalRoot = folder.LocalRoot;
        child.RemoteRoot = folder.RemoteRoot;
        child.RemotePath = JoinRemotePath(folder.RemotePath, e.Name);
        child.LocalPath = folder.LocalPath;
        std::string why;
        std::string local;
        if (!IsSafeEntryName(e.Name, why) || !SafeLocalChild(folder.LocalRoot, folder.LocalPath, e.Name, local, why)) {
            child.State = TTransferState::Skipped;
            child.ErrorText = "Refused the remote name \"" + e.Name + "\": " + why;
            Log(child.ErrorText);
            queue_.AddItem(std::move(child));
            continue;
        }
        child.LocalPath = local;
        switch (e.Type) {
        case TFtpEntryType::Directory:
            child.Kind = TTransferKind::Folder;
            folders.push_back(std::move(child));
            continue;
        case TFtpEntryType::File:
            child.Kind = TTransferKind::File;
            child.Size = e.Size;
            break;
        case TFtpEntryType::Link: {
            child.Kind = TTransferKind::Link;
            child.LinkTarget = e.LinkTarget;
            std::string relative;
            if (!RemoteLinkInside(folder.RemoteRoot, folder.RemotePath, e.LinkTarget, relative)) {
                child.State = TTransferState::Skipped;
                child.ErrorText = e.LinkTarget.empty()
                                      ? "The link's target is not known; it is not followed"
                                      : "The link points outside the folder being downloaded: " + e.LinkTarget;
                Log(child.RemotePath + ": " + child.ErrorText);
            }
            break;
        }
        default:
            child.State = TTransferState::Skipped;
            child.ErrorText = "Not a file, folder or link";
            break;
        }
        queue_.AddItem(std::move(child));
    }
    // Files first, then the folders below: a folder's files start before
    // the next level is listed.
    for (TTransferItem& child : folders)
        queue_.AddItem(std::move(child));
}

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
            auto& names = remoteNames_[item.RemotePath];
            for (const TFtpListEntry& e : result.Entries) {
                if (e.Role == TFtpEntryRole::Child)
                    names[e.Name] = e.Size;
            }
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
            Transient(id, "The file arrived with " + std::to_string(have) + " of " + std::to_string(item.Size) +
                              " bytes");
            Pump();
            return;
        }
    }
    if (item.Direction == TTransferDirection::Upload)
        remoteNames_[DirOf(item.RemotePath)][BaseOf(item.RemotePath)] = item.Size;
    queue_.SetState(id, TTransferState::Done);
    Pump();
}
