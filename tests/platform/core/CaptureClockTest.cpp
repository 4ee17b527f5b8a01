#include "platform/core/CaptureClock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

using namespace corvessa;

namespace {
constexpr int64_t ms = 1'000'000;
}

TEST(CaptureClockTest, TheFirstBufferTakesItsMeasuredTime)
{
    CaptureClock clock(48000);
    EXPECT_EQ(clock.stamp(5'000 * ms, 480), 5'000 * ms);
    // A perfect measurement of the next buffer changes nothing.
    EXPECT_EQ(clock.stamp(5'010 * ms, 480), 5'010 * ms);
}

TEST(CaptureClockTest, JitteryMeasurementsStillGiveContiguousBuffers)
{
    CaptureClock clock(44100);
    std::mt19937 random(7);
    std::uniform_int_distribution<int64_t> jitter(-3 * ms, 3 * ms);
    const int64_t start = 1'000 * ms;
    int64_t previousEnd = 0;
    int64_t worstStep = 0;
    for (int i = 0; i < 1000; ++i) {
        const uint64_t frames = 441;
        const int64_t truth = start + int64_t(i) * 10 * ms;
        const int64_t pts = clock.stamp(truth + jitter(random), frames);
        if (i > 0)
            worstStep = std::max<int64_t>(worstStep, std::llabs(pts - previousEnd));
        previousEnd = pts + int64_t(frames) * 1'000'000'000 / 44100;
        if (i > 100) {
            EXPECT_LT(std::llabs(pts - truth), 2 * ms) << "buffer " << i;
        }
    }
    // Far inside what the mixer absorbs (240 frames, 5 ms).
    EXPECT_LT(worstStep, 1 * ms);
}

TEST(CaptureClockTest, FollowsADriftingDeviceClockWithoutJumps)
{
    // The device runs 100 ppm fast against the host clock: 48004.8 real frames a second.
    CaptureClock clock(48000);
    int64_t pts = 0;
    for (int i = 0; i < 36000; ++i) { // six minutes of 10 ms buffers
        const int64_t truth = int64_t(double(i) * 480 / 48004.8 * 1e9);
        pts = clock.stamp(truth, 480);
    }
    const int64_t truth = int64_t(35999.0 * 480 / 48004.8 * 1e9);
    EXPECT_LT(std::llabs(pts - truth), 1 * ms);
}

TEST(CaptureClockTest, ALargeErrorResynchronisesAndResetStartsAfresh)
{
    CaptureClock clock(48000);
    clock.stamp(0, 480);
    clock.stamp(10 * ms, 480);
    // A stall: the next buffer was measured 200 ms later than the samples imply.
    EXPECT_EQ(clock.stamp(220 * ms, 480), 220 * ms);
    EXPECT_EQ(clock.stamp(230 * ms, 480), 230 * ms);
    // Just inside the threshold: smoothed, not taken over.
    const int64_t expected = 240 * ms;
    const int64_t smoothed = clock.stamp(expected + 40 * ms, 480);
    EXPECT_EQ(smoothed, expected + 40 * ms / CaptureClock::smoothingDivisor);

    clock.reset(44100);
    EXPECT_EQ(clock.stamp(9'999 * ms, 441), 9'999 * ms);
}

TEST(CaptureClockTest, PositionsStayExactOverDays)
{
    CaptureClock clock(48000);
    clock.stamp(0, 0);
    // Ten days of frames in one step: frames * 1e9 exceeds 64 bits.
    const uint64_t frames = 48000ull * 86400 * 10;
    clock.stamp(0, frames);
    EXPECT_EQ(clock.stamp(int64_t(86400) * 10 * 1'000'000'000, 480), int64_t(86400) * 10 * 1'000'000'000);
}

TEST(CaptureClockTest, ACappedClockRidesOutMeasurementsThatAreFarOff)
{
    // Latency reports 300 ms off for half a second, as on a loaded machine: the
    // stamps stay contiguous (no cut, no overlap) and come back to the truth.
    CaptureClock clock(48000, 1'000 * ms, 1 * ms);
    int64_t previousEnd = 0;
    int64_t pts = 0;
    for (int i = 0; i < 300; ++i) {
        const int64_t truth = int64_t(i) * 10 * ms;
        const int64_t error = i >= 100 && i < 150 ? -300 * ms : 0;
        pts = clock.stamp(truth + error, 480);
        if (i > 0)
            ASSERT_LE(std::llabs(pts - previousEnd), 1 * ms) << "buffer " << i;
        previousEnd = pts + 10 * ms;
    }
    EXPECT_LT(std::llabs(pts - 299 * 10 * ms), 1 * ms);
}
