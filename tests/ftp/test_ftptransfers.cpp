// Data connections against real servers: every case runs against pyftpdlib
// and vsftpd, in active (PORT) and passive (PASV) mode.

#include "support/ftpservers.h"
#include "support/ftptestutil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

using namespace ftptest;
namespace fs = std::filesystem;

namespace {

struct TransferParam {
    Kind kind;
    bool passive;
};

std::string ParamName(const TransferParam& p) { return KindName(p.kind) + (p.passive ? "_passive" : "_active"); }

class FtpTransfers : public ::testing::TestWithParam<TransferParam> {
protected:
    void SetUp() override
    {
        std::string why;
        server = SharedServer(GetParam().kind, &why);
        if (!server)
            GTEST_SKIP() << "no " << KindName(GetParam().kind) << " server here: " << why;
        ftp.Target(server->PortText(), server->User(), server->Password());
        ftp.SetPassive(GetParam().passive);
        const TestFolder folder = MakeTestFolder(*server, "x_");
        dirName = folder.name;
        dirPath = folder.path;
        ASSERT_TRUE(ftp.Connect()) << ftp.ErrorMessage();
        ftp.SetHostDirName(dirName);
        ASSERT_TRUE(ftp.Cwd()) << ftp.ErrorMessage();
        ASSERT_TRUE(ftp.TypeBinary());
    }

    void TearDown() override
    {
        if (ftp.Connected())
            ftp.Abort();
        if (!dirPath.empty())
            fs::remove_all(dirPath);
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

TEST_P(FtpTransfers, DownloadIsByteForByte)
{
    const std::string bytes = RandomBytes(300 * 1024 + 17, 1);
    PutServerFile("d.bin", bytes);
    WriteFile(local.File("d.bin"), "old content that must go away, longer than nothing");
    ftp.SetHostFileName("d.bin");
    ftp.SetLocalFileName(local.File("d.bin"));
    ASSERT_TRUE(ftp.Get()) << ftp.ErrorMessage() << "\n" << ftp.Dialogue();
    EXPECT_EQ(ReadFile(local.File("d.bin")), bytes);
    EXPECT_EQ(ftp.ByteCount(), std::int64_t(bytes.size()));
    EXPECT_EQ(ftp.done.back().request, ftpGetAsync);
    EXPECT_EQ(ftp.done.back().error, 0);
    EXPECT_TRUE(ftp.StatusCode() == 226 || ftp.StatusCode() == 250) << ftp.LastResponse();
    EXPECT_TRUE(ftp.Displayed("! " + std::to_string(bytes.size()) + " bytes received/sent in ", true));
    EXPECT_EQ(ftp.Commands().back(), "RETR d.bin");
    // Both servers take the extended passive command; PORT on IPv4.
    EXPECT_EQ(ftp.Commands()[ftp.Commands().size() - 2].substr(0, 4), GetParam().passive ? "EPSV" : "PORT");
    // The session goes on.
    EXPECT_TRUE(ftp.Pwd());
}

TEST_P(FtpTransfers, UploadIsByteForByteAndAppendAddsToTheEnd)
{
    const std::string bytes = RandomBytes(200 * 1024 + 3, 2);
    WriteFile(local.File("u.bin"), bytes);
    ftp.SetHostFileName("u.bin");
    ftp.SetLocalFileName(local.File("u.bin"));
    ASSERT_TRUE(ftp.Put()) << ftp.ErrorMessage() << "\n" << ftp.Dialogue();
    EXPECT_EQ(ftp.done.back().request, ftpPutAsync);
    EXPECT_EQ(ReadFile(dirPath + "/u.bin"), bytes);
    EXPECT_EQ(ftp.ByteCount(), std::int64_t(bytes.size()));

    const std::string more = RandomBytes(5000, 3);
    WriteFile(local.File("more.bin"), more);
    ftp.SetLocalFileName(local.File("more.bin"));
    ASSERT_TRUE(ftp.Append()) << ftp.ErrorMessage();
    EXPECT_EQ(ftp.done.back().request, ftpAppendAsync);
    EXPECT_EQ(ftp.Commands().back(), "APPE u.bin");
    EXPECT_EQ(ReadFile(dirPath + "/u.bin"), bytes + more);
}

TEST_P(FtpTransfers, EmptyFileUpload)
{
    WriteFile(local.File("empty"), "");
    ftp.SetHostFileName("empty");
    ftp.SetLocalFileName(local.File("empty"));
    ASSERT_TRUE(ftp.Put()) << ftp.ErrorMessage() << "\n" << ftp.Dialogue();
    EXPECT_EQ(ftp.ByteCount(), 0);
    ASSERT_TRUE(fs::exists(dirPath + "/empty"));
    EXPECT_EQ(fs::file_size(dirPath + "/empty"), 0u);
}

TEST_P(FtpTransfers, UploadOfAMissingLocalFileFailsWith426)
{
    ftp.SetHostFileName("nothing");
    ftp.SetLocalFileName(local.File("does-not-exist"));
    EXPECT_FALSE(ftp.Put());
    EXPECT_EQ(ftp.done.back().error, 426);
    EXPECT_EQ(ftp.ErrorMessage(), "426 Unable to open local file " + local.File("does-not-exist"));
    EXPECT_TRUE(ftp.Displayed("! 426 Unable to open local file " + local.File("does-not-exist")));
    EXPECT_TRUE(ftp.Pwd());
}

TEST_P(FtpTransfers, ReadyToTransmitMayCancel)
{
    WriteFile(local.File("c.bin"), "abc");
    ftp.OnReadyToTransmit = [](TCustomFtpCli*, bool& cancel) { cancel = true; };
    ftp.SetHostFileName("c.bin");
    ftp.SetLocalFileName(local.File("c.bin"));
    EXPECT_FALSE(ftp.Put());
    EXPECT_EQ(ftp.done.back().error, 426);
    EXPECT_EQ(ftp.ErrorMessage(), "426 Transmit cancelled by application");
    EXPECT_FALSE(fs::exists(dirPath + "/c.bin"));
}

TEST_P(FtpTransfers, DownloadOfAMissingFileFailsAndTheSessionGoesOn)
{
    ftp.SetHostFileName("missing.bin");
    ftp.SetLocalFileName(local.File("missing.bin"));
    EXPECT_FALSE(ftp.Get());
    EXPECT_EQ(ftp.done.back().error, 550);
    EXPECT_EQ(ftp.StatusCode(), 550);
    EXPECT_TRUE(ftp.Pwd());
}

TEST_P(FtpTransfers, ResumeOfAPartialDownload)
{
    const std::string bytes = RandomBytes(150 * 1024, 4);
    PutServerFile("r.bin", bytes);
    WriteFile(local.File("r.bin"), bytes.substr(0, 1000));
    ftp.OnProgress = [&](TCustomFtpCli*, std::int64_t count, bool&) { ftp.progress.push_back(count); };
    ftp.SetHostFileName("r.bin");
    ftp.SetLocalFileName(local.File("r.bin"));
    ASSERT_TRUE(ftp.RestGet()) << ftp.ErrorMessage() << "\n" << ftp.Dialogue();
    EXPECT_EQ(ftp.done.back().request, ftpRestGetAsync);
    EXPECT_EQ(ReadFile(local.File("r.bin")), bytes);
    EXPECT_EQ(ftp.ByteCount(), std::int64_t(bytes.size() - 1000));
    ASSERT_FALSE(ftp.progress.empty());
    EXPECT_EQ(ftp.progress.front(), 1000);
    const auto cmds = ftp.Commands();
    EXPECT_NE(std::find(cmds.begin(), cmds.end(), "REST 1000"), cmds.end());
    EXPECT_EQ(ftp.ResumeAt(), 0);

    // Without a local file no REST is sent and the whole file comes.
    ftp.display.clear();
    fs::remove(local.File("r.bin"));
    ASSERT_TRUE(ftp.RestGet()) << ftp.ErrorMessage();
    EXPECT_EQ(ReadFile(local.File("r.bin")), bytes);
    for (const auto& c : ftp.Commands())
        EXPECT_NE(c.substr(0, 4), "REST");
}

TEST_P(FtpTransfers, FilesOver4GiBReportSizeAndResumeNearTheEnd)
{
    // A sparse file on the server: only the tail holds data.
    const std::int64_t size = (std::int64_t(5) << 30) + 12345;
    const std::string tail = RandomBytes(40000, 5);
    const std::string remote = dirPath + "/huge.bin";
    {
        std::ofstream out(remote, std::ios::binary);
    }
    fs::resize_file(remote, std::uintmax_t(size - std::int64_t(tail.size())));
    {
        std::ofstream out(remote, std::ios::binary | std::ios::app);
        out.write(tail.data(), std::streamsize(tail.size()));
    }
    server->Share(remote);

    ftp.SetHostFileName("huge.bin");
    ASSERT_TRUE(ftp.Size());
    EXPECT_EQ(ftp.SizeResult(), size);

    // A local copy that holds everything but the tail (sparse too).
    const std::string localFile = local.File("huge.bin");
    {
        std::ofstream out(localFile, std::ios::binary);
    }
    fs::resize_file(localFile, std::uintmax_t(size - std::int64_t(tail.size())));
    ftp.SetLocalFileName(localFile);
    ftp.OnProgress = [&](TCustomFtpCli*, std::int64_t count, bool&) { ftp.progress.push_back(count); };
    ASSERT_TRUE(ftp.RestGet()) << ftp.ErrorMessage() << "\n" << ftp.Dialogue();
    const auto cmds = ftp.Commands();
    EXPECT_NE(std::find(cmds.begin(), cmds.end(), "REST " + std::to_string(size - std::int64_t(tail.size()))),
              cmds.end());
    EXPECT_EQ(ftp.ByteCount(), std::int64_t(tail.size()));
    EXPECT_EQ(std::int64_t(fs::file_size(localFile)), size);
    ASSERT_FALSE(ftp.progress.empty());
    EXPECT_EQ(ftp.progress.front(), size - std::int64_t(tail.size()));
    std::ifstream in(localFile, std::ios::binary);
    in.seekg(size - std::int64_t(tail.size()));
    std::string got(tail.size(), '\0');
    in.read(got.data(), std::streamsize(got.size()));
    EXPECT_EQ(got, tail);

    // An upload that restarts beyond 4 GiB writes at that offset.
    const std::int64_t offset = (std::int64_t(4) << 30) + 7;
    const std::string upTail = RandomBytes(3000, 6);
    const std::string upLocal = local.File("up.bin");
    {
        std::ofstream out(upLocal, std::ios::binary);
    }
    fs::resize_file(upLocal, std::uintmax_t(offset));
    {
        std::ofstream out(upLocal, std::ios::binary | std::ios::app);
        out.write(upTail.data(), std::streamsize(upTail.size()));
    }
    // The interrupted upload left a partial file on the server.
    {
        std::ofstream out(dirPath + "/up.bin", std::ios::binary);
    }
    fs::resize_file(dirPath + "/up.bin", std::uintmax_t(offset));
    server->Share(dirPath + "/up.bin");
    ftp.SetHostFileName("up.bin");
    ftp.SetLocalFileName(upLocal);
    ftp.SetResumeAt(offset);
    ASSERT_TRUE(ftp.RestPut()) << ftp.ErrorMessage() << "\n" << ftp.Dialogue();
    EXPECT_EQ(ftp.done.back().request, ftpPutAsync);
    EXPECT_EQ(ftp.ByteCount(), std::int64_t(upTail.size()));
    ftp.SetHostFileName("up.bin");
    ASSERT_TRUE(ftp.Size());
    EXPECT_EQ(ftp.SizeResult(), offset + std::int64_t(upTail.size()));
    fs::remove(remote);
    fs::remove(dirPath + "/up.bin");
}

TEST_P(FtpTransfers, AbortThroughProgressLeavesTheSessionUsable)
{
    const std::string bytes = RandomBytes(4 * 1024 * 1024, 7);
    PutServerFile("a.bin", bytes);
    int calls = 0;
    ftp.OnProgress = [&](TCustomFtpCli*, std::int64_t, bool& abort) { abort = ++calls == 3; };
    ftp.SetHostFileName("a.bin");
    ftp.SetLocalFileName(local.File("a.bin"));
    EXPECT_FALSE(ftp.Get());
    EXPECT_TRUE(ftp.Displayed("! Abort requested"));
    EXPECT_NE(ftp.done.back().error, 0);
    EXPECT_LT(fs::file_size(local.File("a.bin")), bytes.size());
    EXPECT_TRUE(ftp.Connected());
    ftp.OnProgress = nullptr;
    ASSERT_TRUE(ftp.Pwd()) << ftp.ErrorMessage();
    // A download right after works.
    ASSERT_TRUE(ftp.Get()) << ftp.ErrorMessage();
    EXPECT_EQ(ReadFile(local.File("a.bin")), bytes);
}

TEST_P(FtpTransfers, AbortAsyncDuringATransferDropsTheSession)
{
    const std::string bytes = RandomBytes(4 * 1024 * 1024, 8);
    PutServerFile("b.bin", bytes);
    bool aborted = false;
    ftp.OnProgress = [&](TCustomFtpCli*, std::int64_t count, bool&) {
        if (count > 0 && !aborted) {
            aborted = true;
            ftp.AbortAsync();
        }
    };
    ftp.SetHostFileName("b.bin");
    ftp.SetLocalFileName(local.File("b.bin"));
    EXPECT_FALSE(ftp.Get());
    EXPECT_EQ(ftp.done.back().error, 426);
    EXPECT_EQ(ftp.State(), ftpReady);
    EXPECT_FALSE(ftp.Connected());
    EXPECT_EQ(ftp.DataSocket()->State(), wsClosed);
    ftp.OnProgress = nullptr;
    ASSERT_TRUE(ftp.Connect()) << ftp.ErrorMessage();
    EXPECT_TRUE(ftp.Pwd());
}

TEST_P(FtpTransfers, ATransferThatKeepsMovingOutlivesTheTimeout)
{
    const std::string bytes = RandomBytes(8 * 1024 * 1024, 9);
    PutServerFile("slow.bin", bytes);
    ftp.SetTimeout(1);
    int calls = 0;
    // Each progress event comes well inside the time-out, but the whole
    // transfer takes more than twice as long as it.
    ftp.OnProgress = [&](TCustomFtpCli*, std::int64_t, bool&) {
        if (++calls <= 8)
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
    };
    ftp.SetHostFileName("slow.bin");
    ftp.SetLocalFileName(local.File("slow.bin"));
    ASSERT_TRUE(ftp.Get()) << ftp.ErrorMessage();
    EXPECT_GE(calls, 8);
    EXPECT_EQ(ReadFile(local.File("slow.bin")), bytes);

    // The same holds for an upload.
    calls = 0;
    ftp.SetHostFileName("slow-up.bin");
    ASSERT_TRUE(ftp.Put()) << ftp.ErrorMessage();
    EXPECT_GE(calls, 8);
    EXPECT_EQ(ReadFile(dirPath + "/slow-up.bin"), bytes);
}

TEST_P(FtpTransfers, ListingsIntoAFileAndIntoOnDisplayFile)
{
    PutServerFile("one.txt", "1");
    PutServerFile("two.txt", "22");
    ftp.SetHostFileName("");
    ftp.SetLocalFileName(local.File("FTPDIR.TXT"));
    ASSERT_TRUE(ftp.Dir()) << ftp.ErrorMessage();
    EXPECT_EQ(ftp.done.back().request, ftpDirAsync);
    EXPECT_EQ(ftp.Commands().back(), "LIST");
    const std::string listing = ReadFile(local.File("FTPDIR.TXT"));
    EXPECT_NE(listing.find("one.txt"), std::string::npos);
    EXPECT_NE(listing.find("two.txt"), std::string::npos);

    ftp.SetDisplayFileFlag(true);
    ftp.SetLocalFileName("");
    ASSERT_TRUE(ftp.Ls()) << ftp.ErrorMessage();
    EXPECT_EQ(ftp.done.back().request, ftpLsAsync);
    std::vector<std::string> names = ftp.displayFile;
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"one.txt", "two.txt"}));

    ftp.displayFile.clear();
    ftp.SetDisplayFileMode(ftpBinary);
    ASSERT_TRUE(ftp.Ls());
    std::string all;
    for (const auto& s : ftp.displayFile)
        all += s;
    EXPECT_NE(all.find("one.txt\r\n"), std::string::npos);
}

TEST_P(FtpTransfers, ChainedTransfersWithTheirOwnConnection)
{
    ftp.Quit();
    const std::string bytes = RandomBytes(70000, 10);
    PutServerFile("c.bin", bytes);
    ftp.SetHostDirName(dirName);
    ftp.SetHostFileName("c.bin");
    ftp.SetLocalFileName(local.File("c.bin"));
    ASSERT_TRUE(ftp.Receive()) << ftp.ErrorMessage() << "\n" << ftp.Dialogue();
    EXPECT_EQ(ftp.done.back().request, ftpReceiveAsync);
    EXPECT_EQ(ReadFile(local.File("c.bin")), bytes);
    EXPECT_FALSE(ftp.Connected());
    EXPECT_TRUE(ftp.StatusCode() == 226 || ftp.StatusCode() == 250);

    WriteFile(local.File("c.bin"), bytes.substr(0, 5000));
    ASSERT_TRUE(ftp.RestartGet()) << ftp.ErrorMessage();
    EXPECT_EQ(ftp.done.back().request, ftpRestartGetAsync);
    EXPECT_EQ(ReadFile(local.File("c.bin")), bytes);

    ftp.SetHostFileName("t.bin");
    ASSERT_TRUE(ftp.Transmit()) << ftp.ErrorMessage();
    EXPECT_EQ(ftp.done.back().request, ftpPutAsync);
    EXPECT_EQ(ReadFile(dirPath + "/t.bin"), bytes);

    ASSERT_TRUE(ftp.AppendFile()) << ftp.ErrorMessage();
    EXPECT_EQ(ftp.done.back().request, ftpAppendAsync);
    EXPECT_EQ(ReadFile(dirPath + "/t.bin"), bytes + bytes);

    ftp.SetResumeAt(5000);
    ftp.SetHostFileName("rp.bin");
    PutServerFile("rp.bin", bytes.substr(0, 5000));
    ASSERT_TRUE(ftp.RestartPut()) << ftp.ErrorMessage();
    EXPECT_EQ(ftp.done.back().request, ftpPutAsync);
    EXPECT_EQ(ReadFile(dirPath + "/rp.bin"), bytes);

    ftp.SetHostFileName("");
    ftp.SetLocalFileName(local.File("dir.txt"));
    ASSERT_TRUE(ftp.Directory()) << ftp.ErrorMessage();
    EXPECT_EQ(ftp.done.back().request, ftpDirectoryAsync);
    EXPECT_NE(ReadFile(local.File("dir.txt")).find("rp.bin"), std::string::npos);
    ASSERT_TRUE(ftp.List()) << ftp.ErrorMessage();
    EXPECT_EQ(ftp.done.back().request, ftpListAsync);
    EXPECT_NE(ReadFile(local.File("dir.txt")).find("t.bin"), std::string::npos);

    // A failed login ends the upload chain with its own kind.
    ftp.SetPassWord("wrong");
    ftp.SetHostFileName("t.bin");
    ftp.SetLocalFileName(local.File("c.bin"));
    EXPECT_FALSE(ftp.Transmit());
    EXPECT_EQ(ftp.done.back().request, ftpTransmitAsync);
    EXPECT_EQ(ftp.done.back().error, 530);
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpTransfers,
                         ::testing::Values(TransferParam{Kind::Pyftpdlib, false}, TransferParam{Kind::Pyftpdlib, true},
                                           TransferParam{Kind::Vsftpd, false}, TransferParam{Kind::Vsftpd, true}),
                         [](const auto& info) { return ParamName(info.param); });

} // namespace
