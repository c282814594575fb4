// A small program the ICMP tests run in another network namespace or as
// another user: it sends echo requests with TICMP and prints what happened
// as "key=value" lines.
//
//   tarvik_icmp_probe [--unshare-net] [--as-nobody] [--address A] [--size N]
//                     [--ttl N] [--timeout MS] [--count N]
//
// --unshare-net moves the probe into a fresh network namespace of its own
// (needs root); --as-nobody then drops to user and group 65534.
#include "tools/icmp.h"

#include <QCoreApplication>

#include <grp.h>
#include <sched.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Options {
    bool unshareNet = false;
    bool asNobody = false;
    std::string address = "127.0.0.1";
    int size = 56;
    int ttl = 64;
    int timeout = 1000;
    int count = 1;
};

bool Parse(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--unshare-net")
            o.unshareNet = true;
        else if (arg == "--as-nobody")
            o.asNobody = true;
        else if (arg == "--address" && hasValue)
            o.address = argv[++i];
        else if (arg == "--size" && hasValue)
            o.size = std::atoi(argv[++i]);
        else if (arg == "--ttl" && hasValue)
            o.ttl = std::atoi(argv[++i]);
        else if (arg == "--timeout" && hasValue)
            o.timeout = std::atoi(argv[++i]);
        else if (arg == "--count" && hasValue)
            o.count = std::atoi(argv[++i]);
        else
            return false;
    }
    return true;
}

const char* KindName(IcmpSocketKind kind)
{
    switch (kind) {
    case IcmpSocketKind::Datagram:
        return "datagram";
    case IcmpSocketKind::Raw:
        return "raw";
    default:
        return "none";
    }
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!Parse(argc, argv, o)) {
        std::fprintf(stderr, "usage error\n");
        return 2;
    }
    if (o.unshareNet && ::unshare(CLONE_NEWNET) != 0) {
        std::printf("setup=unshare failed: %s\n", std::strerror(errno));
        return 3;
    }
    if (o.asNobody && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
        std::printf("setup=drop failed: %s\n", std::strerror(errno));
        return 3;
    }
    QCoreApplication app(argc, argv);
    try {
        TICMP icmp;
        icmp.SetAddress(o.address);
        icmp.SetSize(o.size);
        icmp.SetTTL(o.ttl);
        icmp.SetTimeout(o.timeout);
        icmp.OnDisplay = [](TICMP*, const std::string& msg) { std::printf("display=%s\n", msg.c_str()); };
        for (int i = 0; i < o.count; ++i) {
            const int replies = icmp.Ping();
            std::printf("replies=%d\nerror=%d\ntext=%s\nstatus=%u\ndatasize=%u\nfrom=%s\n", replies, icmp.LastError(),
                        icmp.GetErrorString().c_str(), icmp.Reply().Status, unsigned(icmp.Reply().DataSize),
                        inet_ntoa(in_addr{icmp.Reply().Address}));
        }
        // The kind of socket is a property of the library's handles; a
        // second handle shows it without reaching into TICMP.
        const ICMP_HANDLE h = IcmpCreateFile();
        std::printf("kind=%s\n", KindName(IcmpHandleSocketKind(h)));
        IcmpCloseHandle(h);
    } catch (const TICMPException& e) {
        std::printf("exception=%s\n", e.what());
    }
    return 0;
}
