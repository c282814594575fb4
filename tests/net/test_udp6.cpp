// Datagram sockets over IPv6: a listener on ::1, a client that connects to
// it by literal and by bracketed literal, replies to the sender's address.

#include "netpeer.h"

#include "support/eventwait.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

using namespace nettest;
using testsupport::WaitFor;

namespace {

TEST(NetUdp6, DatagramsBothWaysOnTheIPv6Loopback)
{
    if (!HaveIPv6Loopback())
        GTEST_SKIP() << "this machine has no IPv6 loopback address (::1)";
    TWSocket server;
    std::vector<std::string> atServer;
    sockaddr_storage from{};
    int fromLen = 0;
    server.OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) {
        char buf[8192];
        fromLen = sizeof from;
        const int n = s->ReceiveFrom(buf, sizeof buf, from, fromLen);
        if (n >= 0)
            atServer.emplace_back(buf, std::size_t(n));
    };
    server.SetProto("udp");
    server.SetAddr("::1");
    server.SetPort("0");
    server.Listen();
    ASSERT_EQ(server.State(), wsConnected);

    for (const char* address : {"::1", "[::1]"}) {
        SCOPED_TRACE(address);
        atServer.clear();
        TWSocket client;
        std::string atClient;
        CollectReceived(client, atClient);
        client.SetProto("udp");
        client.SetAddr(address);
        client.SetPort(server.GetXPort());
        client.Connect();
        ASSERT_EQ(client.State(), wsConnected);
        client.SendStr("six");
        client.SendStr(std::string(5000, 'x'));
        ASSERT_TRUE(WaitFor([&] { return atServer.size() >= 2; }));
        EXPECT_EQ(atServer[0], "six");
        EXPECT_EQ(atServer[1].size(), 5000u);
        // The sender's whole IPv6 address came through, port included.
        ASSERT_EQ(from.ss_family, AF_INET6);
        EXPECT_EQ(fromLen, int(sizeof(sockaddr_in6)));
        const auto* sender = reinterpret_cast<const sockaddr_in6*>(&from);
        EXPECT_TRUE(IN6_IS_ADDR_LOOPBACK(&sender->sin6_addr));
        EXPECT_EQ(std::to_string(ntohs(sender->sin6_port)), client.GetXPort());
        EXPECT_EQ(server.SendTo(from, fromLen, "back", 4), 4);
        ASSERT_TRUE(WaitFor([&] { return atClient == "back"; }));
        client.Close();
    }
}

} // namespace
