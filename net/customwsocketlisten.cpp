// Listening, accepting and adopting an accepted connection.

#include "net/customwsocket.h"

#include "net/wsocketaddress.h"

#include <cstring>

void TCustomWSocket::Listen()
{
    if (!FPortAssigned) {
        WSocket_WSASetLastError(WSAEINVAL);
        SocketError("listen: port not assigned");
        return;
    }
    if (!FProtoAssigned) {
        WSocket_WSASetLastError(WSAEINVAL);
        SocketError("listen: protocol not assigned");
        return;
    }
    if (!FAddrAssigned) {
        WSocket_WSASetLastError(WSAEINVAL);
        SocketError("listen: address not assigned");
        return;
    }

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
        if (!FAddrResolved) {
            FConnectAddresses = ResolveAddrAll(FAddrText);
            FAddrResolved = true;
        }
    } catch (const std::exception& E) {
        RaiseException(std::string("listen: ") + E.what());
        return;
    }
    // A listener binds the first address of Addr ("::1", "::", "0.0.0.0").
    if (!FConnectAddresses.empty())
        UseConnectAddress(0);

    DeleteBufferedData();
    FSocketHandle = WSocket_socket(FAddressFamily, FSocketType, FProtocol);
    if (FSocketHandle == INVALID_SOCKET) {
        SocketError("socket");
        return;
    }
    if (WSocket_bind(FSocketHandle, RemoteSockAddr(), RemoteSockAddrLen()) != 0) {
        const int err = WSocket_WSAGetLastError();
        // The report may raise; the half-made socket must go either way.
        const SOCKET failed = FSocketHandle;
        FSocketHandle = INVALID_SOCKET;
        WSocket_closesocket(failed);
        FState = wsClosed;
        AssignDefaultValue();
        WSocket_WSASetLastError(err);
        SocketError("Bind");
        return;
    }

    const TAliveToken alive = FAlive;
    ChangeState(wsBound);
    if (!*alive)
        return;

    if (FSocketType == SOCK_DGRAM) {
        ChangeState(wsListening);
        if (!*alive)
            return;
        ChangeState(wsConnected);
        if (!*alive)
            return;
        TriggerSessionConnected(0);
        if (!*alive || FSocketHandle == INVALID_SOCKET)
            return;
    } else {
        if (WSocket_listen(FSocketHandle, 5) != 0) {
            SocketError("Listen");
            return;
        }
        ChangeState(wsListening);
        if (!*alive || FSocketHandle == INVALID_SOCKET)
            return;
    }

    if (WSocket_WSAAsyncSelect(FSocketHandle, MessageWindow(), WM_ASYNCSELECT,
                               FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE) != 0)
        SocketError("WSAASyncSelect");
}

SOCKET TCustomWSocket::Accept()
{
    if (FState != wsListening) {
        WSocket_WSASetLastError(WSAEINVAL);
        SocketError("not a listening socket");
        return INVALID_SOCKET;
    }
    sockaddr_storage peer{};
    int len = sizeof peer;
    FAcceptedHandle = WSocket_accept(FSocketHandle, reinterpret_cast<sockaddr*>(&peer), &len);
    if (FAcceptedHandle == INVALID_SOCKET) {
        SocketError("Accept");
        return INVALID_SOCKET;
    }
    // The peer's address takes the place of the listener's own.
    if (peer.ss_family == AF_INET6)
        std::memcpy(&FRemoteAddress6, &peer, sizeof FRemoteAddress6);
    else
        std::memcpy(&FRemoteAddress, &peer, sizeof FRemoteAddress);
    return FAcceptedHandle;
}

void TCustomWSocket::Dup(SOCKET NewHSocket)
{
    if (NewHSocket == 0 || NewHSocket == INVALID_SOCKET) {
        WSocket_WSASetLastError(WSAEINVAL);
        SocketError("Dup");
        return;
    }
    const TAliveToken alive = FAlive;
    if (FState != wsClosed) {
        const int rc = WSocket_closesocket(FSocketHandle);
        FSocketHandle = INVALID_SOCKET;
        if (rc != 0) {
            SocketError("Dup (closesocket)");
            return;
        }
        ChangeState(wsClosed);
        if (!*alive)
            return;
    }
    FSocketHandle = NewHSocket;
    FSessionClosedFired = false; // a new connection gets its own close report
    SetLingerOption();
    if (WSocket_WSAAsyncSelect(FSocketHandle, MessageWindow(), WM_ASYNCSELECT,
                               FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE) != 0) {
        SocketError("WSAAsyncSelect");
        return;
    }
    ChangeState(wsConnected);
}
