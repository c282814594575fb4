// FTPS against real servers: vsftpd requiring TLS for logins and data and
// the resumption of the control connection's session on every data
// connection, and pyftpdlib's TLS handler; explicit and implicit, passive
// and active, TLS 1.2 and 1.3. Every file is compared byte for byte.

#include "ftpstestutil.h"
#include "support/ftpserver.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

using ftptest::RecordingClient;
using ftptest::TempDir;
using testsupport::FtpTestServer;
namespace fs = std::filesystem;

namespace {

enum class Tls {
    Default,
    V12,
    V13
};

struct Case {
    FtpTestServer::Kind kind;
    bool implicit;
    bool passive;
    Tls version;
};

std::string CaseName(const ::testing::TestParamInfo<Case>& info)
{
    const Case& c = info.param;
    std::string name = c.kind == FtpTestServer::Kind::Vsftpd ? "vsftpd" : "pyftpdlib";
    name += c.implicit ? "_implicit" : "_explicit";
    name += c.passive ? "_passive" : "_active";
    name += c.version == Tls::V12 ? "_tls12" : c.version == Tls::V13 ? "_tls13" : "";
    return name;
}

// One server per kind and TLS style for the whole program.
FtpTestServer* Server(FtpTestServer::Kind kind, bool implicit, std::string* why)
{
    static std::map<std::pair<int, bool>, std::unique_ptr<FtpTestServer>> servers;
    auto& slot = servers[{int(kind), implicit}];
    if (!slot) {
        FtpTestServer::TlsOptions tls;
        tls.cert = tlstest::CertFile("good");
        tls.key = tlstest::KeyFile("good");
        tls.implicit = implicit;
        slot = FtpTestServer::Start(kind, tls, why);
    }
    return slot.get();
}

class FtpsServers : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override
    {
        ftpstest::IsolateSettings();
        const Case& p = GetParam();
        std::string why;
        server = Server(p.kind, p.implicit, &why);
        if (!server)
            GTEST_SKIP() << "no server here: " << why;
        c.SetHostName("localhost");
        c.Target(server->PortText(), server->User(), server->Password());
        c.SetPassive(p.passive);
        ftpstest::UseTls(c, p.implicit ? TFtpEncryption::Implicit : TFtpEncryption::ExplicitRequired);
        if (p.version == Tls::V12)
            c.SetSslMaxVersion(sslTls12);
        if (p.version == Tls::V13)
            c.SetSslMinVersion(sslTls13);
        dirName = "d_" + CaseName({p, 0});
        dirPath = server->Root() + "/" + dirName;
        fs::remove_all(dirPath);
        fs::create_directory(dirPath);
        server->Share(dirPath);
    }

    void TearDown() override
    {
        if (c.Connected())
            c.Abort();
        if (!dirPath.empty())
            fs::remove_all(dirPath);
    }

    FtpTestServer* server = nullptr;
    RecordingClient c;
    std::string dirName;
    std::string dirPath;
};

TEST_P(FtpsServers, LoginListPutGetRegetByteForByte)
{
    const Case& p = GetParam();
    ASSERT_TRUE(c.Connect()) << c.Dialogue() << server->Log();
    EXPECT_TRUE(c.ControlTlsActive());
    EXPECT_TRUE(c.DataProtected());
    const std::string version = p.version == Tls::V12 ? "TLSv1.2" : "TLSv1.3";
    EXPECT_TRUE(c.Displayed("! TLS connection: " + version + ", cipher ", true)) << c.Dialogue();
    EXPECT_TRUE(c.Displayed("! Certificate verified: CN=localhost"));
    c.SetHostDirName(dirName);
    ASSERT_TRUE(c.Cwd()) << c.Dialogue();
    ASSERT_TRUE(c.TypeBinary());

    TempDir local;
    const std::string bytes = ftptest::RandomBytes(1536 * 1024 + 77, 13);
    ftptest::WriteFile(local.File("up.bin"), bytes);
    c.SetLocalFileName(local.File("up.bin"));
    c.SetHostFileName("up.bin");
    c.progress.clear();
    c.OnProgress = [this](TCustomFtpCli*, std::int64_t count, bool&) { c.progress.push_back(count); };
    ASSERT_TRUE(c.Put()) << c.Dialogue();
    // Progress and the byte count are file bytes, not TLS records.
    EXPECT_EQ(c.ByteCount(), std::int64_t(bytes.size()));
    for (const std::int64_t n : c.progress)
        EXPECT_LE(n, std::int64_t(bytes.size()));
    EXPECT_EQ(ftptest::ReadFile(dirPath + "/up.bin"), bytes);

    c.SetLocalFileName(local.File("down.bin"));
    ASSERT_TRUE(c.Get()) << c.Dialogue();
    EXPECT_EQ(c.ByteCount(), std::int64_t(bytes.size()));
    EXPECT_EQ(ftptest::ReadFile(local.File("down.bin")), bytes);

    // Resume a download cut at 600000 bytes.
    ftptest::WriteFile(local.File("part.bin"), bytes.substr(0, 600000));
    c.SetLocalFileName(local.File("part.bin"));
    ASSERT_TRUE(c.RestGet()) << c.Dialogue();
    EXPECT_EQ(ftptest::ReadFile(local.File("part.bin")), bytes);

    c.SetHostFileName("");
    c.SetLocalFileName("");
    c.SetDisplayFileFlag(true);
    c.displayFile.clear();
    ASSERT_TRUE(c.Dir()) << c.Dialogue();
    c.SetDisplayFileFlag(false);
    bool listed = false;
    for (const std::string& line : c.displayFile)
        listed = listed || line.find("up.bin") != std::string::npos;
    EXPECT_TRUE(listed);

    // vsftpd refuses data connections that do not resume the session.
    EXPECT_TRUE(c.Displayed("! Data connection: " + version + ", TLS session resumed")) << c.Dialogue();
    if (p.kind == FtpTestServer::Kind::Vsftpd) {
        EXPECT_FALSE(c.Displayed("! Data connection: " + version + ", new TLS session"));
    }
    EXPECT_TRUE(c.Quit());
}

TEST_P(FtpsServers, UntrustedCertificateEndsTheSessionBeforeTheLogin)
{
    c.SetSslCAFile("");
    EXPECT_FALSE(c.Connect());
    EXPECT_NE(c.ErrorMessage().find("TLS error: certificate rejected"), std::string::npos) << c.Dialogue();
    EXPECT_TRUE(c.Commands().empty() || c.Commands() == std::vector<std::string>{"AUTH TLS"}) << c.Dialogue();
}

using K = FtpTestServer::Kind;
INSTANTIATE_TEST_SUITE_P(
    , FtpsServers,
    ::testing::Values(Case{K::Vsftpd, false, true, Tls::Default}, Case{K::Vsftpd, false, false, Tls::Default},
                      Case{K::Vsftpd, false, true, Tls::V12}, Case{K::Vsftpd, false, false, Tls::V12},
                      Case{K::Vsftpd, false, true, Tls::V13}, Case{K::Vsftpd, true, true, Tls::Default},
                      Case{K::Pyftpdlib, false, true, Tls::Default}, Case{K::Pyftpdlib, false, false, Tls::Default},
                      Case{K::Pyftpdlib, true, true, Tls::Default}),
    CaseName);

} // namespace
