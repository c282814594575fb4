#include "platform/application.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <cstdio>

namespace {
std::atomic<bool> terminated{false};
Application::ExceptionHook& Hook()
{
    static Application::ExceptionHook hook;
    return hook;
}
} // namespace

void Application::ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void Application::WaitForMessage(int maxWaitMs)
{
    if (maxWaitMs <= 0) {
        ProcessMessages();
        return;
    }
    // The timer only exists to end the blocking wait at the deadline; any
    // other event (socket readiness, a posted message) ends it sooner.
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(maxWaitMs);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

bool Application::Terminated() { return terminated.load() || QCoreApplication::closingDown(); }

void Application::Terminate()
{
    terminated.store(true);
    QCoreApplication::quit();
}

void Application::SetExceptionHook(ExceptionHook hook) { Hook() = std::move(hook); }

void Application::HandleException(const std::exception& e)
{
    if (Hook()) {
        try {
            Hook()(e);
            return;
        } catch (const std::exception& inner) {
            std::fprintf(stderr, "tarvik: exception in the exception handler: %s\n", inner.what());
        }
    }
    std::fprintf(stderr, "tarvik: %s\n", e.what());
}
