// Whether sound survives a loaded machine. A private Xvfb at 1920x1080 shows a
// moving square; a scene (this program with --scene) plays a steady 440 Hz tone
// into the stand-in microphone of a private PulseAudio daemon, with a loud
// 1 kHz mark every 5 s while the screen flashes white for one frame, for as
// long as the benchmark runs. Under each load our engine records N s at 30 fps
// while `parec` records the same microphone as a control; then ffmpeg (x11grab
// + pulse) records N s under the same load. The loads: B busy processes
// (`yes > /dev/null`), then 4 B, then B beside two other 1080p libx265 encodes
// (ffmpeg encoding a test pattern to nowhere).
//
//   bench_sound_under_load [--seconds N] [--busy B] [--load busy|four|encodes]...
//
// Defaults: 120 s, one busy process per CPU, all three loads in that order;
// each --load runs only the loads named.
//
// Prints per load, one figure a line: the lengths of the movie's picture and
// sound, the silence inside the movie's sound (10 ms blocks without an audible
// sample, between the first and the last audible one) and inside the
// control's, when the movie's first sound comes, the frames written against
// those expected, and the pictures that differ from the one before in our
// movie and in ffmpeg's.

#include "BenchAv.h"
#include "BenchEngine.h"
#include "BenchRig.h"

#include "platform/ffmpeg/MovieProbe.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <time.h>
#include <unistd.h>

// X11 last: its macros clash with names in Qt.
#include <pulse/error.h>

#include "BenchScene.h"

using namespace corvessa;
using namespace benchrig;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFps = 30;
constexpr int kRate = 48000;
constexpr int kMarkEvery = 5;           // seconds between marks
constexpr long kMarkFrames = kRate / 20; // 50 ms
constexpr int kToneLevel = 8000;        // the steady tone, about -12 dBFS
constexpr int kMarkLevel = 28000;
constexpr int kAudible = 100;           // above digital silence and the encoder's rounding
// The scene plays this long: until the benchmark ends it (SIGTERM), however
// long the loads take.
constexpr double kUntilEnded = 1e7;
// How long ffmpeg may take to finish its file once told to stop.
constexpr int kFfmpegGraceMs = 20000;

// Plays the tone with its marks into the microphone sink and publishes when
// each mark is heard (now + latency - what is queued after it), so the flash
// follows the playback clock.
void playTone(double total, std::atomic<int64_t>* markAt, std::atomic<bool>* failed, std::atomic<bool>* stop)
{
    int err = 0;
    pa_simple* mic = openScenePlayback("mic", kRate, &err);
    if (!mic) {
        std::fprintf(stderr, "scene: no playback: %s\n", pa_strerror(err));
        failed->store(true);
        return;
    }
    constexpr long kChunk = 480;
    const long period = long(kMarkEvery) * kRate;
    std::vector<int16_t> chunk(kChunk);
    for (long i = 0; i < long(total * kRate) && !stop->load(); i += kChunk) {
        for (long j = 0; j < kChunk; ++j) {
            const long k = i + j;
            const long in = k % period;
            const bool mark = k >= period && in < kMarkFrames;
            const double f = mark ? 1000.0 : 440.0;
            chunk[size_t(j)] = int16_t((mark ? kMarkLevel : kToneLevel) * std::sin(2 * M_PI * f * double(k) / kRate));
        }
        pa_simple_write(mic, chunk.data(), chunk.size() * 2, &err);
        const long mark = (i + kChunk - 1) / period * period;
        if (mark >= period && mark >= i) {
            const pa_usec_t latency = pa_simple_get_latency(mic, &err);
            const int64_t queuedAfter = int64_t(i + kChunk - mark) * 1000000000LL / kRate;
            markAt->store(nowNs() + int64_t(latency) * 1000 - queuedAfter);
        }
    }
    pa_simple_free(mic);
}

// A moving square 60 times a second, white for 33 ms from each mark on.
int runScene(double total)
{
    return runFlashScene(kWidth, kHeight, total, playTone);
}

// ---------------------------------------------------------------- measuring

// Seconds of 10 ms blocks with no audible sample between the first and the last audible one.
double silence(const QByteArray& pcm)
{
    const auto* s = reinterpret_cast<const int16_t*>(pcm.constData());
    const long n = long(pcm.size() / 2);
    long first = 0;
    long last = n - 1;
    while (first < n && std::abs(int(s[first])) <= kAudible)
        ++first;
    while (last > first && std::abs(int(s[last])) <= kAudible)
        --last;
    long silent = 0;
    for (long b = first; b + 480 <= last; b += 480) {
        if (std::all_of(s + b, s + b + 480, [](int16_t v) { return std::abs(int(v)) <= kAudible; }))
            ++silent;
    }
    return double(silent) * 480 / kRate;
}

// Seconds from the movie's start to its first audible sample; the tone plays
// throughout, so any silence before it is the recorder's. Negative when none.
double firstSound(const QString& movie, const QByteArray& pcm)
{
    const auto* s = reinterpret_cast<const int16_t*>(pcm.constData());
    const long n = long(pcm.size() / 2);
    const long first = long(std::find_if(s, s + n, [](int16_t v) { return std::abs(int(v)) > kAudible; }) - s);
    if (first == n)
        return -1;
    return probeStream(movie, QStringLiteral("a:0"), QStringLiteral("stream=start_time")).toDouble()
           + double(first) / kRate;
}

// The movie's pictures that differ from the one before (ffmpeg's mpdecimate
// leaves out the rest, which tolerates the encoder's noise on a repeat).
long distinctPictures(const QString& movie)
{
    const QByteArray crcs = run(QStringLiteral("ffmpeg"),
                                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), movie,
                                 QStringLiteral("-map"), QStringLiteral("0:v:0"), QStringLiteral("-vf"),
                                 QStringLiteral("mpdecimate"), QStringLiteral("-fps_mode"), QStringLiteral("passthrough"),
                                 QStringLiteral("-f"), QStringLiteral("framecrc"), QStringLiteral("-")});
    long n = 0;
    for (const QByteArray& line : crcs.split('\n'))
        if (!line.isEmpty() && !line.startsWith('#'))
            ++n;
    return n;
}

// One stream's length in seconds, from its packets.
double streamSeconds(const MovieProbe::Result& probe, MovieProbe::Stream::Kind kind)
{
    const MovieProbe::Stream* s = probe.firstOf(kind);
    return s ? s->seconds : 0;
}

// `busy` processes of `yes > /dev/null` and `encodes` ffmpeg processes
// encoding a 1080p test pattern with libx265 to nowhere, until it goes.
struct Load {
    std::vector<std::unique_ptr<QProcess>> processes;
    Load(int busy, int encodes)
    {
        for (int i = 0; i < busy + encodes; ++i) {
            auto p = std::make_unique<QProcess>();
            p->setStandardOutputFile(QProcess::nullDevice());
            p->setStandardErrorFile(QProcess::nullDevice());
            if (i < busy)
                p->start(QStringLiteral("yes"), {});
            else
                p->start(QStringLiteral("ffmpeg"),
                         {QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"),
                          QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("testsrc2=size=1920x1080:rate=30"),
                          QStringLiteral("-c:v"), QStringLiteral("libx265"), QStringLiteral("-x265-params"),
                          QStringLiteral("log-level=error"), QStringLiteral("-f"), QStringLiteral("null"),
                          QStringLiteral("/dev/null")});
            p->waitForStarted();
            processes.push_back(std::move(p));
        }
    }
    ~Load()
    {
        for (auto& p : processes) {
            p->kill();
            p->waitForFinished();
        }
    }
};

bool measureLoad(const QString& display, const QDir& d, int busy, int encodes, double secs)
{
    Load load(busy, encodes);
    spin(3); // the load average climbs
    if (encodes > 0)
        std::printf("load: %d busy processes + %d libx265 encodes\n", busy, encodes);
    else
        std::printf("load: %d busy processes\n", busy);
    std::fflush(stdout);

    // Our engine, with the control beside it.
    const QString control = d.filePath(QStringLiteral("control.raw"));
    QProcess parec;
    parec.setStandardOutputFile(control);
    parec.start(QStringLiteral("parec"), {QStringLiteral("--device=stand_in_mic"), QStringLiteral("--format=s16le"),
                                          QStringLiteral("--rate=48000"), QStringLiteral("--channels=1"),
                                          QStringLiteral("--raw")});
    if (!parec.waitForStarted()) {
        std::fprintf(stderr, "parec did not start\n");
        return false;
    }
    const QString ours = d.filePath(QStringLiteral("engine.mov"));
    QFile::remove(ours);
    auto recording = startEngineRecording(display, kFps, ours);
    if (!recording)
        return false;
    spin(secs);
    const auto path = recording->engine->stop();
    const auto stats = recording->engine->stats();
    const double recorded = recording->engine->effectiveSeconds() + 1.0 / kFps;
    parec.terminate();
    parec.waitForFinished();
    if (!path) {
        std::fprintf(stderr, "engine gave no movie\n");
        return false;
    }
    QFile raw(control);
    raw.open(QIODevice::ReadOnly);
    const QByteArray ourPcm = soundOf(*path);
    const MovieProbe::Result probe = MovieProbe::probe(*path);

    // ffmpeg under the same load; past its length and as long again (a
    // starved encoder catching up), it is told to stop and finish its file,
    // and killed if it does not.
    const QString ff = d.filePath(QStringLiteral("ffmpeg.mov"));
    QFile::remove(ff);
    QProcess grab;
    grab.setStandardOutputFile(QProcess::nullDevice());
    grab.setStandardErrorFile(QProcess::nullDevice());
    grab.start(QStringLiteral("ffmpeg"),
               QStringList{QStringLiteral("-nostdin")}
                   + ffmpegGrabArgs(display, kWidth, kHeight, kFps, secs, {QStringLiteral("stand_in_mic")}, ff));
    const int limitMs = int((2 * secs + 30) * 1000);
    if (!grab.waitForFinished(limitMs)) {
        grab.terminate();
        const bool ended = grab.waitForFinished(kFfmpegGraceMs);
        std::fprintf(stderr, "ffmpeg still ran after %d s: %s\n", limitMs / 1000, ended ? "stopped" : "killed");
        if (!ended) {
            grab.kill();
            grab.waitForFinished();
        }
    }

    std::printf("  video duration: %.2f s\n", streamSeconds(probe, MovieProbe::Stream::Kind::Video));
    std::printf("  sound duration: %.2f s\n", streamSeconds(probe, MovieProbe::Stream::Kind::Audio));
    std::printf("  movie silence: %.2f s\n", silence(ourPcm));
    std::printf("  control silence: %.2f s\n", silence(raw.readAll()));
    std::printf("  first sound: %.2f s\n", firstSound(*path, ourPcm));
    std::printf("  frames written: %lld of %.0f expected\n", (long long)stats.writtenVideo, recorded * kFps);
    std::printf("  distinct pictures: %ld (ffmpeg %ld)\n", distinctPictures(*path), distinctPictures(ff));
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--scene") == 0)
        return runScene(std::atof(argv[2]));

    QCoreApplication app(argc, argv);
    double secs = 120;
    int busy = int(std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)));
    const QStringList args = app.arguments();
    // The loads by name: busy processes per B, other 1080p encodes.
    struct LoadKind {
        QString name;
        int busyPerB;
        int encodes;
    };
    const std::vector<LoadKind> kinds{{QStringLiteral("busy"), 1, 0}, {QStringLiteral("four"), 4, 0},
                                      {QStringLiteral("encodes"), 1, 2}};
    QStringList names;
    for (const LoadKind& k : kinds)
        names << k.name;
    QStringList loads;
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QStringLiteral("--seconds") && i + 1 < args.size()) {
            secs = args[++i].toDouble();
        } else if (args[i] == QStringLiteral("--busy") && i + 1 < args.size()) {
            busy = args[++i].toInt();
        } else if (args[i] == QStringLiteral("--load") && i + 1 < args.size() && names.contains(args[i + 1])) {
            loads << args[++i];
        } else {
            std::fprintf(stderr, "usage: %s [--seconds N] [--busy B] [--load busy|four|encodes]...\n", argv[0]);
            return 2;
        }
    }
    if (!(secs >= 10) || busy < 0) {
        std::fprintf(stderr, "--seconds must be at least 10 and --busy not negative\n");
        return 2;
    }
    if (loads.isEmpty())
        loads = names;

    QTemporaryDir dir;
    const QDir d(dir.path());
    Children children;
    const QString display = startXvfb(children, "1920x1080x24");
    if (display.isEmpty() || !startPulse(children, d))
        return 1;
    startSelf(children, {"--scene", std::to_string(kUntilEnded)});
    spin(2.5);
    std::printf("%.0f s at %dx%d@%d per recording, display %s\n", secs, kWidth, kHeight, kFps, qPrintable(display));
    bool ok = true;
    for (const LoadKind& k : kinds)
        if (loads.contains(k.name))
            ok = measureLoad(display, d, k.busyPerB * busy, k.encodes, secs) && ok;
    XSetIOErrorHandler(quietIOError);
    return ok ? 0 : 1;
}
