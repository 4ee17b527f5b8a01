#include "model/LevelThrottle.h"

#include <gtest/gtest.h>

#include <limits>

using namespace corvessa;

TEST(LevelThrottleTest, SetsCloserThanTheIntervalMergeIntoTheNextLetThrough)
{
    LevelThrottle t(0.15);
    EXPECT_EQ(t.offer({0.1f, 0.1f, 0.1f}, 0), (LevelStats{0.1f, 0.1f, 0.1f}));
    EXPECT_FALSE(t.offer({0.9f, 0.2f, 0.1f}, 0.05));
    EXPECT_FALSE(t.offer({0.3f, 0.4f, 0.1f}, 0.10));
    EXPECT_EQ(t.offer({0.2f, 0.1f, 0.5f}, 0.15), (LevelStats{0.9f, 0.4f, 0.5f}));
    EXPECT_FALSE(t.takePending());
}

TEST(LevelThrottleTest, TakePendingHandsTheHeldSetOutOnce)
{
    LevelThrottle t(0.15);
    t.offer({0.1f, 0.1f, 0.1f}, 0);
    t.offer({0.8f, 0.8f, 0.8f}, 0.05);
    EXPECT_EQ(t.takePending(), (LevelStats{0.8f, 0.8f, 0.8f}));
    EXPECT_FALSE(t.takePending());
    EXPECT_EQ(t.offer({0.2f, 0.2f, 0.2f}, 0.2), (LevelStats{0.2f, 0.2f, 0.2f})); // nothing stale merged in
}

TEST(LevelThrottleTest, NonsenseIntervalsAndLevels)
{
    LevelThrottle t;
    t.setInterval(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(t.interval(), LevelThrottle::idleInterval);
    t.setInterval(-1);
    EXPECT_EQ(t.interval(), 0);
    EXPECT_TRUE(t.offer({}, 0));
    EXPECT_TRUE(t.offer({}, 0)); // interval 0 lets everything through

    t.setInterval(1);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    t.offer({0.5f, 0.5f, 0.5f}, 10);
    t.offer({nan, nan, nan}, 10.5);
    EXPECT_EQ(t.offer({0.1f, 0.1f, 0.1f}, 10.6), std::nullopt);
    EXPECT_EQ(t.takePending(), (LevelStats{0.1f, 0.1f, 0.1f})); // a bad value hides no level
}
