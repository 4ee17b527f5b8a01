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
// With --program the built program records instead of the engine alone, as a
// user runs it (openbox, its toolbar shown, microphone and system audio on,
// Mute Speakers as by default, the countdown, its own sounds off so that they
// are not taken for the tone): launched under each load, Ctrl+Alt+R, N s,
// Ctrl+Alt+S and the stop question's red button, the control beside it; no
// ffmpeg peer runs. Then, under B busy processes and with an 880 Hz tone on
// the speakers as well, the program is launched once for each combination of
// sources and records a few seconds.
//
//   bench_sound_under_load [--seconds N] [--busy B] [--load busy|four|encodes]... [--program]
//
// Defaults: 120 s, one busy process per CPU, all three loads in that order;
// each --load runs only the loads named.
//
// Prints per load, one figure a line: the lengths of the movie's picture and
// sound, the silence inside the movie's sound (10 ms blocks without an audible
// sample, between the first and the last audible one) and inside the
// control's, when the movie's first sound comes, the frames written against
// those expected, and the pictures that differ from the one before in our
// movie and in ffmpeg's ("-" with --program). With --program, then the first
// sound of each combination's movie ("none" when it has no audible sample;
// the benchmark then exits 1).

#include "BenchAv.h"
#include "BenchEngine.h"
#include "BenchProgram.h"
#include "BenchRig.h"
#include "BenchSound.h"

#include "platform/ffmpeg/MovieProbe.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
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
// The scene plays this long: until the benchmark ends it (SIGTERM), however
// long the loads take.
constexpr double kUntilEnded = 1e7;
// How long ffmpeg may take to finish its file once told to stop.
constexpr int kFfmpegGraceMs = 20000;
// How long the program records for each combination of sources.
constexpr double kStartSeconds = 4;

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

// An 880 Hz tone on the speakers, at the microphone's level, for `total` s.
int playSpeakers(double total)
{
    int err = 0;
    pa_simple* out = openScenePlayback("speakers", kRate, &err);
    if (!out) {
        std::fprintf(stderr, "speakers: no playback: %s\n", pa_strerror(err));
        return 1;
    }
    constexpr long kChunk = 480;
    std::vector<int16_t> chunk(kChunk);
    for (long i = 0; i < long(total * kRate); i += kChunk) {
        for (long j = 0; j < kChunk; ++j)
            chunk[size_t(j)] = int16_t(kToneLevel * std::sin(2 * M_PI * 880.0 * double(i + j) / kRate));
        if (pa_simple_write(out, chunk.data(), chunk.size() * 2, &err) < 0)
            break;
    }
    pa_simple_free(out);
    return 0;
}

// Our engine, with the control beside it, then ffmpeg under the same load;
// past its length and as long again (a starved encoder catching up), ffmpeg
// is told to stop and finish its file, and killed if it does not.
bool measureEngine(const QString& display, const QDir& d, double secs)
{
    Control control(d.filePath(QStringLiteral("control.raw")));
    if (!control.started()) {
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
    const QByteArray controlPcm = control.stop();
    if (!path) {
        std::fprintf(stderr, "engine gave no movie\n");
        return false;
    }

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
    printSoundFigures(*path, controlPcm, (long long)stats.writtenVideo, recorded * kFps, distinctPictures(ff));
    return true;
}

// The program, launched under the load, records `secs` from Ctrl+Alt+R to
// Ctrl+Alt+S with the control beside it, and ends. Its frames are the movie's
// video packets; those expected run from the recording's start (its journal
// appears, a moment before the first frame) to the stop key (the recording
// holds from there while the question is asked), by this benchmark's clock,
// to within its 0.1 s polling.
struct ProgramMovie {
    QString path;
    QByteArray controlPcm;
    double recorded = 0;
};

std::optional<ProgramMovie> recordProgram(Children& children, const ProgramHome& home, const QDir& d, double secs)
{
    for (const QString& old : savedMovies(home))
        QFile::remove(old);
    const pid_t program = launchProgram(children, home);
    if (program < 0)
        return std::nullopt;
    Control control(d.filePath(QStringLiteral("control.raw")));
    if (!control.started()) {
        std::fprintf(stderr, "parec did not start\n");
        endProgram(children, program);
        return std::nullopt;
    }
    if (!startRecording(home)) {
        endProgram(children, program);
        return std::nullopt;
    }
    const auto started = Clock::now();
    spin(secs);
    const double recorded = std::chrono::duration<double>(Clock::now() - started).count();
    const bool saved = stopRecording(home);
    ProgramMovie movie{QString(), control.stop(), recorded};
    endProgram(children, program);
    const QStringList movies = savedMovies(home);
    if (!saved || movies.isEmpty()) {
        std::fprintf(stderr, "the program saved no movie\n");
        return std::nullopt;
    }
    movie.path = movies.last();
    return movie;
}

bool measureProgram(Children& children, const ProgramHome& home, const QDir& d, double secs)
{
    const auto movie = recordProgram(children, home, d, secs);
    if (!movie)
        return false;
    const MovieProbe::Stream* video = MovieProbe::probe(movie->path).firstOf(MovieProbe::Stream::Kind::Video);
    printSoundFigures(movie->path, movie->controlPcm, video ? (long long)video->packets : 0, movie->recorded * kFps,
                      std::nullopt);
    return true;
}

bool measureLoad(Children& children, const QString& display, const ProgramHome* home, const QDir& d, int busy,
                 int encodes, double secs)
{
    Load load(busy, encodes);
    spin(3); // the load average climbs
    printLoad(busy, encodes);
    return home ? measureProgram(children, *home, d, secs) : measureEngine(display, d, secs);
}

// The program's first sound after Ctrl+Alt+R for each combination of sources,
// each from its own launch, with a tone on the speakers too.
bool measureStarts(Children& children, const ProgramHome& home, const QDir& d, int busy)
{
    struct Sources {
        const char* name;
        bool mic;
        bool system;
        bool muteSpeakers;
    };
    const Sources combinations[] = {{"microphone", true, false, true},
                                    {"system audio, speakers muted", false, true, true},
                                    {"system audio, heard", false, true, false},
                                    {"both, speakers muted", true, true, true},
                                    {"both, heard", true, true, false}};
    startSelf(children, {"--speakers", std::to_string(kUntilEnded)});
    Load load(busy, 0);
    spin(3);
    std::printf("first sound after Ctrl+Alt+R, %d busy processes\n", busy);
    bool ok = true;
    for (const Sources& s : combinations) {
        setProgramDefaults(home, QJsonObject{{QStringLiteral("micOn"), s.mic},
                                             {QStringLiteral("systemAudio"), s.system},
                                             {QStringLiteral("muteSpeakers"), s.muteSpeakers}});
        const auto movie = recordProgram(children, home, d, kStartSeconds);
        const double first = movie ? firstSound(movie->path, soundOf(movie->path)) : -1;
        if (first < 0)
            std::printf("  %s: none\n", s.name);
        else
            std::printf("  %s: %.2f s\n", s.name, first);
        std::fflush(stdout);
        ok = ok && first >= 0;
    }
    setProgramDefaults(home, QJsonObject{{QStringLiteral("micOn"), true},
                                         {QStringLiteral("systemAudio"), true},
                                         {QStringLiteral("muteSpeakers"), true}});
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--scene") == 0)
        return runScene(std::atof(argv[2]));
    if (argc == 3 && std::strcmp(argv[1], "--speakers") == 0)
        return playSpeakers(std::atof(argv[2]));

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
    bool program = false;
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QStringLiteral("--seconds") && i + 1 < args.size()) {
            secs = args[++i].toDouble();
        } else if (args[i] == QStringLiteral("--busy") && i + 1 < args.size()) {
            busy = args[++i].toInt();
        } else if (args[i] == QStringLiteral("--load") && i + 1 < args.size() && names.contains(args[i + 1])) {
            loads << args[++i];
        } else if (args[i] == QStringLiteral("--program")) {
            program = true;
        } else {
            std::fprintf(stderr, "usage: %s [--seconds N] [--busy B] [--load busy|four|encodes]... [--program]\n",
                         argv[0]);
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
    std::optional<ProgramHome> home;
    if (program) {
        home = prepareProgramHome(d);
        setProgramDefaults(*home, QJsonObject{{QStringLiteral("fps"), kFps},
                                              {QStringLiteral("soundTick"), false},
                                              {QStringLiteral("soundStart"), false},
                                              {QStringLiteral("soundEnd"), false},
                                              {QStringLiteral("soundPause"), false}});
        startWindowManager(children);
    }
    startSelf(children, {"--scene", std::to_string(kUntilEnded)});
    spin(2.5);
    std::printf("%.0f s at %dx%d@%d per recording through %s, display %s\n", secs, kWidth, kHeight, kFps,
                program ? "the program" : "the engine", qPrintable(display));
    bool ok = true;
    for (const LoadKind& k : kinds)
        if (loads.contains(k.name))
            ok = measureLoad(children, display, home ? &*home : nullptr, d, k.busyPerB * busy, k.encodes, secs) && ok;
    if (home)
        ok = measureStarts(children, *home, d, busy) && ok;
    XSetIOErrorHandler(quietIOError);
    return ok ? 0 : 1;
}
