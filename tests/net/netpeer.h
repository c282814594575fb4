#pragma once

// Scripted peers for the socket tests: plain POSIX sockets on 127.0.0.1 that
// the tests drive step by step while the event loop runs.

#include "net/wsocket.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace nettest {

// A listening POSIX socket on 127.0.0.1 and a system-chosen port.
class PosixListener {
public:
    // rcvBuf > 0 shrinks the receive buffer the accepted sockets inherit.
    explicit PosixListener(int rcvBuf = 0);
    ~PosixListener();
    PosixListener(const PosixListener&) = delete;
    PosixListener& operator=(const PosixListener&) = delete;

    std::uint16_t Port() const { return port_; }
    std::string PortText() const { return std::to_string(port_); }
    // Accepts one connection while running the event loop; -1 on time-out.
    int Accept(int timeoutMs = 5000);

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

// An owned connected descriptor with helpers that keep the loop running.
class PosixPeer {
public:
    explicit PosixPeer(int fd = -1) : fd_(fd) {}
    ~PosixPeer();
    PosixPeer(const PosixPeer&) = delete;
    PosixPeer& operator=(const PosixPeer&) = delete;

    int Fd() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    void Write(const std::string& bytes);
    // Reads what is there without blocking; appends to `into`. Returns false
    // on end of stream or error.
    bool ReadAvailable(std::string& into);
    // Runs the loop until `count` bytes arrived (or end of stream/time-out).
    std::string ReadExactly(std::size_t count, int timeoutMs = 5000);
    // Reads until end of stream; `reset` tells whether it ended with a reset.
    std::string ReadToEnd(bool& reset, int timeoutMs = 10000);
    void Close();

private:
    int fd_ = -1;
};

// A POSIX client connected to 127.0.0.1:port (blocking connect).
int ConnectTo(std::uint16_t port);

// Process CPU time (user + system) in seconds.
double ProcessCpuSeconds();

// True when this machine can bind the IPv6 loopback address (::1).
bool HaveIPv6Loopback();

// Appends what arrives on `s` (a connected stream or datagram socket) to
// `into`.
void CollectReceived(TCustomWSocket& s, std::string& into);

// Records the events of a socket as short texts, in order.
struct EventLog {
    std::vector<std::string> items;
    void Attach(TCustomWSocket& s);
    bool Has(const std::string& item) const;
    std::string Joined() const;
};

std::string StateName(TSocketState s);

// The message of the ESocketException `f` raises; "(nothing raised)" when it
// raises none.
std::string RaisedBy(const std::function<void()>& f);

} // namespace nettest
