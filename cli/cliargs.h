#pragma once

// Command line of tarvik-ftp.

#include <string>
#include <vector>

struct TCliArgs {
    bool passive = false;
    bool ascii = false;
    bool verbose = false;
    bool raw = false;
    bool help = false;
    bool userGiven = false;
    bool passwordGiven = false;
    // Downloads keep the server's modification time, uploads set it with
    // MFMT; --no-preserve turns both off.
    bool noPreserve = false;
    std::string user;
    std::string password;
    std::string port = "21";
    std::string cwd;
    int timeout = 60;
    // --site NAME: a profile stored by the main window; no HOST is given.
    std::string site;
    std::string host;
    std::string command;
    std::vector<std::string> args;

    // TLS: "none", "explicit" (required), "if-offered" or "implicit".
    std::string tls = "none";
    std::string cacert;
    bool insecure = false;
    bool portGiven = false;
};

// Fills `out`; on a usage error returns false with the reason in `error`.
bool ParseCliArgs(const std::vector<std::string>& argv, TCliArgs& out, std::string& error);

// The --help text.
std::string CliUsage();
