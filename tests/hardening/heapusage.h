#pragma once

#include <cstddef>

namespace hardening {

// Bytes of heap memory in use right now (freed memory, and memory the
// sanitizer holds back in quarantine, does not count).
std::size_t LiveHeapBytes();

} // namespace hardening
