#pragma once

// A blocking FTP session beside the transfer sessions of a mirror run: it
// finds out where a relative remote folder lies and removes remote files
// and folders that --delete found surplus.

#include "cli/cliargs.h"
#include "ftp/ftpclient.h"

#include <string>
#include <vector>

class TRemoteSession {
public:
    explicit TRemoteSession(const TCliArgs& args);
    ~TRemoteSession();
    TRemoteSession(const TRemoteSession&) = delete;
    TRemoteSession& operator=(const TRemoteSession&) = delete;

    // Logs in (once) and changes to --cwd when given.
    bool Login();
    // The absolute form of `path` (relative to the login folder and --cwd).
    bool Absolute(const std::string& path, std::string& absolute);
    // Removes the file, link or (with everything in it) folder at absolute
    // `path`. Counts what went; what could not go is added to `failures`.
    void Remove(const std::string& path, bool folder, int& removed, std::vector<std::string>& failures, int depth = 0);
    std::string FailureText() const;
    void Quit();

private:
    bool List(const std::string& folder, std::string& listing);

    TCliArgs args_;
    TFtpClient ftp_;
    bool loggedIn_ = false;
};
