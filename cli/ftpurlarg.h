#pragma once

// An ftp:// URL in place of the HOST argument of tarvik-ftp:
// ftp://[user[:password]@]host[:port][/path], with %XX escapes in the user,
// password and path, and [v6 address] hosts. As in curl, the path is read
// from the folder the login lands in; "%2F" at its start makes it absolute.

#include "cli/cliargs.h"

#include <string>

struct TFtpUrl {
    std::string Host;
    std::string Port; // empty: not given
    std::string User;
    std::string Password;
    bool UserGiven = false;
    bool PasswordGiven = false;
    std::string Path; // decoded, without the slash after the host; may be empty
};

// True when `text` starts with "ftp://" (any case).
bool IsFtpUrl(const std::string& text);

// Splits an ftp:// URL; false with the reason when it is malformed.
bool ParseFtpUrl(const std::string& text, TFtpUrl& url, std::string& error);

// Puts a URL given as the host into `args`: host, port and the credentials
// not given by options; the path names the file of a command that takes
// one and got none (get, reget, size, rm, ls, nlst), else the folder to
// change to after logging in. False with the reason for a bad URL.
bool ApplyFtpUrl(TCliArgs& args, std::string& error);
