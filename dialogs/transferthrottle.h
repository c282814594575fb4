#pragma once

// Lets a display refresh through at most once per interval of a monotonic
// clock. A transfer reports progress for every block it moves (thousands of
// times a second on a fast link); drawing each of those would make the
// window, not the network, the bottleneck.

#include <QtGlobal>

#include <functional>

class TRefreshThrottle {
public:
    // Milliseconds from a monotonic clock. The default is std::chrono::steady_clock.
    using TClock = std::function<qint64()>;

    explicit TRefreshThrottle(qint64 intervalMs, TClock clock = {});

    // True when a refresh may happen now; a true answer counts as a refresh.
    bool TryRefresh();
    // Records a refresh made without asking (the final state is always drawn).
    void Refreshed();
    // Milliseconds until the next refresh may happen; 0 when it may now.
    qint64 Wait() const;
    qint64 Interval() const { return interval_; }

private:
    qint64 Now() const;

    qint64 interval_;
    TClock clock_;
    bool refreshed_ = false;
    qint64 last_ = 0;
};
