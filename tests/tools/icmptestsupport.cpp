#include "icmptestsupport.h"

#include "platform/icmpapi.h"

#include <QProcess>
#include <QStandardPaths>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sstream>

namespace icmptest {

CommandResult Run(const QString& program, const QStringList& args, const std::string& input)
{
    CommandResult result;
    QProcess process;
    process.start(program, args);
    if (!process.waitForStarted(10000))
        return result;
    result.started = true;
    if (!input.empty())
        process.write(input.data(), qint64(input.size()));
    process.closeWriteChannel();
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished(5000);
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput().toStdString();
    result.err = process.readAllStandardError().toStdString();
    return result;
}

std::map<std::string, std::string> ParseProbe(const std::string& out)
{
    std::map<std::string, std::string> values;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

QString ProbePath() { return QStringLiteral(TARVIK_ICMP_PROBE); }

std::string EchoUnavailableReason()
{
    const ICMP_HANDLE h = IcmpCreateFile();
    if (h == INVALID_ICMP_HANDLE)
        return "no ICMP socket can be opened here: " + IcmpGetLastErrorText();
    IcmpCloseHandle(h);
    return {};
}

bool CanOpenRawSocket()
{
    const int fd = ::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

namespace {

QString FindTool(const char* name)
{
    return QStandardPaths::findExecutable(QString::fromLatin1(name), {"/usr/sbin", "/sbin", "/usr/bin", "/bin"});
}

} // namespace

TestNamespace::TestNamespace()
{
    const QString ip = FindTool("ip");
    if (ip.isEmpty()) {
        failure_ = "the ip command (package iproute2) is not installed";
        return;
    }
    if (::geteuid() != 0) {
        failure_ = "creating a network namespace needs root";
        return;
    }
    static int serial = 0;
    name_ = QStringLiteral("tarvik-icmp-%1-%2").arg(::getpid()).arg(++serial);
    const CommandResult add = Run(ip, {"netns", "add", name_});
    if (add.exitCode != 0) {
        failure_ = "ip netns add failed: " + add.err;
        return;
    }
    created_ = true;
    const CommandResult up = Exec({ip, "link", "set", "lo", "up"});
    if (up.exitCode != 0)
        failure_ = "cannot bring up the namespace's loopback: " + up.err;
}

TestNamespace::~TestNamespace()
{
    if (created_)
        Run(FindTool("ip"), {"netns", "delete", name_});
}

CommandResult TestNamespace::Exec(const QStringList& command, const std::string& input) const
{
    QStringList args{"netns", "exec", name_};
    args += command;
    return Run(FindTool("ip"), args, input);
}

bool TestNamespace::SetPingGroupRange(bool everyone) const
{
    const std::string value = everyone ? "0 2147483647\n" : "1 0\n";
    // /proc/sys/net shows the namespace of the process that opens it.
    return Exec({"/bin/sh", "-c", "cat > /proc/sys/net/ipv4/ping_group_range"}, value).exitCode == 0;
}

bool TestNamespace::IgnoreEchoRequests() const
{
    return Exec({"/bin/sh", "-c", "cat > /proc/sys/net/ipv4/icmp_echo_ignore_all"}, "1\n").exitCode == 0;
}

bool TestNamespace::LoadRules(const std::string& ruleset, std::string& why) const
{
    const QString nft = FindTool("nft");
    if (nft.isEmpty()) {
        why = "the nft command (package nftables) is not installed";
        return false;
    }
    const CommandResult r = Exec({nft, "-f", "-"}, ruleset);
    if (r.exitCode != 0) {
        why = "nft refused the rules: " + r.err;
        return false;
    }
    return true;
}

std::map<std::string, std::string> TestNamespace::Probe(const QStringList& args) const
{
    QStringList command{ProbePath()};
    command += args;
    return ParseProbe(Exec(command).out);
}

} // namespace icmptest
