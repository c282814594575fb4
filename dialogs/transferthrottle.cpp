#include "dialogs/transferthrottle.h"

#include <algorithm>
#include <chrono>

TRefreshThrottle::TRefreshThrottle(qint64 intervalMs, TClock clock)
    : interval_(std::max<qint64>(intervalMs, 0)), clock_(std::move(clock))
{
}

qint64 TRefreshThrottle::Now() const
{
    if (clock_)
        return clock_();
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool TRefreshThrottle::TryRefresh()
{
    if (Wait() > 0)
        return false;
    Refreshed();
    return true;
}

void TRefreshThrottle::Refreshed()
{
    refreshed_ = true;
    last_ = Now();
}

qint64 TRefreshThrottle::Wait() const
{
    if (!refreshed_)
        return 0;
    const qint64 elapsed = Now() - last_;
    // A clock that went backwards (a test clock, a broken one) must not
    // freeze the display: treat it as a full interval gone.
    if (elapsed < 0)
        return 0;
    return std::max<qint64>(interval_ - elapsed, 0);
}
