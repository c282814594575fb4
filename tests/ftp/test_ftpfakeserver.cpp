// Replies and situations no real server shows, played by a scripted server.

#include "support/ftpfakeserver.h"
#include "support/ftptestutil.h"

#include <gtest/gtest.h>

#include <thread>

using namespace ftptest;

namespace {

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

class FakeServerTest : public ::testing::Test {
protected:
    void Use(FakeFtpServer& server) { ftp.Target(server.PortText(), "u", "p"); }
    RecordingClient ftp;
    TempDir local;
};

// --- reply assembly ------------------------------------------------------------

TEST_F(FakeServerTest, MultiLineRepliesCompleteOnceOnTheirLastLine)
{
    FakeFtpServer server([&](FakeSession& s) {
        s.SendRaw("220-Hello\r\n220-Second\r\n220 Ready\r\n");
        s.ReadLine();
        s.Reply("331 pw");
        s.ReadLine();
        s.SendRaw("230-Welcome\r\n230-Second line\r\n230 Done\r\n");
        s.ReadLine();
        // Continuation lines of every shape; only the opening code followed
        // by a space ends the reply, another number does not.
        s.SendRaw("257-start\r\n\r\n indented line\r\nplain text\r\n257-more\r\n259 \"/y\" inner\r\n"
                  "257 \"/x\" last\r\n");
        s.WaitClosed();
    });
    Use(server);
    ASSERT_TRUE(ftp.Connect()) << ftp.ErrorMessage() << ftp.Dialogue();
    EXPECT_EQ(ftp.done.size(), 1u);
    EXPECT_EQ(ftp.LastResponse(), "230 Done");
    EXPECT_EQ(ftp.StatusCode(), 230);
    EXPECT_TRUE(ftp.Displayed("< 220-Hello"));
    EXPECT_TRUE(ftp.Displayed("< 220-Second"));
    EXPECT_TRUE(ftp.Displayed("< 220 Ready"));
    EXPECT_FALSE(ftp.Displayed("< 230-Welcome"));
    EXPECT_TRUE(ftp.Displayed("< 230 Done"));
    // Greeting, USER, PASS, and the refusal of the FEAT that follows login.
    EXPECT_EQ(ftp.responses, 3u + 1u + 3u + 1u);

    ftp.responses = 0;
    EXPECT_TRUE(ftp.Pwd()) << ftp.Dialogue();
    EXPECT_EQ(ftp.StatusCode(), 257);
    EXPECT_EQ(ftp.responses, 7u);
    EXPECT_EQ(ftp.DirResult(), "/x");
    EXPECT_EQ(ftp.done.back().error, 0);
}

TEST_F(FakeServerTest, LineEndsWithAndWithoutAcceptLF)
{
    FakeFtpServer server(
        [&](FakeSession& s) {
            s.SendRaw("220 lone LF\n");
            s.WaitClosed();
        },
        1);
    Use(server);
    ftp.OpenAsync();
    ASSERT_TRUE(ftp.WaitDone(1));
    EXPECT_EQ(ftp.done.back().error, 0);
    EXPECT_EQ(ftp.LastResponse(), "220 lone LF");
    ftp.AbortAsync();

    std::atomic<bool> release{false};
    FakeFtpServer strict([&](FakeSession& s) {
        s.SendRaw("2");
        Pause(50);
        s.SendRaw("20 split\nacross");
        while (!release.load())
            Pause(10);
        s.SendRaw(" sends\r\n");
        s.WaitClosed();
    });
    RecordingClient crlf;
    crlf.Target(strict.PortText(), "u", "p");
    crlf.SetOptions({});
    crlf.OpenAsync();
    testsupport::RunFor(200);
    EXPECT_TRUE(crlf.done.empty()) << "a lone LF ended a line without ftpAcceptLF";
    release = true;
    ASSERT_TRUE(crlf.WaitDone(1));
    EXPECT_EQ(crlf.LastResponse(), "220 split\nacross sends");
    crlf.AbortAsync();
}

TEST_F(FakeServerTest, Greeting421EndsOpenAfterTheSessionClosed)
{
    FakeFtpServer server([&](FakeSession& s) {
        s.Reply("421 Too many users");
        Pause(100);
        s.Close();
    });
    Use(server);
    std::vector<std::string> order;
    ftp.OnSessionClosed = [&](TCustomFtpCli*, std::uint16_t) { order.push_back("closed"); };
    ftp.OnRequestDone = [&](TCustomFtpCli*, TFtpRequest rq, std::uint16_t e) {
        order.push_back("done");
        ftp.done.push_back({rq, e});
    };
    EXPECT_FALSE(ftp.Open());
    ASSERT_EQ(ftp.done.size(), 1u);
    EXPECT_EQ(ftp.done[0].request, ftpOpenAsync);
    EXPECT_EQ(ftp.done[0].error, 421);
    EXPECT_EQ(ftp.ErrorMessage(), "421 Too many users");
    EXPECT_EQ(order, (std::vector<std::string>{"closed", "done"}));
    EXPECT_FALSE(ftp.Connected());
}

TEST_F(FakeServerTest, AReplyLineLongerThanTheBufferIsAProtocolError)
{
    FakeFtpServer server([&](FakeSession& s) {
        if (!Login(s, server))
            return;
        s.ReadLine();
        s.Reply("257 \"" + std::string(5000, 'x') + "\" is far too long");
        s.WaitClosed();
    });
    Use(server);
    ASSERT_TRUE(ftp.Connect());
    EXPECT_FALSE(ftp.Pwd());
    EXPECT_EQ(ftp.done.back().error, 421);
    EXPECT_NE(ftp.ErrorMessage().find("longer than 4095 bytes"), std::string::npos) << ftp.ErrorMessage();
    EXPECT_FALSE(ftp.Connected());
    EXPECT_EQ(ftp.State(), ftpReady);
    EXPECT_TRUE(server.Failures().empty()) << server.Failures();
}

TEST_F(FakeServerTest, ASilentServerEndsTheWrapperWith426Timeout)
{
    FakeFtpServer server([&](FakeSession& s) {
        if (!Login(s, server))
            return;
        s.ReadLine(); // CWD, never answered
        s.WaitClosed();
    });
    Use(server);
    ASSERT_TRUE(ftp.Connect());
    ftp.SetTimeout(1);
    ftp.SetHostDirName("somewhere");
    EXPECT_FALSE(ftp.Cwd());
    EXPECT_EQ(ftp.ErrorMessage(), "426 Timeout");
    EXPECT_EQ(ftp.StatusCode(), 426);
    EXPECT_EQ(ftp.State(), ftpReady);
    EXPECT_FALSE(ftp.Connected());
    EXPECT_EQ(ftp.ControlSocket()->State(), wsClosed);
    EXPECT_EQ(ftp.DataSocket()->State(), wsClosed);
}

TEST_F(FakeServerTest, AServerThatDropsTheConnectionFailsTheOpenRequest)
{
    FakeFtpServer server([&](FakeSession& s) {
        if (!Login(s, server))
            return;
        s.ReadLine();
        s.Close();
    });
    Use(server);
    ASSERT_TRUE(ftp.Connect());
    EXPECT_FALSE(ftp.Pwd());
    EXPECT_EQ(ftp.done.back().error, 421) << ftp.Dialogue();
    EXPECT_EQ(ftp.State(), ftpReady);
    EXPECT_EQ(ftp.states.back(), ftpReady);
    EXPECT_EQ(ftp.sessionClosed, 1);
    EXPECT_FALSE(ftp.Connected());
}

// --- commands ---------------------------------------------------------------------

TEST_F(FakeServerTest, UserAnswered230SkipsPass)
{
    FakeFtpServer server([&](FakeSession& s) {
        s.Reply("220 hi");
        if (s.ReadLine() != "USER u")
            server.Fail("no USER");
        s.Reply("230 no password needed");
        const std::string next = s.ReadLine();
        if (next != "SYST")
            server.Fail("after USER came " + next);
        s.Reply("215 UNIX Type: L8");
        s.WaitClosed();
    });
    Use(server);
    ASSERT_TRUE(ftp.Connect());
    EXPECT_EQ(ftp.StatusCode(), 230);
    ASSERT_TRUE(ftp.Syst());
    for (const auto& c : ftp.Commands())
        EXPECT_NE(c.substr(0, 4), "PASS");
    ftp.AbortAsync();
    testsupport::WaitFor([&] { return server.Finished(); });
    EXPECT_TRUE(server.Failures().empty()) << server.Failures();
}

TEST_F(FakeServerTest, AChainStepThatRefusesToStartEndsTheChain)
{
    FakeFtpServer server([&](FakeSession& s) {
        s.Reply("220 hi");
        s.ReadLine();
        s.Reply("331 password please");
        s.WaitClosed();
    });
    Use(server);
    ftp.SetPassWord("");
    EXPECT_FALSE(ftp.Connect());
    ASSERT_EQ(ftp.done.size(), 1u);
    EXPECT_EQ(ftp.done.back().request, ftpConnectAsync);
    EXPECT_EQ(ftp.done.back().error, 500);
    EXPECT_EQ(ftp.ErrorMessage(), "Password emtpy");
    EXPECT_EQ(ftp.State(), ftpReady);
    // The first step refuses to the caller, and the next request is clean.
    ftp.SetUserName("");
    EXPECT_THROW(ftp.UserAsync(), FtpException);
    ftp.SetLocalFileName("NOOP");
    ftp.QuoteAsync();
    EXPECT_EQ(ftp.RequestType(), ftpQuoteAsync);
    ftp.AbortAsync();
}

TEST_F(FakeServerTest, CommandsHoldingLineBreaksAreRefusedAndNothingIsSent)
{
    std::vector<std::string> seen;
    FakeFtpServer server([&](FakeSession& s) {
        if (!Login(s, server))
            return;
        for (std::string line = s.ReadLine(); !line.empty(); line = s.ReadLine()) {
            seen.push_back(line);
            s.Reply("200 ok");
        }
    });
    Use(server);
    ASSERT_TRUE(ftp.Connect());
    for (const std::string& bad : {std::string("a\r\nDELE b"), std::string("x\ny"), std::string("n\0ul", 4)}) {
        ftp.SetHostFileName(bad);
        EXPECT_FALSE(ftp.Dele());
        EXPECT_EQ(ftp.done.back().error, 501);
        EXPECT_NE(ftp.ErrorMessage().find("CR, LF or NUL"), std::string::npos) << ftp.ErrorMessage();
        EXPECT_EQ(ftp.State(), ftpReady);
    }
    // The password too is checked (it travels in a command).
    ftp.SetPassWord("p\r\nDELE x");
    EXPECT_FALSE(ftp.Pass());
    ftp.SetLocalFileName("NOOP");
    ASSERT_TRUE(ftp.Quote());
    ftp.AbortAsync();
    testsupport::WaitFor([&] { return server.Finished(); });
    EXPECT_EQ(seen, (std::vector<std::string>{"NOOP"}));
}

TEST_F(FakeServerTest, PasswordIsMaskedInTheDialogueButSentAsItIs)
{
    FakeFtpServer server([&](FakeSession& s) {
        Login(s, server);
        s.WaitClosed();
    });
    Use(server);
    ASSERT_TRUE(ftp.Connect()) << server.Failures();
    EXPECT_TRUE(ftp.Displayed("> PASS ********"));
    EXPECT_FALSE(ftp.Displayed("> PASS p"));
    EXPECT_TRUE(server.Failures().empty()) << server.Failures();
}

TEST_F(FakeServerTest, OnCommandMayReplaceTheCommand)
{
    std::string got;
    FakeFtpServer server([&](FakeSession& s) {
        if (!Login(s, server))
            return;
        got = s.ReadLine();
        s.Reply("200 fine");
        s.WaitClosed();
    });
    Use(server);
    ASSERT_TRUE(ftp.Connect());
    ftp.OnCommand = [](TCustomFtpCli*, std::string& cmd) {
        if (cmd == "SYST")
            cmd = "NOOP";
    };
    EXPECT_FALSE(ftp.Syst()); // 200 is not SYST's 215
    EXPECT_TRUE(ftp.Displayed("> NOOP"));
    ftp.AbortAsync();
    testsupport::WaitFor([&] { return server.Finished(); });
    EXPECT_EQ(got, "NOOP");
}

TEST_F(FakeServerTest, ConnectionRefusedReportsTheSocketError)
{
    int port = 0;
    {
        FakeFtpServer closedAgain([](FakeSession&) {}, 0);
        port = closedAgain.Port();
    }
    ftp.Target(std::to_string(port), "u", "p");
    EXPECT_FALSE(ftp.Open());
    EXPECT_EQ(ftp.done.back().error, 10061);
    EXPECT_EQ(ftp.StatusCode(), 500);
    EXPECT_EQ(ftp.LastResponse(), "500 Connection refused (Winsock error #10061)");
    EXPECT_EQ(ftp.State(), ftpReady);

    // An empty host name is refused at once.
    ftp.SetHostName("");
    EXPECT_THROW(ftp.OpenAsync(), FtpException);
    EXPECT_EQ(ftp.State(), ftpReady);
    EXPECT_FALSE(ftp.Connect());
    EXPECT_EQ(ftp.State(), ftpReady);
}

TEST_F(FakeServerTest, AbortDuringTheLookupEndsInReadyWithoutCompletion)
{
    ftp.SetHostName("localhost");
    ftp.SetPort("21");
    ftp.OpenAsync();
    ASSERT_EQ(ftp.State(), ftpDnsLookup);
    ftp.AbortAsync();
    EXPECT_EQ(ftp.State(), ftpReady);
    testsupport::RunFor(300);
    EXPECT_TRUE(ftp.done.empty());
    EXPECT_EQ(ftp.ControlSocket()->State(), wsClosed);
}

TEST_F(FakeServerTest, OnRequestDoneIsNeverCalledFromInsideTheRequest)
{
    FakeFtpServer server([&](FakeSession& s) {
        Login(s, server);
        s.WaitClosed();
    });
    Use(server);
    bool inside = false;
    bool calledInside = false;
    ftp.OnRequestDone = [&](TCustomFtpCli*, TFtpRequest rq, std::uint16_t e) {
        calledInside = calledInside || inside;
        ftp.done.push_back({rq, e});
    };
    inside = true;
    ftp.ConnectAsync();
    inside = false;
    ASSERT_TRUE(ftp.WaitDone(1));
    EXPECT_FALSE(calledInside);
    EXPECT_EQ(ftp.done.back().request, ftpConnectAsync);
}

// --- data connections -------------------------------------------------------------

TEST_F(FakeServerTest, AnUnreadable227EndsTheTransferWith550)
{
    FakeFtpServer server([&](FakeSession& s) {
        if (!Login(s, server))
            return;
        for (std::string line = s.ReadLine(); !line.empty(); line = s.ReadLine()) {
            if (line == "PASV")
                s.Reply("227 Entering Passive Mode (127,0,0,1,x,y)");
            else if (line.rfind("RETR", 0) == 0)
                server.Fail("RETR sent after a bad 227");
            else
                s.Reply("200 ok");
        }
    });
    Use(server);
    ASSERT_TRUE(ftp.Connect());
    ftp.SetPassive(true);
    ftp.SetHostFileName("f");
    ftp.SetLocalFileName(local.File("f"));
    EXPECT_FALSE(ftp.Get());
    EXPECT_EQ(ftp.done.back().error, 550);
    EXPECT_EQ(ftp.StatusCode(), 550);
    EXPECT_NE(ftp.ErrorMessage().find("227"), std::string::npos);
    EXPECT_EQ(ftp.State(), ftpReady);
    ftp.SetLocalFileName("NOOP");
    EXPECT_TRUE(ftp.Quote());
    ftp.AbortAsync();
    testsupport::WaitFor([&] { return server.Finished(); });
    EXPECT_TRUE(server.Failures().empty()) << server.Failures();
}

// --- bytes still on their way when the closing reply comes ---------------------------

// A download whose closing reply and data race each other. Whichever comes
// first, every byte the server sent reaches the local file (so a resume
// starts after them), and the request ends with the closing reply's code
// only once the data connection has closed.
struct ClosingRace {
    const char* name;
    bool passive;
    // The 227 reply's address; another host's, which the client must ignore
    // for the control connection's.
    const char* pasvAddress;
    const char* command;
    std::size_t size;
    unsigned seed;
    const char* closingReply;
    // A line after the closing reply, which must not replace it.
    const char* strayLine;
    // The reply comes after the first 1000 bytes and the rest 300 ms later;
    // otherwise all the data comes first, then the reply.
    bool replyFirst;
    int expectedError; // 0: the request succeeds
    bool usableAfter;  // the session takes the next request
};

class ClosingReplyRace : public FakeServerTest, public ::testing::WithParamInterface<ClosingRace> {};

TEST_P(ClosingReplyRace, KeepsEveryByteTheServerSent)
{
    const ClosingRace c = GetParam();
    const std::string content = RandomBytes(c.size, c.seed);
    FakeFtpServer server([&](FakeSession& s) {
        if (!Login(s, server))
            return;
        int activePort = 0;
        for (std::string line = s.ReadLine(); !line.empty(); line = s.ReadLine()) {
            if (line == "PASV") {
                s.Reply(FakeSession::PasvReply(s.ListenData(), c.pasvAddress));
            } else if (line.rfind("PORT ", 0) == 0) {
                activePort = FakeSession::PortFromCommand(line);
                s.Reply("200 PORT ok");
            } else if (line == c.command) {
                if (c.passive && !s.AcceptData())
                    return server.Fail("no data connection");
                s.Reply("150 here it comes");
                if (!c.passive) {
                    Pause(50);
                    if (!s.ConnectData(activePort))
                        return server.Fail("cannot connect to the client");
                }
                if (c.replyFirst) {
                    s.SendData(content.substr(0, 1000));
                    s.Reply(c.closingReply);
                    if (c.strayLine)
                        s.Reply(c.strayLine);
                    Pause(300);
                    s.SendData(content.substr(1000));
                    s.CloseData();
                } else {
                    s.SendData(content);
                    s.CloseData();
                    s.Reply(c.closingReply);
                }
            } else if (line == "PWD") {
                s.Reply("257 \"/\" is current");
            } else {
                s.Reply("200 ok");
            }
        }
    });
    Use(server);
    ASSERT_TRUE(ftp.Connect());
    ftp.SetPassive(c.passive);
    const bool listing = std::string(c.command) == "LIST";
    ftp.SetHostFileName(listing ? "" : "f");
    ftp.SetLocalFileName(local.File("f"));
    const bool ok = listing ? ftp.Dir() : ftp.Get();
    EXPECT_EQ(ok, c.expectedError == 0) << ftp.ErrorMessage() << ftp.Dialogue() << server.Failures();
    const std::string kept = ReadFile(local.File("f"));
    EXPECT_EQ(kept.size(), content.size()) << "bytes the server sent were thrown away\n" << ftp.Dialogue();
    EXPECT_TRUE(kept == content);
    if (c.expectedError == 0) {
        EXPECT_EQ(ftp.LastResponse(), c.closingReply);
    } else {
        ASSERT_FALSE(ftp.done.empty());
        EXPECT_EQ(ftp.done.back().error, c.expectedError);
        EXPECT_EQ(ftp.StatusCode(), c.expectedError);
        EXPECT_EQ(ftp.ErrorMessage(), c.closingReply);
    }
    if (c.usableAfter) {
        EXPECT_TRUE(ftp.Displayed("! RETR/LIST/NLST Failed"));
        EXPECT_EQ(ftp.DataSocket()->State(), wsClosed);
        EXPECT_TRUE(ftp.Pwd()) << ftp.Dialogue();
    }
    ftp.AbortAsync();
    EXPECT_TRUE(server.Failures().empty()) << server.Failures();
}

INSTANTIATE_TEST_SUITE_P(Orders, ClosingReplyRace,
                         ::testing::Values(
                             // Passive download: the 226 overtakes the slow data.
                             ClosingRace{"Passive226BeforeTheLastBytes", true, "10,0,0,1", "RETR f", 100000, 11,
                                         "226 done already", nullptr, true, 0, false},
                             // Passive listing: a failing reply overtakes the data, a stray line follows it.
                             ClosingRace{"Passive451BeforeTheLastBytes", true, "127,0,0,1", "LIST", 60000, 17,
                                         "451 Local error; listing cut short.", "226 stray line", true, 451, true},
                             // Active download: the data waits in a connection not yet accepted when the 426 comes.
                             ClosingRace{"Active426AfterTheData", false, "127,0,0,1", "RETR f", 100 * 1024, 13,
                                         "426 Connection lost; transfer aborted.", nullptr, false, 426, false}),
                         [](const ::testing::TestParamInfo<ClosingRace>& info) {
                             return std::string(info.param.name);
                         });

// Without a data connection there is nothing to wait for: a failing closing
// reply ends the download at once, with its code (not with a time-out).
TEST_F(FakeServerTest, AFailingClosingReplyWithoutADataConnectionEndsAtOnce)
{
    FakeFtpServer server([&](FakeSession& s) {
        if (!Login(s, server))
            return;
        for (std::string line = s.ReadLine(); !line.empty(); line = s.ReadLine()) {
            if (line.rfind("PORT ", 0) == 0) {
                s.Reply("200 PORT ok");
            } else if (line == "RETR f") {
                // Never connects to the client's listening socket.
                s.Reply("150 opening");
                s.Reply("425 Cannot open data connection.");
            } else {
                s.Reply("200 ok");
            }
        }
    });
    Use(server);
    ASSERT_TRUE(ftp.Connect());
    ftp.SetTimeout(30);
    ftp.SetHostFileName("f");
    ftp.SetLocalFileName(local.File("f"));
    EXPECT_FALSE(ftp.Get());
    ASSERT_FALSE(ftp.done.empty());
    EXPECT_EQ(ftp.done.back().error, 425);
    EXPECT_EQ(ftp.ErrorMessage(), "425 Cannot open data connection.");
    EXPECT_EQ(ftp.DataSocket()->State(), wsClosed);
    ftp.AbortAsync();
}

// A server that fails the transfer but never closes the data connection
// cannot hold the client: the wrapper's time-out ends the wait, and what
// arrived is on disk.
TEST_F(FakeServerTest, AFailingClosingReplyWithAnOpenDataConnectionEndsWithTheTimeout)
{
    FakeFtpServer server([&](FakeSession& s) {
        if (!Login(s, server))
            return;
        for (std::string line = s.ReadLine(); !line.empty(); line = s.ReadLine()) {
            if (line == "PASV") {
                s.Reply(FakeSession::PasvReply(s.ListenData()));
            } else if (line == "RETR f") {
                if (!s.AcceptData()) {
                    server.Fail("no data connection");
                    return;
                }
                s.Reply("150 sending");
                s.SendData("first part");
                s.Reply("426 Transfer aborted.");
                s.WaitClosed(20000);
                return;
            } else {
                s.Reply("200 ok");
            }
        }
    });
    Use(server);
    ASSERT_TRUE(ftp.Connect());
    ftp.SetPassive(true);
    ftp.SetTimeout(1);
    ftp.SetHostFileName("f");
    ftp.SetLocalFileName(local.File("f"));
    EXPECT_FALSE(ftp.Get());
    EXPECT_EQ(ftp.ErrorMessage(), "426 Timeout");
    EXPECT_EQ(ReadFile(local.File("f")), "first part");
    EXPECT_EQ(ftp.State(), ftpReady);
    EXPECT_EQ(ftp.DataSocket()->State(), wsClosed);
}

TEST_F(FakeServerTest, RestAnswered502FailsTheChainAnd200DownloadsFromTheStart)
{
    const std::string content = "the whole file";
    std::atomic<int> restReply{502};
    FakeFtpServer server([&](FakeSession& s) {
        if (!Login(s, server))
            return;
        for (std::string line = s.ReadLine(); !line.empty(); line = s.ReadLine()) {
            if (line == "PASV") {
                s.Reply(FakeSession::PasvReply(s.ListenData()));
            } else if (line.rfind("REST ", 0) == 0) {
                s.Reply(std::to_string(restReply.load()) + " REST answer");
            } else if (line == "RETR f") {
                s.AcceptData();
                s.Reply("150 go");
                s.SendData(content);
                s.CloseData();
                s.Reply("226 ok");
            } else {
                s.Reply("200 ok");
            }
        }
    });
    Use(server);
    ASSERT_TRUE(ftp.Connect());
    ftp.SetPassive(true);
    ftp.SetHostFileName("f");
    ftp.SetLocalFileName(local.File("f"));
    WriteFile(local.File("f"), std::string(1000, 'z'));
    EXPECT_FALSE(ftp.RestGet());
    EXPECT_EQ(ftp.done.back().error, 502);
    EXPECT_EQ(ftp.done.back().request, ftpRestGetAsync);
    EXPECT_NE(ftp.Commands().back(), "RETR f");

    restReply = 200;
    ASSERT_TRUE(ftp.RestGet()) << ftp.ErrorMessage();
    const auto cmds = ftp.Commands();
    EXPECT_EQ(cmds[cmds.size() - 2], "REST 1000");
    EXPECT_EQ(ReadFile(local.File("f")), content);

    // With ftpNoAutoResumeAt and ResumeAt 0 no REST is sent.
    ftp.display.clear();
    ftp.SetOptions({ftpAcceptLF, ftpNoAutoResumeAt});
    ftp.SetResumeAt(0);
    ASSERT_TRUE(ftp.RestGet());
    for (const auto& c : ftp.Commands())
        EXPECT_NE(c.substr(0, 4), "REST");
    ftp.AbortAsync();
}

TEST_F(FakeServerTest, DisplayFileLineByLineCutsEachBlock)
{
    FakeFtpServer server([&](FakeSession& s) {
        if (!Login(s, server))
            return;
        for (std::string line = s.ReadLine(); !line.empty(); line = s.ReadLine()) {
            if (line == "PASV") {
                s.Reply(FakeSession::PasvReply(s.ListenData()));
            } else if (line == "LIST") {
                s.AcceptData();
                s.Reply("150 go");
                s.SendData("\r\none\r\ntwo\r\n\r\n\r\nthree\r\n");
                s.CloseData();
                s.Reply("226 ok");
            } else {
                s.Reply("200 ok");
            }
        }
    });
    Use(server);
    ASSERT_TRUE(ftp.Connect());
    ftp.SetPassive(true);
    ftp.SetDisplayFileFlag(true);
    ftp.SetHostFileName("");
    ftp.SetLocalFileName("");
    ASSERT_TRUE(ftp.Dir()) << ftp.ErrorMessage();
    EXPECT_EQ(ftp.displayFile, (std::vector<std::string>{"", "one", "two", "three"}));
    ftp.AbortAsync();
}

TEST(FtpParsing, ReadNumberAndReadQuoted)
{
    std::size_t pos = 0;
    EXPECT_EQ(TCustomFtpCli::ReadNumber("213 6442450944", pos), 213);
    EXPECT_EQ(TCustomFtpCli::ReadNumber("213 6442450944", pos), 6442450944LL);
    pos = 0;
    EXPECT_EQ(TCustomFtpCli::ReadNumber(" \t-42x", pos), -42);
    EXPECT_EQ(pos, 5u);
    pos = 0;
    EXPECT_EQ(TCustomFtpCli::ReadNumber("abc", pos), 0);
    pos = 3;
    EXPECT_EQ(TCustomFtpCli::ReadQuoted("257 \"/a \"\"b\"\" c\" created", pos), "/a \"b\" c");
    pos = 3;
    EXPECT_EQ(TCustomFtpCli::ReadQuoted("250 CWD ok", pos), "");
    pos = 3;
    EXPECT_EQ(TCustomFtpCli::ReadQuoted("257 \"unterminated", pos), "unterminated");
}

TEST(FtpProperties, DefaultsAndMappings)
{
    TFtpClient ftp;
    EXPECT_EQ(ftp.Timeout(), 15);
    EXPECT_EQ(ftp.Port(), "ftp");
    EXPECT_TRUE(ftp.Binary());
    EXPECT_EQ(ftp.State(), ftpReady);
    EXPECT_EQ(ftp.ShareMode(), ftpShareExclusive);
    EXPECT_TRUE(ftp.Options() == (TFtpOptions{ftpAcceptLF}));
    ftp.SetBinary(false);
    EXPECT_EQ(ftp.TransferType(), 'A');
    ftp.SetShareMode(ftpShareDenyNone);
    EXPECT_EQ(ftp.ShareFlags(), 0x0040);
    ftp.SetShareMode(TFtpShareMode(9));
    EXPECT_EQ(ftp.ShareFlags(), 0x0010);
    ftp.SetDisplayFileMode(TFtpDisplayFileMode(7));
    EXPECT_EQ(ftp.DisplayFileMode(), ftpLineByLine);
    EXPECT_EQ(int(ftpRestartPutAsync), 41);
    EXPECT_EQ(int(ftpWaitingResponse), 8);
}

} // namespace
