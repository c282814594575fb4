#include "climirrortest.h"

#include <QProcess>

#include <fstream>
#include <sstream>

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

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void Spit(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

} // namespace clitest
