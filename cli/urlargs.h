#pragma once

// Command line of tarvik-url.

#include <string>

struct TUrlArgs {
    bool head = false;
    bool insecure = false;
    bool verbose = false;
    bool help = false;
    bool userGiven = false;
    bool passwordGiven = false;
    std::string output;
    std::string user;
    std::string password;
    std::string proxyHost;
    std::string proxyPort;
    std::string socksHost;
    std::string socksPort;
    std::string caFile;
    int maxRedirs = 20;
    std::string url;
};

// Fills `out` from the arguments (program name excluded); on a usage error
// returns false with the reason in `error`. The password comes from
// --password, else from TARVIK_PASSWORD when a user is given.
bool ParseUrlArgs(int argc, const char* const* argv, TUrlArgs& out, std::string& error);

// The --help text.
std::string UrlUsage();
