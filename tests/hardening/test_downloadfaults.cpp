// Downloads cut off in the middle of the stream, against the scripted fault
// server and against a real pyftpdlib server that breaks its data
// connection on purpose: the request fails, the bytes already received stay
// in the local file, and a resume afterwards gives the remote file exactly.

#include "support/ftpfakeserver.h"
#include "support/ftpserver.h"
#include "support/ftptestutil.h"
#include "support/scriptedftp.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace ftptest;
using testsupport::FtpTestServer;

namespace {

struct CutCase {
    Cut cut;
    bool passive;
    const char* name;
};

std::string CaseName(const ::testing::TestParamInfo<CutCase>& info)
{
    return std::string(info.param.name) + (info.param.passive ? "Passive" : "Active");
}

// The state a broken download must leave: an error, no half-open request,
// and a local file holding a prefix of the remote one.
void ExpectKeptPrefix(RecordingClient& ftp, const std::string& local, const std::string& remote)
{
    EXPECT_EQ(ftp.State(), ftpReady);
    const std::string partial = ReadFile(local);
    EXPECT_GT(partial.size(), 0u) << "the bytes received were lost";
    EXPECT_LT(partial.size(), remote.size());
    EXPECT_TRUE(partial == remote.substr(0, partial.size())) << "the kept bytes are not the remote ones";
}

bool SentRest(const std::vector<std::string>& commands, std::size_t offset)
{
    return std::find(commands.begin(), commands.end(), "REST " + std::to_string(offset)) != commands.end();
}

class ScriptedDownloadCut : public ::testing::TestWithParam<CutCase> {};

TEST_P(ScriptedDownloadCut, FailsKeepsTheBytesAndResumesToTheRemoteFile)
{
    const CutCase c = GetParam();
    const std::string remote = RandomBytes(600 * 1024, 11);
    ScriptedFtp ftpd(remote, c.cut);
    FakeFtpServer server([&](FakeSession& s) { ftpd.Serve(s, server); }, 2);
    RecordingClient ftp;
    ftp.Target(server.PortText());
    ftp.SetPassive(c.passive);
    ftp.SetTimeout(c.cut == Cut::Stall ? 1 : 20);
    TempDir dir;
    const std::string local = dir.File("f.bin");

    ASSERT_TRUE(ftp.Connect()) << ftp.Dialogue();
    ftp.SetHostFileName("f.bin");
    ftp.SetLocalFileName(local);
    EXPECT_FALSE(ftp.Get()) << ftp.Dialogue();
    // After a time-out the completion of the abandoned request comes from
    // the event loop, after the wrapper returned.
    EXPECT_TRUE(ftp.WaitDone(2, 5000));
    ASSERT_EQ(ftp.done.size(), 2u);
    EXPECT_NE(ftp.done.back().error, 0) << ftp.Dialogue();
    EXPECT_FALSE(ftp.ErrorMessage().empty());
    ExpectKeptPrefix(ftp, local, remote);
    const std::size_t kept = ReadFile(local).size();

    if (c.cut == Cut::Stall) {
        EXPECT_EQ(ftp.ErrorMessage(), "426 Timeout");
        EXPECT_EQ(ftp.ControlSocket()->State(), wsClosed);
        EXPECT_EQ(ftp.DataSocket()->State(), wsClosed);
    }
    // A server that answered 426 keeps the session; one that went away or
    // was given up on needs a new one.
    if (c.cut == Cut::ResetThen426 || c.cut == Cut::CloseThen426) {
        EXPECT_TRUE(ftp.Connected()) << ftp.Dialogue();
    }
    if (!ftp.Connected()) {
        ASSERT_TRUE(ftp.Connect()) << ftp.Dialogue();
    }

    ftp.SetResumeAt(0);
    EXPECT_TRUE(ftp.RestGet()) << ftp.Dialogue();
    EXPECT_TRUE(ReadFile(local) == remote) << "the resumed file differs from the remote one";
    EXPECT_TRUE(SentRest(ftpd.Commands(), kept)) << "no REST " << kept;
    // QUIT on a session that follows one the server dropped.
    EXPECT_TRUE(ftp.Quit()) << ftp.Dialogue();
    if (c.cut == Cut::Stall) {
        EXPECT_TRUE(ftpd.ControlClosedAfterStall());
    }
    if (c.cut == Cut::Stall || c.cut == Cut::ResetControl) {
        EXPECT_TRUE(ftpd.DataClosedAfterStall()) << "the data connection was left open";
    }
    EXPECT_TRUE(server.Failures().empty()) << server.Failures();
}

INSTANTIATE_TEST_SUITE_P(
    Cuts, ScriptedDownloadCut,
    ::testing::Values(CutCase{Cut::ResetThen426, true, "Reset"}, CutCase{Cut::ResetThen426, false, "Reset"},
                      CutCase{Cut::CloseThen426, true, "Close426"}, CutCase{Cut::CloseThen426, false, "Close426"},
                      CutCase{Cut::CloseThenDrop, true, "CloseAndDrop"},
                      CutCase{Cut::CloseThenDrop, false, "CloseAndDrop"}, CutCase{Cut::Stall, true, "Stall"},
                      CutCase{Cut::Stall, false, "Stall"}, CutCase{Cut::ResetControl, true, "ControlReset"},
                      CutCase{Cut::ResetControl, false, "ControlReset"}),
    CaseName);

// --- the same against a real server -------------------------------------------

class FaultyServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        server_ = FtpTestServer::Start(FtpTestServer::Kind::FaultyPyftpdlib, &whyNot_).release();
    }
    static void TearDownTestSuite()
    {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override
    {
        if (!server_)
            GTEST_SKIP() << "no pyftpdlib here: " << whyNot_;
        ftp.Target(server_->PortText(), server_->User(), server_->Password());
    }

    static FtpTestServer* server_;
    static std::string whyNot_;
    RecordingClient ftp;
    TempDir dir;
};

FtpTestServer* FaultyServerTest::server_ = nullptr;
std::string FaultyServerTest::whyNot_;

struct RealCutCase {
    const char* prefix;
    bool passive;
};

class RealDownloadCut : public FaultyServerTest, public ::testing::WithParamInterface<RealCutCase> {};

TEST_P(RealDownloadCut, FailsKeepsTheBytesAndResumesToTheRemoteFile)
{
    const RealCutCase c = GetParam();
    const bool stall = std::string(c.prefix) == "stall";
    const std::string name = std::string(c.prefix) + "-" + (c.passive ? "pasv" : "port") + ".bin";
    const std::string remote = RandomBytes(1024 * 1024, 23);
    WriteFile(server_->Root() + "/" + name, remote);
    const std::string local = dir.File(name);
    ftp.SetPassive(c.passive);
    ftp.SetTimeout(stall ? 1 : 20);

    ASSERT_TRUE(ftp.Connect()) << ftp.Dialogue();
    ASSERT_TRUE(ftp.TypeBinary());
    ftp.SetHostFileName(name);
    ftp.SetLocalFileName(local);
    EXPECT_FALSE(ftp.Get()) << ftp.Dialogue();
    EXPECT_FALSE(ftp.ErrorMessage().empty());
    ExpectKeptPrefix(ftp, local, remote);
    EXPECT_LE(ReadFile(local).size(), std::size_t(FtpTestServer::FaultAfter));
    if (stall) {
        EXPECT_EQ(ftp.ErrorMessage(), "426 Timeout");
        EXPECT_EQ(ftp.ControlSocket()->State(), wsClosed);
        EXPECT_EQ(ftp.DataSocket()->State(), wsClosed);
    }

    if (!ftp.Connected()) {
        ASSERT_TRUE(ftp.Connect()) << ftp.Dialogue();
        ASSERT_TRUE(ftp.TypeBinary());
    }
    ftp.SetTimeout(20);
    EXPECT_TRUE(ftp.RestGet()) << ftp.Dialogue();
    EXPECT_TRUE(ReadFile(local) == remote) << "the resumed file differs from the remote one";
    EXPECT_TRUE(ftp.Quit()) << ftp.Dialogue();
}

INSTANTIATE_TEST_SUITE_P(Pyftpdlib, RealDownloadCut,
                         ::testing::Values(RealCutCase{"reset", true}, RealCutCase{"reset", false},
                                           RealCutCase{"close", true}, RealCutCase{"close", false},
                                           RealCutCase{"drop", true}, RealCutCase{"drop", false},
                                           RealCutCase{"stall", true}, RealCutCase{"stall", false}),
                         [](const ::testing::TestParamInfo<RealCutCase>& info) {
                             return std::string(info.param.prefix) + (info.param.passive ? "Passive" : "Active");
                         });

TEST_F(FaultyServerTest, UploadWhoseDataConnectionIsResetFailsAndTheSessionGoesOn)
{
    for (const bool passive : {true, false}) {
        SCOPED_TRACE(passive ? "passive" : "active");
        const std::string name = std::string("reset-up-") + (passive ? "pasv" : "port") + ".bin";
        const std::string content = RandomBytes(8 * 1024 * 1024, passive ? 5 : 6);
        const std::string local = dir.File(name);
        WriteFile(local, content);
        ftp.SetPassive(passive);
        ASSERT_TRUE(ftp.Connect()) << ftp.Dialogue();
        ASSERT_TRUE(ftp.TypeBinary());
        ftp.SetHostFileName(name);
        ftp.SetLocalFileName(local);
        EXPECT_FALSE(ftp.Put()) << ftp.Dialogue();
        ASSERT_FALSE(ftp.done.empty());
        EXPECT_NE(ftp.done.back().error, 0);
        EXPECT_EQ(ftp.State(), ftpReady);

        EXPECT_TRUE(ftp.Connected()) << ftp.Dialogue();
        EXPECT_TRUE(ftp.Pwd()) << ftp.Dialogue();
        EXPECT_TRUE(ftp.Put()) << ftp.Dialogue();
        EXPECT_TRUE(ReadFile(server_->Root() + "/" + name) == content) << "the second upload is not the local file";
        EXPECT_TRUE(ftp.Quit()) << ftp.Dialogue();
    }
}

} // namespace
