#pragma once

// tarvik-url's one request: sets up a THttpCli from the command line, runs
// it to its end and tells the exit status.

#include "cli/urlargs.h"

class TUrlFetch {
public:
    explicit TUrlFetch(const TUrlArgs& args) : args_(args) {}
    // 0: a 2xx or 3xx answer; 1: 4xx, 5xx or a failure.
    int Run();

private:
    const TUrlArgs& args_;
};
