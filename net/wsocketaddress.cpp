#include "net/wsocketaddress.h"

#include "net/esocketexception.h"
#include "net/winsockloader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string Formatted(const char* fmt, const std::string& arg)
{
    const int n = std::snprintf(nullptr, 0, fmt, arg.c_str());
    std::string out(std::size_t(n > 0 ? n : 0), '\0');
    std::snprintf(out.data(), out.size() + 1, fmt, arg.c_str());
    return out;
}

} // namespace

std::string TrimBlanks(const std::string& S)
{
    std::size_t first = 0;
    while (first < S.size() && (IsBlank(S[first]) || S[first] == '\0'))
        ++first;
    std::size_t last = S.size();
    while (last > first && (IsBlank(S[last - 1]) || S[last - 1] == '\0'))
        --last;
    return S.substr(first, last - first);
}

long ParseDecimal(const std::string& S)
{
    std::size_t i = 0;
    while (i < S.size() && S[i] == ' ')
        ++i;
    long value = 0;
    while (i < S.size() && IsDigit(S[i])) {
        // Saturate instead of overflowing on absurdly long digit runs.
        if (value < 100000000L)
            value = value * 10 + (S[i] - '0');
        ++i;
    }
    return value;
}

bool WSocketIsDottedIP(const std::string& S)
{
    std::size_t i = 0;
    const std::size_t n = S.size();
    while (i < n && S[i] == ' ')
        ++i;
    if (i < n && S[i] == '.')
        return false;
    int dots = 0;
    long part = 0;
    while (i < n) {
        const char c = S[i];
        if (IsDigit(c)) {
            // Values are only compared with 255: stop growing once above it.
            if (part <= 255)
                part = part * 10 + (c - '0');
            ++i;
            continue;
        }
        if (c == '.') {
            ++dots;
            if (dots > 3 || part > 255 || i + 1 >= n || !IsDigit(S[i + 1]))
                return false;
            part = 0;
            ++i;
            continue;
        }
        if (c == ' ') {
            while (i < n && S[i] == ' ')
                ++i;
            if (i < n)
                return false;
            break;
        }
        return false;
    }
    return dots == 3 && part <= 255;
}

std::uint32_t WSocketResolveHost(const std::string& InAddr)
{
    if (InAddr.empty() || InAddr.size() > 256)
        throw ESocketException("WSocketResolveHost: '" + InAddr + "' Invalid Hostname.");
    const std::string host = TrimBlanks(InAddr);
    if (WSocketIsDottedIP(host)) {
        const std::uint32_t addr = WSocket_inet_addr(host.c_str());
        if (addr == INADDR_NONE && host != "255.255.255.255")
            throw ESocketException("WSocketResolveHost: '" + InAddr + "' Invalid IP address.");
        return addr;
    }
    hostent* entry = WSocket_gethostbyname(host.c_str());
    if (entry == nullptr || entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr)
        throw ESocketException(Formatted("WSocketResolveHost: Cannot convert host address '%s'", InAddr));
    std::uint32_t addr = 0;
    std::memcpy(&addr, entry->h_addr_list[0], sizeof addr);
    return addr;
}

std::uint16_t WSocketResolvePort(const std::string& Port, const std::string& Proto)
{
    if (Port.empty() || Port.size() >= 32)
        throw ESocketException("WSocketResolvePort: Invalid Port.");
    if (IsDigit(Port[0]))
        return std::uint16_t(ParseDecimal(Port));
    const std::string name = TrimBlanks(Port);
    const std::string proto = TrimBlanks(Proto);
    servent* entry = WSocket_getservbyname(name.c_str(), proto.empty() ? nullptr : proto.c_str());
    if (entry == nullptr)
        throw ESocketException(Formatted("WSocketResolvePort: Cannot convert port '%s'", Port));
    return WSocket_ntohs(std::uint16_t(entry->s_port));
}

int WSocketResolveProto(const std::string& sProto)
{
    if (sProto.empty() || sProto.size() >= 32)
        throw ESocketException("WSocketResolveProto: Invalid Protocol.");
    const std::string proto = TrimBlanks(sProto);
    if (!proto.empty() && IsDigit(proto[0]))
        return int(ParseDecimal(proto));
    // The two every connection names are fixed by IANA; /etc/protocols only
    // repeats them, and reading it for every data connection costs more
    // than a small transfer's own work.
    if (strcasecmp(proto.c_str(), "tcp") == 0)
        return IPPROTO_TCP;
    if (strcasecmp(proto.c_str(), "udp") == 0)
        return IPPROTO_UDP;
    protoent* entry = WSocket_getprotobyname(proto.c_str());
    if (entry == nullptr)
        throw ESocketException(Formatted("WSocketResolveProto: Cannot convert protocol '%s'", sProto));
    return entry->p_proto;
}

std::uint16_t TWSocketAddress::Port() const
{
    if (Family() == AF_INET6)
        return WSocket_ntohs(reinterpret_cast<const sockaddr_in6*>(&Storage)->sin6_port);
    if (Family() == AF_INET)
        return WSocket_ntohs(reinterpret_cast<const sockaddr_in*>(&Storage)->sin_port);
    return 0;
}

void TWSocketAddress::SetPort(std::uint16_t HostOrderPort)
{
    if (Family() == AF_INET6)
        reinterpret_cast<sockaddr_in6*>(&Storage)->sin6_port = WSocket_htons(HostOrderPort);
    else if (Family() == AF_INET)
        reinterpret_cast<sockaddr_in*>(&Storage)->sin_port = WSocket_htons(HostOrderPort);
}

std::string WSocketStripBrackets(const std::string& S)
{
    std::string text = TrimBlanks(S);
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']')
        return text.substr(1, text.size() - 2);
    return text;
}

namespace {

// Converts a literal IPv6 address (with a zone such as "%lo" allowed)
// without any lookup.
bool ParseIPv6(const std::string& S, TWSocketAddress& Out)
{
    const std::string text = WSocketStripBrackets(S);
    if (text.empty() || text.find(':') == std::string::npos)
        return false;
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* list = nullptr;
    if (WSocket_getaddrinfo(text.c_str(), nullptr, &hints, &list) != 0 || list == nullptr)
        return false;
    const bool fits = list->ai_addrlen <= sizeof Out.Storage;
    if (fits) {
        std::memcpy(&Out.Storage, list->ai_addr, list->ai_addrlen);
        Out.Length = int(list->ai_addrlen);
    }
    WSocket_freeaddrinfo(list);
    return fits;
}

} // namespace

bool WSocketIsIPv6(const std::string& S)
{
    TWSocketAddress unused;
    return ParseIPv6(S, unused);
}

std::vector<TWSocketAddress> WSocketResolveHostAll(const std::string& Host)
{
    if (Host.empty() || Host.size() > 256)
        throw ESocketException("WSocketResolveHost: '" + Host + "' Invalid Hostname.");
    const std::string host = TrimBlanks(Host);
    std::vector<TWSocketAddress> result;
    TWSocketAddress one;
    if (WSocketIsDottedIP(host)) {
        auto* sin = reinterpret_cast<sockaddr_in*>(&one.Storage);
        sin->sin_family = AF_INET;
        sin->sin_addr.s_addr = WSocketResolveHost(host);
        one.Length = sizeof(sockaddr_in);
        result.push_back(one);
        return result;
    }
    if (ParseIPv6(host, one)) {
        result.push_back(one);
        return result;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (WSocket_getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0)
        throw ESocketException(Formatted("WSocketResolveHost: Cannot convert host address '%s'", Host));
    for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        if ((ai->ai_family != AF_INET && ai->ai_family != AF_INET6) || ai->ai_addrlen > sizeof one.Storage)
            continue;
        TWSocketAddress a;
        std::memcpy(&a.Storage, ai->ai_addr, ai->ai_addrlen);
        a.Length = int(ai->ai_addrlen);
        const bool seen = std::any_of(result.begin(), result.end(), [&](const TWSocketAddress& b) {
            return a.Length == b.Length && std::memcmp(&a.Storage, &b.Storage, std::size_t(a.Length)) == 0;
        });
        if (!seen)
            result.push_back(a);
    }
    WSocket_freeaddrinfo(list);
    if (result.empty())
        throw ESocketException(Formatted("WSocketResolveHost: Cannot convert host address '%s'", Host));
    return result;
}

std::string WSocketAddrText(const sockaddr* Addr)
{
    if (Addr == nullptr)
        return "";
    char text[INET6_ADDRSTRLEN_WS] = {};
    const void* raw = nullptr;
    if (Addr->sa_family == AF_INET)
        raw = &reinterpret_cast<const sockaddr_in*>(Addr)->sin_addr;
    else if (Addr->sa_family == AF_INET6)
        raw = &reinterpret_cast<const sockaddr_in6*>(Addr)->sin6_addr;
    else
        return "";
    const char* done = WSocket_inet_ntop(Addr->sa_family, raw, text, sizeof text);
    return done ? std::string(done) : std::string();
}

std::string WSocketHostPort(const std::string& Host, const std::string& Port)
{
    const std::string host = WSocketStripBrackets(Host);
    if (host.find(':') != std::string::npos)
        return "[" + host + "]:" + Port;
    return host + ":" + Port;
}

hostent* WSocketGetHostByName(const std::string& Name)
{
    char buffer[256];
    const std::size_t len = std::min<std::size_t>(Name.size(), sizeof buffer - 1);
    std::memcpy(buffer, Name.data(), len);
    buffer[len] = '\0';
    return WSocket_gethostbyname(buffer);
}

hostent* WSocketGetHostByAddr(const std::string& Addr)
{
    char buffer[256];
    const std::size_t len = std::min<std::size_t>(Addr.size(), sizeof buffer - 1);
    std::memcpy(buffer, Addr.data(), len);
    buffer[len] = '\0';
    in6_addr addr6;
    if (WSocket_inet_pton(AF_INET6, WSocketStripBrackets(buffer).c_str(), &addr6) == 1)
        return WSocket_gethostbyaddr(reinterpret_cast<const char*>(&addr6), sizeof addr6, AF_INET6);
    const std::uint32_t addr = WSocket_inet_addr(buffer);
    return WSocket_gethostbyaddr(reinterpret_cast<const char*>(&addr), 4, PF_INET);
}

std::string WSocketResolveIp(const std::string& IpAddr)
{
    hostent* entry = WSocketGetHostByAddr(IpAddr);
    if (entry == nullptr || entry->h_name == nullptr)
        return "";
    return entry->h_name;
}

std::string LocalHostName()
{
    char buffer[64] = {};
    if (WSocket_gethostname(buffer, sizeof buffer) != 0)
        throw ESocketException("Winsock.GetHostName failed");
    buffer[sizeof buffer - 1] = '\0';
    return buffer;
}

const std::vector<std::string>& LocalIPList()
{
    static std::vector<std::string> LocalIPs;
    LocalIPs.clear();
    hostent* entry = WSocketGetHostByName(LocalHostName());
    if (entry == nullptr || entry->h_addr_list == nullptr)
        return LocalIPs;
    for (char** p = entry->h_addr_list; *p != nullptr; ++p) {
        in_addr a;
        std::memcpy(&a, *p, sizeof a);
        LocalIPs.emplace_back(WSocket_inet_ntoa(a));
    }
    return LocalIPs;
}
