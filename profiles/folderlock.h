#pragma once

#include <string>

// Holds an exclusive advisory lock on a folder while it lives, so that two
// running instances do not interleave their read-change-write of a file in
// it (the later writer would silently drop the earlier one's change). The
// folder is created when missing. Locking is best effort: where the system
// cannot lock, the work goes ahead unlocked.
class TFolderLock {
public:
    explicit TFolderLock(const std::string& folder);
    ~TFolderLock();
    TFolderLock(const TFolderLock&) = delete;
    TFolderLock& operator=(const TFolderLock&) = delete;

    bool Locked() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};
