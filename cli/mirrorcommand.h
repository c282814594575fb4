#pragma once

// tarvik-ftp mirror [--reverse] [--parallel N] [--delete] [--only-newer]
// REMOTE_DIR [LOCAL_DIR]: copies the contents of a remote folder into a
// local one (or, with --reverse, a local folder's into a remote one) through
// the transfer queue and its parallel sessions, then prints one summary
// line.

#include "cli/cliargs.h"
#include "cli/transfersummary.h"

#include <string>
#include <vector>

struct TMirrorOptions {
    bool Reverse = false;
    bool Delete = false;
    bool OnlyNewer = false;
    int Parallel = 2;
    std::string RemoteDir;
    std::string LocalDir;
};

// Reads the words after "mirror"; false with the reason on a usage error.
bool ParseMirrorOptions(const std::vector<std::string>& words, TMirrorOptions& options, std::string& error);

class TMirrorCommand {
public:
    TMirrorCommand(const TCliArgs& args, const TMirrorOptions& options);
    // The process exit status: 0 when everything arrived, 1 otherwise.
    int Run();

private:
    int Fail(const std::string& text);
    void Report(const std::string& text) const;

    TCliArgs args_;
    TMirrorOptions options_;
    TTransferSummary summary_;
};
