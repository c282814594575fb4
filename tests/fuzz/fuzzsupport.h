#pragma once

// What every harness needs around the code under test: an event loop, a
// bounded wait in it, and a small reader for the option bytes that lead
// most inputs.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace fuzz {

// Creates the QCoreApplication once per process (the socket layer posts
// its notifications through the event loop).
void EnsureEventLoop();

// Handles events until `done` holds or `timeoutMs` passed; returns `done()`.
// Blocks in the event loop between events.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs);

// Handles whatever is waiting now, without blocking.
void PumpPending();

// Reads the input front to back: option bytes first, the rest as payload.
class TInputReader {
public:
    TInputReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    // The next byte, or 0 once the input is used up.
    std::uint8_t Byte();
    // Up to `count` bytes (fewer at the end of the input).
    std::string_view Bytes(std::size_t count);
    // Everything not read yet.
    std::string_view Rest();
    // Bytes up to the next `separator` (excluded) or the end; the separator
    // is consumed.
    std::string_view Until(std::string_view separator);
    bool AtEnd() const { return pos_ >= size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// True when the check named `tag` is switched off through the environment
// (TARVIK_FUZZ_SUPPRESS="tag1,tag2"): lets a long run go on past a known,
// reported finding.
bool Suppressed(const char* tag);

// Aborts the run with a message, so libFuzzer records the input: used for
// broken promises of the code under test that no sanitizer would see.
[[noreturn]] void Fail(const std::string& what);

} // namespace fuzz
