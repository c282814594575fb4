// Whole trees down and up through the queue against pyftpdlib and vsftpd,
// with 1, 2 and 4 sessions, compared byte for byte.

#include "support/ftpservers.h"
#include "transfertestutil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <tuple>

namespace fs = std::filesystem;
using namespace transfertest;
using Kind = testsupport::FtpTestServer::Kind;

namespace {

// The server's folder as the client names it: pyftpdlib shows its root as
// "/", vsftpd shows the real path.
std::string RemoteBase(const testsupport::FtpTestServer& server)
{
    return server.ServerKind() == Kind::Pyftpdlib ? std::string() : server.Root();
}

TTransferSite SiteOf(const testsupport::FtpTestServer& server)
{
    TTransferSite site;
    site.Host = "127.0.0.1";
    site.Port = server.PortText();
    site.User = server.User();
    site.Password = server.Password();
    site.Passive = true;
    return site;
}

testsupport::FtpTestServer* ServerWithTree(Kind kind, std::string& whyNot)
{
    static std::set<Kind> built;
    testsupport::FtpTestServer* server = ftptest::SharedServer(kind, &whyNot);
    if (server && !built.count(kind)) {
        MakeTree(server->Root() + "/tree");
        server->Share(server->Root() + "/tree");
        built.insert(kind);
    }
    return server;
}

class TreeTransfer : public ::testing::TestWithParam<std::tuple<Kind, int>> {};

TEST_P(TreeTransfer, DownloadThenUploadGivesIdenticalTrees)
{
    const auto [kind, connections] = GetParam();
    std::string whyNot;
    testsupport::FtpTestServer* server = ServerWithTree(kind, whyNot);
    if (!server)
        GTEST_SKIP() << whyNot;
    TTransferSettings settings;
    settings.Connections = connections;

    // Download.
    TempFolder local;
    TTransferQueue down;
    std::string why;
    ASSERT_NE(down.AddDownload(RemoteBase(*server) + "/tree", TTransferKind::Folder, -1, local.Path(), &why), 0u)
        << why;
    const RunOutcome got = RunToEnd(down, SiteOf(*server), settings);
    ASSERT_TRUE(got.Finished) << Unfinished(down) << got.Log.substr(0, 4000);
    EXPECT_TRUE(got.Ok) << Unfinished(down);
    EXPECT_EQ(CompareTrees(server->Root() + "/tree", local.Path() + "/tree"), "");
    const TTransferTotals totals = down.Totals();
    EXPECT_EQ(totals.Done, totals.Items) << Unfinished(down);
    // 300 files and 30 folders below the chosen one, plus that one.
    EXPECT_EQ(totals.Items, 331);
    EXPECT_EQ(totals.BytesDone, totals.Bytes);

    // Upload the same tree into a new remote folder.
    const std::string target = "up" + std::to_string(connections);
    fs::create_directory(server->Root() + "/" + target);
    server->Share(server->Root() + "/" + target);
    TTransferQueue up;
    ASSERT_NE(up.AddUpload(local.Path() + "/tree", RemoteBase(*server) + "/" + target, 64, &why), 0u) << why;
    EXPECT_EQ(up.Totals().Items, 331);
    const RunOutcome put = RunToEnd(up, SiteOf(*server), settings);
    ASSERT_TRUE(put.Finished) << Unfinished(up) << put.Log.substr(0, 4000);
    EXPECT_TRUE(put.Ok) << Unfinished(up);
    EXPECT_EQ(CompareTrees(local.Path() + "/tree", server->Root() + "/" + target + "/tree"), "");
}

std::string ParamName(const ::testing::TestParamInfo<std::tuple<Kind, int>>& info)
{
    return ftptest::KindName(std::get<0>(info.param)) + "_" + std::to_string(std::get<1>(info.param)) + "_connections";
}

INSTANTIATE_TEST_SUITE_P(Servers, TreeTransfer,
                         ::testing::Combine(::testing::Values(Kind::Pyftpdlib, Kind::Vsftpd),
                                            ::testing::Values(1, 2, 4)),
                         ParamName);

} // namespace
