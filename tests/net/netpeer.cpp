#include "netpeer.h"

#include "support/eventwait.h"

#include <arpa/inet.h>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace nettest {

PosixListener::PosixListener(int rcvBuf)
{
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0)
        throw std::runtime_error("socket failed");
    if (rcvBuf > 0)
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &rcvBuf, sizeof rcvBuf);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 8) != 0)
        throw std::runtime_error("bind/listen failed");
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
}

PosixListener::~PosixListener()
{
    if (fd_ >= 0)
        ::close(fd_);
}

int PosixListener::Accept(int timeoutMs)
{
    int accepted = -1;
    testsupport::WaitFor(
        [&] {
            accepted = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            return accepted >= 0;
        },
        timeoutMs);
    return accepted;
}

PosixPeer::~PosixPeer() { Close(); }

void PosixPeer::Close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void PosixPeer::Write(const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            throw std::runtime_error("peer write failed");
        done += std::size_t(n);
    }
}

bool PosixPeer::ReadAvailable(std::string& into)
{
    char buf[65536];
    for (;;) {
        const ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0) {
            into.append(buf, std::size_t(n));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        return false;
    }
}

std::string PosixPeer::ReadExactly(std::size_t count, int timeoutMs)
{
    std::string got;
    testsupport::WaitFor(
        [&] {
            if (!ReadAvailable(got))
                return true;
            return got.size() >= count;
        },
        timeoutMs);
    return got;
}

std::string PosixPeer::ReadToEnd(bool& reset, int timeoutMs)
{
    std::string got;
    reset = false;
    bool ended = false;
    testsupport::WaitFor(
        [&] {
            char buf[65536];
            for (;;) {
                const ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
                if (n > 0) {
                    got.append(buf, std::size_t(n));
                    continue;
                }
                if (n == 0) {
                    ended = true;
                    return true;
                }
                if (errno == EAGAIN || errno == EWOULDBLOCK)
                    return false;
                reset = true;
                ended = true;
                return true;
            }
        },
        timeoutMs);
    (void)ended;
    return got;
}

int ConnectTo(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

double ProcessCpuSeconds()
{
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

bool HaveIPv6Loopback()
{
    const int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    const bool ok = ::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

void CollectReceived(TCustomWSocket& s, std::string& into)
{
    s.OnDataAvailable = [&into](TCustomWSocket* from, std::uint16_t) {
        char buf[2048];
        const int n = from->Receive(buf, sizeof buf);
        if (n > 0)
            into.append(buf, std::size_t(n));
    };
}

std::string RaisedBy(const std::function<void()>& f)
{
    try {
        f();
    } catch (const ESocketException& e) {
        return e.Message();
    }
    return "(nothing raised)";
}

std::string StateName(TSocketState s)
{
    switch (s) {
    case wsInvalidState:
        return "invalid";
    case wsOpened:
        return "opened";
    case wsBound:
        return "bound";
    case wsConnecting:
        return "connecting";
    case wsConnected:
        return "connected";
    case wsAccepting:
        return "accepting";
    case wsListening:
        return "listening";
    case wsClosed:
        return "closed";
    }
    return "?";
}

void EventLog::Attach(TCustomWSocket& s)
{
    s.OnChangeState = [this](TCustomWSocket*, TSocketState o, TSocketState n) {
        items.push_back("state " + StateName(o) + ">" + StateName(n));
    };
    s.OnSessionConnected = [this](TCustomWSocket*, std::uint16_t e) {
        items.push_back("connected " + std::to_string(e));
    };
    s.OnSessionClosed = [this](TCustomWSocket*, std::uint16_t e) { items.push_back("closed " + std::to_string(e)); };
    s.OnDataSent = [this](TCustomWSocket*, std::uint16_t e) { items.push_back("sent " + std::to_string(e)); };
}

bool EventLog::Has(const std::string& item) const
{
    for (const auto& i : items)
        if (i == item)
            return true;
    return false;
}

std::string EventLog::Joined() const
{
    std::string out;
    for (const auto& i : items) {
        if (!out.empty())
            out += ", ";
        out += i;
    }
    return out;
}

} // namespace nettest
