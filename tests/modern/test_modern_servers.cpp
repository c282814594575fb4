// FEAT, EPSV/EPRT, MLSD, UTF-8 names and kept modification times against
// real servers: vsftpd listening on ::1 only, pyftpdlib on 127.0.0.1.

#include "ftp/ftpnamecodec.h"
#include "ftptestutil.h"
#include "support/ftpserver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include <sys/stat.h>
#include <utime.h>

using namespace ftptest;
namespace fs = std::filesystem;
using Kind = testsupport::FtpTestServer::Kind;

namespace {

std::int64_t ModifiedAt(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? std::int64_t(st.st_mtim.tv_sec) : -1;
}

void SetModified(const std::string& path, std::int64_t seconds)
{
    const utimbuf times{time_t(seconds), time_t(seconds)};
    ::utime(path.c_str(), &times);
}

std::string Joined(const std::vector<std::string>& lines)
{
    std::string all;
    for (const auto& l : lines)
        all += l + "\n";
    return all;
}

// --- vsftpd on ::1: EPSV and EPRT ---------------------------------------------------

class Ipv6Transfers : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        std::string why;
        server = testsupport::FtpTestServer::Start(Kind::Vsftpd, &why, "::1");
        if (!server)
            GTEST_SKIP() << "no vsftpd on ::1 here: " << why;
        ftp.SetHostName("::1");
        ftp.Target(server->PortText(), server->User(), server->Password());
        ftp.SetPassive(GetParam());
    }
    std::unique_ptr<testsupport::FtpTestServer> server;
    RecordingClient ftp;
    TempDir local;
};

TEST_P(Ipv6Transfers, GetAndPutAreByteForByteOverTheExtendedCommands)
{
    const std::string bytes = RandomBytes(700 * 1024 + 3, 7);
    WriteFile(server->Root() + "/down.bin", bytes);
    server->Share(server->Root() + "/down.bin");

    ASSERT_TRUE(ftp.Connect()) << ftp.ErrorMessage() << "\n" << ftp.Dialogue();
    EXPECT_TRUE(ftp.Features().Received);
    EXPECT_TRUE(ftp.Features().Epsv);
    ftp.SetHostFileName("down.bin");
    ftp.SetLocalFileName(local.File("down.bin"));
    ASSERT_TRUE(ftp.Get()) << ftp.ErrorMessage() << "\n" << ftp.Dialogue();
    EXPECT_EQ(ReadFile(local.File("down.bin")), bytes);

    const std::string up = RandomBytes(333 * 1024 + 11, 8);
    WriteFile(local.File("up.bin"), up);
    ftp.SetLocalFileName(local.File("up.bin"));
    ftp.SetHostFileName("up.bin");
    ASSERT_TRUE(ftp.Put()) << ftp.ErrorMessage() << "\n" << ftp.Dialogue();
    EXPECT_EQ(ReadFile(server->Root() + "/up.bin"), up);

    // On IPv6 only the extended forms exist: EPSV passive, EPRT active.
    const std::string dialogue = ftp.Dialogue();
    if (GetParam()) {
        EXPECT_NE(dialogue.find("> EPSV"), std::string::npos) << dialogue;
        EXPECT_EQ(dialogue.find("> PASV"), std::string::npos) << dialogue;
    } else {
        EXPECT_NE(dialogue.find("> EPRT |2|::1|"), std::string::npos) << dialogue;
        EXPECT_EQ(dialogue.find("> PORT"), std::string::npos) << dialogue;
    }
    // The listing of a folder with a space in its name, by changing into it.
    fs::create_directory(server->Root() + "/with space");
    WriteFile(server->Root() + "/with space/inner.txt", "x");
    server->Share(server->Root() + "/with space");
    ftp.displayFile.clear();
    ftp.SetDisplayFileFlag(true);
    ftp.SetLocalFileName("");
    ftp.SetHostFileName("with space");
    ASSERT_TRUE(ftp.Dir()) << ftp.Dialogue();
    EXPECT_NE(Joined(ftp.displayFile).find("inner.txt"), std::string::npos) << Joined(ftp.displayFile);
    ASSERT_TRUE(ftp.Pwd());
    EXPECT_EQ(ftp.DirResult(), server->Root()) << "the listing returned to where it started";
}

INSTANTIATE_TEST_SUITE_P(Modes, Ipv6Transfers, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "passive" : "active");
                         });

// --- vsftpd without utf8_filesystem: names as the file system holds them ---------------

// A default vsftpd offers no UTF8 in FEAT and passes the file system's
// bytes: UTF-8 names on a Linux server, now and then an old Latin-1 one.
// Auto shows the first as text and the second with its byte escaped, and
// every one of them goes back byte for byte.
TEST(VsftpdWithoutUtf8, AutoShowsUtf8NamesAndKeepsLatin1BytesThroughGetRenameAndDelete)
{
    std::string why;
    const auto server = testsupport::FtpTestServer::StartVsftpdWithoutUtf8(&why);
    if (!server)
        GTEST_SKIP() << "no vsftpd here: " << why;
    RecordingClient ftp;
    TempDir local;
    ftp.Target(server->PortText(), server->User(), server->Password());
    ftp.SetPassive(true);

    const std::string mueller = "M\xC3\xBCller.txt";
    const std::string japanese = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt";
    const std::string latin1 = "alt-\xFC.txt"; // not valid UTF-8
    const std::map<std::string, std::string> contents{
        {mueller, "mueller"}, {japanese, "nihongo"}, {latin1, "latin one"}};
    for (const auto& [name, bytes] : contents) {
        WriteFile(server->Root() + "/" + name, bytes);
        server->Share(server->Root() + "/" + name);
    }

    ASSERT_TRUE(ftp.Connect()) << ftp.ErrorMessage() << "\n" << ftp.Dialogue();
    EXPECT_TRUE(ftp.Features().Received);
    EXPECT_FALSE(ftp.Features().Utf8) << ftp.Dialogue();
    EXPECT_FALSE(ftp.Displayed("> OPTS UTF8 ON")) << "UTF8 was not offered";
    EXPECT_EQ(ftp.WireEncoding(), TFtpServerEncoding::Utf8);

    ftp.SetDisplayFileFlag(true);
    ASSERT_TRUE(ftp.Ls()) << ftp.Dialogue();
    const TFtpNameCodec codec(ftp.WireEncoding());
    std::vector<std::string> shown;
    for (const std::string& raw : ftp.displayFile)
        shown.push_back(codec.ToDisplay(raw));
    std::sort(shown.begin(), shown.end());
    const std::string latin1Shown = "alt-\xEE\xBF\xBC.txt"; // 0xFC as U+EFFC
    std::vector<std::string> expected{mueller, japanese, latin1Shown};
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(shown, expected) << Joined(ftp.displayFile);

    ftp.SetDisplayFileFlag(false);
    const std::map<std::string, std::string> rawOf{{mueller, mueller}, {japanese, japanese}, {latin1Shown, latin1}};
    int index = 0;
    for (const auto& [display, raw] : rawOf) {
        const std::string copy = local.File("copy" + std::to_string(index));
        ftp.SetHostFileName(display);
        ftp.SetLocalFileName(copy);
        ASSERT_TRUE(ftp.Get()) << display << "\n" << ftp.Dialogue();
        EXPECT_EQ(ReadFile(copy), contents.at(raw)) << display;

        const std::string renamedDisplay = "renamed-" + display;
        ftp.SetHostFileName(display);
        ftp.SetLocalFileName(renamedDisplay);
        ASSERT_TRUE(ftp.Ren()) << display << "\n" << ftp.Dialogue();
        EXPECT_FALSE(fs::exists(server->Root() + "/" + raw)) << display;
        ASSERT_TRUE(fs::exists(server->Root() + "/renamed-" + raw)) << display << "\n" << ftp.Dialogue();

        ftp.SetHostFileName(renamedDisplay);
        ASSERT_TRUE(ftp.Dele()) << display << "\n" << ftp.Dialogue();
        EXPECT_FALSE(fs::exists(server->Root() + "/renamed-" + raw)) << display;
        ++index;
    }
    EXPECT_TRUE(fs::is_empty(server->Root()));
}

// --- pyftpdlib: MLSD, UTF-8, MDTM, MFMT -----------------------------------------------

class ModernPyftpd : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why;
        server = testsupport::FtpTestServer::Start(Kind::Pyftpdlib, &why);
        if (!server)
            GTEST_SKIP() << "no pyftpdlib here: " << why;
        ftp.Target(server->PortText(), server->User(), server->Password());
        ftp.SetPassive(true);
    }
    std::unique_ptr<testsupport::FtpTestServer> server;
    RecordingClient ftp;
    TempDir local;
};

TEST_F(ModernPyftpd, MlsdListsUtf8NamesWithTheirFacts)
{
    const std::string root = server->Root();
    WriteFile(root + "/M\xC3\xBCller \xC3\x9C"
                     "bersicht.txt",
              "12345");
    WriteFile(root + "/\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt", "ab");
    fs::create_directory(root + "/with space");
    fs::create_directory(root + "/-dash");
    WriteFile(root + "/-dash/in-dash.txt", "d");
    WriteFile(root + "/with space/in-space.txt", "s");

    ASSERT_TRUE(ftp.Connect()) << ftp.Dialogue();
    EXPECT_EQ(ftp.LastResponse().substr(0, 3), "230") << "a login chain reports the login's reply";
    EXPECT_TRUE(ftp.Features().Mlst);
    EXPECT_TRUE(ftp.Features().Utf8);
    EXPECT_EQ(ftp.WireEncoding(), TFtpServerEncoding::Utf8);
    const auto commands = ftp.Commands();
    ASSERT_GE(commands.size(), 4u);
    EXPECT_EQ(commands[2], "FEAT");
    EXPECT_EQ(commands[3], "OPTS UTF8 ON");

    ftp.SetDisplayFileFlag(true);
    ftp.SetLocalFileName("");
    ftp.SetHostFileName("");
    ASSERT_TRUE(ftp.Mlsd()) << ftp.Dialogue();
    const std::string listing = Joined(ftp.displayFile);
    EXPECT_NE(listing.find("type=file;"), std::string::npos) << listing;
    EXPECT_NE(listing.find("size=5;"), std::string::npos) << listing;
    EXPECT_NE(listing.find(" M\xC3\xBCller \xC3\x9C"
                           "bersicht.txt"),
              std::string::npos)
        << listing;
    EXPECT_NE(listing.find(" \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt"), std::string::npos) << listing;
    EXPECT_NE(listing.find(" with space"), std::string::npos) << listing;

    // Folders named with a space or a leading dash list by changing into
    // them, and the session stays where it was.
    for (const auto& [dir, inner] : {std::pair<std::string, std::string>{"with space", "in-space.txt"},
                                     std::pair<std::string, std::string>{"-dash", "in-dash.txt"}}) {
        for (bool (TFtpClient::*list)() : {&TFtpClient::Dir, &TFtpClient::Ls, &TFtpClient::Mlsd}) {
            ftp.displayFile.clear();
            ftp.SetHostFileName(dir);
            ASSERT_TRUE((ftp.*list)()) << dir << "\n" << ftp.Dialogue();
            EXPECT_NE(Joined(ftp.displayFile).find(inner), std::string::npos) << dir << ": " << Joined(ftp.displayFile);
            ASSERT_TRUE(ftp.Pwd());
            EXPECT_EQ(ftp.DirResult(), "/");
        }
    }

    // A UTF-8 name downloads under its own name.
    ftp.SetDisplayFileFlag(false);
    ftp.SetHostFileName("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt");
    ftp.SetLocalFileName(local.File("jp.txt"));
    ASSERT_TRUE(ftp.Get()) << ftp.Dialogue();
    EXPECT_EQ(ReadFile(local.File("jp.txt")), "ab");
}

TEST_F(ModernPyftpd, DownloadsTakeTheServerTimeAndUploadsSetIt)
{
    const std::string root = server->Root();
    WriteFile(root + "/old.txt", "old");
    constexpr std::int64_t serverTime = 1234567890; // 2009-02-13 23:31:30 UTC
    SetModified(root + "/old.txt", serverTime);

    ASSERT_TRUE(ftp.Connect()) << ftp.Dialogue();
    EXPECT_TRUE(ftp.Features().Mdtm);
    EXPECT_TRUE(ftp.Features().Mfmt);
    ftp.SetHostFileName("old.txt");
    ftp.SetLocalFileName(local.File("old.txt"));
    ASSERT_TRUE(ftp.Get()) << ftp.Dialogue();
    EXPECT_EQ(ModifiedAt(local.File("old.txt")), serverTime);
    EXPECT_TRUE(ftp.Displayed("> MDTM old.txt"));

    constexpr std::int64_t localTime = 1300000000; // 2011-03-13 07:06:40 UTC
    WriteFile(local.File("new.txt"), "new");
    SetModified(local.File("new.txt"), localTime);
    ftp.SetLocalFileName(local.File("new.txt"));
    ftp.SetHostFileName("new.txt");
    ASSERT_TRUE(ftp.Put()) << ftp.Dialogue();
    EXPECT_TRUE(ftp.Displayed("> MFMT 20110313070640 new.txt")) << ftp.Dialogue();
    EXPECT_EQ(ModifiedAt(root + "/new.txt"), localTime);

    // Turned off, neither command is sent and the times are today's.
    ftp.SetPreserveTimes(false);
    ftp.display.clear();
    ftp.SetHostFileName("old.txt");
    ftp.SetLocalFileName(local.File("again.txt"));
    ASSERT_TRUE(ftp.Get());
    ftp.SetLocalFileName(local.File("new.txt"));
    ftp.SetHostFileName("new2.txt");
    ASSERT_TRUE(ftp.Put());
    EXPECT_FALSE(ftp.Displayed("> MDTM", true));
    EXPECT_FALSE(ftp.Displayed("> MFMT", true));
    EXPECT_NE(ModifiedAt(local.File("again.txt")), serverTime);
    EXPECT_NE(ModifiedAt(root + "/new2.txt"), localTime);
}

TEST_F(ModernPyftpd, NamesALatin1SessionCannotWriteAreRefusedNotMangled)
{
    ftp.SetServerEncoding(TFtpServerEncoding::Latin1);
    ASSERT_TRUE(ftp.Connect()) << ftp.Dialogue();
    EXPECT_EQ(ftp.WireEncoding(), TFtpServerEncoding::Latin1);
    EXPECT_FALSE(ftp.Displayed("> OPTS UTF8 ON")) << "Latin-1 was chosen: no UTF-8 asked for";
    ftp.SetHostFileName("\xE6\x97\xA5.txt");
    EXPECT_FALSE(ftp.Dele());
    EXPECT_EQ(ftp.StatusCode(), 501);
    EXPECT_FALSE(ftp.Displayed("> DELE", true)) << "nothing reached the server";
    EXPECT_TRUE(ftp.Pwd()) << "the session goes on";
}

} // namespace
