#include "platform/application.h"
#include "platform/hiddenwindow.h"
#include "platform/tickcount.h"
#include "support/eventwait.h"

#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <thread>
#include <vector>

namespace {

double ProcessCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

} // namespace

TEST(HiddenWindow, MessagesArriveLaterInPostingOrder)
{
    std::vector<unsigned> seen;
    THiddenWindow window([&](TMessage& m) { seen.push_back(m.Msg); });
    ASSERT_TRUE(PostMessage(window.Handle(), WM_USER + 1, 0, 0));
    ASSERT_TRUE(PostMessage(window.Handle(), WM_USER + 2, 0, 0));
    ASSERT_TRUE(PostMessage(window.Handle(), WM_USER + 3, 7, MakeLong(2, 10054)));
    EXPECT_TRUE(seen.empty()) << "a post must never be delivered inside the call";
    ASSERT_TRUE(testsupport::WaitFor([&] { return seen.size() == 3; }));
    EXPECT_EQ(seen, (std::vector<unsigned>{WM_USER + 1, WM_USER + 2, WM_USER + 3}));
}

TEST(HiddenWindow, PostsToDestroyedWindowsAreDropped)
{
    int delivered = 0;
    HWND handle = 0;
    {
        THiddenWindow window([&](TMessage&) { ++delivered; });
        handle = window.Handle();
        PostMessage(handle, WM_USER, 0, 0); // queued, then the window dies
    }
    EXPECT_FALSE(PostMessage(handle, WM_USER, 0, 0));
    testsupport::RunFor(50);
    EXPECT_EQ(delivered, 0);

    THiddenWindow other([&](TMessage&) { ++delivered; });
    EXPECT_NE(other.Handle(), handle) << "handles are never reused";
}

TEST(HiddenWindow, HandlerMayDestroyItsOwnWindow)
{
    auto window = std::make_unique<THiddenWindow>();
    int calls = 0;
    window->SetHandler([&](TMessage&) {
        ++calls;
        window.reset();
    });
    PostMessage(window->Handle(), WM_USER, 0, 0);
    PostMessage(window->Handle(), WM_USER, 0, 0);
    testsupport::RunFor(50);
    EXPECT_EQ(calls, 1);
}

TEST(HiddenWindow, PostsFromWorkerThreadsArriveOnTheOwnerThread)
{
    const auto owner = std::this_thread::get_id();
    std::thread::id seenOn;
    int value = 0;
    THiddenWindow window([&](TMessage& m) {
        seenOn = std::this_thread::get_id();
        value = int(m.WParam);
    });
    const HWND handle = window.Handle();
    std::thread worker([handle] { PostMessage(handle, WM_USER, 42, 0); });
    worker.join();
    ASSERT_TRUE(testsupport::WaitFor([&] { return value == 42; }));
    EXPECT_EQ(seenOn, owner);
}

TEST(HiddenWindow, PreludeRunsBeforeTheHandlerAndMayChangeTheMessage)
{
    std::vector<int> order;
    LPARAM seen = 0;
    THiddenWindow window([&](TMessage& m) {
        order.push_back(2);
        seen = m.LParam;
    });
    PostMessageWithPrelude(window.Handle(), WM_USER, 0, 1, [&](TMessage& m) {
        order.push_back(1);
        m.LParam = 99;
    });
    ASSERT_TRUE(testsupport::WaitFor([&] { return order.size() == 2; }));
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_EQ(seen, 99);
}

TEST(HiddenWindow, ExceptionsInHandlersReachTheApplicationHook)
{
    std::string caught;
    Application::SetExceptionHook([&](const std::exception& e) { caught = e.what(); });
    THiddenWindow window([](TMessage&) { throw std::runtime_error("boom"); });
    PostMessage(window.Handle(), WM_USER, 0, 0);
    ASSERT_TRUE(testsupport::WaitFor([&] { return !caught.empty(); }));
    EXPECT_EQ(caught, "boom");
    Application::SetExceptionHook({});
}

TEST(Application, WaitForMessageReturnsEarlyOnAMessageAndCostsNoCpuWhileIdle)
{
    THiddenWindow window([](TMessage&) {});
    PostMessage(window.Handle(), WM_USER, 0, 0);
    const std::int64_t start = GetTickCount64();
    Application::WaitForMessage(5000);
    EXPECT_LT(GetTickCount64() - start, 4000) << "a queued message must end the wait";

    // Nothing arrives: the wait blocks until its deadline without burning CPU.
    const double cpuBefore = ProcessCpuSeconds();
    const std::int64_t idleStart = GetTickCount64();
    while (GetTickCount64() - idleStart < 1000)
        Application::WaitForMessage(int(1000 - (GetTickCount64() - idleStart)));
    EXPECT_LT(ProcessCpuSeconds() - cpuBefore, 0.3);
}
