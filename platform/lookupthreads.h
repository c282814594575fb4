#pragma once

// The threads that run blocking name lookups for the asynchronous lookup
// calls.
//
// They are joined, not detached: a process that ends while a lookup thread
// is still winding down would otherwise race the thread's own clean-up of
// the resolver state (glibc frees it only as the thread exits), and the
// resolver's per-thread memory shows up as a leak at exit. Joining at
// shutdown waits for lookups still running, as a thread pool's shutdown
// does, and then for the threads' last breath.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class TLookupThreads {
public:
    explicit TLookupThreads(std::size_t maxThreads);
    ~TLookupThreads();
    TLookupThreads(const TLookupThreads&) = delete;
    TLookupThreads& operator=(const TLookupThreads&) = delete;

    // Runs `job` on one of the threads, starting a thread when none is idle
    // and fewer than the maximum run.
    void Start(std::function<void()> job);

    // The process-wide set, joined when static objects are destroyed.
    static TLookupThreads& Instance();

private:
    void Run();

    const std::size_t FMaxThreads;
    std::mutex FLock;
    std::condition_variable FWake;
    std::deque<std::function<void()>> FJobs;
    std::vector<std::thread> FThreads;
    std::size_t FIdle = 0;
    bool FStopping = false;
};
