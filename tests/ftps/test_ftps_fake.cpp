// FTPS against the scripted server: refusals of AUTH TLS, certificates that
// fail verification (and the answers to the question about them), and data
// connections that break in the middle of a transfer.

#include "ftpstestutil.h"

#include <gtest/gtest.h>

#include <algorithm>

using ftpstest::TFakeFtps;
using ftptest::RecordingClient;
using ftptest::TempDir;

namespace {

class FtpsFake : public ::testing::Test {
protected:
    void SetUp() override { ftpstest::IsolateSettings(); }

    // A client for the scripted server at "localhost" (the name the test
    // certificates carry), passive, binary.
    static void Aim(RecordingClient& c, const TFakeFtps& server, TFtpEncryption encryption, bool trustTestCa = true)
    {
        c.SetHostName("localhost");
        c.Target(server.PortText(), "user", "secret");
        c.SetPassive(true);
        c.SetBinary(true);
        ftpstest::UseTls(c, encryption, trustTestCa);
    }
};

TEST_F(FtpsFake, RequiredTlsRefusedEndsTheSessionBeforeTheLogin)
{
    // A refusal (534) and an answer that is no refusal at all (230 without
    // TLS) both end a session that requires TLS, with neither USER nor PASS
    // on the wire.
    for (const std::string mode : {"refuse", "login230"}) {
        SCOPED_TRACE(mode);
        TFakeFtps server;
        ASSERT_TRUE(server.Start(mode, "good"));
        RecordingClient c;
        Aim(c, server, TFtpEncryption::ExplicitRequired);
        EXPECT_FALSE(c.Connect());
        EXPECT_NE(c.ErrorMessage().find("TLS required"), std::string::npos) << c.ErrorMessage();
        ASSERT_TRUE(testsupport::WaitFor([&] { return !c.Connected(); }, 5000));
        testsupport::RunFor(200);
        EXPECT_TRUE(server.Received("AUTH TLS"));
        EXPECT_FALSE(server.Received("USER"));
        EXPECT_FALSE(server.Received("PASS"));
        EXPECT_FALSE(c.ControlTlsActive());
    }
}

TEST_F(FtpsFake, TlsIfOfferedFallsBackOnlyOnARefusal)
{
    {
        TFakeFtps server;
        ASSERT_TRUE(server.Start("refuse", "good"));
        RecordingClient c;
        Aim(c, server, TFtpEncryption::ExplicitIfOffered);
        ASSERT_TRUE(c.Connect()) << c.Dialogue();
        EXPECT_TRUE(c.Displayed("! The server refused AUTH TLS: continuing WITHOUT encryption"));
        EXPECT_FALSE(c.ControlTlsActive());
        EXPECT_FALSE(c.DataProtected());
        EXPECT_TRUE(server.Received("USER user"));
        EXPECT_FALSE(server.Received("PBSZ"));
        EXPECT_TRUE(c.Quit());
    }
    {
        // "230" to AUTH is no refusal: nothing is sent in clear text.
        TFakeFtps server;
        ASSERT_TRUE(server.Start("login230", "good"));
        RecordingClient c;
        Aim(c, server, TFtpEncryption::ExplicitIfOffered);
        EXPECT_FALSE(c.Connect());
        testsupport::RunFor(200);
        EXPECT_FALSE(server.Received("USER"));
    }
}

TEST_F(FtpsFake, UserIsNotSentInClearTextWhenTlsIsRequired)
{
    // Open alone, then USER without AUTH: refused by the client itself.
    TFakeFtps server;
    ASSERT_TRUE(server.Start("normal", "good"));
    RecordingClient c;
    Aim(c, server, TFtpEncryption::ExplicitRequired);
    c.OnError = [](TCustomFtpCli*, std::string&) {};
    ASSERT_TRUE(c.Open());
    EXPECT_FALSE(c.User());
    testsupport::RunFor(200);
    EXPECT_FALSE(server.Received("USER"));
    ASSERT_TRUE(c.Auth());
    EXPECT_TRUE(c.ControlTlsActive());
    EXPECT_TRUE(c.User());
    EXPECT_TRUE(c.Pass());
    EXPECT_TRUE(c.Protect());
    EXPECT_TRUE(c.DataProtected());
    EXPECT_TRUE(c.Quit());
}

TEST_F(FtpsFake, CertificatesThatFailVerificationAreRefusedWithoutAQuestion)
{
    for (const std::string cert : {"wrongname", "expired", "self"}) {
        SCOPED_TRACE(cert);
        TFakeFtps server;
        ASSERT_TRUE(server.Start("normal", cert));
        RecordingClient c;
        Aim(c, server, TFtpEncryption::ExplicitRequired);
        EXPECT_FALSE(c.Connect());
        EXPECT_NE(c.ErrorMessage().find("TLS error: certificate rejected"), std::string::npos) << c.ErrorMessage();
        testsupport::RunFor(200);
        EXPECT_FALSE(server.Received("USER"));
    }
}

TEST_F(FtpsFake, TheCertificateQuestionDecidesAndAlwaysIsRemembered)
{
    TFakeFtps server;
    ASSERT_TRUE(server.Start("normal", "self"));
    std::vector<TSslTrustQuestion> asked;
    auto answering = [&](RecordingClient& c, TSslTrustAnswer answer) {
        c.OnCertificateCheck = [&asked, answer](TCustomFtpCli*, const TSslTrustQuestion& q) {
            asked.push_back(q);
            return answer;
        };
    };
    {
        RecordingClient c;
        Aim(c, server, TFtpEncryption::ExplicitRequired);
        answering(c, sslTrustCancel);
        EXPECT_FALSE(c.Connect());
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_EQ(asked[0].Host, "localhost");
        EXPECT_EQ(asked[0].Port, server.PortText());
        EXPECT_TRUE(asked[0].Cert.SelfSigned);
        EXPECT_FALSE(asked[0].Cert.VerifyReason.empty());
        EXPECT_TRUE(asked[0].StoredFingerprint.empty());
    }
    {
        // Once: this session, data connections included; not remembered.
        RecordingClient c;
        Aim(c, server, TFtpEncryption::ExplicitRequired);
        answering(c, sslTrustOnce);
        ASSERT_TRUE(c.Connect()) << c.Dialogue();
        TempDir dir;
        c.SetHostFileName("file.bin");
        c.SetLocalFileName(dir.File("file.bin"));
        ASSERT_TRUE(c.Get()) << c.Dialogue();
        EXPECT_EQ(ftptest::ReadFile(dir.File("file.bin")), ftpstest::FakeFileBytes());
        EXPECT_EQ(asked.size(), 2u);
        EXPECT_TRUE(c.Quit());
        EXPECT_EQ(TSslTrustStore::Fingerprint("localhost", server.PortText()), "");
    }
    {
        RecordingClient c;
        Aim(c, server, TFtpEncryption::ExplicitRequired);
        answering(c, sslTrustAlways);
        ASSERT_TRUE(c.Connect()) << c.Dialogue();
        EXPECT_EQ(asked.size(), 3u);
        EXPECT_TRUE(c.Quit());
        EXPECT_EQ(TSslTrustStore::Fingerprint("localhost", server.PortText()), asked.back().Cert.Fingerprint);
    }
    {
        // Remembered: no question.
        RecordingClient c;
        Aim(c, server, TFtpEncryption::ExplicitRequired);
        ASSERT_TRUE(c.Connect()) << c.Dialogue();
        EXPECT_TRUE(c.Quit());
        EXPECT_EQ(asked.size(), 3u);
    }
    {
        // The same host and port with another certificate: a loud warning
        // with both fingerprints, and the question says what was trusted.
        const std::string trusted = asked.back().Cert.Fingerprint;
        TFakeFtps changed;
        ASSERT_TRUE(changed.Start("normal", "self2"));
        TSslTrustStore::Trust("localhost", changed.PortText(), trusted);
        RecordingClient c;
        Aim(c, changed, TFtpEncryption::ExplicitRequired);
        answering(c, sslTrustCancel);
        EXPECT_FALSE(c.Connect());
        ASSERT_EQ(asked.size(), 4u);
        EXPECT_EQ(asked.back().StoredFingerprint, trusted);
        EXPECT_NE(asked.back().Cert.Fingerprint, trusted);
        EXPECT_TRUE(c.Displayed("! WARNING: the certificate of localhost:" + changed.PortText() + " CHANGED", true))
            << c.Dialogue();
        EXPECT_EQ(TSslTrustStore::Fingerprint("localhost", changed.PortText()), trusted);
    }
}

TEST_F(FtpsFake, InsecureModeAcceptsAnyCertificateAndSaysSo)
{
    TFakeFtps server;
    ASSERT_TRUE(server.Start("normal", "wrongname"));
    RecordingClient c;
    Aim(c, server, TFtpEncryption::ExplicitRequired, false);
    c.SetSslVerifyPeer(false);
    ASSERT_TRUE(c.Connect()) << c.Dialogue();
    EXPECT_TRUE(c.Displayed("! Certificate NOT verified (insecure mode)", true));
    EXPECT_TRUE(c.Quit());
}

TEST_F(FtpsFake, ABrokenTlsDataConnectionFailsTheTransfer)
{
    // The server answers 226 after breaking the data connection: a TLS
    // alert in place of a record, or a cut without close_notify. Neither
    // is a complete file.
    for (const std::string mode : {"alert", "cut"}) {
        SCOPED_TRACE(mode);
        TFakeFtps server;
        ASSERT_TRUE(server.Start(mode, "good"));
        RecordingClient c;
        Aim(c, server, TFtpEncryption::ExplicitRequired);
        ASSERT_TRUE(c.Connect()) << c.Dialogue();
        TempDir dir;
        c.SetHostFileName("file.bin");
        c.SetLocalFileName(dir.File("file.bin"));
        c.done.clear();
        EXPECT_FALSE(c.Get()) << c.Dialogue();
        ASSERT_FALSE(c.done.empty());
        EXPECT_NE(c.done.back().error, 0);
        EXPECT_NE(c.ErrorMessage(), "");
        EXPECT_LT(ftptest::ReadFile(dir.File("file.bin")).size(), ftpstest::FakeFileBytes().size());
        if (std::string(mode) == "cut") {
            EXPECT_NE(c.ErrorMessage().find("close_notify"), std::string::npos) << c.ErrorMessage();
        }
    }
}

} // namespace
