#include "net/wsocketaddress.h"

#include "net/esocketexception.h"
#include "net/winsockloader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

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
    protoent* entry = WSocket_getprotobyname(proto.c_str());
    if (entry == nullptr)
        throw ESocketException(Formatted("WSocketResolveProto: Cannot convert protocol '%s'", sProto));
    return entry->p_proto;
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
