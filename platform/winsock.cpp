#include "platform/winsock.h"

#include "platform/library_p.h"
#include "platform/winsock_p.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/sockios.h>
#include <map>
#include <mutex>
#include <pthread.h>
#include <signal.h>
#include <sys/sendfile.h>
#include <unistd.h>

namespace {

thread_local int lastWinsockError = 0;

// Handles are counted up and never reused, so a notification still queued
// for a closed socket can never be mistaken for one of a newer socket that
// happens to get the same descriptor number.
struct SocketTable {
    std::mutex lock;
    std::map<SOCKET, std::unique_ptr<SocketRecord>> sockets;
    SOCKET nextHandle = 0x100;
};

SocketTable& Table()
{
    static SocketTable* table = new SocketTable;
    return *table;
}

// Winsock counts start-ups: every WSAStartup needs its own WSACleanup, and
// the layer stays usable until the last one.
int startupCount = 0;

int IntLen(socklen_t len) { return int(len); }

} // namespace

int WinsockErrorFromErrno(int err)
{
    switch (err) {
    case 0:
        return 0;
    case EINTR:
        return WSAEINTR;
    case EBADF:
        return WSAENOTSOCK;
    case EACCES:
    case EPERM:
        return WSAEACCES;
    case EFAULT:
        return WSAEFAULT;
    case EINVAL:
        return WSAEINVAL;
    case EMFILE:
    case ENFILE:
        return WSAEMFILE;
#if EAGAIN != EWOULDBLOCK
    case EAGAIN:
#endif
    case EWOULDBLOCK:
    case EINPROGRESS:
        return WSAEWOULDBLOCK;
    case EALREADY:
        return WSAEALREADY;
    case ENOTSOCK:
        return WSAENOTSOCK;
    case EDESTADDRREQ:
        return WSAEDESTADDRREQ;
    case EMSGSIZE:
        return WSAEMSGSIZE;
    case EPROTOTYPE:
        return WSAEPROTOTYPE;
    case ENOPROTOOPT:
        return WSAENOPROTOOPT;
    case EPROTONOSUPPORT:
        return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT:
        return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP:
        return WSAEOPNOTSUPP;
    case EPFNOSUPPORT:
        return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT:
        return WSAEAFNOSUPPORT;
    case EADDRINUSE:
        return WSAEADDRINUSE;
    case EADDRNOTAVAIL:
        return WSAEADDRNOTAVAIL;
    case ENETDOWN:
        return WSAENETDOWN;
    case ENETUNREACH:
        return WSAENETUNREACH;
    case ENETRESET:
        return WSAENETRESET;
    case ECONNABORTED:
        return WSAECONNABORTED;
    // A send after the peer has gone is a reset connection to a Winsock caller.
    case ECONNRESET:
    case EPIPE:
        return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM:
        return WSAENOBUFS;
    case EISCONN:
        return WSAEISCONN;
    case ENOTCONN:
        return WSAENOTCONN;
    case ESHUTDOWN:
        return WSAESHUTDOWN;
    case ETOOMANYREFS:
        return WSAETOOMANYREFS;
    case ETIMEDOUT:
        return WSAETIMEDOUT;
    case ECONNREFUSED:
        return WSAECONNREFUSED;
    case ELOOP:
        return WSAELOOP;
    case ENAMETOOLONG:
        return WSAENAMETOOLONG;
    case EHOSTDOWN:
        return WSAEHOSTDOWN;
    case EHOSTUNREACH:
        return WSAEHOSTUNREACH;
    case ENOTEMPTY:
        return WSAENOTEMPTY;
    case EDQUOT:
        return WSAEDQUOT;
    case ESTALE:
        return WSAESTALE;
    case EREMOTE:
        return WSAEREMOTE;
    default:
        return WSAEINVAL;
    }
}

int WinsockErrorFromEai(int eai)
{
    switch (eai) {
    case 0:
        return 0;
    case EAI_NONAME:
        return WSAHOST_NOT_FOUND;
    case EAI_AGAIN:
        return WSATRY_AGAIN;
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
#endif
        return WSANO_DATA;
    case EAI_MEMORY:
        return WSAENOBUFS;
    default:
        return WSANO_RECOVERY;
    }
}

void SetWinsockError(int error) { lastWinsockError = error; }
void SetWinsockErrorFromErrno() { lastWinsockError = WinsockErrorFromErrno(errno); }

SocketRecord* FindSocket(SOCKET s)
{
    SocketTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    const auto it = table.sockets.find(s);
    if (it == table.sockets.end()) {
        SetWinsockError(WSAENOTSOCK);
        return nullptr;
    }
    return it->second.get();
}

SOCKET RegisterSocket(int fd, int type)
{
    auto rec = std::make_unique<SocketRecord>();
    rec->fd = fd;
    rec->type = type;
    SocketTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    const SOCKET handle = table.nextHandle++;
    table.sockets.emplace(handle, std::move(rec));
    return handle;
}

int WinsockOpenSocketCount()
{
    SocketTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    return int(table.sockets.size());
}

int WinsockNativeHandle(SOCKET s)
{
    SocketRecord* rec = FindSocket(s);
    return rec ? rec->fd : -1;
}

// --- Library start-up -----------------------------------------------------

int ws_WSAStartup(std::uint16_t versionRequested, WSADATA* data)
{
    const int major = versionRequested & 0xFF;
    const int minor = (versionRequested >> 8) & 0xFF;
    if (major < 1 || (major == 1 && minor < 1))
        return WSAVERNOTSUPPORTED;
    if (data == nullptr)
        return WSAEFAULT;
    *data = WSADATA{};
    data->wVersion = MakeWord(1, 1);
    data->wHighVersion = MakeWord(2, 2);
    std::strncpy(data->szDescription, "Tarvik sockets 1.1 over Linux POSIX sockets", sizeof data->szDescription - 1);
    std::strncpy(data->szSystemStatus, "Running", sizeof data->szSystemStatus - 1);
    data->iMaxSockets = 32767;
    data->iMaxUdpDg = 65467;
    ++startupCount;
    NoteWinsockStartup();
    return 0;
}

int ws_WSACleanup()
{
    if (startupCount == 0) {
        SetWinsockError(WSANOTINITIALISED);
        return SOCKET_ERROR;
    }
    --startupCount;
    NoteWinsockCleanup();
    return 0;
}

void ws_WSASetLastError(int error) { SetWinsockError(error); }
int ws_WSAGetLastError() { return lastWinsockError; }

// --- Sockets --------------------------------------------------------------

SOCKET ws_socket(int af, int type, int protocol)
{
    const int fd = ::socket(af, type | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        SetWinsockErrorFromErrno();
        return INVALID_SOCKET;
    }
    return RegisterSocket(fd, type);
}

int ws_closesocket(SOCKET s)
{
    std::unique_ptr<SocketRecord> rec;
    {
        SocketTable& table = Table();
        std::lock_guard<std::mutex> guard(table.lock);
        const auto it = table.sockets.find(s);
        if (it == table.sockets.end()) {
            SetWinsockError(WSAENOTSOCK);
            return SOCKET_ERROR;
        }
        rec = std::move(it->second);
        table.sockets.erase(it);
    }
    SelectRelease(*rec);
    // close() reports errors only for descriptors that are already gone.
    ::close(rec->fd);
    return 0;
}

int ws_shutdown(SOCKET s, int how)
{
    SocketRecord* rec = FindSocket(s);
    if (!rec)
        return SOCKET_ERROR;
    if (::shutdown(rec->fd, how) != 0) {
        SetWinsockErrorFromErrno();
        return SOCKET_ERROR;
    }
    return 0;
}

int ws_setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen)
{
    SocketRecord* rec = FindSocket(s);
    if (!rec)
        return SOCKET_ERROR;
    if (::setsockopt(rec->fd, level, optname, optval, socklen_t(optlen)) != 0) {
        SetWinsockErrorFromErrno();
        return SOCKET_ERROR;
    }
    return 0;
}

int ws_getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen)
{
    SocketRecord* rec = FindSocket(s);
    if (!rec)
        return SOCKET_ERROR;
    if (optlen == nullptr || *optlen < 0) {
        SetWinsockError(WSAEFAULT);
        return SOCKET_ERROR;
    }
    socklen_t len = socklen_t(*optlen);
    if (::getsockopt(rec->fd, level, optname, optval, &len) != 0) {
        SetWinsockErrorFromErrno();
        return SOCKET_ERROR;
    }
    *optlen = IntLen(len);
    // Callers read SO_ERROR as a Winsock error number.
    if (level == SOL_SOCKET && optname == SO_ERROR && len >= socklen_t(sizeof(int))) {
        int value = 0;
        std::memcpy(&value, optval, sizeof value);
        value = WinsockErrorFromErrno(value);
        std::memcpy(optval, &value, sizeof value);
    }
    return 0;
}

namespace {

// A send's result as Winsock gives it: the bytes sent, or SOCKET_ERROR with
// the error set; "would block" arms FD_WRITE for when the socket has room.
int SendResult(SOCKET s, SocketRecord& rec, ssize_t n)
{
    if (n >= 0)
        return int(n);
    SetWinsockErrorFromErrno();
    if (lastWinsockError == WSAEWOULDBLOCK)
        SelectWouldBlockOnSend(s, rec);
    return SOCKET_ERROR;
}

// sendfile() has no MSG_NOSIGNAL: writing to a connection the peer has
// reset raises SIGPIPE, which would end the process. The signal is blocked
// on this thread for the call, and one the call raised is taken off the
// thread's pending set before the old mask returns, unless one was already
// pending (the caller's, to be delivered as before).
ssize_t SendFileWithoutSigpipe(int socketFd, int fileFd, std::size_t count)
{
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigset_t old;
    pthread_sigmask(SIG_BLOCK, &pipe, &old);
    bool pendingBefore = false;
    if (sigismember(&old, SIGPIPE) == 1) {
        sigset_t pending;
        sigpending(&pending);
        pendingBefore = sigismember(&pending, SIGPIPE) == 1;
    }
    const ssize_t n = ::sendfile(socketFd, fileFd, nullptr, count);
    const int error = errno;
    if (n < 0 && error == EPIPE && !pendingBefore) {
        const timespec noWait{};
        while (sigtimedwait(&pipe, nullptr, &noWait) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = error;
    return n;
}

} // namespace

int ws_send(SOCKET s, const void* buf, int len, int flags)
{
    SocketRecord* rec = FindSocket(s);
    if (!rec)
        return SOCKET_ERROR;
    const ssize_t n = ::send(rec->fd, buf, size_t(len < 0 ? 0 : len), flags | MSG_NOSIGNAL);
    return SendResult(s, *rec, n);
}

int ws_TransmitFile(SOCKET s, int fileDescriptor, int count)
{
    SocketRecord* rec = FindSocket(s);
    if (!rec)
        return SOCKET_ERROR;
    const ssize_t n = SendFileWithoutSigpipe(rec->fd, fileDescriptor, size_t(count < 0 ? 0 : count));
    return SendResult(s, *rec, n);
}

int ws_sendto(SOCKET s, const void* buf, int len, int flags, const sockaddr* to, int tolen)
{
    SocketRecord* rec = FindSocket(s);
    if (!rec)
        return SOCKET_ERROR;
    const ssize_t n = ::sendto(rec->fd, buf, size_t(len < 0 ? 0 : len), flags | MSG_NOSIGNAL, to, socklen_t(tolen));
    return SendResult(s, *rec, n);
}

int ws_recv(SOCKET s, void* buf, int len, int flags)
{
    SocketRecord* rec = FindSocket(s);
    if (!rec)
        return SOCKET_ERROR;
    const ssize_t n = ::recv(rec->fd, buf, size_t(len < 0 ? 0 : len), flags);
    const int saved = errno;
    // Every receive re-enables the read notification (Winsock's rule).
    SelectAfterRecv(s, *rec);
    if (n < 0) {
        SetWinsockError(WinsockErrorFromErrno(saved));
        return SOCKET_ERROR;
    }
    return int(n);
}

int ws_recvfrom(SOCKET s, void* buf, int len, int flags, sockaddr* from, int* fromlen)
{
    SocketRecord* rec = FindSocket(s);
    if (!rec)
        return SOCKET_ERROR;
    socklen_t flen = fromlen ? socklen_t(*fromlen) : 0;
    const ssize_t n = ::recvfrom(rec->fd, buf, size_t(len < 0 ? 0 : len), flags, from, fromlen ? &flen : nullptr);
    const int saved = errno;
    SelectAfterRecv(s, *rec);
    if (n < 0) {
        SetWinsockError(WinsockErrorFromErrno(saved));
        return SOCKET_ERROR;
    }
    if (fromlen)
        *fromlen = IntLen(flen);
    return int(n);
}

int ws_listen(SOCKET s, int backlog)
{
    SocketRecord* rec = FindSocket(s);
    if (!rec)
        return SOCKET_ERROR;
    if (::listen(rec->fd, backlog) != 0) {
        SetWinsockErrorFromErrno();
        return SOCKET_ERROR;
    }
    rec->listening = true;
    SelectAfterListen(s, *rec);
    return 0;
}

SOCKET ws_accept(SOCKET s, sockaddr* addr, int* addrlen)
{
    SocketRecord* rec = FindSocket(s);
    if (!rec)
        return INVALID_SOCKET;
    socklen_t len = addrlen ? socklen_t(*addrlen) : 0;
    const int fd = ::accept4(rec->fd, addr, addrlen ? &len : nullptr, SOCK_CLOEXEC);
    const int saved = errno;
    SelectAfterAccept(s, *rec);
    if (fd < 0) {
        SetWinsockError(WinsockErrorFromErrno(saved));
        return INVALID_SOCKET;
    }
    if (addrlen)
        *addrlen = IntLen(len);
    const SOCKET accepted = RegisterSocket(fd, rec->type);
    // Like Winsock, the accepted socket inherits the listener's notification
    // settings until its new owner selects its own.
    SelectInheritForAccepted(s, accepted);
    return accepted;
}

int ws_ioctlsocket(SOCKET s, long cmd, std::uint32_t* argp)
{
    SocketRecord* rec = FindSocket(s);
    if (!rec)
        return SOCKET_ERROR;
    if (argp == nullptr) {
        SetWinsockError(WSAEFAULT);
        return SOCKET_ERROR;
    }
    if (cmd == long(FIONREAD)) {
        int avail = 0;
        if (::ioctl(rec->fd, FIONREAD, &avail) != 0) {
            SetWinsockErrorFromErrno();
            return SOCKET_ERROR;
        }
        *argp = std::uint32_t(avail < 0 ? 0 : avail);
        return 0;
    }
    if (cmd == long(FIONBIO)) {
        const int flags = ::fcntl(rec->fd, F_GETFL);
        const int wanted = *argp ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
        if (flags < 0 || ::fcntl(rec->fd, F_SETFL, wanted) != 0) {
            SetWinsockErrorFromErrno();
            return SOCKET_ERROR;
        }
        return 0;
    }
    if (cmd == long(SIOCOUTQ)) {
        // Bytes the peer has not yet acknowledged (TCP's send queue).
        int queued = 0;
        if (::ioctl(rec->fd, SIOCOUTQ, &queued) != 0) {
            SetWinsockErrorFromErrno();
            return SOCKET_ERROR;
        }
        *argp = std::uint32_t(queued < 0 ? 0 : queued);
        return 0;
    }
    SetWinsockError(WSAEINVAL);
    return SOCKET_ERROR;
}

int ws_getsockname(SOCKET s, sockaddr* name, int* namelen)
{
    SocketRecord* rec = FindSocket(s);
    if (!rec)
        return SOCKET_ERROR;
    socklen_t len = namelen ? socklen_t(*namelen) : 0;
    if (::getsockname(rec->fd, name, &len) != 0) {
        SetWinsockErrorFromErrno();
        return SOCKET_ERROR;
    }
    if (namelen)
        *namelen = IntLen(len);
    return 0;
}

int ws_getpeername(SOCKET s, sockaddr* name, int* namelen)
{
    SocketRecord* rec = FindSocket(s);
    if (!rec)
        return SOCKET_ERROR;
    socklen_t len = namelen ? socklen_t(*namelen) : 0;
    if (::getpeername(rec->fd, name, &len) != 0) {
        SetWinsockErrorFromErrno();
        return SOCKET_ERROR;
    }
    if (namelen)
        *namelen = IntLen(len);
    return 0;
}

int ws_connect(SOCKET s, const sockaddr* name, int namelen)
{
    SocketRecord* rec = FindSocket(s);
    if (!rec)
        return SOCKET_ERROR;
    if (::connect(rec->fd, name, socklen_t(namelen)) == 0) {
        SelectConnectFinishedAtOnce(s, *rec, 0);
        return 0;
    }
    const int err = WinsockErrorFromErrno(errno);
    const bool nonBlocking = (::fcntl(rec->fd, F_GETFL) & O_NONBLOCK) != 0;
    if (err == WSAEWOULDBLOCK) {
        SelectConnectStarted(s, *rec);
        SetWinsockError(WSAEWOULDBLOCK);
        return SOCKET_ERROR;
    }
    // A non-blocking Winsock connect never fails on the spot for a reason
    // that only the peer can give (refused, unreachable): the answer comes
    // with FD_CONNECT. Linux answers loopback connects at once; keep the
    // Winsock order so callers see one path.
    if (nonBlocking && rec->type == SOCK_STREAM &&
        (err == WSAECONNREFUSED || err == WSAENETUNREACH || err == WSAEHOSTUNREACH || err == WSAETIMEDOUT)) {
        SelectConnectFinishedAtOnce(s, *rec, err);
        SetWinsockError(WSAEWOULDBLOCK);
        return SOCKET_ERROR;
    }
    SetWinsockError(err);
    return SOCKET_ERROR;
}

int ws_bind(SOCKET s, const sockaddr* name, int namelen)
{
    SocketRecord* rec = FindSocket(s);
    if (!rec)
        return SOCKET_ERROR;
    if (::bind(rec->fd, name, socklen_t(namelen)) != 0) {
        SetWinsockErrorFromErrno();
        return SOCKET_ERROR;
    }
    return 0;
}

// --- Conversions ----------------------------------------------------------

std::uint16_t ws_ntohs(std::uint16_t v) { return ntohs(v); }
std::uint32_t ws_ntohl(std::uint32_t v) { return ntohl(v); }
std::uint16_t ws_htons(std::uint16_t v) { return htons(v); }
std::uint32_t ws_htonl(std::uint32_t v) { return htonl(v); }
char* ws_inet_ntoa(in_addr in) { return ::inet_ntoa(in); }

int ws_inet_pton(int af, const char* src, void* dst)
{
    if (src == nullptr || dst == nullptr) {
        SetWinsockError(WSAEFAULT);
        return SOCKET_ERROR;
    }
    const int rc = ::inet_pton(af, src, dst);
    if (rc < 0)
        SetWinsockError(WSAEAFNOSUPPORT);
    return rc;
}

const char* ws_inet_ntop(int af, const void* src, char* dst, int size)
{
    if (src == nullptr || dst == nullptr || size <= 0) {
        SetWinsockError(WSAEFAULT);
        return nullptr;
    }
    const char* text = ::inet_ntop(af, src, dst, socklen_t(size));
    if (text == nullptr)
        SetWinsockError(errno == ENOSPC ? WSAEFAULT : WSAEAFNOSUPPORT);
    return text;
}
std::uint32_t ws_inet_addr(const char* cp) { return cp ? ::inet_addr(cp) : INADDR_NONE; }
