#pragma once

// The socket library, loaded on first use and shared by every socket object.
//
// The library ("wsock32.dll") is loaded by the first wrapper call, started at
// version 1.1, and each entry point is looked up by its exported name once
// and cached. It stays loaded while at least one socket object exists; the
// destructor of the last one unloads it, after which the next wrapper call
// loads and starts it again.

#include "platform/winsock.h"

#include <cstdint>

// Module handle name of the socket library.
extern const char* const WinsockDllName;

// Returns the named entry point, loading and starting the library first if
// needed. An empty name only ensures the library is loaded and returns null.
// Raises ESocketException when the library, its startup or the entry point
// fails.
void* WSocketGetProc(const char* ProcName);

// Cleans up and unloads the library when it is loaded and forgets every
// cached entry point.
void WSocketUnloadWinsock();

// A copy of the startup record; loads the library for the purpose and unloads
// it again at once when no socket object exists.
WSADATA WinsockInfo();

// Socket object bookkeeping: the last object to go unloads the library.
void WSocketInstanceAdded();
void WSocketInstanceRemoved();
int WSocketInstanceCount();

// One wrapper per entry point, with the socket function's own arguments.
int WSocket_WSAStartup(std::uint16_t wVersionRequired, WSADATA* lpWSAData);
int WSocket_WSACleanup();
void WSocket_WSASetLastError(int iError);
int WSocket_WSAGetLastError();
int WSocket_WSACancelAsyncRequest(ASYNC_HANDLE hAsyncTaskHandle);
ASYNC_HANDLE WSocket_WSAAsyncGetHostByName(HWND HWindow, unsigned wMsg, const char* name, char* buf, int buflen);
ASYNC_HANDLE WSocket_WSAAsyncGetHostByAddr(HWND HWindow, unsigned wMsg, const char* addr, int len, int Struct,
                                           char* buf, int buflen);
int WSocket_WSAAsyncSelect(SOCKET s, HWND HWindow, unsigned wMsg, long lEvent);
servent* WSocket_getservbyname(const char* name, const char* proto);
protoent* WSocket_getprotobyname(const char* name);
hostent* WSocket_gethostbyname(const char* name);
hostent* WSocket_gethostbyaddr(const char* addr, int len, int Struct);
int WSocket_gethostname(char* name, int len);
SOCKET WSocket_socket(int af, int Struct, int protocol);
int WSocket_shutdown(SOCKET s, int how);
int WSocket_setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen);
int WSocket_getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen);
int WSocket_send(SOCKET s, const void* Buf, int len, int flags);
int WSocket_recv(SOCKET s, void* Buf, int len, int flags);
int WSocket_recvfrom(SOCKET s, void* Buf, int len, int flags, sockaddr* from, int* fromlen);
std::uint16_t WSocket_ntohs(std::uint16_t netshort);
std::uint32_t WSocket_ntohl(std::uint32_t netlong);
int WSocket_listen(SOCKET s, int backlog);
int WSocket_ioctlsocket(SOCKET s, long cmd, std::uint32_t* arg);
char* WSocket_inet_ntoa(in_addr inaddr);
std::uint32_t WSocket_inet_addr(const char* cp);
std::uint16_t WSocket_htons(std::uint16_t hostshort);
std::uint32_t WSocket_htonl(std::uint32_t hostlong);
int WSocket_getsockname(SOCKET s, sockaddr* name, int* namelen);
int WSocket_getpeername(SOCKET s, sockaddr* name, int* namelen);
int WSocket_connect(SOCKET s, const sockaddr* name, int namelen);
int WSocket_closesocket(SOCKET s);
int WSocket_bind(SOCKET s, const sockaddr* addr, int namelen);
SOCKET WSocket_accept(SOCKET s, sockaddr* addr, int* addrlen);
int WSocket_sendto(SOCKET s, const void* Buf, int len, int flags, const sockaddr* addrto, int tolen);
