// The send queue: data is copied into blocks and pushed to the socket as far
// as it takes it; the rest goes out on later write notifications.

#include "net/customwsocket.h"

#include <algorithm>
#include <vector>

namespace {

// A single queued write at least this large gets blocks sized for bulk
// transfer, so a large send costs a few system calls instead of one per
// 1514 bytes. Small writes keep the standard block size.
constexpr std::int32_t BulkSendThreshold = 32 * 1024;
constexpr std::int32_t BulkBlockSize = 256 * 1024;

} // namespace

// --- Sending ------------------------------------------------------------------

void TCustomWSocket::DeleteBufferedData() { FSendQueue.clear(); }

void TCustomWSocket::PutDataInSendBuffer(const void* Data, int Len)
{
    if (Len < 1)
        return;
    const char* p = static_cast<const char*>(Data);
    auto newBlockSize = [this](int remaining) {
        return remaining >= BulkSendThreshold ? std::min(remaining, BulkBlockSize) : FSendBlockSize;
    };
    if (FSocketType == SOCK_DGRAM) {
        // Each write is one datagram: a block of its own, never split.
        FSendQueue.push_back(std::make_unique<TBuffer>(Len));
        FSendQueue.back()->Write(p, Len);
        return;
    }
    if (FSendQueue.empty())
        FSendQueue.push_back(std::make_unique<TBuffer>(newBlockSize(Len)));
    while (Len > 0) {
        TBuffer& last = *FSendQueue.back();
        const int n = last.Write(p, Len);
        p += n;
        Len -= n;
        if (Len > 0)
            FSendQueue.push_back(std::make_unique<TBuffer>(newBlockSize(Len)));
    }
}

void TCustomWSocket::PutStringInSendBuffer(const std::string& Str) { PutDataInSendBuffer(Str.data(), int(Str.size())); }

int TCustomWSocket::Send(const void* Data, int Len)
{
    if (FState != wsConnected) {
        WSocket_WSASetLastError(WSAENOTCONN);
        SocketError("Send");
        return -1;
    }
    FSendQueueEmpty = false;
    const TAliveToken alive = FAlive;
    int offset = 0;
    const bool queueDrained = FSendQueue.empty() || (FSendQueue.size() == 1 && FSendQueue.front()->DataCount() == 0);
    if (Len >= BulkSendThreshold && FSocketType == SOCK_STREAM && !FInTryToSend && queueDrained) {
        offset = SendDirect(Data, Len);
        if (offset < 0 || !*alive)
            return Len;
    }
    if (Len - offset > 0)
        PutDataInSendBuffer(static_cast<const char*>(Data) + offset, Len - offset);
    TryToSend();
    if (!*alive)
        return Len > 0 ? Len : 0;
    // The drained queue is announced from the message loop, never from
    // inside Send.
    if (FSendQueueEmpty && FSocketHandle != INVALID_SOCKET)
        PostMessage(MessageWindow(), WM_ASYNCSELECT, WPARAM(FSocketHandle), MakeLong(FD_WRITE, 0));
    return Len > 0 ? Len : 0;
}

int TCustomWSocket::SendStr(const std::string& Str) { return Send(Str.data(), int(Str.size())); }

int TCustomWSocket::RealSend(const void* Data, int Len)
{
    int result;
    if (FSocketType == SOCK_DGRAM)
        result = WSocket_sendto(FSocketHandle, Data, Len, FSendFlags, RemoteSockAddr(), RemoteSockAddrLen());
    else
        result = WSocket_send(FSocketHandle, Data, Len, FSendFlags);
    if (result > 0 && OnSendData) {
        const TSendData handler = OnSendData;
        handler(this, result);
    }
    return result;
}

int TCustomWSocket::SendDirect(const void* Data, int Len)
{
    // Bulk data meeting an empty queue goes to the socket straight from the
    // caller's buffer; only what the socket does not take is copied into
    // the queue. OnSendData fires once the rest is queued, so a handler that
    // sends again appends behind it.
    const char* p = static_cast<const char*>(Data);
    std::vector<int> counts;
    int offset = 0;
    while (offset < Len) {
        const int count = WSocket_send(FSocketHandle, p + offset, Len - offset, FSendFlags);
        if (count > 0) {
            counts.push_back(count);
            offset += count;
            continue;
        }
        if (count == SOCKET_ERROR) {
            const int err = WSocket_WSAGetLastError();
            if (err != WSAEWOULDBLOCK) {
                ReportSendFailure(err);
                return -1;
            }
        }
        break;
    }
    if (Len - offset > 0)
        PutDataInSendBuffer(p + offset, Len - offset);
    const TAliveToken alive = FAlive;
    for (const int count : counts) {
        if (OnSendData) {
            const TSendData handler = OnSendData;
            handler(this, count);
        }
        if (!*alive)
            return -1;
    }
    return Len;
}

void TCustomWSocket::ReportSendFailure(int err)
{
    if (err == WSAECONNRESET || err == WSAENOTSOCK || err == WSAENOTCONN || err == WSAEINVAL ||
        err == WSAECONNABORTED) {
        const TAliveToken alive = FAlive;
        FSessionClosedFired = true;
        Close();
        if (!*alive)
            return;
        TriggerSessionClosed(std::uint16_t(err));
        return;
    }
    SocketError("TryToSend failed");
}

void TCustomWSocket::TryToSend()
{
    if (FSocketHandle == INVALID_SOCKET)
        return;
    // An OnSendData handler that sends again only appends to the queue; the
    // loop running below picks the bytes up, in order.
    if (FInTryToSend)
        return;
    if (FSendQueue.empty()) {
        // Nothing was ever queued on this connection: that is drained too.
        FSendQueueEmpty = true;
        return;
    }
    const TAliveToken alive = FAlive;
    const SOCKET handle = FSocketHandle;
    FInTryToSend = true;
    for (;;) {
        if (FSendQueue.empty()) {
            FSendQueueEmpty = true;
            break;
        }
        TBuffer& first = *FSendQueue.front();
        std::int32_t len = 0;
        const char* data = first.Peek(len);
        if (len <= 0) {
            if (FSendQueue.size() == 1) {
                FSendQueueEmpty = true;
                break;
            }
            FSendQueue.pop_front();
            continue;
        }
        const int count = RealSend(data, len);
        if (!*alive)
            return;
        if (FSocketHandle != handle) // closed or aborted by an OnSendData handler
            break;
        if (count == 0)
            break;
        if (count == SOCKET_ERROR) {
            const int err = WSocket_WSAGetLastError();
            if (err == WSAEWOULDBLOCK)
                break;
            FInTryToSend = false;
            ReportSendFailure(err);
            return;
        }
        if (FSendQueue.empty())
            break;
        // A partial send is not the end: only a send that would block
        // re-arms the write notification here, so the loop offers the rest
        // again and stops on that would-block.
        FSendQueue.front()->Remove(count);
    }
    FInTryToSend = false;
}

int TCustomWSocket::SendTo(const sockaddr_storage& Dest, int DestLen, const void* Data, int Len)
{
    const int length = std::min<int>(DestLen, int(sizeof Dest));
    const int result = WSocket_sendto(FSocketHandle, Data, Len, FSendFlags, reinterpret_cast<const sockaddr*>(&Dest),
                                      length);
    if (result > 0 && OnSendData) {
        const TSendData handler = OnSendData;
        handler(this, result);
    }
    return result;
}

int TCustomWSocket::SendTo(const sockaddr_in& Dest, int DestLen, const void* Data, int Len)
{
    const int result = WSocket_sendto(FSocketHandle, Data, Len, FSendFlags, reinterpret_cast<const sockaddr*>(&Dest),
                                      DestLen);
    if (result > 0 && OnSendData) {
        const TSendData handler = OnSendData;
        handler(this, result);
    }
    return result;
}
