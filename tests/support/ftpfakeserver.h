#pragma once

// A scripted FTP server for behaviour no real server shows. The script runs
// on a thread of its own with blocking sockets while the client under test
// runs on the test's event loop.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace ftptest {

class FakeSession {
public:
    FakeSession(int fd, const std::atomic<bool>* stop) : fd_(fd), stop_(stop) {}
    ~FakeSession();

    // Sends raw bytes (no line end is added).
    void SendRaw(const std::string& bytes);
    // Sends one reply line followed by CR LF.
    void Reply(const std::string& line) { SendRaw(line + "\r\n"); }
    // The next command line without its line end; empty when the client
    // closed the connection or nothing came within timeoutMs.
    std::string ReadLine(int timeoutMs = 10000);
    // True when the client closed the connection within timeoutMs.
    bool WaitClosed(int timeoutMs = 10000);
    void Close();

    // Passive data connection: listens on an ephemeral loopback port and
    // returns it; AcceptData() takes the client's connection.
    int ListenData();
    bool AcceptData(int timeoutMs = 10000);
    void SendData(const std::string& bytes);
    void CloseData();

private:
    bool Readable(int fd, int timeoutMs) const;

    int fd_ = -1;
    const std::atomic<bool>* stop_ = nullptr;
    int dataListen_ = -1;
    int data_ = -1;
    std::string pending_;
};

class FakeFtpServer {
public:
    using Script = std::function<void(FakeSession&)>;

    // Listens on 127.0.0.1, port chosen by the system, and runs the script
    // for the first connection (and each further one, up to `sessions`).
    explicit FakeFtpServer(Script script, int sessions = 1);
    ~FakeFtpServer();

    int Port() const { return port_; }
    std::string PortText() const { return std::to_string(port_); }
    // True once every session's script has returned.
    bool Finished() const { return finished_.load(); }
    // Failures seen by the script (unexpected commands), for the test.
    std::string Failures() const;
    void Fail(const std::string& what);

private:
    int listen_ = -1;
    int port_ = 0;
    std::atomic<bool> finished_{false};
    std::atomic<bool> stop_{false};
    mutable std::mutex lock_;
    std::string failures_;
    std::thread thread_;
};

} // namespace ftptest
