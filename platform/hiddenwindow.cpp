#include "platform/hiddenwindow.h"

#include "platform/application.h"

#include <QCoreApplication>
#include <QEvent>

#include <atomic>
#include <mutex>
#include <unordered_map>

namespace {

const QEvent::Type MessageEventType = QEvent::Type(QEvent::registerEventType());

class TMessageEvent final : public QEvent {
public:
    TMessageEvent(unsigned msg, WPARAM wParam, LPARAM lParam, std::function<void(TMessage&)> prelude)
        : QEvent(MessageEventType), prelude_(std::move(prelude))
    {
        message_.Msg = msg;
        message_.WParam = wParam;
        message_.LParam = lParam;
    }

    TMessage& Message() { return message_; }
    void RunPrelude()
    {
        if (prelude_)
            prelude_(message_);
    }

private:
    TMessage message_;
    std::function<void(TMessage&)> prelude_;
};

// The handle registry lets any thread find a live window by handle. A window
// leaves it (under the lock) before it dies, and Qt drops the events still
// queued for a destroyed object, so a post can never reach a dead window.
struct WindowRegistry {
    std::mutex lock;
    std::unordered_map<HWND, THiddenWindow*> windows;
    std::atomic<HWND> nextHandle{1};
};

WindowRegistry& Registry()
{
    // Never destroyed: lookup workers may still post while the program exits.
    static WindowRegistry* registry = new WindowRegistry;
    return *registry;
}

} // namespace

THiddenWindow::THiddenWindow(Handler handler) : handler_(std::move(handler))
{
    WindowRegistry& registry = Registry();
    handle_ = registry.nextHandle.fetch_add(1);
    std::lock_guard<std::mutex> guard(registry.lock);
    registry.windows.emplace(handle_, this);
}

THiddenWindow::~THiddenWindow()
{
    WindowRegistry& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.lock);
    registry.windows.erase(handle_);
}

void THiddenWindow::SetHandler(Handler handler) { handler_ = std::move(handler); }

LRESULT THiddenWindow::Send(unsigned msg, WPARAM wParam, LPARAM lParam)
{
    TMessage message;
    message.Msg = msg;
    message.WParam = wParam;
    message.LParam = lParam;
    if (handler_)
        handler_(message);
    return message.Result;
}

THiddenWindow* THiddenWindow::FromHandle(HWND handle)
{
    WindowRegistry& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.lock);
    const auto it = registry.windows.find(handle);
    return it == registry.windows.end() ? nullptr : it->second;
}

bool THiddenWindow::event(QEvent* e)
{
    if (e->type() != MessageEventType)
        return QObject::event(e);

    auto* messageEvent = static_cast<TMessageEvent*>(e);
    if (!handler_)
        return true; // detached: the owner is going away
    try {
        messageEvent->RunPrelude();
        // Copy the handler: it may destroy this window (a socket's Release).
        const Handler handler = handler_;
        handler(messageEvent->Message());
    } catch (const std::exception& ex) {
        // Exceptions must not unwind through Qt's event loop.
        Application::HandleException(ex);
    }
    return true;
}

bool PostMessageWithPrelude(HWND window, unsigned msg, WPARAM wParam, LPARAM lParam,
                            std::function<void(TMessage&)> prelude)
{
    WindowRegistry& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.lock);
    const auto it = registry.windows.find(window);
    if (it == registry.windows.end())
        return false;
    QCoreApplication::postEvent(it->second, new TMessageEvent(msg, wParam, lParam, std::move(prelude)));
    return true;
}

bool PostMessage(HWND window, unsigned msg, WPARAM wParam, LPARAM lParam)
{
    return PostMessageWithPrelude(window, msg, wParam, lParam, {});
}
