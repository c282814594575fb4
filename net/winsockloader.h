#pragma once

// The socket library, loaded on first use and shared by every socket object.
//
// The library ("wsock32.dll") is loaded by the first wrapper call, started at
// version 1.1, and each entry point is looked up by its exported name once
// and cached. It stays loaded while at least one socket object exists; the
// destructor of the last one unloads it, after which the next wrapper call
// loads and starts it again.

#include "platform/winsock.h"

#include <cstdint>

// Module handle name of the socket library.
extern const char* const WinsockDllName;

// Returns the named entry point, loading and starting the library first if
// needed. An empty name only ensures the library is loaded and returns null.
// Raises ESocketException when the library, its startup or the entry point
// fails.
void* WSocketGetProc(const char* ProcName);

// Cleans up and unloads the library when it is loaded and forgets every
// cached entry point.
void WSocketUnloadWinsock();

// A copy of the startup record; loads the library for the purpose and unloads
// it again at once when no socket object exists.
WSADATA WinsockInfo();

// Socket object bookkeeping: the last object to go unloads the library.
void WSocketInstanceAdded();
void WSocketInstanceRemoved();
int WSocketInstanceCount();

// One wrapper per entry point, with the socket function's own arguments:
// WSocket_<name> fetches "<name>" through WSocketGetProc on its first call
// and calls the cached pointer afterwards.
#define WINSOCK_ENTRY(result, name, params, args) result WSocket_##name params;
#include "platform/winsockentries.def"
