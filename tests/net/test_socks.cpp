// SOCKS 4, 4A and 5 through TWSocket: the bytes sent, every reply the
// negotiation must handle (scripted proxy), and real traffic through
// microsocks.

#include "netpeer.h"
#include "socksproxy.h"

#include "net/wsocket.h"
#include "support/eventwait.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

using nettest::RaisedBy;
using sockstest::Hex;
using sockstest::ScriptedPeer;

namespace {

std::string B(std::initializer_list<int> bytes)
{
    std::string out;
    for (const int b : bytes)
        out.push_back(char(b));
    return out;
}

const std::string Socks5Granted = B({5, 0, 0, 1, 127, 0, 0, 1, 0x1f, 0x90});
const std::string Socks4Granted = B({0, 90, 0x1f, 0x90, 127, 0, 0, 1});

std::string AuthName(TSocksAuthState s)
{
    switch (s) {
    case socksAuthStart:
        return "start";
    case socksAuthSuccess:
        return "success";
    case socksAuthFailure:
        return "failure";
    case socksAuthNotRequired:
        return "not-required";
    }
    return "?";
}

// Records the socket's events in order; the data handler reads in chunks of
// `chunk` bytes.
struct Recorder {
    std::vector<std::string> events;
    std::string data;
    int chunk = 4096;

    void Attach(TWSocket& s)
    {
        s.OnSocksConnected = [this](TCustomWSocket*, std::uint16_t e) {
            events.push_back("socks-connected " + std::to_string(e));
        };
        s.OnSocksError = [this](TCustomWSocket*, std::int32_t e, const std::string& m) {
            events.push_back("socks-error " + std::to_string(e) + " " + m);
        };
        s.OnSocksAuthState = [this](TCustomWSocket*, TSocksAuthState a) { events.push_back("auth " + AuthName(a)); };
        s.OnSessionConnected = [this](TCustomWSocket*, std::uint16_t e) {
            events.push_back("connected " + std::to_string(e));
        };
        s.OnSessionClosed = [this](TCustomWSocket*, std::uint16_t e) {
            events.push_back("closed " + std::to_string(e));
        };
        s.OnDataAvailable = [this](TCustomWSocket* sender, std::uint16_t) {
            std::string buf(std::size_t(chunk), '\0');
            const int n = sender->Receive(buf.data(), chunk);
            if (n <= 0)
                return;
            data.append(buf.data(), std::size_t(n));
            events.push_back("data " + buf.substr(0, std::size_t(n)));
        };
    }
    bool Has(const std::string& e) const
    {
        for (const auto& x : events)
            if (x == e)
                return true;
        return false;
    }
    bool HasPrefix(const std::string& p) const
    {
        for (const auto& x : events)
            if (x.rfind(p, 0) == 0)
                return true;
        return false;
    }
    std::string Joined() const
    {
        std::string out;
        for (const auto& x : events)
            out += (out.empty() ? "" : " | ") + x;
        return out;
    }
};

void Configure(TWSocket& s, std::uint16_t proxyPort, const std::string& level, const std::string& addr,
               const std::string& port)
{
    s.SetSocksServer("127.0.0.1");
    s.SetSocksPort(std::to_string(proxyPort));
    s.SetSocksLevel(level);
    s.SetAddr(addr);
    s.SetPort(port);
}

// The three events every failed negotiation ends with, in this order.
std::vector<std::string> FailureEvents(std::int32_t code, const std::string& msg)
{
    return {"socks-error " + std::to_string(code) + " " + msg, "connected " + std::to_string(code),
            "closed " + std::to_string(code)};
}

std::vector<std::string> Without(const std::vector<std::string>& events, const std::string& prefix)
{
    std::vector<std::string> out;
    for (const auto& e : events)
        if (e.rfind(prefix, 0) != 0)
            out.push_back(e);
    return out;
}

bool WaitClosed(TWSocket& s, Recorder& rec, int timeoutMs = 5000)
{
    return testsupport::WaitFor([&] { return s.State() == wsClosed && rec.HasPrefix("closed "); }, timeoutMs);
}

// A SOCKS 5 connection up to the connect request (no authentication).
std::string Socks5UpToRequest(ScriptedPeer& proxy, std::size_t hostLength)
{
    EXPECT_TRUE(proxy.Accept());
    EXPECT_EQ(Hex(proxy.Read(3)), "05 01 00");
    proxy.Write(B({5, 0}));
    return proxy.Read(7 + hostLength);
}

} // namespace

// --- Settings -----------------------------------------------------------------

TEST(SocksSettings, LevelAcceptsOnlyTheThreeLevels)
{
    TWSocket s;
    EXPECT_EQ(s.SocksLevel(), "5");
    s.SetSocksLevel("4a");
    EXPECT_EQ(s.SocksLevel(), "4A");
    s.SetSocksLevel("4");
    EXPECT_EQ(s.SocksLevel(), "4");
    for (const char* bad : {"4b", "", "6", "5 ", "4AA"}) {
        EXPECT_EQ(RaisedBy([&] { s.SetSocksLevel(bad); }), "Invalid socks level. Must be 4, 4A or 5.") << bad;
    }
    EXPECT_EQ(s.SocksLevel(), "4");
}

TEST(SocksSettings, ServerAndPortAreTrimmedAndResetByClose)
{
    ScriptedPeer target;
    TWSocket s;
    s.SetSocksServer("  127.0.0.1 ");
    s.SetSocksPort(" 1080 ");
    s.SetSocksLevel("4");
    EXPECT_EQ(s.SocksServer(), "127.0.0.1");
    EXPECT_EQ(s.SocksPort(), "1080");
    s.Close(); // a close of a closed socket keeps them
    s.SetAddr("127.0.0.1");
    s.SetPort(target.PortText());
    s.SetSocksServer("");
    // An empty server turns SOCKS off again: the connect goes to the target.
    Recorder rec;
    rec.Attach(s);
    s.Connect();
    ASSERT_TRUE(target.Accept());
    ASSERT_TRUE(testsupport::WaitFor([&] { return rec.Has("connected 0"); }));
    EXPECT_FALSE(rec.HasPrefix("socks-"));
    EXPECT_EQ(Hex(target.ReadFor(100)), "");
    s.Close();
    EXPECT_EQ(s.SocksServer(), "");
    EXPECT_EQ(s.SocksPort(), "");
    EXPECT_EQ(s.SocksLevel(), "5");
}

TEST(SocksSettings, UnresolvableProxyIsRefusedAndLeavesTheTargetAlone)
{
    ScriptedPeer target;
    TWSocket s;
    // The proxy resolves, the target's port does not.
    s.SetAddr("127.0.0.1");
    s.SetPort("no-such-service-name");
    s.SetSocksServer("127.0.0.2");
    s.SetSocksPort("1080");
    EXPECT_EQ(RaisedBy([&] { s.Connect(); }),
              "connect: WSocketResolvePort: Cannot convert port 'no-such-service-name'");
    EXPECT_EQ(s.State(), wsClosed);
    // Without the proxy the same socket reaches the target itself, not the
    // proxy's address.
    s.SetSocksServer("");
    s.SetPort(target.PortText());
    Recorder rec;
    rec.Attach(s);
    s.Connect();
    ASSERT_TRUE(target.Accept());
    ASSERT_TRUE(testsupport::WaitFor([&] { return rec.Has("connected 0"); })) << rec.Joined();
    s.SendStr("direct");
    EXPECT_EQ(target.Read(6), "direct");
    s.Close();
}

TEST(SocksSettings, RefusedWhileNotClosed)
{
    ScriptedPeer proxy;
    TWSocket s;
    Configure(s, proxy.Port(), "5", "example.org", "80");
    s.Connect();
    ASSERT_TRUE(proxy.Accept());
    const std::vector<std::pair<std::function<void()>, std::string>> setters = {
        {[&] { s.SetSocksServer("10.0.0.1"); }, "Can't change socks server if not closed"},
        {[&] { s.SetSocksPort("1081"); }, "Can't change socks port if not closed"},
        {[&] { s.SetSocksLevel("4"); }, "Can't change socks level if not closed"},
        {[&] { s.SetSocksLevel("bad"); }, "Can't change socks level if not closed"},
    };
    for (const auto& [set, message] : setters) {
        EXPECT_EQ(RaisedBy([&] { set(); }), message);
    }
    EXPECT_EQ(s.SocksServer(), "127.0.0.1");
    EXPECT_EQ(s.SocksLevel(), "5");
    // A second Connect leaves the connection and its negotiation alone.
    EXPECT_EQ(RaisedBy([&] { s.Connect(); }), "Connect: Socket already in use");
    EXPECT_EQ(s.SocksState(), socksNegociateMethods);
    EXPECT_EQ(Hex(proxy.Read(3)), "05 01 00");
    s.Abort();
}

TEST(SocksSettings, ListenAndUdpAreRefusedThroughAProxy)
{
    TWSocket s;
    s.SetSocksServer("127.0.0.1");
    s.SetSocksPort("1080");
    s.SetAddr("127.0.0.1");
    s.SetPort("0");
    EXPECT_EQ(RaisedBy([&] { s.Listen(); }), "Listening is not supported thru socks server");
    EXPECT_EQ(s.State(), wsClosed);
    s.SetPort("53");
    s.SetProto("udp");
    EXPECT_EQ(RaisedBy([&] { s.Connect(); }), "tcp is the only protocol supported thru socks server");
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_EQ(s.SocketHandle(), INVALID_SOCKET);
}

// Requests are built in 128-byte blocks: what does not fit is refused by
// Connect, before any connection is made; what just fits goes out whole.
TEST(SocksSettings, RequestsThatDoNotFitTheirBlockAreRefused)
{
    struct Case {
        std::string level;
        std::string host;
        std::string user;
        std::string password;
        bool auth;
        std::string message;
    };
    const std::string tooLong5 = "Socks 5 request too long: the host name may have at most 121 characters";
    const std::string tooLongAuth = "Socks 5 authentication request too long: the user name and the password "
                                    "may have at most 125 characters together";
    const std::string tooLong4 = "Socks 4 request too long: the user id may have at most 119 characters";
    const std::string tooLong4A =
        "Socks 4A request too long: the user id and the host name may have at most 118 characters together";
    const std::vector<Case> cases = {
        {"5", std::string(122, 'h'), "", "", false, tooLong5},
        {"5", "host", std::string(100, 'u'), std::string(26, 'p'), true, tooLongAuth},
        {"4", "127.0.0.1", std::string(120, 'u'), "", false, tooLong4},
        {"4A", std::string(60, 'h'), std::string(59, 'u'), "", false, tooLong4A},
    };
    ScriptedPeer proxy;
    for (const auto& c : cases) {
        TWSocket s;
        Configure(s, proxy.Port(), c.level, c.host, "80");
        s.SetSocksUsercode(c.user);
        s.SetSocksPassword(c.password);
        s.SetSocksAuthentication(c.auth ? socksAuthenticateUsercode : socksNoAuthentication);
        EXPECT_EQ(RaisedBy([&] { s.Connect(); }), c.message) << c.level;
        EXPECT_EQ(s.State(), wsClosed);
        EXPECT_EQ(s.SocketHandle(), INVALID_SOCKET);
    }
    EXPECT_FALSE(proxy.Accept(200));

    // With OnError assigned the refusal goes there and nothing connects.
    TWSocket s;
    int errors = 0;
    s.OnError = [&](TCustomWSocket*) { ++errors; };
    Configure(s, proxy.Port(), "5", std::string(122, 'h'), "80");
    s.Connect();
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_FALSE(proxy.Accept(200));
}

// Credentials changed after Connect checked them are checked again when the
// request is built.
TEST(SocksSettings, CredentialsGrownDuringTheNegotiationAreRefused)
{
    ScriptedPeer proxy;
    TWSocket s;
    Recorder rec;
    rec.Attach(s);
    Configure(s, proxy.Port(), "5", "target", "80");
    s.SetSocksUsercode("u");
    s.SetSocksPassword("p");
    s.SetSocksAuthentication(socksAuthenticateUsercode);
    s.Connect();
    ASSERT_TRUE(proxy.Accept());
    EXPECT_EQ(Hex(proxy.Read(3)), "05 01 02");
    s.SetSocksPassword(std::string(200, 'p'));
    proxy.Write(B({5, 2}));
    ASSERT_TRUE(WaitClosed(s, rec)) << rec.Joined();
    const std::string message = "Socks 5 authentication request too long: the user name and the password may "
                                "have at most 125 characters together";
    const std::vector<std::string> expected = {"socks-connected 0", "auth start",   "socks-error 20014 " + message,
                                               "connected 20014",   "auth failure", "closed 20014"};
    EXPECT_EQ(rec.events, expected);
    EXPECT_EQ(proxy.ReadFor(100), ""); // nothing was sent
}

TEST(SocksSettings, RequestsThatJustFitGoOutWhole)
{
    ScriptedPeer proxy;
    {
        // 4A: user id and host name 118 characters together.
        TWSocket s;
        Configure(s, proxy.Port(), "4A", std::string(60, 'h'), "80");
        s.SetSocksUsercode(std::string(58, 'u'));
        s.Connect();
        ASSERT_TRUE(proxy.Accept());
        const std::string request = proxy.Read(128, 2000);
        EXPECT_EQ(request,
                  B({4, 1, 0, 80, 0, 0, 0, 1}) + std::string(58, 'u') + B({0}) + std::string(60, 'h') + B({0}));
        s.Abort();
    }
    {
        // 5: a host name of 121 characters, and authentication with user
        // name and password of 125 together.
        TWSocket s;
        Recorder rec;
        rec.Attach(s);
        Configure(s, proxy.Port(), "5", std::string(121, 'h'), "80");
        s.SetSocksUsercode(std::string(100, 'u'));
        s.SetSocksPassword(std::string(25, 'p'));
        s.SetSocksAuthentication(socksAuthenticateUsercode);
        s.Connect();
        ASSERT_TRUE(proxy.Accept());
        EXPECT_EQ(Hex(proxy.Read(3)), "05 01 02");
        proxy.Write(B({5, 2}));
        EXPECT_EQ(proxy.Read(128), B({1, 100}) + std::string(100, 'u') + B({25}) + std::string(25, 'p'));
        proxy.Write(B({1, 0}));
        EXPECT_EQ(proxy.Read(128), B({5, 1, 0, 3, 121}) + std::string(121, 'h') + B({0, 80}));
        proxy.Write(Socks5Granted);
        ASSERT_TRUE(testsupport::WaitFor([&] { return rec.Has("connected 0"); })) << rec.Joined();
        s.Abort();
    }
}

// --- SOCKS 4 and 4A -------------------------------------------------------------

TEST(Socks4, RequestWithoutUserIdIsNineBytesAndGrantedReplyConnects)
{
    ScriptedPeer proxy;
    TWSocket s;
    Recorder rec;
    rec.Attach(s);
    Configure(s, proxy.Port(), "4", "127.0.0.1", "8080");
    s.Connect();
    ASSERT_TRUE(proxy.Accept());
    EXPECT_EQ(Hex(proxy.Read(9)), "04 01 1f 90 7f 00 00 01 00");
    EXPECT_EQ(s.State(), wsConnected);
    EXPECT_FALSE(rec.HasPrefix("connected")); // not before the proxy's answer
    // The reply and the target's first bytes in one packet: the reply is
    // exactly 8 bytes, the rest is the target's.
    proxy.Write(Socks4Granted + "welcome");
    ASSERT_TRUE(testsupport::WaitFor([&] { return rec.data == "welcome"; })) << rec.Joined();
    EXPECT_EQ(rec.events.front(), "socks-connected 0");
    EXPECT_EQ(rec.events.at(1), "connected 0");
    EXPECT_EQ(s.SocksState(), socksData);
    // From now on data passes unchanged, both ways.
    s.SendStr("ping");
    EXPECT_EQ(proxy.Read(4), "ping");
    proxy.Write(B({0, 90, 5}));
    ASSERT_TRUE(testsupport::WaitFor([&] { return rec.data.size() == 10; }));
    EXPECT_EQ(rec.data.substr(7), B({0, 90, 5}));
    s.Close();
}

TEST(Socks4, RequestCarriesTheUserIdAndTheResolvedAddress)
{
    ScriptedPeer proxy;
    TWSocket s;
    Configure(s, proxy.Port(), "4", "localhost", "21");
    s.SetSocksUsercode("joe");
    s.Connect();
    ASSERT_TRUE(proxy.Accept());
    EXPECT_EQ(Hex(proxy.Read(12)), "04 01 00 15 7f 00 00 01 6a 6f 65 00");
    s.Abort();
}

TEST(Socks4, Level4ARequestNamesTheHost)
{
    ScriptedPeer proxy;
    TWSocket s;
    Recorder rec;
    rec.Attach(s);
    Configure(s, proxy.Port(), "4a", "ftp.example.org", "21");
    s.SetSocksUsercode("U");
    s.Connect();
    ASSERT_TRUE(proxy.Accept());
    EXPECT_EQ(proxy.Read(26), B({4, 1, 0, 21, 0, 0, 0, 1, 'U', 0}) + "ftp.example.org" + B({0}));
    // Granted, the reply arriving in two pieces.
    proxy.Write(Socks4Granted.substr(0, 3));
    testsupport::RunFor(50);
    EXPECT_FALSE(rec.HasPrefix("connected"));
    proxy.Write(Socks4Granted.substr(3));
    ASSERT_TRUE(testsupport::WaitFor([&] { return rec.Has("connected 0"); })) << rec.Joined();
    s.Close();
}

TEST(Socks4, EveryRefusalEndsWithItsErrorAndAClose)
{
    struct Case {
        std::string reply;
        std::int32_t code;
        std::string message;
    };
    const std::vector<Case> cases = {
        {B({0, 91, 0, 0, 0, 0, 0, 0}), 20016, "request rejected or failed"},
        {B({0, 92, 0, 0, 0, 0, 0, 0}), 20008, "connection refused"},
        {B({0, 93, 0, 0, 0, 0, 0, 0}), 20015, "authentification failed"},
        {B({0, 94, 0, 0, 0, 0, 0, 0}), 20012, "unassigned error #94"},
        {B({0, 0, 0, 0, 0, 0, 0, 0}), 20012, "unassigned error #0"},
        {B({4, 90, 0, 0, 0, 0, 0, 0}), 20002, "socks version error"},
        {"HTTP/1.0 400 Bad\r\n\r\n", 20002, "socks version error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Hex(c.reply));
        ScriptedPeer proxy;
        TWSocket s;
        Recorder rec;
        rec.Attach(s);
        Configure(s, proxy.Port(), "4", "127.0.0.1", "80");
        s.Connect();
        ASSERT_TRUE(proxy.Accept());
        proxy.Read(9);
        proxy.Write(c.reply);
        ASSERT_TRUE(WaitClosed(s, rec)) << rec.Joined();
        EXPECT_EQ(Without(rec.events, "socks-connected"), FailureEvents(c.code, c.message)) << rec.Joined();
        EXPECT_TRUE(proxy.WaitClientClosed());
        EXPECT_EQ(s.SocksServer(), ""); // reset by the close
        EXPECT_EQ(rec.data, "");
    }
}

TEST(Socks4, UnresolvableTargetFailsWithoutSendingARequest)
{
    ScriptedPeer proxy;
    TWSocket s;
    Recorder rec;
    rec.Attach(s);
    // Too long to be a host name: refused before any lookup.
    const std::string host(300, 'x');
    Configure(s, proxy.Port(), "4", host, "80");
    s.Connect();
    ASSERT_TRUE(proxy.Accept());
    ASSERT_TRUE(WaitClosed(s, rec)) << rec.Joined();
    EXPECT_EQ(Without(rec.events, "socks-connected"),
              FailureEvents(20017, "ESocketException WSocketResolveHost: '" + host + "' Invalid Hostname."));
    EXPECT_EQ(proxy.ReadFor(100), "");
}

// --- SOCKS 5 --------------------------------------------------------------------

TEST(Socks5, GreetingRequestAndLeftoverDataAfterTheReply)
{
    ScriptedPeer proxy;
    TWSocket s;
    Recorder rec;
    rec.Attach(s);
    // The greeting and the request are this layer's: their sending is not
    // reported to a handler that would send more on it.
    s.OnDataSent = [&](TCustomWSocket*, std::uint16_t e) { rec.events.push_back("sent " + std::to_string(e)); };
    Configure(s, proxy.Port(), "5", "10.1.2.3", "8080");
    s.Connect();
    // The target's dotted address still goes by name.
    EXPECT_EQ(Socks5UpToRequest(proxy, 8), B({5, 1, 0, 3, 8}) + "10.1.2.3" + B({0x1f, 0x90}));
    proxy.Write(Socks5Granted + "hello");
    ASSERT_TRUE(testsupport::WaitFor([&] { return rec.data == "hello"; })) << rec.Joined();
    const std::vector<std::string> expected = {"socks-connected 0", "connected 0", "data hello"};
    EXPECT_EQ(rec.events, expected);
    EXPECT_EQ(s.RcvdCount(), 0);
    proxy.Write("more");
    ASSERT_TRUE(testsupport::WaitFor([&] { return rec.data == "hellomore"; })) << rec.Joined();
    s.SendStr("x");
    EXPECT_TRUE(testsupport::WaitFor([&] { return rec.Has("sent 0"); })) << rec.Joined();
    s.Close();
}

TEST(Socks5, LeftoverIsServedInPiecesBeforeTheSocket)
{
    ScriptedPeer proxy;
    TWSocket s;
    Recorder rec;
    rec.chunk = 3;
    rec.Attach(s);
    Configure(s, proxy.Port(), "5", "target", "80");
    s.Connect();
    Socks5UpToRequest(proxy, 6);
    // A bound address given as a name, then ten bytes of the target's data.
    const std::string bound(200, 'b');
    proxy.Write(B({5, 0, 0, 3, 200}) + bound + B({0, 80}) + "0123456789");
    ASSERT_TRUE(testsupport::WaitFor([&] { return rec.data == "0123456789"; })) << rec.Joined();
    EXPECT_EQ(rec.events.at(1), "connected 0");
    EXPECT_EQ(rec.events.at(2), "data 012");
    proxy.Write("abc");
    ASSERT_TRUE(testsupport::WaitFor([&] { return rec.data == "0123456789abc"; })) << rec.Joined();
    s.Close();
}

TEST(Socks5, LeftoverFirstThenSocketThroughReceiveStrAndPeek)
{
    ScriptedPeer proxy;
    TWSocket s;
    std::string got;
    bool connected = false;
    Configure(s, proxy.Port(), "5", "target", "80");
    s.OnSessionConnected = [&](TCustomWSocket*, std::uint16_t e) { connected = e == 0; };
    // A handler that reads nothing is offered the data once and not again
    // (no spinning); the bytes wait for the next read.
    int offers = 0;
    s.OnDataAvailable = [&](TCustomWSocket*, std::uint16_t) { ++offers; };
    s.Connect();
    Socks5UpToRequest(proxy, 6);
    proxy.Write(Socks5Granted + "abcdef");
    ASSERT_TRUE(testsupport::WaitFor([&] { return connected; }));
    testsupport::RunFor(50);
    EXPECT_EQ(offers, 1);
    EXPECT_EQ(s.RcvdCount(), 6);
    char peek[4] = {};
    EXPECT_EQ(s.PeekData(peek, 4), 4);
    EXPECT_EQ(std::string(peek, 4), "abcd");
    char two[2];
    EXPECT_EQ(s.Receive(two, 2), 2);
    EXPECT_EQ(std::string(two, 2), "ab");
    EXPECT_EQ(s.RcvdCount(), 4);
    proxy.Write("XYZ");
    testsupport::RunFor(50);
    // A larger buffer gets the rest of the leftover, and nothing more.
    char rest[64];
    EXPECT_EQ(s.Receive(rest, sizeof rest), 4);
    EXPECT_EQ(std::string(rest, 4), "cdef");
    ASSERT_TRUE(testsupport::WaitFor([&] {
        got += s.ReceiveStr();
        return got == "XYZ";
    })) << got;
    s.Close();
}

TEST(Socks5, ReplyCodesEndWithTheirErrors)
{
    const std::vector<std::pair<std::int32_t, std::string>> table = {
        {20004, "general SOCKS server failure"}, {20005, "connection not allowed by ruleset"},
        {20006, "network unreachable"},          {20007, "host unreachable"},
        {20008, "connection refused"},           {20009, "time to live expired"},
        {20010, "command not supported"},        {20011, "address type not supported"},
        {20012, "unassigned error #9"},          {20012, "unassigned error #255"},
    };
    for (std::size_t i = 0; i < table.size(); ++i) {
        const int replyCode = i == 9 ? 255 : int(i) + 1;
        SCOPED_TRACE(replyCode);
        ScriptedPeer proxy;
        TWSocket s;
        Recorder rec;
        rec.Attach(s);
        Configure(s, proxy.Port(), "5", "target", "80");
        s.Connect();
        Socks5UpToRequest(proxy, 6);
        // Only the first two bytes: the code alone decides.
        proxy.Write(B({5, replyCode}));
        ASSERT_TRUE(WaitClosed(s, rec)) << rec.Joined();
        EXPECT_EQ(Without(rec.events, "socks-connected"), FailureEvents(table[i].first, table[i].second));
        EXPECT_TRUE(proxy.WaitClientClosed());
    }
}

TEST(Socks5, MalformedRepliesEndWithTheirErrors)
{
    struct Case {
        std::string name;
        std::string methodReply; // empty: the connect reply is tested
        std::string connectReply;
        std::int32_t code;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"garbage greeting reply", "HTTP/1.0 400 Bad Request\r\n\r\n", "", 20002, "socks version error"},
        {"version 4 greeting reply", B({4, 0}), "", 20002, "socks version error"},
        {"no acceptable method", B({5, 0xff}), "", 20003, "authentification method not acceptable"},
        {"method not offered", B({5, 2}), "", 20003, "authentification method not acceptable"},
        {"connect reply of another version", "", B({4, 0, 0, 1, 0, 0, 0, 0, 0, 0}), 20002, "socks version error"},
        {"address type 4", "", B({5, 0, 0, 4, 0, 0, 0, 0, 0, 0}), 20011, "address type not supported"},
        {"address type 0", "", B({5, 0, 0, 0, 0}), 20011, "address type not supported"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer proxy;
        TWSocket s;
        Recorder rec;
        rec.Attach(s);
        Configure(s, proxy.Port(), "5", "target", "80");
        s.Connect();
        ASSERT_TRUE(proxy.Accept());
        EXPECT_EQ(Hex(proxy.Read(3)), "05 01 00");
        if (!c.methodReply.empty()) {
            proxy.Write(c.methodReply);
        } else {
            proxy.Write(B({5, 0}));
            proxy.Read(13);
            proxy.Write(c.connectReply);
        }
        ASSERT_TRUE(WaitClosed(s, rec)) << rec.Joined();
        EXPECT_EQ(Without(rec.events, "socks-connected"), FailureEvents(c.code, c.message)) << rec.Joined();
        EXPECT_FALSE(rec.HasPrefix("auth")); // no credentials asked for or sent
        EXPECT_TRUE(proxy.WaitClientClosed());
    }
}

TEST(Socks5, ProxyClosingMidReplyEndsTheNegotiation)
{
    for (const std::string& partial : {std::string(), B({5}), B({5, 0, 0, 1, 127, 0})}) {
        SCOPED_TRACE(Hex(partial));
        ScriptedPeer proxy;
        TWSocket s;
        Recorder rec;
        rec.Attach(s);
        Configure(s, proxy.Port(), "5", "target", "80");
        s.Connect();
        Socks5UpToRequest(proxy, 6);
        proxy.Write(partial);
        testsupport::RunFor(30);
        proxy.CloseClient();
        ASSERT_TRUE(WaitClosed(s, rec)) << rec.Joined();
        EXPECT_EQ(Without(rec.events, "socks-connected"),
                  FailureEvents(WSAECONNABORTED, "socks server closed the connection"));
        EXPECT_EQ(s.SocksState(), socksData);
    }
}

TEST(Socks5, UnreachableProxyReportsTheConnectError)
{
    const std::uint16_t port = sockstest::FreePort(); // nobody listens there
    TWSocket s;
    Recorder rec;
    rec.Attach(s);
    Configure(s, port, "5", "target", "80");
    s.Connect();
    ASSERT_TRUE(WaitClosed(s, rec)) << rec.Joined();
    const std::vector<std::string> expected = {"socks-connected 10061", "connected 10061", "closed 0"};
    EXPECT_EQ(rec.events, expected);
}

// --- SOCKS 5 authentication ---------------------------------------------------

TEST(Socks5Auth, UserNameAndPasswordThenConnect)
{
    ScriptedPeer proxy;
    TWSocket s;
    Recorder rec;
    rec.Attach(s);
    Configure(s, proxy.Port(), "5", "target", "80");
    s.SetSocksUsercode("alice");
    s.SetSocksPassword("s3cret");
    s.SetSocksAuthentication(socksAuthenticateUsercode);
    s.Connect();
    ASSERT_TRUE(proxy.Accept());
    EXPECT_EQ(Hex(proxy.Read(3)), "05 01 02");
    proxy.Write(B({5, 2}));
    EXPECT_EQ(proxy.Read(14), B({1, 5}) + "alice" + B({6}) + "s3cret");
    proxy.Write(B({1, 0}));
    EXPECT_EQ(proxy.Read(13), B({5, 1, 0, 3, 6}) + "target" + B({0, 80}));
    proxy.Write(Socks5Granted);
    ASSERT_TRUE(testsupport::WaitFor([&] { return rec.Has("connected 0"); })) << rec.Joined();
    const std::vector<std::string> expected = {"socks-connected 0", "auth start", "auth success", "connected 0"};
    EXPECT_EQ(rec.events, expected);
    s.Close();
}

TEST(Socks5Auth, ProxyThatNeedsNoAuthenticationIsReported)
{
    ScriptedPeer proxy;
    TWSocket s;
    Recorder rec;
    rec.Attach(s);
    Configure(s, proxy.Port(), "5", "target", "80");
    s.SetSocksUsercode("alice");
    s.SetSocksPassword("pw");
    s.SetSocksAuthentication(socksAuthenticateUsercode);
    s.Connect();
    ASSERT_TRUE(proxy.Accept());
    EXPECT_EQ(Hex(proxy.Read(3)), "05 01 02");
    proxy.Write(B({5, 0}));
    // Straight to the connect request; the credentials are not sent.
    EXPECT_EQ(proxy.Read(13), B({5, 1, 0, 3, 6}) + "target" + B({0, 80}));
    proxy.Write(Socks5Granted);
    ASSERT_TRUE(testsupport::WaitFor([&] { return rec.Has("connected 0"); })) << rec.Joined();
    const std::vector<std::string> expected = {"socks-connected 0", "auth not-required", "connected 0"};
    EXPECT_EQ(rec.events, expected);
    s.Close();
}

TEST(Socks5Auth, FailedOrMalformedAuthenticationReplies)
{
    struct Case {
        std::string reply;
        std::int32_t code;
        std::string message;
    };
    const std::vector<Case> cases = {
        {B({1, 1}), 20015, "socks authentication failed"},
        {B({5, 0}), 20002, "socks version error"},
        {B({1, 0, 0}), 20001, "too much data availaible"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Hex(c.reply));
        ScriptedPeer proxy;
        TWSocket s;
        Recorder rec;
        rec.Attach(s);
        Configure(s, proxy.Port(), "5", "target", "80");
        s.SetSocksUsercode("alice");
        s.SetSocksPassword("wrong");
        s.SetSocksAuthentication(socksAuthenticateUsercode);
        s.Connect();
        ASSERT_TRUE(proxy.Accept());
        proxy.Read(3);
        proxy.Write(B({5, 2}));
        proxy.Read(13);
        proxy.Write(c.reply);
        ASSERT_TRUE(WaitClosed(s, rec)) << rec.Joined();
        const std::vector<std::string> expected = {"socks-connected 0",
                                                   "auth start",
                                                   "socks-error " + std::to_string(c.code) + " " + c.message,
                                                   "connected " + std::to_string(c.code),
                                                   "auth failure",
                                                   "closed " + std::to_string(c.code)};
        EXPECT_EQ(rec.events, expected);
    }
}

// --- Line mode over a negotiated connection -------------------------------------

TEST(Socks5, LineModeSeesOnlyTheTargetsLines)
{
    ScriptedPeer proxy;
    TWSocket s;
    std::vector<std::string> lines;
    bool connected = false;
    s.SetLineMode(true);
    s.OnSessionConnected = [&](TCustomWSocket*, std::uint16_t e) { connected = e == 0; };
    s.OnDataAvailable = [&](TCustomWSocket* sender, std::uint16_t) {
        const std::string line = sender->ReceiveStr();
        if (!line.empty())
            lines.push_back(line);
    };
    Configure(s, proxy.Port(), "5", "target", "80");
    s.Connect();
    ASSERT_TRUE(proxy.Accept());
    proxy.Read(3);
    proxy.Write(B({5, 0}));
    proxy.Read(13);
    proxy.Write(Socks5Granted + "220 ready\r\n230 o");
    ASSERT_TRUE(testsupport::WaitFor([&] { return lines.size() == 1; }));
    EXPECT_TRUE(connected);
    proxy.Write("k\r\n");
    ASSERT_TRUE(testsupport::WaitFor([&] { return lines.size() == 2; }));
    EXPECT_EQ(lines.at(0), "220 ready\r\n");
    EXPECT_EQ(lines.at(1), "230 ok\r\n");
    s.Close();
}

// --- Real proxy: microsocks -------------------------------------------------------

namespace {

// A TWSocket connected through microsocks to the scripted target.
struct Tunnel {
    TWSocket socket;
    Recorder rec;
};

bool OpenTunnel(Tunnel& t, std::uint16_t proxyPort, ScriptedPeer& target)
{
    t.rec.Attach(t.socket);
    Configure(t.socket, proxyPort, "5", "127.0.0.1", target.PortText());
    t.socket.Connect();
    if (!target.Accept())
        return false;
    return testsupport::WaitFor([&] { return t.rec.HasPrefix("connected"); });
}

} // namespace

TEST(Socks5Microsocks, CarriesAConnectionBothWays)
{
    const std::uint16_t port = sockstest::FreePort();
    const auto proxy = sockstest::StartMicrosocks(port);
    ASSERT_TRUE(proxy) << "microsocks did not start";
    ScriptedPeer target;
    Tunnel t;
    ASSERT_TRUE(OpenTunnel(t, port, target)) << t.rec.Joined();
    EXPECT_EQ(t.rec.events.front(), "socks-connected 0");
    EXPECT_TRUE(t.rec.Has("connected 0")) << t.rec.Joined();
    t.socket.SendStr("hello through the proxy\n");
    EXPECT_EQ(target.Read(24), "hello through the proxy\n");
    const std::string big(100000, 'z');
    target.Write("reply\n" + big);
    ASSERT_TRUE(testsupport::WaitFor([&] { return t.rec.data.size() == big.size() + 6; }, 10000));
    EXPECT_EQ(t.rec.data.substr(0, 6), "reply\n");
    // The target closing reaches the client as an ordinary close.
    target.CloseClient();
    ASSERT_TRUE(WaitClosed(t.socket, t.rec)) << t.rec.Joined();
    EXPECT_TRUE(t.rec.Has("closed 0"));
}

TEST(Socks5Microsocks, UserNameAndPassword)
{
    const std::uint16_t port = sockstest::FreePort();
    const auto proxy = sockstest::StartMicrosocks(port, "tarvik", "pa55word");
    ASSERT_TRUE(proxy) << "microsocks did not start";
    ScriptedPeer target;
    {
        Tunnel t;
        t.socket.SetSocksUsercode("tarvik");
        t.socket.SetSocksPassword("pa55word");
        t.socket.SetSocksAuthentication(socksAuthenticateUsercode);
        ASSERT_TRUE(OpenTunnel(t, port, target)) << t.rec.Joined();
        const std::vector<std::string> expected = {"socks-connected 0", "auth start", "auth success", "connected 0"};
        EXPECT_EQ(t.rec.events, expected);
        t.socket.SendStr("x");
        EXPECT_EQ(target.Read(1), "x");
        t.socket.Close();
    }
    {
        // Wrong password.
        TWSocket s;
        Recorder rec;
        rec.Attach(s);
        Configure(s, port, "5", "127.0.0.1", target.PortText());
        s.SetSocksUsercode("tarvik");
        s.SetSocksPassword("wrong");
        s.SetSocksAuthentication(socksAuthenticateUsercode);
        s.Connect();
        ASSERT_TRUE(WaitClosed(s, rec)) << rec.Joined();
        EXPECT_TRUE(rec.Has("socks-error 20015 socks authentication failed")) << rec.Joined();
        EXPECT_TRUE(rec.Has("auth failure")) << rec.Joined();
        EXPECT_TRUE(rec.Has("connected 20015")) << rec.Joined();
    }
    {
        // No authentication offered to a proxy that wants it.
        TWSocket s;
        Recorder rec;
        rec.Attach(s);
        Configure(s, port, "5", "127.0.0.1", target.PortText());
        s.Connect();
        ASSERT_TRUE(WaitClosed(s, rec)) << rec.Joined();
        EXPECT_EQ(Without(rec.events, "socks-connected"),
                  FailureEvents(20003, "authentification method not acceptable"));
    }
}

TEST(Socks5Microsocks, ClosedTargetPortIsReportedAsAProxyError)
{
    const std::uint16_t port = sockstest::FreePort();
    const auto proxy = sockstest::StartMicrosocks(port);
    ASSERT_TRUE(proxy) << "microsocks did not start";
    TWSocket s;
    Recorder rec;
    rec.Attach(s);
    Configure(s, port, "5", "127.0.0.1", std::to_string(sockstest::FreePort()));
    s.Connect();
    ASSERT_TRUE(WaitClosed(s, rec)) << rec.Joined();
    // microsocks answers reply code 5 for a refused connection.
    EXPECT_EQ(Without(rec.events, "socks-connected"), FailureEvents(20008, "connection refused"));
}

TEST(Socks5Microsocks, WholeHttpRequestToPythonHttpServer)
{
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    std::string body;
    for (int i = 0; i < 2000; ++i)
        body += "line " + std::to_string(i) + "\n";
    {
        QFile f(QDir(root.path()).filePath("doc.txt"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(body.data(), qint64(body.size()));
    }
    const std::uint16_t httpPort = sockstest::FreePort();
    sockstest::ServerProcess http("/usr/bin/python3",
                                  {"-m", "http.server", std::to_string(httpPort), "--bind", "127.0.0.1"},
                                  root.path().toStdString());
    ASSERT_TRUE(http.Started());
    ASSERT_TRUE(sockstest::WaitListening(httpPort)) << "http.server did not start";
    const std::uint16_t port = sockstest::FreePort();
    const auto proxy = sockstest::StartMicrosocks(port);
    ASSERT_TRUE(proxy) << "microsocks did not start";

    TWSocket s;
    Recorder rec;
    rec.Attach(s);
    s.OnSessionConnected = [&](TCustomWSocket* sender, std::uint16_t e) {
        rec.events.push_back("connected " + std::to_string(e));
        if (e == 0)
            sender->SendStr("GET /doc.txt HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    };
    Configure(s, port, "5", "127.0.0.1", std::to_string(httpPort));
    s.Connect();
    ASSERT_TRUE(WaitClosed(s, rec, 10000)) << rec.Joined();
    EXPECT_TRUE(rec.Has("connected 0"));
    ASSERT_EQ(rec.data.rfind("HTTP/1.0 200", 0), 0u) << rec.data.substr(0, 200);
    const auto headerEnd = rec.data.find("\r\n\r\n");
    ASSERT_NE(headerEnd, std::string::npos);
    EXPECT_NE(rec.data.find("Content-Length: " + std::to_string(body.size())), std::string::npos);
    EXPECT_EQ(rec.data.substr(headerEnd + 4), body);
}
