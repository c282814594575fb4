#include "platform/winsock.h"
#include "support/eventwait.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

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
    THiddenWindow window([&](TMessage& m) {
        result = {true, ASYNC_HANDLE(m.WParam), HiWord(m.LParam)};
    });
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
