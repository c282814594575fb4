#include "platform/lookupthreads.h"

TLookupThreads::TLookupThreads(std::size_t maxThreads) : FMaxThreads(maxThreads > 0 ? maxThreads : 1) {}

TLookupThreads::~TLookupThreads()
{
    {
        std::lock_guard<std::mutex> guard(FLock);
        FStopping = true;
    }
    FWake.notify_all();
    for (std::thread& thread : FThreads)
        thread.join();
}

TLookupThreads& TLookupThreads::Instance()
{
    // A lookup's resolver may wait several seconds for a name server; eight
    // threads keep a few slow names from holding up the rest.
    static TLookupThreads threads(8);
    return threads;
}

void TLookupThreads::Start(std::function<void()> job)
{
    std::lock_guard<std::mutex> guard(FLock);
    if (FStopping)
        return;
    FJobs.push_back(std::move(job));
    if (FIdle >= FJobs.size() || FThreads.size() >= FMaxThreads) {
        FWake.notify_one();
        return;
    }
    FThreads.emplace_back([this] { Run(); });
}

void TLookupThreads::Run()
{
    std::unique_lock<std::mutex> lock(FLock);
    for (;;) {
        ++FIdle;
        FWake.wait(lock, [this] { return FStopping || !FJobs.empty(); });
        --FIdle;
        // Jobs still queued at shutdown are dropped: their requests are
        // answered by nobody, as with a cancelled lookup.
        if (FStopping)
            return;
        std::function<void()> job = std::move(FJobs.front());
        FJobs.pop_front();
        lock.unlock();
        job();
        lock.lock();
    }
}
