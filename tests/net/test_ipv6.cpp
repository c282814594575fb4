// IPv6: listening and connecting on ::1, lookups of every family, connects
// that try each resolved address in order, and the address texts.

#include "netpeer.h"

#include "net/wsocketaddress.h"
#include "support/eventwait.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <memory>

using namespace nettest;
using testsupport::WaitFor;

namespace {

#define REQUIRE_IPV6_LOOPBACK()                                                                   \
    do {                                                                                          \
        if (!HaveIPv6Loopback())                                                                  \
            GTEST_SKIP() << "this machine has no IPv6 loopback address (::1); IPv6 test skipped"; \
    } while (0)

TWSocketAddress Literal(const std::string& text)
{
    const std::vector<TWSocketAddress> all = WSocketResolveHostAll(text);
    EXPECT_EQ(all.size(), 1u) << text;
    return all.front();
}

// A socket whose Addr resolves to a list the test chooses.
class TListSocket : public TWSocket {
public:
    std::vector<TWSocketAddress> Addresses;
    std::vector<TWSocketAddress> ResolveAddrAll(const std::string&) override { return Addresses; }
};

// The events of a connect that succeeded, up to OnSessionConnected.
const std::string ConnectedOnce =
    "state closed>opened, state opened>connecting, state connecting>connected, connected 0";

// A port on which nothing listens, on either loopback address.
std::string UnusedPort()
{
    TWSocket probe;
    probe.SetAddr("127.0.0.1");
    probe.SetPort("0");
    probe.Listen();
    const std::string port = probe.GetXPort();
    probe.Close();
    return port;
}

// Listens on Addr:0, adopts the first connection into `session`.
void ListenAndAdopt(TWSocket& server, TWSocket& session, const std::string& addr)
{
    server.SetAddr(addr);
    server.SetPort("0");
    server.Listen();
    server.OnSessionAvailable = [&session](TCustomWSocket* s, std::uint16_t error) {
        EXPECT_EQ(error, 0);
        const SOCKET h = s->Accept();
        ASSERT_NE(h, INVALID_SOCKET);
        session.Dup(h);
    };
}

} // namespace

TEST(NetIPv6, AddressTextsAndHostPort)
{
    EXPECT_EQ(WSocketHostPort("::1", "2121"), "[::1]:2121");
    EXPECT_EQ(WSocketHostPort("[::1]", "21"), "[::1]:21");
    EXPECT_EQ(WSocketHostPort("127.0.0.1", "21"), "127.0.0.1:21");
    EXPECT_EQ(WSocketHostPort("ftp.example.com", "21"), "ftp.example.com:21");

    EXPECT_TRUE(WSocketIsIPv6("::1"));
    EXPECT_TRUE(WSocketIsIPv6(" [2001:db8::7] "));
    EXPECT_FALSE(WSocketIsIPv6("127.0.0.1"));
    EXPECT_FALSE(WSocketIsIPv6("localhost"));
    EXPECT_FALSE(WSocketIsIPv6("1:2:3"));

    const TWSocketAddress v6 = Literal("[0:0::1]");
    EXPECT_EQ(v6.Family(), AF_INET6);
    EXPECT_EQ(WSocketAddrText(v6.Addr()), "::1");
    const TWSocketAddress v4 = Literal("127.000.0.1");
    EXPECT_EQ(v4.Family(), AF_INET);
    EXPECT_EQ(WSocketAddrText(v4.Addr()), "127.0.0.1");
    TWSocketAddress withPort = v6;
    withPort.SetPort(2121);
    EXPECT_EQ(withPort.Port(), 2121);

    // A name resolves to every address it has, IPv4 included.
    const std::vector<TWSocketAddress> local = WSocketResolveHostAll("localhost");
    ASSERT_FALSE(local.empty());
    bool hasV4 = false;
    for (const TWSocketAddress& a : local)
        hasV4 = hasV4 || WSocketAddrText(a.Addr()) == "127.0.0.1";
    EXPECT_TRUE(hasV4);

    auto raised = [](const std::string& host) {
        try {
            WSocketResolveHostAll(host);
        } catch (const ESocketException& e) {
            return e.Message();
        }
        return std::string("(nothing raised)");
    };
    EXPECT_EQ(raised(""), "WSocketResolveHost: '' Invalid Hostname.");
    EXPECT_EQ(raised("nonexistent.invalid"), "WSocketResolveHost: Cannot convert host address 'nonexistent.invalid'");
}

TEST(NetIPv6, DnsLookupAnswersLiteralsAtOnceAndNamesWithEveryFamily)
{
    TWSocket s;
    std::vector<std::uint16_t> done;
    s.OnDnsLookupDone = [&](TCustomWSocket*, std::uint16_t error) { done.push_back(error); };

    s.DnsLookup("0:0:0::1");
    ASSERT_EQ(done, std::vector<std::uint16_t>{0}); // before DnsLookup returned
    EXPECT_EQ(s.DnsResult(), "::1");
    EXPECT_TRUE(s.DnsResultList().empty());

    done.clear();
    s.DnsLookup("[::1]");
    ASSERT_EQ(done, std::vector<std::uint16_t>{0});
    EXPECT_EQ(s.DnsResult(), "::1");

    done.clear();
    s.DnsLookup("localhost");
    ASSERT_TRUE(WaitFor([&] { return !done.empty(); }));
    EXPECT_EQ(done.front(), 0);
    EXPECT_FALSE(s.DnsResultList().empty());
    EXPECT_EQ(s.DnsResult(), s.DnsResultList().front());
    bool hasV4 = false;
    for (const std::string& a : s.DnsResultList())
        hasV4 = hasV4 || a == "127.0.0.1";
    EXPECT_TRUE(hasV4) << s.DnsResult();
}

TEST(NetIPv6, ListenOnLoopbackAcceptAndTalk)
{
    REQUIRE_IPV6_LOOPBACK();
    TWSocket server;
    TWSocket session;
    TWSocket client;
    ListenAndAdopt(server, session, "::1");
    ASSERT_EQ(server.State(), wsListening);
    EXPECT_EQ(server.GetSockAddr(), "::1");
    const std::string port = server.GetXPort();
    ASSERT_NE(port, "error");
    ASSERT_NE(port, "0");

    std::string atSession;
    session.OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) { atSession += s->ReceiveStr(); };
    std::string atClient;
    client.OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) { atClient += s->ReceiveStr(); };
    client.OnSessionConnected = [&](TCustomWSocket* s, std::uint16_t error) {
        EXPECT_EQ(error, 0);
        s->SendStr("ping");
    };
    client.SetAddr("::1");
    client.SetPort(port);
    client.Connect();
    ASSERT_TRUE(WaitFor([&] { return atSession == "ping"; }));
    EXPECT_EQ(client.GetPeerAddr(), "::1");
    EXPECT_EQ(client.GetPeerPort(), port);
    EXPECT_EQ(client.GetSockAddr(), "::1");
    EXPECT_EQ(session.GetPeerAddr(), "::1");
    EXPECT_EQ(session.GetPeerPort(), client.GetXPort());
    EXPECT_EQ(WSocketHostPort(client.GetPeerAddr(), client.GetPeerPort()), "[::1]:" + port);

    session.SendStr("pong");
    ASSERT_TRUE(WaitFor([&] { return atClient == "pong"; }));
    client.Close();
    ASSERT_TRUE(WaitFor([&] { return session.State() == wsClosed; }));
}

TEST(NetIPv6, ListenerOnEveryAddressTakesBracketedIPv6Client)
{
    REQUIRE_IPV6_LOOPBACK();
    TWSocket server;
    TWSocket session;
    TWSocket client;
    ListenAndAdopt(server, session, "::");
    ASSERT_EQ(server.State(), wsListening);
    EXPECT_EQ(server.GetSockAddr(), "::");

    bool connected = false;
    client.OnSessionConnected = [&](TCustomWSocket*, std::uint16_t error) { connected = error == 0; };
    client.SetAddr("[::1]");
    client.SetPort(server.GetXPort());
    client.Connect();
    ASSERT_TRUE(WaitFor([&] { return connected && session.State() == wsConnected; }));
    EXPECT_EQ(session.GetPeerAddr(), "::1");
}

TEST(NetIPv6, ConnectTriesEachAddressInOrderUntilOneConnects)
{
    REQUIRE_IPV6_LOOPBACK();
    // Only IPv4 listens: ::1 refuses, 127.0.0.1 takes the connection.
    PosixListener listener;
    TListSocket client;
    client.Addresses = {Literal("::1"), Literal("127.0.0.1")};
    EventLog log;
    log.Attach(client);
    client.SetAddr("dual.test");
    client.SetPort(listener.PortText());
    client.Connect();
    const int fd = listener.Accept();
    ASSERT_GE(fd, 0);
    PosixPeer peer(fd);
    ASSERT_TRUE(WaitFor([&] { return log.Has("connected 0"); }));
    // One attempt as the user sees it: the refused address leaves no trace.
    EXPECT_EQ(log.Joined().rfind(ConnectedOnce, 0), 0u) << log.Joined();
    EXPECT_EQ(client.GetPeerAddr(), "127.0.0.1");

    // And the other way round: IPv4 refuses, ::1 takes it.
    TWSocket server;
    TWSocket session;
    ListenAndAdopt(server, session, "::1");
    TListSocket second;
    second.Addresses = {Literal("127.0.0.1"), Literal("::1")};
    EventLog secondLog;
    secondLog.Attach(second);
    second.SetAddr("dual.test");
    second.SetPort(server.GetXPort());
    second.Connect();
    ASSERT_TRUE(WaitFor([&] { return secondLog.Has("connected 0") && session.State() == wsConnected; }));
    EXPECT_EQ(secondLog.Joined().rfind(ConnectedOnce, 0), 0u) << secondLog.Joined();
    EXPECT_EQ(second.GetPeerAddr(), "::1");
}

TEST(NetIPv6, WhenEveryAddressFailsTheLastFailureIsReportedOnce)
{
    REQUIRE_IPV6_LOOPBACK();
    // A multicast address fails with "Network is unreachable", a closed
    // loopback port with "Connection refused": the report names the last.
    const std::string port = UnusedPort();
    struct Case {
        std::vector<std::string> addresses;
        std::uint16_t expected;
    };
    const Case cases[] = {
        {{"224.0.0.1", "::1"}, WSAECONNREFUSED},
        {{"::1", "127.0.0.1", "224.0.0.1"}, WSAENETUNREACH},
    };
    for (const Case& c : cases) {
        TListSocket client;
        for (const std::string& a : c.addresses)
            client.Addresses.push_back(Literal(a));
        EventLog log;
        log.Attach(client);
        client.SetAddr("dual.test");
        client.SetPort(port);
        client.Connect();
        ASSERT_TRUE(WaitFor([&] { return client.State() == wsClosed; })) << log.Joined();
        testsupport::RunFor(100);
        int reports = 0;
        for (const std::string& item : log.items)
            reports += item.rfind("connected ", 0) == 0 ? 1 : 0;
        EXPECT_EQ(reports, 1) << log.Joined();
        EXPECT_TRUE(log.Has("connected " + std::to_string(c.expected))) << log.Joined();
    }
}

namespace {

// Lets a test hand the socket a lookup answer of its choosing.
class TAnsweredSocket : public TWSocket {
public:
    // Delivers a completed lookup whose answer is `addresses`, in order.
    void AnswerLookup(const std::vector<std::string>& addresses)
    {
        std::vector<TWSocketAddress> all;
        for (const std::string& a : addresses)
            all.push_back(Literal(a));
        char* buf = FLookupBuffer.data();
        auto* list = reinterpret_cast<SOCKET_ADDRESS_LIST*>(buf);
        auto* entries = reinterpret_cast<SOCKET_ADDRESS*>(buf + sizeof(SOCKET_ADDRESS_LIST));
        char* cursor = buf + sizeof(SOCKET_ADDRESS_LIST) + all.size() * sizeof(SOCKET_ADDRESS);
        for (std::size_t i = 0; i < all.size(); ++i) {
            std::memcpy(cursor, &all[i].Storage, std::size_t(all[i].Length));
            entries[i].lpSockaddr = reinterpret_cast<sockaddr*>(cursor);
            entries[i].iSockaddrLength = all[i].Length;
            cursor += all[i].Length;
        }
        list->iAddressCount = int(all.size());
        list->Address = entries;
        FLookupHandle = 77;
        TMessage m;
        m.Msg = WM_ASYNCGETHOSTBYNAME;
        m.WParam = 77;
        m.LParam = 0;
        WndProc(m);
    }
};

} // namespace

TEST(NetIPv6, AddrFromALookupTriesTheLookupsOtherAddresses)
{
    REQUIRE_IPV6_LOOPBACK();
    // A name answered with ::1 first and 127.0.0.1 second; only IPv4
    // listens. Connecting to DnsResult falls through to the second address.
    PosixListener listener;
    TAnsweredSocket client;
    bool done = false;
    client.OnDnsLookupDone = [&](TCustomWSocket*, std::uint16_t error) { done = error == 0; };
    client.AnswerLookup({"::1", "127.0.0.1"});
    ASSERT_TRUE(done);
    ASSERT_EQ(client.DnsResult(), "::1");
    ASSERT_EQ(client.DnsResultList(), (std::vector<std::string>{"::1", "127.0.0.1"}));

    std::vector<std::uint16_t> connected;
    client.OnSessionConnected = [&](TCustomWSocket*, std::uint16_t error) { connected.push_back(error); };
    client.SetAddr(client.DnsResult());
    client.SetPort(listener.PortText());
    client.Connect();
    const int fd = listener.Accept();
    ASSERT_GE(fd, 0);
    PosixPeer peer(fd);
    ASSERT_TRUE(WaitFor([&] { return !connected.empty(); }));
    EXPECT_EQ(connected, std::vector<std::uint16_t>{0});
    EXPECT_EQ(client.GetPeerAddr(), "127.0.0.1");
}
