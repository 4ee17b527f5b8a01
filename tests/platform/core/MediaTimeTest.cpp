#include "platform/core/MediaTime.h"
#include "platform/core/PixelBuffer.h"
#include "platform/core/SampleBuffer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace corvessa;

namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

void expectExact(const MediaTime& t, int64_t value, int32_t timescale)
{
    EXPECT_TRUE(t.isValid());
    EXPECT_EQ(t.value(), value);
    EXPECT_EQ(t.timescale(), timescale);
}

} // namespace

TEST(MediaTime, ArithmeticIsExactAcrossTimescales)
{
    const MediaTime sum = MediaTime(1, 3) + MediaTime(1, 6);
    EXPECT_EQ(sum, MediaTime(1, 2));
    expectExact(sum, 3, 6);

    // Thirty NTSC frames minus their length as one value is exactly zero.
    MediaTime t = MediaTime::zero();
    for (int i = 0; i < 30; ++i)
        t += MediaTime(1001, 30000);
    EXPECT_EQ(t - MediaTime(30030, 30000), MediaTime::zero());
    EXPECT_EQ(MediaTime(48000, 48000) - MediaTime(1, 1), MediaTime::zero());
    EXPECT_EQ(MediaTime(1, 3) - MediaTime(1, 2), MediaTime(-1, 6));
    EXPECT_EQ(-MediaTime(1, 3), MediaTime(-1, 3));

    // When the common timescale does not fit 32 bits, the finer one is used.
    const MediaTime mixed = MediaTime(1, 1000000000) + MediaTime(1, 48000);
    expectExact(mixed, 20834, 1000000000); // 1 ns + 20833.33 ns

    EXPECT_FALSE((MediaTime() + MediaTime(1, 2)).isValid());
    EXPECT_FALSE((MediaTime(1, 2) - MediaTime()).isValid());
    EXPECT_FALSE((-MediaTime()).isValid());
    EXPECT_FALSE(MediaTime(5, 0).isValid());
    EXPECT_FALSE(MediaTime(5, -1).isValid());
}

TEST(MediaTime, OrderingIsExactAndPutsInvalidFirst)
{
    EXPECT_LT(MediaTime(333, 1000), MediaTime(1, 3));
    EXPECT_LT(MediaTime(1, 3), MediaTime(334, 1000));
    EXPECT_EQ(MediaTime(2, 6), MediaTime(1, 3));
    EXPECT_NE(MediaTime(1, 3), MediaTime(333333333, 1000000000));

    // Cross-multiplication beyond 64 bits still orders correctly.
    EXPECT_LT(MediaTime(kMax, 1000000000), MediaTime(kMax, 999999999));
    EXPECT_GT(MediaTime(kMax, 1), MediaTime(kMax - 1, 1));
    EXPECT_LT(MediaTime(std::numeric_limits<int64_t>::min(), 1), MediaTime(-1, 1000000000));

    EXPECT_LT(MediaTime(), MediaTime(std::numeric_limits<int64_t>::min(), 1));
    EXPECT_EQ(MediaTime(), MediaTime::invalid());
    EXPECT_EQ(MediaTime(7, 0), MediaTime()); // any invalid equals any other
    EXPECT_EQ(MediaTime::min(MediaTime(), MediaTime(1, 1)), MediaTime());
    EXPECT_EQ(MediaTime::max(MediaTime(), MediaTime(1, 1)), MediaTime(1, 1));
    EXPECT_EQ(MediaTime::min(MediaTime(1, 2), MediaTime(1, 3)), MediaTime(1, 3));
}

TEST(MediaTime, ConvertScaleRoundsHalfAwayFromZero)
{
    expectExact(MediaTime(1, 3).convertScale(1000), 333, 1000);
    expectExact(MediaTime(2, 3).convertScale(1000), 667, 1000);
    expectExact(MediaTime(1, 2000).convertScale(1000), 1, 1000);
    expectExact(MediaTime(-1, 2000).convertScale(1000), -1, 1000);
    expectExact(MediaTime(3, 2000).convertScale(1000), 2, 1000);
    expectExact(MediaTime(-3, 2000).convertScale(1000), -2, 1000);
    expectExact(MediaTime(1, 4000).convertScale(1000), 0, 1000);
    expectExact(MediaTime(90000, 90000).convertScale(1000000000), 1000000000, 1000000000);
    EXPECT_FALSE(MediaTime(1, 3).convertScale(0).isValid());
    EXPECT_FALSE(MediaTime().convertScale(1000).isValid());
}

TEST(MediaTime, Multiplied)
{
    EXPECT_EQ(MediaTime(1, 30).multiplied(3), MediaTime(1, 10));
    expectExact(MediaTime(1, 30).multiplied(1, 2), 1, 60); // exact by a finer timescale
    EXPECT_EQ(MediaTime(4, 30).multiplied(1, 2), MediaTime(2, 30));
    EXPECT_EQ(MediaTime(1, 30).multiplied(1, -2), MediaTime(-1, 60));
    EXPECT_EQ(MediaTime(3, 1).multiplied(-1), MediaTime(-3, 1));
    EXPECT_FALSE(MediaTime(1, 30).multiplied(1, 0).isValid());
    EXPECT_FALSE(MediaTime().multiplied(2).isValid());

    // A timescale that cannot take the denominator: rounded in the own timescale.
    expectExact(MediaTime(1, 1000000000).multiplied(1, 3), 0, 1000000000);
    expectExact(MediaTime(2, 1000000000).multiplied(1, 3), 1, 1000000000);

    // A product beyond 64 bits must not be clamped into a wrong exact value.
    const MediaTime big = MediaTime(kMax / 2, 1).multiplied(3, 2); // (2^62 - 1) * 1.5
    EXPECT_EQ(big.timescale(), 1);
    EXPECT_EQ(big.value(), 6917529027641081855); // 6917529027641081854.5 rounded up
    EXPECT_EQ(MediaTime(1, 1).multiplied(std::numeric_limits<int64_t>::min(), -1), MediaTime(kMax, 1));
}

TEST(MediaTime, FromSeconds)
{
    expectExact(MediaTime::fromSeconds(0.5), 500000000, 1000000000);
    expectExact(MediaTime::fromSeconds(1.0 / 3.0, 3), 1, 3);
    expectExact(MediaTime::fromSeconds(-0.25, 1000), -250, 1000);
    EXPECT_DOUBLE_EQ(MediaTime(3, 4).seconds(), 0.75);
    EXPECT_TRUE(std::isnan(MediaTime().seconds()));
    EXPECT_FALSE(MediaTime::fromSeconds(std::nan("")).isValid());
    EXPECT_FALSE(MediaTime::fromSeconds(INFINITY).isValid());
    EXPECT_FALSE(MediaTime::fromSeconds(1.0, 0).isValid());
    EXPECT_FALSE(MediaTime::fromSeconds(1e300).isValid()); // beyond 64-bit nanoseconds
    EXPECT_FALSE(MediaTime::fromSeconds(-1e300).isValid());
}

TEST(MediaTimeRetimed, NothingWithoutTiming)
{
    EXPECT_FALSE(MediaTime::retimed(SampleBuffer(), MediaTime(1, 1)));

    auto audio = SampleBuffer::audio(AudioFormat::floatFormat(48000, 2), 480, MediaTime(0, 48000));
    EXPECT_FALSE(MediaTime::retimed(audio, MediaTime()));
    audio.setTiming({});
    EXPECT_FALSE(MediaTime::retimed(audio, MediaTime(1, 1)));
}

TEST(MediaTimeRetimed, ShiftsTimesKeepsDurationsAndSharesAudio)
{
    auto original = SampleBuffer::audio(AudioFormat::floatFormat(48000, 2), 480, MediaTime(96000, 48000));
    const auto retimed = MediaTime::retimed(original, MediaTime(5000000000, 1000000000));
    ASSERT_TRUE(retimed);

    EXPECT_EQ(retimed->presentationTime(), MediaTime(5, 1));
    EXPECT_EQ(retimed->duration(), MediaTime(480, 48000));
    ASSERT_EQ(retimed->timing().size(), 1u);
    EXPECT_FALSE(retimed->timing()[0].decodeTime.isValid()); // invalid stays invalid
    EXPECT_EQ(original.presentationTime(), MediaTime(2, 1));  // the source is unchanged

    // Same sample memory: a write through the copy shows in the original.
    EXPECT_EQ(retimed->audioBuffers(), original.audioBuffers());
    auto writable = *retimed;
    writable.floatData()[3] = 0.25f;
    EXPECT_EQ(original.floatData()[3], 0.25f);
    EXPECT_EQ(retimed->audioFormat(), original.audioFormat());
    EXPECT_EQ(retimed->frameCount(), 480u);
}

TEST(MediaTimeRetimed, ShiftsEveryEntryAndNumericDecodeTimes)
{
    SampleBuffer buffer = SampleBuffer::video(PixelBuffer::create(4, 4, PixelFormat::BGRA), MediaTime(0, 30),
                                              MediaTime(1, 30));
    buffer.setTiming({
        {MediaTime(1, 30), MediaTime(1, 30), MediaTime(0, 30)},
        {MediaTime(1, 30), MediaTime(2, 30), MediaTime()},
        {MediaTime(2, 30), MediaTime(3, 30), MediaTime(2, 30)},
    });
    const auto retimed = MediaTime::retimed(buffer, MediaTime(10, 1));
    ASSERT_TRUE(retimed);
    const auto& t = retimed->timing();
    ASSERT_EQ(t.size(), 3u);
    // Offset is 10 s - 1/30 s.
    EXPECT_EQ(t[0].presentationTime, MediaTime(10, 1));
    EXPECT_EQ(t[0].decodeTime, MediaTime(299, 30));
    EXPECT_EQ(t[1].presentationTime, MediaTime(301, 30));
    EXPECT_FALSE(t[1].decodeTime.isValid());
    EXPECT_EQ(t[2].presentationTime, MediaTime(302, 30));
    EXPECT_EQ(t[2].decodeTime, MediaTime(301, 30));
    EXPECT_EQ(t[0].duration, MediaTime(1, 30));
    EXPECT_EQ(t[2].duration, MediaTime(2, 30));
    EXPECT_EQ(retimed->imageBuffer(), buffer.imageBuffer());
}

TEST(MediaTimeRetimed, HostClockTargetLandsExactly)
{
    // Microphone times in 1/48000 s onto nanosecond host times: the common
    // timescale does not fit, yet the new presentation time is the target.
    auto audio = SampleBuffer::audio(AudioFormat::floatFormat(48000, 1), 1024, MediaTime(12346, 48000));
    const MediaTime target(987654321123, 1000000000);
    const auto retimed = MediaTime::retimed(audio, target);
    ASSERT_TRUE(retimed);
    EXPECT_EQ(retimed->presentationTime(), target);
    EXPECT_EQ(retimed->duration(), MediaTime(1024, 48000));
}

TEST(MediaTimeImage, WrapsPixelsWithOneTimingEntry)
{
    EXPECT_FALSE(MediaTime::image(nullptr, MediaTime(1, 1), MediaTime(1, 30)));

    auto pixels = PixelBuffer::create(8, 8, PixelFormat::BGRA);
    const auto sample = MediaTime::image(pixels, MediaTime(7, 2), MediaTime(1, 60));
    ASSERT_TRUE(sample);
    EXPECT_EQ(sample->imageBuffer(), pixels);
    ASSERT_EQ(sample->timing().size(), 1u);
    EXPECT_EQ(sample->presentationTime(), MediaTime(7, 2));
    EXPECT_EQ(sample->duration(), MediaTime(1, 60));
    EXPECT_FALSE(sample->timing()[0].decodeTime.isValid());
    EXPECT_FALSE(sample->audioFormat());
}
