// Hostile and broken servers played by the scripted fault server: uploads
// whose data connection is reset, servers that fall silent, replies dribbled
// one byte per packet, floods of reply lines, and data connections opened
// from unexpected ports or never opened.

#include "support/eventwait.h"
#include "support/ftpfakeserver.h"
#include "support/ftpserver.h"
#include "support/ftptestutil.h"
#include "support/procstats.h"
#include "support/scriptedftp.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

using namespace ftptest;
using testsupport::LiveHeapBytes;
using testsupport::OpenDescriptors;

namespace {

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void ExpectBothConnectionsClosed(const RecordingClient& ftp)
{
    EXPECT_EQ(ftp.State(), ftpReady);
    EXPECT_FALSE(ftp.Connected());
    EXPECT_EQ(ftp.ControlSocket()->State(), wsClosed);
    EXPECT_EQ(ftp.DataSocket()->State(), wsClosed);
}

// --- uploads whose data connection breaks ------------------------------------------

class UploadReset : public ::testing::TestWithParam<bool> {};

TEST_P(UploadReset, ReportsAnErrorAndTheSessionStaysUsable)
{
    ScriptedFtp ftpd("", Cut::None, Cut::ResetThen426, 64 * 1024);
    FakeFtpServer server([&](FakeSession& s) { ftpd.Serve(s, server); });
    RecordingClient ftp;
    ftp.Target(server.PortText());
    ftp.SetPassive(GetParam());
    TempDir dir;
    const std::string content = RandomBytes(8 * 1024 * 1024, 3);
    WriteFile(dir.File("up.bin"), content);

    ASSERT_TRUE(ftp.Connect()) << ftp.Dialogue();
    ftp.SetHostFileName("up.bin");
    ftp.SetLocalFileName(dir.File("up.bin"));
    EXPECT_FALSE(ftp.Put()) << ftp.Dialogue();
    ASSERT_EQ(ftp.done.size(), 2u);
    EXPECT_NE(ftp.done.back().error, 0);
    EXPECT_FALSE(ftp.ErrorMessage().empty());
    EXPECT_EQ(ftp.State(), ftpReady);
    EXPECT_EQ(ftp.DataSocket()->State(), wsClosed);

    EXPECT_TRUE(ftp.Connected());
    EXPECT_TRUE(ftp.Pwd()) << ftp.Dialogue();
    EXPECT_EQ(ftp.DirResult(), "/");
    EXPECT_TRUE(ftp.Put()) << ftp.Dialogue();
    EXPECT_EQ(ftpd.StoresCompleted(), 1);
    EXPECT_TRUE(ftpd.Stored() == content) << "the second upload is not the local file";
    EXPECT_TRUE(ftp.Quit()) << ftp.Dialogue();
    EXPECT_TRUE(server.Failures().empty()) << server.Failures();
}

INSTANTIATE_TEST_SUITE_P(Modes, UploadReset, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Passive" : "Active");
                         });

// Failed transfers of every kind, over and over: no descriptor (socket,
// listening socket, local file) may be left behind.
TEST(FaultCleanup, RepeatedFailuresLeaveNoDescriptorsBehind)
{
    auto round = [](Cut retrCut, Cut storCut, bool passive) {
        ScriptedFtp ftpd(RandomBytes(300 * 1024, 17), retrCut, storCut, 64 * 1024);
        FakeFtpServer server([&](FakeSession& s) { ftpd.Serve(s, server); }, 2);
        RecordingClient ftp(false);
        ftp.Target(server.PortText());
        ftp.SetPassive(passive);
        TempDir dir;
        WriteFile(dir.File("up.bin"), RandomBytes(4 * 1024 * 1024, 18));
        if (!ftp.Connect())
            return false;
        ftp.SetTimeout(1);
        ftp.SetHostFileName("f.bin");
        ftp.SetLocalFileName(dir.File("f.bin"));
        const bool got = ftp.Get();
        if (!ftp.Connected() && !ftp.Connect())
            return false;
        ftp.SetLocalFileName(dir.File("up.bin"));
        const bool put = ftp.Put();
        ftp.AbortAsync();
        testsupport::RunFor(50);
        return !got && !put;
    };
    // The first round creates what lives for the whole program.
    ASSERT_TRUE(round(Cut::ResetThen426, Cut::ResetThen426, true));
    const int before = OpenDescriptors();
    for (const bool passive : {true, false}) {
        EXPECT_TRUE(round(Cut::ResetThen426, Cut::ResetThen426, passive));
        EXPECT_TRUE(round(Cut::CloseThenDrop, Cut::CloseThen426, passive));
        EXPECT_TRUE(round(Cut::Stall, Cut::ResetThen426, passive));
    }
    EXPECT_EQ(OpenDescriptors(), before);
}

// --- servers that stop answering -----------------------------------------------------

TEST(SilentServer, NoGreetingEndsConnectWithTimeoutAndTheConnectionClosed)
{
    std::atomic<bool> clientClosed{false};
    FakeFtpServer server([&](FakeSession& s) { clientClosed = s.WaitClosed(20000); });
    RecordingClient ftp;
    ftp.Target(server.PortText());
    ftp.SetTimeout(1);
    EXPECT_FALSE(ftp.Connect());
    EXPECT_EQ(ftp.ErrorMessage(), "426 Timeout");
    EXPECT_EQ(ftp.StatusCode(), 426);
    ExpectBothConnectionsClosed(ftp);
    EXPECT_TRUE(testsupport::WaitFor([&] { return clientClosed.load(); }, 5000));
}

TEST(SilentServer, AnUploadTheServerStopsReadingEndsWithTimeoutAndBothConnectionsClosed)
{
    for (const bool passive : {true, false}) {
        SCOPED_TRACE(passive ? "passive" : "active");
        ScriptedFtp ftpd("", Cut::None, Cut::Stall, 64 * 1024);
        FakeFtpServer server([&](FakeSession& s) { ftpd.Serve(s, server); });
        RecordingClient ftp;
        ftp.Target(server.PortText());
        ftp.SetPassive(passive);
        TempDir dir;
        WriteFile(dir.File("up.bin"), RandomBytes(16 * 1024 * 1024, 4));
        ASSERT_TRUE(ftp.Connect()) << ftp.Dialogue();
        ftp.SetTimeout(1);
        ftp.SetHostFileName("up.bin");
        ftp.SetLocalFileName(dir.File("up.bin"));
        EXPECT_FALSE(ftp.Put()) << ftp.Dialogue();
        EXPECT_EQ(ftp.ErrorMessage(), "426 Timeout");
        ExpectBothConnectionsClosed(ftp);
        EXPECT_TRUE(testsupport::WaitFor([&] { return server.Finished(); }, 10000));
        EXPECT_TRUE(ftpd.ControlClosedAfterStall());
        EXPECT_TRUE(ftpd.DataClosedAfterStall()) << "the data connection was left open";
    }
}

TEST(SilentServer, AConnectionResetBeforeTheGreetingFailsAtOnce)
{
    FakeFtpServer server([&](FakeSession& s) { s.Reset(); });
    RecordingClient ftp;
    ftp.Target(server.PortText());
    ftp.SetTimeout(20);
    EXPECT_FALSE(ftp.Connect());
    EXPECT_NE(ftp.ErrorMessage(), "426 Timeout");
    ASSERT_FALSE(ftp.done.empty());
    EXPECT_NE(ftp.done.back().error, 0);
    ExpectBothConnectionsClosed(ftp);
}

// --- the client destroyed in the middle of a transfer -------------------------------

// The application may free the client while a transfer runs (window closed):
// nothing posted or pending may reach it afterwards.
TEST(Teardown, DestroyingTheClientInTheMiddleOfTransfersIsSafe)
{
    for (const bool upload : {false, true}) {
        for (const bool passive : {true, false}) {
            SCOPED_TRACE(std::string(upload ? "upload" : "download") + (passive ? " passive" : " active"));
            ScriptedFtp ftpd(RandomBytes(1024 * 1024, 19), Cut::Stall, Cut::Stall, 256 * 1024);
            FakeFtpServer server([&](FakeSession& s) { ftpd.Serve(s, server); });
            TempDir dir;
            WriteFile(dir.File("up.bin"), RandomBytes(8 * 1024 * 1024, 20));
            auto ftp = std::make_unique<RecordingClient>(false);
            ftp->Target(server.PortText());
            ftp->SetPassive(passive);
            ASSERT_TRUE(ftp->Connect());
            ftp->SetHostFileName(upload ? "up.bin" : "f.bin");
            ftp->SetLocalFileName(dir.File(upload ? "up.bin" : "f.bin"));
            std::int64_t moved = 0;
            ftp->OnProgress = [&](TCustomFtpCli*, std::int64_t count, bool&) { moved = count; };
            if (upload)
                ftp->PutAsync();
            else
                ftp->GetAsync();
            ASSERT_TRUE(testsupport::WaitFor([&] { return moved >= 128 * 1024; }, 10000));
            ftp.reset();
            testsupport::RunFor(100);
            EXPECT_TRUE(testsupport::WaitFor([&] { return server.Finished(); }, 10000));
            EXPECT_TRUE(ftpd.ControlClosedAfterStall());
            EXPECT_TRUE(ftpd.DataClosedAfterStall());
        }
    }
}

// --- reply assembly -------------------------------------------------------------------

class BytewiseReplies : public ::testing::TestWithParam<bool> {};

TEST_P(BytewiseReplies, AreAssembledIntoTheSameLines)
{
    const bool acceptLF = GetParam();
    FakeFtpServer server([&](FakeSession& s) {
        s.SendBytewise("220-Welcome to\r\n220-the slow server\r\n220 ready\r\n");
        if (s.ReadLine() != "USER u")
            return server.Fail("expected USER");
        s.SendBytewise("331 password please\r\n");
        if (s.ReadLine() != "PASS p")
            return server.Fail("expected PASS");
        s.SendBytewise("230-first\r\n230 logged in\r\n");
        if (s.ReadLine() != "PWD")
            return server.Fail("expected PWD");
        s.SendBytewise("257 \"/a \"\"quoted\"\" dir\" is current\r\n");
        if (s.ReadLine() != "PASV")
            return server.Fail("expected PASV");
        const int port = s.ListenData();
        s.SendBytewise(FakeSession::PasvReply(port) + "\r\n");
        if (s.ReadLine() != "RETR f")
            return server.Fail("expected RETR");
        s.SendBytewise("150 here it comes\r\n");
        if (!s.AcceptData())
            return server.Fail("no data connection");
        s.SendData("payload");
        s.CloseData();
        s.SendBytewise("226 done\r\n");
        s.WaitClosed();
    });
    RecordingClient ftp;
    ftp.Target(server.PortText());
    if (!acceptLF)
        ftp.SetOptions({});
    ftp.SetPassive(true);
    TempDir dir;

    ASSERT_TRUE(ftp.Connect()) << ftp.Dialogue();
    EXPECT_TRUE(ftp.Displayed("< 220-Welcome to"));
    EXPECT_TRUE(ftp.Displayed("< 220-the slow server"));
    EXPECT_TRUE(ftp.Displayed("< 220 ready"));
    EXPECT_EQ(ftp.LastResponse(), "230 logged in");
    // Greeting, USER, PASS, and the refusal of the FEAT after login.
    EXPECT_EQ(ftp.responses, 3u + 1u + 2u + 1u);
    EXPECT_TRUE(ftp.Pwd()) << ftp.Dialogue();
    EXPECT_EQ(ftp.DirResult(), "/a \"quoted\" dir");
    ftp.SetHostFileName("f");
    ftp.SetLocalFileName(dir.File("f"));
    EXPECT_TRUE(ftp.Get()) << ftp.Dialogue();
    EXPECT_EQ(ReadFile(dir.File("f")), "payload");
    EXPECT_EQ(ftp.LastResponse(), "226 done");
    EXPECT_TRUE(server.Failures().empty()) << server.Failures();
    ftp.AbortAsync();
}

INSTANTIATE_TEST_SUITE_P(LineEnds, BytewiseReplies, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "AcceptLF" : "CrLfOnly");
                         });

// Ten thousand lines of about 300 bytes (3 MB in all): a client that kept
// them would grow by at least that much.
constexpr int FloodLines = 10000;
const std::string FloodText(290, 'x');

TEST(ReplyFlood, UnsolicitedLinesWhileIdleDoNotGrowMemory)
{
    std::atomic<bool> sent{false};
    FakeFtpServer server([&](FakeSession& s) {
        if (!Login(s, server))
            return;
        std::string burst;
        for (int i = 0; i < FloodLines; ++i) {
            burst += "200 unsolicited " + std::to_string(i) + " " + FloodText + "\r\n";
            if (burst.size() > 64 * 1024) {
                s.SendRaw(burst);
                burst.clear();
            }
        }
        s.SendRaw(burst);
        sent = true;
        if (s.ReadLine() != "PWD")
            return server.Fail("expected PWD");
        s.Reply("257 \"/after/flood\"");
        s.WaitClosed();
    });
    RecordingClient ftp(false);
    ftp.Target(server.PortText());
    // The flood follows the login at once, so the baseline is taken before.
    const std::size_t before = LiveHeapBytes();
    ASSERT_TRUE(ftp.Connect());
    // Greeting, USER, PASS, and the refusal of FEAT.
    constexpr std::size_t loginLines = 4;
    // USER, PASS and FEAT are shown as sent, and four reply lines.
    constexpr std::size_t loginShown = 3 + 4;
    ASSERT_TRUE(testsupport::WaitFor([&] { return ftp.responses >= loginLines + FloodLines; }, 60000))
        << ftp.responses - loginLines << " lines arrived";
    const std::size_t after = LiveHeapBytes();

    EXPECT_EQ(ftp.responses, loginLines + FloodLines);
    EXPECT_EQ(ftp.displayCount - loginShown, std::size_t(FloodLines)) << "every idle line is shown once";
    EXPECT_EQ(ftp.State(), ftpReady);
    EXPECT_LT(ftp.MostReplyBytesHeld(), 4096);
    EXPECT_LT(after, before + 1024 * 1024) << "heap grew by " << (after - before) << " bytes";

    // The flood did not disturb the session.
    EXPECT_TRUE(ftp.Pwd());
    EXPECT_EQ(ftp.DirResult(), "/after/flood");
    ftp.AbortAsync();
}

TEST(ReplyFlood, TenThousandContinuationLinesEndWithTheirFinalLine)
{
    FakeFtpServer server([&](FakeSession& s) {
        if (!Login(s, server))
            return;
        if (s.ReadLine() != "PWD")
            return server.Fail("expected PWD");
        std::string burst;
        for (int i = 0; i < FloodLines; ++i) {
            burst += "257-line " + std::to_string(i) + " " + FloodText + "\r\n";
            if (burst.size() > 64 * 1024) {
                s.SendRaw(burst);
                burst.clear();
            }
        }
        s.SendRaw(burst + "257 \"/flooded\" is current\r\n");
        if (s.ReadLine() != "SYST")
            return server.Fail("expected SYST");
        s.Reply("215 UNIX");
        s.WaitClosed();
    });
    RecordingClient ftp(false);
    ftp.Target(server.PortText());
    ASSERT_TRUE(ftp.Connect());
    const std::size_t before = LiveHeapBytes();
    EXPECT_TRUE(ftp.Pwd());
    const std::size_t after = LiveHeapBytes();
    EXPECT_EQ(ftp.DirResult(), "/flooded");
    EXPECT_EQ(ftp.StatusCode(), 257);
    EXPECT_LT(ftp.MostReplyBytesHeld(), 4096);
    EXPECT_LT(after, before + 1024 * 1024) << "heap grew by " << (after - before) << " bytes";
    EXPECT_TRUE(ftp.Syst());
    EXPECT_EQ(ftp.LastResponse(), "215 UNIX");
    ftp.AbortAsync();
}

// --- data connections from unexpected places, or none at all -----------------------

TEST(ActiveDataConnection, FromAnotherSourcePortIsTakenAndCompletes)
{
    const std::string payload = RandomBytes(300 * 1024, 9);
    const int fromPort = testsupport::FreeLoopbackPort();
    std::atomic<int> sourcePort{0};
    FakeFtpServer server([&](FakeSession& s) {
        if (!Login(s, server))
            return;
        const int port = FakeSession::PortFromCommand(s.ReadLine());
        s.Reply("200 PORT ok");
        if (s.ReadLine() != "RETR f")
            return server.Fail("expected RETR");
        // Not the control connection's port and not 20: whatever port the
        // server happens to use.
        if (!s.ConnectData(port, fromPort))
            return server.Fail("cannot connect to the client");
        sourcePort = s.DataLocalPort();
        s.Reply("150 sending");
        s.SendData(payload);
        s.CloseData();
        s.Reply("226 done");
        s.WaitClosed();
    });
    RecordingClient ftp;
    ftp.Target(server.PortText());
    TempDir dir;
    ASSERT_TRUE(ftp.Connect());
    ftp.SetHostFileName("f");
    ftp.SetLocalFileName(dir.File("f"));
    EXPECT_TRUE(ftp.Get()) << ftp.Dialogue();
    EXPECT_EQ(sourcePort.load(), fromPort);
    EXPECT_TRUE(ReadFile(dir.File("f")) == payload);
    EXPECT_TRUE(server.Failures().empty()) << server.Failures();
    ftp.AbortAsync();
}

TEST(ActiveDataConnection, AStrangerThatConnectsFirstDoesNotHangTheClient)
{
    FakeFtpServer server([&](FakeSession& s) {
        if (!Login(s, server))
            return;
        const int port = FakeSession::PortFromCommand(s.ReadLine());
        s.Reply("200 PORT ok");
        if (s.ReadLine() != "RETR f")
            return server.Fail("expected RETR");
        // Someone else takes the client's port first, sends rubbish and
        // leaves; the server then finds the port taken.
        {
            FakeSession stranger(-1, nullptr);
            if (stranger.ConnectData(port)) {
                stranger.SendData("not the file");
                stranger.CloseData();
            }
        }
        Pause(100);
        if (s.ConnectData(port)) {
            s.Reply("150 sending");
            s.SendData("the file");
            s.CloseData();
            s.Reply("226 done");
        } else {
            s.Reply("425 Can't open data connection");
        }
        if (s.ReadLine() != "PWD")
            return server.Fail("expected PWD");
        s.Reply("257 \"/\"");
        s.WaitClosed();
    });
    RecordingClient ftp;
    ftp.Target(server.PortText());
    ftp.SetTimeout(5);
    TempDir dir;
    ASSERT_TRUE(ftp.Connect());
    ftp.SetHostFileName("f");
    ftp.SetLocalFileName(dir.File("f"));
    EXPECT_FALSE(ftp.Get()) << ftp.Dialogue();
    EXPECT_EQ(ftp.StatusCode(), 425) << ftp.Dialogue();
    EXPECT_NE(ftp.ErrorMessage(), "426 Timeout");
    EXPECT_EQ(ftp.DataSocket()->State(), wsClosed);
    EXPECT_TRUE(ftp.Pwd()) << ftp.Dialogue();
    ftp.AbortAsync();
}

TEST(ActiveDataConnection, NeverOpenedAndNoReplyEndsWithTimeoutAndNothingLeftListening)
{
    std::atomic<int> clientPort{0};
    FakeFtpServer server([&](FakeSession& s) {
        if (!Login(s, server))
            return;
        clientPort = FakeSession::PortFromCommand(s.ReadLine());
        s.Reply("200 PORT ok");
        s.ReadLine(); // RETR
        s.Reply("150 sending soon");
        s.WaitClosed(20000);
    });
    RecordingClient ftp;
    ftp.Target(server.PortText());
    TempDir dir;
    ASSERT_TRUE(ftp.Connect());
    ftp.SetTimeout(1);
    ftp.SetHostFileName("f");
    ftp.SetLocalFileName(dir.File("f"));
    EXPECT_FALSE(ftp.Get()) << ftp.Dialogue();
    EXPECT_EQ(ftp.ErrorMessage(), "426 Timeout");
    ExpectBothConnectionsClosed(ftp);
    ASSERT_NE(clientPort.load(), 0);
    EXPECT_FALSE(testsupport::IsListening(clientPort.load())) << "the listening data socket was left open";
}

TEST(ActiveDataConnection, NeverOpenedWith425FailsAtOnceAndTheSessionGoesOn)
{
    std::atomic<int> clientPort{0};
    FakeFtpServer server([&](FakeSession& s) {
        if (!Login(s, server))
            return;
        clientPort = FakeSession::PortFromCommand(s.ReadLine());
        s.Reply("200 PORT ok");
        s.ReadLine(); // RETR
        s.Reply("425 Can't open data connection");
        if (s.ReadLine() != "SYST")
            return server.Fail("expected SYST");
        s.Reply("215 UNIX");
        s.WaitClosed();
    });
    RecordingClient ftp;
    ftp.Target(server.PortText());
    TempDir dir;
    ASSERT_TRUE(ftp.Connect());
    ftp.SetHostFileName("f");
    ftp.SetLocalFileName(dir.File("f"));
    EXPECT_FALSE(ftp.Get());
    EXPECT_EQ(ftp.done.back().error, 425);
    EXPECT_EQ(ftp.DataSocket()->State(), wsClosed);
    ASSERT_NE(clientPort.load(), 0);
    EXPECT_FALSE(testsupport::IsListening(clientPort.load())) << "the listening data socket was left open";
    EXPECT_TRUE(ftp.Syst());
    EXPECT_TRUE(server.Failures().empty()) << server.Failures();
    ftp.AbortAsync();
}

TEST(PassiveDataConnection, ToAPortNobodyListensOnFailsAtOnce)
{
    FakeFtpServer server([&](FakeSession& s) {
        if (!Login(s, server))
            return;
        s.ReadLine(); // PASV
        s.Reply(FakeSession::PasvReply(testsupport::FreeLoopbackPort()));
        const std::string retr = s.ReadLine();
        if (!retr.empty())
            s.Reply("425 Can't open data connection");
        s.WaitClosed();
    });
    RecordingClient ftp;
    ftp.Target(server.PortText());
    ftp.SetPassive(true);
    TempDir dir;
    ASSERT_TRUE(ftp.Connect());
    ftp.SetHostFileName("f");
    ftp.SetLocalFileName(dir.File("f"));
    EXPECT_FALSE(ftp.Get()) << ftp.Dialogue();
    EXPECT_NE(ftp.ErrorMessage(), "426 Timeout");
    EXPECT_EQ(ftp.State(), ftpReady);
    EXPECT_EQ(ftp.DataSocket()->State(), wsClosed);
    ftp.AbortAsync();
}

TEST(PassiveDataConnection, AcceptedButNeverServedEndsWithTimeout)
{
    FakeFtpServer server([&](FakeSession& s) {
        if (!Login(s, server))
            return;
        s.ReadLine(); // PASV
        // Listening, so the connection is made, but nothing is ever sent.
        s.Reply(FakeSession::PasvReply(s.ListenData()));
        s.ReadLine(); // RETR
        s.WaitClosed(20000);
    });
    RecordingClient ftp;
    ftp.Target(server.PortText());
    ftp.SetPassive(true);
    TempDir dir;
    ASSERT_TRUE(ftp.Connect());
    ftp.SetTimeout(1);
    ftp.SetHostFileName("f");
    ftp.SetLocalFileName(dir.File("f"));
    EXPECT_FALSE(ftp.Get()) << ftp.Dialogue();
    EXPECT_EQ(ftp.ErrorMessage(), "426 Timeout");
    ExpectBothConnectionsClosed(ftp);
}

// --- sessions the server drops ---------------------------------------------------------

// A session the server drops in the middle of a download (data connection
// closed, then the control connection, no reply), then a new session on the
// same client that ends with QUIT: the QUIT completes, even though the
// socket layer saw the first session's close from two sides (see
// test_socketfaults.cpp).
TEST(DroppedSession, QuitOnTheNextSessionCompletes)
{
    std::atomic<int> sessions{0};
    FakeFtpServer server(
        [&](FakeSession& s) {
            if (!Login(s, server))
                return;
            if (++sessions == 1) {
                s.ReadLine(); // PASV
                s.Reply(FakeSession::PasvReply(s.ListenData()));
                s.ReadLine(); // RETR
                s.Reply("150 sending");
                if (!s.AcceptData())
                    return server.Fail("no data connection");
                s.SendData(std::string(1000, 'x'));
                Pause(100);
                s.CloseData();
                s.Close();
                return;
            }
            s.ReadLine(); // QUIT
            s.Reply("221 bye");
            s.WaitClosed();
        },
        2);
    RecordingClient ftp;
    ftp.Target(server.PortText());
    ftp.SetPassive(true);
    ftp.SetTimeout(3);
    TempDir dir;
    ASSERT_TRUE(ftp.Connect());
    ftp.SetHostFileName("f");
    ftp.SetLocalFileName(dir.File("f"));
    EXPECT_FALSE(ftp.Get());
    EXPECT_FALSE(ftp.Connected());
    ASSERT_TRUE(ftp.Connect()) << ftp.Dialogue();
    EXPECT_TRUE(ftp.Quit()) << ftp.Dialogue();
    EXPECT_NE(ftp.ErrorMessage(), "426 Timeout");
    EXPECT_FALSE(ftp.Connected());
}

} // namespace
