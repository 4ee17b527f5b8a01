// Whether sound survives a loaded machine. A private Xvfb at 1920x1080 shows a
// moving square; a scene (this program with --scene) plays a steady 440 Hz tone
// into the stand-in microphone of a private PulseAudio daemon, with a loud
// 1 kHz mark every 5 s while the screen flashes white for one frame. Under B
// busy processes (`yes > /dev/null`), our engine records N s at 30 fps while
// `parec` records the same microphone as a control; then ffmpeg (x11grab +
// pulse) records N s under the same load. Then again with twice the load.
//
//   bench_sound_under_load [--seconds N] [--busy B]    (defaults 120 and one per CPU)
//
// Prints per load, one figure a line: the silence inside the movie's sound
// (10 ms blocks without an audible sample, between the first and the last
// audible one), the same for the control and for ffmpeg, the engine's counts of
// late, overlapping and resynchronised audio, frames written against expected,
// and the mark-minus-flash offset over the last marks.

#include "BenchAv.h"
#include "BenchEngine.h"
#include "BenchRig.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <optional>
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
constexpr int kMarkThreshold = 20000;   // only a mark gets this loud
constexpr int kAudible = 100;           // above digital silence and the encoder's rounding

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

// Mark minus flash, in seconds, averaged over the last three pairs.
std::optional<double> offsetAtEnd(const QString& movie, const QByteArray& pcm)
{
    const double audioStart = probeStream(movie, QStringLiteral("a:0"), QStringLiteral("stream=start_time")).toDouble();
    const std::vector<double> offsets =
        onsetMinusFlash(flashTimes(movie), loudOnsets(pcm, audioStart, kMarkThreshold, 1.0), 1.0);
    if (offsets.empty())
        return std::nullopt;
    const size_t k = std::min<size_t>(3, offsets.size());
    return std::accumulate(offsets.end() - long(k), offsets.end(), 0.0) / double(k);
}

// `count` processes of `yes > /dev/null`.
struct Load {
    std::vector<std::unique_ptr<QProcess>> busy;
    explicit Load(int count)
    {
        for (int i = 0; i < count; ++i) {
            auto p = std::make_unique<QProcess>();
            p->setStandardOutputFile(QProcess::nullDevice());
            p->start(QStringLiteral("yes"), {});
            p->waitForStarted();
            busy.push_back(std::move(p));
        }
    }
    ~Load()
    {
        for (auto& p : busy) {
            p->kill();
            p->waitForFinished();
        }
    }
};

bool measureLoad(const QString& display, const QDir& d, int busy, double secs)
{
    Load load(busy);
    spin(3); // the load average climbs
    std::printf("load: %d busy processes\n", busy);

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
    QString late = QStringLiteral("no [audio-sync] line");
    static const QRegularExpression syncLine(QStringLiteral("\\[audio-sync\\] (.*)"));
    for (const QString& line : recording->lines) {
        if (const auto m = syncLine.match(line); m.hasMatch())
            late = m.captured(1);
    }
    QFile raw(control);
    raw.open(QIODevice::ReadOnly);
    const QByteArray ourPcm = soundOf(*path);
    const auto ourOffset = offsetAtEnd(*path, ourPcm);

    // ffmpeg under the same load.
    const QString ff = d.filePath(QStringLiteral("ffmpeg.mov"));
    QProcess grab;
    grab.setProcessChannelMode(QProcess::SeparateChannels);
    grab.start(QStringLiteral("ffmpeg"),
               ffmpegGrabArgs(display, kWidth, kHeight, kFps, secs, {QStringLiteral("stand_in_mic")}, ff));
    grab.waitForFinished(-1);
    const long long ffFrames =
        probeStream(ff, QStringLiteral("v:0"), QStringLiteral("stream=nb_read_frames"), true).toLongLong();

    std::printf("  movie silence: %.2f s\n", silence(ourPcm));
    std::printf("  control silence: %.2f s\n", silence(raw.readAll()));
    std::printf("  ffmpeg silence: %.2f s\n", silence(soundOf(ff)));
    std::printf("  engine audio: %s (48 kHz frames)\n", qPrintable(late));
    std::printf("  frames written: %lld of %.0f expected\n", (long long)stats.writtenVideo, recorded * kFps);
    std::printf("  engine frames dropped: %lld, repeated: %lld\n", (long long)stats.droppedVideo,
                (long long)stats.repeatedVideo);
    std::printf("  ffmpeg frames written: %lld of %.0f expected\n", ffFrames, secs * kFps);
    if (ourOffset)
        std::printf("  A/V offset at end (mark - flash): %+.1f ms\n", *ourOffset * 1000);
    else
        std::printf("  A/V offset at end: no mark paired with a flash\n");
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
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QStringLiteral("--seconds") && i + 1 < args.size()) {
            secs = args[++i].toDouble();
        } else if (args[i] == QStringLiteral("--busy") && i + 1 < args.size()) {
            busy = args[++i].toInt();
        } else {
            std::fprintf(stderr, "usage: %s [--seconds N] [--busy B]\n", argv[0]);
            return 2;
        }
    }
    if (!(secs >= 10) || busy < 0) {
        std::fprintf(stderr, "--seconds must be at least 10 and --busy not negative\n");
        return 2;
    }

    QTemporaryDir dir;
    const QDir d(dir.path());
    Children children;
    const QString display = startXvfb(children, "1920x1080x24");
    if (display.isEmpty() || !startPulse(children, d))
        return 1;
    startSelf(children, {"--scene", std::to_string(2 * (2 * secs + 60))});
    spin(2.5);
    std::printf("%.0f s at %dx%d@%d per recording, display %s\n", secs, kWidth, kHeight, kFps, qPrintable(display));
    bool ok = true;
    for (int b : {busy, 2 * busy})
        ok = measureLoad(display, d, b, secs) && ok;
    XSetIOErrorHandler(quietIOError);
    return ok ? 0 : 1;
}
