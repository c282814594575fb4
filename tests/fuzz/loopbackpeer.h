#pragma once

// The far end of a connection for harnesses that feed bytes through the real
// receive path: a plain non-blocking POSIX listener on 127.0.0.1 (port chosen
// by the system) and the connections it accepts. Everything waits in the
// event loop, so the component under test keeps running meanwhile.

#include <cstdint>
#include <string>
#include <string_view>

namespace fuzz {

class TPeerConnection {
public:
    TPeerConnection() = default;
    explicit TPeerConnection(int fd) : fd_(fd) {}
    ~TPeerConnection();
    TPeerConnection(TPeerConnection&& other) noexcept;
    TPeerConnection& operator=(TPeerConnection&& other) noexcept;
    TPeerConnection(const TPeerConnection&) = delete;
    TPeerConnection& operator=(const TPeerConnection&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    // Writes everything, pumping events while the socket is full. False when
    // the connection failed or `timeoutMs` passed.
    bool Write(std::string_view data, int timeoutMs);
    // Appends whatever has arrived to `into`; false once the peer closed or
    // the connection failed.
    bool ReadAvailable(std::string& into);
    // Reads (pumping events) until `into` contains `marker`, the peer
    // closes, or `timeoutMs` passed.
    bool ReadUntil(std::string& into, std::string_view marker, int timeoutMs);
    // Orderly end of our sending side; reading goes on.
    void ShutdownWrite();
    // Closes with a reset instead of an orderly close.
    void Reset();
    void Close();

private:
    int fd_ = -1;
};

class TLoopbackListener {
public:
    TLoopbackListener();
    ~TLoopbackListener();
    TLoopbackListener(const TLoopbackListener&) = delete;
    TLoopbackListener& operator=(const TLoopbackListener&) = delete;

    std::uint16_t Port() const { return port_; }
    std::string PortText() const { return std::to_string(port_); }
    // Waits (pumping events) up to `timeoutMs` for a connection.
    TPeerConnection Accept(int timeoutMs);

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

} // namespace fuzz
