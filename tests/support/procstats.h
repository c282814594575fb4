#pragma once

// Figures of this process for the leak checks of the tests and the soak
// benchmark.

#include <cstdint>

namespace testsupport {

// Descriptors open in this process (/proc/self/fd).
int OpenDescriptors();
// Resident set size in bytes (/proc/self/statm).
std::int64_t ResidentBytes();
// Heap bytes in use (allocator's own count; under AddressSanitizer this
// leaves out its quarantine of freed blocks).
std::int64_t LiveHeapBytes();

} // namespace testsupport
