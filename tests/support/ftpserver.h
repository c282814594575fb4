#pragma once

// Real FTP servers for the tests: pyftpdlib and vsftpd, started on
// 127.0.0.1 on ports chosen at start, serving a fresh temporary folder, and
// stopped when the object goes away. A faulty kind of pyftpdlib breaks its
// data connections on purpose for files with certain name prefixes (see
// ftpserver_pyftpdlib.py).

#include <memory>
#include <string>

class QProcess;

namespace testsupport {

class FtpTestServer {
public:
    enum class Kind {
        Pyftpdlib,
        Vsftpd,
        FaultyPyftpdlib
    };

    // Bytes a faulty transfer of the faulty kind moves before it breaks.
    static constexpr long long FaultAfter = 128 * 1024;

    // FTPS: with a certificate the server requires TLS for logins and
    // data (vsftpd also the resumption of the control connection's session
    // on data connections); implicit TLS starts with the first byte.
    struct TlsOptions {
        std::string cert; // PEM files; empty: clear text
        std::string key;
        bool implicit = false;
    };

    // Starts a server; returns null and fills `whyNot` when this kind cannot
    // run here (vsftpd needs root to create its test user).
    // `address` is the loopback address to listen on: "127.0.0.1" or "::1".
    static std::unique_ptr<FtpTestServer> Start(Kind kind, std::string* whyNot = nullptr,
                                                const std::string& address = "127.0.0.1");
    static std::unique_ptr<FtpTestServer> Start(Kind kind, const TlsOptions& tls, std::string* whyNot = nullptr,
                                                const std::string& address = "127.0.0.1");
    // vsftpd as a default installation runs it: without utf8_filesystem,
    // so FEAT lists no UTF8 and names pass as the file system's bytes.
    static std::unique_ptr<FtpTestServer> StartVsftpdWithoutUtf8(std::string* whyNot = nullptr);
    ~FtpTestServer();

    FtpTestServer(const FtpTestServer&) = delete;
    FtpTestServer& operator=(const FtpTestServer&) = delete;

    Kind ServerKind() const { return kind_; }
    static std::string KindName(Kind kind);
    std::string Name() const { return KindName(kind_); }
    int Port() const { return port_; }
    const std::string& Address() const { return address_; }
    std::string PortText() const { return std::to_string(port_); }
    const std::string& User() const { return user_; }
    const std::string& Password() const { return password_; }
    // The folder the user lands in after login (absolute local path).
    const std::string& Root() const { return root_; }
    // Makes a file or folder created by the test usable by the server's user.
    void Share(const std::string& path) const;
    // The server's own log, for failure messages.
    std::string Log() const;

private:
    FtpTestServer() = default;
    bool StartPyftpdlib(std::string* whyNot, bool faulty);
    bool StartVsftpd(std::string* whyNot);

    Kind kind_ = Kind::Pyftpdlib;
    TlsOptions tls_;
    bool utf8Filesystem_ = true; // vsftpd only
    int port_ = 0;
    std::string address_ = "127.0.0.1";
    std::string user_;
    std::string password_;
    std::string base_;
    std::string root_;
    std::string log_;
    std::unique_ptr<QProcess> process_;
};

// A port that was free a moment ago on 127.0.0.1 (for servers that cannot
// bind port 0 themselves).
int FreeLoopbackPort();

// True when something accepts connections on 127.0.0.1:port right now.
bool IsListening(int port, const std::string& address = "127.0.0.1");

// Blocks until something accepts connections on 127.0.0.1:port or timeoutMs
// passes.
bool WaitForListener(int port, int timeoutMs, const std::string& address = "127.0.0.1");

} // namespace testsupport
