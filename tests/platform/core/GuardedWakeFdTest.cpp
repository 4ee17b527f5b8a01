#include "platform/core/Guarded.h"
#include "platform/core/WakeFd.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <thread>
#include <vector>

#include <poll.h>

using namespace corvessa;

namespace {

// Whether the descriptor is readable right now.
bool readable(const WakeFd& wake)
{
    pollfd fd{wake.fd(), POLLIN, 0};
    return ::poll(&fd, 1, 0) == 1 && (fd.revents & POLLIN);
}

TEST(WakeFd, WakeMakesPollReadableAndDrainMakesItQuiet)
{
    const WakeFd wake;
    ASSERT_TRUE(wake.isValid());
    EXPECT_FALSE(readable(wake));
    EXPECT_FALSE(wake.drain());

    wake.wake();
    EXPECT_TRUE(readable(wake));
    EXPECT_TRUE(wake.drain());
    EXPECT_FALSE(readable(wake)) << "a drained wake-up must not wake the loop again";
    EXPECT_FALSE(wake.drain());

    // The next round works as the first did.
    wake.wake();
    EXPECT_TRUE(readable(wake));
}

TEST(WakeFd, ManyWakesFromManyThreadsAreOneWakeUp)
{
    const WakeFd wake;
    ASSERT_TRUE(wake.isValid());
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 1000; ++i)
                wake.wake();
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_TRUE(readable(wake));
    EXPECT_TRUE(wake.drain());
    EXPECT_FALSE(readable(wake)) << "one drain clears every pending wake-up";
}

struct Counter {
    int value = 0;
    bool ready = false;
};

TEST(Guarded, NoIncrementIsLostAcrossThreads)
{
    Guarded<Counter> counter;
    constexpr int kThreads = 8;
    constexpr int kRounds = 20000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                // Both ways in: the scoped lock and with().
                if ((i + t) % 2 == 0)
                    counter.with([](Counter& c) { ++c.value; });
                else
                    ++counter.lock()->value;
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(counter.with([](const Counter& c) { return c.value; }), kThreads * kRounds);
}

TEST(Guarded, WaitLetsOthersInUntilTheValueIsReady)
{
    Guarded<Counter> state;
    std::condition_variable changed;
    std::atomic<bool> holding{false};
    int seen = 0;
    std::thread waiter([&] {
        auto locked = state.lock();
        holding = true;
        locked.wait(changed, [](const Counter& c) { return c.ready; });
        seen = locked->value;
    });
    while (!holding)
        std::this_thread::yield();
    // The waiter holds the lock until it waits: this gets in only if waiting lets go of it.
    state.with([](Counter& c) {
        c.value = 42;
        c.ready = true;
    });
    changed.notify_all();
    waiter.join();
    EXPECT_EQ(seen, 42);
}

} // namespace
