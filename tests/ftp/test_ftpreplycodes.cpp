// Reply codes no FTP server may send (0, 65536, numbers past 32 bits) and
// chain steps that refuse to start while OnError swallows the refusal:
// neither may end as a success, and neither may leave a request hanging.

#include "support/ftpfakeserver.h"
#include "support/ftptestutil.h"

#include <gtest/gtest.h>

using namespace ftptest;

namespace {

class ReplyCodeTest : public ::testing::Test {
protected:
    void Use(FakeFtpServer& server) { ftp.Target(server.PortText(), "u", "p"); }
    void SwallowRefusals()
    {
        ftp.OnError = [this](TCustomFtpCli*, std::string& msg) { refusals.push_back(msg); };
    }
    RecordingClient ftp;
    std::vector<std::string> refusals;
};

// --- reply codes outside 100-599 ---------------------------------------------------

class BadGreeting : public ReplyCodeTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(BadGreeting, FailsTheOpenRequestAndDropsTheConnection)
{
    const std::string greeting = GetParam();
    FakeFtpServer server([&](FakeSession& s) {
        s.Reply(greeting);
        s.WaitClosed();
    });
    Use(server);
    EXPECT_FALSE(ftp.Open()) << ftp.Dialogue();
    ASSERT_EQ(ftp.done.size(), 1u);
    EXPECT_EQ(ftp.done[0].request, ftpOpenAsync);
    EXPECT_EQ(ftp.done[0].error, 421);
    EXPECT_EQ(ftp.StatusCode(), 421);
    EXPECT_EQ(ftp.ErrorMessage(), greeting);
    EXPECT_EQ(ftp.LastResponse(), greeting);
    EXPECT_EQ(ftp.sessionClosed, 1);
    EXPECT_FALSE(ftp.Connected());
    EXPECT_EQ(ftp.State(), ftpReady);
    EXPECT_TRUE(testsupport::WaitFor([&] { return server.Finished(); }, 10000));
}

// 4294967516 is 2^32 + 220 and 65756 is 2^16 + 220: narrowed, both would
// read as the greeting the client waits for.
INSTANTIATE_TEST_SUITE_P(Codes, BadGreeting,
                         ::testing::Values("000 looks like a banner", "0 refused", "65756 almost a greeting",
                                           "4294967516 a greeting after 32 bits", "99 too small", "600 too large"));

TEST_F(ReplyCodeTest, RepliesWithoutAValidCodeFailWith500AndTheSessionGoesOn)
{
    FakeFtpServer server([&](FakeSession& s) {
        if (!Login(s, server))
            return;
        // Each command gets one bad reply, in this order.
        const char* const bad[] = {
            "65536 not a success",     // PWD: low 16 bits are 0
            "000 zero is no code",     // CWD: 0 is not among its codes
            "0 zero below 500",        // quoted command: any code below 500 would do
            "4294967553 wraps to 257", // MKD: 2^32 + 257
            "00",                      // SYST: no text at all
        };
        for (const char* reply : bad) {
            const std::string line = s.ReadLine();
            if (line.empty())
                return;
            s.Reply(reply);
        }
        if (s.ReadLine() != "PWD")
            server.Fail("the session did not go on with PWD");
        s.Reply("257 \"/home\" is current");
        s.WaitClosed();
    });
    Use(server);
    ASSERT_TRUE(ftp.Connect()) << ftp.Dialogue();

    EXPECT_FALSE(ftp.Pwd());
    EXPECT_EQ(ftp.done.back().request, ftpPwdAsync);
    EXPECT_EQ(ftp.done.back().error, 500);
    EXPECT_EQ(ftp.StatusCode(), 500);
    EXPECT_EQ(ftp.LastResponse(), "65536 not a success");
    // The first failure since the connect is the one kept.
    EXPECT_EQ(ftp.ErrorMessage(), "65536 not a success");
    EXPECT_TRUE(ftp.Displayed("< 65536 not a success"));

    ftp.SetHostDirName("sub");
    EXPECT_FALSE(ftp.Cwd());
    EXPECT_EQ(ftp.done.back().error, 500);
    EXPECT_EQ(ftp.LastResponse(), "000 zero is no code");

    ftp.SetLocalFileName("NOOP");
    EXPECT_FALSE(ftp.Quote());
    EXPECT_EQ(ftp.done.back().error, 500);

    ftp.SetHostFileName("made");
    EXPECT_FALSE(ftp.Mkd());
    EXPECT_EQ(ftp.done.back().error, 500);
    EXPECT_EQ(ftp.DirResult(), "");

    EXPECT_FALSE(ftp.Syst());
    EXPECT_EQ(ftp.done.back().error, 500);

    ASSERT_TRUE(ftp.Pwd()) << ftp.Dialogue();
    EXPECT_EQ(ftp.DirResult(), "/home");
    EXPECT_EQ(ftp.done.size(), 7u);
    EXPECT_TRUE(ftp.Connected());
    ftp.AbortAsync();
    EXPECT_TRUE(testsupport::WaitFor([&] { return server.Finished(); }, 10000));
    EXPECT_TRUE(server.Failures().empty()) << server.Failures();
}

TEST_F(ReplyCodeTest, ATransferCommandAnsweredWithCode0Fails)
{
    FakeFtpServer server([&](FakeSession& s) {
        if (!Login(s, server))
            return;
        if (s.ReadLine() != "PASV") {
            server.Fail("no PASV");
            return;
        }
        const int port = s.ListenData();
        s.Reply("227 Entering Passive Mode (127,0,0,1," + std::to_string(port / 256) + "," +
                std::to_string(port % 256) + ")");
        if (s.ReadLine() != "LIST") {
            server.Fail("no LIST");
            return;
        }
        s.AcceptData();
        s.Reply("0 listing follows, or not");
        s.WaitClosed();
    });
    Use(server);
    TempDir local;
    ASSERT_TRUE(ftp.Connect());
    ftp.SetPassive(true);
    ftp.SetHostFileName("");
    ftp.SetLocalFileName(local.File("list"));
    EXPECT_FALSE(ftp.Dir()) << ftp.Dialogue();
    ASSERT_FALSE(ftp.done.empty());
    EXPECT_EQ(ftp.done.back().request, ftpDirAsync);
    EXPECT_EQ(ftp.done.back().error, 500);
    EXPECT_EQ(ftp.ErrorMessage(), "0 listing follows, or not");
    ftp.AbortAsync();
    EXPECT_TRUE(testsupport::WaitFor([&] { return server.Finished(); }, 10000));
    EXPECT_TRUE(server.Failures().empty()) << server.Failures();
}

// --- chain steps refused while OnError is assigned ---------------------------------

TEST_F(ReplyCodeTest, ALaterChainStepRefusedThroughOnErrorEndsTheChain)
{
    FakeFtpServer server([&](FakeSession& s) {
        s.Reply("220 hi");
        // The next line must be the test's own command: the refused chain
        // sends nothing, QUIT included.
        const std::string next = s.ReadLine();
        if (next != "NOOP")
            server.Fail("after the refused chain came " + next);
        s.Reply("200 ok");
        s.WaitClosed();
    });
    Use(server);
    SwallowRefusals();
    ftp.SetUserName("");
    ftp.SetHostFileName("newdir");
    ftp.MkdirAsync();
    ASSERT_TRUE(ftp.WaitDone(1, 10000)) << "the chain never completed\n" << ftp.Dialogue();
    EXPECT_EQ(ftp.done[0].request, ftpMkdirAsync);
    EXPECT_EQ(ftp.done[0].error, 500);
    EXPECT_EQ(refusals, (std::vector<std::string>{"UserName emtpy"}));
    EXPECT_EQ(ftp.ErrorMessage(), "UserName emtpy");
    EXPECT_EQ(ftp.State(), ftpReady);
    // The session the chain opened stays usable, and a simple request is
    // no longer taken for a step of the ended chain.
    EXPECT_TRUE(ftp.Connected());
    ftp.SetLocalFileName("NOOP");
    EXPECT_TRUE(ftp.Quote()) << ftp.Dialogue();
    EXPECT_EQ(ftp.done.back().request, ftpQuoteAsync);
    EXPECT_EQ(ftp.done.size(), 2u);
    ftp.AbortAsync();
    EXPECT_TRUE(testsupport::WaitFor([&] { return server.Finished(); }, 10000));
    EXPECT_TRUE(server.Failures().empty()) << server.Failures();
}

TEST_F(ReplyCodeTest, AFirstChainStepRefusedThroughOnErrorFailsTheWrapper)
{
    SwallowRefusals();
    // Not connected: the PORT step of a listing refuses.
    EXPECT_FALSE(ftp.Dir());
    ASSERT_EQ(ftp.done.size(), 1u);
    EXPECT_EQ(ftp.done[0].request, ftpDirAsync);
    EXPECT_EQ(ftp.done[0].error, 500);
    EXPECT_EQ(ftp.ErrorMessage(), "FTP component not connected");

    // No host: the open step refuses.
    ftp.SetHostName("");
    EXPECT_FALSE(ftp.Connect());
    ASSERT_EQ(ftp.done.size(), 2u);
    EXPECT_EQ(ftp.done[1].request, ftpConnectAsync);
    EXPECT_EQ(ftp.done[1].error, 500);
    EXPECT_EQ(ftp.State(), ftpReady);
    EXPECT_EQ(refusals.size(), 2u);
}

TEST_F(ReplyCodeTest, AGreetingWithCode0EndsAChainWithOnErrorAssigned)
{
    FakeFtpServer server([&](FakeSession& s) {
        s.Reply("0 refused");
        s.WaitClosed();
    });
    Use(server);
    SwallowRefusals();
    ftp.SetHostFileName("newdir");
    ftp.MkdirAsync();
    ASSERT_TRUE(ftp.WaitDone(1, 10000)) << "the chain never completed\n" << ftp.Dialogue();
    EXPECT_EQ(ftp.done[0].request, ftpMkdirAsync);
    EXPECT_EQ(ftp.done[0].error, 421);
    EXPECT_EQ(ftp.ErrorMessage(), "0 refused");
    EXPECT_TRUE(refusals.empty());
    EXPECT_FALSE(ftp.Connected());
    EXPECT_TRUE(ftp.WaitReady(5000));
}

} // namespace
