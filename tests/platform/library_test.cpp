#include "platform/library.h"
#include "platform/winsock.h"

#include <gtest/gtest.h>

TEST(Library, ExportsTheWinsockEntryPointsByName)
{
    HMODULE lib = LoadLibraryA("WSOCK32.DLL");
    ASSERT_NE(lib, nullptr);
    EXPECT_EQ(GetProcAddress(lib, "connect"), reinterpret_cast<void*>(&ws_connect));
    EXPECT_EQ(GetProcAddress(lib, "WSAAsyncSelect"), reinterpret_cast<void*>(&ws_WSAAsyncSelect));
    // Every row of the entry list is exported under its own name.
    int exported = 0;
#define WINSOCK_ENTRY(result, name, params, args)                                        \
    EXPECT_EQ(GetProcAddress(lib, #name), reinterpret_cast<void*>(&ws_##name)) << #name; \
    ++exported;
#include "platform/winsockentries.def"
    EXPECT_GE(exported, 35);
    EXPECT_EQ(GetProcAddress(lib, "NoSuchFunction"), nullptr);
    EXPECT_EQ(GetLastError(), 127u);
    EXPECT_TRUE(FreeLibrary(lib));

    EXPECT_EQ(LoadLibraryA("nosuch.dll"), nullptr);
    EXPECT_EQ(GetLastError(), 126u);

    SetLibraryLoadFailure("wsock32.dll", true);
    EXPECT_EQ(LoadLibraryA("wsock32.dll"), nullptr);
    SetLibraryLoadFailure("wsock32.dll", false);
}

TEST(Library, StartupChecksTheVersionAndFillsTheRecord)
{
    WSADATA data;
    EXPECT_EQ(ws_WSAStartup(MakeWord(1, 0), &data), WSAVERNOTSUPPORTED);
    const LibraryStats before = GetLibraryStats();
    ASSERT_EQ(ws_WSAStartup(MakeWord(1, 1), &data), 0);
    EXPECT_EQ(data.wVersion, MakeWord(1, 1));
    EXPECT_STRNE(data.szDescription, "");
    EXPECT_EQ(ws_WSACleanup(), 0);
    const LibraryStats after = GetLibraryStats();
    EXPECT_EQ(after.startups, before.startups + 1);
    EXPECT_EQ(after.cleanups, before.cleanups + 1);
}

TEST(Winsock, ErrnoMapsToWinsockNumbers)
{
    EXPECT_EQ(WinsockErrorFromErrno(EWOULDBLOCK), WSAEWOULDBLOCK);
    EXPECT_EQ(WinsockErrorFromErrno(EINPROGRESS), WSAEWOULDBLOCK);
    EXPECT_EQ(WinsockErrorFromErrno(ECONNREFUSED), WSAECONNREFUSED);
    EXPECT_EQ(WinsockErrorFromErrno(ECONNRESET), WSAECONNRESET);
    EXPECT_EQ(WinsockErrorFromErrno(EPIPE), WSAECONNRESET);
    EXPECT_EQ(WinsockErrorFromErrno(ENOTCONN), WSAENOTCONN);
    EXPECT_EQ(WinsockErrorFromErrno(EADDRINUSE), WSAEADDRINUSE);
    EXPECT_EQ(WinsockErrorFromEai(EAI_NONAME), WSAHOST_NOT_FOUND);
    EXPECT_EQ(WinsockErrorFromEai(EAI_AGAIN), WSATRY_AGAIN);
}

TEST(Winsock, UnknownHandlesAreNotSockets)
{
    char buf[4];
    EXPECT_EQ(ws_recv(SOCKET(12345678), buf, 4, 0), SOCKET_ERROR);
    EXPECT_EQ(ws_WSAGetLastError(), WSAENOTSOCK);
    EXPECT_EQ(ws_closesocket(SOCKET(12345678)), SOCKET_ERROR);
}

TEST(Winsock, ServiceAndProtocolNamesResolve)
{
    servent* ftp = ws_getservbyname("ftp", "tcp");
    ASSERT_NE(ftp, nullptr);
    EXPECT_EQ(ws_ntohs(std::uint16_t(ftp->s_port)), 21);
    protoent* tcp = ws_getprotobyname("tcp");
    ASSERT_NE(tcp, nullptr);
    EXPECT_EQ(tcp->p_proto, 6);
    EXPECT_EQ(ws_getservbyname("no-such-service-xyz", "tcp"), nullptr);
}

TEST(Library, IcmpLibraryLoadsThroughTheSameLoader)
{
    HMODULE icmp = LoadLibraryA("ICMP.DLL");
    ASSERT_NE(icmp, nullptr);
    EXPECT_NE(GetProcAddress(icmp, "IcmpSendEcho"), nullptr);
    EXPECT_EQ(GetProcAddress(icmp, "NoSuchFunction"), nullptr);
    EXPECT_TRUE(FreeLibrary(icmp));
}

TEST(Library, StartupsAreCounted)
{
    WSADATA data;
    ASSERT_EQ(ws_WSAStartup(MakeWord(1, 1), &data), 0);
    ASSERT_EQ(ws_WSAStartup(MakeWord(1, 1), &data), 0);
    EXPECT_EQ(ws_WSACleanup(), 0);
    EXPECT_EQ(ws_WSACleanup(), 0) << "the second start-up needs its own clean-up";
    EXPECT_EQ(ws_WSACleanup(), SOCKET_ERROR);
    EXPECT_EQ(ws_WSAGetLastError(), WSANOTINITIALISED);
}
