// tarvik-url: one HTTP or HTTPS request from the command line, on the same
// client as the desktop program's URL window.

#include "cli/urlargs.h"
#include "cli/urlfetch.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    TUrlArgs args;
    std::string error;
    if (!ParseUrlArgs(argc - 1, argv + 1, args, error)) {
        std::fprintf(stderr, "tarvik-url: %s\nTry 'tarvik-url --help'.\n", error.c_str());
        return 2;
    }
    if (args.help) {
        std::fputs(UrlUsage().c_str(), stdout);
        return 0;
    }
    TUrlFetch fetch(args);
    return fetch.Run();
}
