#include "support/ftpserver.h"

#include <QProcess>
#include <QStringList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#ifndef TARVIK_TEST_SUPPORT_DIR
#error "TARVIK_TEST_SUPPORT_DIR must name the folder of ftpserver_pyftpdlib.py"
#endif

namespace fs = std::filesystem;

namespace testsupport {

namespace {

constexpr const char* VsftpdUser = "tarviktest";
constexpr const char* VsftpdPassword = "Tarvik-Test-1";

// A server must not outlive a test program that crashed or was killed.
void DieWithParent(QProcess& process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

std::string MakeTempDir()
{
    // TMPDIR lets a benchmark put the server's files on a tmpfs.
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tarvik-ftpd-XXXXXX";
    const char* dir = ::mkdtemp(pattern.data());
    if (!dir)
        return {};
    // The server may run as another user: every parent must be enterable.
    ::chmod(dir, 0755);
    return dir;
}

// Several test programs may run at once and race for the account files:
// each step is retried a few times.
bool RunWithRetries(const std::string& cmd)
{
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (std::system(cmd.c_str()) == 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return false;
}

bool EnsureVsftpdUser(std::string* whyNot)
{
    if (::geteuid() != 0) {
        if (whyNot)
            *whyNot = "vsftpd tests need root to create the local user " + std::string(VsftpdUser);
        return false;
    }
    // vsftpd enters the home folder before local_root: it must exist.
    for (int attempt = 0; attempt < 10 && !::getpwnam(VsftpdUser); ++attempt) {
        const std::string cmd = std::string("useradd -M -d /tmp -s /bin/bash ") + VsftpdUser + " >/dev/null 2>&1";
        if (std::system(cmd.c_str()) != 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    const passwd* pw = ::getpwnam(VsftpdUser);
    if (!pw) {
        if (whyNot)
            *whyNot = "useradd " + std::string(VsftpdUser) + " failed";
        return false;
    }
    if (std::string(pw->pw_dir) != "/tmp" &&
        !RunWithRetries(std::string("usermod -d /tmp ") + VsftpdUser + " >/dev/null 2>&1")) {
        if (whyNot)
            *whyNot = "usermod " + std::string(VsftpdUser) + " failed";
        return false;
    }
    if (!RunWithRetries(std::string("echo '") + VsftpdUser + ":" + VsftpdPassword + "' | chpasswd >/dev/null 2>&1")) {
        if (whyNot)
            *whyNot = "chpasswd for " + std::string(VsftpdUser) + " failed";
        return false;
    }
    return true;
}

} // namespace

int FreeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0) {
        socklen_t len = sizeof(a);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ::close(fd);
    return port;
}

bool IsListening(int port, const std::string& address)
{
    const bool v6 = address.find(':') != std::string::npos;
    const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool ok = false;
    if (v6) {
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        ::inet_pton(AF_INET6, address.c_str(), &a.sin6_addr);
        a.sin6_port = htons(std::uint16_t(port));
        ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
    } else {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
        a.sin_port = htons(std::uint16_t(port));
        ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
    }
    ::close(fd);
    return ok;
}

bool WaitForListener(int port, int timeoutMs, const std::string& address)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        if (IsListening(port, address))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

std::unique_ptr<FtpTestServer> FtpTestServer::Start(Kind kind, std::string* whyNot, const std::string& address)
{
    return Start(kind, TlsOptions{}, whyNot, address);
}

std::unique_ptr<FtpTestServer> FtpTestServer::Start(Kind kind, const TlsOptions& tls, std::string* whyNot,
                                                    const std::string& address)
{
    std::unique_ptr<FtpTestServer> server(new FtpTestServer);
    server->kind_ = kind;
    server->tls_ = tls;
    server->address_ = address;
    const bool ok = kind == Kind::Vsftpd ? server->StartVsftpd(whyNot)
                                         : server->StartPyftpdlib(whyNot, kind == Kind::FaultyPyftpdlib);
    if (!ok)
        return nullptr;
    return server;
}

std::unique_ptr<FtpTestServer> FtpTestServer::StartVsftpdWithoutUtf8(std::string* whyNot)
{
    std::unique_ptr<FtpTestServer> server(new FtpTestServer);
    server->kind_ = Kind::Vsftpd;
    server->utf8Filesystem_ = false;
    if (!server->StartVsftpd(whyNot))
        return nullptr;
    return server;
}

std::string FtpTestServer::KindName(Kind kind)
{
    switch (kind) {
    case Kind::Pyftpdlib:
        return "pyftpdlib";
    case Kind::Vsftpd:
        return "vsftpd";
    case Kind::FaultyPyftpdlib:
        return "faulty_pyftpdlib";
    }
    return "?";
}

FtpTestServer::~FtpTestServer()
{
    if (process_) {
        process_->terminate();
        if (!process_->waitForFinished(3000)) {
            process_->kill();
            process_->waitForFinished(3000);
        }
    }
    if (!base_.empty()) {
        std::error_code ec;
        fs::remove_all(base_, ec);
    }
}

bool FtpTestServer::StartPyftpdlib(std::string* whyNot, bool faulty)
{
    base_ = MakeTempDir();
    root_ = base_ + "/root";
    log_ = base_ + "/server.log";
    fs::create_directory(root_);
    user_ = "tarvik";
    password_ = "secret";

    process_ = std::make_unique<QProcess>();
    DieWithParent(*process_);
    process_->setStandardErrorFile(QString::fromStdString(log_));
    QStringList args{QString(TARVIK_TEST_SUPPORT_DIR) + "/ftpserver_pyftpdlib.py", QString::fromStdString(root_),
                     QString::fromStdString(user_), QString::fromStdString(password_),
                     QString::fromStdString(address_)};
    if (!tls_.cert.empty())
        args << QString::fromStdString(tls_.cert) << QString::fromStdString(tls_.key)
             << (tls_.implicit ? "implicit" : "explicit");
    if (faulty)
        args << QStringLiteral("--faulty");
    process_->start("/usr/bin/python3", args);
    if (!process_->waitForStarted(5000)) {
        if (whyNot)
            *whyNot = "cannot start /usr/bin/python3 for pyftpdlib";
        return false;
    }
    for (int i = 0; i < 100 && !process_->canReadLine(); ++i)
        process_->waitForReadyRead(100);
    port_ = process_->readLine().trimmed().toInt();
    if (port_ <= 0) {
        if (whyNot)
            *whyNot = Name() + " did not report its port: " + Log();
        return false;
    }
    return true;
}

bool FtpTestServer::StartVsftpd(std::string* whyNot)
{
    if (::access("/usr/sbin/vsftpd", X_OK) != 0) {
        if (whyNot)
            *whyNot = "/usr/sbin/vsftpd is not installed";
        return false;
    }
    if (!EnsureVsftpdUser(whyNot))
        return false;
    base_ = MakeTempDir();
    root_ = base_ + "/root";
    log_ = base_ + "/server.log";
    fs::create_directory(root_);
    user_ = VsftpdUser;
    password_ = VsftpdPassword;
    Share(root_);

    for (int attempt = 0; attempt < 3; ++attempt) {
        port_ = FreeLoopbackPort();
        const std::string conf = base_ + "/vsftpd.conf";
        {
            std::ofstream out(conf);
            if (address_.find(':') != std::string::npos)
                out << "listen=NO\nlisten_ipv6=YES\nlisten_address6=" << address_ << "\n";
            else
                out << "listen=YES\nlisten_ipv6=NO\nlisten_address=" << address_ << "\n";
            out << "listen_port=" << port_ << "\n"
                << "background=NO\nanonymous_enable=NO\nlocal_enable=YES\nwrite_enable=YES\n"
                << "local_umask=022\nfile_open_mode=0644\nlocal_root=" << root_ << "\n"
                << "seccomp_sandbox=NO\nisolate=NO\nisolate_network=NO\n"
                << "pasv_enable=YES\nport_enable=YES\nconnect_from_port_20=NO\n"
                << "pam_service_name=vsftpd\nuserlist_enable=NO\ntcp_wrappers=NO\n"
                << "secure_chroot_dir=/var/run/vsftpd/empty\nchroot_local_user=NO\n"
                << "xferlog_enable=NO\nvsftpd_log_file=" << log_ << "\n"
                << "delay_failed_login=0\nmax_per_ip=0\nmax_clients=0\n"
                << "idle_session_timeout=300\ndata_connection_timeout=300\n"
                << "ftpd_banner=vsftpd test server ready.\n"
                // The tests name files in UTF-8, as a Linux server holds them; the
                // server says so in FEAT (unless asked to run as installed).
                << (utf8Filesystem_ ? "utf8_filesystem=YES\n" : "");
            if (!tls_.cert.empty())
                out << "ssl_enable=YES\nrsa_cert_file=" << tls_.cert << "\nrsa_private_key_file=" << tls_.key << "\n"
                    << "force_local_logins_ssl=YES\nforce_local_data_ssl=YES\nrequire_ssl_reuse=YES\n"
                    << "ssl_tlsv1=YES\nssl_sslv2=NO\nssl_sslv3=NO\nssl_ciphers=HIGH\n"
                    << (tls_.implicit ? "implicit_ssl=YES\n" : "");
        }
        ::chmod(conf.c_str(), 0600);
        process_ = std::make_unique<QProcess>();
        DieWithParent(*process_);
        process_->setStandardOutputFile(QString::fromStdString(log_ + ".out"));
        process_->setStandardErrorFile(QString::fromStdString(log_ + ".out"));
        process_->start("/usr/sbin/vsftpd", {QString::fromStdString(conf)});
        if (!process_->waitForStarted(5000)) {
            if (whyNot)
                *whyNot = "cannot start /usr/sbin/vsftpd";
            return false;
        }
        if (WaitForListener(port_, 5000, address_))
            return true;
        process_->kill();
        process_->waitForFinished(2000);
        process_.reset();
    }
    if (whyNot) {
        std::ifstream in(log_ + ".out");
        std::stringstream s;
        s << in.rdbuf();
        *whyNot = "vsftpd did not start listening: " + s.str();
    }
    return false;
}

void FtpTestServer::Share(const std::string& path) const
{
    if (kind_ != Kind::Vsftpd)
        return;
    const passwd* pw = ::getpwnam(VsftpdUser);
    if (!pw)
        return;
    // Best effort: a file the server cannot use shows up as a test failure.
    std::error_code ec;
    [[maybe_unused]] int rc = ::chown(path.c_str(), pw->pw_uid, pw->pw_gid);
    if (fs::is_directory(path, ec)) {
        for (const auto& entry : fs::recursive_directory_iterator(path, ec))
            rc = ::chown(entry.path().c_str(), pw->pw_uid, pw->pw_gid);
    }
}

std::string FtpTestServer::Log() const
{
    std::ifstream in(log_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace testsupport
