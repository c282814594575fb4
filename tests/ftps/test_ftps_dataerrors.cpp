// TLS failures on data connections against a scripted server (ftpsdatafake.py):
// each transfer fails, both ways, with a text that says which step of the
// data connection's TLS failed, never a clear-text receive or send error.

#include "ftpstestutil.h"

#include <gtest/gtest.h>

using ftptest::RecordingClient;
using ftptest::TempDir;

namespace {

// The scripted server; `dataCert` is the certificate its data connections
// present in the "othercert" mode.
class TDataFake {
public:
    ~TDataFake()
    {
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    bool Start(const std::string& mode, const std::string& dataCert = "good")
    {
        const auto q = [](const std::string& s) { return QString::fromStdString(s); };
        return tlstest::StartPythonPeer(process_, FTPS_TEST_DIR "/ftpsdatafake.py",
                                        {q(mode), q(tlstest::CertFile("good")), q(tlstest::KeyFile("good")),
                                         q(tlstest::CertFile(dataCert)), q(tlstest::KeyFile(dataCert))},
                                        port_);
    }
    std::string PortText() const { return std::to_string(port_); }

private:
    QProcess process_;
    int port_ = 0;
};

struct Outcome {
    bool ok = true;
    int error = 0;
    std::string message;
    std::string dialogue;
};

// One RETR or STOR of 200000 bytes over explicit FTPS, passive.
Outcome Transfer(const TDataFake& server, bool upload)
{
    RecordingClient c;
    c.SetHostName("localhost");
    c.Target(server.PortText(), "user", "secret");
    c.SetPassive(true);
    c.SetBinary(true);
    ftpstest::UseTls(c, TFtpEncryption::ExplicitRequired);
    Outcome out;
    if (!c.Connect()) {
        out.ok = false;
        out.message = "no login: " + c.ErrorMessage();
        return out;
    }
    TempDir dir;
    if (upload)
        ftptest::WriteFile(dir.File("file.bin"), ftptest::RandomBytes(200000, 5));
    c.SetHostFileName("file.bin");
    c.SetLocalFileName(dir.File("file.bin"));
    c.done.clear();
    out.ok = upload ? c.Put() : c.Get();
    out.error = c.done.empty() ? -1 : c.done.back().error;
    out.message = c.ErrorMessage();
    out.dialogue = c.Dialogue();
    return out;
}

class FtpsDataErrors : public ::testing::Test {
protected:
    void SetUp() override { ftpstest::IsolateSettings(); }

    // Both directions fail with a text that starts with `start`.
    static void ExpectFailure(const std::string& mode, const std::string& start, const std::string& dataCert = "good")
    {
        for (const bool upload : {false, true}) {
            SCOPED_TRACE(mode + (upload ? " upload" : " download"));
            TDataFake server;
            ASSERT_TRUE(server.Start(mode, dataCert));
            const Outcome out = Transfer(server, upload);
            EXPECT_FALSE(out.ok) << out.dialogue;
            EXPECT_NE(out.error, 0) << out.dialogue;
            EXPECT_EQ(out.message.rfind(start, 0), 0u) << out.message << "\n" << out.dialogue;
            EXPECT_EQ(out.message.find("Error receiving data"), std::string::npos) << out.message;
            EXPECT_EQ(out.message.find("Error sending data"), std::string::npos) << out.message;
        }
    }
};

TEST_F(FtpsDataErrors, AFailedHandshakeIsNamedAsSuch)
{
    // The server's alert is the reason given.
    ExpectFailure("handshake", "TLS handshake of the data connection failed: ");
}

TEST_F(FtpsDataErrors, ADataCertificateOtherThanTheControlConnectionsIsRefused)
{
    // Issued by the trusted authority, but not the certificate accepted for
    // the control connection.
    ExpectFailure("othercert",
                  "Certificate of the data connection does not match the control connection's: ", "wrongname");
}

TEST_F(FtpsDataErrors, ASessionNotResumedGivesTheServersAnswer)
{
    ExpectFailure("noreuse", "TLS session of the data connection not resumed; the server answered: 425 ");
}

TEST_F(FtpsDataErrors, ABrokenRecordMidTransferSaysWhichWay)
{
    {
        TDataFake server;
        ASSERT_TRUE(server.Start("break"));
        const Outcome out = Transfer(server, false);
        EXPECT_FALSE(out.ok);
        EXPECT_EQ(out.message.rfind("TLS error on the data connection while receiving: ", 0), 0u) << out.message;
    }
    {
        // The upload sees the broken record while it sends, or the reset
        // that follows it; either way it fails, and never as a receive.
        TDataFake server;
        ASSERT_TRUE(server.Start("break"));
        const Outcome out = Transfer(server, true);
        EXPECT_FALSE(out.ok) << out.dialogue;
        EXPECT_NE(out.error, 0);
        EXPECT_EQ(out.message.find("receiv"), std::string::npos) << out.message;
    }
}

} // namespace
