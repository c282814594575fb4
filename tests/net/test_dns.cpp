// Asynchronous forward and reverse lookups, cancel and supersession.

#include "netpeer.h"

#include "support/eventwait.h"

#include <QThread>
#include <gtest/gtest.h>

#include <memory>

using namespace nettest;
using testsupport::RunFor;
using testsupport::WaitFor;

TEST(NetDns, DottedAddressAnsweredInsideTheCall)
{
    TWSocket s;
    std::vector<int> done;
    s.OnDnsLookupDone = [&](TCustomWSocket*, std::uint16_t e) { done.push_back(e); };
    s.DnsLookup("127.000.0.1");
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0], 0);
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");
    EXPECT_TRUE(s.DnsResultList().empty());
}

TEST(NetDns, NameLookupReverseLookupAndUnknownName)
{
    TWSocket s;
    std::vector<int> done;
    s.OnDnsLookupDone = [&](TCustomWSocket*, std::uint16_t e) { done.push_back(e); };
    s.DnsLookup("localhost");
    EXPECT_TRUE(done.empty());
    ASSERT_TRUE(WaitFor([&] { return done.size() == 1; }));
    EXPECT_EQ(done[0], 0);
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");
    ASSERT_FALSE(s.DnsResultList().empty());
    EXPECT_EQ(s.DnsResultList().front(), "127.0.0.1");

    s.ReverseDnsLookup("127.0.0.1");
    ASSERT_TRUE(WaitFor([&] { return done.size() == 2; }));
    EXPECT_EQ(done[1], 0);
    EXPECT_EQ(s.DnsResult(), "localhost");
    EXPECT_EQ(s.DnsResultList(), std::vector<std::string>{"localhost"});

    s.DnsLookup("nonexistent.invalid");
    ASSERT_TRUE(WaitFor([&] { return done.size() == 3; }, 15000));
    EXPECT_NE(done[2], 0);
    EXPECT_GE(done[2], 11001);
    EXPECT_LE(done[2], 11004);
    EXPECT_EQ(s.DnsResult(), "");

    // An address without a name entry.
    s.ReverseDnsLookup("192.0.2.1");
    ASSERT_TRUE(WaitFor([&] { return done.size() == 4; }, 15000));
    EXPECT_NE(done[3], 0);
    EXPECT_EQ(s.DnsResult(), "");
}

TEST(NetDns, CancelAndSupersede)
{
    TWSocket s;
    std::vector<int> done;
    std::vector<std::string> results;
    s.OnDnsLookupDone = [&](TCustomWSocket* sender, std::uint16_t e) {
        done.push_back(e);
        results.push_back(sender->DnsResult());
    };
    s.CancelDnsLookup(); // nothing pending: nothing happens
    EXPECT_TRUE(done.empty());
    s.DnsLookup("localhost");
    s.CancelDnsLookup();
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0], 10004);
    RunFor(200);
    EXPECT_EQ(done.size(), 1u); // the late answer is ignored

    done.clear();
    results.clear();
    s.DnsLookup("nonexistent.invalid");
    s.DnsLookup("localhost");
    ASSERT_TRUE(WaitFor([&] { return !done.empty(); }));
    RunFor(300);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0], 0);
    EXPECT_EQ(results[0], "127.0.0.1");
}

TEST(NetDns, EmptyNameWithOnError)
{
    TWSocket s;
    std::vector<std::string> order;
    s.OnDnsLookupDone = [&](TCustomWSocket*, std::uint16_t e) { order.push_back("done " + std::to_string(e)); };
    EXPECT_THROW(s.DnsLookup(""), ESocketException);
    s.OnError = [&](TCustomWSocket*) { order.push_back("error"); };
    s.DnsLookup("");
    s.ReverseDnsLookup("");
    EXPECT_EQ(order, (std::vector<std::string>{"error", "done 10022", "error", "done 10022"}));
}

TEST(NetDns, ObjectDestroyedBeforeTheAnswer)
{
    for (int i = 0; i < 5; ++i) {
        auto s = std::make_unique<TWSocket>();
        bool fired = false;
        s->OnDnsLookupDone = [&](TCustomWSocket*, std::uint16_t) { fired = true; };
        s->DnsLookup(i % 2 ? "localhost" : "nonexistent.invalid");
        s.reset();
        EXPECT_FALSE(fired); // the destructor cancels without the event
    }
    // A request whose answer is already queued when the object goes.
    auto s = std::make_unique<TWSocket>();
    s->ReverseDnsLookup("127.0.0.1");
    QThread::msleep(200); // the worker has answered; the message waits
    s.reset();
    RunFor(300);
}
