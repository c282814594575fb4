#include "socksproxy.h"

#include "support/eventwait.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace sockstest {

namespace {

sockaddr_in Loopback(std::uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

} // namespace

ScriptedPeer::ScriptedPeer()
{
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listenFd_ < 0)
        throw std::runtime_error("socket failed");
    sockaddr_in a = Loopback(0);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listenFd_, 4) != 0)
        throw std::runtime_error("bind/listen failed");
    socklen_t len = sizeof a;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
}

ScriptedPeer::~ScriptedPeer()
{
    CloseClient();
    if (listenFd_ >= 0)
        ::close(listenFd_);
}

bool ScriptedPeer::Accept(int timeoutMs)
{
    CloseClient();
    testsupport::WaitFor(
        [&] {
            clientFd_ = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            return clientFd_ >= 0;
        },
        timeoutMs);
    return clientFd_ >= 0;
}

std::string ScriptedPeer::Read(std::size_t count, int timeoutMs)
{
    std::string got;
    testsupport::WaitFor(
        [&] {
            while (got.size() < count) {
                char buf[4096];
                const ssize_t n = ::recv(clientFd_, buf, std::min(sizeof buf, count - got.size()), 0);
                if (n > 0) {
                    got.append(buf, std::size_t(n));
                    continue;
                }
                if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                    return false;
                return true; // closed
            }
            return true;
        },
        timeoutMs);
    return got;
}

std::string ScriptedPeer::ReadFor(int waitMs)
{
    std::string got;
    testsupport::WaitFor(
        [&] {
            char buf[4096];
            for (;;) {
                const ssize_t n = ::recv(clientFd_, buf, sizeof buf, 0);
                if (n > 0) {
                    got.append(buf, std::size_t(n));
                    continue;
                }
                return n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
            }
        },
        waitMs);
    return got;
}

void ScriptedPeer::Write(const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(clientFd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            testsupport::RunFor(5);
            continue;
        }
        if (n <= 0)
            throw std::runtime_error("scripted peer: write failed");
        done += std::size_t(n);
    }
}

bool ScriptedPeer::WaitClientClosed(int timeoutMs)
{
    return testsupport::WaitFor(
        [&] {
            char buf[4096];
            for (;;) {
                const ssize_t n = ::recv(clientFd_, buf, sizeof buf, 0);
                if (n > 0)
                    continue;
                return n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
            }
        },
        timeoutMs);
}

void ScriptedPeer::CloseClient()
{
    if (clientFd_ >= 0)
        ::close(clientFd_);
    clientFd_ = -1;
}

std::uint16_t FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

bool WaitListening(std::uint16_t port, int timeoutMs)
{
    return testsupport::WaitFor(
        [&] {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const sockaddr_in a = Loopback(port);
            const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
            ::close(fd);
            return ok;
        },
        timeoutMs);
}

ServerProcess::ServerProcess(const std::string& program, const std::vector<std::string>& args,
                             const std::string& workDir)
    : process_(std::make_unique<QProcess>())
{
    QStringList list;
    for (const auto& a : args)
        list << QString::fromStdString(a);
    if (!workDir.empty())
        process_->setWorkingDirectory(QString::fromStdString(workDir));
    process_->setProcessChannelMode(QProcess::MergedChannels);
    process_->setStandardOutputFile(QProcess::nullDevice());
    process_->start(QString::fromStdString(program), list);
    started_ = process_->waitForStarted(5000);
}

ServerProcess::~ServerProcess()
{
    if (process_->state() == QProcess::NotRunning)
        return;
    process_->terminate();
    if (!process_->waitForFinished(3000)) {
        process_->kill();
        process_->waitForFinished(3000);
    }
}

std::unique_ptr<ServerProcess> StartMicrosocks(std::uint16_t port, const std::string& user, const std::string& password)
{
    std::vector<std::string> args = {"-i", "127.0.0.1", "-p", std::to_string(port)};
    if (!user.empty() && !password.empty()) {
        args.insert(args.end(), {"-u", user, "-P", password});
    }
    auto server = std::make_unique<ServerProcess>("microsocks", args);
    if (!server->Started() || !WaitListening(port))
        return nullptr;
    return server;
}

std::string Hex(const std::string& bytes)
{
    std::string out;
    char part[4];
    for (const unsigned char c : bytes) {
        std::snprintf(part, sizeof part, "%02x", c);
        if (!out.empty())
            out += ' ';
        out += part;
    }
    return out;
}

} // namespace sockstest
