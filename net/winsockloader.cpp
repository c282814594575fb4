#include "net/winsockloader.h"

#include "net/esocketexception.h"
#include "platform/library.h"

#include <array>
#include <cstdio>
#include <string>

const char* const WinsockDllName = "wsock32.dll";

namespace {

// Positions of the cached entry points, one per row of the entry list.
enum ProcIndex : int {
#define WINSOCK_ENTRY(result, name, params, args) ix##name,
#include "platform/winsockentries.def"
    ProcCount
};

// All socket objects live on the GUI thread, so these need no lock.
HMODULE WinsockLibrary = nullptr;
WSADATA WinsockData;
std::array<void*, ProcCount> CachedProcs{};
int SocketInstanceCount = 0;

template <typename F>
F Entry(ProcIndex index, const char* name)
{
    if (CachedProcs[index] == nullptr)
        CachedProcs[index] = WSocketGetProc(name);
    return reinterpret_cast<F>(CachedProcs[index]);
}

} // namespace

void* WSocketGetProc(const char* ProcName)
{
    if (WinsockLibrary == nullptr) {
        HMODULE lib = LoadLibraryA(WinsockDllName);
        if (lib == nullptr)
            throw ESocketException(std::string("Unable to load ") + WinsockDllName + " Error #" +
                                   std::to_string(GetLastError()));
        // Startup goes through the library's own export, like every other
        // call, so the loaded module is the one that gets started.
        auto startup = reinterpret_cast<decltype(&ws_WSAStartup)>(GetProcAddress(lib, "WSAStartup"));
        const int rc = startup ? startup(MakeWord(1, 1), &WinsockData) : int(GetLastError());
        if (rc != 0) {
            FreeLibrary(lib);
            char text[256];
            std::snprintf(text, sizeof text, "%s: WSAStartup error #%d", WinsockDllName, rc);
            throw ESocketException(text);
        }
        WinsockLibrary = lib;
    }
    if (ProcName == nullptr || *ProcName == '\0')
        return nullptr;
    void* proc = GetProcAddress(WinsockLibrary, ProcName);
    if (proc == nullptr)
        throw ESocketException(std::string("Procedure ") + ProcName + " not found in " + WinsockDllName + " Error #" +
                               std::to_string(GetLastError()));
    return proc;
}

void WSocketUnloadWinsock()
{
    if (WinsockLibrary == nullptr)
        return;
    auto cleanup = reinterpret_cast<decltype(&ws_WSACleanup)>(GetProcAddress(WinsockLibrary, "WSACleanup"));
    if (cleanup)
        cleanup();
    FreeLibrary(WinsockLibrary);
    WinsockLibrary = nullptr;
    CachedProcs.fill(nullptr);
}

WSADATA WinsockInfo()
{
    WSocketGetProc("");
    const WSADATA copy = WinsockData;
    if (SocketInstanceCount < 1)
        WSocketUnloadWinsock();
    return copy;
}

void WSocketInstanceAdded() { ++SocketInstanceCount; }

void WSocketInstanceRemoved()
{
    --SocketInstanceCount;
    if (SocketInstanceCount < 1) {
        SocketInstanceCount = 0;
        WSocketUnloadWinsock();
    }
}

int WSocketInstanceCount() { return SocketInstanceCount; }

#define WINSOCK_ENTRY(result, name, params, args) \
    result WSocket_##name params { return Entry<decltype(&ws_##name)>(ix##name, #name) args; }
#include "platform/winsockentries.def"
