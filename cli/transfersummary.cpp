#include "cli/transfersummary.h"

#include "cli/progressbar.h"

#include <cstdio>

std::string TTransferSummary::Line() const
{
    if (Files == 0 && Bytes == 0 && Deleted > 0 && UpToDate == 0 && Skipped == 0) {
        char line[96];
        std::snprintf(line, sizeof(line), "%d deleted in %.1f s, %d failed", Deleted, Seconds, Failed);
        return line;
    }
    const double rate = Seconds > 0 ? double(Bytes) / Seconds : 0.0;
    char head[160];
    std::snprintf(head, sizeof(head), "%d file%s, %s (%lld bytes) in %.1f s (%s/s), %d failed", Files,
                  Files == 1 ? "" : "s", HumanSize(double(Bytes)).c_str(), static_cast<long long>(Bytes), Seconds,
                  HumanSize(rate).c_str(), Failed);
    std::string line = head;
    if (UpToDate > 0)
        line += ", " + std::to_string(UpToDate) + " up to date";
    if (Skipped > 0)
        line += ", " + std::to_string(Skipped) + " skipped";
    if (Deleted > 0)
        line += ", " + std::to_string(Deleted) + " deleted";
    return line;
}
