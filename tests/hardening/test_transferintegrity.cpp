// Transfers that did not complete must never end as a success, and a refused
// one must not touch the local file; replies are read as RFC 959 has them;
// the time-out watches bytes, not events; a data connection is taken only
// from the server. Each case is played by a scripted server.

#include "support/ftpfakeserver.h"
#include "support/ftptestutil.h"

#include "platform/tickcount.h"
#include "support/eventwait.h"

#include <gtest/gtest.h>

#include <cctype>

using namespace ftptest;

namespace {

// Answers the commands every session sends (login, TYPE, PWD, PASV, PORT)
// and hands the first other one to the script.
class Routine {
public:
    explicit Routine(FakeSession& s) : s_(s) { s_.Reply("220 scripted server ready"); }

    std::string Next()
    {
        for (;;) {
            const std::string line = s_.ReadLine(15000);
            if (line.empty())
                return line;
            std::string verb = line.substr(0, line.find(' '));
            for (auto& c : verb)
                c = char(std::toupper(static_cast<unsigned char>(c)));
            if (verb == "USER") {
                s_.Reply("331 password please");
            } else if (verb == "PASS") {
                s_.Reply("230 logged in");
            } else if (verb == "TYPE") {
                s_.Reply("200 type set");
            } else if (verb == "PWD") {
                s_.Reply("257 \"/\" is the current directory");
            } else if (verb == "PASV") {
                passive_ = true;
                s_.Reply(FakeSession::PasvReply(s_.ListenData()));
            } else if (verb == "PORT") {
                passive_ = false;
                activePort_ = FakeSession::PortFromCommand(line);
                s_.Reply("200 PORT command successful");
            } else {
                return line;
            }
        }
    }

    // Opens the data connection the way the last PASV or PORT asked for;
    // an upload's reply comes after a passive accept, before an active
    // connect, as real servers do.
    bool OpenData(const std::string& preliminary)
    {
        if (passive_) {
            const bool ok = s_.AcceptData();
            s_.Reply(preliminary);
            return ok;
        }
        s_.Reply(preliminary);
        return s_.ConnectData(activePort_);
    }

    // Plays the rest of the session: the routine commands, QUIT.
    void Finish()
    {
        for (;;) {
            const std::string line = Next();
            if (line.empty())
                return;
            if (line == "QUIT") {
                s_.Reply("221 bye");
                return;
            }
            s_.Reply("502 not here");
        }
    }

    bool Passive() const { return passive_; }
    int ActivePort() const { return activePort_; }

private:
    FakeSession& s_;
    bool passive_ = false;
    int activePort_ = 0;
};

class Integrity : public ::testing::TestWithParam<bool> {
protected:
    void Start(FakeFtpServer& server)
    {
        ftp.Target(server.PortText());
        ftp.SetPassive(GetParam());
        ASSERT_TRUE(ftp.Connect()) << ftp.Dialogue();
    }

    // A failed transfer leaves a usable session that knows nothing of it.
    void ExpectFailedButUsable(const std::string& message)
    {
        ASSERT_FALSE(ftp.done.empty());
        EXPECT_NE(ftp.done.back().error, 0) << ftp.Dialogue();
        EXPECT_EQ(ftp.ErrorMessage(), message) << ftp.Dialogue();
        EXPECT_EQ(ftp.State(), ftpReady);
        EXPECT_TRUE(ftp.Pwd()) << ftp.Dialogue();
    }

    RecordingClient ftp;
    TempDir dir;
};

TEST_P(Integrity, ADownloadIntoAFullDiskFails)
{
    FakeFtpServer server([&](FakeSession& s) {
        Routine r(s);
        if (r.Next() != "RETR f.bin")
            return server.Fail("expected RETR");
        if (!r.OpenData("150 Opening BINARY mode data connection"))
            return server.Fail("no data connection");
        s.SendData(RandomBytes(64 * 1024, 3));
        s.CloseData();
        s.Reply("226 Transfer complete");
        r.Finish();
    });
    Start(server);
    ftp.SetHostFileName("f.bin");
    ftp.SetLocalFileName("/dev/full");
    EXPECT_FALSE(ftp.Get()) << ftp.Dialogue();
    ExpectFailedButUsable("Error writing local file: No space left on device");
    EXPECT_TRUE(server.Failures().empty()) << server.Failures();
}

TEST_P(Integrity, AnUploadWhoseConnectionIsResetFailsDespiteA226)
{
    const std::string content = RandomBytes(4 * 1024 * 1024, 4);
    FakeFtpServer server([&](FakeSession& s) {
        Routine r(s);
        if (r.Next() != "STOR f.bin")
            return server.Fail("expected STOR");
        if (!r.OpenData("150 Ok to send data"))
            return server.Fail("no data connection");
        s.ReceiveData(64 * 1024);
        s.ResetData();
        s.Reply("226 Transfer complete");
        r.Finish();
    });
    Start(server);
    const std::string local = dir.File("f.bin");
    WriteFile(local, content);
    ftp.SetHostFileName("f.bin");
    ftp.SetLocalFileName(local);
    EXPECT_FALSE(ftp.Put()) << ftp.Dialogue();
    ASSERT_FALSE(ftp.done.empty());
    EXPECT_NE(ftp.done.back().error, 0);
    EXPECT_NE(ftp.ErrorMessage().rfind("226", 0), 0u) << ftp.ErrorMessage();
    EXPECT_FALSE(ftp.ErrorMessage().empty());
    EXPECT_LT(ftp.ByteCount(), std::int64_t(content.size()));
    EXPECT_TRUE(ftp.Pwd()) << ftp.Dialogue();
    EXPECT_TRUE(ReadFile(local) == content) << "the local file was changed";
}

TEST_P(Integrity, AShortBinaryDownloadFailsWhateverTheServerSays)
{
    // The size comes once in the 150 reply and once from SIZE.
    for (const bool bySize : {false, true}) {
        SCOPED_TRACE(bySize ? "SIZE" : "150 reply");
        FakeFtpServer server([&](FakeSession& s) {
            Routine r(s);
            std::string line = r.Next();
            if (line == "SIZE f.bin") {
                s.Reply("213 1000");
                line = r.Next();
            }
            if (line != "RETR f.bin")
                return server.Fail("expected RETR");
            if (!r.OpenData(bySize ? "150 Here it comes"
                                   : "150 Opening BINARY mode data connection for f.bin (1000 bytes)"))
                return server.Fail("no data connection");
            s.SendData(std::string(100, 'x'));
            s.CloseData();
            s.Reply("226 Transfer complete");
            r.Finish();
        });
        Start(server);
        if (bySize) {
            ftp.SetHostFileName("f.bin");
            ASSERT_TRUE(ftp.Size()) << ftp.Dialogue();
        }
        const std::string local = dir.File("short.bin");
        ftp.SetHostFileName("f.bin");
        ftp.SetLocalFileName(local);
        EXPECT_FALSE(ftp.Get()) << ftp.Dialogue();
        ExpectFailedButUsable("Transfer incomplete: 100 of 1000 bytes received");
        // What came is kept, so that a resume can continue it.
        EXPECT_EQ(ReadFile(local), std::string(100, 'x'));
        EXPECT_TRUE(ftp.Quit());
    }
}

TEST_P(Integrity, ARefusedDownloadLeavesTheLocalFileAlone)
{
    FakeFtpServer server([&](FakeSession& s) {
        Routine r(s);
        for (int i = 0; i < 2; ++i) {
            if (r.Next().rfind("RETR ", 0) != 0)
                return server.Fail("expected RETR");
            s.Reply("550 No such file or directory");
        }
        r.Finish();
    });
    Start(server);
    const std::string existing = dir.File("existing.txt");
    WriteFile(existing, "precious local data");
    ftp.SetHostFileName("existing.txt");
    ftp.SetLocalFileName(existing);
    EXPECT_FALSE(ftp.Get());
    EXPECT_EQ(ftp.done.back().error, 550);
    EXPECT_EQ(ReadFile(existing), "precious local data");

    const std::string fresh = dir.File("fresh.txt");
    ftp.SetHostFileName("fresh.txt");
    ftp.SetLocalFileName(fresh);
    EXPECT_FALSE(ftp.Get());
    EXPECT_FALSE(FileExists(fresh)) << "a refused download left an empty file behind";
    EXPECT_TRUE(ftp.Quit());
    EXPECT_TRUE(server.Failures().empty()) << server.Failures();
}

TEST_P(Integrity, AnActiveDataConnectionIsTakenOnlyFromTheServer)
{
    if (GetParam())
        GTEST_SKIP() << "active mode only";
    const std::string body = RandomBytes(200 * 1024, 9);
    FakeFtpServer server([&](FakeSession& s) {
        Routine r(s);
        if (r.Next() != "RETR f.bin")
            return server.Fail("expected RETR");
        s.Reply("150 Opening BINARY mode data connection");
        // Another process on this host gets there first.
        if (!FakeSession::IntrudeFrom("127.0.0.2", r.ActivePort()))
            server.Fail("the intruder's connection was not closed");
        if (!s.ConnectData(r.ActivePort()))
            return server.Fail("the server could not connect after the intruder");
        s.SendData(body);
        s.CloseData();
        s.Reply("226 Transfer complete");
        r.Finish();
    });
    Start(server);
    const std::string local = dir.File("f.bin");
    ftp.SetHostFileName("f.bin");
    ftp.SetLocalFileName(local);
    EXPECT_TRUE(ftp.Get()) << ftp.Dialogue();
    EXPECT_TRUE(ftp.Displayed("! Refused data connection from 127.0.0.2")) << ftp.Dialogue();
    EXPECT_TRUE(ReadFile(local) == body);
    EXPECT_TRUE(ftp.Quit());
    EXPECT_TRUE(server.Failures().empty()) << server.Failures();
}

TEST_P(Integrity, ASlowButMovingUploadOutlivesTheTimeout)
{
    // The server reads at about 64 KB/s through a small window: the whole
    // upload takes several times the time-out, and the file is one block,
    // so only what the peer takes can show that it is moving.
    const std::string content = RandomBytes(256 * 1024, 12);
    std::string stored;
    FakeFtpServer server([&](FakeSession& s) {
        Routine r(s);
        s.SetDataReceiveBuffer(8 * 1024);
        if (r.Next() != "STOR slow.bin")
            return server.Fail("expected STOR");
        if (!r.OpenData("150 Ok to send data"))
            return server.Fail("no data connection");
        stored = s.ReceiveDataPaced(64 * 1024);
        s.CloseData();
        s.Reply("226 Transfer complete");
        r.Finish();
    });
    Start(server);
    std::vector<std::int64_t> counts;
    ftp.OnProgress = [&](TCustomFtpCli*, std::int64_t count, bool&) { counts.push_back(count); };
    const std::string local = dir.File("slow.bin");
    WriteFile(local, content);
    ftp.SetHostFileName("slow.bin");
    ftp.SetLocalFileName(local);
    ftp.SetTimeout(1);
    const std::int64_t started = GetTickCount64();
    EXPECT_TRUE(ftp.Put()) << ftp.Dialogue() << ftp.ErrorMessage();
    const std::int64_t took = GetTickCount64() - started;
    ftp.SetTimeout(20);
    EXPECT_TRUE(ftp.Quit());
    EXPECT_TRUE(stored == content);
    EXPECT_EQ(ftp.ByteCount(), std::int64_t(content.size()));
    // Progress counts what the server took: it climbs in many steps, not
    // straight to the file's size.
    std::size_t between = 0;
    for (const std::int64_t c : counts)
        between += c > 0 && c < std::int64_t(content.size()) ? 1 : 0;
    if (took > 2000) {
        EXPECT_GT(between, 3u) << "progress did not follow the bytes the server took";
    }
}

TEST_P(Integrity, AnUploadTheServerStopsReadingEndsInAboutTheTimeout)
{
    FakeFtpServer server([&](FakeSession& s) {
        Routine r(s);
        if (r.Next() != "STOR stuck.bin")
            return server.Fail("expected STOR");
        if (!r.OpenData("150 Ok to send data"))
            return server.Fail("no data connection");
        s.ReceiveData(64 * 1024);
        // Stops reading and waits for the client to give up.
        s.WaitClosed(30000);
    });
    Start(server);
    const std::string local = dir.File("stuck.bin");
    WriteFile(local, RandomBytes(32 * 1024 * 1024, 13));
    ftp.SetHostFileName("stuck.bin");
    ftp.SetLocalFileName(local);
    ftp.SetTimeout(2);
    const std::int64_t started = GetTickCount64();
    EXPECT_FALSE(ftp.Put());
    const std::int64_t took = GetTickCount64() - started;
    EXPECT_EQ(ftp.ErrorMessage(), "426 Timeout");
    EXPECT_LT(took, 20000) << "a stalled upload was not cut off";
}

INSTANTIATE_TEST_SUITE_P(Modes, Integrity, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Passive" : "Active");
                         });

// --- replies ---------------------------------------------------------------------

TEST(Replies, AMultiLineReplyEndsOnlyAtItsOwnCodeAndASpace)
{
    FakeFtpServer server([&](FakeSession& s) {
        s.Reply("220 ready");
        if (s.ReadLine().rfind("USER", 0) != 0)
            return server.Fail("expected USER");
        s.Reply("331 password please");
        if (s.ReadLine().rfind("PASS", 0) != 0)
            return server.Fail("expected PASS");
        s.SendRaw("230-Welcome\r\n2024 news\r\n230-still the text\r\n231 not the end either\r\n 230 nor this\r\n"
                  "230 Done\r\n");
        if (s.ReadLine() != "PWD")
            return server.Fail("expected PWD");
        s.Reply("257 \"/home\" is current");
        if (s.ReadLine() == "QUIT")
            s.Reply("221 bye");
    });
    RecordingClient ftp;
    ftp.Target(server.PortText());
    ASSERT_TRUE(ftp.Connect()) << ftp.Dialogue();
    EXPECT_EQ(ftp.StatusCode(), 230);
    EXPECT_EQ(ftp.LastResponse(), "230 Done");
    // The next reply is PWD's own, not a leftover of the welcome text.
    EXPECT_TRUE(ftp.Pwd()) << ftp.Dialogue();
    EXPECT_EQ(ftp.DirResult(), "/home");
    EXPECT_TRUE(ftp.Quit());
    EXPECT_TRUE(server.Failures().empty()) << server.Failures();
}

TEST(Replies, A120BeforeTheGreetingWaitsForThe220)
{
    FakeFtpServer server([&](FakeSession& s) {
        s.Reply("120 Service ready in 1 second");
        s.Reply("220 ready now");
        if (s.ReadLine().rfind("USER", 0) != 0)
            return server.Fail("expected USER");
        s.Reply("230 logged in");
        if (s.ReadLine() == "QUIT")
            s.Reply("221 bye");
    });
    RecordingClient ftp;
    ftp.Target(server.PortText());
    ASSERT_TRUE(ftp.Connect()) << ftp.Dialogue();
    EXPECT_TRUE(ftp.Displayed("< 120 Service ready in 1 second"));
    EXPECT_TRUE(ftp.Quit());
    EXPECT_TRUE(server.Failures().empty()) << server.Failures();
}

// --- requests that never started ------------------------------------------------

TEST(Requests, ARequestRefusedWithOnErrorAssignedFails)
{
    FakeFtpServer server([&](FakeSession& s) {
        Routine r(s);
        r.Finish();
    });
    RecordingClient ftp;
    std::vector<std::string> errors;
    ftp.OnError = [&](TCustomFtpCli*, std::string& msg) { errors.push_back(msg); };
    ftp.Target(server.PortText());
    ASSERT_TRUE(ftp.Connect()) << ftp.Dialogue();
    ftp.SetHostDirName("");
    EXPECT_FALSE(ftp.Cwd()) << "a refused request reported the previous one's success";
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "HostDirName emtpy");
    EXPECT_TRUE(ftp.Pwd());
    EXPECT_TRUE(ftp.Quit());
}

TEST(Requests, AnAbortDuringAChainsLookupLeavesNothingOfTheChain)
{
    std::string first;
    FakeFtpServer server([&](FakeSession& s) {
        s.Reply("220 ready");
        first = s.ReadLine();
        if (first == "PWD")
            s.Reply("257 \"/\" is current");
        if (s.ReadLine() == "QUIT")
            s.Reply("221 bye");
    });
    RecordingClient ftp;
    ftp.Target(server.PortText());
    // A name, not an address, so that the lookup takes a round through the
    // resolver.
    ftp.SetHostName("localhost");
    ftp.ConnectAsync();
    ASSERT_EQ(ftp.State(), ftpDnsLookup);
    ftp.AbortAsync();
    EXPECT_EQ(ftp.State(), ftpReady);

    ASSERT_TRUE(ftp.Open()) << ftp.Dialogue();
    EXPECT_EQ(ftp.done.back().request, ftpOpenAsync);
    EXPECT_TRUE(ftp.Pwd()) << ftp.Dialogue();
    EXPECT_TRUE(ftp.Quit());
    EXPECT_TRUE(server.Finished() || testsupport::WaitFor([&] { return server.Finished(); }, 5000));
    EXPECT_EQ(first, "PWD") << "the aborted chain went on: " << ftp.Dialogue();
}

} // namespace
