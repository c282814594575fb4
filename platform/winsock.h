#pragma once

// A Winsock-1.1-shaped layer over POSIX sockets.
//
// The socket objects were designed around Winsock: handles that are never
// reused while messages about them may still be queued, error numbers in
// the 10000 range, readiness reported as posted window messages
// (WSAAsyncSelect) and name lookups answered by posted messages
// (WSAAsyncGetHostByName). This layer gives them exactly that on Linux.
//
// The functions carry a "ws_" prefix because glibc defines several of the
// plain names (htons, ntohs, ...) as macros. The socket library object
// (platform/library.h) exports them under their Winsock names.
//
// Socket options, levels, address families, FIONREAD and the MSG_* flags are
// the platform's own (pass them from <sys/socket.h>); error numbers, FD_*
// bits and the lookup error codes are Winsock's.
//
// All calls are meant for the thread that owns the event loop; only the
// lookup workers run elsewhere, and they never touch the caller's memory.

#include "platform/hiddenwindow.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cstdint>

using SOCKET = std::uintptr_t;
constexpr SOCKET INVALID_SOCKET = ~SOCKET(0);
constexpr int SOCKET_ERROR = -1;

// Asynchronous request handle of the lookup functions; 0 means "refused".
using ASYNC_HANDLE = std::uint32_t;

// WSAAsyncSelect event bits.
constexpr long FD_READ = 0x01;
constexpr long FD_WRITE = 0x02;
constexpr long FD_OOB = 0x04;
constexpr long FD_ACCEPT = 0x08;
constexpr long FD_CONNECT = 0x10;
constexpr long FD_CLOSE = 0x20;

// The buffer size that a lookup answer needs at most.
constexpr int MAXGETHOSTSTRUCT = 1024;

// One address of either family, as the address-list answer of
// WSAAsyncGetAddrInfo holds it.
struct SOCKET_ADDRESS {
    sockaddr* lpSockaddr = nullptr;
    int iSockaddrLength = 0;
};
// The answer of WSAAsyncGetAddrInfo: iAddressCount entries at Address, all
// pointing into the caller's buffer.
struct SOCKET_ADDRESS_LIST {
    int iAddressCount = 0;
    SOCKET_ADDRESS* Address = nullptr;
};

// Longest address texts of inet_ntop, with the terminating zero.
constexpr int INET_ADDRSTRLEN_WS = 16;
constexpr int INET6_ADDRSTRLEN_WS = 46;

// Winsock error numbers.
enum : int {
    WSABASEERR = 10000,
    WSAEINTR = 10004,
    WSAEBADF = 10009,
    WSAEACCES = 10013,
    WSAEFAULT = 10014,
    WSAEINVAL = 10022,
    WSAEMFILE = 10024,
    WSAEWOULDBLOCK = 10035,
    WSAEINPROGRESS = 10036,
    WSAEALREADY = 10037,
    WSAENOTSOCK = 10038,
    WSAEDESTADDRREQ = 10039,
    WSAEMSGSIZE = 10040,
    WSAEPROTOTYPE = 10041,
    WSAENOPROTOOPT = 10042,
    WSAEPROTONOSUPPORT = 10043,
    WSAESOCKTNOSUPPORT = 10044,
    WSAEOPNOTSUPP = 10045,
    WSAEPFNOSUPPORT = 10046,
    WSAEAFNOSUPPORT = 10047,
    WSAEADDRINUSE = 10048,
    WSAEADDRNOTAVAIL = 10049,
    WSAENETDOWN = 10050,
    WSAENETUNREACH = 10051,
    WSAENETRESET = 10052,
    WSAECONNABORTED = 10053,
    WSAECONNRESET = 10054,
    WSAENOBUFS = 10055,
    WSAEISCONN = 10056,
    WSAENOTCONN = 10057,
    WSAESHUTDOWN = 10058,
    WSAETOOMANYREFS = 10059,
    WSAETIMEDOUT = 10060,
    WSAECONNREFUSED = 10061,
    WSAELOOP = 10062,
    WSAENAMETOOLONG = 10063,
    WSAEHOSTDOWN = 10064,
    WSAEHOSTUNREACH = 10065,
    WSAENOTEMPTY = 10066,
    WSAEPROCLIM = 10067,
    WSAEUSERS = 10068,
    WSAEDQUOT = 10069,
    WSAESTALE = 10070,
    WSAEREMOTE = 10071,
    WSASYSNOTREADY = 10091,
    WSAVERNOTSUPPORTED = 10092,
    WSANOTINITIALISED = 10093,
    WSAHOST_NOT_FOUND = 11001,
    WSATRY_AGAIN = 11002,
    WSANO_RECOVERY = 11003,
    WSANO_DATA = 11004,
};

// Maps an errno value to the Winsock error number (unknown values map to
// WSAEINVAL's neighbour rules documented in winsock.cpp).
int WinsockErrorFromErrno(int err);
// Maps a getaddrinfo/getnameinfo EAI_* result to 11001..11004.
int WinsockErrorFromEai(int eai);

// The record WSAStartup fills.
struct WSADATA {
    std::uint16_t wVersion = 0;
    std::uint16_t wHighVersion = 0;
    char szDescription[257] = {};
    char szSystemStatus[129] = {};
    std::uint16_t iMaxSockets = 0;
    std::uint16_t iMaxUdpDg = 0;
    char* lpVendorInfo = nullptr;
};

constexpr std::uint16_t MakeWord(std::uint8_t lo, std::uint8_t hi) { return std::uint16_t(lo | (hi << 8)); }

// --- The entry points ----------------------------------------------------
// The lookups run on a worker thread. The answer is written into `buf` as a
// hostent (pointers pointing into `buf`) on the caller's thread, just before
// the completion message (wParam = handle, lParam = MakeLong(length, error))
// reaches the window; a cancelled request never writes. `buf` must stay
// valid until completion or cancel and be aligned for hostent
// (alignas(hostent) char buf[...]) (WSAAsyncGetHostByName/ByAddr).
// WSAAsyncGetHostByName answers with IPv4 addresses only, in a hostent;
// WSAAsyncGetAddrInfo answers with the addresses of `family` (AF_UNSPEC:
// every family) in the resolver's order, as a SOCKET_ADDRESS_LIST laid out
// the same way (buf aligned for sockaddr_in6).
// getaddrinfo returns 0 or a Winsock error number (11001..11004, 10055) and
// sets it as the last error too; its list is released with freeaddrinfo.
#define WINSOCK_ENTRY(result, name, params, args) result ws_##name params;
#include "platform/winsockentries.def"

// The number of sockets this layer has open (for leak checks in tests).
int WinsockOpenSocketCount();
// The native descriptor behind a handle, or -1. For diagnostics and tests.
int WinsockNativeHandle(SOCKET s);
