// Starting the items of a queue: the same-name question, the checks made
// right before anything is written, folders, links and the expansion of a
// remote folder's listing into items.

#include "transfers/transferrunner.h"

#include "transfers/transferpaths.h"
#include "transfers/transfertime.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int DepthBelow(const std::string& root, const std::string& path)
{
    if (path.size() <= root.size())
        return 0;
    return int(std::count(path.begin() + std::ptrdiff_t(root.size()), path.end(), '/'));
}

} // namespace

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
                                                 std::int64_t targetSize, const TTransferTime& targetTime)
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
        question.TargetTime = targetTime;
        question.SourceTime = item.Modified;
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
                i.LocalPath = JoinLocalPath(ParentPath(i.LocalPath), answer.NewName);
            else
                i.RemotePath = JoinRemotePath(ParentPath(i.RemotePath), answer.NewName);
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
        if (!SafeLocalChild(item.LocalRoot, ParentPath(item.LocalPath), LeafName(item.LocalPath), path, why)) {
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
            const Verdict verdict = Settle(item, path, std::int64_t(info.st_size),
                                           TTransferTime::Exact(std::int64_t(info.st_mtime)));
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
        const std::string dir = ParentPath(item.RemotePath);
        if (!remoteNames_.count(dir)) {
            // The names already in the remote folder are needed for the
            // same-name question: read them first.
            queue_.SetState(item.Id, TTransferState::Active);
            busy_[worker] = item.Id;
            const TTransferId id = item.Id;
            worker->ListFolder(dir, false, [this, worker, id, dir](const TWorkerResult& r) {
                busy_.erase(worker);
                if (r.Ok || r.Permanent) {
                    RememberRemoteNames(dir, r.Entries);
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
        const auto found = names.find(LeafName(item.RemotePath));
        const bool exists = found != names.end();
        std::int64_t resumeAt = 0;
        item.Modified = TTransferTime::Exact(std::int64_t(info.st_mtime));
        if (exists && !item.TargetSettled) {
            const Verdict verdict = Settle(item, item.RemotePath, found->second.Size, found->second.Modified);
            if (verdict == Verdict::Settled || !StillWanted(worker, item.Id))
                return false;
            if (verdict == Verdict::Renamed) {
                item = *queue_.Find(item.Id);
                continue;
            }
            if (verdict == Verdict::Resume)
                resumeAt = found->second.Size;
        } else if (item.TargetSettled && (item.Attempts > 0 || item.BytesDone > 0)) {
            resumeAt = restRefused_ ? 0 : -1;
        }
        item.Size = std::int64_t(info.st_size);
        queue_.Update(item.Id, [&](TTransferItem& i) {
            i.TargetSettled = true;
            i.State = TTransferState::Active;
            i.Size = item.Size;
            i.Modified = item.Modified;
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
    std::string path = item.LocalPath;
    std::string why;
    // The chosen folder itself (a folder downloaded into an existing one)
    // is where everything else is measured from; only what lies below it
    // is checked.
    if (item.LocalPath != item.LocalRoot &&
        !SafeLocalChild(item.LocalRoot, ParentPath(item.LocalPath), LeafName(item.LocalPath), path, why)) {
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
    if (!RemoteLinkInside(item.RemoteRoot, ParentPath(item.RemotePath), item.LinkTarget, relative)) {
        Skip(item.Id, "The link points outside the folder being downloaded: " + item.LinkTarget);
        return;
    }
    std::string path;
    std::string why;
    if (!SafeLocalChild(item.LocalRoot, ParentPath(item.LocalPath), LeafName(item.LocalPath), path, why)) {
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
            child.Modified = TransferTimeFromListing(e.Modified);
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
