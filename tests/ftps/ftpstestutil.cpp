#include "ftpstestutil.h"

#include <QSettings>
#include <QTemporaryDir>

namespace ftpstest {

void IsolateSettings()
{
    static QTemporaryDir* dir = nullptr;
    if (dir)
        return;
    dir = new QTemporaryDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir->path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir->path());
}

void UseTls(ftptest::RecordingClient& client, TFtpEncryption encryption, bool trustTestCa)
{
    client.SetEncryption(encryption);
    client.SetSslCAFile(trustTestCa ? tlstest::CertFile("ca") : std::string());
}

TFakeFtps::~TFakeFtps()
{
    if (!process_)
        return;
    process_->terminate();
    if (!process_->waitForFinished(5000)) {
        process_->kill();
        process_->waitForFinished(5000);
    }
}

bool TFakeFtps::Start(const std::string& mode, const std::string& cert)
{
    process_ = std::make_unique<QProcess>();
    return tlstest::StartPythonPeer(*process_, FTPS_TEST_DIR "/ftpsfake.py",
                                    {QString::fromStdString(mode), QString::fromStdString(tlstest::CertFile(cert)),
                                     QString::fromStdString(tlstest::KeyFile(cert))},
                                    port_);
}

std::vector<std::string> TFakeFtps::Commands()
{
    pending_ += process_->readAllStandardOutput().toStdString();
    std::size_t nl;
    while ((nl = pending_.find('\n')) != std::string::npos) {
        const std::string line = pending_.substr(0, nl);
        pending_.erase(0, nl + 1);
        if (line.rfind("CMD ", 0) == 0)
            commands_.push_back(line.substr(4));
    }
    return commands_;
}

bool TFakeFtps::Received(const std::string& word)
{
    for (const std::string& c : Commands())
        if (c.rfind(word, 0) == 0)
            return true;
    return false;
}

std::string FakeFileBytes()
{
    std::string block;
    for (int i = 0; i < 256; ++i)
        block += char((i * 7 + 3) & 0xFF);
    std::string out;
    while (out.size() < 100000)
        out += block;
    out.resize(100000);
    return out;
}

} // namespace ftpstest
