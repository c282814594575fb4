#pragma once

// Run-time loading of the system libraries, in the shape the components were
// designed for (LoadLibrary / GetProcAddress / FreeLibrary). Two libraries
// exist: the built-in "wsock32.dll", whose exports are the ws_* functions of
// platform/winsock.h under their Winsock names, and "icmp.dll", the echo
// functions of platform/icmpapi.h.

#include <cstdint>

using HMODULE = void*;

// Loads a library by name (case-insensitive). Unknown names fail with
// GetLastError() == 126 (module not found).
HMODULE LoadLibraryA(const char* fileName);
// Returns the named export, or null with GetLastError() == 127.
void* GetProcAddress(HMODULE module, const char* procName);
bool FreeLibrary(HMODULE module);
std::uint32_t GetLastError();
void SetLastError(std::uint32_t error);

// Counters for tests: how often the library was loaded and freed, and how
// often the socket library was started and cleaned up.
struct LibraryStats {
    int loads = 0;
    int frees = 0;
    int startups = 0;
    int cleanups = 0;
};
LibraryStats GetLibraryStats();

// Test hook: makes LoadLibraryA of the given name fail (126) while set.
void SetLibraryLoadFailure(const char* fileName, bool fail);
