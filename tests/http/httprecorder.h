#pragma once

// Records what a THttpCli reports, in order, for the behaviour tests.

#include "http/httpprot.h"

#include <cstdint>
#include <string>
#include <vector>

namespace httptest {

struct TRecorder {
    std::vector<std::string> events;
    std::string body;
    std::vector<std::string> cookies;
    std::vector<std::string> commands;
    int requestDone = 0;
    std::uint16_t doneError = 0xFFFF;
    THttpRequest doneType = httpAbort;
    int locationChanges = 0;
    std::int64_t sentBytes = 0;

    void Attach(THttpCli& cli);
    // The events with runs of the same name folded into one.
    std::vector<std::string> Folded() const;
    int Count(const std::string& name) const;
    // Runs the event loop until OnRequestDone has fired (or 20 s passed).
    bool WaitDone(int timeoutMs = 20000) const;
};

} // namespace httptest
