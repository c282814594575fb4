// TPing: the ping component of the tool windows (declared in tools/icmp.h).
#include "tools/icmp.h"

#include "platform/application.h"
#include "platform/winsock.h"

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

int TPing::Ping()
{
    return FIcmp ? FIcmp->Ping() : 0;
}

void TPing::DnsLookup(const std::string& hostName)
{
    if (FDnsLookupHandle != 0) {
        ws_WSACancelAsyncRequest(FDnsLookupHandle);
        // Forget it now: a numeric name below starts no new lookup, and a
        // later cancel of the old handle would fail and raise.
        FDnsLookupHandle = 0;
    }
    FDnsResult.clear();

    std::uint32_t address = 0;
    if (ParseDotted(hostName, address)) {
        FDnsResult = Dotted(address);
        TriggerDnsLookupDone(0);
        return;
    }

    FDnsLookupHandle = ws_WSAAsyncGetHostByName(FWindow->Handle(), WM_ASYNCGETHOSTBYNAME,
                                                hostName.c_str(), FDnsLookupBuffer,
                                                sizeof FDnsLookupBuffer);
    if (FDnsLookupHandle == 0)
        throw Exception(hostName + ": can't start DNS lookup, error #" +
                        std::to_string(ws_WSAGetLastError()));
}

void TPing::CancelDnsLookup()
{
    if (FDnsLookupHandle == 0)
        return;
    if (ws_WSACancelAsyncRequest(FDnsLookupHandle) != 0)
        throw Exception("WSACancelAsyncRequest failed, error #" +
                        std::to_string(ws_WSAGetLastError()));
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
        const auto* entry = reinterpret_cast<const hostent*>(FDnsLookupBuffer);
        if (entry->h_addr_list && entry->h_addr_list[0]) {
            std::uint32_t address = 0;
            std::memcpy(&address, entry->h_addr_list[0], sizeof address);
            FDnsResult = Dotted(address);
        }
    }
    TriggerDnsLookupDone(error);
}
