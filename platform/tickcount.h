#pragma once

#include <cstdint>

// Milliseconds since an arbitrary start, from a monotonic clock. A 32-bit
// count: it wraps after 49.7 days, so compare with subtraction, never with
// "<".
std::uint32_t GetTickCount();

// Milliseconds as a 64-bit count that never wraps.
std::int64_t GetTickCount64();

// Blocks the calling thread (does not run the event loop).
void Sleep(std::uint32_t ms);
