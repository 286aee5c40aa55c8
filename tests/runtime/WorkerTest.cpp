#include "runtime/Worker.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;

// A worker just made has threads on their way in: work handed over only "if a thread is
// idle" must still go to one, or the first open of a process runs on one core.
TEST(WorkerTest, AWorkerJustMadeTakesWorkThatMustRunBesideTheCaller) {
    for (int i = 0; i < 20; ++i) {
        rt::TWorker worker(1);
        rt::TTask<std::thread::id> task =
            worker.TryStart([] { return std::this_thread::get_id(); });
        ASSERT_TRUE(task.Valid()) << "refused on try " << i;
        ASSERT_TRUE(task.WaitFor(5s)); // ends without the caller running it
        EXPECT_NE(task.Get(), std::this_thread::get_id());
    }
}

TEST(WorkerTest, WaitingForAPartTellsWhetherTheWorkEndedAndGetGivesItsOutcome) {
    rt::TWorker worker(1);
    std::atomic<bool> release{false};
    auto task = worker.TryStart([&]() -> int {
        while (!release) std::this_thread::sleep_for(1ms);
        throw std::runtime_error("strip 7");
    });
    ASSERT_TRUE(task.Valid());
    EXPECT_FALSE(task.WaitFor(5ms)); // still running
    // The one thread is busy: nothing more starts beside the caller.
    EXPECT_FALSE(worker.TryStart([] { return 0; }).Valid());
    release = true;
    while (!task.WaitFor(5ms)) {
    }
    EXPECT_THROW(
        {
            try {
                task.Get();
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), "strip 7");
                throw;
            }
        },
        std::runtime_error);
    // Idle again as soon as the one waiting hears the work ended.
    for (int i = 0; i < 50; ++i) {
        auto next = worker.TryStart([i] { return i; });
        ASSERT_TRUE(next.Valid()) << "refused on try " << i;
        ASSERT_TRUE(next.WaitFor(5s));
        EXPECT_EQ(next.Get(), i);
    }
}
