// The queue against servers that misbehave: data connections that break
// half way (retried and resumed), a permanent refusal (failed at once), and
// hostile listings (names and links that try to lead outside the folder).

#include "support/ftpfakeserver.h"
#include "support/ftpserver.h"
#include "support/ftpservers.h"
#include "transfertestutil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

namespace fs = std::filesystem;
using namespace transfertest;

namespace {

const TTransferItem* ItemFor(const TTransferQueue& queue, const std::string& remoteSuffix)
{
    for (const TTransferItem& item : queue.Items()) {
        if (item.RemotePath.size() >= remoteSuffix.size() &&
            item.RemotePath.compare(item.RemotePath.size() - remoteSuffix.size(), remoteSuffix.size(), remoteSuffix) ==
                0)
            return &item;
    }
    return nullptr;
}

TTransferSettings QuickRetries(int connections)
{
    TTransferSettings settings;
    settings.Connections = connections;
    settings.BackoffMs = 100;
    settings.StallSeconds = 20;
    return settings;
}

TEST(TransferFaults, BrokenDataConnectionsAreRetriedAndResumedBothWays)
{
    std::string whyNot;
    auto server = testsupport::FtpTestServer::Start(testsupport::FtpTestServer::Kind::FaultyPyftpdlib, &whyNot);
    ASSERT_TRUE(server) << whyNot;
    const std::string tree = server->Root() + "/tree";
    fs::create_directories(tree + "/sub folder");
    MakeFile(tree + "/reset-one.bin", 400 * 1024, 1);
    MakeFile(tree + "/close-two.bin", 300 * 1024, 2);
    MakeFile(tree + "/sub folder/drop-three.bin", 500 * 1024, 3);
    MakeFile(tree + "/sub folder/plain.bin", 200 * 1024, 4);
    MakeFile(tree + "/empty.txt", 0, 5);
    MakeFile(tree + "/sub folder/stall-four.bin", 300 * 1024, 6);

    TTransferSite site;
    site.Port = server->PortText();
    site.User = server->User();
    site.Password = server->Password();

    TempFolder local;
    TTransferQueue down;
    ASSERT_NE(down.AddDownload("/tree", TTransferKind::Folder, -1, local.Path()), 0u);
    // A session that falls silent is given up on after this long.
    TTransferSettings settings = QuickRetries(2);
    settings.StallSeconds = 3;
    const RunOutcome got = RunToEnd(down, site, settings);
    ASSERT_TRUE(got.Finished) << Unfinished(down);
    EXPECT_TRUE(got.Ok) << Unfinished(down);
    EXPECT_EQ(CompareTrees(tree, local.Path() + "/tree"), "");
    for (const char* name : {"/reset-one.bin", "/close-two.bin", "/drop-three.bin", "/stall-four.bin"}) {
        const TTransferItem* item = ItemFor(down, name);
        ASSERT_NE(item, nullptr) << name;
        EXPECT_EQ(item->State, TTransferState::Done) << name;
        EXPECT_EQ(item->Attempts, 1) << name << ": broken once, then resumed";
    }
    EXPECT_EQ(ItemFor(down, "/plain.bin")->Attempts, 0);
    // The second attempts carried on from what the first ones left.
    EXPECT_NE(got.Log.find("> REST "), std::string::npos);

    // And up again, into a new folder of the same server.
    fs::create_directory(server->Root() + "/up");
    TTransferQueue up;
    ASSERT_NE(up.AddUpload(local.Path() + "/tree", "/up"), 0u);
    const RunOutcome put = RunToEnd(up, site, settings);
    ASSERT_TRUE(put.Finished) << Unfinished(up);
    EXPECT_TRUE(put.Ok) << Unfinished(up);
    EXPECT_EQ(CompareTrees(tree, server->Root() + "/up/tree"), "");
    // (The fault server's stall only holds back what it sends.)
    for (const char* name : {"/reset-one.bin", "/close-two.bin", "/drop-three.bin"})
        EXPECT_EQ(ItemFor(up, name)->Attempts, 1) << name;
    EXPECT_NE(put.Log.find("> SIZE "), std::string::npos);
    EXPECT_NE(put.Log.find("> REST "), std::string::npos);
}

TEST(TransferFaults, PermanentRefusalFailsAtOnceWithTheServersText)
{
    std::string whyNot;
    testsupport::FtpTestServer* server = ftptest::SharedServer(ftptest::Kind::Pyftpdlib, &whyNot);
    ASSERT_TRUE(server) << whyNot;
    MakeFile(server->Root() + "/present.bin", 1000, 7);
    TTransferSite site;
    site.Port = server->PortText();
    site.User = server->User();
    site.Password = server->Password();

    TempFolder local;
    TTransferQueue queue;
    const TTransferId missing = queue.AddDownload("/missing.bin", TTransferKind::File, 10, local.Path());
    const TTransferId present = queue.AddDownload("/present.bin", TTransferKind::File, 1000, local.Path());
    const RunOutcome outcome = RunToEnd(queue, site, QuickRetries(1));
    ASSERT_TRUE(outcome.Finished);
    EXPECT_FALSE(outcome.Ok) << "a failed item must not end as success";
    const TTransferItem* item = queue.Find(missing);
    EXPECT_EQ(item->State, TTransferState::Failed);
    EXPECT_EQ(item->Attempts, 0) << "no retries for a permanent refusal";
    EXPECT_EQ(item->ErrorText.rfind("550 ", 0), 0u) << item->ErrorText;
    EXPECT_EQ(queue.Find(present)->State, TTransferState::Done);
    EXPECT_EQ(testsupport::ReadFile(local.Path() + "/present.bin"),
              testsupport::ReadFile(server->Root() + "/present.bin"));
}

// --- hostile listings -----------------------------------------------------------------

struct HostileSite {
    std::map<std::string, std::string> listings;
    std::map<std::string, std::string> files;
    std::mutex lock;
    std::vector<std::string> commands;

    void Serve(ftptest::FakeSession& s)
    {
        s.Reply("220 scripted server");
        std::string cwd = "/";
        for (;;) {
            const std::string line = s.ReadLine(15000);
            if (line.empty())
                return;
            {
                const std::lock_guard<std::mutex> hold(lock);
                commands.push_back(line);
            }
            const std::size_t space = line.find(' ');
            const std::string verb = line.substr(0, space);
            const std::string arg = space == std::string::npos ? std::string() : line.substr(space + 1);
            if (verb == "USER") {
                s.Reply("331 Password please");
            } else if (verb == "PASS") {
                s.Reply("230 Logged in");
            } else if (verb == "FEAT") {
                s.SendRaw("211-Features:\r\n SIZE\r\n REST STREAM\r\n211 End\r\n");
            } else if (verb == "TYPE") {
                s.Reply("200 Type set");
            } else if (verb == "CWD") {
                if (!listings.count(arg)) {
                    s.Reply("550 No such folder");
                    continue;
                }
                cwd = arg;
                s.Reply("250 Folder changed");
            } else if (verb == "PASV") {
                const int port = s.ListenData();
                s.Reply("227 Entering Passive Mode (127,0,0,1," + std::to_string(port / 256) + "," +
                        std::to_string(port % 256) + ")");
            } else if (verb == "LIST" || verb == "RETR") {
                const bool list = verb == "LIST";
                if (!list && !files.count(arg)) {
                    s.Reply("550 No such file");
                    continue;
                }
                s.Reply("150 Here it comes");
                if (!s.AcceptData())
                    return;
                s.SendData(list ? listings[cwd] : files[arg]);
                s.CloseData();
                s.Reply("226 Done");
            } else if (verb == "QUIT") {
                s.Reply("221 Bye");
                return;
            } else {
                s.Reply("502 Not implemented");
            }
        }
    }

    bool Sent(const std::string& prefix)
    {
        const std::lock_guard<std::mutex> hold(lock);
        for (const std::string& c : commands) {
            if (c.rfind(prefix, 0) == 0)
                return true;
        }
        return false;
    }
};

TEST(TransferFaults, HostileNamesAndLinksNeverLeadOutsideTheChosenFolder)
{
    HostileSite hostile;
    const std::string f = "-rw-r--r--    1 u g ";
    const std::string d = "drwxr-xr-x    2 u g 4096 Jan 01  2020 ";
    const std::string l = "lrwxrwxrwx    1 u g ";
    hostile.listings["/top"] = f + "   5 Jan 01  2020 good.txt\r\n" + f + "   4 Jan 01  2020 ../x\r\n" + l +
                               "  11 Jan 01  2020 out -> /etc/passwd\r\n" + l +
                               "   9 Jan 01  2020 up -> ../secret\r\n" + l + "   8 Jan 01  2020 in -> good.txt\r\n" +
                               d + "sub\r\n" + d + "ext\r\n" + f + "   4 Jan 01  2020 evil\r\n" + d + "..\r\n" + d +
                               ".\r\n";
    hostile.listings["/top/sub"] = f + "   4 Jan 01  2020 deep.txt\r\n" + l +
                                   "  11 Jan 01  2020 back -> ../good.txt\r\n" + l +
                                   "  14 Jan 01  2020 esc -> ../../outside\r\n";
    hostile.listings["/top/ext"] = f + "   4 Jan 01  2020 payload\r\n";
    hostile.files["/top/good.txt"] = "hello";
    hostile.files["/top/evil"] = "evil";
    hostile.files["/top/sub/deep.txt"] = "deep";
    hostile.files["/top/ext/payload"] = "data";
    hostile.files["/top/../x"] = "oops";
    ftptest::FakeFtpServer server([&](ftptest::FakeSession& s) { hostile.Serve(s); }, 4);

    TempFolder base;
    const std::string local = base.Path() + "/chosen";
    const std::string outside = base.Path() + "/outside";
    fs::create_directories(local + "/top");
    fs::create_directories(outside);
    std::ofstream(outside + "/evil-target") << "keep";
    // Links already in the local folder that point out of it.
    fs::create_symlink(outside + "/evil-target", local + "/top/evil");
    fs::create_directory_symlink(outside, local + "/top/ext");

    TTransferSite site;
    site.Port = server.PortText();
    site.User = "u";
    site.Password = "p";
    TTransferQueue queue;
    ASSERT_NE(queue.AddDownload("/top", TTransferKind::Folder, -1, local), 0u);
    int questions = 0;
    const RunOutcome outcome = RunToEnd(queue, site, QuickRetries(1), [&](const TConflictQuestion&) {
        ++questions;
        return TConflictAnswer{TConflictAction::Overwrite, {}, false};
    });
    ASSERT_TRUE(outcome.Finished) << Unfinished(queue) << outcome.Log;
    EXPECT_EQ(server.Failures(), "");

    // What lies inside arrived; links inside the tree are links.
    EXPECT_EQ(testsupport::ReadFile(local + "/top/good.txt"), "hello");
    EXPECT_EQ(testsupport::ReadFile(local + "/top/sub/deep.txt"), "deep");
    ASSERT_TRUE(fs::is_symlink(local + "/top/in"));
    EXPECT_EQ(fs::read_symlink(local + "/top/in").string(), "good.txt");
    ASSERT_TRUE(fs::is_symlink(local + "/top/sub/back"));
    EXPECT_EQ(fs::read_symlink(local + "/top/sub/back").string(), "../good.txt");

    // Nothing else: no file outside, no link out, nothing through the
    // existing links.
    EXPECT_FALSE(fs::exists(fs::symlink_status(local + "/top/out")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(local + "/top/up")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(local + "/top/sub/esc")));
    EXPECT_FALSE(fs::exists(local + "/x"));
    EXPECT_FALSE(fs::exists(base.Path() + "/x"));
    EXPECT_EQ(testsupport::ReadFile(outside + "/evil-target"), "keep");
    EXPECT_FALSE(fs::exists(outside + "/payload"));
    EXPECT_EQ(questions, 0);
    EXPECT_FALSE(hostile.Sent("RETR /top/../x"));
    EXPECT_FALSE(hostile.Sent("RETR /top/ext/payload"));
    EXPECT_FALSE(hostile.Sent("RETR /top/evil"));

    // Every refusal is an item with its reason, never a success.
    const auto expectRefused = [&](const std::string& suffix, const std::string& reason) {
        const TTransferItem* item = ItemFor(queue, suffix);
        ASSERT_NE(item, nullptr) << suffix;
        EXPECT_NE(item->State, TTransferState::Done) << suffix;
        EXPECT_NE(item->ErrorText.find(reason), std::string::npos) << suffix << ": " << item->ErrorText;
    };
    expectRefused("/../x", "Refused the remote name");
    expectRefused("/out", "outside the folder being downloaded");
    expectRefused("/up", "outside the folder being downloaded");
    expectRefused("/esc", "outside the folder being downloaded");
    expectRefused("/evil", "leads outside");
    expectRefused("/ext", "leads outside");
}

TEST(TransferFaults, ServerWithoutRestGetsTheWholeFileAgain)
{
    HostileSite site; // answers REST with 502
    site.listings["/"] = "";
    site.files["/data.bin"] = "0123456789";
    ftptest::FakeFtpServer server([&](ftptest::FakeSession& s) { site.Serve(s); }, 2);
    TempFolder local;
    std::ofstream(local.Path() + "/data.bin") << "01234";
    TTransferSite target;
    target.Port = server.PortText();
    target.User = "u";
    target.Password = "p";
    TTransferQueue queue;
    const TTransferId id = queue.AddDownload("/data.bin", TTransferKind::File, 10, local.Path());
    const RunOutcome outcome = RunToEnd(queue, target, QuickRetries(1), [](const TConflictQuestion& q) {
        EXPECT_TRUE(q.CanResume);
        return TConflictAnswer{TConflictAction::Resume, {}, false};
    });
    ASSERT_TRUE(outcome.Finished) << Unfinished(queue);
    EXPECT_TRUE(outcome.Ok) << Unfinished(queue);
    EXPECT_EQ(queue.Find(id)->State, TTransferState::Done);
    EXPECT_TRUE(site.Sent("REST 5"));
    EXPECT_EQ(testsupport::ReadFile(local.Path() + "/data.bin"), "0123456789");
}

TEST(TransferFaults, LinksThatAServersMlsdHidesAreStillNotFollowedOut)
{
    // pyftpdlib's MLSD shows a link as the folder or file it points to.
    std::string whyNot;
    testsupport::FtpTestServer* server = ftptest::SharedServer(ftptest::Kind::Pyftpdlib, &whyNot);
    ASSERT_TRUE(server) << whyNot;
    const std::string tree = server->Root() + "/linked";
    fs::create_directories(tree + "/sub");
    fs::create_directories(server->Root() + "/elsewhere");
    MakeFile(tree + "/sub/kept.bin", 100, 1);
    MakeFile(server->Root() + "/elsewhere/secret.bin", 100, 2);
    fs::create_directory_symlink("../elsewhere", tree + "/out-dir");
    fs::create_symlink("../elsewhere/secret.bin", tree + "/out-file");
    fs::create_directory_symlink("sub", tree + "/in-dir");

    TTransferSite site;
    site.Port = server->PortText();
    site.User = server->User();
    site.Password = server->Password();
    TempFolder local;
    TTransferQueue queue;
    ASSERT_NE(queue.AddDownload("/linked", TTransferKind::Folder, -1, local.Path()), 0u);
    const RunOutcome outcome = RunToEnd(queue, site, QuickRetries(2));
    ASSERT_TRUE(outcome.Finished) << Unfinished(queue);
    EXPECT_NE(outcome.Log.find("> MLSD"), std::string::npos);
    EXPECT_EQ(fs::read_symlink(local.Path() + "/linked/in-dir").string(), "sub");
    EXPECT_FALSE(fs::exists(fs::symlink_status(local.Path() + "/linked/out-dir")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(local.Path() + "/linked/out-file")));
    EXPECT_EQ(ItemFor(queue, "/out-dir")->State, TTransferState::Skipped);
    EXPECT_EQ(ItemFor(queue, "/out-file")->State, TTransferState::Skipped);
    EXPECT_EQ(outcome.Log.find("> RETR /linked/out-file"), std::string::npos);
    EXPECT_EQ(outcome.Log.find("> CWD /linked/out-dir"), std::string::npos);
    EXPECT_EQ(outcome.Log.find("> CWD /linked/in-dir"), std::string::npos) << "a link inside is not entered twice";
    EXPECT_EQ(testsupport::ReadFile(local.Path() + "/linked/sub/kept.bin"),
              testsupport::ReadFile(tree + "/sub/kept.bin"));
}

} // namespace
