#include "platform/core/MainQueue.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace corvessa;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Runs the event loop until the condition holds or the (generous) timeout passes.
bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s)
{
    return QTest::qWaitFor(condition, int(timeout.count()));
}

QThread* mainThread()
{
    return QCoreApplication::instance()->thread();
}

} // namespace

TEST(MainQueueTest, AsyncFromWorkerRunsOnMainThreadInOrder)
{
    constexpr int kBlocks = 200;
    std::vector<int> order; // touched only on the main thread
    std::atomic<bool> allOnMain{true};
    std::thread worker([&] {
        EXPECT_FALSE(MainQueue::isCurrent());
        for (int i = 0; i < kBlocks; ++i)
            MainQueue::async([&, i] {
                if (QThread::currentThread() != mainThread() || !MainQueue::isCurrent())
                    allOnMain = false;
                order.push_back(i);
            });
    });
    worker.join();

    ASSERT_TRUE(pumpUntil([&] { return order.size() == kBlocks; }));
    EXPECT_TRUE(allOnMain.load());
    for (int i = 0; i < kBlocks; ++i)
        ASSERT_EQ(order[i], i);
}

TEST(MainQueueTest, AsyncOnMainThreadDefersUntilTheLoopRuns)
{
    ASSERT_TRUE(MainQueue::isCurrent());
    bool ran = false;
    MainQueue::async([&] { ran = true; });
    EXPECT_FALSE(ran);
    EXPECT_TRUE(pumpUntil([&] { return ran; }));
}

TEST(MainQueueTest, SyncFromWorkerWaitsForTheMainThread)
{
    int value = 0;
    QThread* ranOn = nullptr;
    std::atomic<int> seenByWorker{-1};
    std::atomic<bool> workerDone{false};
    std::thread worker([&] {
        MainQueue::sync([&] {
            ranOn = QThread::currentThread();
            value = 42;
        });
        seenByWorker = value;
        workerDone = true;
    });
    const bool finished = pumpUntil([&] { return workerDone.load(); });
    worker.join();

    ASSERT_TRUE(finished);
    EXPECT_EQ(ranOn, mainThread());
    EXPECT_EQ(seenByWorker.load(), 42);
}

TEST(MainQueueTest, SyncOnMainThreadRunsInlineEvenWhenNested)
{
    std::vector<int> order;
    MainQueue::sync([&] {
        order.push_back(1);
        MainQueue::sync([&] { order.push_back(2); });
        order.push_back(3);
    });
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(MainQueueTest, SyncHandsExceptionsToTheCaller)
{
    std::atomic<bool> caught{false};
    std::atomic<bool> workerDone{false};
    std::thread worker([&] {
        try {
            MainQueue::sync([] { throw std::runtime_error("boom"); });
        } catch (const std::runtime_error&) {
            caught = true;
        }
        workerDone = true;
    });
    const bool finished = pumpUntil([&] { return workerDone.load(); });
    worker.join();
    ASSERT_TRUE(finished);
    EXPECT_TRUE(caught.load());
    EXPECT_THROW(MainQueue::sync([] { throw std::logic_error("inline"); }), std::logic_error);
}

TEST(MainQueueTest, ThrowingAsyncBlockDoesNotStopTheLoop)
{
    bool after = false;
    MainQueue::async([] { throw std::runtime_error("boom"); });
    MainQueue::async([&] { after = true; });
    EXPECT_TRUE(pumpUntil([&] { return after; }));
}

TEST(MainQueueTest, AsyncAfterFromWorkerWaitsAtLeastTheDelay)
{
    constexpr auto kDelay = 50ms;
    std::atomic<bool> ran{false};
    QThread* ranOn = nullptr;
    Clock::time_point ranAt;
    const auto t0 = Clock::now();
    std::thread worker([&] {
        MainQueue::asyncAfter(kDelay, [&] {
            ranOn = QThread::currentThread();
            ranAt = Clock::now();
            ran = true;
        });
    });
    worker.join();

    ASSERT_TRUE(pumpUntil([&] { return ran.load(); }));
    EXPECT_EQ(ranOn, mainThread());
    EXPECT_GE(ranAt - t0, kDelay);
}

TEST(MainQueueTest, AsyncAfterRunsByDeadline)
{
    std::vector<int> order;
    std::vector<Clock::duration> after;
    const auto t0 = Clock::now();
    auto record = [&](int id) {
        return [&, id] {
            order.push_back(id);
            after.push_back(Clock::now() - t0);
        };
    };
    MainQueue::asyncAfter(45ms, record(3));
    MainQueue::asyncAfter(15ms, record(1));
    MainQueue::asyncAfter(30ms, record(2));
    MainQueue::asyncAfter(-10ms, record(0));

    ASSERT_TRUE(pumpUntil([&] { return order.size() == 4; }));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_GE(after[1], 15ms);
    EXPECT_GE(after[2], 30ms);
    EXPECT_GE(after[3], 45ms);
}

TEST(MainQueueTest, CancelledWorkItemsDoNotRun)
{
    std::atomic<int> ran{0};
    auto queued = std::make_shared<WorkItem>([&] { ran += 1; });
    auto delayed = std::make_shared<WorkItem>([&] { ran += 10; });
    auto kept = std::make_shared<WorkItem>([&] { ran += 100; });
    MainQueue::async(queued);
    std::thread worker([&] { MainQueue::asyncAfter(10ms, delayed); });
    worker.join();
    MainQueue::asyncAfter(10ms, kept);
    queued->cancel();
    delayed->cancel();

    bool sentinel = false;
    MainQueue::asyncAfter(40ms, [&] { sentinel = true; });
    ASSERT_TRUE(pumpUntil([&] { return sentinel; }));
    EXPECT_EQ(ran.load(), 100);
    EXPECT_THROW(MainQueue::async(WorkItemRef()), std::invalid_argument);
    EXPECT_THROW(MainQueue::asyncAfter(1ms, WorkItemRef()), std::invalid_argument);
}
