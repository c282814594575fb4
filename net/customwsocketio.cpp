// Connecting, receiving and the select notifications of the socket core.

#include "net/customwsocket.h"

#include "net/wsocketaddress.h"

#include <algorithm>
#include <cstring>

// --- Connect ----------------------------------------------------------------

void TCustomWSocket::BindSocket()
{
    FLastError = 0;
    if (FAddressFamily == AF_INET6) {
        // An IPv6 socket binds to the IPv6 form of the local address: the
        // IPv4 wildcard means the IPv6 one.
        sockaddr_in6 local6{};
        local6.sin6_family = AF_INET6;
        local6.sin6_port = WSocket_htons(std::uint16_t(FLocalPortNumber));
        local6.sin6_addr = in6addr_any;
        if (FLocalAddr != "0.0.0.0" && !FLocalAddr.empty()) {
            const std::vector<TWSocketAddress> found = WSocketResolveHostAll(FLocalAddr);
            const auto v6 = std::find_if(found.begin(), found.end(),
                                         [](const TWSocketAddress& a) { return a.Family() == AF_INET6; });
            if (v6 == found.end()) {
                FLastError = WSAEAFNOSUPPORT;
                RaiseExceptionFmt("winsock.bind failed, error #%d", FLastError);
                return;
            }
            std::memcpy(&local6, &v6->Storage, sizeof local6);
            local6.sin6_port = WSocket_htons(std::uint16_t(FLocalPortNumber));
        }
        if (WSocket_bind(FSocketHandle, reinterpret_cast<sockaddr*>(&local6), sizeof local6) != 0) {
            FLastError = WSocket_WSAGetLastError();
            RaiseExceptionFmt("winsock.bind failed, error #%d", FLastError);
            return;
        }
        int len6 = sizeof local6;
        if (WSocket_getsockname(FSocketHandle, reinterpret_cast<sockaddr*>(&local6), &len6) != 0) {
            FLastError = WSocket_WSAGetLastError();
            RaiseExceptionFmt("winsock.getsockname failed, error #%d", FLastError);
            return;
        }
        FLocalPortNumber = WSocket_ntohs(local6.sin6_port);
        FLocalPortText = std::to_string(FLocalPortNumber);
        return;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = WSocket_htons(std::uint16_t(FLocalPortNumber));
    local.sin_addr.s_addr = WSocketResolveHost(FLocalAddr);
    if (WSocket_bind(FSocketHandle, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        FLastError = WSocket_WSAGetLastError();
        RaiseExceptionFmt("winsock.bind failed, error #%d", FLastError);
        return;
    }
    int len = sizeof local;
    if (WSocket_getsockname(FSocketHandle, reinterpret_cast<sockaddr*>(&local), &len) != 0) {
        FLastError = WSocket_WSAGetLastError();
        RaiseExceptionFmt("winsock.getsockname failed, error #%d", FLastError);
        return;
    }
    FLocalPortNumber = WSocket_ntohs(local.sin_port);
    FLocalPortText = std::to_string(FLocalPortNumber);
}

void TCustomWSocket::SetLingerOption()
{
    if (FLingerOnOff == wsLingerNoSet)
        return;
    if (FSocketHandle == INVALID_SOCKET) {
        RaiseException("Cannot set linger option at this time");
        return;
    }
    linger li{};
    li.l_onoff = FLingerOnOff == wsLingerOn ? 1 : 0;
    li.l_linger = FLingerTimeout & 0xFFFF;
    if (WSocket_setsockopt(FSocketHandle, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&li), sizeof li) != 0)
        SocketError("setsockopt(SO_LINGER)");
}

void TCustomWSocket::Connect()
{
    if (FSocketHandle != INVALID_SOCKET && FState != wsClosed) {
        RaiseException("Connect: Socket already in use");
        return;
    }
    if (!FPortAssigned) {
        RaiseException("Connect: No Port Specified");
        return;
    }
    if (!FAddrAssigned) {
        RaiseException("Connect: No IP Address Specified");
        return;
    }
    if (!FProtoAssigned) {
        RaiseException("Connect: No Protocol Specified");
        return;
    }

    FSessionClosedFired = false; // a new connection gets its own close report

    try {
        if (!FProtoResolved) {
            FProtocol = WSocketResolveProto(FProtoText);
            FSocketType = FProtocol == IPPROTO_UDP ? SOCK_DGRAM : SOCK_STREAM;
            FProtoResolved = true;
        }
        if (!FPortResolved) {
            FPortNumber = WSocketResolvePort(FPortText, FProtoText);
            FRemoteAddress.sin_port = WSocket_htons(FPortNumber);
            FPortResolved = true;
        }
        if (!FLocalPortResolved) {
            FLocalPortNumber = WSocketResolvePort(FLocalPortText, FProtoText);
            FLocalPortResolved = true;
        }
        if (!FAddrResolved) {
            FConnectAddresses = ResolveAddrAll(FAddrText);
            FAddrResolved = true;
        }
    } catch (const std::exception& E) {
        RaiseException(std::string("connect: ") + E.what());
        return;
    }

    // An address set directly (the SOCKS layer's proxy) is the only one.
    if (FConnectAddresses.empty()) {
        TWSocketAddress only;
        std::memcpy(&only.Storage, &FRemoteAddress, sizeof FRemoteAddress);
        only.Length = sizeof FRemoteAddress;
        FConnectAddresses.push_back(only);
    }
    // Datagrams go to one address; keep IPv4 for them where there is one.
    if (FSocketType == SOCK_DGRAM) {
        const auto v4 = std::find_if(FConnectAddresses.begin(), FConnectAddresses.end(),
                                     [](const TWSocketAddress& a) { return a.Family() == AF_INET; });
        if (v4 != FConnectAddresses.end())
            FConnectAddresses = {*v4};
    }
    FConnectIndex = 0;
    UseConnectAddress(0);

    DeleteBufferedData();
    FSocketHandle = WSocket_socket(FAddressFamily, FSocketType, FProtocol);
    // A family the machine cannot open (no IPv6) moves on to the next address.
    while (FSocketHandle == INVALID_SOCKET && FSocketType == SOCK_STREAM &&
           FConnectIndex + 1 < FConnectAddresses.size()) {
        UseConnectAddress(++FConnectIndex);
        FSocketHandle = WSocket_socket(FAddressFamily, FSocketType, FProtocol);
    }
    if (FSocketHandle == INVALID_SOCKET) {
        SocketError("Connect (socket)");
        return;
    }
    const TAliveToken alive = FAlive;
    ChangeState(wsOpened);
    if (!*alive || FSocketHandle == INVALID_SOCKET)
        return;

    if (FSocketType == SOCK_DGRAM) {
        BindSocket();
        if (FLastError != 0)
            return;
        if (FAddressFamily == AF_INET && FRemoteAddress.sin_addr.s_addr == INADDR_BROADCAST) {
            const int on = 1;
            if (WSocket_setsockopt(FSocketHandle, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on),
                                   sizeof on) != 0) {
                SocketError("setsockopt(SO_BROADCAST)");
                return;
            }
        }
    } else {
        if (FAddressFamily == AF_INET && (FLocalPortNumber != 0 || FLocalAddr != "0.0.0.0")) {
            BindSocket();
            if (FLastError != 0)
                return;
        }
        FLastError = 0;
        SetLingerOption();
        if (FLastError != 0)
            return;
        const int allBits = -1;
        if (WSocket_setsockopt(FSocketHandle, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&allBits),
                               sizeof allBits) != 0) {
            SocketError("setsockopt(SO_KEEPALIVE)");
            return;
        }
        if (WSocket_setsockopt(FSocketHandle, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&allBits),
                               sizeof allBits) != 0) {
            SocketError("setsockopt(SO_REUSEADDR)");
            return;
        }
    }

    if (WSocket_WSAAsyncSelect(FSocketHandle, MessageWindow(), WM_ASYNCSELECT,
                               FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE) != 0) {
        SocketError("WSAAsyncSelect");
        return;
    }

    if (FSocketType == SOCK_DGRAM) {
        ChangeState(wsConnected);
        if (!*alive)
            return;
        TriggerSessionConnected(0);
        return;
    }

    const int rc = WSocket_connect(FSocketHandle, RemoteSockAddr(), RemoteSockAddrLen());
    if (rc == 0) {
        ChangeState(wsConnecting);
        return;
    }
    const int err = WSocket_WSAGetLastError();
    if (err == WSAEWOULDBLOCK) {
        ChangeState(wsConnecting);
        return;
    }
    FLastError = err;
    if (FSocketType == SOCK_STREAM && FConnectIndex + 1 < FConnectAddresses.size()) {
        // Further addresses remain: this failure takes the path of one
        // reported by FD_CONNECT, which moves on to the next address.
        ChangeState(wsConnecting);
        if (!*alive || FSocketHandle == INVALID_SOCKET)
            return;
        PostMessage(MessageWindow(), WM_ASYNCSELECT, WPARAM(FSocketHandle), MakeLong(FD_CONNECT, std::uint16_t(err)));
        return;
    }
    SocketError("Connect");
}

std::vector<TWSocketAddress> TCustomWSocket::ResolveAddrAll(const std::string& Host)
{
    // The usual way to connect to a name is DnsLookup, then Addr set to
    // DnsResult: that address comes first, and the lookup's other addresses
    // follow in their order, so a name whose first address refuses still
    // connects through the next one.
    if (FDnsResultList.size() > 1 && WSocketStripBrackets(Host) == FDnsResultList.front()) {
        std::vector<TWSocketAddress> all;
        for (const std::string& text : FDnsResultList) {
            const std::vector<TWSocketAddress> one = WSocketResolveHostAll(text);
            all.insert(all.end(), one.begin(), one.end());
        }
        return all;
    }
    return WSocketResolveHostAll(Host);
}

void TCustomWSocket::UseConnectAddress(std::size_t Index)
{
    const TWSocketAddress& target = FConnectAddresses[Index];
    const std::uint16_t port = FRemoteAddress.sin_port; // network order
    FAddressFamily = target.Family();
    if (FAddressFamily == AF_INET6) {
        std::memcpy(&FRemoteAddress6, &target.Storage, sizeof FRemoteAddress6);
        FRemoteAddress6.sin6_port = port;
    } else {
        std::memcpy(&FRemoteAddress, &target.Storage, sizeof FRemoteAddress);
        FRemoteAddress.sin_family = AF_INET;
        FRemoteAddress.sin_port = port;
    }
}

const sockaddr* TCustomWSocket::RemoteSockAddr() const
{
    if (FAddressFamily == AF_INET6)
        return reinterpret_cast<const sockaddr*>(&FRemoteAddress6);
    return reinterpret_cast<const sockaddr*>(&FRemoteAddress);
}

int TCustomWSocket::RemoteSockAddrLen() const
{
    return FAddressFamily == AF_INET6 ? int(sizeof FRemoteAddress6) : int(sizeof FRemoteAddress);
}

std::uint16_t TCustomWSocket::ConnectNextAddress(std::uint16_t Error)
{
    std::uint16_t last = Error;
    while (FSocketType == SOCK_STREAM && FConnectIndex + 1 < FConnectAddresses.size()) {
        // The failed attempt's socket goes without any event: the
        // connection as the user sees it is still being made.
        if (FSocketHandle != INVALID_SOCKET) {
            const SOCKET failed = FSocketHandle;
            FSocketHandle = INVALID_SOCKET;
            WSocket_closesocket(failed);
        }
        UseConnectAddress(++FConnectIndex);
        FSocketHandle = WSocket_socket(FAddressFamily, FSocketType, FProtocol);
        if (FSocketHandle == INVALID_SOCKET) {
            last = std::uint16_t(WSocket_WSAGetLastError());
            continue;
        }
        // The first attempt's options; here a failure only ends this attempt.
        if (FAddressFamily == AF_INET && (FLocalPortNumber != 0 || FLocalAddr != "0.0.0.0")) {
            sockaddr_in local{};
            local.sin_family = AF_INET;
            local.sin_port = WSocket_htons(std::uint16_t(FLocalPortNumber));
            local.sin_addr.s_addr = WSocket_inet_addr(FLocalAddr.c_str());
            if (WSocket_bind(FSocketHandle, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
                last = std::uint16_t(WSocket_WSAGetLastError());
                continue;
            }
        }
        if (FLingerOnOff != wsLingerNoSet) {
            linger li{};
            li.l_onoff = FLingerOnOff == wsLingerOn ? 1 : 0;
            li.l_linger = FLingerTimeout & 0xFFFF;
            WSocket_setsockopt(FSocketHandle, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&li), sizeof li);
        }
        const int allBits = -1;
        WSocket_setsockopt(FSocketHandle, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&allBits),
                           sizeof allBits);
        WSocket_setsockopt(FSocketHandle, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&allBits),
                           sizeof allBits);
        if (WSocket_WSAAsyncSelect(FSocketHandle, MessageWindow(), WM_ASYNCSELECT,
                                   FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE) != 0) {
            last = std::uint16_t(WSocket_WSAGetLastError());
            continue;
        }
        if (WSocket_connect(FSocketHandle, RemoteSockAddr(), RemoteSockAddrLen()) == 0)
            return 0;
        const int err = WSocket_WSAGetLastError();
        if (err == WSAEWOULDBLOCK)
            return 0;
        last = std::uint16_t(err);
    }
    return last;
}

// --- Receiving ----------------------------------------------------------------

int TCustomWSocket::DoRecv(void* Buffer, int BufferSize, int Flags)
{
    ++FRecvCalls;
    const int result = WSocket_recv(FSocketHandle, Buffer, BufferSize, Flags);
    // A read that got less than it asked for emptied the socket; that read
    // also re-armed the notification for whatever comes next.
    FLastRecvDrained = (Flags & MSG_PEEK) == 0 && result >= 0 && result < BufferSize;
    if (result > 0 && (Flags & MSG_PEEK) == 0)
        FRecvBytes += result;
    return result;
}

int TCustomWSocket::DoRecvFrom(SOCKET FHSocket, void* Buffer, int BufferSize, int Flags, sockaddr_in& From,
                               int& FromLen)
{
    ++FRecvCalls;
    return WSocket_recvfrom(FHSocket, Buffer, BufferSize, Flags, reinterpret_cast<sockaddr*>(&From), &FromLen);
}

int TCustomWSocket::Receive(void* Buffer, int BufferSize)
{
    ++FRecvCalls;
    const int result = DoRecv(Buffer, BufferSize, 0);
    if (result < 0)
        FLastError = WSocket_WSAGetLastError();
    else
        FReadCount += result;
    return result;
}

std::string TCustomWSocket::ReceiveStr()
{
    ++FRecvCalls;
    const std::int64_t count = GetRcvdCount();
    if (count < 1)
        return "";
    const int wanted = int(std::min<std::int64_t>(count, 0x7FFFFFFF));
    std::string result(std::size_t(wanted), '\0');
    const int got = DoRecv(result.data(), wanted, 0);
    if (got < 1)
        return "";
    result.resize(std::size_t(got));
    return result;
}

int TCustomWSocket::ReceiveFrom(void* Buffer, int BufferSize, sockaddr_in& From, int& FromLen)
{
    ++FRecvCalls;
    const int result = DoRecvFrom(FSocketHandle, Buffer, BufferSize, 0, From, FromLen);
    if (result < 0)
        FLastError = WSocket_WSAGetLastError();
    else
        FReadCount += result;
    return result;
}

int TCustomWSocket::ReceiveFrom(void* Buffer, int BufferSize, sockaddr_storage& From, int& FromLen)
{
    ++FRecvCalls;
    const int result = WSocket_recvfrom(FSocketHandle, Buffer, BufferSize, 0, reinterpret_cast<sockaddr*>(&From),
                                        &FromLen);
    if (result < 0)
        FLastError = WSocket_WSAGetLastError();
    else
        FReadCount += result;
    return result;
}

int TCustomWSocket::PeekData(void* Buffer, int BufferSize)
{
    const int result = DoRecv(Buffer, BufferSize, MSG_PEEK);
    if (result < 0)
        FLastError = WSocket_WSAGetLastError();
    return result;
}

std::int64_t TCustomWSocket::GetRcvdCount()
{
    std::uint32_t count = 0;
    if (WSocket_ioctlsocket(FSocketHandle, FIONREAD, &count) == SOCKET_ERROR) {
        SocketError("ioctlSocket");
        return -1;
    }
    return std::int64_t(count);
}

void TCustomWSocket::ASyncReceive(std::uint16_t Error)
{
    const TAliveToken alive = FAlive;
    const SOCKET handle = FSocketHandle;
    const bool stream = FSocketType == SOCK_STREAM;
    // Bytes a stream socket is known to hold: only our own reads take them
    // away, so the count is kept up to date without asking every time.
    std::int64_t knownPending = 0;
    try {
        for (;;) {
            FLastError = 0;
            const std::uint64_t readsBefore = FRecvCalls;
            const std::int64_t bytesBefore = FRecvBytes;
            FLastRecvDrained = false;
            const bool consumed = TriggerDataAvailable(Error);
            if (!*alive)
                return;
            if (!consumed) {
                char junk[1024];
                const int got = DoRecv(junk, sizeof junk, 0);
                if (got < 0) {
                    const int err = WSocket_WSAGetLastError();
                    if (err == WSAEWOULDBLOCK) {
                        FLastError = 0;
                        break;
                    }
                    FLastError = err;
                }
            } else if (FRecvCalls == readsBefore) {
                // The handler took nothing: calling it again at once would
                // turn forever. The bytes stay in the socket; the handler
                // gets them with its next Receive, or with the next
                // notification that one of its reads re-arms.
                break;
            }
            if (FLastError != 0)
                break;
            if (FSocketHandle != handle || FSocketHandle == INVALID_SOCKET)
                break;
            if (stream && FLastRecvDrained)
                break;
            if (stream && knownPending > 0) {
                knownPending -= FRecvBytes - bytesBefore;
                if (knownPending > 0)
                    continue;
            }
            std::uint32_t pending = 0;
            if (WSocket_ioctlsocket(FSocketHandle, FIONREAD, &pending) == SOCKET_ERROR) {
                FLastError = WSocket_WSAGetLastError();
                break;
            }
            if (pending == 0)
                break;
            knownPending = pending;
        }
    } catch (...) {
        // A data handler's exception ends this round of reading; the bytes
        // it left stay in the socket.
    }
}

// --- Notifications --------------------------------------------------------

void TCustomWSocket::WMASyncSelect(TMessage& msg)
{
    if (msg.WParam != WPARAM(FSocketHandle) || FSocketHandle == INVALID_SOCKET)
        return; // late notification for a handle we no longer own
    if (FPaused)
        return;
    const TAliveToken alive = FAlive;
    const SOCKET handle = FSocketHandle;
    const std::uint16_t events = LoWord(msg.LParam);
    const std::uint16_t error = HiWord(msg.LParam);
    // A handler may close the socket or free the object; the remaining
    // bits of this message belong to the connection that is gone.
    auto gone = [&] { return !*alive || FSocketHandle != handle; };

    if (events & FD_CONNECT) {
        std::uint16_t connectError = error;
        if (error != 0 && FSocketType == SOCK_STREAM && FConnectIndex + 1 < FConnectAddresses.size()) {
            // This address failed and others remain: try them before
            // anything is reported. Only the last failure is reported.
            connectError = ConnectNextAddress(error);
            if (connectError == 0)
                return; // the rest of this message is about the dropped socket
        }
        ChangeState(wsConnected);
        if (!*alive)
            return;
        TriggerSessionConnected(connectError);
        if (!*alive)
            return;
        if (connectError != 0 && FState != wsClosed)
            Close();
        if (gone())
            return;
    }
    if (events & FD_READ) {
        ASyncReceive(error);
        if (gone())
            return;
    }
    if (events & FD_WRITE) {
        TryToSend();
        if (gone())
            return;
        if (FSendQueueEmpty) {
            TriggerDataSent(error);
            if (gone())
                return;
        }
    }
    if (events & FD_ACCEPT) {
        TriggerSessionAvailable(error);
        if (gone())
            return;
    }
    if ((events & FD_CLOSE) && FState != wsConnecting) {
        ASyncReceive(0);
        // A data handler that closed the socket has already reported the
        // close; reporting it again would also leave the flag set for the
        // next connection.
        if (gone())
            return;
        if (!FSessionClosedFired) {
            FSessionClosedFired = true;
            TriggerSessionClosed(error);
            if (!*alive)
                return;
        }
        if (FState != wsClosed)
            Close();
    }
}
