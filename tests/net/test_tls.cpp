// The TLS layer against a real TLS peer (Python's ssl module) with a test
// authority made by `openssl`: both protocol versions, sessions, the end of
// TLS, verification failures, StartTLS, and TLS through a SOCKS proxy.

#include "net/wsocket.h"
#include "socksproxy.h"
#include "support/eventwait.h"
#include "tls/tlstestpeer.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <openssl/x509_vfy.h>

#include <string>
#include <vector>

using testsupport::WaitFor;
using tlstest::TTlsPeer;

namespace {

std::string Pattern(std::size_t n)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(i % 256);
    return s;
}

std::string Sha256Hex(const std::string& data)
{
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest);
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : digest) {
        out += hex[c >> 4];
        out += hex[c & 15];
    }
    return out;
}

// A TLS client socket and everything it reported.
struct Client {
    TWSocket socket;
    std::string data;
    std::vector<std::string> events;
    int connected = -1;
    int closed = -1;
    int handshake = -1;
    int tlsErrors = 0;
    int verifyCalls = 0;
    bool acceptAnyCertificate = false;
    TSslCertInfo seenCert;

    explicit Client(const std::string& port, const std::string& name = "localhost")
    {
        socket.SetAddr("127.0.0.1");
        socket.SetPort(port);
        socket.SetProto("tcp");
        socket.SetSslCAFile(tlstest::CertFile("ca"));
        socket.SetSslServerName(name);
        socket.OnSessionConnected = [this](TCustomWSocket*, std::uint16_t e) {
            connected = e;
            events.push_back("connected " + std::to_string(e));
        };
        socket.OnSessionClosed = [this](TCustomWSocket*, std::uint16_t e) {
            closed = e;
            events.push_back("closed " + std::to_string(e));
        };
        socket.OnSslHandshakeDone = [this](TCustomWSocket*, std::uint16_t e) {
            handshake = e;
            events.push_back("handshake " + std::to_string(e));
        };
        socket.OnSslError = [this](TCustomWSocket*, std::int32_t, const std::string&) { ++tlsErrors; };
        socket.OnSslVerifyPeer = [this](TCustomWSocket*, const TSslCertInfo& cert, bool& accept) {
            ++verifyCalls;
            seenCert = cert;
            accept = acceptAnyCertificate;
        };
        socket.OnDataAvailable = [this](TCustomWSocket* s, std::uint16_t) {
            char buf[65536];
            const int got = s->Receive(buf, sizeof buf);
            if (got > 0)
                data.append(buf, static_cast<std::size_t>(got));
        };
    }

    // Waits for a complete line at the front of what arrived and takes it.
    bool Line(std::string& line, int timeoutMs = 10000)
    {
        if (!WaitFor([&] { return data.find('\n') != std::string::npos || closed >= 0; }, timeoutMs))
            return false;
        const std::size_t nl = data.find('\n');
        if (nl == std::string::npos)
            return false;
        line = data.substr(0, nl);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        data.erase(0, nl + 1);
        return true;
    }

    bool Implicit()
    {
        socket.SetSslEnable(true);
        socket.Connect();
        return WaitFor([&] { return connected >= 0; }, 10000);
    }

    bool WaitClosed(int timeoutMs = 10000)
    {
        return WaitFor([&] { return closed >= 0; }, timeoutMs);
    }
};

class TlsSocket : public ::testing::Test {
protected:
    static void SetUpTestSuite() { tlstest::CertDir(); }
};

// --- Versions, data both ways ---------------------------------------------------

TEST_F(TlsSocket, Tls13CarriesDataBothWaysAndHoldsTheConnectionReportBack)
{
    TTlsPeer peer;
    ASSERT_TRUE(peer.Start("good", {"--tls13"}));
    Client c(peer.PortText());
    ASSERT_TRUE(c.Implicit());
    // The connection is reported once the handshake is done, not before.
    ASSERT_EQ(c.events.size(), 2u);
    EXPECT_EQ(c.events[0], "handshake 0");
    EXPECT_EQ(c.events[1], "connected 0");
    EXPECT_EQ(c.socket.SslVersion(), "TLSv1.3");
    EXPECT_FALSE(c.socket.SslCipher().empty());
    EXPECT_TRUE(c.socket.SslPeerCert().Verified());
    EXPECT_EQ(c.verifyCalls, 0);
    EXPECT_EQ(c.socket.SslPeerCert().Subject, "CN=localhost");
    EXPECT_EQ(c.socket.SslPeerCert().Issuer, "CN=Tarvik Test CA");

    std::string line;
    ASSERT_TRUE(c.Line(line));
    EXPECT_EQ(line, "HELLO TLSv1.3 reused=0");
    c.socket.SendStr("ECHO through TLS\r\n");
    ASSERT_TRUE(c.Line(line));
    EXPECT_EQ(line, "ECHO through TLS");

    // A megabyte down, in many records.
    c.socket.SendStr("BIG 1048576\r\n");
    ASSERT_TRUE(WaitFor([&] { return c.data.size() >= 1048576 + 5; }, 20000)) << c.data.size();
    EXPECT_EQ(c.data.substr(0, 1048576), Pattern(1048576));
    EXPECT_EQ(c.data.substr(1048576), "END\r\n");
    c.data.clear();

    // Three megabytes up in one Send: the queue below holds the records.
    const std::string upload = Pattern(3 * 1048576 + 7);
    c.socket.SendStr("SUM " + std::to_string(upload.size()) + "\r\n");
    c.socket.SendStr(upload);
    ASSERT_TRUE(c.Line(line, 20000));
    EXPECT_EQ(line, "SUM " + Sha256Hex(upload));
    c.socket.Close();
    EXPECT_TRUE(peer.WaitForReport("END notify"));
}

TEST_F(TlsSocket, SmallAndPausedReadsGetEverythingOpenSslHolds)
{
    // A reader that takes 100 bytes per notification, and one that stops
    // reading for a while: what OpenSSL read ahead must still reach them,
    // although the socket below has nothing left to announce.
    TTlsPeer peer;
    ASSERT_TRUE(peer.Start("good"));
    Client c(peer.PortText());
    bool paused = false;
    bool pauseAt1000 = false;
    c.socket.OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) {
        if (pauseAt1000 && c.data.size() >= 1000) {
            pauseAt1000 = false;
            paused = true;
        }
        if (paused)
            return;
        char buf[100];
        const int got = s->Receive(buf, sizeof buf);
        if (got > 0)
            c.data.append(buf, static_cast<std::size_t>(got));
    };
    ASSERT_TRUE(c.Implicit());
    std::string line;
    ASSERT_TRUE(c.Line(line));
    pauseAt1000 = true;
    c.socket.SendStr("BIG 300000\r\n");
    ASSERT_TRUE(WaitFor([&] { return paused; }, 10000));
    testsupport::RunFor(300);
    const std::size_t held = c.data.size();
    EXPECT_LT(held, 300005u);
    // Reading again (as a reader does when it is ready) brings the rest.
    paused = false;
    char buf[100];
    const int got = c.socket.Receive(buf, sizeof buf);
    ASSERT_GT(got, 0);
    c.data.append(buf, static_cast<std::size_t>(got));
    ASSERT_TRUE(WaitFor([&] { return c.data.size() >= 300005; }, 20000)) << c.data.size();
    EXPECT_EQ(c.data.substr(0, 300000), Pattern(300000));
    EXPECT_EQ(c.data.substr(300000), "END\r\n");
}

TEST_F(TlsSocket, Tls12WhenForcedEitherSide)
{
    TTlsPeer peer;
    ASSERT_TRUE(peer.Start("good", {"--tls12"}));
    Client c(peer.PortText());
    ASSERT_TRUE(c.Implicit());
    EXPECT_EQ(c.connected, 0);
    EXPECT_EQ(c.socket.SslVersion(), "TLSv1.2");
    std::string line;
    ASSERT_TRUE(c.Line(line));
    EXPECT_EQ(line, "HELLO TLSv1.2 reused=0");

    TTlsPeer any;
    ASSERT_TRUE(any.Start("good"));
    Client d(any.PortText());
    d.socket.SetSslMaxVersion(sslTls12);
    ASSERT_TRUE(d.Implicit());
    ASSERT_TRUE(d.Line(line));
    EXPECT_EQ(line, "HELLO TLSv1.2 reused=0");
}

TEST_F(TlsSocket, VersionMismatchFailsTheConnection)
{
    TTlsPeer peer;
    ASSERT_TRUE(peer.Start("good", {"--tls12"}));
    Client c(peer.PortText());
    c.socket.SetSslMinVersion(sslTls13);
    ASSERT_TRUE(c.Implicit());
    EXPECT_EQ(c.connected, WSocketErrSsl);
    EXPECT_EQ(c.handshake, WSocketErrSsl);
    EXPECT_GE(c.tlsErrors, 1);
    ASSERT_TRUE(c.WaitClosed());
    EXPECT_EQ(c.closed, WSocketErrSsl);
    EXPECT_FALSE(c.socket.SslErrorText().empty());
    EXPECT_TRUE(c.data.empty());
}

// --- Sessions -------------------------------------------------------------------

void CheckResumption(const std::vector<std::string>& peerArgs, const std::string& version)
{
    TTlsPeer peer;
    ASSERT_TRUE(peer.Start("good", peerArgs));
    TSslSession session;
    std::string der;
    {
        Client first(peer.PortText());
        ASSERT_TRUE(first.Implicit());
        std::string line;
        ASSERT_TRUE(first.Line(line));
        EXPECT_EQ(line, "HELLO " + version + " reused=0");
        EXPECT_FALSE(first.socket.SslSessionReused());
        // TLS 1.3 tickets come after the handshake; one round trip more
        // makes sure they were read.
        first.socket.SendStr("ECHO x\r\n");
        ASSERT_TRUE(first.Line(line));
        session = first.socket.SslSession();
        der = first.socket.SslSessionExport();
        first.socket.Close();
    }
    ASSERT_TRUE(session);
    ASSERT_FALSE(der.empty());

    Client second(peer.PortText());
    second.socket.SetSslSession(session);
    ASSERT_TRUE(second.Implicit());
    std::string line;
    ASSERT_TRUE(second.Line(line));
    EXPECT_EQ(line, "HELLO " + version + " reused=1");
    EXPECT_TRUE(second.socket.SslSessionReused());

    // The same through the exported bytes, as a new program would.
    Client third(peer.PortText());
    third.socket.SetSslSession(TCustomSslWSocket::SslSessionImport(der));
    ASSERT_TRUE(third.Implicit());
    ASSERT_TRUE(third.Line(line));
    EXPECT_EQ(line, "HELLO " + version + " reused=1");
    EXPECT_TRUE(third.socket.SslSessionReused());

    // Without a session nothing is resumed.
    Client fourth(peer.PortText());
    ASSERT_TRUE(fourth.Implicit());
    ASSERT_TRUE(fourth.Line(line));
    EXPECT_EQ(line, "HELLO " + version + " reused=0");
}

TEST_F(TlsSocket, SessionResumptionTls13) { CheckResumption({"--tls13"}, "TLSv1.3"); }
TEST_F(TlsSocket, SessionResumptionTls12) { CheckResumption({"--tls12"}, "TLSv1.2"); }

// --- End of TLS -----------------------------------------------------------------

TEST_F(TlsSocket, CloseNotifyBothWaysAndACutConnection)
{
    TTlsPeer peer;
    ASSERT_TRUE(peer.Start("good"));
    std::string line;
    {
        // The peer ends TLS properly: its last line arrives, then the close.
        Client c(peer.PortText());
        ASSERT_TRUE(c.Implicit());
        ASSERT_TRUE(c.Line(line));
        c.socket.SendStr("CLOSE\r\n");
        ASSERT_TRUE(c.WaitClosed());
        EXPECT_EQ(c.closed, 0);
        ASSERT_TRUE(c.Line(line));
        EXPECT_EQ(line, "BYE");
        EXPECT_TRUE(c.socket.SslCloseNotifyReceived());
    }
    {
        // The peer just disconnects: a close, but no close_notify.
        Client c(peer.PortText());
        ASSERT_TRUE(c.Implicit());
        ASSERT_TRUE(c.Line(line));
        c.socket.SendStr("CUT\r\n");
        ASSERT_TRUE(c.WaitClosed());
        ASSERT_TRUE(c.Line(line));
        EXPECT_EQ(line, "BYE");
        EXPECT_FALSE(c.socket.SslCloseNotifyReceived());
    }
    {
        // Our Close sends close_notify: the peer sees a proper end.
        Client c(peer.PortText());
        ASSERT_TRUE(c.Implicit());
        ASSERT_TRUE(c.Line(line));
        c.socket.Close();
        EXPECT_TRUE(peer.WaitForReport("END notify"));
    }
    {
        // Abort cuts the connection: no close_notify.
        Client c(peer.PortText());
        ASSERT_TRUE(c.Implicit());
        ASSERT_TRUE(c.Line(line));
        c.socket.Abort();
        EXPECT_TRUE(peer.WaitForReport("END cut"));
    }
}

TEST_F(TlsSocket, BrokenRecordEndsTheConnectionWithATlsError)
{
    TTlsPeer peer;
    ASSERT_TRUE(peer.Start("good"));
    Client c(peer.PortText());
    ASSERT_TRUE(c.Implicit());
    std::string line;
    ASSERT_TRUE(c.Line(line));
    c.socket.SendStr("ALERT\r\n");
    ASSERT_TRUE(c.WaitClosed());
    EXPECT_EQ(c.closed, WSocketErrSsl);
    EXPECT_GE(c.tlsErrors, 1);
    EXPECT_TRUE(c.data.empty());
}

// --- Verification ---------------------------------------------------------------

struct Failure {
    const char* cert;
    const char* name;
    long result;
};

TEST_F(TlsSocket, VerificationFailuresAreRefusedAndDescribed)
{
    const Failure cases[] = {
        {"wrongname", "localhost", X509_V_ERR_HOSTNAME_MISMATCH},
        {"wrongname", "127.0.0.1", X509_V_ERR_IP_ADDRESS_MISMATCH},
        {"good", "another.localhost", X509_V_ERR_HOSTNAME_MISMATCH},
        {"expired", "localhost", X509_V_ERR_CERT_HAS_EXPIRED},
        {"self", "localhost", X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT},
    };
    for (const Failure& f : cases) {
        SCOPED_TRACE(std::string(f.cert) + " as " + f.name);
        TTlsPeer peer;
        ASSERT_TRUE(peer.Start(f.cert));
        Client c(peer.PortText(), f.name);
        ASSERT_TRUE(c.Implicit());
        EXPECT_EQ(c.connected, WSocketErrSslCertificate);
        EXPECT_EQ(c.verifyCalls, 1);
        EXPECT_EQ(c.seenCert.VerifyResult, f.result) << c.seenCert.VerifyReason;
        EXPECT_FALSE(c.seenCert.VerifyReason.empty());
        EXPECT_EQ(c.socket.SslPeerCert().Fingerprint.size(), 95u);
        ASSERT_TRUE(c.WaitClosed());
        EXPECT_EQ(c.closed, WSocketErrSslCertificate);
        EXPECT_NE(c.socket.SslErrorText().find("certificate rejected"), std::string::npos);
        // Nothing of the server's reached the layers above.
        EXPECT_TRUE(c.data.empty());
    }
}

TEST_F(TlsSocket, AcceptedOrUncheckedCertificatesConnect)
{
    TTlsPeer peer;
    ASSERT_TRUE(peer.Start("self"));
    std::string line;
    {
        Client c(peer.PortText());
        c.acceptAnyCertificate = true;
        ASSERT_TRUE(c.Implicit());
        EXPECT_EQ(c.connected, 0);
        EXPECT_TRUE(c.seenCert.SelfSigned);
        // The fingerprint is the one openssl computes.
        QProcess x509;
        x509.start(QStringLiteral("openssl"),
                   {QStringLiteral("x509"), QStringLiteral("-noout"), QStringLiteral("-fingerprint"),
                    QStringLiteral("-sha256"), QStringLiteral("-in"),
                    QString::fromStdString(tlstest::CertFile("self"))});
        ASSERT_TRUE(x509.waitForFinished(10000));
        const std::string out = x509.readAllStandardOutput().trimmed().toStdString();
        EXPECT_EQ(out.substr(out.find('=') + 1), c.seenCert.Fingerprint);
        ASSERT_TRUE(c.Line(line));
        EXPECT_EQ(line, "HELLO TLSv1.3 reused=0");
    }
    {
        Client c(peer.PortText());
        c.socket.SetSslVerifyPeer(false);
        ASSERT_TRUE(c.Implicit());
        EXPECT_EQ(c.connected, 0);
        EXPECT_EQ(c.verifyCalls, 0);
        EXPECT_FALSE(c.socket.SslPeerCert().Verified());
    }
    {
        // Without the test authority the good certificate is unknown too.
        Client c(peer.PortText());
        c.socket.SetSslCAFile("");
        ASSERT_TRUE(c.Implicit());
        EXPECT_EQ(c.connected, WSocketErrSslCertificate);
    }
}

TEST_F(TlsSocket, AnAddressIsVerifiedAsAnAddress)
{
    TTlsPeer peer;
    ASSERT_TRUE(peer.Start("good"));
    Client c(peer.PortText(), "127.0.0.1");
    ASSERT_TRUE(c.Implicit());
    EXPECT_EQ(c.connected, 0);
    EXPECT_TRUE(c.socket.SslPeerCert().Verified());
}

TEST_F(TlsSocket, TheAuthoritiesFileIsReadAgainWhenItChanges)
{
    // The authorities are read once and shared between connections; a file
    // that changed on disk is read anew, and one that is gone fails the
    // connection instead of being served from memory.
    TTlsPeer peer;
    ASSERT_TRUE(peer.Start("good"));
    QTemporaryDir dir;
    const std::string caFile = dir.filePath(QStringLiteral("authorities.pem")).toStdString();
    const auto copyTo = [&](const std::string& from) {
        QFile::remove(QString::fromStdString(caFile));
        return QFile::copy(QString::fromStdString(from), QString::fromStdString(caFile));
    };
    const auto connectWith = [&] {
        Client c(peer.PortText());
        c.socket.SetSslCAFile(caFile);
        EXPECT_TRUE(c.Implicit());
        return c.connected;
    };
    ASSERT_TRUE(copyTo(tlstest::CertFile("self2")));
    EXPECT_EQ(connectWith(), WSocketErrSslCertificate);
    ASSERT_TRUE(copyTo(tlstest::CertFile("ca")));
    EXPECT_EQ(connectWith(), 0);
    EXPECT_EQ(connectWith(), 0);
    QFile::remove(QString::fromStdString(caFile));
    EXPECT_EQ(connectWith(), WSocketErrSsl);
}

// --- StartTLS and line mode ---------------------------------------------------------

TEST_F(TlsSocket, StartTlsOnAConnectedLineModeSocket)
{
    TTlsPeer peer;
    ASSERT_TRUE(peer.Start("good", {"--explicit"}));
    TWSocket s;
    std::vector<std::string> lines;
    int handshake = -1;
    s.SetAddr("127.0.0.1");
    s.SetPort(peer.PortText());
    s.SetSslCAFile(tlstest::CertFile("ca"));
    s.SetSslServerName("localhost");
    s.SetLineMode(true);
    s.OnDataAvailable = [&](TCustomWSocket* sock, std::uint16_t) { lines.push_back(sock->ReceiveStr()); };
    s.OnSessionConnected = [&](TCustomWSocket* sock, std::uint16_t) { sock->SendStr("STARTTLS\r\n"); };
    s.OnSslHandshakeDone = [&](TCustomWSocket*, std::uint16_t e) { handshake = e; };
    s.Connect();
    ASSERT_TRUE(WaitFor([&] { return !lines.empty(); }, 10000));
    EXPECT_EQ(lines[0], "GO\r\n");
    EXPECT_EQ(s.SslState(), sslNone);
    s.StartTLS();
    // A line sent while the handshake runs goes out once it is done.
    s.SendStr("ECHO early\r\n");
    ASSERT_TRUE(WaitFor([&] { return lines.size() >= 3; }, 10000));
    EXPECT_EQ(handshake, 0);
    EXPECT_EQ(lines[1], "HELLO TLSv1.3 reused=0\r\n");
    EXPECT_EQ(lines[2], "ECHO early\r\n");
    // Twice is refused.
    EXPECT_THROW(s.StartTLS(), ESocketException);
}

TEST_F(TlsSocket, StartTlsNeedsAConnection)
{
    TWSocket s;
    EXPECT_THROW(s.StartTLS(), ESocketException);
}

// --- Through SOCKS 5 ----------------------------------------------------------------

TEST_F(TlsSocket, TlsFromTheFirstByteThroughSocks5)
{
    TTlsPeer peer;
    ASSERT_TRUE(peer.Start("good"));
    const std::uint16_t port = sockstest::FreePort();
    const auto proxy = sockstest::StartMicrosocks(port);
    ASSERT_TRUE(proxy) << "microsocks did not start";
    Client c(peer.PortText());
    c.socket.SetSocksServer("127.0.0.1");
    c.socket.SetSocksPort(std::to_string(port));
    c.socket.SetSocksLevel("5");
    ASSERT_TRUE(c.Implicit());
    EXPECT_EQ(c.connected, 0);
    EXPECT_EQ(c.events.front(), "handshake 0");
    std::string line;
    ASSERT_TRUE(c.Line(line));
    EXPECT_EQ(line, "HELLO TLSv1.3 reused=0");
    c.socket.SendStr("ECHO via socks\r\n");
    ASSERT_TRUE(c.Line(line));
    EXPECT_EQ(line, "ECHO via socks");
}

} // namespace
