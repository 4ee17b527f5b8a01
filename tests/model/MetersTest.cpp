#include "model/Meters.h"

#include "support/VirtualScheduler.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>

using namespace corvessa;

namespace {

LevelStats flat(float a)
{
    return {a, a, a};
}

struct MetersTest : ::testing::Test {
    VirtualScheduler clock{100};
    Meters meters{clock};
    int changes = 0;
    void SetUp() override
    {
        QObject::connect(&meters, &Meters::changed, [this] { ++changes; });
    }
};

} // namespace

TEST_F(MetersTest, AnUpdateThatLooksTheSameIsDroppedWhole)
{
    meters.pushed(flat(0.5f), std::nullopt);
    ASSERT_EQ(changes, 1);
    const ChannelMeter published = meters.mic();

    clock.advance(0.01);
    meters.pushed(flat(0.501f), flat(0)); // same quantised look for both meters
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(meters.mic(), published); // dates and levels as before
    EXPECT_EQ(meters.sys(), ChannelMeter::silent());
    EXPECT_EQ(meters.lastMic(), clock.now());

    meters.pushed(std::nullopt, flat(1));
    EXPECT_EQ(changes, 2);
    EXPECT_TRUE(meters.sys().clipLit(clock.now()));
    meters.clearClip(false);
    EXPECT_EQ(changes, 3);
    EXPECT_FALSE(meters.sys().clipLit(clock.now()));
    meters.setSys(meters.sys()); // no change, no signal
    EXPECT_EQ(changes, 3);
}

TEST_F(MetersTest, RepublishesEverySecondWhileAlive)
{
    int ticks = 0;
    QObject::connect(&meters, &Meters::tick, [&] { ++ticks; });
    clock.advance(3.5);
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(changes, 0);

    const size_t before = clock.timerCount();
    { Meters other(clock); }
    EXPECT_EQ(clock.timerCount(), before);
}

TEST_F(MetersTest, MicSilenceCountsFromTheFirstSilentBufferWhileBuffersArrive)
{
    EXPECT_EQ(meters.micSilentSeconds(), 0); // nothing arrived yet
    meters.pushed(flat(0), std::nullopt);
    const double since = clock.now();
    clock.advance(1.5);
    meters.pushed(LevelStats{0, 0, Meters::silentPre / 2}, std::nullopt);
    meters.pushed(std::nullopt, flat(0.5f)); // system audio does not count
    EXPECT_EQ(meters.micZeroSince(), since);
    clock.advance(1.5);
    EXPECT_EQ(meters.micSilentSeconds(), clock.now() - since);
    clock.advance(Meters::staleSeconds - 1.5); // no statistics for 2 s: no claim
    EXPECT_EQ(meters.micSilentSeconds(), 0);

    meters.pushed(LevelStats{0, 0, std::numeric_limits<float>::quiet_NaN()}, std::nullopt);
    EXPECT_GT(meters.micSilentSeconds(), 0);
    meters.pushed(LevelStats{0, 0, Meters::silentPre}, std::nullopt); // one audible buffer ends it
    EXPECT_EQ(meters.micSilentSeconds(), 0);
    EXPECT_FALSE(meters.micZeroSince());
}

TEST_F(MetersTest, TheClipLampStaysLitWhileClippingGoesOn)
{
    for (int second = 0; second < 6; ++second) {
        meters.pushed(flat(1), std::nullopt);
        EXPECT_TRUE(meters.mic().clipLit(clock.now())) << second;
        clock.advance(1);
    }
    EXPECT_TRUE(meters.mic().clipLit(clock.now()));
}
