#include "platform/tickcount.h"

#include <chrono>
#include <thread>

std::int64_t GetTickCount64()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::uint32_t GetTickCount() { return std::uint32_t(GetTickCount64()); }

void Sleep(std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
