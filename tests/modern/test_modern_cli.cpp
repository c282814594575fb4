// tarvik-ftp's mls, --no-preserve and IPv6 hosts, run as a program against
// pyftpdlib listening on ::1.

#include "support/ftpserver.h"

#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <utime.h>

namespace fs = std::filesystem;

namespace {

struct Result {
    int exitCode = -1;
    std::string out;
    std::string err;
};

class ModernCli : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why;
        server = testsupport::FtpTestServer::Start(testsupport::FtpTestServer::Kind::Pyftpdlib, &why, "::1");
        if (!server)
            GTEST_SKIP() << "pyftpdlib on ::1 not available: " << why;
        char pattern[] = "/tmp/tarvik-mcli-XXXXXX";
        local = ::mkdtemp(pattern);
    }
    void TearDown() override
    {
        if (!local.empty())
            fs::remove_all(local);
    }

    Result Run(const QStringList& args)
    {
        QProcess p;
        p.setWorkingDirectory(QString::fromStdString(local));
        QStringList all = {"--user", QString::fromStdString(server->User()), "--password",
                           QString::fromStdString(server->Password())};
        all += args;
        p.start(TARVIK_FTP_PROGRAM, all);
        p.waitForFinished(60000);
        return {p.exitCode(), p.readAllStandardOutput().toStdString(), p.readAllStandardError().toStdString()};
    }

    std::unique_ptr<testsupport::FtpTestServer> server;
    std::string local;
};

void Write(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

std::int64_t ModifiedAt(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? std::int64_t(st.st_mtim.tv_sec) : -1;
}

TEST_F(ModernCli, MlsPrintsOneLineOfFactsPerEntryOverIpv6)
{
    Write(server->Root() + "/M\xC3\xBCller \xC3\x9C"
                           "bersicht.txt",
          "12345");
    fs::create_directory(server->Root() + "/with space");
    Write(server->Root() + "/with space/inner.txt", "abc");

    const Result r = Run({"--port", QString::number(server->Port()), "::1", "mls"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("type=file;"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("size=5;"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("; M\xC3\xBCller \xC3\x9C"
                         "bersicht.txt\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("type=dir;"), std::string::npos) << r.out;

    const QString bracketed = QString("[::1]:%1").arg(server->Port());
    const Result inner = Run({bracketed, "mls", "with space"});
    ASSERT_EQ(inner.exitCode, 0) << inner.err;
    EXPECT_NE(inner.out.find("size=3;"), std::string::npos) << inner.out;
    EXPECT_NE(inner.out.find(" inner.txt\n"), std::string::npos) << inner.out;

    const Result ls = Run({"[::1]", "--port", QString::number(server->Port()), "ls", "with space"});
    ASSERT_EQ(ls.exitCode, 0) << ls.err;
    EXPECT_NE(ls.out.find("inner.txt"), std::string::npos) << ls.out;
}

TEST_F(ModernCli, GetKeepsTheServerTimeUnlessToldNotTo)
{
    Write(server->Root() + "/t.txt", "time");
    const utimbuf times{1234567890, 1234567890};
    ::utime((server->Root() + "/t.txt").c_str(), &times);
    const QString port = QString::number(server->Port());

    Result r = Run({"--port", port, "::1", "get", "t.txt", "kept.txt"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ModifiedAt(local + "/kept.txt"), 1234567890);

    r = Run({"--no-preserve", "--port", port, "::1", "get", "t.txt", "fresh.txt"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(ModifiedAt(local + "/fresh.txt"), 1234567890);
}

TEST_F(ModernCli, ABadBracketedHostIsAUsageError)
{
    const Result r = Run({"[::1", "ls"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("invalid host"), std::string::npos) << r.err;
}

} // namespace
