#pragma once

// Helpers of the ICMP tests: running programs, the probe, network
// namespaces made for one test, and what this user may do with ICMP.

#include <QStringList>

#include <map>
#include <string>

namespace icmptest {

struct CommandResult {
    bool started = false;
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs a program to its end (at most 60 s) with `input` on its stdin.
CommandResult Run(const QString& program, const QStringList& args, const std::string& input = {});

// The probe's "key=value" lines; a key printed twice keeps its last value.
std::map<std::string, std::string> ParseProbe(const std::string& out);

QString ProbePath();

// Empty when this process can open an echo handle; else the reason.
std::string EchoUnavailableReason();

// True when this process may open a raw ICMP socket (to watch the wire).
bool CanOpenRawSocket();

// A network namespace of its own, removed again by the destructor. Only its
// loopback interface exists, and it is up.
class TestNamespace {
public:
    TestNamespace();
    ~TestNamespace();
    TestNamespace(const TestNamespace&) = delete;
    TestNamespace& operator=(const TestNamespace&) = delete;

    // Empty when the namespace exists; else why it could not be made.
    const std::string& Failure() const { return failure_; }
    // Runs a program inside the namespace.
    CommandResult Exec(const QStringList& command, const std::string& input = {}) const;
    // Sets net.ipv4.ping_group_range there (ICMP datagram sockets for all
    // users, or for none so that root falls back to a raw socket).
    bool SetPingGroupRange(bool everyone) const;
    // Loads an nftables ruleset there; false with the reason in `why`.
    bool LoadRules(const std::string& ruleset, std::string& why) const;
    // Makes the namespace's kernel leave echo requests unanswered (the
    // time-out without nftables).
    bool IgnoreEchoRequests() const;
    // Runs the probe there with the given arguments.
    std::map<std::string, std::string> Probe(const QStringList& args) const;

private:
    QString name_;
    bool created_ = false;
    std::string failure_;
};

} // namespace icmptest
