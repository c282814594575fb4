#include "httptestpeer.h"

#include "support/peerprocess.h"

#include <QDeadlineTimer>
#include <QRegularExpression>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace httptest {

namespace {
const char* const Python = "/usr/bin/python3";
}

TPeerProcess::~TPeerProcess() { Stop(); }

bool TPeerProcess::StartScripted(const std::string& proxyAuth)
{
    QStringList args{QStringLiteral("-u"), QStringLiteral(HTTP_TEST_DIR "/scripted_server.py")};
    if (!proxyAuth.empty())
        args << QStringLiteral("--proxy-auth") << QString::fromStdString(proxyAuth);
    return Start(args, true);
}

bool TPeerProcess::StartScriptedTls(const std::string& cert, const std::string& key)
{
    return Start({QStringLiteral("-u"), QStringLiteral(HTTP_TEST_DIR "/scripted_server.py"), QStringLiteral("--tls"),
                  QString::fromStdString(cert), QString::fromStdString(key)},
                 true);
}

bool TPeerProcess::StartStatic(const std::string& directory)
{
    return Start({QStringLiteral("-u"), QStringLiteral("-m"), QStringLiteral("http.server"), QStringLiteral("--bind"),
                  QStringLiteral("127.0.0.1"), QStringLiteral("--directory"), QString::fromStdString(directory),
                  QStringLiteral("0")},
                 false);
}

bool TPeerProcess::Start(const QStringList& args, bool portOnFirstLine)
{
    process_ = std::make_unique<QProcess>();
    if (!testsupport::StartPeerProcess(*process_, QString::fromLatin1(Python), args))
        return false;
    // http.server announces "Serving HTTP on 127.0.0.1 port N (...)".
    static const QRegularExpression announced(QStringLiteral("port (\\d+)"));
    QByteArray seen;
    QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        if (!process_->waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime()))))
            break;
        seen += process_->readAllStandardOutput();
        const QString text = QString::fromLatin1(seen);
        if (portOnFirstLine && text.contains(QLatin1Char('\n'))) {
            port_ = text.section(QLatin1Char('\n'), 0, 0).trimmed().toInt();
            return port_ > 0;
        }
        const auto match = announced.match(text);
        if (!portOnFirstLine && match.hasMatch()) {
            port_ = match.captured(1).toInt();
            return port_ > 0;
        }
    }
    return false;
}

void TPeerProcess::Stop()
{
    if (!process_)
        return;
    testsupport::StopPeerProcess(*process_);
    process_.reset();
}

int UnusedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                       ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0;
    ::close(fd);
    return bound ? ntohs(addr.sin_port) : 0;
}

} // namespace httptest
