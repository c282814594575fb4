#include "tools/icmp.h"

#include "platform/winsock.h"

#include <cstring>
#include <string_view>
#include <vector>

static_assert(std::string_view(TICMP::SignOnText).size() == TICMP::SignOnLength);

namespace {

constexpr std::uint32_t kNoAddress = 0xFFFFFFFF;

} // namespace

// ---------------------------------------------------------------------------
// Resource holders

TICMP::SocketLibrary::SocketLibrary()
{
    WSADATA data;
    if (ws_WSAStartup(MakeWord(1, 1), &data) != 0)
        throw TICMPException("Error initialising Winsock");
    started = true;
}

TICMP::SocketLibrary::~SocketLibrary()
{
    if (started)
        ws_WSACleanup();
}

void TICMP::LibraryDeleter::operator()(void* module) const { IcmpFreeLibrary(module); }

TICMP::EchoHandle::~EchoHandle()
{
    if (handle != INVALID_ICMP_HANDLE && close)
        close(handle);
}

// ---------------------------------------------------------------------------

TICMP::TICMP()
{
    FLibrary.reset(IcmpLoadLibrary("icmp.dll"));
    if (!FLibrary)
        throw TICMPException("Unable to register icmp.dll");

    FIcmpCreateFile = reinterpret_cast<IcmpCreateFileProc>(IcmpGetProcAddress(FLibrary.get(), "IcmpCreateFile"));
    FIcmpCloseHandle = reinterpret_cast<IcmpCloseHandleProc>(IcmpGetProcAddress(FLibrary.get(), "IcmpCloseHandle"));
    FIcmpSendEcho = reinterpret_cast<IcmpSendEchoProc>(IcmpGetProcAddress(FLibrary.get(), "IcmpSendEcho"));
    if (!FIcmpCreateFile || !FIcmpCloseHandle || !FIcmpSendEcho)
        throw TICMPException("Error loading dll functions");

    FEchoHandle.close = FIcmpCloseHandle;
    FEchoHandle.handle = FIcmpCreateFile();
    if (FEchoHandle.handle == INVALID_ICMP_HANDLE) {
        // The code alone would not tell the user that the system forbids
        // him ICMP sockets, nor how to allow them.
        const std::string why = IcmpGetLastErrorText();
        throw TICMPException(why.empty() ? std::string("Unable to get ping handle")
                                         : "Unable to get ping handle: " + why);
    }
}

TICMP::~TICMP() = default;

void TICMP::SetAddress(const std::string& value)
{
    if (value == FAddress)
        return;
    FAddress = value;
    FAddressResolved = false;
}

namespace {

std::string Trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// "::1", "[::1]" or "fe80::1%lo" as an IPv6 target, without a lookup.
bool ParseIPv6Literal(const std::string& text, TIcmp6Target& target)
{
    std::string address = Trimmed(text);
    if (address.size() >= 2 && address.front() == '[' && address.back() == ']')
        address = address.substr(1, address.size() - 2);
    if (address.find(':') == std::string::npos)
        return false;
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* list = nullptr;
    if (ws_getaddrinfo(address.c_str(), nullptr, &hints, &list) != 0 || list == nullptr)
        return false;
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(list->ai_addr);
    target.Address = in6->sin6_addr;
    target.ScopeId = in6->sin6_scope_id;
    ws_freeaddrinfo(list);
    return true;
}

std::string IPv6Text(const in6_addr& address)
{
    char text[INET6_ADDRSTRLEN_WS] = {};
    return ws_inet_ntop(AF_INET6, &address, text, sizeof text) ? std::string(text) : std::string();
}

} // namespace

void TICMP::ResolveAddr()
{
    FIPv6 = false;
    FIPAddress = ws_inet_addr(FAddress.c_str());
    if (FIPAddress != kNoAddress) {
        FHostName = FAddress;
        in_addr address{};
        address.s_addr = FIPAddress;
        FHostIP = ws_inet_ntoa(address);
        FAddressResolved = true;
        return;
    }
    if (ParseIPv6Literal(FAddress, FIPv6Target)) {
        FIPv6 = true;
        FHostName = FAddress;
        FHostIP = IPv6Text(FIPv6Target.Address);
        FAddressResolved = true;
        return;
    }
    // A name: its IPv4 address when it has one, else its IPv6 address.
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_RAW;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* list = nullptr;
    if (FAddress.empty() || ws_getaddrinfo(FAddress.c_str(), nullptr, &hints, &list) != 0 || list == nullptr) {
        FLastError = ws_WSAGetLastError();
        TriggerDisplay("Unable to resolve " + FAddress);
        return;
    }
    const addrinfo* chosen = nullptr;
    for (const addrinfo* ai = list; ai != nullptr && chosen == nullptr; ai = ai->ai_next)
        if (ai->ai_family == AF_INET)
            chosen = ai;
    for (const addrinfo* ai = list; ai != nullptr && chosen == nullptr; ai = ai->ai_next)
        if (ai->ai_family == AF_INET6)
            chosen = ai;
    if (chosen == nullptr) {
        ws_freeaddrinfo(list);
        FLastError = WSANO_DATA;
        TriggerDisplay("Unable to resolve " + FAddress);
        return;
    }
    FHostName = list->ai_canonname ? list->ai_canonname : FAddress;
    if (chosen->ai_family == AF_INET) {
        FIPAddress = reinterpret_cast<const sockaddr_in*>(chosen->ai_addr)->sin_addr.s_addr;
        in_addr address{};
        address.s_addr = FIPAddress;
        FHostIP = ws_inet_ntoa(address);
    } else {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(chosen->ai_addr);
        FIPv6 = true;
        FIPv6Target.Address = in6->sin6_addr;
        FIPv6Target.ScopeId = in6->sin6_scope_id;
        FHostIP = IPv6Text(in6->sin6_addr);
    }
    ws_freeaddrinfo(list);
    FAddressResolved = true;
}

int TICMP::Ping()
{
    FLastError = 0;
    if (!FAddressResolved)
        ResolveAddr();
    if (FAddressResolved && FIPv6)
        return PingIPv6();
    if (FIPAddress == kNoAddress) {
        FLastError = IP_BAD_DESTINATION;
        TriggerDisplay("Invalid host address");
        return 0;
    }

    if (RefuseBadSize())
        return 0;
    const std::vector<char> payload = RequestPayload();
    std::vector<char> reply(payload.size() + sizeof(ICMP_ECHO_REPLY), '\0');

    TriggerEchoRequest();

    IP_OPTION_INFORMATION options;
    options.Ttl = std::uint8_t(FTTL & 0xFF);
    const std::uint32_t replies = FIcmpSendEcho(FEchoHandle.handle, FIPAddress, payload.data(),
                                                std::uint16_t(payload.size()), &options, reply.data(),
                                                std::uint32_t(reply.size()), TimeoutMs());
    FLastError = std::int32_t(IcmpGetLastError());
    std::memcpy(&FReply, reply.data(), sizeof FReply);

    TriggerEchoReply(int(replies));
    return int(replies);
}

bool TICMP::RefuseBadSize()
{
    if (FSize >= 0 && FSize <= ICMP_MAX_REQUEST_SIZE)
        return false;
    FReply = ICMP_ECHO_REPLY{};
    TriggerEchoRequest();
    FLastError = IP_BAD_REQ;
    FReply.Status = IP_BAD_REQ;
    TriggerEchoReply(0);
    return true;
}

std::vector<char> TICMP::RequestPayload() const
{
    const std::size_t size = std::size_t(FSize);
    std::vector<char> payload(size, ' ');
    if (size > 0)
        std::memcpy(payload.data(), SignOnText, std::min(size, SignOnLength));
    return payload;
}

int TICMP::PingIPv6()
{
    if (RefuseBadSize())
        return 0;
    const std::vector<char> payload = RequestPayload();

    TriggerEchoRequest();
    IP_STATUS status = IP_SUCCESS;
    std::string whyNot;
    const std::uint32_t replies = Icmp6SendEcho(FIPv6Target, payload.data(), std::uint16_t(payload.size()), FTTL & 0xFF,
                                                TimeoutMs(), FReply, status, whyNot);
    FLastError = std::int32_t(status);
    if (!whyNot.empty())
        TriggerDisplay(whyNot);
    TriggerEchoReply(int(replies));
    return int(replies);
}

std::string TICMP::GetErrorString() const { return ErrorText(FLastError); }

std::string TICMP::ErrorText(std::int32_t code)
{
    switch (code) {
    case 0:
        return "No error";
    case IP_BUF_TOO_SMALL:
        return "Buffer too small";
    case IP_DEST_NET_UNREACHABLE:
        return "Destination network unreachable";
    case IP_DEST_HOST_UNREACHABLE:
        return "Destination host unreachable";
    case IP_DEST_PROT_UNREACHABLE:
        return "Destination protocol unreachable";
    case IP_DEST_PORT_UNREACHABLE:
        return "Destination port unreachable";
    case IP_NO_RESOURCES:
        return "No resources";
    case IP_BAD_OPTION:
        return "Bad option";
    case IP_HW_ERROR:
        return "Hardware error";
    case IP_PACKET_TOO_BIG:
        return "Packet too big";
    case IP_REQ_TIMED_OUT:
        return "Request timed out";
    case IP_BAD_REQ:
        return "Bad request";
    case IP_BAD_ROUTE:
        return "Bad route";
    case IP_TTL_EXPIRED_TRANSIT:
        return "TTL expired in transit";
    case IP_TTL_EXPIRED_REASSEM:
        return "TTL expired in reassembly";
    case IP_PARAM_PROBLEM:
        return "Parameter problem";
    case IP_SOURCE_QUENCH:
        return "Source quench";
    case IP_OPTION_TOO_BIG:
        return "Option too big";
    case IP_BAD_DESTINATION:
        return "Bad Destination";
    case IP_ADDR_DELETED:
        return "Address deleted";
    case IP_SPEC_MTU_CHANGE:
        return "Specified MTU change";
    case IP_MTU_CHANGE:
        return "MTU change";
    case IP_GENERAL_FAILURE:
        return "General failure";
    case IP_PENDING:
        return "Pending";
    default:
        return "ICMP error #" + std::to_string(code);
    }
}

void TICMP::TriggerDisplay(const std::string& msg)
{
    if (OnDisplay)
        OnDisplay(this, msg);
}

void TICMP::TriggerEchoRequest()
{
    if (OnEchoRequest)
        OnEchoRequest(this);
}

void TICMP::TriggerEchoReply(int error)
{
    if (OnEchoReply)
        OnEchoReply(this, error);
}
