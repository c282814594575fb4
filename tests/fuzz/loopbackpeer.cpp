#include "loopbackpeer.h"

#include "fuzzsupport.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>

namespace fuzz {

namespace {

void MakeNonBlocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL, 0);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

} // namespace

TPeerConnection::~TPeerConnection() { Close(); }

TPeerConnection::TPeerConnection(TPeerConnection&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

TPeerConnection& TPeerConnection::operator=(TPeerConnection&& other) noexcept
{
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

bool TPeerConnection::Write(std::string_view data, int timeoutMs)
{
    if (fd_ < 0)
        return false;
    std::size_t done = 0;
    bool failed = false;
    auto sendSome = [&] {
        while (done < data.size()) {
            const ssize_t n = ::send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
            if (n > 0) {
                done += std::size_t(n);
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return false;
            if (n < 0 && errno == EINTR)
                continue;
            failed = true;
            return true;
        }
        return true;
    };
    PumpUntil(sendSome, timeoutMs);
    return !failed && done == data.size();
}

bool TPeerConnection::ReadAvailable(std::string& into)
{
    if (fd_ < 0)
        return false;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n > 0) {
            into.append(buf, std::size_t(n));
            continue;
        }
        if (n == 0)
            return false;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
}

bool TPeerConnection::ReadUntil(std::string& into, std::string_view marker, int timeoutMs)
{
    bool open = true;
    PumpUntil(
        [&] {
            open = ReadAvailable(into);
            return !open || into.find(marker) != std::string::npos;
        },
        timeoutMs);
    return into.find(marker) != std::string::npos;
}

void TPeerConnection::ShutdownWrite()
{
    if (fd_ >= 0)
        ::shutdown(fd_, SHUT_WR);
}

void TPeerConnection::Reset()
{
    if (fd_ < 0)
        return;
    linger li{};
    li.l_onoff = 1;
    li.l_linger = 0;
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &li, sizeof li);
    Close();
}

void TPeerConnection::Close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

TLoopbackListener::TLoopbackListener()
{
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        Fail("socket() for the loopback listener failed");
    const int on = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd_, 64) != 0)
        Fail("cannot listen on 127.0.0.1");
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    MakeNonBlocking(fd_);
}

TLoopbackListener::~TLoopbackListener()
{
    if (fd_ >= 0)
        ::close(fd_);
}

TPeerConnection TLoopbackListener::Accept(int timeoutMs)
{
    int accepted = -1;
    PumpUntil(
        [&] {
            accepted = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            return accepted >= 0;
        },
        timeoutMs);
    return TPeerConnection(accepted);
}

} // namespace fuzz
