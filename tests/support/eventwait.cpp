#include "support/eventwait.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace testsupport {

bool WaitFor(const std::function<bool()>& done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return done();
        // A single-shot timer wakes the blocking wait at the deadline at the
        // latest; every event that arrives earlier wakes it too.
        QTimer wake;
        wake.setSingleShot(true);
        wake.start(int(std::max<qint64>(1, std::min<qint64>(deadline.remainingTime(), 50))));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents);
    }
    return true;
}

void RunFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace testsupport
