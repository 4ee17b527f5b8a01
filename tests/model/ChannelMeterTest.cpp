#include "model/ChannelMeter.h"

#include <gtest/gtest.h>

#include <limits>

using namespace corvessa;

namespace {

LevelStats flat(float a)
{
    return {a, a, a};
}

// A meter after a full-scale burst at time 0.
ChannelMeter afterBurst()
{
    ChannelMeter m;
    m.update(flat(1), 0.05, 0);
    return m;
}

} // namespace

TEST(ChannelMeterTest, LevelsRiseAtOnceAndFallAtMostDt)
{
    EXPECT_EQ(ChannelMeter::level(0), 0.0f);
    EXPECT_EQ(ChannelMeter::level(1), 1.0f);
    EXPECT_FLOAT_EQ(ChannelMeter::level(0.001f), 0.0f); // -60 dB: bottom of the scale
    EXPECT_FLOAT_EQ(ChannelMeter::level(0.1f), 2.0f / 3);

    const ChannelMeter burst = afterBurst();
    EXPECT_EQ(burst.norm, 1.0f);
    EXPECT_EQ(burst.preNorm, 1.0f);
    EXPECT_FLOAT_EQ(burst.lastPeakDB, 0);

    for (double dt : {0.05, 0.3, 0.9}) {
        ChannelMeter m = burst;
        m.update(flat(0), dt, 0.1);
        EXPECT_FLOAT_EQ(m.norm, 1 - float(dt)) << dt;
        EXPECT_FLOAT_EQ(m.preNorm, 1 - float(dt)) << dt;
    }
    // A long gap falls at most one full scale, down to the new level.
    ChannelMeter m = burst;
    m.update(flat(0.1f), 5, 5);
    EXPECT_FLOAT_EQ(m.norm, ChannelMeter::level(0.1f));
}

TEST(ChannelMeterTest, HoldStaysForItsTimeThenDropsToThePeak)
{
    ChannelMeter m = afterBurst();
    m.update(flat(0.1f), 0.1, ChannelMeter::holdSeconds - 0.01);
    EXPECT_EQ(m.hold, 1.0f);
    EXPECT_EQ(m.holdAt, 0);
    m.update(flat(0.1f), 0.1, ChannelMeter::holdSeconds + 0.01);
    EXPECT_FLOAT_EQ(m.hold, ChannelMeter::level(0.1f));
    EXPECT_EQ(m.holdAt, ChannelMeter::holdSeconds + 0.01);
}

TEST(ChannelMeterTest, ClipLampLightsAtTheThresholdForItsTime)
{
    for (float peak : {1.0f, 0.99f, 0.989f}) {
        ChannelMeter m;
        m.update({peak, 0.1f, 0.1f}, 0.05, 10);
        const bool lights = peak >= 0.99f;
        EXPECT_EQ(m.clipLit(10 + ChannelMeter::clipSeconds - 0.01), lights) << peak;
        EXPECT_FALSE(m.clipLit(10 + ChannelMeter::clipSeconds)) << peak;
        EXPECT_EQ((m.visualKey(10) >> 24) & 1, lights ? 1 : 0) << peak;
    }
}

TEST(ChannelMeterTest, NonsenseInputShowsSilence)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(ChannelMeter::level(nan), 0.0f);
    EXPECT_EQ(ChannelMeter::level(-1), 0.0f);
    EXPECT_EQ(ChannelMeter::level(std::numeric_limits<float>::infinity()), 1.0f);

    ChannelMeter m;
    m.update({nan, nan, nan}, std::numeric_limits<double>::quiet_NaN(), 1);
    EXPECT_EQ(m.norm, 0.0f);
    EXPECT_EQ(m.preNorm, 0.0f);
    EXPECT_EQ(m.hold, 0.0f);
    EXPECT_FALSE(m.clipLit(1));
    EXPECT_EQ(m.visualKey(1), ChannelMeter::silent().visualKey(1));
    EXPECT_FLOAT_EQ(m.lastPeakDB, -120);
}
