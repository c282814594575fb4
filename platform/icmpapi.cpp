#include "platform/icmpapi.h"

#include "platform/socketerrorqueue.h"

#include <linux/errqueue.h>
#include <linux/icmp.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <strings.h>
#include <system_error>
#include <vector>

namespace {

// ICMP message types we send or understand. Named apart from the kernel's
// ICMP_* macros, which <linux/icmp.h> defines.
constexpr std::uint8_t kEchoReply = 0;
constexpr std::uint8_t kDestUnreachable = 3;
constexpr std::uint8_t kSourceQuench = 4;
constexpr std::uint8_t kEchoRequest = 8;
constexpr std::uint8_t kTimeExceeded = 11;
constexpr std::uint8_t kParameterProblem = 12;

constexpr std::size_t kIcmpHeaderSize = 8;
constexpr std::size_t kMinIpHeaderSize = 20;
constexpr std::uint8_t kIpFlagDontFragment = 0x02;
constexpr int kIpProtoIcmp = 1;

thread_local std::uint32_t tLastError = 0;
thread_local std::string tLastErrorText;

void SetError(std::uint32_t code, std::string text = {})
{
    tLastError = code;
    tLastErrorText = std::move(text);
}

std::uint16_t ReadBigEndian16(const std::uint8_t* p) { return std::uint16_t((p[0] << 8) | p[1]); }

void WriteBigEndian16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = std::uint8_t(v >> 8);
    p[1] = std::uint8_t(v & 0xFF);
}

std::uint16_t InternetChecksum(const std::uint8_t* data, std::size_t length)
{
    std::uint32_t sum = 0;
    std::size_t i = 0;
    for (; i + 1 < length; i += 2)
        sum += ReadBigEndian16(data + i);
    if (i < length)
        sum += std::uint32_t(data[i]) << 8;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return std::uint16_t(~sum & 0xFFFF);
}

// The quoted header of an error message must be our echo request.
bool QuotesOurRequest(const std::uint8_t* icmp, std::size_t length, std::uint16_t id, std::uint16_t sequence)
{
    if (length < kIcmpHeaderSize)
        return false;
    return icmp[0] == kEchoRequest && ReadBigEndian16(icmp + 4) == id && ReadBigEndian16(icmp + 6) == sequence;
}

IP_STATUS StatusFromErrno(int err)
{
    switch (err) {
    case EMSGSIZE:
        return IP_PACKET_TOO_BIG;
    case ENETUNREACH:
    case ENETDOWN:
        return IP_DEST_NET_UNREACHABLE;
    case EHOSTUNREACH:
    case EHOSTDOWN:
        return IP_DEST_HOST_UNREACHABLE;
    case ENOBUFS:
    case ENOMEM:
        return IP_NO_RESOURCES;
    case EACCES:
    case EINVAL:
    case EADDRNOTAVAIL:
        return IP_BAD_DESTINATION;
    default:
        return IP_GENERAL_FAILURE;
    }
}

// ---------------------------------------------------------------------------
// Handles

struct EchoHandle {
    int fd = -1;
    IcmpSocketKind kind = IcmpSocketKind::None;
    std::uint16_t rawId = 0; // our identifier on a raw socket
    std::uint16_t sequence = 0;

    ~EchoHandle()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

std::mutex gHandlesMutex;
std::map<ICMP_HANDLE, std::shared_ptr<EchoHandle>> gHandles;
ICMP_HANDLE gNextHandle = 1;

std::shared_ptr<EchoHandle> FindHandle(ICMP_HANDLE handle)
{
    const std::lock_guard lock(gHandlesMutex);
    const auto it = gHandles.find(handle);
    return it == gHandles.end() ? nullptr : it->second;
}

std::string ReadPingGroupRange()
{
    std::ifstream in("/proc/sys/net/ipv4/ping_group_range");
    std::string low;
    std::string high;
    if (!(in >> low >> high))
        return {};
    return low + " " + high;
}

std::string DescribeOpenFailure(int datagramErr, int rawErr)
{
    const bool datagramDenied = datagramErr == EACCES || datagramErr == EPERM;
    const bool rawDenied = rawErr == EACCES || rawErr == EPERM;
    std::string text = "neither an ICMP datagram socket nor a raw ICMP socket could be opened";
    if (datagramDenied) {
        const std::string range = ReadPingGroupRange();
        text += ": the kernel setting net.ipv4.ping_group_range";
        if (!range.empty())
            text += " (\"" + range + "\")";
        text += " does not include any group of this user (gid " + std::to_string(::getgid()) + ")";
    } else {
        text += ": ICMP datagram socket: " + std::generic_category().message(datagramErr);
    }
    if (rawDenied)
        text += ", and raw sockets need root or the CAP_NET_RAW capability";
    else
        text += "; raw socket: " + std::generic_category().message(rawErr);
    if (datagramDenied)
        text += ". An administrator can allow ping for all users with "
                "sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"";
    return text;
}

void ConfigureDatagramSocket(int fd)
{
    const int on = 1;
    // ICMP errors about our requests reach a datagram socket only through
    // its error queue; the TTL and TOS of replies come as control messages.
    ::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_IP, IP_RECVTTL, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_IP, IP_RECVTOS, &on, sizeof on);
}

void ConfigureRawSocket(int fd)
{
    // A raw socket sees every ICMP message of the machine; let the kernel
    // drop what can never concern an echo request (our own requests
    // included, which loopback would show us).
    icmp_filter filter{};
    filter.data = ~((1U << kEchoReply) | (1U << kDestUnreachable) | (1U << kSourceQuench) | (1U << kTimeExceeded) |
                    (1U << kParameterProblem));
    ::setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
}

std::uint16_t NextRawIdentifier()
{
    // Distinct per handle and per process, so that two pings of this
    // program, or ours and another program's, tell their replies apart.
    static std::atomic<std::uint32_t> counter{0};
    const std::uint32_t n = counter.fetch_add(1);
    return std::uint16_t((std::uint32_t(::getpid()) * 2654435761U + n * 40503U) & 0xFFFF);
}

// ---------------------------------------------------------------------------
// Waiting for the answer

struct Outcome {
    bool done = false;
    IP_STATUS status = IP_REQ_TIMED_OUT;
    IPAddr from = 0;
    std::uint8_t ttl = 0;
    std::uint8_t tos = 0;
    std::vector<std::uint8_t> data;
};

// The datagram socket's error queue: an ICMP error that quotes our request,
// or a local error about sending it.
void ReadErrorQueue(const EchoHandle& h, std::uint16_t id, std::uint16_t sequence, Outcome& out)
{
    std::uint8_t payload[576];
    TQueuedSocketError queued;
    if (!ReadSocketErrorQueue(h.fd, payload, sizeof payload, IPPROTO_IP, IP_RECVERR, queued))
        return;
    if (!QuotesOurRequest(payload, queued.length, id, sequence) || !queued.found)
        return;
    out.done = true;
    if (queued.error.ee_origin != SO_EE_ORIGIN_ICMP) {
        out.status = StatusFromErrno(int(queued.error.ee_errno));
        return;
    }
    out.status = IcmpStatusFromError(queued.error.ee_type, queued.error.ee_code);
    if (queued.offender.ss_family == AF_INET) {
        sockaddr_in addr{};
        std::memcpy(&addr, &queued.offender, sizeof addr);
        out.from = addr.sin_addr.s_addr;
    }
}

void ReadDatagram(const EchoHandle& h, std::uint16_t id, std::uint16_t sequence, std::vector<std::uint8_t>& buffer,
                  Outcome& out)
{
    alignas(cmsghdr) char control[256];
    sockaddr_in from{};
    iovec iov{buffer.data(), buffer.size()};
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(h.fd, &msg, MSG_DONTWAIT);
    if (n < 0)
        return;
    const IcmpMatch m = IcmpMatchDatagram(buffer.data(), std::size_t(n), id, sequence);
    if (!m.ours)
        return;
    out.done = true;
    out.status = m.status;
    out.from = from.sin_addr.s_addr;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != IPPROTO_IP)
            continue;
        if (c->cmsg_type == IP_TTL) {
            int ttl = 0;
            std::memcpy(&ttl, CMSG_DATA(c), sizeof ttl);
            out.ttl = std::uint8_t(ttl);
        } else if (c->cmsg_type == IP_TOS) {
            out.tos = *reinterpret_cast<const std::uint8_t*>(CMSG_DATA(c));
        }
    }
    if (m.status == IP_SUCCESS)
        out.data.assign(buffer.data() + m.dataOffset, buffer.data() + m.dataOffset + m.dataSize);
}

void ReadRaw(const EchoHandle& h, std::uint16_t sequence, std::vector<std::uint8_t>& buffer, Outcome& out)
{
    const ssize_t n = ::recv(h.fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (n < 0)
        return;
    const IcmpMatch m = IcmpMatchRawPacket(buffer.data(), std::size_t(n), h.rawId, sequence);
    if (!m.ours)
        return;
    out.done = true;
    out.status = m.status;
    out.from = m.from;
    out.ttl = m.ttl;
    out.tos = m.tos;
    if (m.status == IP_SUCCESS)
        out.data.assign(buffer.data() + m.dataOffset, buffer.data() + m.dataOffset + m.dataSize);
}

bool ApplyOptions(const EchoHandle& h, const IP_OPTION_INFORMATION* options)
{
    const int ttl = options ? int(options->Ttl) : -1; // -1: the system's default
    const int tos = options ? int(options->Tos) : 0;
    const int pmtu = options && (options->Flags & kIpFlagDontFragment) ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
    return ::setsockopt(h.fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) == 0 &&
           ::setsockopt(h.fd, IPPROTO_IP, IP_TOS, &tos, sizeof tos) == 0 &&
           ::setsockopt(h.fd, IPPROTO_IP, IP_MTU_DISCOVER, &pmtu, sizeof pmtu) == 0;
}

// ---------------------------------------------------------------------------
// The module object behind IcmpLoadLibrary

struct IcmpModule {
    int unused = 0;
};
IcmpModule gModule;

std::mutex gLoaderMutex;
int gLoads = 0;
int gFrees = 0;
bool gLoadFailure = false;
std::set<std::string> gMissingExports;

} // namespace

// ---------------------------------------------------------------------------

IP_STATUS IcmpStatusFromError(std::uint8_t type, std::uint8_t code)
{
    switch (type) {
    case kDestUnreachable:
        switch (code) {
        case 0:  // net unreachable
        case 6:  // destination network unknown
        case 9:  // network administratively prohibited
        case 11: // network unreachable for the type of service
            return IP_DEST_NET_UNREACHABLE;
        case 2:
            return IP_DEST_PROT_UNREACHABLE;
        case 3:
            return IP_DEST_PORT_UNREACHABLE;
        case 4:
            return IP_PACKET_TOO_BIG;
        case 5:
            return IP_BAD_ROUTE;
        default:
            return IP_DEST_HOST_UNREACHABLE;
        }
    case kTimeExceeded:
        return code == 1 ? IP_TTL_EXPIRED_REASSEM : IP_TTL_EXPIRED_TRANSIT;
    case kParameterProblem:
        return IP_PARAM_PROBLEM;
    case kSourceQuench:
        return IP_SOURCE_QUENCH;
    default:
        return IP_GENERAL_FAILURE;
    }
}

IcmpMatch IcmpMatchRawPacket(const std::uint8_t* packet, std::size_t length, std::uint16_t id, std::uint16_t sequence)
{
    IcmpMatch m;
    if (!packet || length < kMinIpHeaderSize || (packet[0] >> 4) != 4)
        return m;
    const std::size_t ihl = std::size_t(packet[0] & 0x0F) * 4;
    const std::size_t total = std::min<std::size_t>(length, ReadBigEndian16(packet + 2));
    if (ihl < kMinIpHeaderSize || total < ihl + kIcmpHeaderSize)
        return m;
    const std::uint8_t* icmp = packet + ihl;
    const std::size_t icmpLength = total - ihl;
    m.tos = packet[1];
    m.ttl = packet[8];
    std::memcpy(&m.from, packet + 12, sizeof m.from);

    const std::uint8_t type = icmp[0];
    if (type == kEchoReply) {
        if (ReadBigEndian16(icmp + 4) != id || ReadBigEndian16(icmp + 6) != sequence)
            return m;
        if (InternetChecksum(icmp, icmpLength) != 0)
            return m;
        m.ours = true;
        m.status = IP_SUCCESS;
        m.dataOffset = ihl + kIcmpHeaderSize;
        m.dataSize = icmpLength - kIcmpHeaderSize;
        return m;
    }
    if (type != kDestUnreachable && type != kTimeExceeded && type != kParameterProblem && type != kSourceQuench)
        return m;
    // An error message quotes the IP header and the first 8 bytes of the
    // packet it is about; only an echo request of ours concerns us.
    const std::uint8_t* inner = icmp + kIcmpHeaderSize;
    const std::size_t innerLength = icmpLength - kIcmpHeaderSize;
    if (innerLength < kMinIpHeaderSize || (inner[0] >> 4) != 4 || inner[9] != kIpProtoIcmp)
        return m;
    const std::size_t innerIhl = std::size_t(inner[0] & 0x0F) * 4;
    if (innerIhl < kMinIpHeaderSize || innerLength < innerIhl + kIcmpHeaderSize)
        return m;
    if (!QuotesOurRequest(inner + innerIhl, innerLength - innerIhl, id, sequence))
        return m;
    m.ours = true;
    m.status = IcmpStatusFromError(type, icmp[1]);
    return m;
}

IcmpMatch IcmpMatchDatagram(const std::uint8_t* message, std::size_t length, std::uint16_t id, std::uint16_t sequence)
{
    IcmpMatch m;
    if (!message || length < kIcmpHeaderSize || message[0] != kEchoReply)
        return m;
    if (ReadBigEndian16(message + 4) != id || ReadBigEndian16(message + 6) != sequence)
        return m;
    m.ours = true;
    m.status = IP_SUCCESS;
    m.dataOffset = kIcmpHeaderSize;
    m.dataSize = length - kIcmpHeaderSize;
    return m;
}

ICMP_HANDLE IcmpCreateFile()
{
    auto h = std::make_shared<EchoHandle>();
    h->fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (h->fd >= 0) {
        h->kind = IcmpSocketKind::Datagram;
        ConfigureDatagramSocket(h->fd);
    } else {
        const int datagramErr = errno;
        h->fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (h->fd < 0) {
            const int rawErr = errno;
            const bool denied = rawErr == EPERM || rawErr == EACCES;
            const bool exhausted = rawErr == EMFILE || rawErr == ENFILE || rawErr == ENOBUFS || rawErr == ENOMEM;
            SetError(denied      ? ICMP_ERROR_ACCESS_DENIED
                     : exhausted ? std::uint32_t(IP_NO_RESOURCES)
                                 : std::uint32_t(IP_GENERAL_FAILURE),
                     DescribeOpenFailure(datagramErr, rawErr));
            return INVALID_ICMP_HANDLE;
        }
        h->kind = IcmpSocketKind::Raw;
        h->rawId = NextRawIdentifier();
        ConfigureRawSocket(h->fd);
    }
    const std::lock_guard lock(gHandlesMutex);
    const ICMP_HANDLE handle = gNextHandle++;
    gHandles.emplace(handle, std::move(h));
    SetError(0);
    return handle;
}

bool IcmpCloseHandle(ICMP_HANDLE handle)
{
    std::shared_ptr<EchoHandle> h;
    {
        const std::lock_guard lock(gHandlesMutex);
        const auto it = gHandles.find(handle);
        if (it == gHandles.end()) {
            SetError(ICMP_ERROR_INVALID_HANDLE);
            return false;
        }
        h = std::move(it->second);
        gHandles.erase(it);
    }
    SetError(0);
    return true;
}

std::uint32_t IcmpSendEcho(ICMP_HANDLE handle, IPAddr destination, const void* requestData, std::uint16_t requestSize,
                           const IP_OPTION_INFORMATION* options, void* replyBuffer, std::uint32_t replySize,
                           std::uint32_t timeoutMs)
{
    const std::shared_ptr<EchoHandle> h = FindHandle(handle);
    if (!h) {
        SetError(ICMP_ERROR_INVALID_HANDLE);
        return 0;
    }
    if (!replyBuffer || replySize < sizeof(ICMP_ECHO_REPLY)) {
        SetError(IP_BUF_TOO_SMALL);
        return 0;
    }
    ICMP_ECHO_REPLY record;
    const auto finish = [&](IP_STATUS status) -> std::uint32_t {
        record.Status = status;
        std::memcpy(replyBuffer, &record, sizeof record);
        SetError(status);
        return status == IP_SUCCESS ? 1 : 0;
    };
    if (requestSize > ICMP_MAX_REQUEST_SIZE || (requestSize > 0 && !requestData))
        return finish(IP_BAD_REQ);
    if (options && (options->Ttl == 0 || options->OptionsSize != 0))
        return finish(IP_BAD_OPTION);
    if (!ApplyOptions(*h, options))
        return finish(IP_BAD_OPTION);

    const std::uint16_t sequence = ++h->sequence;
    std::vector<std::uint8_t> packet(kIcmpHeaderSize + requestSize);
    packet[0] = kEchoRequest;
    WriteBigEndian16(packet.data() + 4, h->rawId); // the kernel sets it on a datagram socket
    WriteBigEndian16(packet.data() + 6, sequence);
    if (requestSize > 0)
        std::memcpy(packet.data() + kIcmpHeaderSize, requestData, requestSize);
    WriteBigEndian16(packet.data() + 2, InternetChecksum(packet.data(), packet.size()));

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = destination;
    const auto started = std::chrono::steady_clock::now();
    if (::sendto(h->fd, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0)
        return finish(StatusFromErrno(errno));

    std::uint16_t id = h->rawId;
    if (h->kind == IcmpSocketKind::Datagram) {
        // The kernel identifies a datagram socket's requests by its local
        // "port" and filters replies by it; the sequence number is ours.
        sockaddr_in local{};
        socklen_t len = sizeof local;
        if (::getsockname(h->fd, reinterpret_cast<sockaddr*>(&local), &len) == 0)
            id = ntohs(local.sin_port);
    }

    const auto deadline = started + std::chrono::milliseconds(timeoutMs);
    std::vector<std::uint8_t> buffer(65536);
    Outcome out;
    while (!out.done) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            break;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
        pollfd pfd{h->fd, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, int(std::min<long long>(left, INT_MAX)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return finish(IP_GENERAL_FAILURE);
        if (ready == 0)
            break;
        if (h->kind == IcmpSocketKind::Datagram) {
            if (pfd.revents & POLLERR)
                ReadErrorQueue(*h, id, sequence, out);
            if (!out.done && (pfd.revents & POLLIN))
                ReadDatagram(*h, id, sequence, buffer, out);
        } else {
            ReadRaw(*h, sequence, buffer, out);
        }
    }
    if (!out.done)
        return finish(IP_REQ_TIMED_OUT);

    const auto elapsed = std::chrono::steady_clock::now() - started;
    record.Address = out.from;
    record.RoundTripTime = std::uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
    record.Options.Ttl = out.ttl;
    record.Options.Tos = out.tos;
    if (out.status != IP_SUCCESS)
        return finish(out.status);
    if (sizeof record + out.data.size() > replySize)
        return finish(IP_BUF_TOO_SMALL);
    record.DataSize = std::uint16_t(out.data.size());
    record.Data = std::uint32_t(sizeof record);
    if (!out.data.empty())
        std::memcpy(static_cast<std::uint8_t*>(replyBuffer) + sizeof record, out.data.data(), out.data.size());
    return finish(IP_SUCCESS);
}

std::uint32_t IcmpGetLastError() { return tLastError; }

std::string IcmpGetLastErrorText() { return tLastErrorText; }

HMODULE IcmpLoadLibrary(const char* fileName)
{
    const std::lock_guard lock(gLoaderMutex);
    if (gLoadFailure || !fileName || ::strcasecmp(fileName, "icmp.dll") != 0) {
        SetError(ICMP_ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    ++gLoads;
    SetError(0);
    return &gModule;
}

void* IcmpGetProcAddress(HMODULE module, const char* procName)
{
    const std::lock_guard lock(gLoaderMutex);
    if (module != &gModule || !procName || gMissingExports.count(procName)) {
        SetError(ICMP_ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    const std::string name = procName;
    void* proc = nullptr;
    if (name == "IcmpCreateFile")
        proc = reinterpret_cast<void*>(&IcmpCreateFile);
    else if (name == "IcmpCloseHandle")
        proc = reinterpret_cast<void*>(&IcmpCloseHandle);
    else if (name == "IcmpSendEcho")
        proc = reinterpret_cast<void*>(&IcmpSendEcho);
    SetError(proc ? 0 : ICMP_ERROR_PROC_NOT_FOUND);
    return proc;
}

bool IcmpFreeLibrary(HMODULE module)
{
    const std::lock_guard lock(gLoaderMutex);
    if (module != &gModule) {
        SetError(ICMP_ERROR_INVALID_HANDLE);
        return false;
    }
    ++gFrees;
    SetError(0);
    return true;
}

IcmpLibraryStats GetIcmpLibraryStats()
{
    IcmpLibraryStats stats;
    {
        const std::lock_guard lock(gLoaderMutex);
        stats.loads = gLoads;
        stats.frees = gFrees;
    }
    const std::lock_guard lock(gHandlesMutex);
    stats.openHandles = int(gHandles.size());
    return stats;
}

void SetIcmpLibraryLoadFailure(bool fail)
{
    const std::lock_guard lock(gLoaderMutex);
    gLoadFailure = fail;
}

void SetIcmpExportMissing(const char* procName, bool missing)
{
    const std::lock_guard lock(gLoaderMutex);
    if (missing)
        gMissingExports.insert(procName);
    else
        gMissingExports.erase(procName);
}

IcmpSocketKind IcmpHandleSocketKind(ICMP_HANDLE handle)
{
    const std::shared_ptr<EchoHandle> h = FindHandle(handle);
    return h ? h->kind : IcmpSocketKind::None;
}
