#include "engine/AudioTimelineMixer.h"

#include "capture/AudioNormalizer.h"

#include <gtest/gtest.h>

#include <array>
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

TEST(AudioTimelineMixer, GluesAStrayingSourceAndLeavesRealHolesSilent)
{
    AudioTimelineMixer m;
    const auto tl = timeline();
    ASSERT_TRUE(m.place(constant(1000, 480, 0.1f), Source::microphone, tl));
    EXPECT_EQ(m.lastEnd(Source::microphone), 1480);

    // Stamped early or late, but within reach: glued straight on, nothing lost,
    // the run at most 1/200 longer or shorter.
    int64_t end = 1480;
    for (const int64_t off : std::array<int64_t, 4>{100, 500, -2000, AudioTimelineMixer::driftFrames}) {
        m.place(constant(end + off, 480, 0.2f), Source::microphone, tl);
        EXPECT_EQ(m.resyncs(), 0) << off;
        EXPECT_NEAR(double(*m.lastEnd(Source::microphone) - end), 480.0, 3.0) << off;
        end = *m.lastEnd(Source::microphone);
    }
    EXPECT_FLOAT_EQ(peek(m, 1479), 0.1f);
    EXPECT_FLOAT_EQ(peek(m, 1480), 0.2f);
    EXPECT_FLOAT_EQ(peek(m, end - 1), 0.2f);

    // Further off: a real hole, left silent.
    const int64_t hole = AudioTimelineMixer::driftFrames + 1;
    m.place(constant(end + hole, 480, 0.3f), Source::microphone, tl);
    EXPECT_EQ(m.resyncs(), 1);
    const auto out = drain(m, end + hole + 1000);
    for (int64_t f = 0; f < 1000; ++f)
        ASSERT_EQ(out[f], 0.0f) << f;
    for (int64_t f = end; f < end + hole; ++f)
        ASSERT_EQ(out[f], 0.0f) << f;
    EXPECT_FLOAT_EQ(out[end + hole], 0.3f);
    EXPECT_FLOAT_EQ(out[end + hole + 479], 0.3f);
    EXPECT_EQ(out[end + hole + 480], 0.0f);
    EXPECT_EQ(m.dropped(), 0);
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
    // Further back than any stray stamp: a new start of the source.
    const int64_t back = AudioTimelineMixer::driftFrames + 300;
    m.place(constant(0, 9600, 0.1f), Source::system, tl);
    m.place(constant(9600 - back, back + 480, 0.7f), Source::system, tl);
    EXPECT_EQ(m.resyncs(), 1);
    EXPECT_EQ(m.overlap(), back);
    EXPECT_EQ(m.dropped(), back);
    EXPECT_EQ(m.lastEnd(Source::system), 10080);
    const auto out = drain(m, 10080);
    EXPECT_FLOAT_EQ(out[9599], 0.1f);
    EXPECT_FLOAT_EQ(out[9600], 0.7f);
}

TEST(AudioTimelineMixer, DropsWhatIsBehindTheCursorOrTooFarAhead)
{
    AudioTimelineMixer m;
    const auto tl = timeline();
    m.place(constant(0, 9600, 0.1f), Source::microphone, tl);
    drain(m, 9600);
    EXPECT_EQ(m.cursor(), 9600);
    // What lay behind the cursor is gone; a late buffer for it is counted, not mixed.
    m.place(constant(0, 480, 0.9f), Source::system, tl);
    EXPECT_EQ(m.discarded(), 480);
    // Partly late: the frames behind the cursor go, the rest is mixed.
    m.place(constant(9600 - 380, 480, 0.9f), Source::system, tl);
    EXPECT_EQ(m.discarded(), 860);
    EXPECT_FLOAT_EQ(peek(m, 9699), 0.9f);

    // A second or more ahead of the cursor is refused whole.
    m.place(constant(9600 + 48000, 480, 0.5f), Source::microphone, tl);
    EXPECT_EQ(m.discarded(), 1340);
    EXPECT_EQ(m.dropped(), 1340);
    // Straddling the edge: the part inside the window stays.
    AudioTimelineMixer edge;
    edge.place(constant(48000 - 100, 480, 0.5f), Source::microphone, tl);
    EXPECT_EQ(edge.discarded(), 380);
    EXPECT_FLOAT_EQ(peek(edge, 47999), 0.5f);
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
    m.place(constant(9000, 480, 5.0f), Source::system, tl);
    m.place(constant(9000, 480, -5.0f), Source::microphone, tl);
    m.place(constant(9480, 480, 0.5f), Source::system, tl);
    m.place(constant(9480, 480, 0.7f), Source::microphone, tl);
    const auto out = drain(m, 9960);
    EXPECT_NEAR(out[0], 0.95f + 0.05f * std::tanh(5.0f), 1e-6);
    EXPECT_NEAR(out[0], 0.999995f, 1e-6);
    EXPECT_FLOAT_EQ(out[300], 0.6f);
    EXPECT_EQ(out[700], 0.0f);
    EXPECT_EQ(out[9100], 0.0f);
    EXPECT_NEAR(out[9600], 0.999995f, 1e-6);
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
    m.place(tone(0, 8000, [](size_t i) { return float(i) / 16000.0f; }), Source::microphone, tl);
    m.place(constant(100, 480, 0.5f), Source::microphone, tl); // overlap
    m.place(constant(20000, 480, 0.2f), Source::microphone, tl);
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
    std::function<int64_t(int64_t)> sysArrival; // the same for system audio; unset: 960 frames after capture
    int64_t worstLag = 0;      // the largest target - cursor
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
            if (const int64_t at = sysArrival ? sysArrival(captured) : captured + 960; at >= 0)
                pending.emplace(std::max(at, now), std::pair{Source::system, captured});
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
            worstLag = std::max(worstLag, target - m.cursor());
            if (now >= calmFrom)
                worstLagAfter = std::max(worstLagAfter, target - m.cursor());
        }
    }
};

} // namespace

TEST(AudioTimelineMixer, SoundThatReachesTheMixerLateUnderLoadIsKeptInItsPlace)
{
    // Between 10 s and 30 s the engine is stalled: both sources' buffers come
    // in bursts, up to 8 s after they were captured, each still contiguous with
    // the one before, in the order they were captured. Nothing is dropped,
    // every frame lands at its capture time, and once the load is gone the mix
    // is back to its usual lag. (One source alone that far behind the other
    // has stopped delivering, and is not waited for: see below.)
    DrainRun r;
    const int64_t s = 48000;
    const auto stalled = [s](int64_t f) {
        if (f < 10 * s || f >= 30 * s)
            return f + 960;
        return f < 18 * s ? 18 * s : f < 22 * s ? 22 * s : 30 * s + 480; // stalls of 8, 4 and 8 s
    };
    r.micArrival = stalled;
    r.sysArrival = stalled;
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

TEST(AudioTimelineMixer, AStrayingLiveSourceIsGluedWithItsToneUnbroken)
{
    // Under load a live source's stamps run 10-40 ms early (or late) for a while
    // and then catch up, while its samples stay contiguous; halfway its stamps
    // step 50 ms later for good. An 880 Hz tone in 20 ms buffers over 30 s:
    // nothing is dropped or doubled, the tone has no phase jump anywhere, and the
    // source ends up where its stamps say.
    AudioTimelineMixer m;
    const auto tl = timeline();
    const double w = 2 * std::numbers::pi * 880 / 48000;
    std::mt19937 rng(5);
    std::uniform_int_distribution<int64_t> excursion(480, 1920);
    std::uniform_int_distribution<int64_t> jitter(-48, 48);
    const int64_t n = 960, start = 4800, total = 30 * 48000, step = 2400;
    std::vector<float> out;
    int64_t reach = 0;
    for (int64_t at = 0, k = 0; at < total; at += n, ++k) {
        const int64_t phase = k % 50; // 50 buffers a second
        if (phase == 0)
            reach = (k / 50) % 2 ? excursion(rng) : -excursion(rng);
        // Out over 0.2 s, held 0.2 s, back over 0.2 s.
        const int64_t stray = phase < 10 ? 0 : phase < 20 ? reach * (phase - 10) / 10 : phase < 30 ? reach
                            : phase < 40 ? reach * (40 - phase) / 10 : 0;
        const int64_t stamp = start + at + stray + jitter(rng) + (at >= total / 2 ? step : 0);
        ASSERT_TRUE(m.place(tone(stamp, size_t(n), [&](size_t i) { return 0.5f * float(std::sin(w * double(at + int64_t(i)))); }),
                            Source::system, tl));
        for (float v : drain(m, std::max<int64_t>(0, start + at - 16800), false))
            out.push_back(v);
    }
    for (float v : drain(m, *m.lastEnd(Source::system)))
        out.push_back(v);
    EXPECT_EQ(m.overlap(), 0);
    EXPECT_EQ(m.discarded(), 0);
    EXPECT_EQ(m.resyncs(), 0);
    EXPECT_NEAR(double(*m.lastEnd(Source::system)), double(start + total + step), double(AudioTimelineMixer::glueFrames + 96));

    // A pure tone obeys x[f+1] + x[f-1] = 2 cos(w) x[f]; a skip of one frame
    // breaks that by about 0.03, a stretch of 0.5 % by less than 0.002.
    size_t first = 0;
    while (first < out.size() && out[first] == 0.0f)
        ++first;
    ASSERT_LT(first, size_t(start + 100));
    int jumps = 0;
    for (size_t f = first + 1; f + 1 < out.size(); ++f)
        if (std::fabs(out[f + 1] + out[f - 1] - 2 * float(std::cos(w)) * out[f]) > 0.01f && ++jumps < 5)
            ADD_FAILURE() << "phase jump at output frame " << f;
    EXPECT_EQ(jumps, 0);
}

TEST(AudioTimelineMixer, ASourceThatStopsDeliveringDoesNotHoldTheOtherBack)
{
    // One source is pulled out from 10 s to 16 s: it captures nothing, while
    // the other delivers throughout. The mix never waits for the gone one
    // more than stallFrames, so the other is written on time (a writer with a
    // bounded backlog keeps all of it); the gone source's stretch is silence
    // and its sound is back at its own time after.
    const int64_t s = 48000;
    const auto away = [s](int64_t f) { return f >= 10 * s && f < 16 * s ? -1 : f + 960; };
    for (const Source gone : {Source::microphone, Source::system}) {
        SCOPED_TRACE(gone == Source::microphone ? "microphone away" : "system audio away");
        DrainRun r;
        r.seconds = 30;
        (gone == Source::microphone ? r.micArrival : r.sysArrival) = away;
        if (!r.micArrival)
            r.micArrival = [](int64_t f) { return f + 960; };
        AudioTimelineMixer m;
        r.run(m);
        EXPECT_EQ(m.dropped(), 0);
        EXPECT_LE(r.worstLag, AudioTimelineMixer::stallFrames) << "the other source waited for a gone one";
        ASSERT_GE(r.out.size(), size_t(29 * s));
        for (size_t f = 0; f < r.out.size(); ++f) {
            const bool heard = f < size_t(10 * s) || f >= size_t(16 * s);
            const float mic = gone == Source::microphone && !heard ? 0.0f : DrainRun::mic(int64_t(f));
            const float sys = gone == Source::system && !heard ? 0.0f : DrainRun::sys;
            ASSERT_EQ(r.out[f], mic + sys) << "frame " << f;
        }
    }
}

TEST(AudioTimelineMixer, AStoppedSourceIsNotWaitedForAndComesBackAtItsOwnTime)
{
    AudioTimelineMixer m;
    const auto tl = timeline();
    ASSERT_TRUE(m.place(constant(0, 24000, 0.25f), Source::microphone, tl));
    ASSERT_TRUE(m.place(constant(0, 28800, 0.125f), Source::system, tl));
    // Still within the stall: the late microphone is waited for.
    EXPECT_TRUE(m.waitsFor(Source::microphone));
    EXPECT_EQ(m.due(30000), 24000);
    // Told it stopped, it is not.
    m.stop(Source::microphone);
    EXPECT_FALSE(m.waitsFor(Source::microphone));
    EXPECT_TRUE(m.waitsFor(Source::system));
    EXPECT_EQ(m.due(30000), 28800);
    // Back 2000 frames after it left, which the glue would take as the same
    // stream going on: its sound goes in at its own time, and it is waited for again.
    ASSERT_TRUE(m.place(constant(26000, 2400, 0.5f), Source::microphone, tl));
    EXPECT_TRUE(m.waitsFor(Source::microphone));
    EXPECT_EQ(m.lastEnd(Source::microphone), 28400);
    EXPECT_EQ(peek(m, 25000), 0.125f);
    EXPECT_EQ(peek(m, 26000), 0.625f);
    EXPECT_EQ(m.due(30000), 28400);
    EXPECT_EQ(m.dropped(), 0);
}
