#pragma once

// A one-line progress bar with the transfer rate, redrawn in place on a
// terminal.

#include <cstdint>
#include <cstdio>
#include <string>

// "3.4 MiB" style.
std::string HumanSize(double bytes);

class TProgressBar {
public:
    TProgressBar(std::FILE* out, std::int64_t total, std::int64_t start);
    // Redraws at most ten times a second, and always when `force` is set.
    void Update(std::int64_t position, bool force = false);
    // The total may grow while the work runs (a tree being listed).
    void SetTotal(std::int64_t total) { total_ = total; }
    // Draws the final state and ends the line.
    void Finish(std::int64_t position);

private:
    std::FILE* out_;
    std::int64_t total_;
    std::int64_t start_;
    std::int64_t startMs_;
    std::int64_t lastDrawMs_ = -1;
    bool drawn_ = false;
};
