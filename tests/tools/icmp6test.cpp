// ICMPv6 echo to ::1 through the ping engine, IPv6 names and literals in
// its lookups, and the ICMPv6 error statuses.
#include "support/eventwait.h"
#include "tools/icmp.h"
#include "tools/icmp6echo.h"

#include <gtest/gtest.h>

#include <netdb.h>
#include <netinet/icmp6.h>
#include <sys/socket.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

namespace {

// Empty when this process can send ICMPv6 echoes to ::1; else the reason.
std::string Icmp6UnavailableReason()
{
    int fd = ::socket(AF_INET6, SOCK_DGRAM, IPPROTO_ICMPV6);
    if (fd < 0)
        fd = ::socket(AF_INET6, SOCK_RAW, IPPROTO_ICMPV6);
    if (fd < 0)
        return "no ICMPv6 socket can be opened here";
    sockaddr_in6 loopback{};
    loopback.sin6_family = AF_INET6;
    loopback.sin6_addr = in6addr_loopback;
    const int probe = ::socket(AF_INET6, SOCK_DGRAM, 0);
    const bool hasLoopback = probe >= 0 &&
                             ::bind(probe, reinterpret_cast<const sockaddr*>(&loopback), sizeof loopback) == 0;
    if (probe >= 0)
        ::close(probe);
    ::close(fd);
    return hasLoopback ? std::string() : "no IPv6 loopback address here";
}

// The system resolver's addresses of `name` for one family, as text.
std::set<std::string> SystemAddresses(const char* name, int family)
{
    std::set<std::string> found;
    addrinfo hints{};
    hints.ai_family = family;
    addrinfo* list = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &list) != 0)
        return found;
    for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        char text[INET6_ADDRSTRLEN] = {};
        const void* raw = family == AF_INET6
                              ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(ai->ai_addr)->sin6_addr)
                              : static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr);
        if (::inet_ntop(family, raw, text, sizeof text) != nullptr)
            found.insert(text);
    }
    ::freeaddrinfo(list);
    return found;
}

class ToolsIcmp6 : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string why = Icmp6UnavailableReason();
        if (!why.empty())
            GTEST_SKIP() << why;
    }
};

TEST_F(ToolsIcmp6, EchoesToTheIPv6LoopbackWithAndWithoutBrackets)
{
    TICMP icmp;
    std::vector<std::string> events;
    icmp.OnDisplay = [&events](TICMP*, const std::string& msg) { events.push_back("display " + msg); };
    icmp.OnEchoReply = [&events](TICMP*, int n) { events.push_back("reply " + std::to_string(n)); };
    for (const char* address : {"::1", "[::1]", " 0:0:0:0:0:0:0:1 "}) {
        icmp.SetAddress(address);
        for (const int size : {0, 56, 1400, 9000}) {
            icmp.SetSize(size);
            ASSERT_EQ(icmp.Ping(), 1) << address << " " << size << ": " << icmp.GetErrorString();
            EXPECT_EQ(icmp.LastError(), 0);
            EXPECT_EQ(icmp.Reply().Status, 0u);
            EXPECT_EQ(icmp.Reply().DataSize, size);
            EXPECT_LE(icmp.Reply().RoundTripTime, 4000u);
        }
        EXPECT_TRUE(icmp.IsIPv6());
        EXPECT_EQ(icmp.HostIP(), "::1");
    }
    EXPECT_EQ(events, std::vector<std::string>(12, "reply 1"));

    // Back to IPv4 on the same engine.
    icmp.SetAddress("127.0.0.1");
    icmp.SetSize(56);
    ASSERT_EQ(icmp.Ping(), 1) << icmp.GetErrorString();
    EXPECT_FALSE(icmp.IsIPv6());
}

TEST_F(ToolsIcmp6, ANameWithOnlyAnIPv6AddressIsPingedOverICMPv6)
{
    // Debian's /etc/hosts names ::1 "ip6-localhost"; a machine without
    // that line has no such name to test with.
    const char* name = "ip6-localhost";
    if (SystemAddresses(name, AF_INET6) != std::set<std::string>{"::1"} || !SystemAddresses(name, AF_INET).empty())
        GTEST_SKIP() << name << " is not an IPv6-only name for ::1 here";
    TICMP icmp;
    icmp.SetAddress(name);
    ASSERT_EQ(icmp.Ping(), 1) << icmp.GetErrorString();
    EXPECT_TRUE(icmp.IsIPv6());
    EXPECT_EQ(icmp.HostIP(), "::1");
}

TEST_F(ToolsIcmp6, FailuresAreNeverReplies)
{
    TICMP icmp;
    icmp.SetAddress("::1");
    icmp.SetTTL(0);
    EXPECT_EQ(icmp.Ping(), 0);
    EXPECT_EQ(icmp.LastError(), std::int32_t(IP_BAD_OPTION));
    icmp.SetTTL(64);
    icmp.SetSize(ICMP_MAX_REQUEST_SIZE + 1);
    EXPECT_EQ(icmp.Ping(), 0);
    EXPECT_EQ(icmp.LastError(), std::int32_t(IP_BAD_REQ));

    // The documentation prefix is routed nowhere: no route, or no answer.
    icmp.SetSize(56);
    icmp.SetTimeout(300);
    icmp.SetAddress("2001:db8::1");
    EXPECT_EQ(icmp.Ping(), 0);
    EXPECT_NE(icmp.LastError(), 0);
    EXPECT_NE(icmp.GetErrorString(), "No error");
}

TEST(ToolsIcmp6Status, ErrorMessagesMapToTheirStatus)
{
    EXPECT_EQ(Icmp6StatusFromError(ICMP6_DST_UNREACH, ICMP6_DST_UNREACH_NOROUTE), IP_DEST_NET_UNREACHABLE);
    EXPECT_EQ(Icmp6StatusFromError(ICMP6_DST_UNREACH, ICMP6_DST_UNREACH_ADDR), IP_DEST_HOST_UNREACHABLE);
    EXPECT_EQ(Icmp6StatusFromError(ICMP6_DST_UNREACH, ICMP6_DST_UNREACH_NOPORT), IP_DEST_PORT_UNREACHABLE);
    EXPECT_EQ(Icmp6StatusFromError(ICMP6_DST_UNREACH, ICMP6_DST_UNREACH_ADMIN), IP_DEST_PROT_UNREACHABLE);
    EXPECT_EQ(Icmp6StatusFromError(ICMP6_PACKET_TOO_BIG, 0), IP_PACKET_TOO_BIG);
    EXPECT_EQ(Icmp6StatusFromError(ICMP6_TIME_EXCEEDED, ICMP6_TIME_EXCEED_TRANSIT), IP_TTL_EXPIRED_TRANSIT);
    EXPECT_EQ(Icmp6StatusFromError(ICMP6_TIME_EXCEEDED, ICMP6_TIME_EXCEED_REASSEMBLY), IP_TTL_EXPIRED_REASSEM);
    EXPECT_EQ(Icmp6StatusFromError(ICMP6_PARAM_PROB, 1), IP_PARAM_PROBLEM);
    EXPECT_EQ(Icmp6StatusFromError(200, 0), IP_GENERAL_FAILURE);
}

TEST(ToolsPingLookup, IPv6LiteralsAnswerAtOnceAndNamesListTheirIPv6Addresses)
{
    std::unique_ptr<TPing> ping;
    try {
        ping = std::make_unique<TPing>();
    } catch (const std::exception& e) {
        GTEST_SKIP() << "TPing needs its ICMP engine: " << e.what();
    }
    std::vector<int> done;
    ping->OnDnsLookupDone = [&done](TPing*, std::uint16_t error) { done.push_back(error); };
    for (const char* literal : {"::1", "[::1]", "0::1"}) {
        ping->DnsLookup(literal);
        ASSERT_EQ(done.size(), 1u) << literal;
        EXPECT_EQ(done.back(), 0);
        EXPECT_EQ(ping->DnsResult(), "::1");
        EXPECT_EQ(ping->DnsResultsIPv6(), std::vector<std::string>{"::1"});
        done.clear();
    }

    ping->DnsLookup("localhost");
    ASSERT_TRUE(testsupport::WaitFor([&done] { return !done.empty(); }, 10000));
    ASSERT_EQ(done, std::vector<int>{0});
    const std::set<std::string> v4 = SystemAddresses("localhost", AF_INET);
    const std::set<std::string> v6 = SystemAddresses("localhost", AF_INET6);
    const std::vector<std::string>& got = ping->DnsResultsIPv6();
    EXPECT_EQ(std::set<std::string>(got.begin(), got.end()), v6);
    EXPECT_EQ(std::set<std::string>(got.begin(), got.end()).size(), got.size()) << "each address once";
    EXPECT_EQ(ping->DnsResult(), v4.empty() ? *v6.begin() : *v4.begin());
}

} // namespace
