#include "platform/winsock.h"
#include "support/eventwait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr unsigned LookupMsg = WM_USER + 2;

struct LookupResult {
    bool done = false;
    ASYNC_HANDLE handle = 0;
    int error = -1;
};

struct alignas(hostent) LookupBuffer {
    char bytes[1025];
};

std::string FirstAddress(const LookupBuffer& buf)
{
    const auto* he = reinterpret_cast<const hostent*>(buf.bytes);
    in_addr a{};
    std::memcpy(&a, he->h_addr_list[0], 4);
    return ::inet_ntoa(a);
}

} // namespace

TEST(WinsockLookup, ForwardLookupOfLocalhostAnswersThroughTheWindow)
{
    LookupBuffer buf{};
    LookupResult result;
    THiddenWindow window([&](TMessage& m) { result = {true, ASYNC_HANDLE(m.WParam), HiWord(m.LParam)}; });
    const ASYNC_HANDLE h = ws_WSAAsyncGetHostByName(window.Handle(), LookupMsg, "localhost", buf.bytes, 1025);
    ASSERT_NE(h, 0u);
    ASSERT_TRUE(testsupport::WaitFor([&] { return result.done; }));
    EXPECT_EQ(result.handle, h);
    EXPECT_EQ(result.error, 0);
    EXPECT_EQ(FirstAddress(buf), "127.0.0.1");
}

TEST(WinsockLookup, UnknownNamesFailWithHostNotFound)
{
    LookupBuffer buf{};
    LookupResult result;
    THiddenWindow window([&](TMessage& m) { result = {true, ASYNC_HANDLE(m.WParam), HiWord(m.LParam)}; });
    ws_WSAAsyncGetHostByName(window.Handle(), LookupMsg, "nonexistent.invalid", buf.bytes, 1025);
    ASSERT_TRUE(testsupport::WaitFor([&] { return result.done; }, 30000));
    EXPECT_GE(result.error, WSAHOST_NOT_FOUND);
    EXPECT_LE(result.error, WSANO_DATA);
}

TEST(WinsockLookup, ReverseLookupOfLoopbackGivesAName)
{
    LookupBuffer buf{};
    LookupResult result;
    THiddenWindow window([&](TMessage& m) { result = {true, ASYNC_HANDLE(m.WParam), HiWord(m.LParam)}; });
    const std::uint32_t loopback = htonl(INADDR_LOOPBACK);
    ws_WSAAsyncGetHostByAddr(window.Handle(), LookupMsg, reinterpret_cast<const char*>(&loopback), 4, AF_INET,
                             buf.bytes, 1025);
    ASSERT_TRUE(testsupport::WaitFor([&] { return result.done; }));
    ASSERT_EQ(result.error, 0);
    EXPECT_STRNE(reinterpret_cast<const hostent*>(buf.bytes)->h_name, "");
}

TEST(WinsockLookup, CancelledLookupNeverWritesIntoTheBuffer)
{
    LookupBuffer buf;
    std::memset(buf.bytes, 0x5A, sizeof buf.bytes);
    int messages = 0;
    THiddenWindow window([&](TMessage&) { ++messages; });
    const ASYNC_HANDLE h = ws_WSAAsyncGetHostByName(window.Handle(), LookupMsg, "localhost", buf.bytes, 1025);
    ASSERT_EQ(ws_WSACancelAsyncRequest(h), 0);
    EXPECT_EQ(ws_WSACancelAsyncRequest(h), SOCKET_ERROR) << "a request is cancelled once";
    testsupport::RunFor(200);
    for (const char c : buf.bytes)
        ASSERT_EQ(c, 0x5A);
}

TEST(WinsockLookup, AnswerForADestroyedRequesterIsDropped)
{
    // Heap buffer freed right after the window: ASan reports any late write.
    auto buf = std::make_unique<LookupBuffer>();
    auto window = std::make_unique<THiddenWindow>([](TMessage&) {});
    const ASYNC_HANDLE h = ws_WSAAsyncGetHostByName(window->Handle(), LookupMsg, "localhost", buf->bytes, 1025);
    ASSERT_NE(h, 0u);
    ws_WSACancelAsyncRequest(h);
    window.reset();
    buf.reset();
    testsupport::RunFor(200);

    // Even without a cancel, a window that is gone never receives the answer.
    auto buf2 = std::make_unique<LookupBuffer>();
    std::memset(buf2->bytes, 0x11, sizeof buf2->bytes);
    auto window2 = std::make_unique<THiddenWindow>([](TMessage&) {});
    ws_WSAAsyncGetHostByName(window2->Handle(), LookupMsg, "localhost", buf2->bytes, 1025);
    window2.reset();
    testsupport::RunFor(200);
    for (const char c : buf2->bytes)
        ASSERT_EQ(c, 0x11);
}

TEST(WinsockLookup, BlockingLookupsWork)
{
    hostent* he = ws_gethostbyname("localhost");
    ASSERT_NE(he, nullptr);
    in_addr a{};
    std::memcpy(&a, he->h_addr_list[0], 4);
    EXPECT_STREQ(::inet_ntoa(a), "127.0.0.1");
    EXPECT_EQ(ws_gethostbyname("nonexistent.invalid"), nullptr);
    char name[64];
    EXPECT_EQ(ws_gethostname(name, sizeof name), 0);
}

namespace {

struct alignas(sockaddr_in6) AddressListBuffer {
    char bytes[1025];
};

// The texts of an address-list answer, in order.
std::vector<std::string> AddressTexts(const AddressListBuffer& buf)
{
    std::vector<std::string> texts;
    const auto* list = reinterpret_cast<const SOCKET_ADDRESS_LIST*>(buf.bytes);
    for (int i = 0; i < list->iAddressCount; ++i) {
        const sockaddr* a = list->Address[i].lpSockaddr;
        // Every pointer of the answer points into the caller's buffer.
        EXPECT_GE(reinterpret_cast<const char*>(a), buf.bytes);
        EXPECT_LT(reinterpret_cast<const char*>(a), buf.bytes + sizeof buf.bytes);
        char text[INET6_ADDRSTRLEN_WS] = {};
        const void* raw = a->sa_family == AF_INET6
                              ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr)
                              : static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(a)->sin_addr);
        EXPECT_EQ(list->Address[i].iSockaddrLength,
                  a->sa_family == AF_INET6 ? int(sizeof(sockaddr_in6)) : int(sizeof(sockaddr_in)));
        texts.emplace_back(ws_inet_ntop(a->sa_family, raw, text, sizeof text));
    }
    return texts;
}

} // namespace

TEST(WinsockLookup, AddressListLookupsAnswerEveryFamily)
{
    struct Case {
        const char* name;
        int family;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"::1", AF_UNSPEC, {"::1"}},
        {"127.0.0.1", AF_UNSPEC, {"127.0.0.1"}},
        {"localhost", AF_INET, {"127.0.0.1"}},
    };
    for (const Case& c : cases) {
        AddressListBuffer buf{};
        LookupResult result;
        THiddenWindow window([&](TMessage& m) { result = {true, ASYNC_HANDLE(m.WParam), HiWord(m.LParam)}; });
        const ASYNC_HANDLE h = ws_WSAAsyncGetAddrInfo(window.Handle(), LookupMsg, c.name, c.family, buf.bytes, 1025);
        ASSERT_NE(h, 0u) << c.name;
        ASSERT_TRUE(testsupport::WaitFor([&] { return result.done; })) << c.name;
        EXPECT_EQ(result.handle, h);
        ASSERT_EQ(result.error, 0) << c.name;
        EXPECT_EQ(AddressTexts(buf), c.expected) << c.name;
    }

    // "localhost" of every family holds at least its IPv4 address.
    AddressListBuffer buf{};
    LookupResult result;
    THiddenWindow window([&](TMessage& m) { result = {true, ASYNC_HANDLE(m.WParam), HiWord(m.LParam)}; });
    ws_WSAAsyncGetAddrInfo(window.Handle(), LookupMsg, "localhost", AF_UNSPEC, buf.bytes, 1025);
    ASSERT_TRUE(testsupport::WaitFor([&] { return result.done; }));
    ASSERT_EQ(result.error, 0);
    const std::vector<std::string> all = AddressTexts(buf);
    EXPECT_NE(std::find(all.begin(), all.end(), "127.0.0.1"), all.end());
}

TEST(WinsockLookup, AddressListLookupRefusalsAndSmallBuffers)
{
    AddressListBuffer buf{};
    THiddenWindow window([](TMessage&) {});
    EXPECT_EQ(ws_WSAAsyncGetAddrInfo(window.Handle(), LookupMsg, "localhost", 12345, buf.bytes, 1025), 0u);
    EXPECT_EQ(ws_WSAGetLastError(), WSAEAFNOSUPPORT);
    EXPECT_EQ(ws_WSAAsyncGetAddrInfo(window.Handle(), LookupMsg, nullptr, AF_UNSPEC, buf.bytes, 1025), 0u);
    EXPECT_EQ(ws_WSAGetLastError(), WSAEFAULT);

    // Too small for even one address: the answer is "no buffer space".
    LookupResult result;
    THiddenWindow small([&](TMessage& m) { result = {true, ASYNC_HANDLE(m.WParam), HiWord(m.LParam)}; });
    ws_WSAAsyncGetAddrInfo(small.Handle(), LookupMsg, "::1", AF_UNSPEC, buf.bytes, 20);
    ASSERT_TRUE(testsupport::WaitFor([&] { return result.done; }));
    EXPECT_EQ(result.error, WSAENOBUFS);
}

TEST(WinsockLookup, GetAddrInfoAndAddressTextsOfBothFamilies)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* list = nullptr;
    ASSERT_EQ(ws_getaddrinfo("::1", "2121", &hints, &list), 0);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->ai_family, AF_INET6);
    char host[64] = {};
    char serv[16] = {};
    EXPECT_EQ(ws_getnameinfo(list->ai_addr, int(list->ai_addrlen), host, sizeof host, serv, sizeof serv,
                             NI_NUMERICHOST | NI_NUMERICSERV),
              0);
    EXPECT_STREQ(host, "::1");
    EXPECT_STREQ(serv, "2121");
    ws_freeaddrinfo(list);

    list = nullptr;
    EXPECT_EQ(ws_getaddrinfo("not an address", nullptr, &hints, &list), WSAHOST_NOT_FOUND);
    EXPECT_EQ(ws_WSAGetLastError(), WSAHOST_NOT_FOUND);
    EXPECT_EQ(list, nullptr);

    in6_addr a6{};
    EXPECT_EQ(ws_inet_pton(AF_INET6, "2001:db8:0:0::7", &a6), 1);
    char text[INET6_ADDRSTRLEN_WS] = {};
    EXPECT_STREQ(ws_inet_ntop(AF_INET6, &a6, text, sizeof text), "2001:db8::7");
    EXPECT_EQ(ws_inet_pton(AF_INET6, "127.0.0.1", &a6), 0);
    EXPECT_EQ(ws_inet_ntop(AF_INET6, &a6, text, 4), nullptr);
}

TEST(WinsockLookup, ReverseLookupsTakeIPv6Addresses)
{
    in6_addr loopback6 = in6addr_loopback;
    const char* raw = reinterpret_cast<const char*>(&loopback6);
    // The length must match the family.
    EXPECT_EQ(ws_gethostbyaddr(raw, 16, AF_INET), nullptr);
    EXPECT_EQ(ws_WSAGetLastError(), WSAEAFNOSUPPORT);
    EXPECT_EQ(ws_gethostbyaddr(raw, 4, AF_INET6), nullptr);
    EXPECT_EQ(ws_WSAGetLastError(), WSAEAFNOSUPPORT);

    // An IPv6 address is looked up: a name, or the resolver's own answer
    // when the machine has no name for it, never a refusal.
    hostent* he = ws_gethostbyaddr(raw, 16, AF_INET6);
    if (he != nullptr) {
        EXPECT_EQ(he->h_addrtype, AF_INET6);
        EXPECT_EQ(he->h_length, 16);
        EXPECT_EQ(std::memcmp(he->h_addr_list[0], raw, 16), 0);
        EXPECT_STRNE(he->h_name, "");
    } else {
        EXPECT_GE(ws_WSAGetLastError(), WSAHOST_NOT_FOUND);
        EXPECT_LE(ws_WSAGetLastError(), WSANO_DATA);
    }

    LookupBuffer buf{};
    LookupResult result;
    THiddenWindow window([&](TMessage& m) { result = {true, ASYNC_HANDLE(m.WParam), HiWord(m.LParam)}; });
    const ASYNC_HANDLE h = ws_WSAAsyncGetHostByAddr(window.Handle(), LookupMsg, raw, 16, AF_INET6, buf.bytes, 1025);
    ASSERT_NE(h, 0u);
    ASSERT_TRUE(testsupport::WaitFor([&] { return result.done; }));
    if (result.error == 0) {
        const auto* entry = reinterpret_cast<const hostent*>(buf.bytes);
        EXPECT_EQ(entry->h_addrtype, AF_INET6);
        EXPECT_EQ(std::memcmp(entry->h_addr_list[0], raw, 16), 0);
    } else {
        EXPECT_GE(result.error, WSAHOST_NOT_FOUND);
        EXPECT_LE(result.error, WSANO_DATA);
    }
}
