// TPing: the forwarded ping and the asynchronous lookup, delivered on the
// event loop.
#include "icmptestsupport.h"

#include "platform/application.h"
#include "support/eventwait.h"
#include "tools/icmp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class ToolsPing : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string why = icmptest::EchoUnavailableReason();
        if (!why.empty())
            GTEST_SKIP() << "TPing needs its ICMP engine: " << why;
        ping = std::make_unique<TPing>();
        self = ping.get();
        ping->OnDnsLookupDone = [this](TPing* sender, std::uint16_t error) {
            EXPECT_EQ(sender, self);
            done.push_back(error);
            results.push_back(sender->DnsResult());
        };
    }

    std::unique_ptr<TPing> ping;
    TPing* self = nullptr;
    std::vector<int> done;
    std::vector<std::string> results;
};

} // namespace

TEST_F(ToolsPing, ForwardsSettingsEventsAndReply)
{
    std::vector<std::string> log;
    ping->OnEchoRequest = [&](TPing* sender, TICMP* icmp) {
        EXPECT_EQ(sender, ping.get());
        EXPECT_NE(icmp, nullptr);
        log.push_back("request");
    };
    ping->OnEchoReply = [&](TPing*, TICMP* icmp, int error) {
        log.push_back("reply " + std::to_string(error) + " " + std::to_string(icmp->Reply().DataSize));
    };
    ping->OnDisplay = [&](TPing*, TICMP*, const std::string& msg) { log.push_back(msg); };
    ping->SetSize(64);
    ping->SetTimeout(5000);
    ping->SetTTL(64);
    ping->SetAddress("127.0.0.1");
    EXPECT_EQ(ping->Size(), 64);
    EXPECT_EQ(ping->Timeout(), 5000);
    EXPECT_EQ(ping->Address(), "127.0.0.1");
    ASSERT_EQ(ping->Ping(), 1);
    EXPECT_EQ(ping->Reply().DataSize, 64);
    EXPECT_EQ(ping->ErrorCode(), 0);
    EXPECT_EQ(ping->ErrorString(), "No error");
    EXPECT_EQ(ping->HostIP(), "127.0.0.1");

    ping->SetAddress("nonexistent.invalid");
    EXPECT_EQ(ping->Ping(), 0);
    EXPECT_EQ(ping->ErrorCode(), 11018);
    EXPECT_EQ(log, (std::vector<std::string>{"request", "reply 1 64", "Unable to resolve nonexistent.invalid",
                                             "Invalid host address"}));
}

TEST_F(ToolsPing, NumericLookupCompletesBeforeReturning)
{
    ping->DnsLookup("127.0.0.1");
    EXPECT_EQ(done, std::vector<int>{0});
    EXPECT_EQ(results, std::vector<std::string>{"127.0.0.1"});
    ping->DnsLookup("127.1"); // shown in normal dotted form
    EXPECT_EQ(results.back(), "127.0.0.1");
    testsupport::RunFor(50);
    EXPECT_EQ(done.size(), 2u);
}

TEST_F(ToolsPing, NameLookupCompletesOnTheEventLoop)
{
    ping->DnsLookup("localhost");
    EXPECT_TRUE(done.empty());
    ASSERT_TRUE(testsupport::WaitFor([&] { return !done.empty(); }, 10000));
    EXPECT_EQ(done, std::vector<int>{0});
    EXPECT_EQ(ping->DnsResult(), "127.0.0.1");
}

TEST_F(ToolsPing, UnknownNameFailsWithEmptyResult)
{
    ping->DnsLookup("127.0.0.1");
    ping->DnsLookup("nonexistent.invalid");
    EXPECT_TRUE(ping->DnsResult().empty());
    ASSERT_TRUE(testsupport::WaitFor([&] { return done.size() == 2; }, 10000));
    EXPECT_NE(done.back(), 0);
    EXPECT_TRUE(results.back().empty());
    EXPECT_TRUE(ping->DnsResult().empty());
}

TEST_F(ToolsPing, CancelReportsInterruptedOnceAndDropsTheAnswer)
{
    ping->CancelDnsLookup(); // nothing pending: nothing happens
    EXPECT_TRUE(done.empty());
    ping->DnsLookup("localhost");
    ping->CancelDnsLookup();
    EXPECT_EQ(done, std::vector<int>{10004});
    EXPECT_TRUE(ping->DnsResult().empty());
    ping->CancelDnsLookup();
    testsupport::RunFor(300);
    EXPECT_EQ(done, std::vector<int>{10004});
    EXPECT_TRUE(ping->DnsResult().empty());
}

TEST_F(ToolsPing, NewLookupReplacesThePendingOne)
{
    ping->DnsLookup("nonexistent.invalid");
    ping->DnsLookup("localhost");
    ASSERT_TRUE(testsupport::WaitFor([&] { return !done.empty(); }, 10000));
    testsupport::RunFor(300);
    EXPECT_EQ(done, std::vector<int>{0});
    EXPECT_EQ(results, std::vector<std::string>{"127.0.0.1"});

    // A numeric name after a pending one leaves nothing pending behind.
    ping->DnsLookup("nonexistent.invalid");
    ping->DnsLookup("127.0.0.2");
    EXPECT_NO_THROW(ping->CancelDnsLookup());
    testsupport::RunFor(300);
    EXPECT_EQ(done, (std::vector<int>{0, 0}));
    EXPECT_EQ(ping->DnsResult(), "127.0.0.2");
}

TEST_F(ToolsPing, DestroyingCancelsThePendingLookup)
{
    ping->DnsLookup("localhost");
    ping.reset();
    EXPECT_EQ(done, std::vector<int>{10004});
    testsupport::RunFor(300);
    EXPECT_EQ(done.size(), 1u);
}

TEST_F(ToolsPing, HandlerExceptionGoesToTheApplicationNotTheLoop)
{
    std::vector<std::string> caught;
    Application::SetExceptionHook([&](const std::exception& e) { caught.push_back(e.what()); });
    ping->OnDnsLookupDone = [](TPing*, std::uint16_t) { throw std::runtime_error("handler failed"); };
    ping->DnsLookup("localhost");
    EXPECT_TRUE(testsupport::WaitFor([&] { return !caught.empty(); }, 10000));
    Application::SetExceptionHook({});
    EXPECT_EQ(caught, std::vector<std::string>{"handler failed"});
}
