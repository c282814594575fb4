// tarvik-ftp's TLS options against vsftpd (TLS required for logins and data,
// sessions resumed) and the scripted FTPS server.

#include "ftpstestutil.h"
#include "support/ftpserver.h"

#include <gtest/gtest.h>

#include <QProcess>

#include <filesystem>

using testsupport::FtpTestServer;
namespace fs = std::filesystem;

namespace {

struct Result {
    int code;
    std::string out;
    std::string err;
};

Result Exec(const QStringList& args, const std::string& dir)
{
    QProcess p;
    p.setWorkingDirectory(QString::fromStdString(dir));
    p.start(TARVIK_FTP_PROGRAM, args);
    p.waitForFinished(60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput().toStdString(),
            p.readAllStandardError().toStdString()};
}

class FtpsCli : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        FtpTestServer::TlsOptions tls;
        tls.cert = tlstest::CertFile("good");
        tls.key = tlstest::KeyFile("good");
        server_ = FtpTestServer::Start(FtpTestServer::Kind::Vsftpd, tls, &whyNot_).release();
    }
    static void TearDownTestSuite()
    {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override
    {
        if (!server_)
            GTEST_SKIP() << "vsftpd not available: " << whyNot_;
    }

    // tarvik-ftp against the server at "localhost" with its credentials.
    Result Run(const QStringList& options, const QStringList& command)
    {
        QStringList all = {"--port",     QString::number(server_->Port()),
                           "--timeout",  "30",
                           "--user",     QString::fromStdString(server_->User()),
                           "--password", QString::fromStdString(server_->Password())};
        all << options << "localhost" << command;
        return Exec(all, local_.Path());
    }

    static FtpTestServer* server_;
    static std::string whyNot_;
    ftptest::TempDir local_;
};

FtpTestServer* FtpsCli::server_ = nullptr;
std::string FtpsCli::whyNot_;

TEST_F(FtpsCli, TlsWithTheTestAuthorityTransfersBothWays)
{
    const std::string ca = tlstest::CertFile("ca");
    const std::string bytes = ftptest::RandomBytes(700000, 5);
    ftptest::WriteFile(local_.File("up.bin"), bytes);
    for (const bool passive : {true, false}) {
        SCOPED_TRACE(passive ? "passive" : "active");
        QStringList opts{"--tls", "--cacert", QString::fromStdString(ca)};
        if (passive)
            opts << "--passive";
        Result r = Run(opts, {"put", QString::fromStdString(local_.File("up.bin")), "cli.bin"});
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(ftptest::ReadFile(server_->Root() + "/cli.bin"), bytes);
        r = Run(opts, {"get", "cli.bin", QString::fromStdString(local_.File("back.bin"))});
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(ftptest::ReadFile(local_.File("back.bin")), bytes);
        r = Run(opts << "-v", {"ls"});
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_NE(r.out.find("cli.bin"), std::string::npos);
        EXPECT_NE(r.err.find("! TLS connection: TLSv1."), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("TLS session resumed"), std::string::npos) << r.err;
        fs::remove(server_->Root() + "/cli.bin");
    }
}

TEST_F(FtpsCli, CertificateFailuresExitWithOneAndInsecureSaysSo)
{
    // The system's authorities do not know the test authority.
    Result r = Run({"--tls"}, {"pwd"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("TLS error: certificate rejected"), std::string::npos) << r.err;

    // The right authority but another name.
    QStringList all = {"--port",
                       QString::number(server_->Port()),
                       "--tls",
                       "--cacert",
                       QString::fromStdString(tlstest::CertFile("ca")),
                       "--user",
                       QString::fromStdString(server_->User()),
                       "--password",
                       QString::fromStdString(server_->Password()),
                       "127.0.0.2",
                       "pwd"};
    r = Exec(all, local_.Path());
    EXPECT_EQ(r.code, 1) << r.err;

    r = Run({"--tls", "--insecure"}, {"pwd"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("--insecure: the server's certificate is NOT verified"), std::string::npos) << r.err;

    // Clear text to a server that requires TLS: refused by the server.
    r = Run({}, {"pwd"});
    EXPECT_EQ(r.code, 1);
}

TEST_F(FtpsCli, RefusedTlsEndsOrFallsBackAsAsked)
{
    ftpstest::TFakeFtps fake;
    ASSERT_TRUE(fake.Start("refuse", "good"));
    QStringList base{"--port", QString::fromStdString(fake.PortText()), "--user", "u", "--password", "p"};
    Result r = Exec(QStringList(base) << "--tls"
                                      << "localhost"
                                      << "pwd",
                    local_.Path());
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("TLS required"), std::string::npos) << r.err;
    testsupport::RunFor(300);
    EXPECT_FALSE(fake.Received("USER"));

    r = Exec(QStringList(base) << "--tls-if-offered"
                               << "localhost"
                               << "pwd",
             local_.Path());
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("continuing WITHOUT encryption"), std::string::npos) << r.err;
    EXPECT_TRUE(testsupport::WaitFor([&] { return fake.Received("USER u"); }, 5000));

    r = Exec(QStringList(base) << "--tls"
                               << "--implicit-tls"
                               << "localhost"
                               << "pwd",
             local_.Path());
    EXPECT_EQ(r.code, 2);
}

} // namespace
