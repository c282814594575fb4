// Address helpers, error texts, send buffer blocks and the library loader.

#include "netpeer.h"

#include "platform/library.h"
#include "support/eventwait.h"

#include <gtest/gtest.h>

#include <memory>

using namespace nettest;

TEST(NetAddress, DottedIpAcceptsFourPartsWithBlanksAround)
{
    EXPECT_TRUE(WSocketIsDottedIP("10.0.0.1"));
    EXPECT_TRUE(WSocketIsDottedIP("  10.0.0.1  "));
    EXPECT_TRUE(WSocketIsDottedIP("255.255.255.255"));
    EXPECT_TRUE(WSocketIsDottedIP("0010.0.0.1"));
    EXPECT_FALSE(WSocketIsDottedIP("10.0.0"));
    EXPECT_FALSE(WSocketIsDottedIP("10.0.0.1.2"));
    EXPECT_FALSE(WSocketIsDottedIP(".10.0.0.1"));
    EXPECT_FALSE(WSocketIsDottedIP("10..0.1"));
    EXPECT_FALSE(WSocketIsDottedIP("10.0.0.256"));
    EXPECT_FALSE(WSocketIsDottedIP("10.0.0.1x"));
    EXPECT_FALSE(WSocketIsDottedIP("10.0.0.1 x"));
    EXPECT_FALSE(WSocketIsDottedIP("10.0.0."));
    EXPECT_FALSE(WSocketIsDottedIP("999999999999999999999.0.0.1"));
    EXPECT_FALSE(WSocketIsDottedIP(""));
}

TEST(NetAddress, ResolveHostConvertsAndRefusesWithItsMessages)
{
    EXPECT_EQ(WSocketResolveHost("127.0.0.1"), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(WSocketResolveHost(" 127.0.0.1 "), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(WSocketResolveHost("255.255.255.255"), INADDR_BROADCAST);
    EXPECT_EQ(WSocketResolveHost("localhost"), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(RaisedBy([] { WSocketResolveHost(""); }), "WSocketResolveHost: '' Invalid Hostname.");
    const std::string longName(257, 'a');
    EXPECT_EQ(RaisedBy([&] { WSocketResolveHost(longName); }),
              "WSocketResolveHost: '" + longName + "' Invalid Hostname.");
    EXPECT_EQ(RaisedBy([] { WSocketResolveHost("nonexistent.invalid"); }),
              "WSocketResolveHost: Cannot convert host address 'nonexistent.invalid'");
}

TEST(NetAddress, ResolvePortAndProto)
{
    EXPECT_EQ(WSocketResolvePort("21", "tcp"), 21);
    EXPECT_EQ(WSocketResolvePort("8080x", "tcp"), 8080);
    EXPECT_EQ(WSocketResolvePort("ftp", "tcp"), 21);
    EXPECT_EQ(RaisedBy([] { WSocketResolvePort("", "tcp"); }), "WSocketResolvePort: Invalid Port.");
    EXPECT_EQ(RaisedBy([] { WSocketResolvePort(std::string(32, '1'), "tcp"); }), "WSocketResolvePort: Invalid Port.");
    EXPECT_EQ(RaisedBy([] { WSocketResolvePort("nosuchservice", "tcp"); }),
              "WSocketResolvePort: Cannot convert port 'nosuchservice'");
    EXPECT_EQ(WSocketResolveProto("tcp"), 6);
    EXPECT_EQ(WSocketResolveProto("udp"), 17);
    EXPECT_EQ(WSocketResolveProto("17"), 17);
    EXPECT_EQ(RaisedBy([] { WSocketResolveProto(""); }), "WSocketResolveProto: Invalid Protocol.");
    EXPECT_EQ(RaisedBy([] { WSocketResolveProto("nosuchproto"); }),
              "WSocketResolveProto: Cannot convert protocol 'nosuchproto'");
}

TEST(NetAddress, SynchronousLookups)
{
    EXPECT_EQ(WSocketResolveIp("127.0.0.1"), "localhost");
    EXPECT_FALSE(LocalHostName().empty());
    hostent* h = WSocketGetHostByName("localhost");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->h_addrtype, AF_INET);
    EXPECT_EQ(WSocketGetHostByName("nonexistent.invalid"), nullptr);
    (void)LocalIPList(); // must not fail even when the host name does not resolve
}

TEST(NetErrors, DescriptionsOfEveryFamily)
{
    EXPECT_EQ(WSocketErrorDesc(0), "No Error");
    EXPECT_EQ(WSocketErrorDesc(10057), "Socket is not connected");
    EXPECT_EQ(WSocketErrorDesc(10047), "Address family not supported by protocol family");
    EXPECT_EQ(WSocketErrorDesc(10093), "WinSock not initialized");
    EXPECT_EQ(WSocketErrorDesc(11001), "Host not found");
    EXPECT_EQ(WSocketErrorDesc(11004), "No Data");
    EXPECT_EQ(WSocketErrorDesc(10005), "Not a WinSock error");
    EXPECT_EQ(WSocketErrorDesc(-1), "Not a WinSock error");
}

TEST(NetBuffer, PositionsResetWhenDrained)
{
    TBuffer b(0);
    EXPECT_EQ(b.Capacity(), 1514);
    const std::string data(2000, 'x');
    EXPECT_EQ(b.Write(data.data(), 2000), 1514);
    EXPECT_EQ(b.Write(data.data(), 10), 0);
    char out[600];
    EXPECT_EQ(b.Read(out, 600), 600);
    EXPECT_EQ(b.ReadPos(), 600);
    std::int32_t len = 0;
    const char* p = b.Peek(len);
    EXPECT_EQ(len, 914);
    EXPECT_NE(p, nullptr);
    // Space before ReadPos is not reclaimed while bytes remain.
    EXPECT_EQ(b.Write(data.data(), 10), 0);
    EXPECT_EQ(b.Remove(5000), 914);
    EXPECT_EQ(b.ReadPos(), 0);
    EXPECT_EQ(b.WritePos(), 0);
    EXPECT_EQ(b.Peek(len), nullptr);
    EXPECT_EQ(len, 0);
    b.Write("abc", 3);
    b.SetBufSize(2);
    EXPECT_EQ(b.Capacity(), 2);
    EXPECT_EQ(b.WritePos(), 2); // clamped, never past the block
}

TEST(NetLoader, LoadedOnceAndUnloadedWithTheLastObject)
{
    ASSERT_EQ(WSocketInstanceCount(), 0);
    // The helpers above may have loaded it without any socket object.
    WSocketUnloadWinsock();
    const LibraryStats before = GetLibraryStats();
    {
        TWSocket a;
        TWSocket b;
        // The constructor does not load the library.
        EXPECT_EQ(GetLibraryStats().loads, before.loads);
        a.SetAddr("127.0.0.1");
        a.SetPort("0");
        a.Listen();
        b.SetAddr("127.0.0.1");
        b.SetPort("0");
        b.Listen();
        const LibraryStats during = GetLibraryStats();
        EXPECT_EQ(during.loads, before.loads + 1);
        EXPECT_EQ(during.startups, before.startups + 1);
        {
            TWSocket c;
        }
        EXPECT_EQ(GetLibraryStats().frees, before.frees);
    }
    const LibraryStats after = GetLibraryStats();
    EXPECT_EQ(after.frees, before.frees + 1);
    EXPECT_EQ(after.cleanups, before.cleanups + 1);

    // Info loads for the purpose and unloads again when no object exists.
    const WSADATA info = WinsockInfo();
    EXPECT_EQ(info.wVersion, MakeWord(1, 1));
    EXPECT_EQ(GetLibraryStats().loads, after.loads + 1);
    EXPECT_EQ(GetLibraryStats().frees, after.frees + 1);

    // After an unload the next wrapper call loads and starts it again.
    EXPECT_EQ(WSocket_htons(0x1234), htons(0x1234));
    EXPECT_EQ(GetLibraryStats().loads, after.loads + 2);
    WSocketUnloadWinsock();
}

TEST(NetLoader, LoadFailureIsReported)
{
    SetLibraryLoadFailure("wsock32.dll", true);
    const std::string msg = RaisedBy([] { WSocketGetProc(""); });
    SetLibraryLoadFailure("wsock32.dll", false);
    EXPECT_EQ(msg, "Unable to load wsock32.dll Error #126");
    EXPECT_EQ(RaisedBy([] { WSocketGetProc("nosuchentry"); }),
              "Procedure nosuchentry not found in wsock32.dll Error #127");
    WSocketUnloadWinsock();
}
