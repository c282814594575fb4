#include "tls/tlstestpeer.h"

#include "support/eventwait.h"
#include "support/peerprocess.h"

#include <QDeadlineTimer>
#include <QTemporaryDir>

#include <cstdlib>

namespace tlstest {

namespace {

QTemporaryDir* certDir = nullptr;

void RemoveCertDir()
{
    delete certDir;
    certDir = nullptr;
}

} // namespace

const std::string& CertDir()
{
    static std::string path;
    if (!path.empty())
        return path;
    certDir = new QTemporaryDir;
    std::atexit(RemoveCertDir);
    const QString dir = certDir->path();
    QProcess make;
    make.start(QStringLiteral("/bin/sh"), {QStringLiteral(TLS_TEST_DIR "/makecerts.sh"), dir});
    if (!make.waitForFinished(120000) || make.exitCode() != 0) {
        std::fprintf(stderr, "makecerts.sh failed: %s\n", make.readAllStandardError().constData());
        std::abort();
    }
    path = dir.toStdString();
    return path;
}

std::string CertFile(const std::string& name) { return CertDir() + "/" + name + ".pem"; }
std::string KeyFile(const std::string& name) { return CertDir() + "/" + name + ".key"; }

bool StartPythonPeer(QProcess& process, const std::string& script, const QStringList& args, int& port)
{
    QStringList all{QStringLiteral("-u"), QString::fromStdString(script)};
    all << args;
    if (!testsupport::StartPeerProcess(process, QStringLiteral("/usr/bin/python3"), all))
        return false;
    QByteArray seen;
    QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired() && !seen.contains('\n')) {
        if (!process.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime()))))
            break;
        seen += process.readLine();
    }
    port = seen.trimmed().toInt();
    return port > 0;
}

TTlsPeer::~TTlsPeer() { Stop(); }

bool TTlsPeer::Start(const std::string& cert, const std::vector<std::string>& extra)
{
    process_ = std::make_unique<QProcess>();
    QStringList args{QStringLiteral("--cert"), QString::fromStdString(CertFile(cert)), QStringLiteral("--key"),
                     QString::fromStdString(KeyFile(cert))};
    for (const std::string& e : extra)
        args << QString::fromStdString(e);
    return StartPythonPeer(*process_, TLS_TEST_DIR "/tlspeer.py", args, port_);
}

std::vector<std::string> TTlsPeer::Reports()
{
    if (process_) {
        pending_ += process_->readAllStandardOutput().toStdString();
        std::size_t nl;
        while ((nl = pending_.find('\n')) != std::string::npos) {
            reports_.push_back(pending_.substr(0, nl));
            pending_.erase(0, nl + 1);
        }
    }
    return reports_;
}

bool TTlsPeer::WaitForReport(const std::string& line, int timeoutMs)
{
    return testsupport::WaitFor(
        [&] {
            for (const std::string& r : Reports())
                if (r == line)
                    return true;
            return false;
        },
        timeoutMs);
}

void TTlsPeer::Stop()
{
    if (!process_)
        return;
    testsupport::StopPeerProcess(*process_);
    process_.reset();
}

} // namespace tlstest
