#include "transfers/transfertime.h"

TTransferTime TransferTimeFromListing(const TFtpTime& time)
{
    if (!time.HasDate || time.Month < 1 || time.Month > 12)
        return {};
    TFtpTime start = time;
    std::int64_t span = 0;
    if (!time.TimeKnown) {
        start.Hour = 0;
        start.Minute = 0;
        start.Second = 0;
        span = 24 * 60 * 60 - 1;
    } else if (!time.SecondsKnown) {
        start.Second = 0;
        span = 59;
    }
    const std::int64_t earliest = FtpTimeToUnix(start);
    return {earliest, earliest + span};
}

bool TransferTimeAsNew(const TTransferTime& target, const TTransferTime& source)
{
    return target.Known() && source.Known() && target.Latest >= source.Earliest;
}
