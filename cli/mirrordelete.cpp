#include "cli/mirrordelete.h"

#include "cli/remotesession.h"
#include "cli/visibletext.h"
#include "transfers/transferpaths.h"
#include "transfers/transferrunner.h"

#include <cstdio>
#include <dirent.h>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// Folder item id -> the names its source holds (every item it produced,
// whatever became of it: a file that failed still exists at the source).
std::map<TTransferId, std::set<std::string>> SourceNames(const TTransferQueue& queue, TTransferDirection direction)
{
    std::map<TTransferId, std::set<std::string>> names;
    for (const TTransferItem& item : queue.Items()) {
        if (item.Direction == direction && item.Kind == TTransferKind::Folder && item.State == TTransferState::Done)
            names[item.Id];
    }
    for (const TTransferItem& item : queue.Items()) {
        const auto folder = names.find(item.Parent);
        if (folder == names.end())
            continue;
        folder->second.insert(LeafName(direction == TTransferDirection::Download ? item.RemotePath : item.LocalPath));
    }
    return names;
}

void Note(bool verbose, const std::string& text)
{
    if (verbose)
        std::fprintf(stderr, "%s\n", VisibleText(text).c_str());
}

} // namespace

void DeleteSurplusLocal(const TTransferQueue& queue, int& deleted, std::vector<std::string>& failures, bool verbose)
{
    namespace fs = std::filesystem;
    for (const auto& [id, source] : SourceNames(queue, TTransferDirection::Download)) {
        const TTransferItem* folder = queue.Find(id);
        // The folder must still be the one inside the tree it was.
        if (!folder || !LocalFolderInside(folder->LocalRoot, folder->LocalPath))
            continue;
        std::unique_ptr<DIR, DirCloser> dir(::opendir(folder->LocalPath.c_str()));
        if (!dir) {
            failures.push_back(folder->LocalPath + ": cannot read the folder");
            continue;
        }
        std::vector<std::string> surplus;
        while (const dirent* entry = ::readdir(dir.get())) {
            const std::string name = entry->d_name;
            if (name != "." && name != ".." && !source.count(name))
                surplus.push_back(name);
        }
        for (const std::string& name : surplus) {
            const std::string path = JoinLocalPath(folder->LocalPath, name);
            std::error_code ec;
            // remove_all removes a link itself and never descends through one.
            const auto count = fs::remove_all(path, ec);
            if (ec) {
                failures.push_back(path + ": " + ec.message());
                continue;
            }
            Note(verbose, "! Removed " + path);
            deleted += int(count > 0 ? 1 : 0);
        }
    }
}

void DeleteSurplusRemote(const TTransferQueue& queue, const TTransferRunner& runner, TRemoteSession& session,
                         int& deleted, std::vector<std::string>& failures, bool verbose)
{
    for (const auto& [id, source] : SourceNames(queue, TTransferDirection::Upload)) {
        const TTransferItem* folder = queue.Find(id);
        if (!folder)
            continue;
        const TRemoteNames* names = runner.RemoteFolder(folder->RemotePath);
        if (!names)
            continue;
        for (const auto& [name, entry] : *names) {
            std::string why;
            if (source.count(name) || !IsSafeEntryName(name, why))
                continue;
            const std::string path = JoinRemotePath(folder->RemotePath, name);
            int removed = 0;
            session.Remove(path, entry.Type == TFtpEntryType::Directory, removed, failures);
            if (removed > 0) {
                Note(verbose, "! Removed " + path);
                ++deleted;
            }
        }
    }
}
