// tarvik-ftp, the program, against a real pyftpdlib server.

#include "clitestutil.h"
#include "support/ftpserver.h"

#include <QProcessEnvironment>
#include <QStringList>

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

using namespace clitest;

namespace {

class CliTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        std::string why;
        server_ = testsupport::FtpTestServer::Start(testsupport::FtpTestServer::Kind::Pyftpdlib, &why).release();
        whyNot_ = why;
    }
    static void TearDownTestSuite()
    {
        delete server_;
        server_ = nullptr;
    }

    void SetUp() override
    {
        if (!server_)
            GTEST_SKIP() << "pyftpdlib not available: " << whyNot_;
        ASSERT_FALSE(local_.Path().empty());
    }

    // Runs tarvik-ftp with the server's port and credentials first.
    Result Run(const QStringList& args, bool login = true, const QProcessEnvironment& env = {})
    {
        QStringList all = {"--port", QString::number(server_->Port()), "--timeout", "30"};
        if (login)
            all << "--user" << QString::fromStdString(server_->User()) << "--password"
                << QString::fromStdString(server_->Password());
        all << args;
        all.insert(all.size() - args.size(), "127.0.0.1");
        return Exec(all, env);
    }

    Result Exec(const QStringList& args, const QProcessEnvironment& env = {})
    {
        return RunFtp(local_.Path(), args, env);
    }

    std::string Remote(const std::string& name) const { return server_->Root() + "/" + name; }
    std::string Local(const std::string& name) const { return local_.File(name); }

    static testsupport::FtpTestServer* server_;
    static std::string whyNot_;
    TempDir local_;
};

testsupport::FtpTestServer* CliTest::server_ = nullptr;
std::string CliTest::whyNot_;

TEST_F(CliTest, PutAndGetRoundTripInBothModes)
{
    const std::string bytes = RandomBytes(700000, 1);
    WriteFile(Local("up.bin"), bytes);
    for (const bool passive : {false, true}) {
        QStringList mode;
        if (passive)
            mode << "--passive";
        Result r = Run(mode + QStringList{"put", "up.bin", "cli-rt.bin"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(ReadFile(Remote("cli-rt.bin")), bytes);
        r = Run(mode + QStringList{"get", "cli-rt.bin", "down.bin"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(ReadFile(Local("down.bin")), bytes);
        fs::remove(Local("down.bin"));
    }
    // The local name defaults to the remote base name.
    Result r = Run({"get", "cli-rt.bin"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(Local("cli-rt.bin")), bytes);
    fs::remove(Remote("cli-rt.bin"));
}

TEST_F(CliTest, RegetContinuesAPartialFileAndAppendExtends)
{
    const std::string bytes = RandomBytes(300000, 2);
    WriteFile(Remote("cli-re.bin"), bytes);
    WriteFile(Local("cli-re.bin"), bytes.substr(0, 123456));
    Result r = Run({"--verbose", "reget", "cli-re.bin"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(Local("cli-re.bin")), bytes);
    EXPECT_NE(r.err.find("> REST 123456"), std::string::npos) << r.err;

    WriteFile(Local("tail.bin"), "tail");
    r = Run({"append", "tail.bin", "cli-re.bin"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(Remote("cli-re.bin")), bytes + "tail");
    fs::remove(Remote("cli-re.bin"));
}

TEST_F(CliTest, FolderAndFileCommands)
{
    Result r = Run({"mkdir", "cli-dir"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::is_directory(Remote("cli-dir")));

    WriteFile(Remote("cli-dir/a.txt"), "12345");
    r = Run({"--cwd", "cli-dir", "size", "a.txt"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "5\n");

    r = Run({"--cwd", "cli-dir", "pwd"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "/cli-dir\n");

    r = Run({"--cwd", "cli-dir", "mv", "a.txt", "b.txt"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::exists(Remote("cli-dir/b.txt")));

    r = Run({"ls", "cli-dir"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("b.txt"), std::string::npos) << r.out;
    r = Run({"--passive", "nlst", "cli-dir"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("b.txt"), std::string::npos) << r.out;

    r = Run({"rm", "cli-dir/b.txt"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(fs::exists(Remote("cli-dir/b.txt")));
    r = Run({"rmdir", "cli-dir"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(fs::exists(Remote("cli-dir")));

    r = Run({"quote", "HELP", "SITE"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, 3), "214");
}

TEST_F(CliTest, FailuresExitNonZeroWithTheReply)
{
    Result r = Run({"get", "no-such-file"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("550"), std::string::npos) << r.err;

    r = Run({"size", "no-such-file"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.empty());

    r = Exec(
        {"--port", QString::number(server_->Port()), "--user", "tarvik", "--password", "wrong", "127.0.0.1", "pwd"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("530"), std::string::npos) << r.err;

    r = Run({"put", "missing-local-file"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("missing-local-file"), std::string::npos) << r.err;

    r = Exec({"127.0.0.1", "frobnicate"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("unknown command"), std::string::npos);
    r = Exec({"127.0.0.1", "get"});
    EXPECT_EQ(r.exitCode, 2);
    r = Exec({"--port", "99999", "127.0.0.1", "pwd"});
    EXPECT_EQ(r.exitCode, 2);

    r = Exec({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("TARVIK_PASSWORD"), std::string::npos);
}

TEST_F(CliTest, ATransferThatFailsLocallyExitsOneWithTheReason)
{
    // A full disk: the server says 226, the file did not arrive.
    WriteFile(Remote("cli-full.bin"), RandomBytes(200000, 3));
    for (const char* mode : {"--passive", "--ascii"}) {
        Result r = Run({mode, "get", "cli-full.bin", "/dev/full"});
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_EQ(r.err, "tarvik-ftp: Error writing local file: No space left on device\n");
    }
    // A refused download leaves an existing local file as it was.
    WriteFile(Local("keep.txt"), "keep me");
    Result r = Run({"get", "no-such-file", "keep.txt"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(ReadFile(Local("keep.txt")), "keep me");
    r = Run({"get", "no-such-file", "new.txt"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(fs::exists(Local("new.txt")));
    fs::remove(Remote("cli-full.bin"));
}

TEST_F(CliTest, ControlCharactersFromTheServerAreShownEscaped)
{
    const std::string evil = std::string("evil\x1b]0;pwned\x07name.txt");
    WriteFile(Remote(evil), "x");
    Result r = Run({"--passive", "nlst"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << "an escape sequence reached the terminal";
    EXPECT_NE(r.out.find("evil\\x1b]0;pwned\\x07name.txt\r\n"), std::string::npos) << r.out;
    r = Run({"--passive", "--raw", "nlst"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find(evil + "\r\n"), std::string::npos) << "--raw changed the names";

    // Errors and the dialogue are made visible too.
    r = Run({"--verbose", "get", QString::fromStdString(evil)});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << r.err;
    r = Run({"rm", "no-such\x1b[2J"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << r.err;
    fs::remove(Remote(evil));
}

TEST_F(CliTest, PasswordFromTheEnvironmentAndAnonymousLogin)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TARVIK_PASSWORD", QString::fromStdString(server_->Password()));
    Result r = Exec({"--port", QString::number(server_->Port()), "--user", QString::fromStdString(server_->User()),
                     "--verbose", "127.0.0.1", "pwd"},
                    env);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("> PASS ********"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(server_->Password()), std::string::npos) << r.err;

    // Without a user: anonymous, who may read but not write.
    WriteFile(Remote("cli-anon.txt"), "public");
    r = Run({"--verbose", "get", "cli-anon.txt"}, false);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("> USER anonymous"), std::string::npos);
    EXPECT_EQ(ReadFile(Local("cli-anon.txt")), "public");
    r = Run({"put", "cli-anon.txt", "anon-upload.txt"}, false);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(fs::exists(Remote("anon-upload.txt")));
    fs::remove(Remote("cli-anon.txt"));
}

} // namespace
