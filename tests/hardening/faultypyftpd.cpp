#include "faultypyftpd.h"

#include <QProcess>
#include <QStringList>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#ifndef TARVIK_HARDENING_DIR
#error "TARVIK_HARDENING_DIR must name the folder of faultyftpd.py"
#endif

namespace hardening {

std::unique_ptr<FaultyPyftpd> FaultyPyftpd::Start(std::string* whyNot)
{
    std::unique_ptr<FaultyPyftpd> server(new FaultyPyftpd);
    char pattern[] = "/tmp/tarvik-faultyftpd-XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    if (!dir) {
        if (whyNot)
            *whyNot = "mkdtemp failed";
        return nullptr;
    }
    server->base_ = dir;
    server->root_ = server->base_ + "/root";
    server->log_ = server->base_ + "/server.log";
    std::filesystem::create_directory(server->root_);

    auto& process = server->process_;
    process = std::make_unique<QProcess>();
    // The server must not outlive a test program that crashed.
    process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process->setStandardErrorFile(QString::fromStdString(server->log_));
    process->start("/usr/bin/python3", {QString(TARVIK_HARDENING_DIR) + "/faultyftpd.py",
                                        QString::fromStdString(server->root_), QString::fromStdString(server->User()),
                                        QString::fromStdString(server->Password())});
    if (!process->waitForStarted(5000)) {
        if (whyNot)
            *whyNot = "cannot start /usr/bin/python3";
        return nullptr;
    }
    for (int i = 0; i < 100 && !process->canReadLine(); ++i)
        process->waitForReadyRead(100);
    server->port_ = process->readLine().trimmed().toInt();
    if (server->port_ <= 0) {
        if (whyNot)
            *whyNot = "the faulty pyftpdlib server did not report its port: " + server->Log();
        return nullptr;
    }
    return server;
}

FaultyPyftpd::~FaultyPyftpd()
{
    if (process_) {
        process_->terminate();
        if (!process_->waitForFinished(3000)) {
            process_->kill();
            process_->waitForFinished(3000);
        }
    }
    if (!base_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(base_, ec);
    }
}

std::string FaultyPyftpd::Log() const
{
    std::ifstream in(log_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace hardening
