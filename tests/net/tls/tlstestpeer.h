#pragma once

// TLS test fixtures shared by the socket and HTTP tests: a test authority
// with its certificates, made once per test program with `openssl`, and the
// Python TLS peer (tlspeer.py) on 127.0.0.1.

#include <QProcess>

#include <memory>
#include <string>
#include <vector>

namespace tlstest {

// The folder with ca.pem, good, wrongname, expired, self and self2 (.pem
// and .key each); made on first use, removed at exit.
const std::string& CertDir();
std::string CertFile(const std::string& name); // CertDir() + "/" + name + ".pem"
std::string KeyFile(const std::string& name);

class TTlsPeer {
public:
    TTlsPeer() = default;
    ~TTlsPeer();
    TTlsPeer(const TTlsPeer&) = delete;
    TTlsPeer& operator=(const TTlsPeer&) = delete;

    // cert: one of the names above; extra: "--tls12", "--tls13", "--explicit".
    bool Start(const std::string& cert, const std::vector<std::string>& extra = {});
    int Port() const { return port_; }
    std::string PortText() const { return std::to_string(port_); }
    // Lines the peer reported on stdout after its port ("END notify", ...).
    std::vector<std::string> Reports();
    // Waits (event loop running) until a report line equal to `line` came.
    bool WaitForReport(const std::string& line, int timeoutMs = 5000);
    void Stop();

private:
    std::unique_ptr<QProcess> process_;
    int port_ = 0;
    std::string pending_;
    std::vector<std::string> reports_;
};

// Runs a script of this folder with python3 and the given arguments (the
// port is read from its first line of output), for the HTTPS tests' servers.
bool StartPythonPeer(QProcess& process, const std::string& script, const QStringList& args, int& port);

} // namespace tlstest
