#include "tools/icmp6echo.h"

#include "platform/socketerrorqueue.h"

#include <linux/errqueue.h>
#include <netinet/icmp6.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace {

constexpr std::uint8_t kEchoRequest = 128;
constexpr std::uint8_t kEchoReply = 129;
constexpr std::size_t kHeader = 8;

// Closes the socket on every way out.
struct TSocket {
    int fd = -1;
    bool raw = false;
    ~TSocket()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

std::uint16_t Read16(const std::uint8_t* p) { return std::uint16_t((p[0] << 8) | p[1]); }

void Write16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = std::uint8_t(v >> 8);
    p[1] = std::uint8_t(v & 0xFF);
}

std::uint16_t NextSequence()
{
    static std::atomic<std::uint16_t> sequence{0};
    return ++sequence;
}

// A datagram socket first; the kernel then owns the identifier and the
// checksum. Raw sockets compute the ICMPv6 checksum in the kernel as well.
bool Open(TSocket& s, std::string& whyNot)
{
    s.fd = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMPV6);
    if (s.fd >= 0)
        return true;
    const int datagramError = errno;
    s.fd = ::socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMPV6);
    if (s.fd >= 0) {
        s.raw = true;
        icmp6_filter filter;
        ICMP6_FILTER_SETBLOCKALL(&filter);
        ICMP6_FILTER_SETPASS(kEchoReply, &filter);
        ICMP6_FILTER_SETPASS(ICMP6_DST_UNREACH, &filter);
        ICMP6_FILTER_SETPASS(ICMP6_PACKET_TOO_BIG, &filter);
        ICMP6_FILTER_SETPASS(ICMP6_TIME_EXCEEDED, &filter);
        ICMP6_FILTER_SETPASS(ICMP6_PARAM_PROB, &filter);
        ::setsockopt(s.fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
        return true;
    }
    if (datagramError == EACCES || datagramError == EPERM)
        whyNot = "ICMPv6 ping sockets are not allowed for this user's group (net.ipv4.ping_group_range) "
                 "and raw sockets need root";
    else if (datagramError == EAFNOSUPPORT)
        whyNot = "IPv6 is not available on this system";
    else
        whyNot = std::strerror(datagramError);
    return false;
}

// Whether an error message quotes our request (its echo header follows
// the quoted 40-byte IPv6 header).
bool QuotesRequest(const std::uint8_t* icmp, std::size_t length, std::uint16_t id, std::uint16_t sequence, bool checkId)
{
    const std::size_t quoted = kHeader + 40;
    if (length < quoted + kHeader || icmp[quoted] != kEchoRequest)
        return false;
    return Read16(icmp + quoted + 6) == sequence && (!checkId || Read16(icmp + quoted + 4) == id);
}

IP_STATUS StatusFromErrno(int error)
{
    switch (error) {
    case ENETUNREACH:
        return IP_DEST_NET_UNREACHABLE;
    case EHOSTUNREACH:
        return IP_DEST_HOST_UNREACHABLE;
    case EMSGSIZE:
        return IP_PACKET_TOO_BIG;
    case ENOBUFS:
    case ENOMEM:
        return IP_NO_RESOURCES;
    default:
        return IP_GENERAL_FAILURE;
    }
}

struct TOutcome {
    bool done = false;
    IP_STATUS status = IP_REQ_TIMED_OUT;
    std::size_t dataSize = 0;
};

void ReadErrorQueue(int fd, std::uint16_t sequence, TOutcome& out)
{
    std::uint8_t payload[1280];
    TQueuedSocketError queued;
    if (!ReadSocketErrorQueue(fd, payload, sizeof payload, IPPROTO_IPV6, IPV6_RECVERR, queued))
        return;
    // The queue returns our own request as sent.
    if (queued.length < kHeader || Read16(payload + 6) != sequence || !queued.found)
        return;
    out.done = true;
    out.status = queued.error.ee_origin == SO_EE_ORIGIN_ICMP6
                     ? Icmp6StatusFromError(queued.error.ee_type, queued.error.ee_code)
                     : StatusFromErrno(int(queued.error.ee_errno));
}

void ReadMessage(const TSocket& s, std::uint16_t id, std::uint16_t sequence, std::size_t sent,
                 std::vector<std::uint8_t>& buffer, TOutcome& out)
{
    const ssize_t n = ::recv(s.fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (n < ssize_t(kHeader))
        return;
    const std::uint8_t* icmp = buffer.data();
    const std::size_t length = std::size_t(n);
    if (icmp[0] == kEchoReply) {
        // A datagram socket sees only replies to its own identifier.
        if (Read16(icmp + 6) != sequence || (s.raw && Read16(icmp + 4) != id))
            return;
        out.done = true;
        out.status = IP_SUCCESS;
        out.dataSize = std::min(length - kHeader, sent);
        return;
    }
    if (icmp[0] < 128 && QuotesRequest(icmp, length, id, sequence, s.raw)) {
        out.done = true;
        out.status = Icmp6StatusFromError(icmp[0], icmp[1]);
    }
}

} // namespace

IP_STATUS Icmp6StatusFromError(std::uint8_t type, std::uint8_t code)
{
    switch (type) {
    case ICMP6_DST_UNREACH:
        switch (code) {
        case ICMP6_DST_UNREACH_NOROUTE:
            return IP_DEST_NET_UNREACHABLE;
        case ICMP6_DST_UNREACH_ADMIN:
            return IP_DEST_PROT_UNREACHABLE;
        case ICMP6_DST_UNREACH_NOPORT:
            return IP_DEST_PORT_UNREACHABLE;
        default:
            return IP_DEST_HOST_UNREACHABLE;
        }
    case ICMP6_PACKET_TOO_BIG:
        return IP_PACKET_TOO_BIG;
    case ICMP6_TIME_EXCEEDED:
        return code == ICMP6_TIME_EXCEED_REASSEMBLY ? IP_TTL_EXPIRED_REASSEM : IP_TTL_EXPIRED_TRANSIT;
    case ICMP6_PARAM_PROB:
        return IP_PARAM_PROBLEM;
    default:
        return IP_GENERAL_FAILURE;
    }
}

std::uint32_t Icmp6SendEcho(const TIcmp6Target& target, const void* data, std::uint16_t size, int hopLimit,
                            std::uint32_t timeoutMs, ICMP_ECHO_REPLY& reply, IP_STATUS& status, std::string& whyNot)
{
    reply = ICMP_ECHO_REPLY{};
    status = IP_GENERAL_FAILURE;
    if (hopLimit < 1 || hopLimit > 255) {
        status = IP_BAD_OPTION;
        reply.Status = status;
        return 0;
    }
    TSocket s;
    if (!Open(s, whyNot)) {
        reply.Status = status;
        return 0;
    }
    const int on = 1;
    ::setsockopt(s.fd, IPPROTO_IPV6, IPV6_UNICAST_HOPS, &hopLimit, sizeof hopLimit);
    if (!s.raw)
        ::setsockopt(s.fd, IPPROTO_IPV6, IPV6_RECVERR, &on, sizeof on);

    const std::uint16_t id = std::uint16_t(::getpid() & 0xFFFF);
    const std::uint16_t sequence = NextSequence();
    std::vector<std::uint8_t> packet(kHeader + size, 0);
    packet[0] = kEchoRequest;
    Write16(packet.data() + 4, id);
    Write16(packet.data() + 6, sequence);
    if (size > 0)
        std::memcpy(packet.data() + kHeader, data, size);

    sockaddr_in6 to{};
    to.sin6_family = AF_INET6;
    to.sin6_addr = target.Address;
    to.sin6_scope_id = target.ScopeId;
    const auto start = std::chrono::steady_clock::now();
    if (::sendto(s.fd, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0) {
        status = StatusFromErrno(errno);
        reply.Status = status;
        return 0;
    }

    std::vector<std::uint8_t> buffer(kHeader + size + 1280);
    TOutcome out;
    const auto deadline = start + std::chrono::milliseconds(timeoutMs);
    while (!out.done) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            break;
        pollfd p{s.fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, int(left));
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        if ((p.revents & POLLERR) != 0)
            ReadErrorQueue(s.fd, sequence, out);
        if (!out.done && (p.revents & POLLIN) != 0)
            ReadMessage(s, id, sequence, size, buffer, out);
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    status = out.status;
    reply.Status = status;
    if (status != IP_SUCCESS)
        return 0;
    reply.RoundTripTime = std::uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
    reply.DataSize = std::uint16_t(out.dataSize);
    reply.Options.Ttl = std::uint8_t(hopLimit);
    return 1;
}
