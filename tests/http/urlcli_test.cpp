// tarvik-url as a user runs it: against the scripted server of this folder,
// plain and with TLS, its exit status, its output and its files.

#include "httptestpeer.h"
#include "tls/tlstestpeer.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct TResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

TResult RunUrl(const std::vector<std::string>& args, const std::string& password = {})
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("TARVIK_PASSWORD"));
    if (!password.empty())
        env.insert(QStringLiteral("TARVIK_PASSWORD"), QString::fromStdString(password));
    // The desktop client's trusted certificates are not this test's.
    static QTemporaryDir config;
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    p.setProcessEnvironment(env);
    QStringList list;
    for (const std::string& a : args)
        list << QString::fromStdString(a);
    p.start(QStringLiteral(TARVIK_URL_BINARY), list);
    TResult r;
    if (!p.waitForFinished(60000))
        return r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
}

std::string ReadFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "<missing>";
    return f.readAll().toStdString();
}

class UrlCli : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        plain_ = new httptest::TPeerProcess;
        ASSERT_TRUE(plain_->StartScripted());
        tls_ = new httptest::TPeerProcess;
        ASSERT_TRUE(tls_->StartScriptedTls(tlstest::CertFile("good"), tlstest::KeyFile("good")));
    }
    static void TearDownTestSuite()
    {
        delete plain_;
        delete tls_;
        plain_ = tls_ = nullptr;
    }
    static std::string Plain(const std::string& path) { return plain_->BaseUrl() + path; }
    static std::string Secure(const std::string& path)
    {
        return "https://localhost:" + std::to_string(tls_->Port()) + path;
    }
    static httptest::TPeerProcess* plain_;
    static httptest::TPeerProcess* tls_;
};

httptest::TPeerProcess* UrlCli::plain_ = nullptr;
httptest::TPeerProcess* UrlCli::tls_ = nullptr;

TEST_F(UrlCli, UsageErrorsExitWithTwo)
{
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{},
                                               {"--bogus", "http://x/"},
                                               {"--proxy", "nohostport", "http://x/"},
                                               {"--max-redirs", "many", "http://x/"},
                                               {"--output"},
                                               {"http://a/", "http://b/"},
                                               {"--password", "p", "http://x/"},
                                               {"--head", "--output", "f", "http://x/"}}) {
        const TResult r = RunUrl(args);
        EXPECT_EQ(r.exitCode, 2) << r.err;
        EXPECT_NE(r.err.find("Try 'tarvik-url --help'"), std::string::npos) << r.err;
    }
    const TResult help = RunUrl({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Usage: tarvik-url"), std::string::npos);
}

TEST_F(UrlCli, GetOverHttpsToAFileAndToStandardOutput)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("doc.txt"));
    const TResult r = RunUrl(
        {"--cacert", tlstest::CertFile("ca"), "--output", file.toStdString(), "--user", "alice", Secure("/echo/file")},
        "s3cret");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::string doc = ReadFile(file);
    EXPECT_EQ(doc.rfind("GET /echo/file HTTP/1.0\r\n", 0), 0u) << doc;
    // The password came from TARVIK_PASSWORD.
    EXPECT_NE(doc.find("Authorization: Basic YWxpY2U6czNjcmV0\r\n"), std::string::npos) << doc;
    EXPECT_FALSE(QFile::exists(file + QStringLiteral(".tarvik-part")));

    // A device is written to, never replaced.
    const TResult toNull = RunUrl({"--cacert", tlstest::CertFile("ca"), "--output", "/dev/null", Secure("/echo/n")});
    EXPECT_EQ(toNull.exitCode, 0) << toNull.err;
    EXPECT_FALSE(QFile::exists(QStringLiteral("/dev/null.tarvik-part")));
    EXPECT_FALSE(QFileInfo(QStringLiteral("/dev/null")).isFile());

    const TResult toStdout = RunUrl({"--cacert", tlstest::CertFile("ca"), "--verbose", Secure("/echo/out")});
    EXPECT_EQ(toStdout.exitCode, 0) << toStdout.err;
    EXPECT_EQ(toStdout.out.rfind("GET /echo/out HTTP/1.0\r\n", 0), 0u) << toStdout.out;
    // The log names the TLS version and cipher, and hides credentials.
    EXPECT_NE(toStdout.err.find("* TLS: TLSv1.3, "), std::string::npos) << toStdout.err;
    EXPECT_NE(toStdout.err.find("< HTTP/1.0 200 OK"), std::string::npos) << toStdout.err;
}

TEST_F(UrlCli, HeadPrintsTheStatusAndHeaders)
{
    const TResult r = RunUrl({"--head", Plain("/echo/h")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.rfind("HTTP/1.0 200 OK\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("Content-Type: text/plain\n"), std::string::npos) << r.out;
}

TEST_F(UrlCli, FailuresExitWithOne)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("partial.bin"));
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{Plain("/missing")}, "404 Not Found"},
        {{"ftp://127.0.0.1/x"}, "Unsupported protocol: ftp"},
        {{"--max-redirs", "1", Plain("/redir/3")}, "Too many redirections"},
        {{Secure("/echo/x")}, "certificate rejected"},
        {{"--output", file.toStdString(), Plain("/midbody")}, "closed after 300 of 1000 bytes"},
        {{"http://127.0.0.1:" + std::to_string(httptest::UnusedPort()) + "/"}, "Connection refused"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        const TResult r = RunUrl(c.args);
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    // An incomplete document leaves no file that looks complete.
    EXPECT_FALSE(QFile::exists(file));
    EXPECT_FALSE(QFile::exists(file + QStringLiteral(".tarvik-part")));
}

TEST_F(UrlCli, InsecureSaysSoAndProxyTunnels)
{
    const TResult r = RunUrl({"--insecure", Secure("/echo/k")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("--insecure"), std::string::npos);

    httptest::TPeerProcess proxy;
    ASSERT_TRUE(proxy.StartScripted());
    const TResult viaProxy = RunUrl({"--cacert", tlstest::CertFile("ca"), "--proxy",
                                     "127.0.0.1:" + std::to_string(proxy.Port()), Secure("/echo/tunnel")});
    EXPECT_EQ(viaProxy.exitCode, 0) << viaProxy.err;
    EXPECT_EQ(viaProxy.out.rfind("GET /echo/tunnel HTTP/1.0\r\n", 0), 0u) << viaProxy.out;
}

// Python's http.server on the IPv6 loopback, serving a folder of the test.
class TIPv6FileServer {
public:
    bool Start(const QString& folder)
    {
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(QStringLiteral("/usr/bin/python3"),
                       {QStringLiteral("-u"), QStringLiteral("-m"), QStringLiteral("http.server"),
                        QStringLiteral("--bind"), QStringLiteral("::1"), QStringLiteral("--directory"), folder,
                        QStringLiteral("0")});
        if (!process_.waitForStarted(5000))
            return false;
        // "Serving HTTP on ::1 port 41234 (http://[::1]:41234/) ..."
        for (int i = 0; i < 100 && port_ == 0; ++i) {
            process_.waitForReadyRead(100);
            output_ += process_.readAll().toStdString();
            const std::size_t at = output_.find(" port ");
            if (at != std::string::npos)
                port_ = std::atoi(output_.c_str() + at + 6);
        }
        return port_ > 0;
    }
    ~TIPv6FileServer()
    {
        process_.terminate();
        if (!process_.waitForFinished(5000))
            process_.kill();
        process_.waitForFinished(5000);
    }
    std::string Url(const std::string& path) const { return "http://[::1]:" + std::to_string(port_) + path; }
    // Everything the server printed so far (its log goes to stderr, merged).
    std::string Output()
    {
        process_.waitForReadyRead(500);
        output_ += process_.readAll().toStdString();
        return output_;
    }

private:
    QProcess process_;
    std::string output_;
    int port_ = 0;
};

TEST(UrlCliIPv6, GetHeadAndMissingFilesFromHttpServerOnTheIPv6Loopback)
{
    QTemporaryDir served;
    QFile page(served.filePath(QStringLiteral("page.txt")));
    ASSERT_TRUE(page.open(QIODevice::WriteOnly));
    std::string body;
    for (int i = 0; i < 5000; ++i)
        body += "line " + std::to_string(i) + "\n";
    page.write(body.data(), qint64(body.size()));
    page.close();
    TIPv6FileServer server;
    if (!server.Start(served.path()))
        GTEST_SKIP() << "http.server cannot listen on ::1 here: " << server.Output();

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("got.txt"));
    const TResult get = RunUrl({"--output", file.toStdString(), server.Url("/page.txt")});
    EXPECT_EQ(get.exitCode, 0) << get.err << server.Output();
    EXPECT_EQ(ReadFile(file), body);

    const TResult head = RunUrl({"--head", server.Url("/page.txt")});
    EXPECT_EQ(head.exitCode, 0) << head.err;
    EXPECT_EQ(head.out.rfind("HTTP/1.0 200 OK\n", 0), 0u) << head.out;
    EXPECT_NE(head.out.find("Content-Length: " + std::to_string(body.size())), std::string::npos) << head.out;

    const TResult missing = RunUrl(
        {"--output", dir.filePath(QStringLiteral("none")).toStdString(), server.Url("/missing.txt")});
    EXPECT_EQ(missing.exitCode, 1) << missing.err;
    const std::string log = server.Output();
    EXPECT_NE(log.find("\"GET /page.txt HTTP/1.0\" 200"), std::string::npos) << log;
    EXPECT_NE(log.find("\"GET /missing.txt HTTP/1.0\" 404"), std::string::npos) << log;
}

} // namespace
