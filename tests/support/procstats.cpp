#include "procstats.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

#if defined(__SANITIZE_ADDRESS__)
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

namespace testsupport {

int OpenDescriptors()
{
    int count = 0;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator("/proc/self/fd", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        ++count;
    return count;
}

std::int64_t ResidentBytes()
{
    std::ifstream in("/proc/self/statm");
    std::int64_t size = 0;
    std::int64_t resident = 0;
    in >> size >> resident;
    return resident * std::int64_t(::sysconf(_SC_PAGESIZE));
}

std::int64_t LiveHeapBytes()
{
#if defined(__SANITIZE_ADDRESS__)
    return std::int64_t(__sanitizer_get_current_allocated_bytes());
#else
    const struct mallinfo2 info = ::mallinfo2();
    return std::int64_t(info.uordblks + info.hblkhd);
#endif
}

} // namespace testsupport
