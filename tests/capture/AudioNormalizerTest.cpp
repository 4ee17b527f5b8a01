#include "capture/AudioNormalizer.h"
#include "platform/core/SampleBuffer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <random>

using namespace corvessa;

namespace {

// A host-clock-like start time, far from zero.
const MediaTime t0(86400LL * 1000000000, 1000000000);

MediaTime at(int64_t frame, int32_t rate)
{
    return t0 + MediaTime(frame, rate);
}

// A buffer whose every plane holds the given raw bytes.
SampleBuffer rawBuffer(const AudioFormat& f, size_t frames, MediaTime pts, std::vector<std::vector<std::byte>> planes)
{
    SampleBuffer b = SampleBuffer::audio(f, frames, pts);
    auto list = std::make_shared<AudioBufferList>();
    list->buffers = std::move(planes);
    b.setAudioBuffers(list);
    return b;
}

template <typename T>
std::vector<std::byte> bytesOf(const std::vector<T>& v)
{
    std::vector<std::byte> out(v.size() * sizeof(T));
    if (!v.empty())
        std::memcpy(out.data(), v.data(), out.size());
    return out;
}

// Mono 16-bit samples of a sine (amplitude `amp`, `freq` Hz) from frame `from`.
std::vector<int16_t> sineS16(size_t frames, int64_t from, double rate, double freq, double amp)
{
    std::vector<int16_t> s(frames);
    for (size_t i = 0; i < frames; ++i)
        s[i] = int16_t(std::lround(amp * 32767 * std::sin(2 * std::numbers::pi * freq * double(from + int64_t(i)) / rate)));
    return s;
}

SampleBuffer monoS16(const std::vector<int16_t>& s, MediaTime pts, double rate = 44100)
{
    return rawBuffer(AudioFormat::integerFormat(rate, 1, 16), s.size(), pts, {bytesOf(s)});
}

SampleBuffer floatBuffer(const std::vector<float>& interleaved, uint32_t channels, MediaTime pts, double rate = 48000)
{
    return rawBuffer(AudioFormat::floatFormat(rate, channels), interleaved.size() / channels, pts, {bytesOf(interleaved)});
}

std::vector<float> samplesOf(const SampleBuffer& b)
{
    const float* p = b.floatData();
    return std::vector<float>(p, p + 2 * b.frameCount());
}

// Everything converted, back to back.
struct Collected {
    std::vector<float> samples; // interleaved stereo
    std::vector<SampleBuffer> buffers;
    void add(std::vector<SampleBuffer> out)
    {
        for (auto& b : out) {
            const auto s = samplesOf(b);
            samples.insert(samples.end(), s.begin(), s.end());
            buffers.push_back(std::move(b));
        }
    }
    size_t frames() const { return samples.size() / 2; }
};

void expectOutputFormat(const SampleBuffer& b)
{
    ASSERT_TRUE(b.audioFormat());
    EXPECT_EQ(*b.audioFormat(), AudioNormalizer::outputFormat());
    EXPECT_EQ(b.audioBuffers()->buffers.size(), 1u);
    EXPECT_EQ(b.audioBuffers()->buffers[0].size(), b.frameCount() * 8);
    EXPECT_EQ(b.duration(), MediaTime(int64_t(b.frameCount()), 48000));
}

// Amplitude of the `freq` component of one channel and the RMS of what is left
// once it is taken away (least squares over whole periods).
struct ToneFit {
    double amplitude;
    double residual;
};
ToneFit fitTone(const std::vector<float>& interleaved, size_t channel, size_t from, size_t count, double freq)
{
    double s = 0, c = 0;
    for (size_t i = 0; i < count; ++i) {
        const double ph = 2 * std::numbers::pi * freq * double(from + i) / 48000.0;
        s += interleaved[2 * (from + i) + channel] * std::sin(ph);
        c += interleaved[2 * (from + i) + channel] * std::cos(ph);
    }
    s *= 2.0 / double(count);
    c *= 2.0 / double(count);
    double err = 0;
    for (size_t i = 0; i < count; ++i) {
        const double ph = 2 * std::numbers::pi * freq * double(from + i) / 48000.0;
        const double d = interleaved[2 * (from + i) + channel] - (s * std::sin(ph) + c * std::cos(ph));
        err += d * d;
    }
    return {std::hypot(s, c), std::sqrt(err / double(count))};
}

} // namespace

TEST(AudioNormalizer, FormatKeyNamesRateChannelsFlagsAndBits)
{
    EXPECT_EQ(AudioNormalizer::formatKey(AudioFormat::floatFormat(48000, 1, false)), "48000.0/1/41/32");
    EXPECT_EQ(AudioNormalizer::formatKey(AudioFormat::integerFormat(44100, 2, 16)), "44100.0/2/12/16");
    AudioFormat odd = AudioFormat::floatFormat(44100.5, 2);
    EXPECT_EQ(AudioNormalizer::formatKey(odd), "44100.5/2/9/32");
}

TEST(AudioNormalizer, MonoSineAt44k1BecomesStereoSineAt48kWithSameFrequencyAndLevel)
{
    AudioNormalizer n;
    Collected out;
    const double amp = 0.5;
    const size_t chunk = 441;
    for (int64_t k = 0; k < 200; ++k) // 2 s
        out.add(n.convert(monoS16(sineS16(chunk, k * chunk, 44100, 1000, amp), at(k * chunk, 44100))));
    ASSERT_GT(out.frames(), 95000u);
    for (const auto& b : out.buffers)
        expectOutputFormat(b);

    // Both channels carry the mono signal at full level (not -3 dB each).
    for (size_t i = 0; i < out.frames(); ++i)
        ASSERT_EQ(out.samples[2 * i], out.samples[2 * i + 1]) << i;
    for (size_t ch : {0u, 1u}) {
        const auto fit = fitTone(out.samples, ch, 4800, 48000, 1000);
        EXPECT_NEAR(fit.amplitude, amp, 0.002);
        EXPECT_LT(fit.residual, 0.002); // nothing but a clean 1 kHz tone
    }
    // A neighbouring frequency is absent: the rate really changed by 48000/44100.
    EXPECT_LT(fitTone(out.samples, 0, 4800, 48000, 1088.4).amplitude, 0.01);
}

TEST(AudioNormalizer, FirstOutputKeepsItsInputTimeAndAlignment)
{
    AudioNormalizer n;
    std::vector<int16_t> s(4410, 0);
    s[100] = 16384;
    const auto out = n.convert(monoS16(s, at(0, 44100)));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].presentationTime(), at(0, 44100));
    // The resampler holds back a few frames but does not shift the audio.
    EXPECT_GE(out[0].frameCount(), 4800u - 32);
    EXPECT_LE(out[0].frameCount(), 4800u);
    const auto v = samplesOf(out[0]);
    size_t peak = 0;
    for (size_t i = 0; i < out[0].frameCount(); ++i)
        if (std::fabs(v[2 * i]) > std::fabs(v[2 * peak]))
            peak = i;
    EXPECT_NEAR(double(peak), 100 * 48000.0 / 44100.0, 1.0);
}

TEST(AudioNormalizer, SampleCountStaysContinuousOverManyIrregularBuffers)
{
    AudioNormalizer n;
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> size(380, 520);
    int64_t in = 0;
    int64_t outFrames = 0;
    for (int k = 0; k < 20000; ++k) { // about 200 s
        const size_t frames = size_t(size(rng));
        const MediaTime pts = at(in, 44100);
        const auto out = n.convert(monoS16(sineS16(frames, in, 44100, 440, 0.3), pts));
        // One buffer out per buffer in, stamped with its input's time: no flushes.
        ASSERT_EQ(out.size(), 1u) << k;
        ASSERT_EQ(out[0].presentationTime(), pts);
        in += int64_t(frames);
        outFrames += int64_t(out[0].frameCount());
        // Never more than the resampler's few held-back frames behind the ideal count.
        const int64_t ideal = in * 48000 / 44100;
        ASSERT_LE(outFrames, ideal + 1) << k;
        ASSERT_GE(outFrames, ideal - 32) << k;
    }
}

TEST(AudioNormalizer, PlanarInputKeepsItsChannelsApart)
{
    AudioNormalizer n;
    // 48 kHz float planar: no resampling, so the samples come through exactly.
    std::vector<float> left(480), right(480);
    for (size_t i = 0; i < 480; ++i) {
        left[i] = float(i) / 1000.0f;
        right[i] = -float(i) / 2000.0f;
    }
    const auto out = n.convert(rawBuffer(AudioFormat::floatFormat(48000, 2, false), 480, at(0, 48000), {bytesOf(left), bytesOf(right)}));
    ASSERT_EQ(out.size(), 1u);
    expectOutputFormat(out[0]);
    ASSERT_EQ(out[0].frameCount(), 480u);
    const auto v = samplesOf(out[0]);
    for (size_t i = 0; i < 480; ++i) {
        ASSERT_FLOAT_EQ(v[2 * i], left[i]);
        ASSERT_FLOAT_EQ(v[2 * i + 1], right[i]);
    }
}

TEST(AudioNormalizer, PlanarInt16At44k1ResamplesEachChannel)
{
    AudioNormalizer n;
    Collected out;
    for (int64_t k = 0; k < 100; ++k) {
        const auto l = sineS16(441, k * 441, 44100, 500, 0.4);
        const auto r = sineS16(441, k * 441, 44100, 2000, 0.2);
        out.add(n.convert(rawBuffer(AudioFormat::integerFormat(44100, 2, 16, false), 441, at(k * 441, 44100), {bytesOf(l), bytesOf(r)})));
    }
    EXPECT_NEAR(fitTone(out.samples, 0, 4800, 38400, 500).amplitude, 0.4, 0.002);
    EXPECT_LT(fitTone(out.samples, 0, 4800, 38400, 2000).amplitude, 0.002);
    EXPECT_NEAR(fitTone(out.samples, 1, 4800, 38400, 2000).amplitude, 0.2, 0.002);
    EXPECT_LT(fitTone(out.samples, 1, 4800, 38400, 500).amplitude, 0.002);
}

TEST(AudioNormalizer, EverySampleEncodingGivesTheSameSignal)
{
    // Values on the 16-bit grid are exact in every encoding.
    std::vector<int16_t> ref(480);
    for (size_t i = 0; i < ref.size(); ++i)
        ref[i] = int16_t((int(i) * 977) % 65536 - 32768);
    const size_t n = ref.size();
    auto expected = [&](size_t i) { return float(ref[i]) / 32768.0f; };

    std::vector<int32_t> s32(n), s24low(n);
    std::vector<float> f32(n);
    std::vector<double> f64(n);
    std::vector<std::byte> s24(3 * n), s16be(2 * n), f32be(4 * n);
    for (size_t i = 0; i < n; ++i) {
        s32[i] = int32_t(ref[i]) * 65536;
        s24low[i] = int32_t(ref[i]) * 256;
        f32[i] = expected(i);
        f64[i] = double(expected(i));
        const uint32_t v24 = uint32_t(int32_t(ref[i]) * 256);
        for (int b = 0; b < 3; ++b)
            s24[3 * i + b] = std::byte((v24 >> (8 * b)) & 0xff);
        s16be[2 * i] = std::byte((uint16_t(ref[i]) >> 8) & 0xff);
        s16be[2 * i + 1] = std::byte(uint16_t(ref[i]) & 0xff);
        uint32_t fb;
        std::memcpy(&fb, &f32[i], 4);
        for (int b = 0; b < 4; ++b)
            f32be[4 * i + b] = std::byte((fb >> (24 - 8 * b)) & 0xff);
    }
    AudioFormat s24in32 = AudioFormat::integerFormat(48000, 1, 24);
    s24in32.bytesPerFrame = 4;
    s24in32.formatFlags &= ~uint32_t(AudioFormat::IsPacked);
    AudioFormat be16 = AudioFormat::integerFormat(48000, 1, 16);
    be16.formatFlags |= AudioFormat::IsBigEndian;
    AudioFormat beF = AudioFormat::floatFormat(48000, 1);
    beF.formatFlags |= AudioFormat::IsBigEndian;

    const std::vector<std::pair<const char*, SampleBuffer>> inputs = {
        {"s16", rawBuffer(AudioFormat::integerFormat(48000, 1, 16), n, t0, {bytesOf(ref)})},
        {"s24 packed", rawBuffer(AudioFormat::integerFormat(48000, 1, 24), n, t0, {s24})},
        {"s24 in 32", rawBuffer(s24in32, n, t0, {bytesOf(s24low)})},
        {"s32", rawBuffer(AudioFormat::integerFormat(48000, 1, 32), n, t0, {bytesOf(s32)})},
        {"f32", rawBuffer(AudioFormat::floatFormat(48000, 1), n, t0, {bytesOf(f32)})},
        {"f64", rawBuffer(AudioFormat::floatFormat(48000, 1, true, 64), n, t0, {bytesOf(f64)})},
        {"s16 big-endian", rawBuffer(be16, n, t0, {s16be})},
        {"f32 big-endian", rawBuffer(beF, n, t0, {f32be})},
    };
    for (const auto& [name, input] : inputs) {
        AudioNormalizer norm;
        const auto out = norm.convert(input);
        ASSERT_EQ(out.size(), 1u) << name << ": " << norm.lastError();
        ASSERT_EQ(out[0].frameCount(), n) << name;
        const auto v = samplesOf(out[0]);
        for (size_t i = 0; i < n; ++i) {
            ASSERT_NEAR(v[2 * i], expected(i), 1e-6) << name << " frame " << i;
            ASSERT_EQ(v[2 * i], v[2 * i + 1]) << name;
        }
    }
}

TEST(AudioNormalizer, MoreThanTwoChannelsAreFoldedDownToStereo)
{
    AudioNormalizer n;
    // 5.1 interleaved (FL FR FC LFE BL BR): a signal in front left only.
    std::vector<float> s(6 * 480, 0.0f);
    for (size_t i = 0; i < 480; ++i)
        s[6 * i] = 0.5f;
    const auto out = n.convert(floatBuffer(s, 6, t0));
    ASSERT_EQ(out.size(), 1u) << n.lastError();
    const auto v = samplesOf(out[0]);
    EXPECT_NEAR(v[2 * 200], 0.5f, 0.2f);
    EXPECT_FLOAT_EQ(v[2 * 200 + 1], 0.0f);
}

TEST(AudioNormalizer, UnusableInputGivesAClearErrorAndNothingElse)
{
    AudioNormalizer n;
    SampleBuffer noFormat;
    EXPECT_TRUE(n.convert(noFormat).empty());
    EXPECT_EQ(n.lastError(), "Audio buffer has no audio format");

    EXPECT_TRUE(n.convert(monoS16({}, t0)).empty());
    EXPECT_EQ(n.lastError(), "Audio buffer has no samples");

    // Rate 0 has no meaning: refused rather than converted at a made-up ratio.
    const auto zeroRate = rawBuffer(AudioFormat::integerFormat(0, 1, 16), 64, t0, {std::vector<std::byte>(128)});
    EXPECT_TRUE(n.convert(zeroRate).empty());
    EXPECT_EQ(n.lastError(), "Unsupported audio sample rate: 0.0/1/12/16");

    const auto odd = rawBuffer(AudioFormat::integerFormat(48000, 1, 12), 64, t0, {std::vector<std::byte>(128)});
    EXPECT_TRUE(n.convert(odd).empty());
    EXPECT_EQ(n.lastError(), "Unsupported audio sample format: 12-bit integer in 2 bytes");

    // A buffer claiming more frames than it holds is not read past its end.
    const auto shortBuffer = rawBuffer(AudioFormat::integerFormat(48000, 2, 16), 480, t0, {std::vector<std::byte>(100)});
    EXPECT_TRUE(n.convert(shortBuffer).empty());
    EXPECT_EQ(n.lastError(), "Audio buffer holds fewer bytes than its 480 frames need");

    const auto onePlane = rawBuffer(AudioFormat::floatFormat(48000, 2, false), 480, t0, {std::vector<std::byte>(1920)});
    EXPECT_TRUE(n.convert(onePlane).empty());
    EXPECT_EQ(n.lastError(), "Audio buffer has 1 sample buffers, its format needs 2");

    auto untimed = floatBuffer(std::vector<float>(960, 0.1f), 2, t0);
    untimed.setTiming({});
    EXPECT_TRUE(n.convert(untimed).empty());
    EXPECT_EQ(n.lastError(), "Audio buffer has no presentation time");

    EXPECT_EQ(n.inKey(), ""); // no converter was made for any of them

    const auto good = n.convert(floatBuffer(std::vector<float>(960, 0.1f), 2, t0));
    ASSERT_EQ(good.size(), 1u);
    EXPECT_EQ(n.lastError(), "");
    EXPECT_EQ(n.inKey(), "48000.0/2/9/32");
}

TEST(AudioNormalizer, FormatChangeFlushesTheOldConverterBeforeTheNewAudio)
{
    AudioNormalizer n;
    int64_t in = 0;
    int64_t outFrames = 0;
    MediaTime end;
    for (int k = 0; k < 10; ++k) {
        const auto out = n.convert(monoS16(sineS16(441, in, 44100, 440, 0.5), at(in, 44100)));
        ASSERT_EQ(out.size(), 1u);
        outFrames += int64_t(out[0].frameCount());
        end = out[0].presentationTime() + MediaTime(int64_t(out[0].frameCount()), 48000);
        in += 441;
    }
    const std::string oldKey = n.inKey();
    EXPECT_EQ(oldKey, "44100.0/1/12/16");
    EXPECT_LT(outFrames, 4800); // some frames still held back

    // Another device at 48 kHz stereo float.
    const MediaTime next = at(in, 44100);
    const auto out = n.convert(floatBuffer(std::vector<float>(2 * 480, 0.25f), 2, next));
    EXPECT_EQ(n.inKey(), "48000.0/2/9/32");
    ASSERT_EQ(out.size(), 2u);
    // The held-back tail comes first, right behind what the old converter gave out...
    EXPECT_EQ(out[0].presentationTime(), end);
    EXPECT_EQ(outFrames + int64_t(out[0].frameCount()), 4800); // nothing lost
    EXPECT_GT(std::fabs(samplesOf(out[0])[0]), 0.01f);        // still the old tone
    // ...then the new device's audio at its own time.
    EXPECT_EQ(out[1].presentationTime(), next);
    EXPECT_EQ(out[1].frameCount(), 480u);
    EXPECT_FLOAT_EQ(samplesOf(out[1])[0], 0.25f);
}

TEST(AudioNormalizer, HoleInTheInputNeverCarriesAudioAcrossIt)
{
    AudioNormalizer n;
    int64_t outFrames = 0;
    MediaTime end;
    for (int64_t k = 0; k < 20; ++k) {
        for (const auto& b : n.convert(monoS16(sineS16(441, k * 441, 44100, 440, 0.5), at(k * 441, 44100)))) {
            outFrames += int64_t(b.frameCount());
            end = b.presentationTime() + MediaTime(int64_t(b.frameCount()), 48000);
        }
    }
    // 500 ms later, a click at the first frame.
    const int64_t resumeAt = 20 * 441 + 22050;
    std::vector<int16_t> click(441, 0);
    click[0] = 16384;
    const auto out = n.convert(monoS16(click, at(resumeAt, 44100)));
    ASSERT_EQ(out.size(), 2u);
    // The audio before the hole is finished where it belongs, complete.
    EXPECT_EQ(out[0].presentationTime(), end);
    EXPECT_EQ(outFrames + int64_t(out[0].frameCount()), 9600);
    // After the hole the resampler starts afresh: the click is the first frame,
    // with nothing of the earlier tone in front of it.
    EXPECT_EQ(out[1].presentationTime(), at(resumeAt, 44100));
    const auto v = samplesOf(out[1]);
    EXPECT_NEAR(v[0], 0.5f, 0.01f);
    for (size_t i = 40; i < out[1].frameCount(); ++i)
        ASSERT_NEAR(v[2 * i], 0.0f, 1e-3f) << i;
}

TEST(AudioNormalizer, TimestampJitterIsNotMistakenForAHole)
{
    AudioNormalizer n;
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> jitterUs(-2000, 2000);
    int64_t outFrames = 0;
    for (int64_t k = 0; k < 2000; ++k) {
        const MediaTime pts = at(k * 441, 44100) + MediaTime(jitterUs(rng), 1000000);
        const auto out = n.convert(monoS16(sineS16(441, k * 441, 44100, 440, 0.5), pts));
        ASSERT_EQ(out.size(), 1u) << k;
        EXPECT_EQ(out[0].presentationTime(), pts);
        outFrames += int64_t(out[0].frameCount());
    }
    EXPECT_NEAR(double(outFrames), 2000 * 480.0, 32);
}

TEST(AudioNormalizer, ResetStartsAfresh)
{
    AudioNormalizer n;
    for (int64_t k = 0; k < 3; ++k)
        ASSERT_EQ(n.convert(monoS16(sineS16(441, k * 441, 44100, 440, 0.5), at(k * 441, 44100))).size(), 1u);
    n.reset();
    EXPECT_EQ(n.inKey(), "");
    // Nothing of the old stream comes out, though its time continues seamlessly.
    std::vector<int16_t> click(441, 0);
    click[0] = 16384;
    const auto out = n.convert(monoS16(click, at(3 * 441, 44100)));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_NEAR(samplesOf(out[0])[0], 0.5f, 0.01f);
    EXPECT_LT(out[0].frameCount(), 480u); // a fresh resampler holds its first frames back
}
