// tarvik-ftp: one FTP command from the command line, on the same engine as
// the desktop client.

#include "cli/cliargs.h"
#include "cli/ftpcommandrunner.h"
#include "cli/logincredentials.h"
#include "cli/mirrorcommand.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::vector<std::string> args(argv + 1, argv + argc);
    TCliArgs parsed;
    std::string error;
    if (!ParseCliArgs(args, parsed, error)) {
        std::fprintf(stderr, "tarvik-ftp: %s\nTry 'tarvik-ftp --help'.\n", error.c_str());
        return 2;
    }
    if (parsed.help) {
        std::fputs(CliUsage().c_str(), stdout);
        return 0;
    }
    if (!ResolveCredentials(parsed, error)) {
        std::fprintf(stderr, "tarvik-ftp: %s\n", error.c_str());
        return 2;
    }
    if (parsed.command == "mirror") {
        TMirrorOptions options;
        if (!ParseMirrorOptions(parsed.args, options, error)) {
            std::fprintf(stderr, "tarvik-ftp: %s\nTry 'tarvik-ftp --help'.\n", error.c_str());
            return 2;
        }
        TMirrorCommand mirror(parsed, options);
        return mirror.Run();
    }
    TFtpCommandRunner runner(parsed);
    return runner.Run();
}
