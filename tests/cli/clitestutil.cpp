#include "clitestutil.h"

#include <QProcess>

namespace clitest {

Result RunFtp(const std::string& folder, const QStringList& args, const QProcessEnvironment& env)
{
    QProcess p;
    p.setWorkingDirectory(QString::fromStdString(folder));
    if (!env.isEmpty())
        p.setProcessEnvironment(env);
    p.start(TARVIK_FTP_PROGRAM, args);
    p.waitForFinished(240000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput().toStdString(),
            p.readAllStandardError().toStdString()};
}

QProcessEnvironment CleanEnvironment(const std::string& home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("TARVIK_PASSWORD");
    env.remove("NETRC");
    env.insert("HOME", QString::fromStdString(home));
    env.insert("TARVIK_NO_KEYRING", "1");
    return env;
}

} // namespace clitest
