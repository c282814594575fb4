// The queue as a session uses it: saved, loaded and finished later; the
// browsing connection free while workers transfer; the same-name question;
// a site that refuses the login.

#include "support/ftpservers.h"
#include "support/eventwait.h"
#include "transfertestutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace transfertest;

namespace {

testsupport::FtpTestServer* Server()
{
    std::string whyNot;
    testsupport::FtpTestServer* server = ftptest::SharedServer(ftptest::Kind::Pyftpdlib, &whyNot);
    EXPECT_TRUE(server) << whyNot;
    return server;
}

TTransferSite SiteOf(const testsupport::FtpTestServer& server)
{
    TTransferSite site;
    site.Port = server.PortText();
    site.User = server.User();
    site.Password = server.Password();
    return site;
}

TEST(TransferSessions, StoppedQueueIsSavedLoadedAndFinishedWithoutAsking)
{
    testsupport::FtpTestServer* server = Server();
    ASSERT_TRUE(server);
    TreeShape shape;
    shape.Folders = 6;
    shape.Files = 60;
    shape.Big = 4 * 1024 * 1024;
    shape.Medium = 2 * 1024 * 1024;
    MakeTree(server->Root() + "/saved", shape);

    TempFolder local;
    const std::string file = local.Path() + "/queue.json";
    TTransferSettings settings;
    settings.Connections = 2;
    {
        TTransferQueue queue;
        ASSERT_NE(queue.AddDownload("/saved", TTransferKind::Folder, -1, local.Path()), 0u);
        TTransferRunner runner(queue, SiteOf(*server), settings);
        runner.Start();
        ASSERT_TRUE(testsupport::WaitFor([&] { return queue.Totals().Done >= 20; }, 30000));
        runner.Stop();
        EXPECT_EQ(queue.Totals().Active, 0);
        EXPECT_TRUE(queue.HasUnfinished());
        std::string error;
        ASSERT_TRUE(queue.Save(file, error)) << error;

        TTransferQueue copy;
        ASSERT_TRUE(copy.Load(file, error)) << error;
        ASSERT_EQ(copy.Items().size(), queue.Items().size());
        for (std::size_t i = 0; i < copy.Items().size(); ++i) {
            const TTransferItem& a = queue.Items()[i];
            const TTransferItem& b = copy.Items()[i];
            EXPECT_EQ(a.Id, b.Id);
            EXPECT_EQ(a.Parent, b.Parent);
            EXPECT_EQ(a.State, b.State);
            EXPECT_EQ(a.LocalPath, b.LocalPath);
            EXPECT_EQ(a.RemotePath, b.RemotePath);
            EXPECT_EQ(a.BytesDone, b.BytesDone);
            EXPECT_EQ(a.TargetSettled, b.TargetSettled);
        }
    }
    // Only the queue file itself is left beside it, no temporary file.
    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(local.Path()))
        ++entries;
    EXPECT_EQ(entries, 2); // queue.json and the folder "saved"

    // A later session: the partial files are the queue's own, resumed
    // without the same-name question.
    TTransferQueue later;
    std::string error;
    ASSERT_TRUE(later.Load(file, error)) << error;
    int questions = 0;
    const RunOutcome outcome = RunToEnd(later, SiteOf(*server), settings, [&](const TConflictQuestion&) {
        ++questions;
        return TConflictAnswer{TConflictAction::Skip, {}, false};
    });
    ASSERT_TRUE(outcome.Finished) << Unfinished(later);
    EXPECT_TRUE(outcome.Ok) << Unfinished(later);
    EXPECT_EQ(questions, 0);
    EXPECT_EQ(CompareTrees(server->Root() + "/saved", local.Path() + "/saved"), "");
}

TEST(TransferSessions, BrowsingConnectionWorksWhileTwoWorkersTransfer)
{
    testsupport::FtpTestServer* server = Server();
    ASSERT_TRUE(server);
    const std::string tree = server->Root() + "/browse";
    fs::create_directories(tree + "/inner");
    for (int i = 0; i < 8; ++i)
        MakeFile(tree + "/big " + std::to_string(i) + ".bin", 4 * 1024 * 1024, unsigned(100 + i));

    TempFolder local;
    TTransferQueue queue;
    ASSERT_NE(queue.AddDownload("/browse", TTransferKind::Folder, -1, local.Path()), 0u);
    TTransferSettings settings;
    settings.Connections = 2;
    TTransferRunner runner(queue, SiteOf(*server), settings);
    bool finished = false;
    bool ok = false;
    runner.OnFinished = [&](bool result) {
        finished = true;
        ok = result;
    };
    runner.Start();
    ASSERT_TRUE(testsupport::WaitFor([&] { return queue.Totals().Active >= 2; }, 20000));

    // The browsing session: blocking calls, as the main window makes them.
    TFtpClient browser;
    browser.SetHostName("127.0.0.1");
    browser.SetPort(server->PortText());
    browser.SetUserName(server->User());
    browser.SetPassWord(server->Password());
    browser.SetPassive(true);
    std::vector<std::string> lines;
    browser.OnDisplayFile = [&](TCustomFtpCli*, std::string& line) { lines.push_back(line); };
    ASSERT_TRUE(browser.Connect()) << browser.ErrorMessage();
    int whileActive = 0;
    double maxRate = 0;
    for (int round = 0; round < 5 && !finished; ++round) {
        browser.SetHostDirName(round % 2 ? "/browse/inner" : "/browse");
        ASSERT_TRUE(browser.Cwd()) << browser.LastResponse();
        lines.clear();
        browser.SetDisplayFileFlag(true);
        browser.SetHostFileName("");
        ASSERT_TRUE(browser.Dir()) << browser.ErrorMessage();
        browser.SetDisplayFileFlag(false);
        if (round % 2 == 0) {
            EXPECT_GE(lines.size(), 9u);
        }
        if (queue.Totals().Active >= 1) {
            ++whileActive;
            maxRate = std::max(maxRate, queue.Rate());
        }
    }
    EXPECT_GE(whileActive, 1) << "the transfers ended before the browsing could overlap them";
    EXPECT_GT(maxRate, 0.0) << "the overall rate moves while bytes do";
    EXPECT_TRUE(browser.Quit());
    ASSERT_TRUE(testsupport::WaitFor([&] { return finished; }, 60000)) << Unfinished(queue);
    EXPECT_TRUE(ok) << Unfinished(queue);
    EXPECT_EQ(CompareTrees(tree, local.Path() + "/browse"), "");
}

TEST(TransferSessions, SameNameQuestionResumesRenamesSkipsAndOverwrites)
{
    testsupport::FtpTestServer* server = Server();
    ASSERT_TRUE(server);
    const std::string remote = server->Root() + "/names";
    fs::create_directories(remote + "/batch");
    MakeFile(remote + "/a.bin", 100 * 1024, 11);
    MakeFile(remote + "/b.bin", 3000, 12);
    MakeFile(remote + "/batch/c.bin", 2000, 13);
    MakeFile(remote + "/batch/d.bin", 2000, 14);

    TempFolder local;
    const std::string a = testsupport::ReadFile(remote + "/a.bin");
    std::ofstream(local.Path() + "/a.bin", std::ios::binary) << a.substr(0, 40 * 1024);
    std::ofstream(local.Path() + "/b.bin") << "old b";
    fs::create_directory(local.Path() + "/batch");
    std::ofstream(local.Path() + "/batch/c.bin") << "old c";
    std::ofstream(local.Path() + "/batch/d.bin") << "old d";

    TTransferQueue queue;
    ASSERT_NE(queue.AddDownload("/names/a.bin", TTransferKind::File, 100 * 1024, local.Path()), 0u);
    ASSERT_NE(queue.AddDownload("/names/b.bin", TTransferKind::File, 3000, local.Path()), 0u);
    ASSERT_NE(queue.AddDownload("/names/batch", TTransferKind::Folder, -1, local.Path()), 0u);
    std::vector<std::string> asked;
    const auto answer = [&](const TConflictQuestion& q) {
        asked.push_back(q.TargetPath);
        const std::string name = fs::path(q.TargetPath).filename().string();
        if (name == "a.bin") {
            EXPECT_TRUE(q.CanResume);
            EXPECT_EQ(q.TargetSize, 40 * 1024);
            return TConflictAnswer{TConflictAction::Resume, {}, false};
        }
        if (name == "b.bin")
            return TConflictAnswer{TConflictAction::Rename, "b new.bin", false};
        return TConflictAnswer{TConflictAction::Skip, {}, true};
    };
    const RunOutcome outcome = RunToEnd(queue, SiteOf(*server), TTransferSettings{}, answer);
    ASSERT_TRUE(outcome.Finished) << Unfinished(queue);
    EXPECT_EQ(asked.size(), 3u) << "one question for the folder's batch, answered for all";
    EXPECT_EQ(testsupport::ReadFile(local.Path() + "/a.bin"), a);
    EXPECT_NE(outcome.Log.find("> REST 40960"), std::string::npos);
    EXPECT_EQ(testsupport::ReadFile(local.Path() + "/b.bin"), "old b");
    EXPECT_EQ(testsupport::ReadFile(local.Path() + "/b new.bin"), testsupport::ReadFile(remote + "/b.bin"));
    EXPECT_EQ(testsupport::ReadFile(local.Path() + "/batch/c.bin"), "old c");
    EXPECT_EQ(testsupport::ReadFile(local.Path() + "/batch/d.bin"), "old d");
    EXPECT_EQ(queue.Totals().Skipped, 2);

    // Uploads learn what exists from the listing of the target folder.
    fs::create_directories(server->Root() + "/uptarget/tree2");
    std::ofstream(server->Root() + "/uptarget/tree2/x.bin") << "remote old";
    fs::create_directories(local.Path() + "/tree2");
    MakeFile(local.Path() + "/tree2/x.bin", 2000, 15);
    MakeFile(local.Path() + "/tree2/y.bin", 2000, 16);
    TTransferQueue up;
    ASSERT_NE(up.AddUpload(local.Path() + "/tree2", "/uptarget"), 0u);
    std::vector<std::int64_t> sizes;
    const RunOutcome put = RunToEnd(up, SiteOf(*server), TTransferSettings{}, [&](const TConflictQuestion& q) {
        sizes.push_back(q.TargetSize);
        return TConflictAnswer{TConflictAction::Overwrite, {}, false};
    });
    ASSERT_TRUE(put.Finished && put.Ok) << Unfinished(up);
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_EQ(sizes[0], 10);
    EXPECT_EQ(CompareTrees(local.Path() + "/tree2", server->Root() + "/uptarget/tree2"), "");
}

TEST(TransferSessions, RemovingTheRunningItemLetsTheRestFinish)
{
    testsupport::FtpTestServer* server = Server();
    ASSERT_TRUE(server);
    const std::string remote = server->Root() + "/removal";
    fs::create_directories(remote);
    MakeFile(remote + "/first.bin", 24 * 1024 * 1024, 21);
    MakeFile(remote + "/second.bin", 3000, 22);
    TempFolder local;
    TTransferQueue queue;
    const TTransferId first = queue.AddDownload("/removal/first.bin", TTransferKind::File, 24 * 1024 * 1024,
                                                local.Path());
    const TTransferId second = queue.AddDownload("/removal/second.bin", TTransferKind::File, 3000, local.Path());
    TTransferSettings settings;
    settings.Connections = 1;
    TTransferRunner runner(queue, SiteOf(*server), settings);
    bool finished = false;
    bool ok = false;
    runner.OnFinished = [&](bool result) {
        finished = true;
        ok = result;
    };
    runner.Start();
    ASSERT_TRUE(testsupport::WaitFor(
        [&] { return queue.Find(first)->State == TTransferState::Active && queue.Find(first)->BytesDone > 0; }, 20000));
    EXPECT_FALSE(queue.Remove(first)) << "the model leaves a running item to the runner";
    EXPECT_TRUE(runner.Remove(first));
    EXPECT_EQ(queue.Find(first), nullptr);
    ASSERT_TRUE(testsupport::WaitFor([&] { return finished; }, 30000)) << Unfinished(queue);
    EXPECT_TRUE(ok);
    EXPECT_EQ(queue.Find(second)->State, TTransferState::Done);
    EXPECT_EQ(testsupport::ReadFile(local.Path() + "/second.bin"), testsupport::ReadFile(remote + "/second.bin"));

    // More work for the same runner after it finished: it logs in again.
    MakeFile(remote + "/third.bin", 5000, 23);
    const TTransferId third = queue.AddDownload("/removal/third.bin", TTransferKind::File, 5000, local.Path());
    finished = false;
    runner.Start();
    ASSERT_TRUE(testsupport::WaitFor([&] { return finished; }, 30000)) << Unfinished(queue);
    EXPECT_TRUE(ok);
    EXPECT_EQ(queue.Find(third)->State, TTransferState::Done);
    EXPECT_EQ(testsupport::ReadFile(local.Path() + "/third.bin"), testsupport::ReadFile(remote + "/third.bin"));
}

TEST(TransferSessions, RefusedLoginStopsTheQueueAsAFailure)
{
    testsupport::FtpTestServer* server = Server();
    ASSERT_TRUE(server);
    TTransferSite site = SiteOf(*server);
    site.Password = "wrong";
    TempFolder local;
    TTransferQueue queue;
    const TTransferId id = queue.AddDownload("/anything.bin", TTransferKind::File, 5, local.Path());
    TTransferSettings settings;
    settings.BackoffMs = 50;
    const RunOutcome outcome = RunToEnd(queue, site, settings);
    ASSERT_TRUE(outcome.Finished);
    EXPECT_FALSE(outcome.Ok);
    EXPECT_EQ(queue.Find(id)->State, TTransferState::Queued) << "kept for a later run";
    EXPECT_NE(outcome.Log.find("530"), std::string::npos) << outcome.Log;
}

} // namespace
