#pragma once

// Test peers for the HTTP client: the scripted server of this folder and
// Python's own http.server, each started on 127.0.0.1 on a port the system
// picks, and stopped when the object goes away.

#include <QProcess>

#include <memory>
#include <string>
#include <vector>

namespace httptest {

class TPeerProcess {
public:
    TPeerProcess() = default;
    ~TPeerProcess();
    TPeerProcess(const TPeerProcess&) = delete;
    TPeerProcess& operator=(const TPeerProcess&) = delete;

    // The scripted server; proxyAuth "user:pass" makes its proxy side demand
    // that Proxy-Authorization.
    bool StartScripted(const std::string& proxyAuth = {});
    // The scripted server speaking https with the given certificate files.
    bool StartScriptedTls(const std::string& cert, const std::string& key);
    // python3 -m http.server serving `directory`.
    bool StartStatic(const std::string& directory);

    int Port() const { return port_; }
    std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }
    void Stop();

private:
    bool Start(const QStringList& args, bool portOnFirstLine);

    std::unique_ptr<QProcess> process_;
    int port_ = 0;
};

// A port on 127.0.0.1 that nothing listens on (bound once, then released).
int UnusedPort();

} // namespace httptest
