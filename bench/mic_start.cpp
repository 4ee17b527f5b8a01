// How late the sound starts in a movie. A private PulseAudio daemon has a
// virtual microphone as many desktops make one: a null sink "mic" whose monitor
// is remapped into a source ("stand_in_mic"), with another program (paplay)
// playing a tone into the sink all along, and another tone playing on the
// speakers for system audio. The engine records a few seconds on the synthetic
// screen through the real writer, several times for each combination of
// sources (the microphone, the monitor itself as microphone, system audio with
// the speakers muted and heard, both), and each movie is decoded with ffmpeg.
//
//   bench_mic_start [--runs N] [--seconds S]    (defaults 5 and 2)
//
// Prints, per combination, the first audible sample minus the first frame in
// each movie, and their median and worst.

#include "SyntheticBenchEngine.h"
#include "BenchAv.h"
#include "BenchRig.h"

#include "engine/RecorderEngine.h"
#include "platform/pulse/PulseAudioInput.h"
#include "platform/synthetic/SyntheticPowerControl.h"
#include "platform/synthetic/SyntheticScreenSource.h"

#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdlib>

using namespace corvessa;
using benchrig::firstSoundAfterFirstFrame;
using benchrig::spin;
using benchrig::writeTone;

namespace {

struct Sources {
    const char* name;
    const char* microphone; // null: none
    bool systemAudio;
    bool muteSpeakers = true;
};

// One recording: the start latency in seconds, or nothing.
std::optional<double> measure(const Sources& sources, double secs, const QString& movie)
{
    auto audio = std::make_shared<PulseAudioInput>();
    auto [display, source, engine] = benchrig::syntheticEngine(640, 360, audio);
    RecorderEngine::Config config;
    config.target = RecorderEngine::Target::display(display.id);
    config.fps = 30;
    if (sources.microphone)
        config.microphoneID = QString::fromLatin1(sources.microphone);
    config.systemAudio = sources.systemAudio;
    config.muteSpeakers = sources.muteSpeakers;
    config.cursorTheme = CursorTheme::hidden;
    config.outputURL = movie;
    if (auto error = engine->startInner(config)) {
        std::fprintf(stderr, "engine start failed: %s\n", qPrintable(error->message));
        return std::nullopt;
    }
    spin(secs);
    const auto path = engine->stop();
    if (!path)
        return std::nullopt;
    const double latency = firstSoundAfterFirstFrame(*path);
    QFile::remove(*path);
    if (latency < 0)
        return std::nullopt;
    return latency;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int runs = 5;
    double secs = 2;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QStringLiteral("--runs") && i + 1 < args.size()) {
            runs = args[++i].toInt();
        } else if (args[i] == QStringLiteral("--seconds") && i + 1 < args.size()) {
            secs = args[++i].toDouble();
        } else {
            std::fprintf(stderr, "usage: %s [--runs N] [--seconds S]\n", argv[0]);
            return 2;
        }
    }
    if (runs < 1 || !(secs >= 1)) {
        std::fprintf(stderr, "--runs must be at least 1 and --seconds at least 1\n");
        return 2;
    }

    std::printf("sound start latency (first audible sample - first frame), %d runs of %.1f s\n", runs, secs);
    int failures = 0;
    const Sources combinations[] = {{"stand_in_mic", "stand_in_mic", false},
                                    {"mic.monitor", "mic.monitor", false},
                                    {"system audio", nullptr, true},
                                    {"system, heard", nullptr, true, false},
                                    {"mic + system", "stand_in_mic", true}};
    for (const Sources& sources : combinations) {
        std::vector<double> ms;
        for (int i = 0; i < runs; ++i) {
            // Each run from a cold start, as the first recording after login:
            // a new daemon, and the tone playing from another program as a voice would.
            QTemporaryDir dir;
            const QDir d(dir.path());
            benchrig::Children children;
            const QString tone = d.filePath(QStringLiteral("tone.wav"));
            if (!benchrig::startPulse(children, d) || !writeTone(tone, secs + 5)) {
                std::fprintf(stderr, "pulseaudio did not start\n");
                return 1;
            }
            QProcess voice, music;
            voice.start(QStringLiteral("paplay"),
                        {QStringLiteral("--latency-msec=20"), QStringLiteral("--device=mic"), tone});
            music.start(QStringLiteral("paplay"),
                        {QStringLiteral("--latency-msec=20"), QStringLiteral("--device=speakers"), tone});
            if (!voice.waitForStarted() || !music.waitForStarted()) {
                std::fprintf(stderr, "paplay did not start\n");
                return 1;
            }
            spin(0.5);
            const auto latency = measure(sources, secs, d.filePath(QStringLiteral("mic.mov")));
            if (latency)
                ms.push_back(*latency * 1000);
            else
                ++failures;
            for (QProcess* p : {&voice, &music}) {
                p->kill();
                p->waitForFinished();
            }
        }
        std::printf("  %-13s", sources.name);
        for (double v : ms)
            std::printf(" %6.0f", v);
        if (!ms.empty()) {
            std::sort(ms.begin(), ms.end());
            std::printf("   median %.0f ms, worst %.0f ms", ms[ms.size() / 2], ms.back());
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    if (failures)
        std::printf("  %d recording(s) gave no movie or no sound\n", failures);
    return failures ? 1 : 0;
}
