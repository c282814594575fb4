// The echo library stand-in on its own: which packets count as our answer,
// the reply record, the loader, and two pings running side by side.
#include "icmptestsupport.h"

#include "platform/icmpapi.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint16_t Checksum(const Bytes& data)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < data.size(); i += 2)
        sum += std::uint32_t(data[i] << 8) | (i + 1 < data.size() ? data[i + 1] : 0);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return std::uint16_t(~sum);
}

Bytes Icmp(std::uint8_t type, std::uint8_t code, std::uint16_t id, std::uint16_t seq, const Bytes& body = {})
{
    Bytes m{type, code, 0, 0, std::uint8_t(id >> 8), std::uint8_t(id), std::uint8_t(seq >> 8), std::uint8_t(seq)};
    m.insert(m.end(), body.begin(), body.end());
    const std::uint16_t sum = Checksum(m);
    m[2] = std::uint8_t(sum >> 8);
    m[3] = std::uint8_t(sum);
    return m;
}

Bytes Ip(const Bytes& payload, std::uint8_t ttl = 64, const char* from = "127.0.0.9")
{
    Bytes p(20, 0);
    p[0] = 0x45;
    const std::size_t total = p.size() + payload.size();
    p[2] = std::uint8_t(total >> 8);
    p[3] = std::uint8_t(total);
    p[8] = ttl;
    p[9] = 1; // ICMP
    const std::uint32_t src = inet_addr(from);
    std::memcpy(&p[12], &src, 4);
    p.insert(p.end(), payload.begin(), payload.end());
    return p;
}

// An ICMP error about the echo request (id, seq): its IP header and the
// first 8 bytes of its ICMP message, as routers quote them.
Bytes ErrorAbout(std::uint8_t type, std::uint8_t code, std::uint16_t id, std::uint16_t seq)
{
    const Bytes quoted = Ip(Icmp(8, 0, id, seq, Bytes(56, ' ')));
    const Bytes head(quoted.begin(), quoted.begin() + 28);
    return Ip(Icmp(type, code, 0, 0, head), 250, "127.0.0.7");
}

IcmpMatch MatchRaw(const Bytes& packet, std::uint16_t id, std::uint16_t seq)
{
    return IcmpMatchRawPacket(packet.data(), packet.size(), id, seq);
}

} // namespace

TEST(ToolsIcmpApi, RawEchoReplyOfOursIsTakenWithDataAndTtl)
{
    const Bytes packet = Ip(Icmp(0, 0, 0x1234, 7, {'a', 'b', 'c'}), 61, "127.0.0.3");
    const IcmpMatch m = MatchRaw(packet, 0x1234, 7);
    ASSERT_TRUE(m.ours);
    EXPECT_EQ(m.status, IP_SUCCESS);
    EXPECT_EQ(m.dataSize, 3u);
    EXPECT_EQ(std::string(packet.begin() + long(m.dataOffset), packet.end()), "abc");
    EXPECT_EQ(m.ttl, 61);
    EXPECT_EQ(m.from, inet_addr("127.0.0.3"));
}

TEST(ToolsIcmpApi, RepliesToOtherPingsAreIgnored)
{
    // Another program's ping (other identifier), an earlier request of ours
    // (other sequence), our own request seen on loopback, and a reply whose
    // checksum is wrong are none of them our answer.
    EXPECT_FALSE(MatchRaw(Ip(Icmp(0, 0, 0x4321, 7)), 0x1234, 7).ours);
    EXPECT_FALSE(MatchRaw(Ip(Icmp(0, 0, 0x1234, 6)), 0x1234, 7).ours);
    EXPECT_FALSE(MatchRaw(Ip(Icmp(8, 0, 0x1234, 7)), 0x1234, 7).ours);
    Bytes corrupt = Ip(Icmp(0, 0, 0x1234, 7, {'x'}));
    corrupt.back() ^= 0x01;
    EXPECT_FALSE(MatchRaw(corrupt, 0x1234, 7).ours);

    const Bytes dgramOther = Icmp(0, 0, 0x1234, 8);
    EXPECT_FALSE(IcmpMatchDatagram(dgramOther.data(), dgramOther.size(), 0x1234, 7).ours);
    const Bytes dgramOurs = Icmp(0, 0, 0x1234, 7, {'q'});
    const IcmpMatch m = IcmpMatchDatagram(dgramOurs.data(), dgramOurs.size(), 0x1234, 7);
    ASSERT_TRUE(m.ours);
    EXPECT_EQ(m.dataSize, 1u);
}

TEST(ToolsIcmpApi, ErrorsAboutOurRequestGiveTheirStatus)
{
    const IcmpMatch ttl = MatchRaw(ErrorAbout(11, 0, 0x1234, 7), 0x1234, 7);
    ASSERT_TRUE(ttl.ours);
    EXPECT_EQ(ttl.status, IP_TTL_EXPIRED_TRANSIT);
    EXPECT_EQ(ttl.from, inet_addr("127.0.0.7"));
    EXPECT_EQ(MatchRaw(ErrorAbout(3, 1, 0x1234, 7), 0x1234, 7).status, IP_DEST_HOST_UNREACHABLE);
    EXPECT_EQ(MatchRaw(ErrorAbout(3, 3, 0x1234, 7), 0x1234, 7).status, IP_DEST_PORT_UNREACHABLE);
    EXPECT_EQ(MatchRaw(ErrorAbout(11, 1, 0x1234, 7), 0x1234, 7).status, IP_TTL_EXPIRED_REASSEM);
    EXPECT_EQ(MatchRaw(ErrorAbout(12, 0, 0x1234, 7), 0x1234, 7).status, IP_PARAM_PROBLEM);
    // The same errors about somebody else's request are not ours.
    EXPECT_FALSE(MatchRaw(ErrorAbout(11, 0, 0x4321, 7), 0x1234, 7).ours);
    EXPECT_FALSE(MatchRaw(ErrorAbout(3, 1, 0x1234, 9), 0x1234, 7).ours);
    // Truncated packets are refused, not read past their end.
    const Bytes full = ErrorAbout(11, 0, 0x1234, 7);
    for (std::size_t n = 0; n < full.size(); ++n) {
        Bytes cut(full.begin(), full.begin() + long(n));
        EXPECT_FALSE(MatchRaw(cut, 0x1234, 7).ours) << n;
    }
}

TEST(ToolsIcmpApi, EchoFillsTheReplyRecordAndData)
{
    const std::string why = icmptest::EchoUnavailableReason();
    if (!why.empty())
        GTEST_SKIP() << why;
    const ICMP_HANDLE h = IcmpCreateFile();
    const std::string payload = "0123456789abcdef";
    std::vector<char> reply(sizeof(ICMP_ECHO_REPLY) + payload.size());
    IP_OPTION_INFORMATION options;
    options.Ttl = 9;
    ASSERT_EQ(IcmpSendEcho(h, inet_addr("127.0.0.1"), payload.data(), std::uint16_t(payload.size()), &options,
                           reply.data(), std::uint32_t(reply.size()), 2000),
              1u);
    EXPECT_EQ(IcmpGetLastError(), IP_SUCCESS);
    ICMP_ECHO_REPLY record;
    std::memcpy(&record, reply.data(), sizeof record);
    EXPECT_EQ(record.Status, IP_SUCCESS);
    EXPECT_EQ(record.Address, inet_addr("127.0.0.1"));
    EXPECT_EQ(record.DataSize, payload.size());
    EXPECT_EQ(record.Data, sizeof record);
    EXPECT_NE(record.Options.Ttl, 0);
    EXPECT_EQ(std::string(reply.data() + record.Data, record.DataSize), payload);

    // A buffer without room for the data, an option block we cannot send
    // and a handle that is not open are refused without a request.
    EXPECT_EQ(IcmpSendEcho(h, inet_addr("127.0.0.1"), payload.data(), std::uint16_t(payload.size()), nullptr,
                           reply.data(), std::uint32_t(reply.size() - 1), 2000),
              0u);
    EXPECT_EQ(IcmpGetLastError(), IP_BUF_TOO_SMALL);
    options.Ttl = 0;
    EXPECT_EQ(IcmpSendEcho(h, inet_addr("127.0.0.1"), payload.data(), 4, &options, reply.data(),
                           std::uint32_t(reply.size()), 2000),
              0u);
    EXPECT_EQ(IcmpGetLastError(), IP_BAD_OPTION);
    std::vector<char> big(ICMP_MAX_REQUEST_SIZE + 1u);
    EXPECT_EQ(IcmpSendEcho(h, inet_addr("127.0.0.1"), big.data(), std::uint16_t(big.size()), nullptr, reply.data(),
                           std::uint32_t(reply.size()), 2000),
              0u);
    EXPECT_EQ(IcmpGetLastError(), IP_BAD_REQ);
    EXPECT_TRUE(IcmpCloseHandle(h));
    EXPECT_FALSE(IcmpCloseHandle(h));
    EXPECT_EQ(IcmpSendEcho(h, inet_addr("127.0.0.1"), payload.data(), 4, nullptr, reply.data(),
                           std::uint32_t(reply.size()), 2000),
              0u);
    EXPECT_EQ(IcmpGetLastError(), ICMP_ERROR_INVALID_HANDLE);
}

TEST(ToolsIcmpApi, TwoPingsAtOnceEachGetTheirOwnReplies)
{
    const std::string why = icmptest::EchoUnavailableReason();
    if (!why.empty())
        GTEST_SKIP() << why;
    // On a raw socket both handles see every reply on the machine; each
    // must still take only the answers to its own requests, which the
    // different payload sizes make visible.
    const auto pinger = [](std::uint16_t size, int& wrong, int& failed) {
        const ICMP_HANDLE h = IcmpCreateFile();
        const std::vector<char> payload(size, char('a' + size % 26));
        std::vector<char> reply(sizeof(ICMP_ECHO_REPLY) + size);
        for (int i = 0; i < 200; ++i) {
            if (IcmpSendEcho(h, inet_addr("127.0.0.1"), payload.data(), size, nullptr, reply.data(),
                             std::uint32_t(reply.size()), 2000) != 1) {
                ++failed;
                continue;
            }
            ICMP_ECHO_REPLY record;
            std::memcpy(&record, reply.data(), sizeof record);
            if (record.DataSize != size || std::memcmp(reply.data() + sizeof record, payload.data(), size) != 0)
                ++wrong;
        }
        IcmpCloseHandle(h);
    };
    int wrongA = 0, failedA = 0, wrongB = 0, failedB = 0;
    std::thread a(pinger, std::uint16_t(24), std::ref(wrongA), std::ref(failedA));
    std::thread b(pinger, std::uint16_t(40), std::ref(wrongB), std::ref(failedB));
    a.join();
    b.join();
    EXPECT_EQ(wrongA, 0);
    EXPECT_EQ(wrongB, 0);
    EXPECT_EQ(failedA, 0);
    EXPECT_EQ(failedB, 0);
    EXPECT_EQ(GetIcmpLibraryStats().openHandles, 0);
}

TEST(ToolsIcmpApi, LoaderKnowsOnlyTheEchoLibrary)
{
    HMODULE module = IcmpLoadLibrary("ICMP.DLL");
    ASSERT_NE(module, nullptr);
    EXPECT_NE(IcmpGetProcAddress(module, "IcmpSendEcho"), nullptr);
    EXPECT_EQ(IcmpGetProcAddress(module, "IcmpSendEcho2"), nullptr);
    EXPECT_EQ(IcmpGetLastError(), ICMP_ERROR_PROC_NOT_FOUND);
    EXPECT_TRUE(IcmpFreeLibrary(module));
    EXPECT_EQ(IcmpLoadLibrary("iphlpapi.dll"), nullptr);
    EXPECT_EQ(IcmpGetLastError(), ICMP_ERROR_MOD_NOT_FOUND);
}
