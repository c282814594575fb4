// The lookup threads: jobs run off the caller's thread, no more at once than
// the maximum, and shutdown waits for running jobs and drops queued ones.

#include "platform/lookupthreads.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

TEST(LookupThreadsTest, RunsJobsOffTheCallerWithinTheLimitAndJoinsAtShutdown)
{
    std::mutex lock;
    std::condition_variable changed;
    int running = 0;
    int mostAtOnce = 0;
    bool release = false;
    std::atomic<int> finished{0};
    std::atomic<bool> ranOnCaller{false};
    const std::thread::id caller = std::this_thread::get_id();

    std::thread releaser;
    {
        TLookupThreads threads(2);
        for (int i = 0; i < 5; ++i) {
            threads.Start([&] {
                if (std::this_thread::get_id() == caller)
                    ranOnCaller = true;
                std::unique_lock<std::mutex> guard(lock);
                ++running;
                mostAtOnce = std::max(mostAtOnce, running);
                changed.notify_all();
                changed.wait(guard, [&] { return release; });
                --running;
                ++finished;
            });
        }
        {
            std::unique_lock<std::mutex> guard(lock);
            EXPECT_TRUE(changed.wait_for(guard, std::chrono::seconds(10), [&] { return running == 2; }));
        }
        // The two running jobs may end only once shutdown has begun, so the
        // three still queued must be dropped rather than run.
        releaser = std::thread([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            std::lock_guard<std::mutex> guard(lock);
            release = true;
            changed.notify_all();
        });
    }
    releaser.join();
    EXPECT_FALSE(ranOnCaller);
    EXPECT_EQ(mostAtOnce, 2);
    EXPECT_EQ(running, 0) << "shutdown returned while a job was still running";
    EXPECT_EQ(finished.load(), 2);
}
