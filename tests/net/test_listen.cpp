// Listening, accepting, adopting with Dup, and datagrams.

#include "netpeer.h"

#include "support/eventwait.h"

#include <gtest/gtest.h>

#include <memory>

using namespace nettest;
using testsupport::RunFor;
using testsupport::WaitFor;

TEST(NetListen, ListenAcceptDupAndTalk)
{
    TWSocket server;
    TWSocket session;
    TWSocket client;
    EventLog serverLog;
    serverLog.Attach(server);
    server.SetAddr("127.0.0.1");
    server.SetPort("0");
    server.Listen();
    ASSERT_EQ(server.State(), wsListening);
    const std::string port = server.GetXPort();
    EXPECT_NE(port, "0");
    EXPECT_NE(port, "error");
    EXPECT_EQ(server.LocalPort(), "0");

    EventLog sessionLog;
    sessionLog.Attach(session);
    std::string atSession;
    session.OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) { atSession += s->ReceiveStr(); };
    server.OnSessionAvailable = [&](TCustomWSocket* s, std::uint16_t error) {
        EXPECT_EQ(error, 0);
        const SOCKET h = s->Accept();
        ASSERT_NE(h, INVALID_SOCKET);
        session.Dup(h);
    };
    std::string atClient;
    client.OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) { atClient += s->ReceiveStr(); };
    client.OnSessionConnected = [&](TCustomWSocket* s, std::uint16_t) { s->SendStr("ping"); };
    client.SetAddr("127.0.0.1");
    client.SetPort(port);
    client.Connect();
    ASSERT_TRUE(WaitFor([&] { return atSession == "ping"; }));
    EXPECT_EQ(session.State(), wsConnected);
    EXPECT_EQ(server.State(), wsListening);
    EXPECT_EQ(sessionLog.items.front(), "state closed>connected");
    EXPECT_FALSE(sessionLog.Has("connected 0")); // Dup fires no OnSessionConnected
    EXPECT_EQ(session.PeerPort(), client.GetXPort());

    session.SendStr("pong");
    ASSERT_TRUE(WaitFor([&] { return atClient == "pong"; }));

    // Dup on a connected object drops its old connection silently.
    sessionLog.items.clear();
    const int fd = ConnectTo(std::uint16_t(std::stoi(port)));
    ASSERT_GE(fd, 0);
    PosixPeer second(fd);
    ASSERT_TRUE(WaitFor([&] { return sessionLog.items.size() >= 2; }));
    EXPECT_EQ(sessionLog.items[0], "state connected>closed");
    EXPECT_EQ(sessionLog.items[1], "state closed>connected");
    EXPECT_FALSE(sessionLog.Has("closed 0"));
    ASSERT_TRUE(WaitFor([&] { return client.State() == wsClosed; }));
    second.Write("again");
    ASSERT_TRUE(WaitFor([&] { return atSession == "pingagain"; }));

    server.Close();
    EXPECT_EQ(server.State(), wsClosed);
    EXPECT_TRUE(serverLog.Has("closed 0"));
}

TEST(NetListen, RefusalsUseSocketErrorMessages)
{
    TWSocket s;
    EXPECT_EQ(RaisedBy([&] { s.Listen(); }), "Error 10022 in function listen: port not assigned\r\nInvalid argument");
    s.SetPort("0");
    s.SetProto("");
    EXPECT_EQ(RaisedBy([&] { s.Listen(); }),
              "Error 10022 in function listen: protocol not assigned\r\nInvalid argument");
    s.SetProto("tcp");
    EXPECT_EQ(RaisedBy([&] { s.Listen(); }),
              "Error 10022 in function listen: address not assigned\r\nInvalid argument");
    EXPECT_EQ(RaisedBy([&] { s.Accept(); }), "Error 10022 in function not a listening socket\r\nInvalid argument");
    EXPECT_EQ(RaisedBy([&] { s.Dup(0); }), "Error 10022 in function Dup\r\nInvalid argument");
    s.SetAddr("nonexistent.invalid");
    EXPECT_EQ(RaisedBy([&] { s.Listen(); }),
              "listen: WSocketResolveHost: Cannot convert host address 'nonexistent.invalid'");

    // A port in use fails the bind and leaves the object closed.
    TWSocket first;
    first.SetAddr("127.0.0.1");
    first.SetPort("0");
    first.Listen();
    TWSocket clash;
    clash.SetAddr("127.0.0.1");
    clash.SetPort(first.GetXPort());
    EXPECT_EQ(RaisedBy([&] { clash.Listen(); }), "Error 10048 in function Bind\r\nAddress already in use");
    EXPECT_EQ(clash.State(), wsClosed);
    EXPECT_EQ(clash.SocketHandle(), INVALID_SOCKET);

    TWSocket socks;
    socks.SetSocksServer("127.0.0.1");
    socks.SetAddr("127.0.0.1");
    socks.SetPort("0");
    EXPECT_EQ(RaisedBy([&] { socks.Listen(); }), "Listening is not supported thru socks server");
    EXPECT_EQ(socks.State(), wsClosed);
}

TEST(NetListen, DatagramsBothWays)
{
    TWSocket server;
    EventLog serverLog;
    serverLog.Attach(server);
    std::string atServer;
    sockaddr_in from{};
    server.OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) {
        char buf[2048];
        int fromLen = sizeof from;
        const int n = s->ReceiveFrom(buf, sizeof buf, from, fromLen);
        if (n > 0)
            atServer.append(buf, std::size_t(n));
    };
    server.SetProto("udp");
    server.SetAddr("127.0.0.1");
    server.SetPort("0");
    server.Listen();
    EXPECT_EQ(server.State(), wsConnected);
    const std::vector<std::string> expected = {"state closed>bound", "state bound>listening",
                                               "state listening>connected", "connected 0"};
    EXPECT_EQ(serverLog.items, expected) << serverLog.Joined();

    TWSocket client;
    EventLog clientLog;
    clientLog.Attach(client);
    std::string atClient;
    CollectReceived(client, atClient);
    client.SetProto("udp");
    client.SetAddr("127.0.0.1");
    client.SetPort(server.GetXPort());
    client.Connect();
    EXPECT_EQ(client.State(), wsConnected);
    EXPECT_TRUE(clientLog.Has("connected 0"));
    client.SendStr("datagram");
    ASSERT_TRUE(WaitFor([&] { return atServer == "datagram"; }));
    EXPECT_EQ(std::to_string(ntohs(from.sin_port)), client.GetXPort());
    // A write larger than a queue block still travels as one datagram.
    std::vector<int> sizes;
    server.OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) {
        char buf[8192];
        int fromLen = sizeof from;
        const int n = s->ReceiveFrom(buf, sizeof buf, from, fromLen);
        if (n > 0)
            sizes.push_back(n);
    };
    client.SendStr(std::string(4000, 'd'));
    client.SendStr(std::string(10, 'e'));
    ASSERT_TRUE(WaitFor([&] { return sizes.size() >= 2; }));
    EXPECT_EQ(sizes, (std::vector<int>{4000, 10}));
    EXPECT_EQ(server.SendTo(from, sizeof from, "reply", 5), 5);
    ASSERT_TRUE(WaitFor([&] { return atClient == "reply"; }));
    EXPECT_EQ(client.ReadCount(), 5);
}
