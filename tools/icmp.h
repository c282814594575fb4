#pragma once

// ICMP echo for the network tools.
//
// TICMP sends one echo request per Ping() through the ICMP echo library,
// synchronously: the calling thread waits up to Timeout milliseconds. TPing
// wraps one TICMP for a window, republishes its settings and events and adds
// an asynchronous host-name lookup that reports on the event loop.

#include "platform/exception.h"
#include "platform/hiddenwindow.h"
#include "platform/icmpapi.h"
#include "platform/library.h"
#include "platform/winsock.h"
#include "tools/icmp6echo.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TICMPException : public Exception {
public:
    using Exception::Exception;
};

class TICMP {
public:
    using TICMPDisplay = std::function<void(TICMP* sender, const std::string& msg)>;
    using TICMPRequest = std::function<void(TICMP* sender)>;
    using TICMPReply = std::function<void(TICMP* sender, int error)>;

    // The request payload starts with this text (45 characters); a shorter
    // request carries its beginning, a longer one is padded with spaces.
    static constexpr const char* SignOnText = "Tarvik ICMP echo request - Veltrane Software.";
    static constexpr std::size_t SignOnLength = 45;

    // Raises TICMPException when the echo library or a handle cannot be had.
    TICMP();
    virtual ~TICMP();

    TICMP(const TICMP&) = delete;
    TICMP& operator=(const TICMP&) = delete;

    const std::string& Address() const { return FAddress; }
    // A different text forgets the resolved address; the same text keeps it.
    void SetAddress(const std::string& value);
    const std::string& HostName() const { return FHostName; }
    const std::string& HostIP() const { return FHostIP; }
    // The IPv4 address; 0xFFFFFFFF for an IPv6 target.
    std::uint32_t IPAddress() const { return FIPAddress; }
    bool AddressResolved() const { return FAddressResolved; }
    // Whether the target is an IPv6 address: a literal ("::1", "[::1]") or
    // a name with AAAA records and no A record. Echoes then go as ICMPv6.
    bool IsIPv6() const { return FIPv6; }

    std::int32_t Size() const { return FSize; }
    void SetSize(std::int32_t value) { FSize = value; }
    std::int32_t Timeout() const { return FTimeout; }
    void SetTimeout(std::int32_t value) { FTimeout = value; }
    std::int32_t TTL() const { return FTTL; }
    void SetTTL(std::int32_t value) { FTTL = value; }

    const ICMP_ECHO_REPLY& Reply() const { return FReply; }
    std::int32_t LastError() const { return FLastError; }

    void ResolveAddr();
    // Sends one echo request; the number of replies, 0 on failure.
    int Ping();
    std::string GetErrorString() const;
    static std::string ErrorText(std::int32_t code);

    TICMPDisplay OnDisplay;
    TICMPRequest OnEchoRequest;
    TICMPReply OnEchoReply;

protected:
    virtual void TriggerDisplay(const std::string& msg);
    virtual void TriggerEchoRequest();
    virtual void TriggerEchoReply(int error);

private:
    // Each resource is released by its own holder, so that a constructor
    // that fails half-way gives back exactly what it took, in reverse order.
    struct SocketLibrary {
        bool started = false;
        SocketLibrary();
        ~SocketLibrary();
    };
    struct LibraryDeleter {
        void operator()(void* module) const;
    };
    struct EchoHandle {
        ICMP_HANDLE handle = INVALID_ICMP_HANDLE;
        IcmpCloseHandleProc close = nullptr;
        ~EchoHandle();
    };

    int PingIPv6();
    // Refuses a payload size the echo library cannot carry (it counts it in
    // 16 bits) rather than cut it to its low 16 bits; true when refused,
    // with IP_BAD_REQ reported as the reply.
    bool RefuseBadSize();
    // The request's payload: the sign-on text padded with blanks to FSize.
    std::vector<char> RequestPayload() const;
    // FTimeout for the echo calls; a negative one would read as some 49
    // days of frozen window.
    std::uint32_t TimeoutMs() const { return FTimeout < 0 ? 0 : std::uint32_t(FTimeout); }

    SocketLibrary FSocketLibrary;
    std::unique_ptr<void, LibraryDeleter> FLibrary;
    IcmpCreateFileProc FIcmpCreateFile = nullptr;
    IcmpCloseHandleProc FIcmpCloseHandle = nullptr;
    IcmpSendEchoProc FIcmpSendEcho = nullptr;
    EchoHandle FEchoHandle;
    ICMP_ECHO_REPLY FReply{};
    std::string FAddress;
    std::string FHostName;
    std::string FHostIP;
    std::uint32_t FIPAddress = 0;
    bool FIPv6 = false;
    TIcmp6Target FIPv6Target;
    std::int32_t FSize = 56;
    std::int32_t FTimeout = 4000;
    std::int32_t FTTL = 64;
    std::int32_t FLastError = 0;
    bool FAddressResolved = false;
};

// The ping component of a tool window. Owned by its window (Qt parent).
class TPing : public QObject {
public:
    using TPingDisplay = std::function<void(TPing* sender, TICMP* Icmp, const std::string& Msg)>;
    using TPingRequest = std::function<void(TPing* sender, TICMP* Icmp)>;
    using TPingReply = std::function<void(TPing* sender, TICMP* Icmp, int Error)>;
    using TDnsLookupDone = std::function<void(TPing* sender, std::uint16_t Error)>;

    // Propagates TICMPException: no component exists without its engine.
    explicit TPing(QObject* owner = nullptr);
    // Cancels a pending lookup (which reports error 10004).
    ~TPing() override;

    TPing(const TPing&) = delete;
    TPing& operator=(const TPing&) = delete;

    std::string Address() const;
    void SetAddress(const std::string& value);
    std::int32_t Size() const;
    void SetSize(std::int32_t value);
    std::int32_t Timeout() const;
    void SetTimeout(std::int32_t value);
    std::int32_t TTL() const;
    void SetTTL(std::int32_t value);

    ICMP_ECHO_REPLY Reply() const;
    std::int32_t ErrorCode() const;
    std::string ErrorString() const;
    std::string HostName() const;
    std::string HostIP() const;
    // The lookup's answer: its first IPv4 address, or its first IPv6
    // address when it has no IPv4 one.
    const std::string& DnsResult() const { return FDnsResult; }
    // Every IPv6 address of the answer, in the resolver's order.
    const std::vector<std::string>& DnsResultsIPv6() const { return FDnsResultsIPv6; }

    int Ping();
    // A dotted or IPv6 address completes at once, before the call returns;
    // a name is looked up (A and AAAA records) in the background and
    // reported through OnDnsLookupDone.
    virtual void DnsLookup(const std::string& hostName);
    void CancelDnsLookup();

    TPingDisplay OnDisplay;
    TPingRequest OnEchoRequest;
    TPingReply OnEchoReply;
    TDnsLookupDone OnDnsLookupDone;

protected:
    virtual void TriggerDnsLookupDone(std::uint16_t error);

private:
    static constexpr unsigned WM_ASYNCGETHOSTBYNAME = WM_USER + 2;
    static constexpr int HostEntryBufferSize = 4096;

    void WndProc(TMessage& msg);
    void HandleLookupDone(const TMessage& msg);

    std::unique_ptr<TICMP> FIcmp;
    std::unique_ptr<THiddenWindow> FWindow;
    ASYNC_HANDLE FDnsLookupHandle = 0;
    alignas(sockaddr_in6) alignas(SOCKET_ADDRESS_LIST) char FDnsLookupBuffer[HostEntryBufferSize] = {};
    std::string FDnsResult;
    std::vector<std::string> FDnsResultsIPv6;
};
