#include "ftpfakeserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace ftptest {

namespace {

bool WaitReadable(int fd, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0;
}

sockaddr_in Loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(std::uint16_t(port));
    return a;
}

int ListenLoopback(int& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in a = Loopback(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    ::listen(fd, 8);
    socklen_t len = sizeof(a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

bool SendAll(int fd, const char* data, std::size_t size)
{
    std::size_t off = 0;
    while (fd >= 0 && off < size) {
        const ssize_t n = ::send(fd, data + off, size - off, MSG_NOSIGNAL);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            return false;
        }
        off += std::size_t(n);
    }
    return fd >= 0;
}

void CloseWithReset(int& fd)
{
    if (fd < 0)
        return;
    const linger hard{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
    ::close(fd);
    fd = -1;
}

} // namespace

FakeSession::~FakeSession()
{
    CloseData();
    if (dataListen_ >= 0)
        ::close(dataListen_);
    Close();
}

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

void FakeSession::SendRaw(const std::string& bytes) { SendAll(fd_, bytes.data(), bytes.size()); }

void FakeSession::SendBytewise(const std::string& bytes, int pauseMs)
{
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    for (const char c : bytes) {
        if (stop_ && stop_->load())
            return;
        if (!SendAll(fd_, &c, 1))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    }
}

std::string FakeSession::ReadLine(int timeoutMs)
{
    for (;;) {
        const auto eol = pending_.find("\r\n");
        if (eol != std::string::npos) {
            std::string line = pending_.substr(0, eol);
            pending_.erase(0, eol + 2);
            // An RFC 959 server knows none of the later commands: it refuses
            // them, and the script never sees them.
            if (rfc959Only_ && (line == "FEAT" || line == "EPSV" || line.rfind("EPRT ", 0) == 0)) {
                Reply("500 '" + line + "': command not understood.");
                continue;
            }
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
        // Commands that come meanwhile are dropped; the later ones an RFC
        // 959 server refuses are still refused, so no client waits on them.
        pending_.append(buf, std::size_t(n));
        for (auto eol = pending_.find("\r\n"); eol != std::string::npos; eol = pending_.find("\r\n")) {
            const std::string line = pending_.substr(0, eol);
            pending_.erase(0, eol + 2);
            if (rfc959Only_ && (line == "FEAT" || line == "EPSV" || line.rfind("EPRT ", 0) == 0))
                Reply("500 '" + line + "': command not understood.");
        }
    }
    return false;
}

void FakeSession::Close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void FakeSession::Reset() { CloseWithReset(fd_); }

int FakeSession::ListenData()
{
    int port = 0;
    if (dataListen_ >= 0)
        ::close(dataListen_);
    dataListen_ = ListenLoopback(port);
    if (dataReceiveBuffer_ > 0)
        ::setsockopt(dataListen_, SOL_SOCKET, SO_RCVBUF, &dataReceiveBuffer_, sizeof(dataReceiveBuffer_));
    return port;
}

std::string FakeSession::PasvReply(int port, const std::string& address)
{
    return "227 Entering Passive Mode (" + address + "," + std::to_string(port / 256) + "," +
           std::to_string(port % 256) + ")";
}

bool FakeSession::AcceptData(int timeoutMs)
{
    if (dataListen_ < 0 || !Readable(dataListen_, timeoutMs))
        return false;
    CloseData();
    data_ = ::accept4(dataListen_, nullptr, nullptr, SOCK_CLOEXEC);
    return data_ >= 0;
}

int FakeSession::PortFromCommand(const std::string& line)
{
    if (line.rfind("PORT ", 0) != 0)
        return 0;
    int n[6] = {};
    if (std::sscanf(line.c_str() + 5, "%d,%d,%d,%d,%d,%d", &n[0], &n[1], &n[2], &n[3], &n[4], &n[5]) != 6)
        return 0;
    return n[4] * 256 + n[5];
}

bool FakeSession::ConnectData(int port, int fromPort)
{
    CloseData();
    data_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (dataReceiveBuffer_ > 0)
        ::setsockopt(data_, SOL_SOCKET, SO_RCVBUF, &dataReceiveBuffer_, sizeof(dataReceiveBuffer_));
    if (fromPort != 0) {
        int one = 1;
        ::setsockopt(data_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
        sockaddr_in from = Loopback(fromPort);
        if (::bind(data_, reinterpret_cast<sockaddr*>(&from), sizeof(from)) != 0) {
            CloseData();
            return false;
        }
    }
    sockaddr_in to = Loopback(port);
    if (::connect(data_, reinterpret_cast<sockaddr*>(&to), sizeof(to)) != 0) {
        CloseData();
        return false;
    }
    return true;
}

int FakeSession::DataLocalPort() const
{
    sockaddr_in a{};
    socklen_t len = sizeof(a);
    if (data_ < 0 || ::getsockname(data_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return 0;
    return ntohs(a.sin_port);
}

bool FakeSession::SendData(const std::string& bytes) { return SendAll(data_, bytes.data(), bytes.size()); }

std::string FakeSession::ReceiveData(std::size_t limit, int timeoutMs)
{
    std::string got;
    while (data_ >= 0 && got.size() < limit && Readable(data_, timeoutMs)) {
        char buf[16384];
        const std::size_t want = std::min(sizeof(buf), limit - got.size());
        const ssize_t n = ::recv(data_, buf, want, 0);
        if (n <= 0)
            break;
        got.append(buf, std::size_t(n));
    }
    return got;
}

std::string FakeSession::ReceiveDataPaced(std::size_t bytesPerSecond, int timeoutMs)
{
    // Ten reads a second, each of a tenth of the rate.
    const std::size_t slice = std::max<std::size_t>(1, bytesPerSecond / 10);
    std::string got;
    std::vector<char> buf(slice);
    while (data_ >= 0 && Readable(data_, timeoutMs)) {
        const ssize_t n = ::recv(data_, buf.data(), slice, 0);
        if (n <= 0)
            break;
        got.append(buf.data(), std::size_t(n));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return got;
}

void FakeSession::SetDataReceiveBuffer(int bytes)
{
    dataReceiveBuffer_ = bytes;
    if (dataListen_ >= 0)
        ::setsockopt(dataListen_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes));
}

bool FakeSession::IntrudeFrom(const std::string& fromAddr, int port, int timeoutMs)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    ::inet_pton(AF_INET, fromAddr.c_str(), &from.sin_addr);
    sockaddr_in to = Loopback(port);
    bool closed = false;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof(from)) == 0 &&
        ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof(to)) == 0) {
        // Whatever the client would deliver here is not for a stranger:
        // the connection must end without a byte.
        char c = 0;
        closed = WaitReadable(fd, timeoutMs) && ::recv(fd, &c, 1, 0) <= 0;
    }
    ::close(fd);
    return closed;
}

bool FakeSession::WaitDataClosed(int timeoutMs)
{
    while (data_ >= 0 && Readable(data_, timeoutMs)) {
        char buf[16384];
        const ssize_t n = ::recv(data_, buf, sizeof(buf), 0);
        if (n <= 0)
            return true;
    }
    return false;
}

void FakeSession::CloseData()
{
    if (data_ >= 0)
        ::close(data_);
    data_ = -1;
}

void FakeSession::ResetData() { CloseWithReset(data_); }

FakeFtpServer::FakeFtpServer(Script script, int sessions)
{
    listen_ = ListenLoopback(port_);
    thread_ = std::thread([this, script = std::move(script), sessions] {
        for (int i = 0; i < sessions && !stop_.load(); ++i) {
            while (!stop_.load() && !WaitReadable(listen_, 50)) {
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

void FakeFtpServer::Note(const std::string& what)
{
    const std::lock_guard<std::mutex> hold(lock_);
    notes_ += what + "\n";
}

std::string FakeFtpServer::Notes() const
{
    const std::lock_guard<std::mutex> hold(lock_);
    return notes_;
}

bool Login(FakeSession& s, FakeFtpServer& server)
{
    s.Reply("220 fake ready");
    const std::string user = s.ReadLine();
    if (user != "USER u") {
        server.Fail("expected USER u, got " + user);
        return false;
    }
    s.Reply("331 password please");
    const std::string pass = s.ReadLine();
    if (pass != "PASS p") {
        server.Fail("expected PASS p, got " + pass);
        return false;
    }
    s.Reply("230 in");
    return true;
}

} // namespace ftptest
