#pragma once

// Peers for the SOCKS tests: a scripted peer (a POSIX listener on 127.0.0.1
// with one accepted client, driven step by step while the event loop runs)
// that plays the proxy or the target, and the real servers the tests start
// (microsocks, python's http.server) as child processes.

#include <QProcess>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sockstest {

class ScriptedPeer {
public:
    ScriptedPeer();
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    std::uint16_t Port() const { return port_; }
    std::string PortText() const { return std::to_string(port_); }
    // Accepts the next client while the event loop runs; false on time-out.
    bool Accept(int timeoutMs = 5000);
    // Exactly `count` bytes, or fewer when the client closed or time ran out.
    std::string Read(std::size_t count, int timeoutMs = 5000);
    // Whatever arrives within `waitMs`.
    std::string ReadFor(int waitMs);
    void Write(const std::string& bytes);
    // True once the client has closed (end of stream or reset); data it
    // sends meanwhile is dropped.
    bool WaitClientClosed(int timeoutMs = 5000);
    void CloseClient();

private:
    int listenFd_ = -1;
    int clientFd_ = -1;
    std::uint16_t port_ = 0;
};

// A port that was free a moment ago (for servers that cannot be told to
// pick their own).
std::uint16_t FreePort();
// True once something accepts connections on 127.0.0.1:port.
bool WaitListening(std::uint16_t port, int timeoutMs = 10000);

// A server started for one test and stopped (terminated, then killed) when
// the object goes.
class ServerProcess {
public:
    ServerProcess(const std::string& program, const std::vector<std::string>& args, const std::string& workDir = "");
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    bool Started() const { return started_; }

private:
    std::unique_ptr<QProcess> process_;
    bool started_ = false;
};

// microsocks on 127.0.0.1, with a user name and password when both are set.
std::unique_ptr<ServerProcess> StartMicrosocks(std::uint16_t port, const std::string& user = "",
                                               const std::string& password = "");

// Bytes as text for failure messages ("05 01 00").
std::string Hex(const std::string& bytes);

} // namespace sockstest
