// Records one scene twice at 1920x1080, 30 fps, with microphone and system
// audio: once through our engine (X11 screen source, PulseAudio input) and once
// with ffmpeg (x11grab + two pulse inputs mixed, libx265 ultrafast + AAC into
// fragmented QuickTime). Everything runs privately: an Xvfb, a PulseAudio
// daemon with a "speakers" sink and a stand-in microphone, and a scene (this
// program with --scene) that shows a moving square on dark grey, flashes the
// screen white for one frame every second and plays a 1 kHz beep at the same
// moments into both sinks; the flashes follow the playback clock, so each
// starts when its beep reaches the sinks.
//
//   bench_av_compare [--seconds N] [--area]      (default 60)
//
// With --area both record the 1280x720 area in the middle of the screen (44 %
// of its pixels), as an area recording does.
//
// Prints for both: CPU seconds per recorded second, peak memory, frames
// written against expected, and the beep-minus-flash offset at start and end.

#include "BenchAv.h"
#include "BenchEngine.h"
#include "BenchRig.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRect>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

// X11 last: its macros clash with names in Qt.
#include <pulse/error.h>

#include "BenchScene.h"

#include <X11/Xutil.h>

using namespace corvessa;
using namespace benchrig;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFps = 30;
constexpr int kRate = 48000;
constexpr double kBeepSeconds = 0.05;

// ---------------------------------------------------------------- the scene

// Plays the beeps (one every whole second from 1 s on) into the speakers and
// the microphone sink, keeping the small buffers full. For each beep it
// publishes when the sink plays it (now + latency - what is queued after it),
// so the picture's flash follows the playback clock even when the sink ran dry
// for a moment on a loaded machine.
void playBeeps(double total, std::atomic<int64_t>* beepAt, std::atomic<bool>* failed, std::atomic<bool>* stop)
{
    int err = 0;
    pa_simple* speakers = openScenePlayback("speakers", kRate, &err);
    pa_simple* mic = openScenePlayback("mic", kRate, &err);
    if (!speakers || !mic) {
        std::fprintf(stderr, "scene: no playback: %s\n", pa_strerror(err));
        failed->store(true);
        return;
    }
    const long n = long(kBeepSeconds * kRate);
    constexpr long kChunk = 480;
    std::vector<int16_t> chunk(kChunk);
    for (long i = 0; i < long(total * kRate) && !stop->load(); i += kChunk) {
        for (long j = 0; j < kChunk; ++j) {
            const long k = i + j;
            const long in = k % kRate;
            double v = 0;
            if (k >= kRate && in < n) {
                const double ramp = std::min({1.0, in / (0.002 * kRate), (n - in) / (0.002 * kRate)});
                v = 16000 * ramp * std::sin(2 * M_PI * 1000.0 * in / kRate);
            }
            chunk[size_t(j)] = int16_t(v);
        }
        pa_simple_write(speakers, chunk.data(), chunk.size() * 2, &err);
        pa_simple_write(mic, chunk.data(), chunk.size() * 2, &err);
        const long beep = (i + kChunk - 1) / kRate * kRate; // a second's start inside this chunk
        if (beep >= kRate && beep >= i) {
            const pa_usec_t latency = pa_simple_get_latency(speakers, &err);
            const int64_t queuedAfter = int64_t(i + kChunk - beep) * 1000000000LL / kRate;
            beepAt->store(nowNs() + int64_t(latency) * 1000 - queuedAfter);
        }
    }
    pa_simple_free(speakers);
    pa_simple_free(mic);
}

// Draws until killed or done: the moving square 60 times a second, and white
// for 33 ms from the moment each beep plays.
int runScene(double total)
{
    return runFlashScene(kWidth, kHeight, total, playBeeps);
}

// ---------------------------------------------------------------- helpers

double peakSelfMiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

struct Analysis {
    long long frames = -1;
    std::vector<double> offsets; // beep - flash, seconds, in order
    int flashes = 0;
    int beeps = 0;
};

// Flashes by a jump of mean luma, beeps by the first loud sample after quiet.
Analysis analyse(const QString& movie)
{
    Analysis a;
    a.frames = probeStream(movie, QStringLiteral("v:0"), QStringLiteral("stream=nb_read_frames"), true).toLongLong();
    const double audioStart = probeStream(movie, QStringLiteral("a:0"), QStringLiteral("stream=start_time")).toDouble();
    const std::vector<double> flashes = flashTimes(movie);
    const std::vector<double> beeps = loudOnsets(soundOf(movie), audioStart, 2000, 0.3);
    a.flashes = int(flashes.size());
    a.beeps = int(beeps.size());
    a.offsets = onsetMinusFlash(flashes, beeps, 0.5);
    return a;
}

void report(const char* name, double cpuPerSecond, double peakMiB, const Analysis& a, double expected)
{
    std::printf("%s\n", name);
    std::printf("  CPU per recorded second: %.3f s\n", cpuPerSecond);
    std::printf("  peak memory:             %.0f MiB\n", peakMiB);
    std::printf("  frames written:          %lld of %.0f expected\n", a.frames, expected);
    std::printf("  flashes/beeps found:     %d/%d, paired %zu\n", a.flashes, a.beeps, a.offsets.size());
    if (a.offsets.size() >= 2) {
        const size_t k = std::min<size_t>(3, a.offsets.size() / 2);
        double start = 0, end = 0;
        for (size_t i = 0; i < k; ++i) {
            start += a.offsets[i] / double(k);
            end += a.offsets[a.offsets.size() - 1 - i] / double(k);
        }
        const auto [lo, hi] = std::minmax_element(a.offsets.begin(), a.offsets.end());
        std::printf("  A/V offset (beep-flash): start %+.1f ms, end %+.1f ms, drift %+.1f ms (range %+.1f..%+.1f ms)\n",
                    start * 1000, end * 1000, (end - start) * 1000, *lo * 1000, *hi * 1000);
    } else {
        std::printf("  A/V offset: not enough pairs\n");
    }
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--scene") == 0)
        return runScene(std::atof(argv[2]));

    QCoreApplication app(argc, argv);
    double secs = 60;
    std::optional<QRect> area;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QStringLiteral("--seconds") && i + 1 < args.size()) {
            secs = args[++i].toDouble();
        } else if (args[i] == QStringLiteral("--area")) {
            area = QRect(320, 180, 1280, 720);
        } else {
            std::fprintf(stderr, "usage: %s [--seconds N] [--area]\n", argv[0]);
            return 2;
        }
    }
    if (!(secs >= 5)) {
        std::fprintf(stderr, "--seconds must be at least 5\n");
        return 2;
    }

    QTemporaryDir dir;
    const QDir d(dir.path());
    Children children;

    const QString display = startXvfb(children, "1920x1080x24");
    if (display.isEmpty())
        return 1;

    // PulseAudio: "speakers" (default sink) and "mic" whose monitor is the stand-in microphone.
    if (!startPulse(children, d))
        return 1;

    // The scene runs through both recordings.
    const double sceneSeconds = 2 * secs + 25;
    startSelf(children, {"--scene", std::to_string(sceneSeconds)});
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));

    const QRect grabbed = area.value_or(QRect(0, 0, kWidth, kHeight));
    std::printf("%.0f s at %dx%d@%d, display %s%s\n", secs, grabbed.width(), grabbed.height(), kFps,
                qPrintable(display), area ? ", the area in the middle of the 1920x1080 screen" : "");

    // ffmpeg first: it is then the only child reaped so far, so RUSAGE_CHILDREN is its own.
    const QString ffMovie = d.filePath(QStringLiteral("ffmpeg.mov"));
    rusage before{}, after{};
    getrusage(RUSAGE_CHILDREN, &before);
    const auto ff0 = Clock::now();
    QProcess ff;
    ff.setProcessChannelMode(QProcess::SeparateChannels);
    ff.start(QStringLiteral("ffmpeg"), ffmpegGrabArgs(display, grabbed.width(), grabbed.height(), kFps, secs,
                                                      {QStringLiteral("stand_in_mic"), QStringLiteral("speakers.monitor")},
                                                      ffMovie, grabbed.topLeft()));
    ff.waitForFinished(-1);
    const double ffWall = std::chrono::duration<double>(Clock::now() - ff0).count();
    getrusage(RUSAGE_CHILDREN, &after);
    if (ff.exitCode() != 0)
        std::fprintf(stderr, "ffmpeg failed: %s\n", ff.readAllStandardError().constData());
    const double ffCpu = seconds(after.ru_utime) + seconds(after.ru_stime) - seconds(before.ru_utime) -
                         seconds(before.ru_stime);
    const double ffPeak = double(after.ru_maxrss) / 1024.0;
    std::printf("ffmpeg took %.1f s of wall time\n", ffWall);

    // Our engine.
    const QString ourMovie = d.filePath(QStringLiteral("engine.mov"));
    rusage self0{}, self1{};
    getrusage(RUSAGE_SELF, &self0);
    auto recording = startEngineRecording(display, kFps, ourMovie,
                                          area ? std::optional<QRectF>(QRectF(*area)) : std::nullopt);
    if (!recording)
        return 1;
    auto& engine = recording->engine;
    const QStringList& lines = recording->lines;
    spin(secs);
    const auto path = engine->stop();
    getrusage(RUSAGE_SELF, &self1);
    const double ourCpu =
        seconds(self1.ru_utime) + seconds(self1.ru_stime) - seconds(self0.ru_utime) - seconds(self0.ru_stime);
    const double ourPeak = peakSelfMiB();
    if (!path) {
        std::fprintf(stderr, "engine gave no movie\n");
        for (const auto& l : lines)
            std::fprintf(stderr, "  %s\n", qPrintable(l));
        return 1;
    }
    // The time of the last frame after the first, plus that frame's own duration.
    const double recorded = engine->effectiveSeconds() + 1.0 / kFps;
    const auto stats = engine->stats();

    report("Corvessa engine (X11ScreenSource + PulseAudioInput, mic + system audio)", ourCpu / recorded, ourPeak,
           analyse(*path), recorded * kFps);
    std::printf("  engine counters: written %lld, dropped %lld, repeated %lld\n", (long long)stats.writtenVideo,
                (long long)stats.droppedVideo, (long long)stats.repeatedVideo);
    if (area)
        std::printf("  (the square leaves the area for a while in each sweep: then nothing changes there, no\n"
                    "  picture is made and the movie holds the last one, so fewer frames are written)\n");
    report("ffmpeg (x11grab + 2x pulse amix, libx265 ultrafast + AAC, fragmented mov)", ffCpu / secs, ffPeak,
           analyse(ffMovie), secs * kFps);
    std::printf("  CPU ratio engine/ffmpeg: %.2f\n", (ourCpu / recorded) / (ffCpu / secs));
    if (qEnvironmentVariableIsSet("AV_COMPARE_KEEP")) {
        QFile::copy(*path, qEnvironmentVariable("AV_COMPARE_KEEP") + QStringLiteral("/engine.mov"));
        QFile::copy(ffMovie, qEnvironmentVariable("AV_COMPARE_KEEP") + QStringLiteral("/ffmpeg.mov"));
    }
    recording.reset();
    XSetIOErrorHandler(quietIOError);
    return 0;
}
