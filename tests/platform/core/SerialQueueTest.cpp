#include "platform/core/SerialQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <pthread.h>

using namespace corvessa;
using namespace std::chrono_literals;
using Clock = SerialQueue::Clock;

namespace {

// Generous: only a hung queue should ever reach it.
constexpr auto kHang = 10s;

// Holds the queue inside a block until opened, so work can pile up behind it.
class Gate {
public:
    Gate() : m_opened(m_open.get_future().share()) {}
    void block(SerialQueue& q)
    {
        q.async([f = m_opened] { f.wait(); });
    }
    void open() { m_open.set_value(); }

private:
    std::promise<void> m_open;
    std::shared_future<void> m_opened;
};

} // namespace

TEST(SerialQueueTest, RunsBlocksInFifoOrderPerProducer)
{
    SerialQueue q("test.fifo");
    constexpr int kProducers = 4;
    constexpr int kPerProducer = 2000;
    std::vector<std::pair<int, int>> seen; // touched only on the queue

    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p)
        producers.emplace_back([&, p] {
            for (int i = 0; i < kPerProducer; ++i)
                q.async([&seen, p, i] { seen.emplace_back(p, i); });
        });
    for (auto& t : producers)
        t.join();
    q.sync([] {});

    ASSERT_EQ(seen.size(), size_t(kProducers * kPerProducer));
    std::vector<int> next(kProducers, 0);
    for (const auto& [p, i] : seen)
        ASSERT_EQ(i, next[p]++) << "producer " << p;
}

TEST(SerialQueueTest, ZeroDelayWorkKeepsItsPlaceAmongAsyncBlocks)
{
    SerialQueue q("test.zero");
    Gate gate;
    gate.block(q);
    std::vector<int> order;
    q.async([&] { order.push_back(1); });
    q.asyncAfter(0ns, [&] { order.push_back(2); });
    q.asyncAfter(-5ms, [&] { order.push_back(3); });
    q.async([&] { order.push_back(4); });
    gate.open();
    q.sync([] {});
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST(SerialQueueTest, SyncWaitsForEarlierWorkAndRunsOnTheQueue)
{
    SerialQueue q("test.sync");
    Gate gate;
    gate.block(q);
    std::vector<int> order;
    q.async([&] { order.push_back(1); });

    std::thread opener([&] {
        std::this_thread::sleep_for(20ms);
        gate.open();
    });
    bool onQueue = false;
    q.sync([&] {
        onQueue = q.isCurrent();
        order.push_back(2);
    });
    opener.join();

    EXPECT_TRUE(onQueue);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(SerialQueueTest, ReentrantSyncRunsInlineWithoutDeadlock)
{
    SerialQueue q("test.reentrant");
    std::vector<int> order;
    q.sync([&] {
        order.push_back(1);
        q.sync([&] {
            order.push_back(2);
            q.sync([&] { order.push_back(3); });
        });
        order.push_back(4);
    });
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST(SerialQueueTest, SyncBetweenTwoQueuesRunsOnTheTarget)
{
    SerialQueue a("test.a");
    SerialQueue b("test.b");
    bool onB = false, onA = true;
    a.sync([&] {
        b.sync([&] {
            onB = b.isCurrent();
            onA = a.isCurrent();
        });
    });
    EXPECT_TRUE(onB);
    EXPECT_FALSE(onA);
}

TEST(SerialQueueTest, ExceptionsReachTheSyncCallerAndNeverStopTheQueue)
{
    SerialQueue q("test.throw");
    EXPECT_THROW(q.sync([] { throw std::runtime_error("boom"); }), std::runtime_error);

    q.async([] { throw std::runtime_error("async boom"); });
    q.async([] { throw 42; });
    bool alive = false;
    q.sync([&] { alive = true; });
    EXPECT_TRUE(alive);
}

TEST(SerialQueueTest, RejectsBadInput)
{
    SerialQueue q("test.input");
    EXPECT_THROW(q.async(WorkItemRef()), std::invalid_argument);
    EXPECT_THROW(q.asyncAfter(1ms, WorkItemRef()), std::invalid_argument);
    EXPECT_THROW(q.scheduleTimer(0ns, 0ns, [] {}), std::invalid_argument);
    EXPECT_THROW(q.scheduleTimer(0ns, -1ms, [] {}), std::invalid_argument);
    // Empty blocks are harmless no-ops.
    q.async(std::function<void()>());
    q.sync(std::function<void()>());
    q.sync([] {});
}

TEST(SerialQueueTest, CancelledWorkItemsDoNotRun)
{
    SerialQueue q("test.cancel");
    Gate gate;
    gate.block(q);
    std::atomic<int> ran{0};
    auto queued = std::make_shared<WorkItem>([&] { ran += 1; });
    q.async(queued);
    auto delayed = q.asyncAfter(10ms, [&] { ran += 10; });
    auto kept = q.asyncAfter(20ms, [&] { ran += 100; });
    queued->cancel();
    delayed->cancel();
    gate.open();

    // Runs after both deadlines have passed.
    std::promise<void> later;
    q.asyncAfter(40ms, [&] { later.set_value(); });
    ASSERT_EQ(later.get_future().wait_for(kHang), std::future_status::ready);
    EXPECT_EQ(ran.load(), 100);
    (void)kept;
}

TEST(SerialQueueTest, DelayedBlocksRunByDeadlineAndNeverEarly)
{
    SerialQueue q("test.delay");
    struct Run {
        std::string name;
        Clock::duration after;
    };
    std::vector<Run> runs; // touched only on the queue
    const auto t0 = Clock::now();
    auto record = [&](std::string name) {
        return [&runs, t0, name] { runs.push_back({name, Clock::now() - t0}); };
    };
    q.asyncAfter(60ms, record("c"));
    q.asyncAfter(20ms, record("a"), 50ms); // leeway may delay it, never reorder it
    q.asyncAfter(40ms, record("b"));
    q.asyncAfter(40ms, record("b2"));
    q.async(record("now"));

    std::promise<void> done;
    q.asyncAfter(80ms, [&] { done.set_value(); });
    ASSERT_EQ(done.get_future().wait_for(kHang), std::future_status::ready);

    ASSERT_EQ(runs.size(), 5u);
    const std::vector<std::pair<std::string, Clock::duration>> expected{
        {"now", 0ms}, {"a", 20ms}, {"b", 40ms}, {"b2", 40ms}, {"c", 60ms}};
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(runs[i].name, expected[i].first);
        EXPECT_GE(runs[i].after, expected[i].second) << runs[i].name;
    }
}

TEST(SerialQueueTest, TimerRepeatsUntilCancelledFromItsOwnBlock)
{
    SerialQueue q("test.timer");
    constexpr auto kInterval = 5ms;
    std::vector<Clock::time_point> fires;
    WorkItemRef timer;
    const auto t0 = Clock::now();
    // Scheduled from the queue so `timer` is set before the first fire reads it.
    q.sync([&] {
        timer = q.scheduleTimer(kInterval, kInterval, [&] {
            fires.push_back(Clock::now());
            if (fires.size() == 3)
                timer->cancel();
        });
    });

    std::promise<void> later;
    q.asyncAfter(60ms, [&] { later.set_value(); });
    ASSERT_EQ(later.get_future().wait_for(kHang), std::future_status::ready);

    ASSERT_EQ(fires.size(), 3u);
    // Slots are kept from the first deadline, so the k-th fire is no earlier than k intervals.
    for (size_t k = 0; k < fires.size(); ++k)
        EXPECT_GE(fires[k] - t0, kInterval * (k + 1)) << "fire " << k;
}

TEST(SerialQueueTest, TimerCancelledFromOutsideStops)
{
    SerialQueue q("test.timer2");
    std::atomic<int> fires{0};
    std::promise<void> thirdFire;
    auto timer = q.scheduleTimer(0ns, 2ms, [&] {
        if (++fires == 3)
            thirdFire.set_value();
    });
    ASSERT_EQ(thirdFire.get_future().wait_for(kHang), std::future_status::ready);
    timer->cancel();
    q.sync([] {}); // a fire already queued may still be skipped or finish; nothing later
    const int afterCancel = fires.load();

    std::promise<void> later;
    q.asyncAfter(30ms, [&] { later.set_value(); });
    ASSERT_EQ(later.get_future().wait_for(kHang), std::future_status::ready);
    EXPECT_EQ(fires.load(), afterCancel);
}

TEST(SerialQueueTest, TimerCoalescesFiresMissedWhileBusy)
{
    SerialQueue q("test.coalesce");
    constexpr auto kInterval = 10ms;
    constexpr size_t kFiresAfterStall = 4;
    std::vector<Clock::time_point> starts;
    Clock::time_point stallEnd;
    std::promise<void> done;
    WorkItemRef timer;
    q.sync([&] {
        timer = q.scheduleTimer(0ns, kInterval, [&] {
            starts.push_back(Clock::now());
            if (starts.size() == 1) {
                // Misses about ten slots.
                std::this_thread::sleep_for(kInterval * 10);
                stallEnd = Clock::now();
            } else if (starts.size() == 1 + kFiresAfterStall) {
                timer->cancel();
                done.set_value();
            }
        });
    });
    ASSERT_EQ(done.get_future().wait_for(kHang), std::future_status::ready);

    // Each fire after the stall takes its own slot after the stall's end, so the
    // last of n fires starts at least n-1 intervals after it. A catch-up burst
    // would run them back to back right after the stall.
    ASSERT_EQ(starts.size(), 1 + kFiresAfterStall);
    EXPECT_GT(starts[1], stallEnd);
    EXPECT_GE(starts.back() - stallEnd, kInterval * (kFiresAfterStall - 1));
}

TEST(SerialQueueTest, DestructionRunsDueWorkAndDropsTheRest)
{
    std::atomic<int> ran{0};
    std::atomic<bool> lateRan{false};
    auto captured = std::make_shared<int>(7);
    std::weak_ptr<int> watch = captured;
    {
        SerialQueue q("test.teardown");
        Gate gate;
        gate.block(q);
        for (int i = 0; i < 3; ++i)
            q.async([&] {
                std::this_thread::sleep_for(2ms);
                ++ran;
            });
        q.asyncAfter(1h, [&, captured] { lateRan = true; });
        q.scheduleTimer(0ns, 1ms, [] {});
        captured.reset();
        gate.open();
    }
    EXPECT_EQ(ran.load(), 3);
    EXPECT_FALSE(lateRan.load());
    EXPECT_TRUE(watch.expired()) << "dropped work keeps its captures alive";
}

TEST(SerialQueueTest, QueueDestroyedByItsOwnBlockFinishesDueWork)
{
    auto q = std::make_unique<SerialQueue>("test.selfdestroy");
    SerialQueue* raw = q.get();
    std::promise<void> destroyed;
    std::promise<bool> after;
    Gate gate;
    gate.block(*raw);
    raw->async([&] {
        q.reset();
        destroyed.set_value();
    });
    raw->async([&] { after.set_value(true); });
    gate.open();

    auto destroyedFuture = destroyed.get_future();
    auto afterFuture = after.get_future();
    ASSERT_EQ(destroyedFuture.wait_for(kHang), std::future_status::ready);
    ASSERT_EQ(afterFuture.wait_for(kHang), std::future_status::ready);
    EXPECT_TRUE(afterFuture.get());
    EXPECT_EQ(q, nullptr);
}

TEST(SerialQueueTest, IsCurrentOnlyOnItsOwnThread)
{
    SerialQueue q("test.current");
    SerialQueue other("test.other");
    EXPECT_FALSE(q.isCurrent());
    bool inOwn = false, inOther = true;
    q.sync([&] { inOwn = q.isCurrent(); });
    other.sync([&] { inOther = q.isCurrent(); });
    EXPECT_TRUE(inOwn);
    EXPECT_FALSE(inOther);
}

TEST(SerialQueueTest, ThreadIsNamedAfterTheLabel)
{
    auto nameOf = [](SerialQueue& q) {
        char name[32] = {};
        q.sync([&] { pthread_getname_np(pthread_self(), name, sizeof name); });
        return std::string(name);
    };
    SerialQueue engine("recorder.engine", SerialQueue::QoS::UserInitiated);
    SerialQueue monitor("mic.monitor", SerialQueue::QoS::Utility);
    SerialQueue longer("a.rather.long.queue.label", SerialQueue::QoS::UserInteractive);
    SerialQueue utf8("camera.capture\xC3\xA9", SerialQueue::QoS::UserInitiated); // é straddles the limit

    EXPECT_EQ(nameOf(engine), "recorder.engine");
    EXPECT_EQ(nameOf(monitor), "mic.monitor");
    EXPECT_EQ(nameOf(longer), "a.rather.long.q");
    EXPECT_EQ(nameOf(utf8), "camera.capture");
    EXPECT_EQ(longer.label(), "a.rather.long.queue.label");
}
