// Echoes that fail: a private network namespace whose firewall drops the
// replies (time-out; without nftables its kernel ignores the requests) or
// answers the request with "host unreachable". The probe runs there once
// through a raw socket and once through an ICMP datagram socket, since the
// two report errors by different roads.
#include "icmptestsupport.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

const char* const kDropReplies = R"(table inet tarvik_icmp_test {
  chain input {
    type filter hook input priority 0;
    icmp type echo-reply drop
  }
}
)";

const char* const kRejectRequests = R"(table inet tarvik_icmp_test {
  chain input {
    type filter hook input priority 0;
    icmp type echo-request reject with icmp type host-unreachable
  }
}
)";

struct SocketKind {
    const char* name;
    bool pingGroupForEveryone;
};

class ToolsIcmpNamespace : public ::testing::TestWithParam<SocketKind> {
protected:
    void SetUp() override
    {
        if (!ns.Failure().empty())
            GTEST_SKIP() << "no network namespace for this test: " << ns.Failure();
        ASSERT_TRUE(ns.SetPingGroupRange(GetParam().pingGroupForEveryone));
    }

    std::map<std::string, std::string> Probe(const QStringList& args) const
    {
        auto values = ns.Probe(args);
        EXPECT_EQ(values["kind"], GetParam().name);
        return values;
    }

    icmptest::TestNamespace ns;
};

} // namespace

TEST_P(ToolsIcmpNamespace, RepliesThenTimeOutOnceTheFirewallDropsThem)
{
    // Without a rule the namespace's loopback answers, so a time-out below
    // comes from the rule and not from a dead namespace.
    auto before = Probe({"--size", "32", "--timeout", "2000"});
    EXPECT_EQ(before["replies"], "1");
    EXPECT_EQ(before["datasize"], "32");

    std::string why;
    if (!ns.LoadRules(kDropReplies, why) && !ns.IgnoreEchoRequests())
        GTEST_SKIP() << "cannot drop echo replies: " << why;
    auto after = Probe({"--timeout", "300", "--count", "2"});
    EXPECT_EQ(after["replies"], "0");
    EXPECT_EQ(after["error"], "11010");
    EXPECT_EQ(after["text"], "Request timed out");
    EXPECT_EQ(after["status"], "11010");
}

TEST_P(ToolsIcmpNamespace, UnreachableReportIsOurFailure)
{
    std::string why;
    if (!ns.LoadRules(kRejectRequests, why))
        GTEST_SKIP() << "cannot reject echo requests: " << why;
    auto values = Probe({"--timeout", "3000"});
    EXPECT_EQ(values["replies"], "0");
    EXPECT_EQ(values["error"], "11003");
    EXPECT_EQ(values["text"], "Destination host unreachable");
    EXPECT_EQ(values["from"], "127.0.0.1");
}

INSTANTIATE_TEST_SUITE_P(Sockets, ToolsIcmpNamespace,
                         ::testing::Values(SocketKind{"raw", false}, SocketKind{"datagram", true}),
                         [](const auto& info) { return std::string(info.param.name); });
