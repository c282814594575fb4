// Name lookups: the blocking Winsock calls and their asynchronous forms.
//
// An asynchronous lookup runs getaddrinfo/getnameinfo on a lookup thread. The
// worker keeps its answer to itself; the answer is copied into the caller's
// buffer on the caller's thread, immediately before the completion message
// is handled (a prelude of the posted message). A request that was cancelled
// in the meantime is no longer in the table, so its answer is thrown away
// and the caller's buffer is never touched, even if its owner is gone.

#include "platform/winsock.h"
#include "platform/winsock_p.h"
#include "platform/lookupthreads.h"

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <strings.h>
#include <unistd.h>
#include <vector>

namespace {

// One address of either family, exactly as long as its family needs.
struct AnyAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;
};

struct HostAnswer {
    int error = 0;
    std::string name;
    // Raw addresses in network byte order: 4 bytes each, or 16 for a
    // reverse lookup of an IPv6 address (family AF_INET6).
    int family = AF_INET;
    std::vector<std::string> addresses;
    // Set for WSAAsyncGetAddrInfo: the answer is `all`, written as an
    // address list instead of a hostent.
    bool addressList = false;
    std::vector<AnyAddress> all;
};

int WinsockErrorFromAddrInfo(int eai) { return eai == EAI_FAMILY ? WSAEAFNOSUPPORT : WinsockErrorFromEai(eai); }

// Every address of `name` of the given family (AF_UNSPEC: all), in the
// resolver's order, without repeats.
HostAnswer ResolveAll(const std::string& name, int family)
{
    HostAnswer answer;
    answer.addressList = true;
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
    if (rc != 0) {
        answer.error = WinsockErrorFromAddrInfo(rc);
        return answer;
    }
    for (const addrinfo* ai = list; ai; ai = ai->ai_next) {
        if ((ai->ai_family != AF_INET && ai->ai_family != AF_INET6) || ai->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        AnyAddress a;
        std::memcpy(&a.storage, ai->ai_addr, ai->ai_addrlen);
        a.length = ai->ai_addrlen;
        bool seen = false;
        for (const AnyAddress& b : answer.all)
            seen = seen || (a.length == b.length && std::memcmp(&a.storage, &b.storage, a.length) == 0);
        if (!seen)
            answer.all.push_back(a);
    }
    ::freeaddrinfo(list);
    if (answer.all.empty())
        answer.error = WSANO_DATA;
    return answer;
}

HostAnswer ResolveName(const std::string& name)
{
    HostAnswer answer;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* list = nullptr;
    const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
    if (rc != 0) {
        answer.error = WinsockErrorFromEai(rc);
        return answer;
    }
    answer.name = (list && list->ai_canonname) ? list->ai_canonname : name;
    for (const addrinfo* ai = list; ai; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET)
            continue;
        const auto* sin = reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
        const std::string a(reinterpret_cast<const char*>(&sin->sin_addr), 4);
        bool seen = false;
        for (const std::string& b : answer.addresses)
            seen = seen || a == b;
        if (!seen)
            answer.addresses.push_back(a);
    }
    ::freeaddrinfo(list);
    if (answer.addresses.empty())
        answer.error = WSANO_DATA;
    return answer;
}

// The name of a raw address: 4 bytes of IPv4 or 16 of IPv6.
HostAnswer ResolveAddress(const std::string& address)
{
    HostAnswer answer;
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (address.size() == 16) {
        auto* sin6 = reinterpret_cast<sockaddr_in6*>(&storage);
        sin6->sin6_family = AF_INET6;
        std::memcpy(&sin6->sin6_addr, address.data(), 16);
        length = sizeof(sockaddr_in6);
        answer.family = AF_INET6;
    } else {
        auto* sin = reinterpret_cast<sockaddr_in*>(&storage);
        sin->sin_family = AF_INET;
        std::memcpy(&sin->sin_addr, address.data(), 4);
        length = sizeof(sockaddr_in);
    }
    char host[NI_MAXHOST] = {};
    const int rc = ::getnameinfo(reinterpret_cast<const sockaddr*>(&storage), length, host, sizeof host, nullptr, 0,
                                 NI_NAMEREQD);
    if (rc != 0) {
        answer.error = WinsockErrorFromEai(rc);
        return answer;
    }
    answer.name = host;
    answer.addresses.push_back(address);
    return answer;
}

// The raw address of a reverse lookup request, or "" when its length and
// type do not match (4 bytes of AF_INET, 16 of AF_INET6).
std::string RawAddress(const char* addr, int len, int type)
{
    if (addr == nullptr || !((len == 4 && type == AF_INET) || (len == 16 && type == AF_INET6)))
        return "";
    return std::string(addr, std::size_t(len));
}

// Lays a hostent out in `buf` with every pointer pointing into `buf`.
// Returns the bytes used, or 0 when the buffer is too small for even one
// address.
int WriteHostent(const HostAnswer& answer, char* buf, int buflen)
{
    const std::size_t ptr = sizeof(char*);
    const std::size_t width = answer.family == AF_INET6 ? 16 : 4;
    std::size_t count = answer.addresses.size();
    auto needed = [&](std::size_t n) {
        return sizeof(hostent) + ptr /* aliases: empty list */ + ptr * (n + 1) + width * n + answer.name.size() + 1;
    };
    while (count > 0 && needed(count) > std::size_t(buflen))
        --count;
    if (count == 0 || needed(count) > std::size_t(buflen))
        return 0;

    auto* he = reinterpret_cast<hostent*>(buf);
    char* cursor = buf + sizeof(hostent);
    auto** aliases = reinterpret_cast<char**>(cursor);
    aliases[0] = nullptr;
    cursor += ptr;
    auto** addrList = reinterpret_cast<char**>(cursor);
    cursor += ptr * (count + 1);
    for (std::size_t i = 0; i < count; ++i) {
        std::memcpy(cursor, answer.addresses[i].data(), width);
        addrList[i] = cursor;
        cursor += width;
    }
    addrList[count] = nullptr;
    std::memcpy(cursor, answer.name.c_str(), answer.name.size() + 1);
    he->h_name = cursor;
    cursor += answer.name.size() + 1;
    he->h_aliases = aliases;
    he->h_addrtype = answer.family;
    he->h_length = int(width);
    he->h_addr_list = addrList;
    return int(cursor - buf);
}

// Lays a SOCKET_ADDRESS_LIST out in `buf`: the list, its entries, then the
// addresses, every pointer pointing into `buf`. Keeps as many addresses as
// fit; returns the bytes used, or 0 when not even one fits.
int WriteAddressList(const HostAnswer& answer, char* buf, int buflen)
{
    const std::size_t limit = buflen > 0 ? std::size_t(buflen) : 0;
    std::size_t count = answer.all.size();
    auto needed = [&](std::size_t n) {
        std::size_t bytes = sizeof(SOCKET_ADDRESS_LIST) + n * sizeof(SOCKET_ADDRESS);
        for (std::size_t i = 0; i < n; ++i)
            bytes += answer.all[i].length;
        return bytes;
    };
    while (count > 0 && needed(count) > limit)
        --count;
    if (count == 0)
        return 0;

    auto* list = reinterpret_cast<SOCKET_ADDRESS_LIST*>(buf);
    auto* entries = reinterpret_cast<SOCKET_ADDRESS*>(buf + sizeof(SOCKET_ADDRESS_LIST));
    char* cursor = buf + sizeof(SOCKET_ADDRESS_LIST) + count * sizeof(SOCKET_ADDRESS);
    for (std::size_t i = 0; i < count; ++i) {
        std::memcpy(cursor, &answer.all[i].storage, answer.all[i].length);
        entries[i].lpSockaddr = reinterpret_cast<sockaddr*>(cursor);
        entries[i].iSockaddrLength = int(answer.all[i].length);
        cursor += answer.all[i].length;
    }
    list->iAddressCount = int(count);
    list->Address = entries;
    return int(cursor - buf);
}

struct PendingLookup {
    HWND window = 0;
    unsigned msg = 0;
    char* buf = nullptr;
    int buflen = 0;
};

struct LookupTable {
    std::mutex lock;
    std::map<ASYNC_HANDLE, PendingLookup> pending;
    ASYNC_HANDLE next = 1;
};

LookupTable& Lookups()
{
    static LookupTable* table = new LookupTable;
    return *table;
}

// Delivers the answer of request `handle`, if it is still wanted.
void Complete(ASYNC_HANDLE handle, const HostAnswer& answer)
{
    LookupTable& table = Lookups();
    PendingLookup target;
    {
        std::lock_guard<std::mutex> guard(table.lock);
        const auto it = table.pending.find(handle);
        if (it == table.pending.end())
            return; // cancelled
        target = it->second;
    }
    auto shared = std::make_shared<HostAnswer>(answer);
    auto prelude = [handle, shared](TMessage& message) {
        LookupTable& t = Lookups();
        std::lock_guard<std::mutex> guard(t.lock);
        const auto it = t.pending.find(handle);
        if (it == t.pending.end())
            return; // cancelled after the message was posted
        int length = 0;
        if (shared->error == 0) {
            length = shared->addressList ? WriteAddressList(*shared, it->second.buf, it->second.buflen)
                                         : WriteHostent(*shared, it->second.buf, it->second.buflen);
            if (length == 0)
                shared->error = WSAENOBUFS;
        }
        message.LParam = MakeLong(std::uint16_t(length), std::uint16_t(shared->error));
        t.pending.erase(it);
    };
    // The prelude sets the final lParam (length and error) once it knows
    // whether the answer fitted into the caller's buffer.
    const bool posted = PostMessageWithPrelude(target.window, target.msg, WPARAM(handle),
                                               MakeLong(0, std::uint16_t(answer.error)), prelude);
    if (!posted) {
        std::lock_guard<std::mutex> guard(table.lock);
        table.pending.erase(handle);
    }
}

template <typename Work>
ASYNC_HANDLE StartLookup(HWND window, unsigned msg, char* buf, int buflen, Work work)
{
    if (buf == nullptr || buflen <= 0) {
        SetWinsockError(WSAEFAULT);
        return 0;
    }
    LookupTable& table = Lookups();
    ASYNC_HANDLE handle = 0;
    {
        std::lock_guard<std::mutex> guard(table.lock);
        handle = table.next++;
        if (table.next == 0)
            table.next = 1;
        table.pending.emplace(handle, PendingLookup{window, msg, buf, buflen});
    }
    TLookupThreads::Instance().Start([handle, work]() { Complete(handle, work()); });
    return handle;
}

// Storage for the blocking calls' answers: valid until the next call on
// the same thread, as with Winsock.
struct alignas(hostent) HostentStorage {
    char bytes[2048];
};
thread_local HostentStorage hostentStorage;

} // namespace

ASYNC_HANDLE ws_WSAAsyncGetHostByName(HWND window, unsigned msg, const char* name, char* buf, int buflen)
{
    if (name == nullptr) {
        SetWinsockError(WSAEFAULT);
        return 0;
    }
    const std::string host(name);
    return StartLookup(window, msg, buf, buflen, [host] { return ResolveName(host); });
}

ASYNC_HANDLE ws_WSAAsyncGetHostByAddr(HWND window, unsigned msg, const char* addr, int len, int type, char* buf,
                                      int buflen)
{
    const std::string address = RawAddress(addr, len, type);
    if (address.empty()) {
        SetWinsockError(addr == nullptr ? WSAEFAULT : WSAEAFNOSUPPORT);
        return 0;
    }
    return StartLookup(window, msg, buf, buflen, [address] { return ResolveAddress(address); });
}

ASYNC_HANDLE ws_WSAAsyncGetAddrInfo(HWND window, unsigned msg, const char* name, int family, char* buf, int buflen)
{
    if (name == nullptr) {
        SetWinsockError(WSAEFAULT);
        return 0;
    }
    if (family != AF_UNSPEC && family != AF_INET && family != AF_INET6) {
        SetWinsockError(WSAEAFNOSUPPORT);
        return 0;
    }
    const std::string host(name);
    return StartLookup(window, msg, buf, buflen, [host, family] { return ResolveAll(host, family); });
}

int ws_getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result)
{
    if (result == nullptr || (node == nullptr && service == nullptr)) {
        const int error = result == nullptr ? WSAEFAULT : WSAHOST_NOT_FOUND;
        SetWinsockError(error);
        return error;
    }
    *result = nullptr;
    const int rc = ::getaddrinfo(node, service, hints, result);
    if (rc == 0)
        return 0;
    *result = nullptr;
    const int error = WinsockErrorFromAddrInfo(rc);
    SetWinsockError(error);
    return error;
}

void ws_freeaddrinfo(addrinfo* list)
{
    if (list != nullptr)
        ::freeaddrinfo(list);
}

int ws_getnameinfo(const sockaddr* addr, int addrlen, char* host, int hostlen, char* serv, int servlen, int flags)
{
    if (addr == nullptr || addrlen <= 0) {
        SetWinsockError(WSAEFAULT);
        return WSAEFAULT;
    }
    const int rc = ::getnameinfo(addr, socklen_t(addrlen), host, host ? socklen_t(hostlen) : 0, serv,
                                 serv ? socklen_t(servlen) : 0, flags);
    if (rc == 0)
        return 0;
    const int error = WinsockErrorFromAddrInfo(rc);
    SetWinsockError(error);
    return error;
}

int ws_WSACancelAsyncRequest(ASYNC_HANDLE handle)
{
    LookupTable& table = Lookups();
    std::lock_guard<std::mutex> guard(table.lock);
    if (table.pending.erase(handle) == 0) {
        SetWinsockError(WSAEINVAL);
        return SOCKET_ERROR;
    }
    return 0;
}

hostent* ws_gethostbyname(const char* name)
{
    if (name == nullptr) {
        SetWinsockError(WSAEFAULT);
        return nullptr;
    }
    const HostAnswer answer = ResolveName(name);
    if (answer.error != 0) {
        SetWinsockError(answer.error);
        return nullptr;
    }
    if (WriteHostent(answer, hostentStorage.bytes, sizeof hostentStorage.bytes) == 0) {
        SetWinsockError(WSAENOBUFS);
        return nullptr;
    }
    return reinterpret_cast<hostent*>(hostentStorage.bytes);
}

hostent* ws_gethostbyaddr(const char* addr, int len, int type)
{
    const std::string address = RawAddress(addr, len, type);
    if (address.empty()) {
        SetWinsockError(addr == nullptr ? WSAEFAULT : WSAEAFNOSUPPORT);
        return nullptr;
    }
    const HostAnswer answer = ResolveAddress(address);
    if (answer.error != 0) {
        SetWinsockError(answer.error);
        return nullptr;
    }
    if (WriteHostent(answer, hostentStorage.bytes, sizeof hostentStorage.bytes) == 0) {
        SetWinsockError(WSAENOBUFS);
        return nullptr;
    }
    return reinterpret_cast<hostent*>(hostentStorage.bytes);
}

int ws_gethostname(char* name, int namelen)
{
    if (name == nullptr || namelen <= 0) {
        SetWinsockError(WSAEFAULT);
        return SOCKET_ERROR;
    }
    if (::gethostname(name, std::size_t(namelen)) != 0) {
        SetWinsockErrorFromErrno();
        return SOCKET_ERROR;
    }
    name[namelen - 1] = '\0';
    return 0;
}

// A minimal machine may lack /etc/services and /etc/protocols (Debian's
// netbase); the names every client of ours uses still resolve.
namespace {
struct KnownName {
    const char* name;
    int number;
};
const KnownName knownServices[] = {{"ftp-data", 20}, {"ftp", 21},  {"ssh", 22},   {"telnet", 23}, {"smtp", 25},
                                   {"domain", 53},   {"http", 80}, {"pop3", 110}, {"https", 443}, {"socks", 1080}};
const KnownName knownProtocols[] = {{"ip", 0}, {"icmp", 1}, {"tcp", 6}, {"udp", 17}};
char knownTcp[] = "tcp";
} // namespace

servent* ws_getservbyname(const char* name, const char* proto)
{
    thread_local servent entry;
    thread_local char buffer[1024];
    servent* result = nullptr;
    if (name != nullptr && ::getservbyname_r(name, proto, &entry, buffer, sizeof buffer, &result) == 0 && result)
        return result;
    if (name != nullptr && (proto == nullptr || std::strcmp(proto, "tcp") == 0 || std::strcmp(proto, "udp") == 0)) {
        for (const KnownName& k : knownServices) {
            if (std::strcmp(k.name, name) != 0)
                continue;
            std::strncpy(buffer, k.name, sizeof buffer - 1);
            entry = servent{};
            entry.s_name = buffer;
            entry.s_aliases = nullptr;
            entry.s_port = int(htons(std::uint16_t(k.number)));
            entry.s_proto = knownTcp;
            return &entry;
        }
    }
    SetWinsockError(WSANO_DATA);
    return nullptr;
}

protoent* ws_getprotobyname(const char* name)
{
    thread_local protoent entry;
    thread_local char buffer[1024];
    protoent* result = nullptr;
    if (name != nullptr && ::getprotobyname_r(name, &entry, buffer, sizeof buffer, &result) == 0 && result)
        return result;
    if (name != nullptr) {
        for (const KnownName& k : knownProtocols) {
            if (strcasecmp(k.name, name) != 0)
                continue;
            std::strncpy(buffer, k.name, sizeof buffer - 1);
            entry = protoent{};
            entry.p_name = buffer;
            entry.p_aliases = nullptr;
            entry.p_proto = k.number;
            return &entry;
        }
    }
    SetWinsockError(WSANO_DATA);
    return nullptr;
}
