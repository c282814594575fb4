// Closing, aborting and the waits for the queue to drain or the peer to go.

#include "net/customwsocket.h"

// --- Closing --------------------------------------------------------------

void TCustomWSocket::InternalClose(bool bShut, std::uint16_t Error)
{
    if (FSocketHandle == INVALID_SOCKET) {
        if (FState != wsClosed) {
            const TAliveToken alive = FAlive;
            ChangeState(wsClosed);
            if (!*alive)
                return;
            AssignDefaultValue();
        }
        return;
    }
    if (FState == wsClosed)
        return;

    if (bShut)
        WSocket_shutdown(FSocketHandle, 1);
    // Lingering does not suit this platform: with a zero time-out the close
    // resets the connection and throws away what the system has not yet
    // delivered (a graceful close must not lose data already sent), and with
    // a time-out the close blocks the thread, socket non-blocking or not.
    // The system finishes the delivery in the background instead.
    if (FLingerOnOff == wsLingerOn && FSocketType == SOCK_STREAM && (bShut || FLingerTimeout > 0)) {
        linger li{};
        WSocket_setsockopt(FSocketHandle, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&li), sizeof li);
    }

    const TAliveToken alive = FAlive;
    for (int attempt = 0;; ++attempt) {
        if (WSocket_closesocket(FSocketHandle) == 0)
            break;
        const int err = WSocket_WSAGetLastError();
        if (err == WSANOTINITIALISED)
            break;
        if (err == WSAEWOULDBLOCK && attempt < 100) {
            MessagePump();
            if (!*alive)
                return;
            WaitForEvents(10);
            if (!*alive)
                return;
            continue;
        }
        FLastError = err;
        SocketError("Disconnect (closesocket)");
        return;
    }
    FSocketHandle = INVALID_SOCKET;
    ChangeState(wsClosed);
    if (!*alive)
        return;
    if (!FDestroying && !FSessionClosedFired) {
        FSessionClosedFired = true;
        TriggerSessionClosed(Error);
        if (!*alive)
            return;
    }
    try {
        AssignDefaultValue();
    } catch (...) {
    }
}

void TCustomWSocket::Close() { InternalClose(true, 0); }

void TCustomWSocket::Abort()
{
    const TAliveToken alive = FAlive;
    CancelDnsLookup();
    if (!*alive)
        return;
    DeleteBufferedData();
    if (FState == wsConnected && FProtocol == IPPROTO_TCP) {
        FLingerOnOff = wsLingerOff;
        SetLingerOption();
    }
    InternalClose(false, 0);
}

void TCustomWSocket::Flush()
{
    const TAliveToken alive = FAlive;
    while (FSocketHandle != INVALID_SOCKET && !FSendQueueEmpty) {
        TryToSend();
        if (!*alive || FSendQueueEmpty || FSocketHandle == INVALID_SOCKET)
            return;
        // The next FD_WRITE (or any other event) ends the wait.
        WaitForEvents(1000);
        if (!*alive || FTerminated)
            return;
    }
}

void TCustomWSocket::WaitForClose()
{
    const TAliveToken alive = FAlive;
    while (FSocketHandle != INVALID_SOCKET && FState != wsClosed) {
        WaitForEvents(1000);
        if (!*alive || FTerminated)
            return;
        if (FSocketHandle == INVALID_SOCKET || FState == wsClosed)
            return;
        std::uint32_t pending = 0;
        if (WSocket_ioctlsocket(FSocketHandle, FIONREAD, &pending) == SOCKET_ERROR)
            return;
        if (pending > 0) {
            TriggerDataAvailable(0);
            if (!*alive)
                return;
            if (FSocketHandle == INVALID_SOCKET)
                return;
        }
        // A zero-length read tells nothing on this platform; peeking one
        // byte tells data (go on), end of stream (the close notification is
        // on its way) and errors apart.
        char probe = 0;
        const int got = WSocket_recv(FSocketHandle, &probe, 1, MSG_PEEK);
        if (got < 0) {
            const int err = WSocket_WSAGetLastError();
            if (err != WSAEWOULDBLOCK) {
                FLastError = err;
                return;
            }
        } else if (got == 0) {
            MessagePump();
            if (!*alive)
                return;
            if (FSocketHandle != INVALID_SOCKET && FState != wsClosed && !FPaused)
                continue;
            return;
        }
        MessagePump();
        if (!*alive)
            return;
    }
}
