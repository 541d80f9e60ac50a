#include "support/BVMainThread.h"
#include "support/BVTimer.h"
#include "support/BVWorkGroup.h"
#include "support/BVWorkQueue.h"

#include "common/BVTestSupport.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <mutex>
#include <thread>

TEST(WorkQueue, SerialQueueRunsJobsInOrderOneAtATime)
{
    BVWorkQueue queue("serial");
    std::vector<int> order;
    std::atomic<int> running {0};
    std::atomic<int> maxRunning {0};
    for (int i = 0; i < 200; ++i) {
        queue.async([&, i] {
            const int now = ++running;
            maxRunning = std::max(maxRunning.load(), now);
            order.push_back(i);
            --running;
        });
    }
    queue.waitUntilEmpty();
    ASSERT_EQ(order.size(), 200u);
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(order[size_t(i)], i);
    EXPECT_EQ(maxRunning.load(), 1);
    EXPECT_EQ(queue.jobCount(), 0);
}

TEST(WorkQueue, CancelAllDropsPendingJobsAndReportsCounts)
{
    BVWorkQueue queue("cancel");
    std::mutex gate;
    gate.lock();
    std::atomic<int> ran {0};
    std::vector<int> counts;
    std::mutex countsMutex;
    queue.setJobCountObserver([&](int count) {
        std::lock_guard lock(countsMutex);
        counts.push_back(count);
    });
    std::atomic<bool> started {false};
    queue.async([&] {
        started = true;
        gate.lock();
        gate.unlock();
        ++ran;
    });
    while (!started)
        std::this_thread::yield();
    for (int i = 0; i < 5; ++i)
        queue.async([&] { ++ran; });
    EXPECT_EQ(queue.jobCount(), 6);
    EXPECT_EQ(queue.cancelAll(), 5);
    gate.unlock();
    queue.waitUntilEmpty();
    EXPECT_EQ(ran.load(), 1);
    std::lock_guard lock(countsMutex);
    ASSERT_FALSE(counts.empty());
    EXPECT_EQ(counts.back(), 0);
}

TEST(WorkQueue, AJobMayDestroyItsOwnQueue)
{
    auto *queue = new BVWorkQueue("self");
    std::atomic<bool> destroyed {false};
    queue->async([&] {
        delete queue;
        destroyed = true;
    });
    ASSERT_TRUE(BVTest::waitFor([&] { return destroyed.load(); }));
    // The worker ends by itself; give it a moment so a sanitizer sees any late access.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

TEST(WorkQueue, WideQueueRunsUpToItsWidthAtOnce)
{
    BVWorkQueue queue("wide", 3);
    std::atomic<int> running {0};
    std::atomic<int> maxRunning {0};
    for (int i = 0; i < 12; ++i) {
        queue.async([&] {
            const int now = ++running;
            int seen = maxRunning.load();
            while (now > seen && !maxRunning.compare_exchange_weak(seen, now)) { }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            --running;
        });
    }
    queue.waitUntilEmpty();
    EXPECT_EQ(maxRunning.load(), 3);
}

TEST(WorkQueue, SyncWaitsForTheJob)
{
    BVWorkQueue queue("sync");
    int value = 0;
    queue.async([&] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); });
    queue.sync([&] { value = 42; });
    EXPECT_EQ(value, 42);
    EXPECT_FALSE(queue.isCurrent());
    bool current = false;
    queue.sync([&] { current = queue.isCurrent(); });
    EXPECT_TRUE(current);
}

TEST(WorkGroup, CompletionRunsOnTheMainThreadAfterEveryMember)
{
    BVWorkQueue queue("group", 2);
    BVWorkGroup group;
    std::atomic<int> done {0};
    bool completedOnMain = false;
    int doneAtCompletion = -1;
    for (int i = 0; i < 8; ++i)
        group.async(queue, [&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            ++done;
        });
    group.notify([&] {
        completedOnMain = BVMainThread::isMainThread();
        doneAtCompletion = done.load();
    });
    EXPECT_TRUE(group.wait(5.0));
    ASSERT_TRUE(BVTest::waitFor([&] { return doneAtCompletion >= 0; }));
    EXPECT_TRUE(completedOnMain);
    EXPECT_EQ(doneAtCompletion, 8);

    group.enter();
    EXPECT_FALSE(group.wait(0.05));
    group.leave();
    EXPECT_TRUE(group.wait(0));
}

TEST(MainThread, AsyncAndSyncRunOnTheMainThread)
{
    std::atomic<bool> asyncOnMain {false};
    bool syncOnMain = false;
    std::thread worker([&] {
        EXPECT_FALSE(BVMainThread::isMainThread());
        BVMainThread::async([&] { asyncOnMain = BVMainThread::isMainThread(); });
        BVMainThread::sync([&] { syncOnMain = BVMainThread::isMainThread(); });
    });
    ASSERT_TRUE(BVTest::waitFor([&] { return syncOnMain; }));
    worker.join();
    ASSERT_TRUE(BVTest::waitFor([&] { return asyncOnMain.load(); }));
    // On the main thread, sync runs the job directly.
    bool ranInline = false;
    BVMainThread::sync([&] { ranInline = true; });
    EXPECT_TRUE(ranInline);
}

TEST(Timer, OneShotFiresOnceAndRepeatingKeepsFiring)
{
    int once = 0, repeated = 0;
    BVTimer::afterDelay(0.02, [&] { ++once; });
    BVTimer repeating(0.01, true, [&] { ++repeated; });
    repeating.start();
    EXPECT_TRUE(repeating.isActive());
    ASSERT_TRUE(BVTest::waitFor([&] { return repeated >= 5 && once == 1; }));
    repeating.stop();
    const int stoppedAt = repeated;
    BVTest::spin(std::chrono::milliseconds(60));
    EXPECT_EQ(repeated, stoppedAt);
    EXPECT_EQ(once, 1);
    EXPECT_DOUBLE_EQ(repeating.interval(), 0.01);
}
