#include "platform/library.h"

#include "platform/icmpapi.h"
#include "platform/library_p.h"
#include "platform/winsock.h"

#include <QByteArray>

#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <strings.h>

namespace {

constexpr std::uint32_t ERROR_MOD_NOT_FOUND = 126;
constexpr std::uint32_t ERROR_PROC_NOT_FOUND = 127;

thread_local std::uint32_t lastError = 0;

std::mutex statsLock;
LibraryStats stats;
std::set<std::string> failingLibraries;

// The single built-in library; its address is the module handle.
const char WinsockModuleName[] = "wsock32.dll";
char winsockModuleToken;

struct Export {
    const char* name;
    void* entry;
};

template <typename F>
void* Entry(F* f)
{
    return reinterpret_cast<void*>(f);
}

const Export winsockExports[] = {
#define WINSOCK_ENTRY(result, name, params, args) {#name, Entry(&ws_##name)},
#include "platform/winsockentries.def"
};

std::string Lower(const char* s) { return QByteArray(s ? s : "").toLower().toStdString(); }

} // namespace

HMODULE LoadLibraryA(const char* fileName)
{
    const std::string name = Lower(fileName);
    if (name == "icmp.dll") {
        // The ICMP echo library keeps its own books (platform/icmpapi).
        HMODULE module = IcmpLoadLibrary(fileName);
        if (!module)
            lastError = IcmpGetLastError();
        return module;
    }
    std::lock_guard<std::mutex> guard(statsLock);
    if (name != WinsockModuleName || failingLibraries.count(name) != 0) {
        lastError = ERROR_MOD_NOT_FOUND;
        return nullptr;
    }
    ++stats.loads;
    return &winsockModuleToken;
}

void* GetProcAddress(HMODULE module, const char* procName)
{
    if (module != nullptr && module != &winsockModuleToken) {
        void* entry = IcmpGetProcAddress(module, procName);
        if (!entry)
            lastError = IcmpGetLastError();
        return entry;
    }
    if (module == nullptr || procName == nullptr) {
        lastError = ERROR_PROC_NOT_FOUND;
        return nullptr;
    }
    for (const Export& e : winsockExports)
        if (std::strcmp(e.name, procName) == 0)
            return e.entry;
    lastError = ERROR_PROC_NOT_FOUND;
    return nullptr;
}

bool FreeLibrary(HMODULE module)
{
    if (module == nullptr)
        return false;
    if (module != &winsockModuleToken)
        return IcmpFreeLibrary(module);
    std::lock_guard<std::mutex> guard(statsLock);
    ++stats.frees;
    return true;
}

std::uint32_t GetLastError() { return lastError; }
void SetLastError(std::uint32_t error) { lastError = error; }

LibraryStats GetLibraryStats()
{
    std::lock_guard<std::mutex> guard(statsLock);
    return stats;
}

void SetLibraryLoadFailure(const char* fileName, bool fail)
{
    std::lock_guard<std::mutex> guard(statsLock);
    if (fail)
        failingLibraries.insert(Lower(fileName));
    else
        failingLibraries.erase(Lower(fileName));
}

void NoteWinsockStartup()
{
    std::lock_guard<std::mutex> guard(statsLock);
    ++stats.startups;
}

void NoteWinsockCleanup()
{
    std::lock_guard<std::mutex> guard(statsLock);
    ++stats.cleanups;
}
