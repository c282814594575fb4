#pragma once

// The one line tarvik-ftp prints after moving several files: how many, how
// many bytes, how long, how fast, and what failed.

#include <cstdint>
#include <string>

struct TTransferSummary {
    int Files = 0;          // files moved completely
    std::int64_t Bytes = 0; // their sizes
    int Failed = 0;         // items that did not arrive (or were not removed)
    int UpToDate = 0;       // left alone: the destination was as new
    int Skipped = 0;        // left alone for another reason
    int Deleted = 0;        // removed from the destination (--delete)
    double Seconds = 0.0;

    // "12 files, 3.4 MiB (3565158 bytes) in 1.2 s (2.8 MiB/s), 0 failed"
    // plus the counts of what was left alone or removed when there is any.
    std::string Line() const;
};
