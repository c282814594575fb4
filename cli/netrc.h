#pragma once

// Credentials from a netrc file (~/.netrc), read the way curl and lftp
// read it: "machine NAME", "login", "password", "account", "default" for
// every other host, and "macdef" bodies (up to a blank line) skipped.
// Tokens are separated by blanks or line ends; a token in double quotes may
// hold blanks, with \" and \\ for a quote and a backslash.

#include <optional>
#include <string>

struct TNetrcEntry {
    std::string Login;
    std::string Password;
    bool LoginGiven = false;
    bool PasswordGiven = false;
};

// The entry for `host` in netrc text (its "machine" entry, compared
// without regard to case, else "default"). With `login` not empty, only an
// entry for that login (or one naming none) matches.
std::optional<TNetrcEntry> FindNetrcEntry(const std::string& text, const std::string& host,
                                          const std::string& login = {});

// Where the file is: $NETRC when set, else $HOME/.netrc.
std::string NetrcPath();

// Reads the file for `host`. Nothing (and no error) when the file does not
// exist or has no entry. False with the reason when it cannot be read or
// other users may read or change it: a file holding passwords must be the
// owner's alone.
bool ReadNetrc(const std::string& path, const std::string& host, const std::string& login,
               std::optional<TNetrcEntry>& entry, std::string& error);
