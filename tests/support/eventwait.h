#pragma once

#include <functional>

namespace testsupport {

// Runs the event loop until `done` returns true or `timeoutMs` has passed.
// Blocks between events (no spinning). Returns the last value of `done`.
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000);

// Runs the event loop for `ms` milliseconds, handling whatever arrives.
void RunFor(int ms);

} // namespace testsupport
