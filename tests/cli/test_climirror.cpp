// tarvik-ftp mirror, the program, against pyftpdlib, vsftpd and the fault
// server: round trips compared byte for byte, --delete, --only-newer,
// broken data connections, and failures that must end with exit status 1.

#include "clitestutil.h"
#include "ftpservers.h"
#include "transfertestutil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <utime.h>

namespace fs = std::filesystem;
using namespace clitest;
using namespace transfertest;
using Kind = testsupport::FtpTestServer::Kind;

namespace {

QStringList Login(const std::string& port, const std::string& user, const std::string& password)
{
    return {"--port",     QString::fromStdString(port),
            "--user",     QString::fromStdString(user),
            "--password", QString::fromStdString(password),
            "--passive",  "--timeout",
            "20",         "127.0.0.1",
            "mirror"};
}

QStringList Login(const testsupport::FtpTestServer& server)
{
    return Login(server.PortText(), server.User(), server.Password());
}

void SetAge(const std::string& path, int secondsAgo)
{
    const std::time_t when = std::time(nullptr) - secondsAgo;
    const utimbuf times{when, when};
    ASSERT_EQ(::utime(path.c_str(), &times), 0) << path;
}

class MirrorRoundTrip : public ::testing::TestWithParam<std::tuple<Kind, int>> {};

TEST_P(MirrorRoundTrip, ReverseThenForwardGivesIdenticalTrees)
{
    const auto [kind, parallel] = GetParam();
    std::string whyNot;
    testsupport::FtpTestServer* server = ftptest::SharedServer(kind, &whyNot);
    if (!server)
        GTEST_SKIP() << whyNot;
    TempFolder work;
    TreeShape shape;
    shape.Folders = 12;
    shape.Files = 90;
    shape.Big = 2 * 1024 * 1024;
    shape.Medium = 700 * 1024;
    MakeTree(work.Path() + "/source", shape);
    const std::string area = "rt" + std::to_string(parallel);
    fs::create_directory(server->Root() + "/" + area);
    server->Share(server->Root() + "/" + area);
    const QString count = QString::number(parallel);

    // Up into a folder that does not exist yet, named relative to the login
    // folder.
    Result r = RunFtp(work.Path(), Login(*server)
                                       << "--reverse"
                                       << "--parallel" << count << QString::fromStdString(area + "/tree") << "source");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("90 files"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(", 0 failed"), std::string::npos) << r.out;
    EXPECT_EQ(CompareTrees(work.Path() + "/source", server->Root() + "/" + area + "/tree"), "");

    // And down again into a new local folder.
    r = RunFtp(work.Path(), Login(*server)
                                << "--parallel" << count << QString::fromStdString(area + "/tree") << "copy");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("90 files"), std::string::npos) << r.out;
    EXPECT_EQ(CompareTrees(work.Path() + "/source", work.Path() + "/copy"), "");
    fs::remove_all(server->Root() + "/" + area);
}

std::string ParamName(const ::testing::TestParamInfo<std::tuple<Kind, int>>& info)
{
    return ftptest::KindName(std::get<0>(info.param)) + "_parallel_" + std::to_string(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(Servers, MirrorRoundTrip,
                         ::testing::Combine(::testing::Values(Kind::Pyftpdlib, Kind::Vsftpd), ::testing::Values(1, 4)),
                         ParamName);

TEST(Mirror, OnlyNewerAndDeleteInBothDirections)
{
    std::string whyNot;
    testsupport::FtpTestServer* server = ftptest::SharedServer(Kind::Pyftpdlib, &whyNot);
    if (!server)
        GTEST_SKIP() << whyNot;
    TempFolder work;
    const std::string src = work.Path() + "/src";
    fs::create_directories(src + "/sub");
    WriteFile(src + "/a.txt", "alpha");
    WriteFile(src + "/b.txt", "bravo");
    WriteFile(src + "/sub/c.txt", "charlie");
    for (const char* name : {"/a.txt", "/b.txt", "/sub/c.txt"})
        SetAge(src + name, 7200);
    const std::string remote = server->Root() + "/newer";

    Result r = RunFtp(work.Path(), Login(*server) << "-R"
                                                  << "newer"
                                                  << "src");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("3 files"), std::string::npos) << r.out;

    // Nothing changed: every remote copy is newer than its source.
    r = RunFtp(work.Path(), Login(*server) << "-R"
                                           << "--only-newer"
                                           << "newer"
                                           << "src");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("0 files"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("3 up to date"), std::string::npos) << r.out;

    // A changed file, a new one, one gone, and remote leftovers.
    WriteFile(src + "/b.txt", "bravo, changed");
    WriteFile(src + "/d.txt", "delta");
    fs::remove(src + "/sub/c.txt");
    fs::create_directories(remote + "/stray/deeper");
    WriteFile(remote + "/stray/deeper/x.txt", "x");
    WriteFile(remote + "/stray.txt", "y");
    r = RunFtp(work.Path(), Login(*server) << "-R"
                                           << "--only-newer"
                                           << "--delete"
                                           << "newer"
                                           << "src");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("2 files"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1 up to date"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("3 deleted"), std::string::npos) << r.out;
    EXPECT_EQ(CompareTrees(src, remote), "");

    // Down: a fresh copy, then nothing to do, then local leftovers removed
    // without following a link out of the tree.
    r = RunFtp(work.Path(), Login(*server) << "newer"
                                           << "dst");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(CompareTrees(src, work.Path() + "/dst"), "");
    r = RunFtp(work.Path(), Login(*server) << "--only-newer"
                                           << "newer"
                                           << "dst");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("0 files"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("3 up to date"), std::string::npos) << r.out;

    const std::string outside = work.Path() + "/outside";
    fs::create_directories(outside);
    WriteFile(outside + "/keep.txt", "keep");
    fs::create_directory_symlink(outside, work.Path() + "/dst/link-out");
    fs::create_directories(work.Path() + "/dst/sub/old");
    WriteFile(work.Path() + "/dst/sub/old/o.txt", "o");
    WriteFile(work.Path() + "/dst/old.txt", "o");
    // A changed remote file is fetched even though the local copy is newer
    // in time: the sizes differ.
    WriteFile(remote + "/a.txt", "alpha, changed remotely");
    SetAge(remote + "/a.txt", 3600);
    r = RunFtp(work.Path(), Login(*server) << "--only-newer"
                                           << "--delete"
                                           << "newer"
                                           << "dst");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("1 file,"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("3 deleted"), std::string::npos) << r.out;
    EXPECT_EQ(CompareTrees(remote, work.Path() + "/dst"), "");
    EXPECT_EQ(ReadFile(outside + "/keep.txt"), "keep") << "--delete followed a link out of the tree";
    fs::remove_all(remote);
}

TEST(Mirror, BrokenDataConnectionsAreResumedAndTheTreesMatch)
{
    std::string whyNot;
    auto server = testsupport::FtpTestServer::Start(testsupport::FtpTestServer::Kind::FaultyPyftpdlib, &whyNot);
    ASSERT_TRUE(server) << whyNot;
    const std::string tree = server->Root() + "/tree";
    fs::create_directories(tree + "/sub");
    MakeFile(tree + "/reset-one.bin", 400 * 1024, 1);
    MakeFile(tree + "/close-two.bin", 300 * 1024, 2);
    MakeFile(tree + "/sub/drop-three.bin", 500 * 1024, 3);
    MakeFile(tree + "/sub/plain.bin", 200 * 1024, 4);
    TempFolder work;
    const QStringList login = Login(server->PortText(), server->User(), server->Password());

    Result r = RunFtp(work.Path(), QStringList{"--verbose"} + login + QStringList{"--parallel", "2", "tree", "down"});
    ASSERT_EQ(r.exitCode, 0) << r.err.substr(0, 6000);
    EXPECT_EQ(CompareTrees(tree, work.Path() + "/down"), "");
    EXPECT_NE(r.err.find("> REST "), std::string::npos) << "the broken files were not resumed";
    EXPECT_NE(r.out.find("4 files"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(", 0 failed"), std::string::npos) << r.out;

    r = RunFtp(work.Path(), QStringList{"--verbose"} + login + QStringList{"-R", "--parallel", "2", "up", "down"});
    ASSERT_EQ(r.exitCode, 0) << r.err.substr(0, 6000);
    EXPECT_EQ(CompareTrees(tree, server->Root() + "/up"), "");
    EXPECT_NE(r.err.find("> REST "), std::string::npos);
}

TEST(Mirror, AFailedItemOrAnUnreachableSiteExitsOne)
{
    std::string whyNot;
    testsupport::FtpTestServer* server = ftptest::SharedServer(Kind::Pyftpdlib, &whyNot);
    if (!server)
        GTEST_SKIP() << whyNot;
    const std::string remote = server->Root() + "/failing";
    fs::create_directories(remote);
    WriteFile(remote + "/good.txt", "good");
    WriteFile(remote + "/blocked.txt", "blocked");
    TempFolder work;
    // A folder where a file must go: that item fails, the others arrive.
    fs::create_directories(work.Path() + "/dst/blocked.txt");
    Result r = RunFtp(work.Path(), Login(*server) << "failing"
                                                  << "dst");
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("1 file,"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(", 1 failed"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("blocked.txt"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(work.Path() + "/dst/good.txt"), "good");

    // A remote folder that does not exist.
    r = RunFtp(work.Path(), Login(*server) << "no-such-folder"
                                           << "dst2");
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.out.find(", 1 failed"), std::string::npos) << r.out;

    // Nobody listening: the sessions give up, the run fails.
    r = RunFtp(work.Path(), Login(std::to_string(testsupport::FreeLoopbackPort()), "u", "p") << "--parallel"
                                                                                             << "2"
                                                                                             << "/x"
                                                                                             << "dst3");
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;

    // Usage errors.
    r = RunFtp(work.Path(), Login(*server) << "--parallel"
                                           << "11"
                                           << "failing");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("--parallel"), std::string::npos) << r.err;
    r = RunFtp(work.Path(), Login(*server) << "-R"
                                           << "failing"
                                           << "no-such-local-folder");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("no-such-local-folder"), std::string::npos) << r.err;
    fs::remove_all(remote);
}

} // namespace
