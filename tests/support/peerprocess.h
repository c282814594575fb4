#pragma once

// Starting and stopping the helper processes the tests talk to (Python
// peers, servers).

#include <QProcess>
#include <QString>
#include <QStringList>

namespace testsupport {

// Starts `program` with its output kept apart from its errors; the child
// gets SIGTERM when the test program dies (crash, time-out), so no peer is
// left running. False when it did not start.
bool StartPeerProcess(QProcess& process, const QString& program, const QStringList& args);

// Asks the process to end, then kills it when it has not within 5 seconds.
void StopPeerProcess(QProcess& process);

} // namespace testsupport
