#include "support/VirtualScheduler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <thread>

using namespace corvessa;

TEST(VirtualSchedulerTest, TimersRunInTimeOrderAndDroppedOnesNever)
{
    VirtualScheduler s(10);
    std::string log;
    auto note = [&](char c) { return [&, c] { log += c; log += std::to_string(std::lround(s.now() * 1000)); log += ' '; }; };

    auto b = s.after(0.2, note('b'));
    auto a = s.after(0.1, note('a'));
    auto cancelled = s.after(0.15, note('x'));
    auto r = s.every(0.25, 0, note('r'));
    cancelled.reset();
    std::thread([&] { s.post(note('p')); }).join();

    s.advance(0.6);
    EXPECT_EQ(log, "p10000 a10100 b10200 r10250 r10500 ");
    EXPECT_DOUBLE_EQ(s.now(), 10.6);

    r.reset();
    s.advance(1);
    EXPECT_EQ(log, "p10000 a10100 b10200 r10250 r10500 ");
    EXPECT_EQ(s.timerCount(), 0u);
}
