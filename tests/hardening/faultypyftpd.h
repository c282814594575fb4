#pragma once

// A real pyftpdlib server on 127.0.0.1 whose data connections break on
// purpose for files with certain name prefixes (see faultyftpd.py), serving
// a fresh temporary folder; stopped when the object goes away.

#include <memory>
#include <string>

class QProcess;

namespace hardening {

class FaultyPyftpd {
public:
    // Null, with the reason in whyNot, when the server cannot run here.
    static std::unique_ptr<FaultyPyftpd> Start(std::string* whyNot = nullptr);
    ~FaultyPyftpd();

    FaultyPyftpd(const FaultyPyftpd&) = delete;
    FaultyPyftpd& operator=(const FaultyPyftpd&) = delete;

    int Port() const { return port_; }
    std::string PortText() const { return std::to_string(port_); }
    std::string User() const { return "tarvik"; }
    std::string Password() const { return "secret"; }
    const std::string& Root() const { return root_; }
    // Bytes a faulty transfer moves before it breaks.
    static constexpr long long FaultAfter = 128 * 1024;
    std::string Log() const;

private:
    FaultyPyftpd() = default;

    int port_ = 0;
    std::string base_;
    std::string root_;
    std::string log_;
    std::unique_ptr<QProcess> process_;
};

} // namespace hardening
