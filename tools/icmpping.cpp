// TPing: the ping component of the tool windows (declared in tools/icmp.h).
#include "tools/icmp.h"

#include "platform/application.h"
#include "platform/winsock.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint32_t kNoAddress = 0xFFFFFFFF;

// inet_addr cannot tell "255.255.255.255" from a failure.
bool ParseDotted(const std::string& text, std::uint32_t& address)
{
    address = ws_inet_addr(text.c_str());
    return address != kNoAddress || text == "255.255.255.255";
}

std::string Dotted(std::uint32_t address)
{
    in_addr a{};
    a.s_addr = address;
    return ws_inet_ntoa(a);
}

// The text of a literal IPv6 address ("::1", "[::1]"), canonical; empty
// for anything else.
std::string IPv6Literal(const std::string& text)
{
    std::string address = text;
    if (address.size() >= 2 && address.front() == '[' && address.back() == ']')
        address = address.substr(1, address.size() - 2);
    in6_addr parsed{};
    if (address.find(':') == std::string::npos || ws_inet_pton(AF_INET6, address.c_str(), &parsed) != 1)
        return {};
    char out[INET6_ADDRSTRLEN_WS] = {};
    return ws_inet_ntop(AF_INET6, &parsed, out, sizeof out) ? std::string(out) : std::string();
}

} // namespace

TPing::TPing(QObject* owner) : QObject(owner), FIcmp(std::make_unique<TICMP>())
{
    FIcmp->OnDisplay = [this](TICMP* icmp, const std::string& msg) {
        if (OnDisplay)
            OnDisplay(this, icmp, msg);
    };
    FIcmp->OnEchoRequest = [this](TICMP* icmp) {
        if (OnEchoRequest)
            OnEchoRequest(this, icmp);
    };
    FIcmp->OnEchoReply = [this](TICMP* icmp, int error) {
        if (OnEchoReply)
            OnEchoReply(this, icmp, error);
    };
    FWindow = std::make_unique<THiddenWindow>([this](TMessage& msg) { WndProc(msg); });
}

TPing::~TPing()
{
    // A destructor must not throw; a cancel the platform refuses leaves
    // nothing of ours behind, as the window goes and drops the answer.
    try {
        CancelDnsLookup();
    } catch (const std::exception&) {
    }
    FWindow.reset();
    FIcmp.reset();
}

std::string TPing::Address() const { return FIcmp ? FIcmp->Address() : std::string(); }
void TPing::SetAddress(const std::string& value)
{
    if (FIcmp)
        FIcmp->SetAddress(value);
}
std::int32_t TPing::Size() const { return FIcmp ? FIcmp->Size() : 0; }
void TPing::SetSize(std::int32_t value)
{
    if (FIcmp)
        FIcmp->SetSize(value);
}
std::int32_t TPing::Timeout() const { return FIcmp ? FIcmp->Timeout() : 0; }
void TPing::SetTimeout(std::int32_t value)
{
    if (FIcmp)
        FIcmp->SetTimeout(value);
}
std::int32_t TPing::TTL() const { return FIcmp ? FIcmp->TTL() : 0; }
void TPing::SetTTL(std::int32_t value)
{
    if (FIcmp)
        FIcmp->SetTTL(value);
}

ICMP_ECHO_REPLY TPing::Reply() const { return FIcmp ? FIcmp->Reply() : ICMP_ECHO_REPLY{}; }
std::int32_t TPing::ErrorCode() const { return FIcmp ? FIcmp->LastError() : -1; }
std::string TPing::ErrorString() const { return FIcmp ? FIcmp->GetErrorString() : std::string(); }
std::string TPing::HostName() const { return FIcmp ? FIcmp->HostName() : std::string(); }
std::string TPing::HostIP() const { return FIcmp ? FIcmp->HostIP() : std::string(); }

int TPing::Ping() { return FIcmp ? FIcmp->Ping() : 0; }

void TPing::DnsLookup(const std::string& hostName)
{
    if (FDnsLookupHandle != 0) {
        ws_WSACancelAsyncRequest(FDnsLookupHandle);
        // Forget it now: a numeric name below starts no new lookup, and a
        // later cancel of the old handle would fail and raise.
        FDnsLookupHandle = 0;
    }
    FDnsResult.clear();
    FDnsResultsIPv6.clear();

    std::uint32_t address = 0;
    if (ParseDotted(hostName, address)) {
        FDnsResult = Dotted(address);
        TriggerDnsLookupDone(0);
        return;
    }
    const std::string v6 = IPv6Literal(hostName);
    if (!v6.empty()) {
        FDnsResult = v6;
        FDnsResultsIPv6.push_back(v6);
        TriggerDnsLookupDone(0);
        return;
    }

    FDnsLookupHandle = ws_WSAAsyncGetAddrInfo(FWindow->Handle(), WM_ASYNCGETHOSTBYNAME, hostName.c_str(), AF_UNSPEC,
                                              FDnsLookupBuffer, sizeof FDnsLookupBuffer);
    if (FDnsLookupHandle == 0)
        throw Exception(hostName + ": can't start DNS lookup, error #" + std::to_string(ws_WSAGetLastError()));
}

void TPing::CancelDnsLookup()
{
    if (FDnsLookupHandle == 0)
        return;
    if (ws_WSACancelAsyncRequest(FDnsLookupHandle) != 0)
        throw Exception("WSACancelAsyncRequest failed, error #" + std::to_string(ws_WSAGetLastError()));
    FDnsLookupHandle = 0;
    TriggerDnsLookupDone(WSAEINTR);
}

void TPing::TriggerDnsLookupDone(std::uint16_t error)
{
    if (OnDnsLookupDone)
        OnDnsLookupDone(this, error);
}

void TPing::WndProc(TMessage& msg)
{
    if (msg.Msg != WM_ASYNCGETHOSTBYNAME)
        return;
    // An exception must not unwind into the event loop; the application's
    // handler shows it, as for any other message handler.
    try {
        HandleLookupDone(msg);
    } catch (const std::exception& e) {
        Application::HandleException(e);
    }
}

void TPing::HandleLookupDone(const TMessage& msg)
{
    if (FDnsLookupHandle == 0 || ASYNC_HANDLE(msg.WParam) != FDnsLookupHandle)
        return;
    FDnsLookupHandle = 0;
    const std::uint16_t error = HiWord(msg.LParam);
    if (error == 0) {
        // Every address once, in the resolver's order; the answer shown
        // first is an IPv4 one when there is one.
        const auto* list = reinterpret_cast<const SOCKET_ADDRESS_LIST*>(FDnsLookupBuffer);
        std::string firstIPv6;
        for (int i = 0; i < list->iAddressCount; ++i) {
            const sockaddr* a = list->Address[i].lpSockaddr;
            if (a == nullptr)
                continue;
            if (a->sa_family == AF_INET) {
                sockaddr_in in{};
                std::memcpy(&in, a, sizeof in);
                if (FDnsResult.empty())
                    FDnsResult = Dotted(in.sin_addr.s_addr);
            } else if (a->sa_family == AF_INET6) {
                sockaddr_in6 in6{};
                std::memcpy(&in6, a, sizeof in6);
                char text[INET6_ADDRSTRLEN_WS] = {};
                if (ws_inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text) == nullptr)
                    continue;
                if (std::find(FDnsResultsIPv6.begin(), FDnsResultsIPv6.end(), text) == FDnsResultsIPv6.end())
                    FDnsResultsIPv6.emplace_back(text);
            }
        }
        if (FDnsResult.empty() && !FDnsResultsIPv6.empty())
            FDnsResult = FDnsResultsIPv6.front();
    }
    TriggerDnsLookupDone(error);
}
