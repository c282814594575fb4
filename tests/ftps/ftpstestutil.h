#pragma once

// Helpers of the FTPS tests: the scripted FTPS server (ftpsfake.py), the
// client settings for each kind of TLS, and a private settings folder so
// that remembered certificates never leak between runs.

#include "ftptestutil.h"
#include "tls/tlstestpeer.h"

#include <QProcess>

#include <memory>
#include <string>
#include <vector>

namespace ftpstest {

// Points the program's settings at a fresh folder (once per process).
void IsolateSettings();

// Sets up `client` for `encryption`, trusting the test authority.
void UseTls(ftptest::RecordingClient& client, TFtpEncryption encryption, bool trustTestCa = true);

class TFakeFtps {
public:
    TFakeFtps() = default;
    ~TFakeFtps();
    TFakeFtps(const TFakeFtps&) = delete;
    TFakeFtps& operator=(const TFakeFtps&) = delete;

    // mode: see ftpsfake.py; cert: a name of tlstest::CertDir().
    bool Start(const std::string& mode, const std::string& cert);
    std::string PortText() const { return std::to_string(port_); }
    // The commands the server received so far, in order.
    std::vector<std::string> Commands();
    bool Received(const std::string& word);

private:
    std::unique_ptr<QProcess> process_;
    int port_ = 0;
    std::string pending_;
    std::vector<std::string> commands_;
};

// The bytes the scripted server sends for every RETR.
std::string FakeFileBytes();

} // namespace ftpstest
