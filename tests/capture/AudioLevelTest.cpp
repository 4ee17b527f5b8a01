#include "capture/AudioLevel.h"
#include "platform/core/SampleBuffer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace corvessa;

namespace {

template <typename T>
SampleBuffer bufferOf(const AudioFormat& fmt, const std::vector<std::vector<T>>& channels)
{
    SampleBuffer b = SampleBuffer::audio(fmt, 0, MediaTime::zero());
    auto list = std::make_shared<AudioBufferList>();
    for (const auto& c : channels) {
        std::vector<std::byte> bytes(c.size() * sizeof(T));
        std::memcpy(bytes.data(), c.data(), bytes.size());
        list->buffers.push_back(std::move(bytes));
    }
    b.setAudioBuffers(list);
    b.setFrameCount(channels.front().size());
    return b;
}

template <typename T>
std::vector<T> samples(const SampleBuffer& b, size_t buffer = 0)
{
    const auto& bytes = b.audioBuffers()->buffers.at(buffer);
    std::vector<T> out(bytes.size() / sizeof(T));
    std::memcpy(out.data(), bytes.data(), bytes.size());
    return out;
}

SampleBuffer int24Buffer(const std::vector<int32_t>& values)
{
    SampleBuffer b = SampleBuffer::audio(AudioFormat::integerFormat(48000, 1, 24), values.size(), MediaTime::zero());
    auto& bytes = b.audioBuffers()->buffers[0];
    for (size_t i = 0; i < values.size(); ++i)
        for (int k = 0; k < 3; ++k)
            bytes[i * 3 + k] = std::byte((uint32_t(values[i]) >> (8 * k)) & 0xff);
    return b;
}

int32_t int24At(const SampleBuffer& b, size_t i)
{
    const auto& bytes = b.audioBuffers()->buffers[0];
    int32_t v = int32_t(uint32_t(bytes[i * 3]) | uint32_t(bytes[i * 3 + 1]) << 8 | uint32_t(bytes[i * 3 + 2]) << 16);
    return (v & 0x800000) ? v - 0x1000000 : v;
}

} // namespace

TEST(AudioLevel, UnityGainNeverTouchesSamples)
{
    const std::vector<float> f = {0.25f, -1.5f, 0.75f, 2.0f};
    auto b = bufferOf<float>(AudioFormat::floatFormat(48000, 2), {f});
    const auto s = AudioLevel::process(b, 1.0f);
    ASSERT_TRUE(s);
    EXPECT_EQ(samples<float>(b), f); // out-of-range samples stay too
    EXPECT_FLOAT_EQ(s->peak, 2.0f);
    EXPECT_EQ(s->peak, s->pre);

    const std::vector<int16_t> i = {20000, -32768, 5};
    auto b16 = bufferOf<int16_t>(AudioFormat::integerFormat(48000, 1, 16), {i});
    AudioLevel::process(b16, 1.0f);
    EXPECT_EQ(samples<int16_t>(b16), i);
}

TEST(AudioLevel, Int16GainClipsAndTruncates)
{
    auto b = bufferOf<int16_t>(AudioFormat::integerFormat(48000, 1, 16), {{20000, -20000}});
    const auto s = AudioLevel::process(b, 2.0f);
    ASSERT_TRUE(s);
    EXPECT_EQ(samples<int16_t>(b), (std::vector<int16_t>{32767, -32768}));
    EXPECT_NEAR(s->peak, 40000.0 / 32768.0, 1e-5); // before clipping: shows the gain clips
    EXPECT_NEAR(s->pre, 20000.0 / 32768.0, 1e-6);

    auto half = bufferOf<int16_t>(AudioFormat::integerFormat(48000, 1, 16), {{32767, -32767, 3}});
    AudioLevel::process(half, 0.5f);
    EXPECT_EQ(samples<int16_t>(half), (std::vector<int16_t>{16383, -16383, 1})); // toward zero
}

TEST(AudioLevel, FloatFormatsClipAtFullScale)
{
    auto f32 = bufferOf<float>(AudioFormat::floatFormat(48000, 1), {{0.6f, -0.6f, 0.25f}});
    AudioLevel::process(f32, 2.0f);
    EXPECT_EQ(samples<float>(f32), (std::vector<float>{1.0f, -1.0f, 0.5f}));

    auto f64 = bufferOf<double>(AudioFormat::floatFormat(48000, 1, true, 64), {{0.75, -0.75, 0.125}});
    const auto s = AudioLevel::process(f64, 2.0f);
    ASSERT_TRUE(s);
    EXPECT_EQ(samples<double>(f64), (std::vector<double>{1.0, -1.0, 0.25}));
    EXPECT_FLOAT_EQ(s->peak, 1.5f);
}

TEST(AudioLevel, Int24PackedLittleEndian)
{
    auto b = int24Buffer({4194304, -4194304, 8388607, -8388608, 1000});
    const auto s = AudioLevel::process(b, 2.0f);
    ASSERT_TRUE(s);
    EXPECT_EQ(int24At(b, 0), 8388607);
    EXPECT_EQ(int24At(b, 1), -8388608);
    EXPECT_EQ(int24At(b, 2), 8388607);
    EXPECT_EQ(int24At(b, 3), -8388608);
    EXPECT_EQ(int24At(b, 4), 2000);
    EXPECT_FLOAT_EQ(s->pre, 1.0f); // -8388608 is full scale
}

TEST(AudioLevel, Int32PositiveLimitIsLargestFloatBelowTwoToThe31)
{
    auto b = bufferOf<int32_t>(AudioFormat::integerFormat(48000, 1, 32), {{1 << 30, -(1 << 30), 1 << 20}});
    AudioLevel::process(b, 4.0f);
    EXPECT_EQ(samples<int32_t>(b), (std::vector<int32_t>{2147483392, INT32_MIN, 1 << 22}));
}

TEST(AudioLevel, PlanarChannelsShareOneRms)
{
    auto b = bufferOf<float>(AudioFormat::floatFormat(48000, 2, false), {{1.0f, 1.0f}, {0.0f, 0.0f}});
    const auto s = AudioLevel::process(b, 1.0f);
    ASSERT_TRUE(s);
    EXPECT_NEAR(s->rms, std::sqrt(0.5), 1e-6);
    EXPECT_FLOAT_EQ(s->peak, 1.0f);
}

TEST(AudioLevel, ZeroGainSilences)
{
    auto b = bufferOf<int16_t>(AudioFormat::integerFormat(48000, 2, 16), {{100, -100, 32767, -32768}});
    const auto s = AudioLevel::process(b, 0.0f);
    ASSERT_TRUE(s);
    EXPECT_EQ(samples<int16_t>(b), (std::vector<int16_t>{0, 0, 0, 0}));
    EXPECT_EQ(s->peak, 0.0f);
    EXPECT_EQ(s->rms, 0.0f);
    EXPECT_FLOAT_EQ(s->pre, 1.0f);
}

TEST(AudioLevel, UnusableBuffersYieldNothingAndStayUntouched)
{
    // 8-bit integers
    auto b8 = bufferOf<int8_t>(AudioFormat::integerFormat(48000, 1, 8), {{100, -100}});
    EXPECT_FALSE(AudioLevel::process(b8, 2.0f));
    EXPECT_EQ(samples<int8_t>(b8), (std::vector<int8_t>{100, -100}));
    // 16-bit floats
    auto bh = bufferOf<int16_t>(AudioFormat::floatFormat(48000, 1, true, 16), {{0x3c00}});
    EXPECT_FALSE(AudioLevel::process(bh, 2.0f));
    EXPECT_EQ(samples<int16_t>(bh), (std::vector<int16_t>{0x3c00}));
    // no format, no memory, empty memory
    SampleBuffer none;
    EXPECT_FALSE(AudioLevel::process(none, 1.0f));
    auto empty = SampleBuffer::audio(AudioFormat::floatFormat(48000, 2), 0, MediaTime::zero());
    EXPECT_FALSE(AudioLevel::process(empty, 1.0f));
    auto noBuffers = empty;
    noBuffers.setAudioBuffers(std::make_shared<AudioBufferList>());
    EXPECT_FALSE(AudioLevel::process(noBuffers, 1.0f));
}

TEST(AudioLevel, FrameSizeRulesForBytesPerSample)
{
    // No bytes-per-frame: bits decide.
    AudioFormat f = AudioFormat::integerFormat(48000, 2, 16);
    f.bytesPerFrame = 0;
    auto b = bufferOf<int16_t>(f, {{16384}});
    auto s = AudioLevel::process(b, 1.0f);
    ASSERT_TRUE(s);
    EXPECT_FLOAT_EQ(s->pre, 0.5f);
    // No channel count: bytes-per-frame is the sample size.
    AudioFormat g = AudioFormat::floatFormat(48000, 1);
    g.channelsPerFrame = 0;
    auto c = bufferOf<float>(g, {{0.5f, -0.25f}});
    s = AudioLevel::process(c, 1.0f);
    ASSERT_TRUE(s);
    EXPECT_FLOAT_EQ(s->peak, 0.5f);
}

TEST(AudioLevel, GainWritesThroughSharedCopies)
{
    auto b = bufferOf<float>(AudioFormat::floatFormat(48000, 1), {{0.25f}});
    SampleBuffer copy = b; // the engine hands the same samples on after measuring
    AudioLevel::process(b, 2.0f);
    EXPECT_EQ(samples<float>(copy), std::vector<float>{0.5f});
}
