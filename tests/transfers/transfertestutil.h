#pragma once

// Helpers for the queue tests: trees of files to move, a byte-for-byte
// comparison of two trees, and a runner run to its end on the event loop.

#include "transfers/transferqueue.h"
#include "transfers/transferrunner.h"
#include "support/testfiles.h"

#include <string>

namespace transfertest {

struct TreeShape {
    int Folders = 30;
    int Files = 300;
    // Sizes of the few large files; the others are 0 B to 24 KiB.
    std::int64_t Big = 5 * 1024 * 1024;
    std::int64_t Medium = 1536 * 1024;
};

// Builds `root` (created) with folders nested a few levels deep, names with
// spaces and UTF-8, empty files and the large ones.
void MakeTree(const std::string& root, const TreeShape& shape = {});
// A file of `size` pseudo-random bytes chosen by `seed`.
void MakeFile(const std::string& path, std::int64_t size, unsigned seed);

// Empty when both trees hold the same folders, links and bytes; otherwise
// the first difference.
std::string CompareTrees(const std::string& a, const std::string& b);

struct RunOutcome {
    bool Finished = false;
    bool Ok = false;
    std::string Log;
};

// Runs `queue` against `site` until the runner reports the end or
// `timeoutMs` passes.
RunOutcome RunToEnd(TTransferQueue& queue, const TTransferSite& site, const TTransferSettings& settings,
                    const TConflictHandler& conflict = {}, int timeoutMs = 60000);

// A description of every item that did not end Done, for failure messages.
std::string Unfinished(const TTransferQueue& queue);

// A fresh temporary folder, removed by the destructor.
using TempFolder = testsupport::TempDir;

} // namespace transfertest
