#pragma once

// A scripted FTP server for behaviour no real server shows, including
// servers that misbehave on purpose: replies dribbled one byte per packet,
// data connections reset or dropped half way, connections opened from
// unexpected ports or never opened, floods of reply lines, and servers that
// fall silent. The script runs on a thread of its own with blocking sockets
// while the client under test runs on the test's event loop.

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace ftptest {

class FakeSession {
public:
    FakeSession(int fd, const std::atomic<bool>* stop) : fd_(fd), stop_(stop) {}
    ~FakeSession();

    FakeSession(const FakeSession&) = delete;
    FakeSession& operator=(const FakeSession&) = delete;

    // --- control connection ---------------------------------------------
    // Sends raw bytes (no line end is added).
    void SendRaw(const std::string& bytes);
    // Sends one reply line followed by CR LF.
    void Reply(const std::string& line) { SendRaw(line + "\r\n"); }
    // Sends every byte in a packet of its own (Nagle off, a pause between
    // bytes so that the receiver sees them one at a time).
    void SendBytewise(const std::string& bytes, int pauseMs = 1);
    // The next command line without its line end; empty when the client
    // closed the connection or nothing came within timeoutMs.
    std::string ReadLine(int timeoutMs = 10000);
    // By default the session plays a server of RFC 959 alone: FEAT, EPSV
    // and EPRT are refused before the script sees them.
    void SetRfc959Only(bool v) { rfc959Only_ = v; }
    // True when the client closed the control connection within timeoutMs.
    bool WaitClosed(int timeoutMs = 10000);
    void Close();
    // Closes with a reset instead of an orderly shutdown.
    void Reset();

    // --- passive data connection ----------------------------------------
    // Listens on an ephemeral loopback port and returns it; AcceptData()
    // takes the client's connection.
    int ListenData();
    // The 227 reply for `port` at `address` (comma-separated).
    static std::string PasvReply(int port, const std::string& address = "127,0,0,1");
    bool AcceptData(int timeoutMs = 10000);

    // --- active data connection -----------------------------------------
    // Parses "PORT h1,h2,h3,h4,p1,p2"; 0 when the line is not one.
    static int PortFromCommand(const std::string& line);
    // Connects to the client's listening port, from `fromPort` when it is
    // not 0 (any free port otherwise).
    bool ConnectData(int port, int fromPort = 0);
    // The local port of the data connection (its source port when active).
    int DataLocalPort() const;

    // --- either data connection -----------------------------------------
    bool SendData(const std::string& bytes);
    // Reads until the client closes the data connection, at most `limit`
    // bytes (the rest is left unread), or until timeoutMs of silence.
    std::string ReceiveData(std::size_t limit = std::size_t(-1), int timeoutMs = 10000);
    // Reads until the client closes the data connection, at about
    // `bytesPerSecond`; stops after timeoutMs of silence.
    std::string ReceiveDataPaced(std::size_t bytesPerSecond, int timeoutMs = 10000);
    // True when the client closed the data connection within timeoutMs.
    bool WaitDataClosed(int timeoutMs = 10000);
    void CloseData();
    void ResetData();
    // Shrinks the receive buffer of the data connections made from now on
    // (set before they connect, so that no window is shrunk under way).
    void SetDataReceiveBuffer(int bytes);
    // Connects to the client's listening port from another local address
    // (127.0.0.2) as a third party would; true when the client then closed
    // that connection within timeoutMs.
    static bool IntrudeFrom(const std::string& fromAddr, int port, int timeoutMs = 5000);

private:
    bool Readable(int fd, int timeoutMs) const;

    int fd_ = -1;
    const std::atomic<bool>* stop_ = nullptr;
    int dataListen_ = -1;
    int data_ = -1;
    int dataReceiveBuffer_ = 0;
    bool rfc959Only_ = true;
    std::string pending_;
};

class FakeFtpServer {
public:
    using Script = std::function<void(FakeSession&)>;

    // Listens on 127.0.0.1, port chosen by the system, and runs the script
    // for the first connection (and each further one, up to `sessions`).
    explicit FakeFtpServer(Script script, int sessions = 1);
    ~FakeFtpServer();

    FakeFtpServer(const FakeFtpServer&) = delete;
    FakeFtpServer& operator=(const FakeFtpServer&) = delete;

    int Port() const { return port_; }
    std::string PortText() const { return std::to_string(port_); }
    // True once every session's script has returned.
    bool Finished() const { return finished_.load(); }
    // Failures seen by the script (unexpected commands), for the test.
    std::string Failures() const;
    void Fail(const std::string& what);
    // Scripts record what they observed here for the test to check.
    void Note(const std::string& what);
    std::string Notes() const;

private:
    int listen_ = -1;
    int port_ = 0;
    std::atomic<bool> finished_{false};
    std::atomic<bool> stop_{false};
    mutable std::mutex lock_;
    std::string failures_;
    std::string notes_;
    std::thread thread_;
};

// Plays the greeting and a USER u / PASS p login; false (with the failure
// noted on the server) when the client said something else.
bool Login(FakeSession& s, FakeFtpServer& server);

} // namespace ftptest
