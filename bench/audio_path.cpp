// One hour of recording through the audio path as the engine drives it: levels,
// normaliser, pause timeline and mixer, with a 44.1 kHz mono 16-bit microphone in
// jittery ~10 ms buffers and 48 kHz stereo float system audio. The microphone
// drops out for 500 ms and the recording is paused for 30 s. Prints the CPU time
// per hour of audio and where clicks planted in each source end up in the mix.

#include "capture/AudioLevel.h"
#include "capture/AudioNormalizer.h"
#include "engine/AudioTimelineMixer.h"
#include "engine/RecordingTimeline.h"
#include "platform/core/SampleBuffer.h"

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

using namespace corvessa;
using Source = AudioTimelineMixer::Source;

namespace {

constexpr int64_t ns = 1000000000;
const MediaTime start(1000 * ns, ns);                      // host time capture begins
const MediaTime firstFrame = start + MediaTime(100, 1000); // first video frame: the movie's zero
constexpr int64_t captureSeconds = 3630;                   // an hour of movie after the pause cut
const MediaTime micGapFrom = start + MediaTime(1200, 1);   // microphone silent for 500 ms
const MediaTime micGapTo = micGapFrom + MediaTime(500, 1000);
const MediaTime pauseAt = start + MediaTime(2400, 1); // 30 s paused
const MediaTime resumeAt = pauseAt + MediaTime(30, 1);
const MediaTime frameInterval(1, 30);
const MediaTime drainLag(350, 1000);

// Clicks: microphone at 10 k + 0.25 s, system audio at 10 k + 0.75 s of capture time.
constexpr int64_t clickEvery = 10;
constexpr int64_t micClickRate = 44100, micClickPhase = 11025;
constexpr int64_t sysClickRate = 48000, sysClickPhase = 36000;

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double threadCpu()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// CPU time of one stage of the path; only measured when asked, as reading the
// clock costs about as much as the work measured.
struct Stage {
    bool on = false;
    double seconds = 0;
    double began = 0;
    void enter()
    {
        if (on)
            began = threadCpu();
    }
    void leave()
    {
        if (on)
            seconds += threadCpu() - began;
    }
};

// Sources as capture delivers them: true sample clock, jittered stamps, arrival
// a few milliseconds after the buffer's last frame.
struct Microphone {
    std::mt19937 rng{1};
    std::uniform_int_distribution<int> size{420, 462};
    std::uniform_int_distribution<int> jitterUs{-2000, 2000};
    std::uniform_int_distribution<int> latencyUs{3000, 7000};
    std::vector<int16_t> table; // one second of a 440 Hz tone at 0.1
    int64_t next = 0;           // next frame

    Microphone() : table(44100)
    {
        for (size_t i = 0; i < table.size(); ++i)
            table[i] = int16_t(std::lround(0.1 * 32767 * std::sin(2 * std::numbers::pi * 440 * double(i) / 44100)));
    }
    MediaTime trueTime(int64_t frame) const { return start + MediaTime(frame, 44100); }
    // Fills the next buffer; false when it falls into the drop-out (skipped).
    bool make(SampleBuffer& out, MediaTime& arrival)
    {
        const int64_t n = size(rng);
        const int64_t first = next;
        next += n;
        arrival = trueTime(next) + MediaTime(latencyUs(rng), 1000000);
        const MediaTime t = trueTime(first);
        if (t >= micGapFrom && t < micGapTo)
            return false;
        out = SampleBuffer::audio(AudioFormat::integerFormat(44100, 1, 16), size_t(n), t + MediaTime(jitterUs(rng), 1000000));
        auto* s = reinterpret_cast<int16_t*>(out.audioBuffers()->buffers[0].data());
        for (int64_t i = 0; i < n; ++i) {
            const int64_t f = first + i;
            s[i] = f % (clickEvery * micClickRate) == micClickPhase ? int16_t(26000) : table[size_t(f % 44100)];
        }
        return true;
    }
};

struct SystemAudio {
    std::vector<float> table; // one second of 1 kHz at 0.1
    int64_t next = 0;
    SystemAudio() : table(48000)
    {
        for (size_t i = 0; i < table.size(); ++i)
            table[i] = float(0.1 * std::sin(2 * std::numbers::pi * 1000 * double(i) / 48000));
    }
    MediaTime trueTime(int64_t frame) const { return start + MediaTime(frame, 48000); }
    void make(SampleBuffer& out, MediaTime& arrival)
    {
        const int64_t n = 480;
        const int64_t first = next;
        next += n;
        arrival = trueTime(next) + MediaTime(2, 1000);
        out = SampleBuffer::audio(AudioFormat::floatFormat(48000, 2), size_t(n), trueTime(first));
        float* d = out.floatData();
        for (int64_t i = 0; i < n; ++i) {
            const int64_t f = first + i;
            const float v = f % (clickEvery * sysClickRate) == sysClickPhase ? 0.8f : table[size_t(f % 48000)];
            d[2 * i] = v;
            d[2 * i + 1] = v;
        }
    }
};

// What the writer would receive: checks and click positions.
struct Track {
    int64_t frames = 0;
    int64_t nonFinite = 0;
    int64_t misstamped = 0;
    std::vector<int64_t> clicks;
    std::vector<float> peaks;
    void take(const SampleBuffer& chunk, MediaTime origin)
    {
        if (chunk.presentationTime() != origin + MediaTime(frames, 48000))
            ++misstamped;
        const float* d = chunk.floatData();
        for (size_t i = 0; i < chunk.frameCount(); ++i) {
            const float v = d[2 * i];
            if (!std::isfinite(v) || !std::isfinite(d[2 * i + 1]))
                ++nonFinite;
            const int64_t f = frames + int64_t(i);
            if (v > 0.45f) {
                if (clicks.empty() || f - clicks.back() > 2400) {
                    clicks.push_back(f);
                    peaks.push_back(v);
                } else if (v > peaks.back()) {
                    clicks.back() = f;
                    peaks.back() = v;
                }
            }
        }
        frames += int64_t(chunk.frameCount());
    }
};

struct Result {
    double cpu = 0;
    Stage level, normalise, place, drain;
    Track track;
    AudioTimelineMixer mixer;
    RecordingTimeline timeline;
    int64_t endFrame = 0;
    int64_t micBuffers = 0, sysBuffers = 0;
};

// Runs the hour. Without `path`, only makes and delivers the buffers (the baseline
// that is subtracted from the CPU time); with `stages`, also times each stage.
Result run(bool path, bool stages = false)
{
    Result r;
    for (Stage* s : {&r.level, &r.normalise, &r.place, &r.drain})
        s->on = stages;
    Microphone mic;
    SystemAudio sys;
    AudioNormalizer micNormalizer, systemNormalizer;
    RecordingTimeline& timeline = r.timeline;
    AudioTimelineMixer& mixer = r.mixer;
    bool sessionStarted = false;
    bool paused = false, resumed = false;
    MediaTime lastVideo;
    const MediaTime end = start + MediaTime(captureSeconds, 1);

    auto drainTo = [&](int64_t until, bool final) {
        r.drain.enter();
        while (auto chunk = mixer.sample(until, firstFrame, final)) {
            r.track.take(*chunk, firstFrame);
            mixer.commit(int64_t(chunk->frameCount()));
        }
        r.drain.leave();
    };
    auto handle = [&](SampleBuffer& b, Source source, MediaTime now) {
        if (!path)
            return;
        AudioNormalizer& norm = source == Source::microphone ? micNormalizer : systemNormalizer;
        r.level.enter();
        const auto stats = AudioLevel::process(b, 1.0f);
        r.level.leave();
        if (!stats || (source == Source::system && !sessionStarted))
            return;
        r.normalise.enter();
        auto converted = norm.convert(b);
        r.normalise.leave();
        if (!sessionStarted)
            return;
        r.place.enter();
        for (const auto& c : converted)
            mixer.place(c, source, timeline);
        r.place.leave();
        drainTo(AudioTimelineMixer::outputFrame(timeline.boundary(now - drainLag), firstFrame), false);
    };

    const double cpu0 = cpuSeconds();
    SampleBuffer micBuffer, sysBuffer;
    MediaTime micArrival, sysArrival;
    bool micReady = mic.make(micBuffer, micArrival);
    sys.make(sysBuffer, sysArrival);
    MediaTime tick = firstFrame;
    while (true) {
        const MediaTime now = std::min({micArrival, sysArrival, tick});
        if (now > end)
            break;
        if (!paused && now >= pauseAt) {
            timeline.pause(pauseAt);
            paused = true;
        }
        if (paused && !resumed && now >= resumeAt) {
            timeline.resume(resumeAt);
            resumed = true;
        }
        if (now == tick) {
            // Heartbeat / video frame: the first starts the movie.
            if (!sessionStarted) {
                sessionStarted = true;
                timeline.origin = firstFrame;
            }
            if (timeline.mapped(tick))
                lastVideo = tick;
            if (path)
                drainTo(AudioTimelineMixer::outputFrame(timeline.boundary(now - drainLag), firstFrame), false);
            tick = tick + frameInterval;
        } else if (now == micArrival) {
            if (micReady) {
                ++r.micBuffers;
                handle(micBuffer, Source::microphone, now);
            }
            micReady = mic.make(micBuffer, micArrival);
        } else {
            ++r.sysBuffers;
            handle(sysBuffer, Source::system, now);
            sys.make(sysBuffer, sysArrival);
        }
    }
    if (path) {
        // Stop: audio up to the end of the last frame.
        r.endFrame = AudioTimelineMixer::outputFrame(*timeline.mapped(lastVideo) + frameInterval, firstFrame);
        drainTo(r.endFrame, true);
    }
    r.cpu = cpuSeconds() - cpu0;
    return r;
}

// Where the clicks of one source landed, per stretch between the events that
// re-anchor a source (the drop-out, the pause): within a stretch the offset must
// not move at all (drift); between stretches it may change by the timestamp
// jitter of the buffer the source was anchored on again.
struct Placement {
    int expected = 0, found = 0;
    struct Stretch {
        int clicks = 0;
        int64_t minOffset = INT64_MAX, maxOffset = INT64_MIN;
    };
    std::vector<Stretch> stretches{3};
};

Placement locate(const Result& r, int64_t rate, int64_t phase, bool micGap, std::vector<bool>& claimed)
{
    Placement p;
    for (int64_t k = 0; k * clickEvery < captureSeconds; ++k) {
        const MediaTime at = start + MediaTime(k * clickEvery * rate + phase, int32_t(rate));
        if (micGap && at >= micGapFrom && at < micGapTo)
            continue;
        const auto movie = r.timeline.mapped(at);
        if (!movie)
            continue;
        const int64_t expected = AudioTimelineMixer::outputFrame(*movie, firstFrame);
        if (expected >= r.track.frames)
            continue;
        ++p.expected;
        const auto it = std::lower_bound(r.track.clicks.begin(), r.track.clicks.end(), expected - 2400);
        if (it == r.track.clicks.end() || *it > expected + 2400)
            continue;
        claimed[size_t(it - r.track.clicks.begin())] = true;
        ++p.found;
        const int64_t off = *it - expected;
        auto& s = p.stretches[at < micGapFrom ? 0 : at < pauseAt ? 1 : 2];
        ++s.clicks;
        s.minOffset = std::min(s.minOffset, off);
        s.maxOffset = std::max(s.maxOffset, off);
    }
    return p;
}

} // namespace

int main()
{
    const Result base = run(false);
    const Result r = run(true);
    const Result timed = run(true, true);
    const double hours = double(captureSeconds) / 3600.0;
    const double pathCpu = std::max(0.0, r.cpu - base.cpu);

    std::printf("audio path, %" PRId64 " s captured (%.3f h), mic %" PRId64 " buffers 44.1 kHz mono s16, system %" PRId64 " buffers 48 kHz stereo f32\n",
        captureSeconds, hours, r.micBuffers, r.sysBuffers);
    std::printf("cpu (getrusage): path %.3f s  (run %.3f s - source generation %.3f s)\n", pathCpu, r.cpu, base.cpu);
    std::printf("cpu per hour of audio: %.3f s  = %.4f %% of one core\n", pathCpu / hours, 100.0 * pathCpu / double(captureSeconds));
    std::printf("  stages per hour (timed separately; each clock read adds to them): levels %.3f s, normalise %.3f s, place %.3f s, mix+drain %.3f s\n", timed.level.seconds / hours,
        timed.normalise.seconds / hours, timed.place.seconds / hours, timed.drain.seconds / hours);

    const int64_t expectedEnd = r.endFrame;
    std::printf("track: %" PRId64 " frames written, timeline end %" PRId64 " frames (%.3f s) -> length drift %" PRId64 " samples\n",
        r.track.frames, expectedEnd, double(expectedEnd) / 48000.0, r.track.frames - expectedEnd);
    std::printf("       mixer cursor %" PRId64 ", misstamped chunks %" PRId64 ", non-finite samples %" PRId64 "\n", r.mixer.cursor(),
        r.track.misstamped, r.track.nonFinite);
    std::printf("[audio-sync] late=%" PRId64 " overlap=%" PRId64 " resync=%" PRId64 " frames=%" PRId64 "\n", r.mixer.discarded(),
        r.mixer.overlap(), r.mixer.resyncs(), r.mixer.cursor());

    std::vector<bool> claimed(r.track.clicks.size(), false);
    const Placement mic = locate(r, micClickRate, micClickPhase, true, claimed);
    const Placement sys = locate(r, sysClickRate, sysClickPhase, false, claimed);
    const auto spurious = std::count(claimed.begin(), claimed.end(), false);
    const char* stretchNames[] = {"before drop-out", "drop-out..pause", "after pause"};
    int64_t worstDrift = 0;
    for (const auto& [name, p] : {std::pair{"microphone", mic}, std::pair{"system", sys}}) {
        std::printf("%-10s clicks found %d/%d; offset from the timeline in samples:", name, p.found, p.expected);
        for (size_t i = 0; i < p.stretches.size(); ++i) {
            const auto& s = p.stretches[i];
            if (s.clicks == 0)
                continue;
            std::printf("  %s %+" PRId64 "..%+" PRId64, stretchNames[i], s.minOffset, s.maxOffset);
            worstDrift = std::max(worstDrift, s.maxOffset - s.minOffset);
        }
        std::printf("\n");
    }
    std::printf("drift within any stretch (max - min offset): %" PRId64 " samples\n", worstDrift);
    std::printf("clicks in the mix that belong nowhere (audio from the pause or the drop-out): %td\n", spurious);
    return 0;
}
