// Elementary requests and chained operations against real servers.

#include "support/ftpservers.h"
#include "support/ftptestutil.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace ftptest;
namespace fs = std::filesystem;

namespace {

class FtpCommands : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override
    {
        std::string why;
        server = SharedServer(GetParam(), &why);
        if (!server)
            GTEST_SKIP() << "no " << KindName(GetParam()) << " server here: " << why;
        ftp.Target(server->PortText(), server->User(), server->Password());
        // Each test works in a folder of its own on the server.
        const TestFolder folder = MakeTestFolder(*server, "t_");
        dirName = folder.name;
        dirPath = folder.path;
    }

    void TearDown() override
    {
        if (ftp.Connected())
            ftp.Abort();
    }

    void ConnectInto()
    {
        ASSERT_TRUE(ftp.Connect()) << ftp.ErrorMessage() << "\n" << ftp.Dialogue();
        ftp.SetHostDirName(dirName);
        ASSERT_TRUE(ftp.Cwd()) << ftp.ErrorMessage();
    }

    void PutServerFile(const std::string& name, const std::string& bytes)
    {
        ftptest::PutServerFile(*server, {dirName, dirPath}, name, bytes);
    }

    testsupport::FtpTestServer* server = nullptr;
    RecordingClient ftp;
    TempDir local;
    std::string dirName;
    std::string dirPath;
};

TEST_P(FtpCommands, LoginSucceedsAndHidesThePassword)
{
    ASSERT_TRUE(ftp.Connect()) << ftp.ErrorMessage();
    EXPECT_EQ(ftp.State(), ftpReady);
    EXPECT_TRUE(ftp.Connected());
    EXPECT_EQ(ftp.StatusCode(), 230);
    EXPECT_EQ(ftp.DnsResult(), "127.0.0.1");
    ASSERT_FALSE(ftp.done.empty());
    EXPECT_EQ(ftp.done.back().request, ftpConnectAsync);
    EXPECT_EQ(ftp.done.back().error, 0);
    EXPECT_TRUE(ftp.Displayed("> PASS ********"));
    EXPECT_EQ(ftp.Dialogue().find(server->Password()), std::string::npos) << ftp.Dialogue();
    // Greeting lines are displayed while waiting for the banner.
    EXPECT_TRUE(ftp.Displayed("< 220", true));
}

TEST_P(FtpCommands, WrongPasswordFailsWith530AndKeepsTheReply)
{
    ftp.SetPassWord("wrong-password");
    EXPECT_FALSE(ftp.Connect());
    EXPECT_EQ(ftp.StatusCode(), 530);
    EXPECT_EQ(ftp.ErrorMessage().substr(0, 3), "530");
    ASSERT_FALSE(ftp.done.empty());
    EXPECT_EQ(ftp.done.back().error, 530);
    EXPECT_EQ(ftp.State(), ftpReady);
}

TEST_P(FtpCommands, SystReportsTheSystem)
{
    ASSERT_TRUE(ftp.Connect());
    ASSERT_TRUE(ftp.Syst());
    EXPECT_EQ(ftp.StatusCode(), 215);
    EXPECT_NE(ftp.LastResponse().find("UNIX"), std::string::npos);
    EXPECT_EQ(ftp.done.back().request, ftpSystAsync);
}

TEST_P(FtpCommands, DirectoryNamesWithQuotesSurviveMkdCwdPwdCdup)
{
    ConnectInto();
    const std::string weird = "we\"ird dir";
    ftp.SetHostFileName(weird);
    ASSERT_TRUE(ftp.Mkd()) << ftp.ErrorMessage();
    EXPECT_EQ(ftp.StatusCode(), 257);
    EXPECT_NE(ftp.DirResult().find(weird), std::string::npos) << ftp.DirResult();
    EXPECT_TRUE(fs::is_directory(dirPath + "/" + weird));

    ftp.SetHostDirName(weird);
    ASSERT_TRUE(ftp.Cwd()) << ftp.ErrorMessage();
    ASSERT_TRUE(ftp.Pwd());
    // vsftpd shows the local path (no chroot), pyftpdlib its virtual one.
    EXPECT_TRUE(ftp.DirResult().ends_with("/" + dirName + "/" + weird)) << ftp.DirResult();
    EXPECT_EQ(ftp.done.back().request, ftpPwdAsync);

    ASSERT_TRUE(ftp.CDup()) << ftp.ErrorMessage();
    ASSERT_TRUE(ftp.Pwd());
    EXPECT_TRUE(ftp.DirResult().ends_with("/" + dirName)) << ftp.DirResult();

    ftp.SetHostFileName(weird);
    ASSERT_TRUE(ftp.Rmd()) << ftp.ErrorMessage();
    EXPECT_FALSE(fs::exists(dirPath + "/" + weird));
}

TEST_P(FtpCommands, CwdToAMissingFolderFails)
{
    ConnectInto();
    ftp.SetHostDirName("no-such-folder");
    EXPECT_FALSE(ftp.Cwd());
    EXPECT_EQ(ftp.StatusCode(), 550);
    EXPECT_EQ(ftp.done.back().error, 550);
    // The session is still usable.
    EXPECT_TRUE(ftp.Pwd());
}

TEST_P(FtpCommands, DeleRenameAndSize)
{
    ConnectInto();
    PutServerFile("a.bin", std::string(12345, 'x'));

    ftp.SetHostFileName("a.bin");
    ASSERT_TRUE(ftp.Size());
    EXPECT_EQ(ftp.SizeResult(), 12345);
    EXPECT_EQ(ftp.done.back().request, ftpSizeAsync);

    ftp.SetHostFileName("a.bin");
    ftp.SetLocalFileName("b.bin");
    ASSERT_TRUE(ftp.Ren()) << ftp.ErrorMessage();
    EXPECT_EQ(ftp.done.back().request, ftpRenAsync);
    EXPECT_TRUE(fs::exists(dirPath + "/b.bin"));
    EXPECT_FALSE(fs::exists(dirPath + "/a.bin"));

    ftp.SetHostFileName("a.bin");
    EXPECT_FALSE(ftp.Size());
    EXPECT_EQ(ftp.SizeResult(), 0);

    ftp.SetHostFileName("b.bin");
    ASSERT_TRUE(ftp.Dele()) << ftp.ErrorMessage();
    EXPECT_FALSE(fs::exists(dirPath + "/b.bin"));
    EXPECT_FALSE(ftp.Dele());
    EXPECT_EQ(ftp.StatusCode(), 550);
}

TEST_P(FtpCommands, QuoteSendsTheLineAsItIs)
{
    ConnectInto();
    ftp.SetLocalFileName("NOOP");
    ASSERT_TRUE(ftp.Quote());
    EXPECT_EQ(ftp.StatusCode(), 200);
    ftp.SetLocalFileName("XYZZY");
    EXPECT_FALSE(ftp.Quote());
    EXPECT_GE(ftp.StatusCode(), 500);
}

TEST_P(FtpCommands, ChainsWithTheirOwnConnectionEndWithQuit)
{
    PutServerFile("f.txt", "hello\r\n");
    ftp.SetHostDirName(dirName);

    ftp.SetHostFileName("f.txt");
    ASSERT_TRUE(ftp.FileSize()) << ftp.ErrorMessage();
    EXPECT_EQ(ftp.SizeResult(), 7);
    EXPECT_EQ(ftp.done.back().request, ftpSizeAsync);
    EXPECT_FALSE(ftp.Connected());
    // The reply of the last real step, not QUIT's.
    EXPECT_EQ(ftp.StatusCode(), 213);
    EXPECT_EQ(ftp.Commands().back(), "QUIT");

    ASSERT_TRUE(ftp.System());
    EXPECT_EQ(ftp.done.back().request, ftpSystemAsync);
    EXPECT_EQ(ftp.StatusCode(), 215);

    ftp.SetHostFileName("sub");
    ASSERT_TRUE(ftp.Mkdir()) << ftp.ErrorMessage();
    EXPECT_EQ(ftp.done.back().request, ftpMkdirAsync);
    EXPECT_TRUE(fs::is_directory(dirPath + "/sub"));
    ASSERT_TRUE(ftp.Rmdir());
    EXPECT_EQ(ftp.done.back().request, ftpRmdirAsync);
    EXPECT_FALSE(fs::exists(dirPath + "/sub"));

    ftp.SetHostFileName("f.txt");
    ftp.SetLocalFileName("g.txt");
    ASSERT_TRUE(ftp.Rename());
    EXPECT_EQ(ftp.done.back().request, ftpRenameAsync);
    EXPECT_TRUE(fs::exists(dirPath + "/g.txt"));

    ftp.SetLocalFileName("NOOP");
    ASSERT_TRUE(ftp.DoQuote());
    EXPECT_EQ(ftp.done.back().request, ftpDoQuoteAsync);

    ftp.SetHostFileName("g.txt");
    ASSERT_TRUE(ftp.Delete());
    EXPECT_EQ(ftp.done.back().request, ftpDeleteAsync);
    EXPECT_FALSE(fs::exists(dirPath + "/g.txt"));

    // The whole dialogue of one chain, in the order on the wire.
    ftp.display.clear();
    ftp.SetHostFileName("x");
    ASSERT_TRUE(ftp.Mkdir());
    // FEAT follows the login, and OPTS UTF8 ON when it listed UTF8.
    std::vector<std::string> expected = {"USER " + server->User(), "PASS ********", "FEAT"};
    if (ftp.Features().Utf8)
        expected.push_back("OPTS UTF8 ON");
    for (const char* c : {"CWD ", "MKD x", "QUIT"})
        expected.push_back(std::string(c) == "CWD " ? c + dirName : c);
    EXPECT_EQ(ftp.Commands(), expected);
}

TEST_P(FtpCommands, AFailingStepEndsTheChainAndLeavesTheConnectionOpen)
{
    ftp.SetHostDirName(dirName);
    ftp.SetHostFileName("missing");
    EXPECT_FALSE(ftp.Delete());
    ASSERT_FALSE(ftp.done.empty()) << ftp.ErrorMessage() << "\n" << ftp.Dialogue();
    EXPECT_EQ(ftp.done.back().request, ftpDeleteAsync);
    EXPECT_EQ(ftp.done.back().error, 550);
    EXPECT_TRUE(ftp.Connected());
    ASSERT_FALSE(ftp.Commands().empty());
    EXPECT_NE(ftp.Commands().back(), "QUIT");
    EXPECT_EQ(ftp.ErrorMessage().substr(0, 3), "550");
    // A chain that opens a connection is refused while one is open.
    EXPECT_FALSE(ftp.Delete());
    bool raised = false;
    try {
        ftp.DeleteAsync();
    } catch (const FtpException& e) {
        raised = true;
        EXPECT_STREQ(e.what(), "FTP component already connected");
    }
    EXPECT_TRUE(raised);
    EXPECT_TRUE(ftp.Quit());
    EXPECT_FALSE(ftp.Connected());
    EXPECT_EQ(ftp.done.back().request, ftpQuitAsync);
}

TEST_P(FtpCommands, RefusalsWhenNotReadyNotConnectedOrAlreadyConnected)
{
    // Not connected: the wrapper swallows the refusal and returns false.
    EXPECT_FALSE(ftp.Pwd());
    std::string refused;
    ftp.OnError = [&](TCustomFtpCli*, std::string& msg) { refused = msg; };
    ftp.PwdAsync();
    EXPECT_EQ(refused, "FTP component not connected");
    ftp.SetHostDirName("");
    ftp.OnError = nullptr;

    ASSERT_TRUE(ftp.Connect());
    EXPECT_THROW(ftp.OpenAsync(), FtpException);
    try {
        ftp.ConnectAsync();
        FAIL() << "no refusal";
    } catch (const FtpException& e) {
        EXPECT_STREQ(e.what(), "FTP component already connected");
    }

    const std::size_t before = ftp.done.size();
    ftp.PwdAsync();
    try {
        ftp.SystAsync();
        FAIL() << "no refusal";
    } catch (const FtpException& e) {
        EXPECT_STREQ(e.what(), "FTP component not ready");
    }
    ASSERT_TRUE(ftp.WaitDone(before + 1));
    EXPECT_EQ(ftp.done.back().request, ftpPwdAsync);

    try {
        ftp.CwdAsync();
        FAIL() << "no refusal";
    } catch (const FtpException& e) {
        EXPECT_STREQ(e.what(), "HostDirName emtpy");
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpCommands, ::testing::Values(Kind::Pyftpdlib, Kind::Vsftpd),
                         [](const auto& info) { return KindName(info.param); });

} // namespace
