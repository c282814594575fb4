// TICMP against 127.0.0.1: echoes, payload and TTL on the wire, name
// resolution, refusals and the start-up failures.
#include "icmptestsupport.h"

#include "platform/library.h"
#include "tools/icmp.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// What the engine's events said, in order.
struct EventLog {
    std::vector<std::string> lines;

    void Attach(TICMP& icmp)
    {
        icmp.OnDisplay = [this](TICMP*, const std::string& msg) { lines.push_back("display " + msg); };
        icmp.OnEchoRequest = [this](TICMP*) { lines.push_back("request"); };
        icmp.OnEchoReply = [this](TICMP*, int n) { lines.push_back("reply " + std::to_string(n)); };
    }
};

class ToolsIcmp : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string why = icmptest::EchoUnavailableReason();
        if (!why.empty())
            GTEST_SKIP() << why;
    }
};

// Echo requests seen on the machine while it is open (root only).
class WireWatch {
public:
    WireWatch() : fd_(::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP)) {}
    ~WireWatch()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool Open() const { return fd_ >= 0; }

    // The first echo request to 127.0.0.1 whose payload starts with
    // `prefix`: its IP TTL and payload. False when none was seen.
    bool FindRequest(const std::string& prefix, int& ttl, std::string& payload) const
    {
        std::vector<std::uint8_t> buf(70000);
        pollfd pfd{fd_, POLLIN, 0};
        while (::poll(&pfd, 1, 200) > 0) {
            const ssize_t n = ::recv(fd_, buf.data(), buf.size(), 0);
            if (n < 28)
                continue;
            const std::size_t ihl = std::size_t(buf[0] & 0x0F) * 4;
            if (std::size_t(n) < ihl + 8 || buf[ihl] != 8)
                continue;
            std::string data(reinterpret_cast<const char*>(buf.data()) + ihl + 8, std::size_t(n) - ihl - 8);
            if (data.compare(0, prefix.size(), prefix) != 0)
                continue;
            ttl = buf[8];
            payload = data;
            return true;
        }
        return false;
    }

private:
    int fd_;
};

} // namespace

TEST_F(ToolsIcmp, ThreeEchoesToLoopback)
{
    TICMP icmp;
    EventLog log;
    log.Attach(icmp);
    EXPECT_EQ(icmp.Size(), 56);
    EXPECT_EQ(icmp.Timeout(), 4000);
    EXPECT_EQ(icmp.TTL(), 64);
    icmp.SetAddress("127.0.0.1");
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(icmp.Ping(), 1) << icmp.GetErrorString();
        EXPECT_EQ(icmp.LastError(), 0);
        EXPECT_EQ(icmp.GetErrorString(), "No error");
        EXPECT_EQ(icmp.Reply().Status, 0u);
        EXPECT_EQ(icmp.Reply().DataSize, 56);
        EXPECT_EQ(icmp.Reply().Address, inet_addr("127.0.0.1"));
        EXPECT_LE(icmp.Reply().RoundTripTime, 4000u);
    }
    EXPECT_EQ(log.lines, (std::vector<std::string>{"request", "reply 1", "request", "reply 1", "request", "reply 1"}));
    EXPECT_EQ(icmp.HostName(), "127.0.0.1");
    EXPECT_EQ(icmp.HostIP(), "127.0.0.1");
    EXPECT_EQ(icmp.IPAddress(), inet_addr("127.0.0.1"));
}

TEST_F(ToolsIcmp, ChosenSizeComesBack)
{
    TICMP icmp;
    icmp.SetAddress("127.0.0.1");
    for (const int size : {0, 10, 100, 1472, 8000, 65500}) {
        icmp.SetSize(size);
        ASSERT_EQ(icmp.Ping(), 1) << size << ": " << icmp.GetErrorString();
        EXPECT_EQ(icmp.Reply().DataSize, size);
    }
}

TEST_F(ToolsIcmp, PayloadAndTtlReachTheWire)
{
    WireWatch watch;
    if (!watch.Open())
        GTEST_SKIP() << "watching the wire needs a raw socket (root or CAP_NET_RAW)";
    TICMP icmp;
    icmp.SetAddress("127.0.0.1");
    const std::string sign = TICMP::SignOnText;

    icmp.SetSize(10);
    icmp.SetTTL(300); // only the low 8 bits count: 44
    ASSERT_EQ(icmp.Ping(), 1);
    int ttl = 0;
    std::string payload;
    ASSERT_TRUE(watch.FindRequest(sign.substr(0, 10), ttl, payload));
    EXPECT_EQ(payload, sign.substr(0, 10));
    EXPECT_EQ(ttl, 44);

    icmp.SetSize(100);
    icmp.SetTTL(7);
    ASSERT_EQ(icmp.Ping(), 1);
    ASSERT_TRUE(watch.FindRequest(sign, ttl, payload));
    EXPECT_EQ(payload, sign + std::string(55, ' '));
    EXPECT_EQ(ttl, 7);
}

TEST_F(ToolsIcmp, UnresolvableNameIsReportedOnEveryPing)
{
    TICMP icmp;
    EventLog log;
    log.Attach(icmp);
    icmp.SetAddress("nonexistent.invalid");
    EXPECT_EQ(icmp.Ping(), 0);
    EXPECT_EQ(icmp.LastError(), 11018);
    EXPECT_EQ(icmp.GetErrorString(), "Bad Destination");
    EXPECT_FALSE(icmp.AddressResolved());
    EXPECT_EQ(icmp.IPAddress(), 0xFFFFFFFFu);
    EXPECT_EQ(icmp.Ping(), 0);
    const std::vector<std::string> once{"display Unable to resolve nonexistent.invalid",
                                        "display Invalid host address"};
    std::vector<std::string> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(log.lines, twice);
}

TEST_F(ToolsIcmp, NameIsResolvedOnceUntilTheAddressChanges)
{
    TICMP icmp;
    icmp.SetAddress("localhost");
    ASSERT_EQ(icmp.Ping(), 1);
    EXPECT_TRUE(icmp.AddressResolved());
    EXPECT_EQ(icmp.HostName(), "localhost");
    EXPECT_EQ(icmp.HostIP(), "127.0.0.1");
    icmp.SetAddress("localhost");
    EXPECT_TRUE(icmp.AddressResolved());
    icmp.SetAddress("LOCALHOST"); // compared exactly
    EXPECT_FALSE(icmp.AddressResolved());
    icmp.SetAddress("127.0.0.1");
    ASSERT_EQ(icmp.Ping(), 1);
    EXPECT_EQ(icmp.HostName(), "127.0.0.1");
}

TEST_F(ToolsIcmp, SizesTheLibraryCannotCarryAreRefused)
{
    TICMP icmp;
    EventLog log;
    log.Attach(icmp);
    icmp.SetAddress("127.0.0.1");
    for (const int size : {65501, 70000, -1}) {
        log.lines.clear();
        icmp.SetSize(size);
        EXPECT_EQ(icmp.Ping(), 0);
        EXPECT_EQ(icmp.LastError(), 11011);
        EXPECT_EQ(icmp.GetErrorString(), "Bad request");
        EXPECT_EQ(log.lines, (std::vector<std::string>{"request", "reply 0"}));
    }
    icmp.SetSize(56);
    icmp.SetTTL(256); // low 8 bits: 0, which no packet may carry
    EXPECT_EQ(icmp.Ping(), 0);
    EXPECT_EQ(icmp.GetErrorString(), "Bad option");
}

TEST(ToolsIcmpText, EveryStatusHasItsText)
{
    const std::vector<std::pair<int, std::string>> table{
        {0, "No error"},
        {11001, "Buffer too small"},
        {11002, "Destination network unreachable"},
        {11003, "Destination host unreachable"},
        {11004, "Destination protocol unreachable"},
        {11005, "Destination port unreachable"},
        {11006, "No resources"},
        {11007, "Bad option"},
        {11008, "Hardware error"},
        {11009, "Packet too big"},
        {11010, "Request timed out"},
        {11011, "Bad request"},
        {11012, "Bad route"},
        {11013, "TTL expired in transit"},
        {11014, "TTL expired in reassembly"},
        {11015, "Parameter problem"},
        {11016, "Source quench"},
        {11017, "Option too big"},
        {11018, "Bad Destination"},
        {11019, "Address deleted"},
        {11020, "Specified MTU change"},
        {11021, "MTU change"},
        {11050, "General failure"},
        {11255, "Pending"},
        {11000, "ICMP error #11000"},
        {11022, "ICMP error #11022"},
        {11001 - 10, "ICMP error #10991"},
        {-1, "ICMP error #-1"},
    };
    for (const auto& [code, text] : table)
        EXPECT_EQ(TICMP::ErrorText(code), text) << code;
}

TEST(ToolsIcmpStartup, MissingLibraryOrExportsRaiseAndReleaseEverything)
{
    const LibraryStats winsockBefore = GetLibraryStats();
    const IcmpLibraryStats icmpBefore = GetIcmpLibraryStats();

    SetIcmpLibraryLoadFailure(true);
    try {
        TICMP icmp;
        ADD_FAILURE() << "constructed without the echo library";
    } catch (const TICMPException& e) {
        EXPECT_STREQ(e.what(), "Unable to register icmp.dll");
    }
    SetIcmpLibraryLoadFailure(false);

    SetIcmpExportMissing("IcmpCloseHandle", true);
    try {
        TICMP icmp;
        ADD_FAILURE() << "constructed without IcmpCloseHandle";
    } catch (const TICMPException& e) {
        EXPECT_STREQ(e.what(), "Error loading dll functions");
    }
    SetIcmpExportMissing("IcmpCloseHandle", false);

    // A component whose engine cannot start is not created either.
    SetIcmpLibraryLoadFailure(true);
    EXPECT_THROW(TPing ping, TICMPException);
    SetIcmpLibraryLoadFailure(false);

    const LibraryStats winsockAfter = GetLibraryStats();
    const IcmpLibraryStats icmpAfter = GetIcmpLibraryStats();
    EXPECT_EQ(winsockAfter.startups - winsockBefore.startups, 3);
    EXPECT_EQ(winsockAfter.cleanups - winsockBefore.cleanups, 3);
    EXPECT_EQ(icmpAfter.loads - icmpBefore.loads, 1);
    EXPECT_EQ(icmpAfter.frees - icmpBefore.frees, 1);
    EXPECT_EQ(icmpAfter.openHandles, 0);
}

TEST(ToolsIcmpStartup, ForbiddenSocketsAreExplained)
{
    // As root: a probe in a namespace of its own (whose ping_group_range
    // is the kernel's default "1 0") that drops to user nobody. As another
    // user: this process itself, when the kernel refuses it both sockets.
    std::string message;
    if (::geteuid() == 0) {
        const auto r = icmptest::Run(icmptest::ProbePath(), {"--unshare-net", "--as-nobody"});
        const auto values = icmptest::ParseProbe(r.out);
        if (values.count("setup"))
            GTEST_SKIP() << "cannot make a namespace for user nobody: " << values.at("setup");
        ASSERT_TRUE(values.count("exception")) << r.out << r.err;
        message = values.at("exception");
    } else {
        if (icmptest::EchoUnavailableReason().empty())
            GTEST_SKIP() << "this user may open ICMP sockets, so there is no refusal to see";
        try {
            TICMP icmp;
        } catch (const TICMPException& e) {
            message = e.what();
        }
    }
    EXPECT_EQ(message.rfind("Unable to get ping handle: ", 0), 0u) << message;
    EXPECT_NE(message.find("net.ipv4.ping_group_range"), std::string::npos) << message;
    EXPECT_NE(message.find("CAP_NET_RAW"), std::string::npos) << message;
}
