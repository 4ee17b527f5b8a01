#include "engine/AudioTimelineMixer.h"

#include "capture/AudioNormalizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <numbers>
#include <random>

using namespace corvessa;
using Source = AudioTimelineMixer::Source;

namespace {

const MediaTime origin(123456LL * 1000000000, 1000000000);

MediaTime frameTime(int64_t frame)
{
    return origin + MediaTime(frame, 48000);
}

RecordingTimeline timeline()
{
    RecordingTimeline t;
    t.origin = origin;
    return t;
}

// A mixer-format buffer of `n` frames that would sit at output frame `at`;
// frame i holds value(i) on the left and -value(i) on the right.
SampleBuffer tone(int64_t at, size_t n, const std::function<float(size_t)>& value)
{
    SampleBuffer b = SampleBuffer::audio(AudioNormalizer::outputFormat(), n, frameTime(at));
    float* d = b.floatData();
    for (size_t i = 0; i < n; ++i) {
        d[2 * i] = value(i);
        d[2 * i + 1] = -value(i);
    }
    return b;
}

SampleBuffer constant(int64_t at, size_t n, float v)
{
    return tone(at, n, [v](size_t) { return v; });
}

// Left channel of everything the mixer hands out up to `until`, committing as it goes.
std::vector<float> drain(AudioTimelineMixer& m, int64_t until, bool final = true)
{
    std::vector<float> left;
    while (auto chunk = m.sample(until, origin, final)) {
        const float* d = chunk->floatData();
        for (size_t i = 0; i < chunk->frameCount(); ++i)
            left.push_back(d[2 * i]);
        m.commit(int64_t(chunk->frameCount()));
    }
    return left;
}

// Left value of output frame `frame` without draining.
float peek(const AudioTimelineMixer& m, int64_t frame)
{
    AudioTimelineMixer copy = m.snapshot();
    if (frame > copy.cursor())
        copy.commit(frame - copy.cursor());
    const auto chunk = copy.sample(frame + 1, origin, true);
    return chunk ? chunk->floatData()[0] : std::numeric_limits<float>::quiet_NaN();
}

} // namespace

TEST(AudioTimelineMixer, OutputFrameIsExactAndNeverNegative)
{
    EXPECT_EQ(AudioTimelineMixer::outputFrame(origin, origin), 0);
    EXPECT_EQ(AudioTimelineMixer::outputFrame(origin + MediaTime(3600, 1), origin), 3600LL * 48000);
    EXPECT_EQ(AudioTimelineMixer::outputFrame(origin + MediaTime(10416, 1000000000), origin), 0);  // 0.49999 frame
    EXPECT_EQ(AudioTimelineMixer::outputFrame(origin + MediaTime(10417, 1000000000), origin), 1);  // 0.50002 frame
    EXPECT_EQ(AudioTimelineMixer::outputFrame(origin - MediaTime(1, 1), origin), 0);
    EXPECT_EQ(AudioTimelineMixer::outputFrame(MediaTime(), origin), 0);
}

TEST(AudioTimelineMixer, GluesJitterBridgesShortHolesAndLeavesLongOnesSilent)
{
    AudioTimelineMixer m;
    const auto tl = timeline();
    ASSERT_TRUE(m.place(constant(1000, 480, 0.1f), Source::microphone, tl));
    EXPECT_EQ(m.lastEnd(Source::microphone), 1480);

    // 100 frames late: jitter, glued straight on.
    m.place(constant(1580, 480, 0.2f), Source::microphone, tl);
    EXPECT_EQ(m.resyncs(), 0);
    EXPECT_EQ(m.lastEnd(Source::microphone), 1960);
    EXPECT_FLOAT_EQ(peek(m, 1479), 0.1f);
    EXPECT_FLOAT_EQ(peek(m, 1480), 0.2f);

    // 500 frames late: placed at its own time, the hole ramped from 0.2 to 0.5.
    m.place(constant(2460, 480, 0.5f), Source::microphone, tl);
    EXPECT_EQ(m.resyncs(), 1);
    EXPECT_EQ(m.lastEnd(Source::microphone), 2940);
    for (int k = 1; k <= 500; k += 83)
        EXPECT_FLOAT_EQ(peek(m, 1960 + k - 1), 0.2f + (0.5f - 0.2f) * (float(k) / 501.0f)) << k;
    EXPECT_FLOAT_EQ(peek(m, 2460), 0.5f);

    // 2000 frames late: a real hole, left silent.
    m.place(constant(4940, 480, 0.3f), Source::microphone, tl);
    EXPECT_EQ(m.resyncs(), 2);
    const auto out = drain(m, 6000);
    ASSERT_EQ(out.size(), 6000u);
    for (int64_t f = 0; f < 1000; ++f)
        ASSERT_EQ(out[f], 0.0f) << f;
    for (int64_t f = 2940; f < 4940; ++f)
        ASSERT_EQ(out[f], 0.0f) << f;
    EXPECT_FLOAT_EQ(out[4940], 0.3f);
    EXPECT_FLOAT_EQ(out[5419], 0.3f);
    EXPECT_EQ(out[5420], 0.0f);
}

TEST(AudioTimelineMixer, GlueNeverDropsAudioThatArrivedInTime)
{
    // The buffer before a pause is stamped 50 frames late (jitter), so its run is cut
    // 50 frames short of the pause. While paused the output reaches the cut; the
    // first buffer after the resume belongs right there and must not be glued
    // behind it and thrown away.
    AudioTimelineMixer m;
    auto tl = timeline();
    tl.pause(frameTime(4800));
    tl.resume(frameTime(4800 + 48000));
    for (int64_t f = 0; f < 4800; f += 480)
        m.place(constant(f + (f == 4320 ? 50 : 0), 480, 0.5f), Source::microphone, tl);
    EXPECT_EQ(m.lastEnd(Source::microphone), 4750);
    EXPECT_EQ(drain(m, 4800).size(), 4800u);
    m.place(constant(4800 + 48000, 480, 0.25f), Source::microphone, tl);
    EXPECT_EQ(m.discarded(), 0);
    EXPECT_EQ(m.resyncs(), 0);
    EXPECT_EQ(m.lastEnd(Source::microphone), 5280);
    const auto out = drain(m, 5280);
    EXPECT_FLOAT_EQ(out[0], 0.25f);
    EXPECT_FLOAT_EQ(out[479], 0.25f);
}

TEST(AudioTimelineMixer, EarlyRunKeepsTheAudioAlreadyThere)
{
    AudioTimelineMixer m;
    const auto tl = timeline();
    m.place(constant(0, 960, 0.1f), Source::system, tl);
    m.place(constant(660, 480, 0.7f), Source::system, tl); // 300 frames before the end
    EXPECT_EQ(m.resyncs(), 1);
    EXPECT_EQ(m.overlap(), 300);
    EXPECT_EQ(m.lastEnd(Source::system), 1140);
    const auto out = drain(m, 1140);
    EXPECT_FLOAT_EQ(out[959], 0.1f);
    EXPECT_FLOAT_EQ(out[960], 0.7f);
}

TEST(AudioTimelineMixer, DropsWhatIsBehindTheCursorOrTooFarAhead)
{
    AudioTimelineMixer m;
    const auto tl = timeline();
    m.place(constant(0, 480, 0.1f), Source::microphone, tl);
    drain(m, 480);
    EXPECT_EQ(m.cursor(), 480);
    // Block 0 is gone; a late buffer for it is counted, not mixed.
    m.place(constant(0, 480, 0.9f), Source::system, tl);
    EXPECT_EQ(m.discarded(), 480);
    // Partly late: the frames behind the cursor go, the rest is mixed.
    m.place(constant(100, 480, 0.9f), Source::system, tl);
    EXPECT_EQ(m.discarded(), 860);
    EXPECT_FLOAT_EQ(peek(m, 579), 0.9f);

    // A second or more ahead of the cursor is refused whole.
    m.place(constant(480 + 48000, 480, 0.5f), Source::microphone, tl);
    EXPECT_EQ(m.discarded(), 1340);
    // Straddling the edge: the part inside the window stays.
    AudioTimelineMixer edge;
    edge.place(constant(48000 - 100, 480, 0.5f), Source::microphone, tl);
    EXPECT_EQ(edge.discarded(), 380);
    EXPECT_FLOAT_EQ(peek(edge, 47999), 0.5f);
}

TEST(AudioTimelineMixer, CommitForgetsWhatLiesBehindTheCursor)
{
    // The frame before a short hole is what a bridge starts from; once it has been
    // handed out and committed it is gone, so the hole stays silent.
    AudioTimelineMixer m;
    const auto tl = timeline();
    m.place(constant(0, 480, 0.4f), Source::microphone, tl);
    m.place(constant(0, 480, 0.4f), Source::system, tl);
    drain(m, 480);
    m.place(constant(980, 480, 0.2f), Source::microphone, tl);
    EXPECT_EQ(m.resyncs(), 1);
    const auto out = drain(m, 1460);
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(out[499], 0.0f);
    EXPECT_FLOAT_EQ(out[500], 0.2f);

    // The same hole while the frame before it is still held is ramped.
    AudioTimelineMixer held;
    held.place(constant(0, 480, 0.4f), Source::microphone, tl);
    held.place(constant(980, 480, 0.2f), Source::microphone, tl);
    EXPECT_GT(peek(held, 480), 0.39f);
}

TEST(AudioTimelineMixer, HandsOutFullBlocksAndTheRestOnlyAtTheEnd)
{
    AudioTimelineMixer m;
    EXPECT_FALSE(m.sample(479, origin, false));
    const auto last = m.sample(479, origin, true);
    ASSERT_TRUE(last);
    EXPECT_EQ(last->frameCount(), 479u);
    const auto full = m.sample(1000, origin, false);
    ASSERT_TRUE(full);
    EXPECT_EQ(full->frameCount(), 480u);
    EXPECT_EQ(*full->audioFormat(), AudioNormalizer::outputFormat());
    EXPECT_FALSE(m.sample(0, origin, true));
    EXPECT_FALSE(m.sample(1000, MediaTime(), false));

    // Chunks are stamped origin + cursor / 48000, and sample does not advance.
    m.commit(480);
    m.commit(37);
    const auto next = m.sample(2000, origin, false);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->presentationTime(), frameTime(517));
    EXPECT_EQ(m.cursor(), 517);
    m.commit(-5);
    EXPECT_EQ(m.cursor(), 517);
}

TEST(AudioTimelineMixer, MixesSourcesWithASoftKnee)
{
    AudioTimelineMixer m;
    const auto tl = timeline();
    m.place(constant(0, 480, 0.6f), Source::system, tl);
    m.place(constant(0, 240, 0.6f), Source::microphone, tl);
    m.place(constant(3000, 480, 5.0f), Source::system, tl);
    m.place(constant(3000, 480, -5.0f), Source::microphone, tl);
    m.place(constant(3000, 480, -5.0f), Source::microphone, tl); // same slots: dropped
    m.place(constant(3480, 480, 0.5f), Source::system, tl);
    m.place(constant(3480, 480, 0.7f), Source::microphone, tl);
    const auto out = drain(m, 3960);
    EXPECT_NEAR(out[0], 0.95f + 0.05f * std::tanh(5.0f), 1e-6);
    EXPECT_NEAR(out[0], 0.999995f, 1e-6);
    EXPECT_FLOAT_EQ(out[300], 0.6f);
    EXPECT_EQ(out[700], 0.0f);
    EXPECT_EQ(out[3100], 0.0f);
    EXPECT_EQ(m.overlap(), 480);
    EXPECT_NEAR(out[3600], 0.999995f, 1e-6);
    // Far beyond full scale still stays within it, on either side.
    AudioTimelineMixer loud;
    loud.place(constant(0, 480, -3.0f), Source::system, tl);
    loud.place(constant(0, 480, -3.0f), Source::microphone, tl);
    const auto negative = drain(loud, 480);
    EXPECT_FLOAT_EQ(negative[0], -1.0f);
}

TEST(AudioTimelineMixer, NonFiniteSamplesBecomeSilence)
{
    // One bad float from a device must not poison the whole chunk for the encoder.
    AudioTimelineMixer m;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    m.place(tone(0, 480, [&](size_t i) { return i == 10 ? nan : i == 11 ? inf : 0.25f; }), Source::system, timeline());
    m.place(constant(0, 480, 0.25f), Source::microphone, timeline());
    const auto chunk = m.sample(480, origin, false);
    ASSERT_TRUE(chunk);
    const float* d = chunk->floatData();
    for (size_t i = 0; i < 960; ++i)
        ASSERT_TRUE(std::isfinite(d[i])) << i;
    EXPECT_FLOAT_EQ(d[20], 0.25f);
    EXPECT_FLOAT_EQ(d[22], 0.25f);
    EXPECT_FLOAT_EQ(d[24], 0.5f);
}

TEST(AudioTimelineMixer, RefusesBuffersNotInItsFormat)
{
    AudioTimelineMixer m;
    const auto tl = timeline();
    auto mono = SampleBuffer::audio(AudioFormat::floatFormat(48000, 1), 480, origin);
    EXPECT_FALSE(m.place(mono, Source::system, tl));
    auto s16 = SampleBuffer::audio(AudioFormat::integerFormat(48000, 2, 16), 480, origin);
    EXPECT_FALSE(m.place(s16, Source::system, tl));
    auto shortData = constant(0, 480, 0.5f);
    shortData.setFrameCount(481);
    EXPECT_FALSE(m.place(shortData, Source::system, tl));
    auto untimed = constant(0, 480, 0.5f);
    untimed.setTiming({});
    EXPECT_FALSE(m.place(untimed, Source::system, tl));
    EXPECT_FALSE(m.lastEnd(Source::system));
    EXPECT_EQ(drain(m, 480), std::vector<float>(480, 0.0f));
}

TEST(AudioTimelineMixer, SnapshotMixesTheSameWithFreshCounters)
{
    AudioTimelineMixer m;
    const auto tl = timeline();
    m.place(tone(0, 2000, [](size_t i) { return float(i) / 4000.0f; }), Source::microphone, tl);
    m.place(constant(100, 480, 0.5f), Source::microphone, tl); // overlap
    m.place(constant(5000, 480, 0.2f), Source::microphone, tl);
    drain(m, 960, false);
    ASSERT_GT(m.overlap(), 0);
    ASSERT_GT(m.resyncs(), 0);

    AudioTimelineMixer copy = m.snapshot();
    EXPECT_EQ(copy.cursor(), m.cursor());
    EXPECT_EQ(copy.lastEnd(Source::microphone), m.lastEnd(Source::microphone));
    EXPECT_EQ(copy.discarded(), 0);
    EXPECT_EQ(copy.overlap(), 0);
    EXPECT_EQ(copy.resyncs(), 0);
    EXPECT_EQ(drain(copy, 6000), drain(m, 6000));

    m.reset();
    EXPECT_EQ(m.cursor(), 0);
    EXPECT_EQ(m.overlap(), 0);
    EXPECT_FALSE(m.lastEnd(Source::microphone));
}

TEST(AudioTimelineMixer, PausedAudioIsCutAndTheRestJoinsSeamlessly)
{
    AudioTimelineMixer m;
    auto tl = timeline();
    // A counting signal: frame f of capture carries f, so joins are visible.
    auto counting = [](int64_t at, size_t n) { return tone(at, n, [at](size_t i) { return float(at + int64_t(i)) / 1e6f; }); };
    tl.pause(frameTime(4800 + 100));
    tl.resume(frameTime(4800 + 100 + 48000));
    for (int64_t f = 0; f < 4800 * 12; f += 480)
        ASSERT_TRUE(m.place(counting(f, 480), Source::system, tl));
    const auto out = drain(m, 4800 * 12 - 48000);
    ASSERT_EQ(out.size(), size_t(4800 * 12 - 48000));
    EXPECT_EQ(m.resyncs(), 0);
    EXPECT_EQ(m.overlap(), 0);
    for (int64_t f = 0; f < 4900; ++f)
        ASSERT_FLOAT_EQ(out[f], float(f) / 1e6f) << f;
    // Right after the cut comes the audio captured at the resume.
    for (int64_t f = 4900; f < int64_t(out.size()); ++f)
        ASSERT_FLOAT_EQ(out[f], float(f + 48000) / 1e6f) << f;
}

TEST(AudioTimelineMixer, JitteredMicrophoneThroughTheNormaliserStaysInPlace)
{
    // Ten minutes of 44.1 kHz microphone in irregular buffers with +-2 ms timestamp
    // jitter, with a click every 10 s: each click must come out where its capture
    // time says, to within the jitter, and the error must not grow.
    AudioNormalizer norm;
    AudioTimelineMixer m;
    const auto tl = timeline();
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> size(400, 480);
    std::uniform_int_distribution<int> jitter(-2000, 2000);
    const int64_t total = 44100LL * 600;
    std::vector<int64_t> clickAt; // output frames of detected clicks
    std::vector<float> clickPeak;
    int64_t in = 0;
    int64_t out = 0;
    while (in < total) {
        const int64_t n = size(rng);
        SampleBuffer b = SampleBuffer::audio(AudioFormat::integerFormat(44100, 1, 16), size_t(n), origin + MediaTime(in, 44100) + MediaTime(jitter(rng), 1000000));
        auto* s = reinterpret_cast<int16_t*>(b.audioBuffers()->buffers[0].data());
        for (int64_t i = 0; i < n; ++i)
            s[i] = (in + i) % 441000 == 22050 ? 24000 : 0;
        for (const auto& c : norm.convert(b))
            ASSERT_TRUE(m.place(c, Source::microphone, tl));
        in += n;
        while (auto chunk = m.sample(AudioTimelineMixer::outputFrame(origin + MediaTime(in, 44100), origin) - 16800, origin, false)) {
            const float* d = chunk->floatData();
            for (size_t i = 0; i < chunk->frameCount(); ++i) {
                const int64_t f = out + int64_t(i);
                if (d[2 * i] < 0.3f)
                    continue;
                if (clickAt.empty() || f - clickAt.back() > 1000) {
                    clickAt.push_back(f);
                    clickPeak.push_back(d[2 * i]);
                } else if (d[2 * i] > clickPeak.back()) {
                    clickAt.back() = f;
                    clickPeak.back() = d[2 * i];
                }
            }
            out += int64_t(chunk->frameCount());
            m.commit(int64_t(chunk->frameCount()));
        }
    }
    ASSERT_GE(clickAt.size(), 59u);
    // The first buffer's jitter sets where the track starts; from there the sample
    // count carries it, so every click is off by that same amount.
    const int64_t offset = clickAt[0] - 24000;
    EXPECT_LE(std::abs(offset), 96 + 1);
    for (size_t k = 0; k < clickAt.size(); ++k)
        ASSERT_NEAR(double(clickAt[k] - (int64_t(k) * 480000 + 24000)), double(offset), 1.0) << "click " << k;
    EXPECT_EQ(m.discarded(), 0);
    EXPECT_EQ(m.resyncs(), 0);
    EXPECT_EQ(m.overlap(), 0);
}

namespace {

// The engine's drain on a virtual clock: every 10 ms of capture each source
// sends a 480-frame buffer stamped with its capture time, and the buffer
// reaches the mixer when `arrival` says; then the drain aims 0.35 s behind
// now. The microphone alternates 0.125 and 0.25 every block, system audio is a
// steady 0.0625, so every output frame tells which sources landed there.
struct DrainRun {
    std::function<int64_t(int64_t)> micArrival; // capture frame -> arrival frame; -1: never captured
    int64_t seconds = 60;
    std::vector<float> out;
    int64_t worstLagAfter = 0; // the largest target - cursor after `calmFrom`
    int64_t calmFrom = std::numeric_limits<int64_t>::max();

    static float mic(int64_t f) { return (f / 480) % 2 ? 0.25f : 0.125f; }
    static constexpr float sys = 0.0625f;

    void run(AudioTimelineMixer& m)
    {
        const auto tl = timeline();
        std::multimap<int64_t, std::pair<Source, int64_t>> pending; // arrival -> (source, capture frame)
        const int64_t end = seconds * 48000;
        for (int64_t now = 480; now <= end; now += 480) {
            const int64_t captured = now - 480;
            if (const int64_t at = micArrival(captured); at >= 0)
                pending.emplace(std::max(at, now), std::pair{Source::microphone, captured});
            pending.emplace(now + 960, std::pair{Source::system, captured});
            while (!pending.empty() && pending.begin()->first <= now) {
                const auto [source, at] = pending.begin()->second;
                pending.erase(pending.begin());
                m.place(source == Source::microphone ? tone(at, 480, [at](size_t i) { return mic(at + int64_t(i)); })
                                                     : constant(at, 480, sys),
                        source, tl);
            }
            const int64_t target = std::max<int64_t>(0, now - 16800);
            const int64_t until = m.due(target);
            for (float v : drain(m, until, false))
                out.push_back(v);
            if (now >= calmFrom)
                worstLagAfter = std::max(worstLagAfter, target - m.cursor());
        }
    }
};

} // namespace

TEST(AudioTimelineMixer, SoundThatReachesTheMixerLateUnderLoadIsKeptInItsPlace)
{
    // Between 10 s and 30 s the engine is stalled: the microphone's buffers come
    // in bursts, up to 8 s after they were captured, each still contiguous with
    // the one before. Nothing is dropped, every frame lands at its capture time
    // beside the punctual system audio, and once the load is gone the mix is
    // back to its usual lag.
    DrainRun r;
    const int64_t s = 48000;
    r.micArrival = [s](int64_t f) {
        if (f < 10 * s || f >= 30 * s)
            return f + 960;
        return f < 18 * s ? 18 * s : f < 22 * s ? 22 * s : 30 * s + 480; // stalls of 8, 4 and 8 s
    };
    r.calmFrom = 32 * s;
    AudioTimelineMixer m;
    r.run(m);
    EXPECT_EQ(m.discarded(), 0);
    EXPECT_EQ(m.overlap(), 0);
    ASSERT_GE(r.out.size(), size_t(59 * s));
    for (size_t f = 0; f < r.out.size(); ++f)
        ASSERT_EQ(r.out[f], DrainRun::mic(int64_t(f)) + DrainRun::sys) << "frame " << f;
    EXPECT_LE(r.worstLagAfter, 480) << "the mix catches up once the load ends";
}

TEST(AudioTimelineMixer, ATrueGapStaysSilentAndASourceThatStopsIsNotWaitedForLong)
{
    const int64_t s = 48000;
    // The microphone captures nothing between 20 s and 23 s (a real gap in its
    // stamps), and stops for good at 40 s.
    DrainRun r;
    r.seconds = 90;
    r.micArrival = [s](int64_t f) { return (f >= 20 * s && f < 23 * s) || f >= 40 * s ? -1 : f + 960; };
    r.calmFrom = 40 * s + 16800 + AudioTimelineMixer::waitFrames + 960;
    AudioTimelineMixer m;
    r.run(m);
    EXPECT_EQ(m.discarded(), 0);
    ASSERT_GE(r.out.size(), size_t(89 * s));
    for (size_t f = 0; f < r.out.size(); ++f) {
        const bool heard = (f < size_t(20 * s)) || (f >= size_t(23 * s) && f < size_t(40 * s));
        ASSERT_EQ(r.out[f], (heard ? DrainRun::mic(int64_t(f)) : 0.0f) + DrainRun::sys) << "frame " << f;
    }
    EXPECT_EQ(m.resyncs(), 1);
    // A gone source holds the output back no longer than waitFrames.
    EXPECT_LE(r.worstLagAfter, 480);
}
