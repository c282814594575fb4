#include "ftpfakeserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace ftptest {

namespace {

bool WaitReadable(int fd, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0;
}

int ListenLoopback(int& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    ::listen(fd, 4);
    socklen_t len = sizeof(a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

void SendAll(int fd, const std::string& bytes)
{
    std::size_t off = 0;
    while (fd >= 0 && off < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            return;
        }
        off += std::size_t(n);
    }
}

} // namespace

// Waits in short slices so that a server being destroyed ends its script.
bool FakeSession::Readable(int fd, int timeoutMs) const
{
    for (int waited = 0; waited < timeoutMs; waited += 50) {
        if (stop_ && stop_->load())
            return false;
        if (WaitReadable(fd, 50))
            return true;
    }
    return false;
}

FakeSession::~FakeSession()
{
    CloseData();
    if (dataListen_ >= 0)
        ::close(dataListen_);
    Close();
}

void FakeSession::SendRaw(const std::string& bytes)
{
    SendAll(fd_, bytes);
}

std::string FakeSession::ReadLine(int timeoutMs)
{
    for (;;) {
        const auto eol = pending_.find("\r\n");
        if (eol != std::string::npos) {
            std::string line = pending_.substr(0, eol);
            pending_.erase(0, eol + 2);
            return line;
        }
        if (fd_ < 0 || !Readable(fd_, timeoutMs))
            return {};
        char buf[4096];
        const ssize_t n = ::recv(fd_, buf, sizeof(buf), 0);
        if (n <= 0)
            return {};
        pending_.append(buf, std::size_t(n));
    }
}

bool FakeSession::WaitClosed(int timeoutMs)
{
    while (fd_ >= 0 && Readable(fd_, timeoutMs)) {
        char buf[4096];
        const ssize_t n = ::recv(fd_, buf, sizeof(buf), 0);
        if (n <= 0)
            return true;
    }
    return false;
}

void FakeSession::Close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

int FakeSession::ListenData()
{
    int port = 0;
    if (dataListen_ >= 0)
        ::close(dataListen_);
    dataListen_ = ListenLoopback(port);
    return port;
}

bool FakeSession::AcceptData(int timeoutMs)
{
    if (dataListen_ < 0 || !Readable(dataListen_, timeoutMs))
        return false;
    data_ = ::accept4(dataListen_, nullptr, nullptr, SOCK_CLOEXEC);
    return data_ >= 0;
}

void FakeSession::SendData(const std::string& bytes)
{
    SendAll(data_, bytes);
}

void FakeSession::CloseData()
{
    if (data_ >= 0)
        ::close(data_);
    data_ = -1;
}

FakeFtpServer::FakeFtpServer(Script script, int sessions)
{
    listen_ = ListenLoopback(port_);
    thread_ = std::thread([this, script = std::move(script), sessions] {
        for (int i = 0; i < sessions && !stop_.load(); ++i) {
            while (!stop_.load() && !WaitReadable(listen_, 100)) {
            }
            if (stop_.load())
                break;
            const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                break;
            FakeSession session(fd, &stop_);
            script(session);
        }
        finished_.store(true);
    });
}

FakeFtpServer::~FakeFtpServer()
{
    stop_.store(true);
    if (thread_.joinable())
        thread_.join();
    ::close(listen_);
}

std::string FakeFtpServer::Failures() const
{
    const std::lock_guard<std::mutex> hold(lock_);
    return failures_;
}

void FakeFtpServer::Fail(const std::string& what)
{
    const std::lock_guard<std::mutex> hold(lock_);
    failures_ += what + "\n";
}

} // namespace ftptest
