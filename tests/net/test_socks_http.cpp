// THttpCli through a SOCKS 5 proxy (microsocks) to python's http.server: a
// whole HTTP request and its document carried by a negotiated connection.

#include "socksproxy.h"

#include "http/httpprot.h"
#include "net/wsocket.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

// The HTTP client keeps its socket to itself; the SOCKS settings are made on
// it before each request (a close clears them).
class SocksHttpCli : public THttpCli {
public:
    TWSocket& Socket() { return HttpSocket(); }
    void UseProxy(std::uint16_t port, const std::string& user, const std::string& password)
    {
        Socket().SetSocksServer("127.0.0.1");
        Socket().SetSocksPort(std::to_string(port));
        Socket().SetSocksUsercode(user);
        Socket().SetSocksPassword(password);
        Socket().SetSocksAuthentication(socksAuthenticateUsercode);
    }
};

struct HttpFixture {
    QTemporaryDir root;
    std::string body;
    std::uint16_t httpPort = 0;
    std::unique_ptr<sockstest::ServerProcess> http;
    std::uint16_t socksPort = 0;
    std::unique_ptr<sockstest::ServerProcess> socks;

    bool Start()
    {
        for (int i = 0; i < 5000; ++i)
            body += "row " + std::to_string(i) + "\n";
        QFile f(QDir(root.path()).filePath("doc.txt"));
        if (!f.open(QIODevice::WriteOnly) || f.write(body.data(), qint64(body.size())) != qint64(body.size()))
            return false;
        f.close();
        httpPort = sockstest::FreePort();
        http = std::make_unique<sockstest::ServerProcess>(
            "/usr/bin/python3",
            std::vector<std::string>{"-m", "http.server", std::to_string(httpPort), "--bind", "127.0.0.1"},
            root.path().toStdString());
        if (!http->Started() || !sockstest::WaitListening(httpPort))
            return false;
        socksPort = sockstest::FreePort();
        socks = sockstest::StartMicrosocks(socksPort, "web", "pw");
        return socks != nullptr;
    }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(httpPort) + path; }
};

} // namespace

TEST(SocksHttp, GetThroughMicrosocksWithAuthentication)
{
    HttpFixture fx;
    ASSERT_TRUE(fx.Start()) << "test servers did not start";
    SocksHttpCli http;
    std::vector<int> authStates;
    http.Socket().OnSocksAuthState = [&](TCustomWSocket*, TSocksAuthState s) { authStates.push_back(int(s)); };
    std::ostringstream doc;
    http.RcvdStream = &doc;
    http.URL = fx.Url("/doc.txt");
    http.UseProxy(fx.socksPort, "web", "pw");
    http.Get();
    EXPECT_EQ(http.StatusCode(), 200);
    EXPECT_EQ(http.ContentLength(), std::int64_t(fx.body.size()));
    EXPECT_EQ(doc.str(), fx.body);
    // The proxy was used: it asked for the credentials and took them.
    EXPECT_EQ(authStates, (std::vector<int>{socksAuthStart, socksAuthSuccess}));
    // The close cleared the proxy settings.
    EXPECT_EQ(http.Socket().SocksServer(), "");
}

TEST(SocksHttp, RefusedProxyEndsTheRequestWithTheSocksError)
{
    HttpFixture fx;
    ASSERT_TRUE(fx.Start()) << "test servers did not start";
    SocksHttpCli http;
    std::vector<std::string> socksErrors;
    http.Socket().OnSocksError = [&](TCustomWSocket*, std::int32_t e, const std::string& m) {
        socksErrors.push_back(std::to_string(e) + " " + m);
    };
    std::ostringstream doc;
    http.RcvdStream = &doc;
    http.URL = fx.Url("/doc.txt");
    http.UseProxy(fx.socksPort, "web", "not the password");
    EXPECT_THROW(http.Get(), EHttpException);
    EXPECT_EQ(socksErrors, (std::vector<std::string>{"20015 socks authentication failed"}));
    EXPECT_EQ(doc.str(), "");
    EXPECT_EQ(http.State(), httpReady);
}
