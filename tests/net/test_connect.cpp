// Connecting, closing, the event order, late and misplaced notifications,
// errors and background exceptions.

#include "netpeer.h"

#include "support/eventwait.h"

#include <gtest/gtest.h>

#include <memory>

using namespace nettest;
using testsupport::RunFor;
using testsupport::WaitFor;

namespace {

// Opens the protected dispatch for tests that inject notifications.
class TProbeSocket : public TWSocket {
public:
    using TCustomWSocket::FSendQueue;
    void Deliver(unsigned msg, WPARAM w, LPARAM l)
    {
        TMessage m;
        m.Msg = msg;
        m.WParam = w;
        m.LParam = l;
        WndProc(m);
    }
};

void ConnectTo(TCustomWSocket& s, std::uint16_t port)
{
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(port));
    s.Connect();
}

} // namespace

TEST(NetConnect, OutgoingSessionEventOrderAndPeerClose)
{
    PosixListener listener;
    TWSocket s;
    EventLog log;
    log.Attach(s);
    std::string received;
    s.OnDataAvailable = [&](TCustomWSocket* sender, std::uint16_t) { received += sender->ReceiveStr(); };
    ConnectTo(s, listener.Port());
    PosixPeer peer(listener.Accept());
    ASSERT_TRUE(peer.Valid());
    ASSERT_TRUE(WaitFor([&] { return log.Has("connected 0"); }));
    EXPECT_EQ(s.PeerAddr(), "127.0.0.1");
    EXPECT_EQ(s.PeerPort(), std::to_string(0 + [&] {
                  sockaddr_in a{};
                  int len = sizeof a;
                  s.GetPeerName(a, len);
                  return ntohs(a.sin_port);
              }()));
    EXPECT_NE(s.GetXPort(), "error");

    peer.Write("hello");
    peer.Close();
    ASSERT_TRUE(WaitFor([&] { return s.State() == wsClosed; }));
    EXPECT_EQ(received, "hello");
    const std::vector<std::string> expected = {"state closed>opened",
                                               "state opened>connecting",
                                               "state connecting>connected",
                                               "connected 0",
                                               "sent 0",
                                               "closed 0",
                                               "state connected>closed"};
    EXPECT_EQ(log.items, expected) << log.Joined();
    // The reset keeps the texts but they must be assigned again.
    EXPECT_EQ(s.Addr(), "127.0.0.1");
    EXPECT_EQ(s.ReadCount(), 0);
}

TEST(NetConnect, LocalCloseReportsStateBeforeSessionClosed)
{
    PosixListener listener;
    TWSocket s;
    EventLog log;
    ConnectTo(s, listener.Port());
    PosixPeer peer(listener.Accept());
    ASSERT_TRUE(WaitFor([&] { return s.State() == wsConnected; }));
    log.Attach(s);
    s.Close();
    const std::vector<std::string> expected = {"state connected>closed", "closed 0"};
    EXPECT_EQ(log.items, expected) << log.Joined();
    bool reset = false;
    peer.ReadToEnd(reset);
    EXPECT_FALSE(reset);

    // After a close the texts remain but count as unassigned.
    EXPECT_EQ(s.Port(), listener.PortText());
    try {
        s.Connect();
        FAIL() << "Connect without Port must be refused";
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.Message(), "Connect: No Port Specified");
    }
}

TEST(NetConnect, RefusedConnectionReportsErrorAndCloses)
{
    std::uint16_t deadPort = 0;
    {
        PosixListener temp;
        deadPort = temp.Port();
    }
    TWSocket s;
    EventLog log;
    log.Attach(s);
    ConnectTo(s, deadPort);
    ASSERT_TRUE(WaitFor([&] { return s.State() == wsClosed; }));
    EXPECT_TRUE(log.Has("connected 10061")) << log.Joined();
    EXPECT_TRUE(log.Has("closed 0")) << log.Joined();
}

TEST(NetConnect, RefusalsAndOnErrorInsteadOfRaising)
{
    TWSocket s;
    int errors = 0;
    EXPECT_THROW(s.Connect(), ESocketException);
    s.OnError = [&](TCustomWSocket*) { ++errors; };
    s.Connect();
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_EQ(s.SocketHandle(), INVALID_SOCKET);
    s.OnError = nullptr;

    s.SetPort("21");
    try {
        s.Connect();
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.Message(), "Connect: No IP Address Specified");
    }
    s.SetAddr("127.0.0.1");
    s.SetProto("");
    try {
        s.Connect();
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.Message(), "Connect: No Protocol Specified");
    }
    s.SetProto("nosuchproto");
    try {
        s.Connect();
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.Message(), "connect: WSocketResolveProto: Cannot convert protocol 'nosuchproto'");
    }
    try {
        s.SetLocalAddr("1.2.3.x");
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.Message(), "SetLocalAddr(): Invalid IP address");
    }
    s.OnError = [&](TCustomWSocket*) { ++errors; };
    s.SetLocalAddr("1.2.3.x");
    EXPECT_EQ(s.LocalAddr(), "255.255.255.255");
    s.SetLocalAddr("");
    EXPECT_EQ(s.LocalAddr(), "0.0.0.0");
    s.SetLocalAddr("010.1.2.3");
    EXPECT_EQ(s.LocalAddr(), "8.1.2.3"); // inet_addr reads a leading 0 as octal
}

TEST(NetConnect, PropertiesCannotChangeWhileOpen)
{
    PosixListener listener;
    TWSocket s;
    ConnectTo(s, listener.Port());
    PosixPeer peer(listener.Accept());
    ASSERT_TRUE(WaitFor([&] { return s.State() == wsConnected; }));
    s.SetAddr("127.0.0.1"); // same text: nothing happens
    auto msgOf = [](const std::function<void()>& f) {
        try {
            f();
        } catch (const ESocketException& e) {
            return e.Message();
        }
        return std::string("(nothing)");
    };
    EXPECT_EQ(msgOf([&] { s.SetAddr("127.0.0.2"); }), "Cannot change Addr if not closed");
    EXPECT_EQ(msgOf([&] { s.SetPort("1"); }), "Cannot change Port if not closed");
    EXPECT_EQ(msgOf([&] { s.SetProto("udp"); }), "Cannot change Proto if not closed");
    EXPECT_EQ(msgOf([&] { s.SetLocalPort("1"); }), "Cannot change LocalPort if not closed");
    EXPECT_EQ(msgOf([&] { s.SetLocalAddr("1.1.1.1"); }), "Cannot change LocalAddr if not closed");
    EXPECT_EQ(msgOf([&] { s.Connect(); }), "Connect: Socket already in use");
    EXPECT_EQ(msgOf([&] { s.SetSendFlags(TSocketSendFlags(7)); }), "Invalid SendFlags");
    EXPECT_EQ(msgOf([&] { s.SetSocksServer("x"); }), "Can't change socks server if not closed");
    s.Close();
    EXPECT_EQ(msgOf([&] { s.SetSocksLevel("4b"); }), "Invalid socks level. Must be 4, 4A or 5.");
    s.SetSocksLevel("4a");
    EXPECT_EQ(s.SocksLevel(), "4A");
}

TEST(NetConnect, SendOnClosedSocketReportsNotConnected)
{
    TWSocket s;
    EventLog log;
    log.Attach(s);
    try {
        s.SendStr("x");
        FAIL() << "Send on a closed socket must raise";
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.Message(), "Error 10057 in function Send\r\nSocket is not connected");
    }
    EXPECT_EQ(s.LastError(), 10057);
    EXPECT_TRUE(log.Has("state closed>closed"));
    int errors = 0;
    s.OnError = [&](TCustomWSocket*) { ++errors; };
    EXPECT_EQ(s.SendStr("x"), -1);
    EXPECT_EQ(errors, 1);
}

TEST(NetConnect, CloseWhileConnectingAndLateNotificationsAreIgnored)
{
    PosixListener listener;
    TProbeSocket s;
    EventLog log;
    log.Attach(s);
    ConnectTo(s, listener.Port());
    ASSERT_EQ(s.State(), wsConnecting);
    // FD_CLOSE during the connect phase is ignored.
    s.Deliver(WM_ASYNCSELECT, WPARAM(s.SocketHandle()), MakeLong(FD_CLOSE, 0));
    EXPECT_EQ(s.State(), wsConnecting);
    EXPECT_FALSE(log.Has("closed 0"));
    PosixPeer peer(listener.Accept());
    ASSERT_TRUE(WaitFor([&] { return s.State() == wsConnected; }));
    const SOCKET first = s.SocketHandle();
    s.Close();

    // A second connection; notifications about the first handle go nowhere.
    ConnectTo(s, listener.Port());
    PosixPeer peer2(listener.Accept());
    ASSERT_TRUE(WaitFor([&] { return s.State() == wsConnected; }));
    ASSERT_NE(s.SocketHandle(), first);
    log.items.clear();
    int dataCalls = 0;
    s.OnDataAvailable = [&](TCustomWSocket*, std::uint16_t) { ++dataCalls; };
    PostMessage(s.MessageWindow(), WM_ASYNCSELECT, WPARAM(first), MakeLong(FD_READ | FD_CLOSE, 0));
    RunFor(50);
    EXPECT_EQ(s.State(), wsConnected);
    EXPECT_EQ(dataCalls, 0);
    EXPECT_TRUE(log.items.empty()) << log.Joined();
}

TEST(NetConnect, HandlerExceptionReachesBgExceptionAndAborts)
{
    PosixListener listener;
    TWSocket s;
    std::string caught;
    int closed = 0;
    s.OnSessionConnected = [](TCustomWSocket*, std::uint16_t) { throw ESocketException("handler failed"); };
    s.OnBgException = [&](TCustomWSocket*, const std::exception& e, bool& canClose) {
        caught = e.what();
        EXPECT_TRUE(canClose);
    };
    s.OnSessionClosed = [&](TCustomWSocket*, std::uint16_t) { ++closed; };
    ConnectTo(s, listener.Port());
    PosixPeer peer(listener.Accept());
    ASSERT_TRUE(WaitFor([&] { return !caught.empty(); }));
    EXPECT_EQ(caught, "handler failed");
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_EQ(closed, 1);
}

TEST(NetConnect, BgExceptionCanKeepTheSocketOpen)
{
    PosixListener listener;
    TWSocket s;
    std::string caught;
    s.OnBgException = [&](TCustomWSocket*, const std::exception& e, bool& canClose) {
        caught = e.what();
        canClose = false;
    };
    ConnectTo(s, listener.Port());
    PosixPeer peer(listener.Accept());
    ASSERT_TRUE(WaitFor([&] { return s.State() == wsConnected; }));
    s.ThrowTestException();
    ASSERT_TRUE(WaitFor([&] { return !caught.empty(); }));
    EXPECT_EQ(caught, "Test exception in WSocket");
    EXPECT_EQ(s.State(), wsConnected);
}

TEST(NetConnect, CloseDelayedReleaseAndDeleteInsideHandlers)
{
    PosixListener listener;
    TWSocket s;
    int closedInside = -1;
    s.OnSessionConnected = [&](TCustomWSocket* sender, std::uint16_t) {
        sender->CloseDelayed();
        closedInside = sender->State() == wsClosed ? 1 : 0; // not inside the call
    };
    ConnectTo(s, listener.Port());
    PosixPeer peer(listener.Accept());
    ASSERT_TRUE(WaitFor([&] { return s.State() == wsClosed; }));
    EXPECT_EQ(closedInside, 0);

    // Release frees a heap object from the message loop.
    bool releasedInside = false;
    auto* r = new TWSocket;
    bool destroyed = false;
    r->OnSessionConnected = [&](TCustomWSocket* sender, std::uint16_t) {
        sender->Release();
        releasedInside = sender->State() == wsConnected;
    };
    r->OnSessionClosed = [&](TCustomWSocket*, std::uint16_t) { destroyed = true; };
    ConnectTo(*r, listener.Port());
    PosixPeer peer2(listener.Accept());
    ASSERT_TRUE(WaitFor([&] { return releasedInside; }));
    RunFor(50);
    EXPECT_FALSE(destroyed); // the destructor fires no OnSessionClosed
    bool reset = false;
    peer2.ReadToEnd(reset, 2000); // ends: the object is gone and its socket closed

    // A handler that deletes its own socket outright does not crash it.
    auto* d = new TWSocket;
    d->OnDataAvailable = [&](TCustomWSocket* sender, std::uint16_t) { delete sender; };
    ConnectTo(*d, listener.Port());
    PosixPeer peer3(listener.Accept());
    ASSERT_TRUE(WaitFor([&] { return d->State() == wsConnected; }));
    peer3.Write("bye");
    std::string rest;
    EXPECT_TRUE(WaitFor([&] { return !peer3.ReadAvailable(rest); }, 2000));
}

TEST(NetConnect, AbortDropsQueueAndCancelsLookup)
{
    PosixListener listener(4096);
    TWSocket s;
    ConnectTo(s, listener.Port());
    PosixPeer peer(listener.Accept());
    ASSERT_TRUE(WaitFor([&] { return s.State() == wsConnected; }));
    const std::string big(8 * 1024 * 1024, 'z');
    s.SendStr(big);
    EXPECT_GT(s.BufferedByteCount(), 0);
    std::vector<int> lookups;
    s.OnDnsLookupDone = [&](TCustomWSocket*, std::uint16_t e) { lookups.push_back(e); };
    s.DnsLookup("localhost");
    s.Abort();
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_EQ(s.BufferedByteCount(), 0);
    ASSERT_EQ(lookups.size(), 1u);
    EXPECT_EQ(lookups[0], 10004);
    RunFor(200);
    EXPECT_EQ(lookups.size(), 1u);
}

TEST(NetConnect, PauseHoldsNotificationsUntilResume)
{
    PosixListener listener;
    TWSocket s;
    std::string got;
    s.OnDataAvailable = [&](TCustomWSocket* sender, std::uint16_t) { got += sender->ReceiveStr(); };
    ConnectTo(s, listener.Port());
    PosixPeer peer(listener.Accept());
    ASSERT_TRUE(WaitFor([&] { return s.State() == wsConnected; }));
    s.Pause();
    peer.Write("held");
    RunFor(100);
    EXPECT_EQ(got, "");
    s.Resume();
    EXPECT_TRUE(WaitFor([&] { return got == "held"; }));
}

TEST(NetReceive, SmallReadsGetEverythingInOrder)
{
    PosixListener listener;
    TWSocket s;
    std::string got;
    int calls = 0;
    s.OnDataAvailable = [&](TCustomWSocket* sender, std::uint16_t) {
        ++calls;
        char buf[100];
        const int n = sender->Receive(buf, sizeof buf);
        if (n > 0)
            got.append(buf, std::size_t(n));
    };
    ConnectTo(s, listener.Port());
    PosixPeer peer(listener.Accept());
    ASSERT_TRUE(WaitFor([&] { return s.State() == wsConnected; }));
    std::string data(300001, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = char(i * 31 % 251);
    peer.Write(data);
    ASSERT_TRUE(WaitFor([&] { return got.size() >= data.size(); }));
    EXPECT_TRUE(got == data);
    EXPECT_EQ(s.ReadCount(), std::int64_t(data.size()));
    EXPECT_GE(calls, 3001);
}

// A data handler that closes its own socket while the peer's close is being
// delivered reports the close once, and the next connection's close is
// reported again (the flag must not leak from one connection to the next).
TEST(NetConnect, CloseFromDataHandlerAtPeerCloseIsReportedOncePerConnection)
{
    PosixListener listener;
    TWSocket s;
    int closes = 0;
    s.OnSessionClosed = [&](TCustomWSocket*, std::uint16_t) { ++closes; };
    // Closes when a read finds nothing more: that is the call made while
    // the peer's close is being delivered.
    s.OnDataAvailable = [&](TCustomWSocket* sender, std::uint16_t) {
        if (sender->ReceiveStr().empty())
            sender->Close();
    };
    for (int round = 1; round <= 2; ++round) {
        ConnectTo(s, listener.Port());
        PosixPeer peer(listener.Accept());
        ASSERT_TRUE(peer.Valid());
        ASSERT_TRUE(WaitFor([&] { return s.State() == wsConnected; }));
        peer.Write("bye");
        peer.Close();
        ASSERT_TRUE(WaitFor([&] { return s.State() == wsClosed; }));
        RunFor(30);
        EXPECT_EQ(closes, round) << "round " << round;
    }
}
