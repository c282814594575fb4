#include "peerprocess.h"

#include <sys/prctl.h>

#include <csignal>

namespace testsupport {

bool StartPeerProcess(QProcess& process, const QString& program, const QStringList& args)
{
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process.start(program, args);
    return process.waitForStarted(10000);
}

void StopPeerProcess(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

} // namespace testsupport
