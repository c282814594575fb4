#pragma once

// Hidden windows and posted messages.
//
// Every component that is driven by notifications (socket objects, the FTP
// and HTTP clients, the ping engine) owns one THiddenWindow. Messages posted
// to it are queued as events on the Qt event loop of the thread that created
// the window and are handed to its handler one at a time, in posting order.
// A message posted to a window that no longer exists is dropped, so a late
// notification can never reach a destroyed object.

#include <QObject>

#include <cstdint>
#include <functional>

using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

// A window handle is a process-wide number that is never reused; 0 is "no
// window". Handles may be passed between threads, window pointers may not.
using HWND = std::uint64_t;

constexpr unsigned WM_QUIT = 18;
constexpr unsigned WM_USER = 0x0400;

struct TMessage {
    unsigned Msg = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
    LRESULT Result = 0;
};

constexpr std::uint16_t LoWord(LPARAM v) { return std::uint16_t(std::uintptr_t(v) & 0xFFFF); }
constexpr std::uint16_t HiWord(LPARAM v) { return std::uint16_t((std::uintptr_t(v) >> 16) & 0xFFFF); }
constexpr LPARAM MakeLong(std::uint16_t lo, std::uint16_t hi) { return LPARAM((std::uint32_t(hi) << 16) | lo); }

class THiddenWindow : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(TMessage&)>;

    // The handler is called on the window's thread for every message.
    explicit THiddenWindow(Handler handler = {});
    ~THiddenWindow() override;

    THiddenWindow(const THiddenWindow&) = delete;
    THiddenWindow& operator=(const THiddenWindow&) = delete;

    HWND Handle() const { return handle_; }

    // Replaces the handler; an empty handler detaches the window from its
    // owner (messages that arrive afterwards are dropped).
    void SetHandler(Handler handler);

    // Delivers a message synchronously, like SendMessage. Returns its Result.
    LRESULT Send(unsigned msg, WPARAM wParam, LPARAM lParam);

    // Looks up a live window by handle. Only valid on the window's thread.
    static THiddenWindow* FromHandle(HWND handle);

protected:
    bool event(QEvent* e) override;

private:
    HWND handle_ = 0;
    Handler handler_;
};

// Queues a message for a window; callable from any thread. Returns false when
// the window does not exist (the message is dropped).
bool PostMessage(HWND window, unsigned msg, WPARAM wParam, LPARAM lParam);

// As PostMessage, but `prelude` runs on the window's thread just before the
// message is handed to the handler (and not at all when the window is gone);
// it may still change the message.
// The asynchronous lookups use it to copy their answer into the requester's
// buffer at the last moment, so a cancelled request never writes there.
bool PostMessageWithPrelude(HWND window, unsigned msg, WPARAM wParam, LPARAM lParam,
                            std::function<void(TMessage&)> prelude);
