#pragma once

// Internals shared by the socket layer's files.

#include "platform/winsock.h"

#include <memory>

class QSocketNotifier;

struct SelectState;

// One open socket of the layer.
struct SocketRecord {
    int fd = -1;
    int type = SOCK_STREAM;
    bool listening = false;
    bool connecting = false;
    std::unique_ptr<SelectState> select;

    SocketRecord();
    ~SocketRecord();
};

// Looks a handle up; null (and WSAENOTSOCK set) when unknown.
SocketRecord* FindSocket(SOCKET s);
SOCKET RegisterSocket(int fd, int type);

void SetWinsockError(int error);
void SetWinsockErrorFromErrno();

// Select emulation hooks, called by the socket functions.
void SelectRelease(SocketRecord& rec);
void SelectAfterRecv(SOCKET s, SocketRecord& rec);
void SelectAfterAccept(SOCKET s, SocketRecord& rec);
void SelectAfterListen(SOCKET s, SocketRecord& rec);
void SelectWouldBlockOnSend(SOCKET s, SocketRecord& rec);
void SelectConnectStarted(SOCKET s, SocketRecord& rec);
void SelectConnectFinishedAtOnce(SOCKET s, SocketRecord& rec, int error);
void SelectInheritForAccepted(SOCKET listener, SOCKET accepted);
