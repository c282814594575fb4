#include "transfers/transferqueue.h"

#include "transfers/transferpaths.h"

#include <algorithm>
#include <dirent.h>
#include <memory>
#include <set>
#include <sys/stat.h>

namespace {

std::int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr std::int64_t RateWindowMs = 5000;

std::string BaseName(const std::string& path)
{
    std::string p = path;
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    const std::size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string DirName(const std::string& path)
{
    std::string p = path;
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    const std::size_t slash = p.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : p.substr(0, slash);
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

void SetWhy(std::string* why, const std::string& text)
{
    if (why)
        *why = text;
}

} // namespace

const char* TransferStateName(TTransferState state)
{
    switch (state) {
    case TTransferState::Queued:
        return "queued";
    case TTransferState::Active:
        return "active";
    case TTransferState::Done:
        return "done";
    case TTransferState::Failed:
        return "failed";
    case TTransferState::Skipped:
        return "skipped";
    }
    return "queued";
}

bool TransferStateFromName(const std::string& name, TTransferState& state)
{
    for (const TTransferState s : {TTransferState::Queued, TTransferState::Active, TTransferState::Done,
                                   TTransferState::Failed, TTransferState::Skipped}) {
        if (name == TransferStateName(s)) {
            state = s;
            return true;
        }
    }
    return false;
}

TTransferId TTransferQueue::AddDownload(const std::string& remotePath, TTransferKind kind, std::int64_t size,
                                        const std::string& localFolder, std::string* why)
{
    std::string normal;
    if (remotePath.empty() || remotePath[0] != '/' || !NormalizeRemotePath(remotePath, normal) || normal == "/") {
        SetWhy(why, "the remote path " + remotePath + " is not an absolute path to a file or folder");
        return 0;
    }
    std::string reason;
    std::string local;
    if (!SafeLocalChild(localFolder, localFolder, BaseName(normal), local, reason)) {
        SetWhy(why, "Refused to download " + remotePath + ": " + reason);
        return 0;
    }
    TTransferItem item;
    item.Batch = nextBatch_++;
    item.Kind = kind;
    item.Direction = TTransferDirection::Download;
    item.RemotePath = normal;
    item.LocalPath = local;
    item.LocalRoot = localFolder;
    item.RemoteRoot = kind == TTransferKind::Folder ? normal : DirName(normal);
    item.Size = kind == TTransferKind::File ? size : -1;
    return AddItem(std::move(item));
}

TTransferId TTransferQueue::AddUpload(const std::string& localPath, const std::string& remoteFolder, int maxDepth,
                                      std::string* why)
{
    std::string remoteNormal;
    if (remoteFolder.empty() || remoteFolder[0] != '/' || !NormalizeRemotePath(remoteFolder, remoteNormal)) {
        SetWhy(why, "the remote folder " + remoteFolder + " is not an absolute path");
        return 0;
    }
    struct stat info {};
    if (::stat(localPath.c_str(), &info) != 0) {
        SetWhy(why, "the local file " + localPath + " does not exist");
        return 0;
    }
    const std::string name = BaseName(localPath);
    std::string reason;
    if (!IsSafeEntryName(name, reason)) {
        SetWhy(why, "Refused to upload " + localPath + ": " + reason);
        return 0;
    }
    TTransferItem item;
    item.Batch = nextBatch_++;
    item.Direction = TTransferDirection::Upload;
    item.LocalPath = localPath;
    item.RemotePath = JoinRemotePath(remoteNormal, name);
    item.LocalRoot = S_ISDIR(info.st_mode) ? localPath : DirName(localPath);
    item.RemoteRoot = remoteNormal;
    if (!S_ISDIR(info.st_mode)) {
        if (!S_ISREG(info.st_mode)) {
            SetWhy(why, localPath + " is not a regular file or a folder");
            return 0;
        }
        item.Kind = TTransferKind::File;
        item.Size = info.st_size;
        return AddItem(std::move(item));
    }
    item.Kind = TTransferKind::Folder;
    TTransferItem proto = item;
    const TTransferId first = AddItem(std::move(item));
    if (!AddLocalTree(localPath, proto.RemotePath, proto, first, 1, maxDepth, why))
        return first;
    return first;
}

bool TTransferQueue::MirrorFolder(TTransferDirection direction, const std::string& remoteFolder,
                                  const std::string& localFolder, TTransferItem& item, std::string* why)
{
    std::string normal;
    if (remoteFolder.empty() || remoteFolder[0] != '/' || !NormalizeRemotePath(remoteFolder, normal)) {
        SetWhy(why, "the remote folder " + remoteFolder + " is not an absolute path");
        return false;
    }
    struct stat info {};
    if (::stat(localFolder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        SetWhy(why, "the local folder " + localFolder + " does not exist");
        return false;
    }
    item = {};
    item.Batch = nextBatch_++;
    item.Kind = TTransferKind::Folder;
    item.Direction = direction;
    item.RemotePath = normal;
    item.LocalPath = localFolder;
    item.LocalRoot = localFolder;
    item.RemoteRoot = normal;
    return true;
}

TTransferId TTransferQueue::AddDownloadInto(const std::string& remoteFolder, const std::string& localFolder,
                                            std::string* why)
{
    TTransferItem item;
    if (!MirrorFolder(TTransferDirection::Download, remoteFolder, localFolder, item, why))
        return 0;
    return AddItem(std::move(item));
}

TTransferId TTransferQueue::AddUploadInto(const std::string& localFolder, const std::string& remoteFolder, int maxDepth,
                                          std::string* why)
{
    TTransferItem item;
    if (!MirrorFolder(TTransferDirection::Upload, remoteFolder, localFolder, item, why))
        return 0;
    const TTransferItem proto = item;
    const TTransferId first = AddItem(std::move(item));
    AddLocalTree(localFolder, proto.RemotePath, proto, first, 1, maxDepth, why);
    return first;
}

bool TTransferQueue::AddLocalTree(const std::string& localDir, const std::string& remoteDir, const TTransferItem& proto,
                                  TTransferId parent, int depth, int maxDepth, std::string* why)
{
    std::unique_ptr<DIR, DirCloser> dir(::opendir(localDir.c_str()));
    if (!dir) {
        SetWhy(why, "cannot read the folder " + localDir);
        return false;
    }
    // Sorted, so a queue shows and runs in a predictable order.
    std::set<std::string> names;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.insert(name);
    }
    std::vector<std::pair<std::string, std::string>> folders;
    for (const std::string& name : names) {
        const std::string local = JoinLocalPath(localDir, name);
        const std::string remote = JoinRemotePath(remoteDir, name);
        TTransferItem item = proto;
        item.Parent = parent;
        item.LocalPath = local;
        item.RemotePath = remote;
        item.Size = -1;
        struct stat info {};
        if (::lstat(local.c_str(), &info) != 0)
            continue;
        if (S_ISDIR(info.st_mode)) {
            folders.emplace_back(local, remote);
            continue;
        }
        bool isFile = S_ISREG(info.st_mode);
        if (S_ISLNK(info.st_mode)) {
            // A link to a file sends the file; a link to a folder is not
            // followed (it could lead back up the tree forever).
            struct stat target {};
            isFile = ::stat(local.c_str(), &target) == 0 && S_ISREG(target.st_mode);
            info = target;
            if (!isFile) {
                item.Kind = TTransferKind::Link;
                item.State = TTransferState::Skipped;
                item.ErrorText = "A link to a folder or to nothing is not followed";
                AddItem(std::move(item));
                continue;
            }
        }
        if (!isFile)
            continue;
        item.Kind = TTransferKind::File;
        item.Size = info.st_size;
        AddItem(std::move(item));
    }
    for (const auto& [local, remote] : folders) {
        TTransferItem item = proto;
        item.Parent = parent;
        item.Kind = TTransferKind::Folder;
        item.LocalPath = local;
        item.RemotePath = remote;
        if (depth >= maxDepth) {
            item.State = TTransferState::Skipped;
            item.ErrorText = "Folder nested too deeply";
            AddItem(std::move(item));
            continue;
        }
        const TTransferId id = AddItem(std::move(item));
        AddLocalTree(local, remote, proto, id, depth + 1, maxDepth, why);
    }
    return true;
}

TTransferId TTransferQueue::AddItem(TTransferItem item)
{
    item.Id = nextId_++;
    if (item.Batch == 0)
        item.Batch = nextBatch_++;
    items_.push_back(std::move(item));
    if (!indexStale_)
        index_[items_.back().Id] = items_.size() - 1;
    if (OnItemAdded)
        OnItemAdded(items_.back());
    return items_.back().Id;
}

const TTransferItem* TTransferQueue::Find(TTransferId id) const
{
    // The scheduler looks items up for every step of every transfer.
    if (indexStale_) {
        index_.clear();
        for (std::size_t i = 0; i < items_.size(); ++i)
            index_[items_[i].Id] = i;
        indexStale_ = false;
    }
    const auto found = index_.find(id);
    return found == index_.end() ? nullptr : &items_[found->second];
}

TTransferItem* TTransferQueue::FindMutable(TTransferId id) { return const_cast<TTransferItem*>(Find(id)); }

std::size_t TTransferQueue::FirstUnfinished() const
{
    while (finishedPrefix_ < items_.size() && items_[finishedPrefix_].Finished())
        ++finishedPrefix_;
    return finishedPrefix_;
}

void TTransferQueue::Reordered()
{
    indexStale_ = true;
    finishedPrefix_ = 0;
}

void TTransferQueue::Reopened(const TTransferItem& item)
{
    if (item.Finished())
        return;
    // Find() has just brought the index up to date for this item.
    const auto found = index_.find(item.Id);
    const std::size_t at = found == index_.end() || indexStale_ ? 0 : found->second;
    finishedPrefix_ = std::min(finishedPrefix_, at);
}

void TTransferQueue::Notify(const TTransferItem& item)
{
    if (OnItemChanged)
        OnItemChanged(item);
}

TTransferTotals TTransferQueue::Totals() const
{
    TTransferTotals t;
    for (const TTransferItem& item : items_) {
        ++t.Items;
        switch (item.State) {
        case TTransferState::Queued:
            ++t.Queued;
            break;
        case TTransferState::Active:
            ++t.Active;
            break;
        case TTransferState::Done:
            ++t.Done;
            break;
        case TTransferState::Failed:
            ++t.Failed;
            break;
        case TTransferState::Skipped:
            ++t.Skipped;
            break;
        }
        if (item.Kind == TTransferKind::File && item.Size >= 0) {
            t.Bytes += item.Size;
            t.BytesDone += item.State == TTransferState::Done ? item.Size : std::min(item.BytesDone, item.Size);
        }
    }
    return t;
}

bool TTransferQueue::HasUnfinished() const
{
    return std::any_of(items_.begin(), items_.end(), [](const TTransferItem& i) { return !i.Finished(); });
}

double TTransferQueue::Rate() const
{
    if (samples_.size() < 2)
        return 0.0;
    const auto& [firstMs, firstBytes] = samples_.front();
    const std::int64_t now = NowMs();
    const std::int64_t span = std::max<std::int64_t>(now - firstMs, 1);
    if (now - samples_.back().first > RateWindowMs)
        return 0.0;
    return double(moved_ - firstBytes) * 1000.0 / double(span);
}

bool TTransferQueue::Update(TTransferId id, const std::function<void(TTransferItem&)>& change)
{
    TTransferItem* item = FindMutable(id);
    if (!item)
        return false;
    change(*item);
    Reopened(*item);
    Notify(*item);
    return true;
}

void TTransferQueue::SetState(TTransferId id, TTransferState state, const std::string& text)
{
    Update(id, [&](TTransferItem& item) {
        item.State = state;
        item.ErrorText = text;
        if (state == TTransferState::Done && item.Kind == TTransferKind::File && item.Size >= 0)
            item.BytesDone = item.Size;
    });
}

void TTransferQueue::SetProgress(TTransferId id, std::int64_t bytesDone)
{
    TTransferItem* item = FindMutable(id);
    if (!item)
        return;
    if (bytesDone > item->BytesDone)
        moved_ += bytesDone - item->BytesDone;
    item->BytesDone = bytesDone;
    const std::int64_t now = NowMs();
    samples_.emplace_back(now, moved_);
    while (samples_.size() > 2 && now - samples_.front().first > RateWindowMs)
        samples_.pop_front();
    Notify(*item);
}

bool TTransferQueue::MoveToTop(TTransferId id)
{
    const auto it = std::find_if(items_.begin(), items_.end(), [id](const TTransferItem& i) { return i.Id == id; });
    if (it == items_.end())
        return false;
    TTransferItem item = std::move(*it);
    items_.erase(it);
    items_.push_front(std::move(item));
    Reordered();
    if (OnReset)
        OnReset();
    return true;
}

bool TTransferQueue::Remove(TTransferId id)
{
    const TTransferItem* item = Find(id);
    if (!item || item->State == TTransferState::Active)
        return false;
    // The item and everything below it; an active descendant keeps its
    // branch (the runner stops it first).
    std::set<TTransferId> doomed{id};
    for (bool grew = true; grew;) {
        grew = false;
        for (const TTransferItem& i : items_) {
            if (!doomed.count(i.Id) && doomed.count(i.Parent) && i.State != TTransferState::Active) {
                doomed.insert(i.Id);
                grew = true;
            }
        }
    }
    for (auto it = items_.begin(); it != items_.end();) {
        if (!doomed.count(it->Id)) {
            ++it;
            continue;
        }
        const TTransferId gone = it->Id;
        it = items_.erase(it);
        Reordered();
        if (OnItemRemoved)
            OnItemRemoved(gone);
    }
    return true;
}

bool TTransferQueue::Retry(TTransferId id)
{
    TTransferItem* item = FindMutable(id);
    if (!item || (item->State != TTransferState::Failed && item->State != TTransferState::Skipped))
        return false;
    item->State = TTransferState::Queued;
    item->Attempts = 0;
    item->ErrorText.clear();
    Reopened(*item);
    Notify(*item);
    return true;
}

void TTransferQueue::RemoveFinished(TTransferState state)
{
    for (auto it = items_.begin(); it != items_.end();) {
        if (it->State != state || !it->Finished()) {
            ++it;
            continue;
        }
        const TTransferId gone = it->Id;
        it = items_.erase(it);
        Reordered();
        if (OnItemRemoved)
            OnItemRemoved(gone);
    }
}

void TTransferQueue::Clear()
{
    items_.clear();
    Reordered();
    samples_.clear();
    if (OnReset)
        OnReset();
}
