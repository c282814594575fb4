#include "net/customsyncwsocket.h"

#include "platform/application.h"
#include "platform/tickcount.h"

#include <algorithm>

int TCustomSyncWSocket::Synchronize(const std::function<void()>& Proc, bool& Done)
{
    Done = false;
    if (Proc)
        Proc();
    return WaitUntilReady(Done);
}

int TCustomSyncWSocket::WaitUntilReady(bool& Done)
{
    const TAliveToken alive = AliveToken();
    const std::int64_t expiry = GetTickCount64() + FSyncTimeout;
    while (!Done) {
        int wait = 1000;
        if (FSyncTimeout > 0) {
            const std::int64_t remaining = expiry - GetTickCount64();
            if (remaining <= 0)
                return WSocketSyncTimeout;
            wait = int(std::min<std::int64_t>(remaining, 1000));
        }
        if (Application::Terminated() || FTerminated)
            return WSocketSyncTimeout;
        // Blocks until something happens or the deadline; never spins.
        WaitForEvents(wait);
        // Done may live in this object: look only while it exists.
        if (!*alive)
            return WSocketSyncTimeout;
    }
    return 0;
}

void TCustomSyncWSocket::LineCatcher(TCustomWSocket*, std::uint16_t)
{
    // One line per ReadLine: a second line in the same read stays held for
    // the next reader instead of overwriting the first.
    if (FSyncTarget == nullptr || FSyncCaught)
        return;
    std::string& target = *FSyncTarget;
    target.assign(std::size_t(FLineLength), '\0');
    const int got = Receive(target.data(), int(target.size()));
    target.resize(got > 0 ? std::size_t(got) : 0);
    FSyncCaught = true;
    FLineReceived = true;
}

void TCustomSyncWSocket::ReadLine(int Timeout, std::string& Buffer)
{
    Buffer.clear();
    if (FState != wsConnected) {
        RaiseException("ReadLine failed: not connected");
        return;
    }
    if (Timeout == 0)
        FSyncTimeout = 60000;
    else if (Timeout > 0)
        FSyncTimeout = Timeout * 1000;
    else
        FSyncTimeout = -Timeout;

    const TAliveToken alive = AliveToken();
    FLineReceived = false;
    FSyncCaught = false;
    FSyncTarget = &Buffer;
    TDataAvailable savedHandler = std::move(OnDataAvailable);
    const bool savedLineMode = FLineMode;
    OnDataAvailable = [this](TCustomWSocket* Sender, std::uint16_t Error) { LineCatcher(Sender, Error); };
    FLineMode = true;

    auto restore = [&] {
        OnDataAvailable = std::move(savedHandler);
        FLineMode = savedLineMode;
        FSyncTarget = nullptr;
        // Lines that arrived after ours go to the restored handler.
        if (FLineBufferCount > 0)
            PostMessage(MessageWindow(), WM_TRIGGER_DATAAVAILABLE, 0, 0);
    };

    int rc = 0;
    try {
        // A line may already be held from earlier reads.
        if (FLineBufferCount > 0 && !FLineEnd.empty())
            DeliverHeld();
        if (!*alive)
            return;
        rc = FSyncCaught ? 0 : Synchronize({}, FLineReceived);
    } catch (...) {
        if (*alive)
            restore();
        throw;
    }
    if (!*alive)
        return;
    if (rc == WSocketSyncTimeout && FLineBufferCount > 0) {
        Buffer.assign(FLineBuffer.data(), std::size_t(FLineBufferCount));
        FLineBufferCount = 0;
        FLineLength = 0;
        FLineBuffer[0] = '\0';
    }
    restore();
}
