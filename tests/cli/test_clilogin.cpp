// tarvik-ftp against pyftpdlib: several files in one get/put/rm, an
// ftp:// URL as the host, credentials from ~/.netrc (in a HOME the test
// makes) and from a site stored in Accounts.dat.

#include "clitestutil.h"
#include "ftpservers.h"
#include "profiles/registryset.h"
#include "transfertestutil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace clitest;
using Kind = testsupport::FtpTestServer::Kind;

namespace {

class CliLogin : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string whyNot;
        server_ = ftptest::SharedServer(Kind::Pyftpdlib, &whyNot);
        if (!server_)
            GTEST_SKIP() << whyNot;
        env_ = CleanEnvironment(home_.Path());
    }

    QStringList WithLogin(const QStringList& command) const
    {
        return QStringList{"--port",     QString::fromStdString(server_->PortText()),
                           "--user",     QString::fromStdString(server_->User()),
                           "--password", QString::fromStdString(server_->Password()),
                           "--passive",  "127.0.0.1"} +
               command;
    }
    Result Run(const QStringList& args) const { return RunFtp(work_.Path(), args, env_); }
    std::string Remote(const std::string& name) const { return server_->Root() + "/" + name; }
    std::string Local(const std::string& name) const { return work_.Path() + "/" + name; }
    std::string Url(const std::string& userInfo, const std::string& path) const
    {
        return "ftp://" + userInfo + "127.0.0.1:" + server_->PortText() + "/" + path;
    }
    void WriteNetrc(const std::string& text, mode_t mode) const
    {
        const std::string path = home_.Path() + "/.netrc";
        WriteFile(path, text);
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    }

    testsupport::FtpTestServer* server_ = nullptr;
    transfertest::TempFolder home_;
    transfertest::TempFolder work_;
    QProcessEnvironment env_;
};

TEST_F(CliLogin, SeveralFilesInOneGetPutAndRm)
{
    WriteFile(Local("one.txt"), "1");
    WriteFile(Local("two.txt"), "22");
    WriteFile(Local("three.txt"), "333");
    Result r = Run(WithLogin({"put", "one.txt", "two.txt", "three.txt"}));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.rfind("3 files, 6 B (6 bytes) in ", 0), 0u) << r.out;
    EXPECT_EQ(ReadFile(Remote("three.txt")), "333");

    fs::create_directory(Local("into"));
    r = Run(WithLogin({"get", "one.txt", "two.txt", "into"}));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(Local("into/two.txt")), "22");
    EXPECT_NE(r.out.find("2 files, 3 B"), std::string::npos) << r.out;
    fs::remove_all(Local("into"));
    fs::create_directory(Local("into"));
    r = Run(WithLogin({"--cwd", "/", "get", "one.txt", "two.txt", "three.txt"}));
    ASSERT_EQ(r.exitCode, 0) << r.err;

    // A missing file fails alone; the others still go, and the exit status
    // says something failed.
    r = Run(WithLogin({"get", "one.txt", "missing.txt", "three.txt", "into"}));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("missing.txt"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("2 files, 4 B (4 bytes)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(", 1 failed"), std::string::npos) << r.out;
    EXPECT_EQ(ReadFile(Local("into/three.txt")), "333");
    r = Run(WithLogin({"put", "one.txt", "no-such-local.txt", "two.txt"}));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find(", 1 failed"), std::string::npos) << r.out;

    r = Run(WithLogin({"rm", "one.txt", "missing.txt", "two.txt"}));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("2 deleted"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1 failed"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(Remote("one.txt")));
    EXPECT_FALSE(fs::exists(Remote("two.txt")));
    r = Run(WithLogin({"rm", "three.txt"}));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(fs::exists(Remote("three.txt")));
}

TEST_F(CliLogin, FtpUrlGivesHostPortCredentialsAndPath)
{
    fs::create_directories(Remote("url dir"));
    WriteFile(Remote("url dir/file one.txt"), "from the url");
    const std::string user = server_->User() + ":" + server_->Password() + "@";
    Result r = Run({QString::fromStdString(Url(user, "url%20dir/file%20one.txt")), "get"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(Local("file one.txt")), "from the url");

    // A path ending in "/" is the folder to work in; the password from the
    // environment.
    QProcessEnvironment env = env_;
    env.insert("TARVIK_PASSWORD", QString::fromStdString(server_->Password()));
    r = RunFtp(work_.Path(), {QString::fromStdString(Url(server_->User() + "@", "url%20dir/")), "pwd"}, env);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "/url dir\n");

    r = Run({QString::fromStdString(Url(server_->User() + ":wrong@", "")), "pwd"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("530"), std::string::npos) << r.err;
    for (const char* bad : {"ftp://127.0.0.1:99999/", "ftp:///x", "ftp://h/%zz", "ftp://h/a%0Ab"}) {
        r = Run({bad, "pwd"});
        EXPECT_EQ(r.exitCode, 2) << bad;
    }
    fs::remove_all(Remote("url dir"));
}

TEST_F(CliLogin, NetrcIsUsedOnlyWhenPrivate)
{
    const QStringList pwd = {"--port", QString::fromStdString(server_->PortText()), "127.0.0.1", "pwd"};
    WriteNetrc("machine elsewhere login x password y\n"
               "machine 127.0.0.1\n  login " +
                   server_->User() + "\n  password \"" + server_->Password() +
                   "\"\nmacdef init\nquit\n\ndefault login anonymous password guest\n",
               0600);
    Result r = Run(pwd);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "/\n");
    // The login came from the file: writing is allowed (anonymous may not).
    WriteFile(Local("netrc-up.txt"), "n");
    r = Run({"--port", QString::fromStdString(server_->PortText()), "127.0.0.1", "put", "netrc-up.txt"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::exists(Remote("netrc-up.txt")));
    fs::remove(Remote("netrc-up.txt"));

    // Readable by others: refused with a clear message, nothing sent.
    WriteNetrc("machine 127.0.0.1 login " + server_->User() + " password " + server_->Password() + "\n", 0644);
    r = Run(pwd);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("chmod 600"), std::string::npos) << r.err;
    // Credentials on the command line do not need the file.
    r = Run(WithLogin({"pwd"}));
    EXPECT_EQ(r.exitCode, 0) << r.err;

    // A wrong password in the file is the server's to refuse.
    WriteNetrc("default login " + server_->User() + " password wrong\n", 0600);
    r = Run(pwd);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("530"), std::string::npos) << r.err;
}

TEST_F(CliLogin, StoredSiteFromAccountsDat)
{
    const std::string folder = home_.Path() + "/tarvik-home";
    fs::create_directories(folder);
    const TRegistrySet store(folder);
    store.SaveProfile("test site", false, "", "127.0.0.1", server_->User(), server_->Password(), server_->PortText(),
                      false, true, true);
    store.SaveProfile("guest", false, "", "127.0.0.1", "", "", server_->PortText(), true, true, true);
    QProcessEnvironment env = env_;
    env.insert("TARVIK_HOME", QString::fromStdString(folder));

    WriteFile(Local("site.txt"), "via the stored site");
    Result r = RunFtp(work_.Path(), {"--site", "test site", "put", "site.txt"}, env);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(Remote("site.txt")), "via the stored site");

    r = RunFtp(work_.Path(), {"--site", "test site", "mirror", "/", "whole"}, env);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(Local("whole/site.txt")), "via the stored site");

    // An anonymous profile reads but may not write.
    r = RunFtp(work_.Path(), {"--site", "guest", "get", "site.txt", "guest.txt"}, env);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    r = RunFtp(work_.Path(), {"--site", "guest", "put", "site.txt", "guest.txt"}, env);
    EXPECT_EQ(r.exitCode, 1);

    r = RunFtp(work_.Path(), {"--site", "no such site", "pwd"}, env);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("no such site"), std::string::npos) << r.err;
    r = RunFtp(work_.Path(), {"--site", "test site", QString::fromStdString(Url("", "")), "pwd"}, env);
    EXPECT_EQ(r.exitCode, 2);
    fs::remove(Remote("site.txt"));
}

} // namespace
