#include "net/winsockloader.h"

#include "net/esocketexception.h"
#include "platform/library.h"

#include <array>
#include <cstdio>
#include <string>

const char* const WinsockDllName = "wsock32.dll";

namespace {

// Positions of the cached entry points; the order is irrelevant, only the
// count matters for the unload that forgets them all.
enum ProcIndex : int {
    ixWSAStartup,
    ixWSACleanup,
    ixWSASetLastError,
    ixWSAGetLastError,
    ixWSACancelAsyncRequest,
    ixWSAAsyncGetHostByName,
    ixWSAAsyncGetHostByAddr,
    ixWSAAsyncSelect,
    ixgetservbyname,
    ixgetprotobyname,
    ixgethostbyname,
    ixgethostbyaddr,
    ixgethostname,
    ixsocket,
    ixshutdown,
    ixsetsockopt,
    ixgetsockopt,
    ixsend,
    ixrecv,
    ixrecvfrom,
    ixntohs,
    ixntohl,
    ixlisten,
    ixioctlsocket,
    ixinet_ntoa,
    ixinet_addr,
    ixhtons,
    ixhtonl,
    ixgetsockname,
    ixgetpeername,
    ixconnect,
    ixclosesocket,
    ixbind,
    ixaccept,
    ixsendto,
    ProcCount
};
static_assert(ProcCount == 35);

// All socket objects live on the GUI thread, so these need no lock.
HMODULE WinsockLibrary = nullptr;
WSADATA WinsockData;
std::array<void*, ProcCount> CachedProcs{};
int SocketInstanceCount = 0;

template <typename F>
F Entry(ProcIndex index, const char* name)
{
    if (CachedProcs[index] == nullptr)
        CachedProcs[index] = WSocketGetProc(name);
    return reinterpret_cast<F>(CachedProcs[index]);
}

} // namespace

void* WSocketGetProc(const char* ProcName)
{
    if (WinsockLibrary == nullptr) {
        HMODULE lib = LoadLibraryA(WinsockDllName);
        if (lib == nullptr)
            throw ESocketException(std::string("Unable to load ") + WinsockDllName + " Error #" +
                                   std::to_string(GetLastError()));
        // Startup goes through the library's own export, like every other
        // call, so the loaded module is the one that gets started.
        auto startup = reinterpret_cast<decltype(&ws_WSAStartup)>(GetProcAddress(lib, "WSAStartup"));
        const int rc = startup ? startup(MakeWord(1, 1), &WinsockData) : int(GetLastError());
        if (rc != 0) {
            FreeLibrary(lib);
            char text[256];
            std::snprintf(text, sizeof text, "%s: WSAStartup error #%d", WinsockDllName, rc);
            throw ESocketException(text);
        }
        WinsockLibrary = lib;
    }
    if (ProcName == nullptr || *ProcName == '\0')
        return nullptr;
    void* proc = GetProcAddress(WinsockLibrary, ProcName);
    if (proc == nullptr)
        throw ESocketException(std::string("Procedure ") + ProcName + " not found in " + WinsockDllName +
                               " Error #" + std::to_string(GetLastError()));
    return proc;
}

void WSocketUnloadWinsock()
{
    if (WinsockLibrary == nullptr)
        return;
    auto cleanup = reinterpret_cast<decltype(&ws_WSACleanup)>(GetProcAddress(WinsockLibrary, "WSACleanup"));
    if (cleanup)
        cleanup();
    FreeLibrary(WinsockLibrary);
    WinsockLibrary = nullptr;
    CachedProcs.fill(nullptr);
}

WSADATA WinsockInfo()
{
    WSocketGetProc("");
    const WSADATA copy = WinsockData;
    if (SocketInstanceCount < 1)
        WSocketUnloadWinsock();
    return copy;
}

void WSocketInstanceAdded()
{
    ++SocketInstanceCount;
}

void WSocketInstanceRemoved()
{
    --SocketInstanceCount;
    if (SocketInstanceCount < 1) {
        SocketInstanceCount = 0;
        WSocketUnloadWinsock();
    }
}

int WSocketInstanceCount()
{
    return SocketInstanceCount;
}

int WSocket_WSAStartup(std::uint16_t wVersionRequired, WSADATA* lpWSAData)
{
    return Entry<decltype(&ws_WSAStartup)>(ixWSAStartup, "WSAStartup")(wVersionRequired, lpWSAData);
}

int WSocket_WSACleanup()
{
    return Entry<decltype(&ws_WSACleanup)>(ixWSACleanup, "WSACleanup")();
}

void WSocket_WSASetLastError(int iError)
{
    Entry<decltype(&ws_WSASetLastError)>(ixWSASetLastError, "WSASetLastError")(iError);
}

int WSocket_WSAGetLastError()
{
    return Entry<decltype(&ws_WSAGetLastError)>(ixWSAGetLastError, "WSAGetLastError")();
}

int WSocket_WSACancelAsyncRequest(ASYNC_HANDLE hAsyncTaskHandle)
{
    return Entry<decltype(&ws_WSACancelAsyncRequest)>(ixWSACancelAsyncRequest,
                                                       "WSACancelAsyncRequest")(hAsyncTaskHandle);
}

ASYNC_HANDLE WSocket_WSAAsyncGetHostByName(HWND HWindow, unsigned wMsg, const char* name, char* buf, int buflen)
{
    return Entry<decltype(&ws_WSAAsyncGetHostByName)>(ixWSAAsyncGetHostByName, "WSAAsyncGetHostByName")(
        HWindow, wMsg, name, buf, buflen);
}

ASYNC_HANDLE WSocket_WSAAsyncGetHostByAddr(HWND HWindow, unsigned wMsg, const char* addr, int len, int Struct,
                                           char* buf, int buflen)
{
    return Entry<decltype(&ws_WSAAsyncGetHostByAddr)>(ixWSAAsyncGetHostByAddr, "WSAAsyncGetHostByAddr")(
        HWindow, wMsg, addr, len, Struct, buf, buflen);
}

int WSocket_WSAAsyncSelect(SOCKET s, HWND HWindow, unsigned wMsg, long lEvent)
{
    return Entry<decltype(&ws_WSAAsyncSelect)>(ixWSAAsyncSelect, "WSAAsyncSelect")(s, HWindow, wMsg, lEvent);
}

servent* WSocket_getservbyname(const char* name, const char* proto)
{
    return Entry<decltype(&ws_getservbyname)>(ixgetservbyname, "getservbyname")(name, proto);
}

protoent* WSocket_getprotobyname(const char* name)
{
    return Entry<decltype(&ws_getprotobyname)>(ixgetprotobyname, "getprotobyname")(name);
}

hostent* WSocket_gethostbyname(const char* name)
{
    return Entry<decltype(&ws_gethostbyname)>(ixgethostbyname, "gethostbyname")(name);
}

hostent* WSocket_gethostbyaddr(const char* addr, int len, int Struct)
{
    return Entry<decltype(&ws_gethostbyaddr)>(ixgethostbyaddr, "gethostbyaddr")(addr, len, Struct);
}

int WSocket_gethostname(char* name, int len)
{
    return Entry<decltype(&ws_gethostname)>(ixgethostname, "gethostname")(name, len);
}

SOCKET WSocket_socket(int af, int Struct, int protocol)
{
    return Entry<decltype(&ws_socket)>(ixsocket, "socket")(af, Struct, protocol);
}

int WSocket_shutdown(SOCKET s, int how)
{
    return Entry<decltype(&ws_shutdown)>(ixshutdown, "shutdown")(s, how);
}

int WSocket_setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen)
{
    return Entry<decltype(&ws_setsockopt)>(ixsetsockopt, "setsockopt")(s, level, optname, optval, optlen);
}

int WSocket_getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen)
{
    return Entry<decltype(&ws_getsockopt)>(ixgetsockopt, "getsockopt")(s, level, optname, optval, optlen);
}

int WSocket_send(SOCKET s, const void* Buf, int len, int flags)
{
    return Entry<decltype(&ws_send)>(ixsend, "send")(s, static_cast<const char*>(Buf), len, flags);
}

int WSocket_recv(SOCKET s, void* Buf, int len, int flags)
{
    return Entry<decltype(&ws_recv)>(ixrecv, "recv")(s, static_cast<char*>(Buf), len, flags);
}

int WSocket_recvfrom(SOCKET s, void* Buf, int len, int flags, sockaddr* from, int* fromlen)
{
    return Entry<decltype(&ws_recvfrom)>(ixrecvfrom, "recvfrom")(s, static_cast<char*>(Buf), len, flags, from,
                                                                 fromlen);
}

std::uint16_t WSocket_ntohs(std::uint16_t netshort)
{
    return Entry<decltype(&ws_ntohs)>(ixntohs, "ntohs")(netshort);
}

std::uint32_t WSocket_ntohl(std::uint32_t netlong)
{
    return Entry<decltype(&ws_ntohl)>(ixntohl, "ntohl")(netlong);
}

int WSocket_listen(SOCKET s, int backlog)
{
    return Entry<decltype(&ws_listen)>(ixlisten, "listen")(s, backlog);
}

int WSocket_ioctlsocket(SOCKET s, long cmd, std::uint32_t* arg)
{
    return Entry<decltype(&ws_ioctlsocket)>(ixioctlsocket, "ioctlsocket")(s, cmd, arg);
}

char* WSocket_inet_ntoa(in_addr inaddr)
{
    return Entry<decltype(&ws_inet_ntoa)>(ixinet_ntoa, "inet_ntoa")(inaddr);
}

std::uint32_t WSocket_inet_addr(const char* cp)
{
    return Entry<decltype(&ws_inet_addr)>(ixinet_addr, "inet_addr")(cp);
}

std::uint16_t WSocket_htons(std::uint16_t hostshort)
{
    return Entry<decltype(&ws_htons)>(ixhtons, "htons")(hostshort);
}

std::uint32_t WSocket_htonl(std::uint32_t hostlong)
{
    return Entry<decltype(&ws_htonl)>(ixhtonl, "htonl")(hostlong);
}

int WSocket_getsockname(SOCKET s, sockaddr* name, int* namelen)
{
    return Entry<decltype(&ws_getsockname)>(ixgetsockname, "getsockname")(s, name, namelen);
}

int WSocket_getpeername(SOCKET s, sockaddr* name, int* namelen)
{
    return Entry<decltype(&ws_getpeername)>(ixgetpeername, "getpeername")(s, name, namelen);
}

int WSocket_connect(SOCKET s, const sockaddr* name, int namelen)
{
    return Entry<decltype(&ws_connect)>(ixconnect, "connect")(s, name, namelen);
}

int WSocket_closesocket(SOCKET s)
{
    return Entry<decltype(&ws_closesocket)>(ixclosesocket, "closesocket")(s);
}

int WSocket_bind(SOCKET s, const sockaddr* addr, int namelen)
{
    return Entry<decltype(&ws_bind)>(ixbind, "bind")(s, addr, namelen);
}

SOCKET WSocket_accept(SOCKET s, sockaddr* addr, int* addrlen)
{
    return Entry<decltype(&ws_accept)>(ixaccept, "accept")(s, addr, addrlen);
}

int WSocket_sendto(SOCKET s, const void* Buf, int len, int flags, const sockaddr* addrto, int tolen)
{
    return Entry<decltype(&ws_sendto)>(ixsendto, "sendto")(s, static_cast<const char*>(Buf), len, flags, addrto,
                                                           tolen);
}
