// Behaviour of FEAT, EPSV, CWD-then-LIST and name encodings that needs a
// server no real one imitates on demand, played by a scripted server.

#include "ftp/ftpnamecodec.h"
#include "ftpfakeserver.h"
#include "ftptestutil.h"

#include <gtest/gtest.h>

using namespace ftptest;

namespace {

// Greeting, USER/PASS, then FEAT answered with `features` (empty: refused).
bool Login(FakeSession& s, FakeFtpServer& server, const std::vector<std::string>& features)
{
    s.SetRfc959Only(false);
    s.Reply("220 fake ready");
    if (s.ReadLine() != "USER u")
        return server.Fail("expected USER"), false;
    s.Reply("331 password please");
    if (s.ReadLine() != "PASS p")
        return server.Fail("expected PASS"), false;
    s.Reply("230 in");
    if (s.ReadLine() != "FEAT")
        return server.Fail("expected FEAT after login"), false;
    if (features.empty()) {
        s.Reply("500 'FEAT': command not understood.");
        return true;
    }
    s.Reply("211-Features:");
    for (const auto& f : features)
        s.Reply(" " + f);
    s.Reply("211 End");
    return true;
}

std::string PasvReply(int port)
{
    return "227 Entering Passive Mode (10,9,8,7," + std::to_string(port / 256) + "," + std::to_string(port % 256) + ")";
}

// Plays the passive data connection for a transfer command: `payload` is
// sent and the transfer completed.
void ServeData(FakeSession& s, const std::string& payload)
{
    s.Reply("150 here it comes");
    if (!s.AcceptData())
        return;
    s.SendData(payload);
    s.CloseData();
    s.Reply("226 done");
}

class ModernFake : public ::testing::Test {
protected:
    void Use(FakeFtpServer& server)
    {
        ftp.Target(server.PortText(), "u", "p");
        ftp.SetPassive(true);
    }
    RecordingClient ftp;
    TempDir local;
};

TEST_F(ModernFake, ARefusedEpsvFallsBackToPasvForTheRestOfTheSession)
{
    std::vector<std::string> seen;
    FakeFtpServer server([&](FakeSession& s) {
        if (!Login(s, server, {"EPSV", "MDTM"}))
            return;
        for (std::string line = s.ReadLine(); !line.empty(); line = s.ReadLine()) {
            seen.push_back(line);
            if (line == "EPSV") {
                s.Reply("502 EPSV not here");
            } else if (line == "PASV") {
                // The address in the reply is not ours: the client must use
                // the control connection's.
                s.Reply(PasvReply(s.ListenData()));
            } else if (line == "NLST") {
                ServeData(s, "a\r\nb\r\n");
            } else if (line == "QUIT") {
                s.Reply("221 bye");
                return;
            } else {
                s.Reply("500 unexpected");
            }
        }
    });
    Use(server);
    ASSERT_TRUE(ftp.Connect()) << ftp.Dialogue();
    EXPECT_TRUE(ftp.Features().Epsv);
    EXPECT_FALSE(ftp.Displayed("> OPTS UTF8 ON")) << "no UTF8 in FEAT";
    ftp.SetDisplayFileFlag(true);
    ASSERT_TRUE(ftp.Ls()) << ftp.ErrorMessage() << "\n" << ftp.Dialogue();
    EXPECT_TRUE(ftp.ErrorMessage().empty()) << "the refusal was no failure: " << ftp.ErrorMessage();
    ASSERT_TRUE(ftp.Ls()) << ftp.Dialogue();
    ftp.Quit();
    testsupport::WaitFor([&] { return server.Finished(); });
    EXPECT_EQ(seen, (std::vector<std::string>{"EPSV", "PASV", "NLST", "PASV", "NLST", "QUIT"}));
    EXPECT_EQ(ftp.displayFile, (std::vector<std::string>{"a", "b", "a", "b"}));
    EXPECT_TRUE(server.Failures().empty()) << server.Failures();
}

TEST_F(ModernFake, ARefusedFeatIsNoErrorAndNamesReadAsUtf8WithLatin1BytesKept)
{
    // No FEAT at all: Auto still reads UTF-8, a Latin-1 byte keeps its
    // escape and both names go back exactly as listed.
    const std::string latin1 = "M\xFCller.txt";
    const std::string utf8 = "M\xC3\xBCller \xE6\x97\xA5.txt";
    std::vector<std::string> seen;
    FakeFtpServer server([&](FakeSession& s) {
        if (!Login(s, server, {}))
            return;
        for (std::string line = s.ReadLine(); !line.empty(); line = s.ReadLine()) {
            seen.push_back(line);
            if (line == "EPSV") {
                s.Reply("500 what?");
            } else if (line == "PASV") {
                s.Reply(PasvReply(s.ListenData()));
            } else if (line == "NLST") {
                ServeData(s, latin1 + "\r\n" + utf8 + "\r\n");
            } else if (line.rfind("DELE ", 0) == 0) {
                s.Reply("250 deleted");
            } else {
                s.Reply("500 unexpected");
            }
        }
    });
    Use(server);
    ASSERT_TRUE(ftp.Connect()) << ftp.Dialogue();
    EXPECT_FALSE(ftp.Features().Received);
    EXPECT_EQ(ftp.StatusCode(), 230);
    EXPECT_EQ(ftp.WireEncoding(), TFtpServerEncoding::Utf8);
    EXPECT_FALSE(ftp.Displayed("> OPTS UTF8 ON")) << "the server did not offer UTF8";
    ftp.SetDisplayFileFlag(true);
    ASSERT_TRUE(ftp.Ls()) << ftp.Dialogue();
    ASSERT_EQ(ftp.displayFile.size(), 2u);
    const TFtpNameCodec codec(ftp.WireEncoding());
    const std::string shownLatin1 = codec.ToDisplay(ftp.displayFile[0]);
    const std::string shownUtf8 = codec.ToDisplay(ftp.displayFile[1]);
    EXPECT_EQ(shownLatin1, "M\xEE\xBF\xBCller.txt") << "0xFC shows as its escape U+EFFC";
    EXPECT_EQ(shownUtf8, utf8);
    for (const std::string& shown : {shownLatin1, shownUtf8}) {
        ftp.SetHostFileName(shown);
        ASSERT_TRUE(ftp.Dele()) << ftp.Dialogue();
    }
    ftp.AbortAsync();
    testsupport::WaitFor([&] { return server.Finished(); });
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen[seen.size() - 2], "DELE " + latin1) << "the byte went back unchanged";
    EXPECT_EQ(seen.back(), "DELE " + utf8);
}

TEST_F(ModernFake, AFolderWithASpaceIsListedFromInsideOnAServerThatSplitsArguments)
{
    std::vector<std::string> seen;
    FakeFtpServer server([&](FakeSession& s) {
        if (!Login(s, server, {"EPSV", "UTF8"}))
            return;
        std::string cwd = "/home";
        for (std::string line = s.ReadLine(); !line.empty(); line = s.ReadLine()) {
            seen.push_back(line);
            if (line == "OPTS UTF8 ON") {
                s.Reply("200 ok");
            } else if (line == "PWD") {
                s.Reply("257 \"" + cwd + "\" is current");
            } else if (line.rfind("CWD ", 0) == 0) {
                const std::string to = line.substr(4);
                cwd = to[0] == '/' ? to : cwd + "/" + to;
                s.Reply("250 ok");
            } else if (line == "EPSV") {
                s.Reply("229 Extended (|||" + std::to_string(s.ListenData()) + "|)");
            } else if (line.rfind("LIST", 0) == 0) {
                // This server splits arguments at spaces: "LIST a b" lists
                // "a" and "b". Without an argument it lists the folder.
                if (line != "LIST")
                    ServeData(s, "ls: cannot access 'with': No such file\r\n");
                else
                    ServeData(s, "-rw-r--r-- 1 o g 3 Jan 01 2025 " + cwd.substr(cwd.rfind('/') + 1) + ".txt\r\n");
            } else {
                s.Reply("500 unexpected");
            }
        }
    });
    Use(server);
    ASSERT_TRUE(ftp.Connect()) << ftp.Dialogue();
    ftp.SetDisplayFileFlag(true);
    ftp.SetHostFileName("with space");
    ASSERT_TRUE(ftp.Dir()) << ftp.Dialogue();
    EXPECT_EQ(ftp.displayFile, (std::vector<std::string>{"-rw-r--r-- 1 o g 3 Jan 01 2025 with space.txt"}));
    ftp.AbortAsync();
    testsupport::WaitFor([&] { return server.Finished(); });
    EXPECT_EQ(seen, (std::vector<std::string>{"OPTS UTF8 ON", "PWD", "CWD with space", "EPSV", "LIST", "CWD /home"}));
    EXPECT_TRUE(server.Failures().empty()) << server.Failures();
}

TEST_F(ModernFake, ANameThatIsNoFolderIsListedByNameAndADashIsNoOption)
{
    std::vector<std::string> seen;
    FakeFtpServer server([&](FakeSession& s) {
        if (!Login(s, server, {"EPSV"}))
            return;
        for (std::string line = s.ReadLine(); !line.empty(); line = s.ReadLine()) {
            seen.push_back(line);
            if (line == "PWD") {
                s.Reply("257 \"/\"");
            } else if (line.rfind("CWD ", 0) == 0) {
                s.Reply("550 not a folder");
            } else if (line == "EPSV") {
                s.Reply("229 Extended (|||" + std::to_string(s.ListenData()) + "|)");
            } else if (line.rfind("LIST ", 0) == 0) {
                ServeData(s, "-rw-r--r-- 1 o g 3 Jan 01 2025 -la\r\n");
            } else {
                s.Reply("500 unexpected");
            }
        }
    });
    Use(server);
    ASSERT_TRUE(ftp.Connect()) << ftp.Dialogue();
    ftp.SetDisplayFileFlag(true);
    ftp.SetHostFileName("-la");
    ASSERT_TRUE(ftp.Dir()) << ftp.Dialogue();
    EXPECT_TRUE(ftp.ErrorMessage().empty()) << ftp.ErrorMessage();
    ftp.AbortAsync();
    testsupport::WaitFor([&] { return server.Finished(); });
    EXPECT_EQ(seen, (std::vector<std::string>{"PWD", "CWD -la", "EPSV", "LIST ./-la"}));
}

TEST_F(ModernFake, BytesInvalidInUtf8SurviveDownloadRenameAndDelete)
{
    const std::string raw = "caf\xE9 men\xFC.txt"; // Latin-1 bytes on a UTF-8 server
    std::vector<std::string> seen;
    FakeFtpServer server([&](FakeSession& s) {
        if (!Login(s, server, {"EPSV", "UTF8"}))
            return;
        for (std::string line = s.ReadLine(); !line.empty(); line = s.ReadLine()) {
            seen.push_back(line);
            if (line == "OPTS UTF8 ON") {
                s.Reply("200 ok");
            } else if (line == "EPSV") {
                s.Reply("229 Extended (|||" + std::to_string(s.ListenData()) + "|)");
            } else if (line == "NLST") {
                ServeData(s, raw + "\r\n");
            } else if (line == "RETR " + raw) {
                ServeData(s, "content");
            } else if (line == "RNFR " + raw) {
                s.Reply("350 ready");
            } else if (line.rfind("RNTO ", 0) == 0) {
                s.Reply("250 renamed");
            } else if (line == "DELE " + raw) {
                s.Reply("250 deleted");
            } else {
                s.Reply("550 no such file");
            }
        }
    });
    Use(server);
    ASSERT_TRUE(ftp.Connect()) << ftp.Dialogue();
    EXPECT_EQ(ftp.WireEncoding(), TFtpServerEncoding::Utf8);
    ftp.SetDisplayFileFlag(true);
    ASSERT_TRUE(ftp.Ls());
    ASSERT_EQ(ftp.displayFile.size(), 1u);
    const std::string shown = TFtpNameCodec(ftp.WireEncoding()).ToDisplay(ftp.displayFile[0]);
    EXPECT_TRUE(IsValidUtf8(shown));
    EXPECT_NE(shown, raw);

    ftp.SetDisplayFileFlag(false);
    ftp.SetHostFileName(shown);
    ftp.SetLocalFileName(local.File("menu.txt"));
    ASSERT_TRUE(ftp.Get()) << ftp.Dialogue();
    EXPECT_EQ(ReadFile(local.File("menu.txt")), "content");
    ftp.SetLocalFileName("caf\xC3\xA9.txt");
    ASSERT_TRUE(ftp.Ren()) << ftp.Dialogue();
    ASSERT_TRUE(ftp.Dele()) << ftp.Dialogue();
    ftp.AbortAsync();
    testsupport::WaitFor([&] { return server.Finished(); });
    const std::vector<std::string> expected = {
        "OPTS UTF8 ON", "EPSV", "NLST", "EPSV", "RETR " + raw, "RNFR " + raw, "RNTO caf\xC3\xA9.txt", "DELE " + raw};
    EXPECT_EQ(seen, expected);
}

TEST_F(ModernFake, ALostConnectionDuringFeatFailsTheLogin)
{
    FakeFtpServer server([&](FakeSession& s) {
        s.SetRfc959Only(false);
        s.Reply("220 fake ready");
        s.ReadLine();
        s.Reply("230 no password needed");
        s.ReadLine();
        s.Reply("421 going away");
        s.Close();
    });
    Use(server);
    EXPECT_FALSE(ftp.Connect());
    EXPECT_EQ(ftp.StatusCode(), 421);
    EXPECT_FALSE(ftp.done.empty());
    EXPECT_NE(ftp.done.back().error, 0);
}

} // namespace
