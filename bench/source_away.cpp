// Whether a source that goes away costs the other one its sound. A private
// PulseAudio daemon has the stand-in microphone (a remapped source, as a USB
// microphone appears) with a 440 Hz tone played into it, and an 880 Hz tone
// on the speakers for system audio. Our engine records N s on the synthetic
// screen through the real writer, microphone and system audio on, the
// speakers heard (so that `parec` can record what they play beside it, as the
// control of the system audio): once as a control run, and once with the
// microphone's source removed (`pactl unload-module`, a headset pulled out)
// for A s from the middle of the recording and then added again. Spans are
// counted on the recording's own clock, so a busy machine stretches them
// rather than cutting them short. With --busy B, B busy processes
// (`yes > /dev/null`) run beside both recordings.
//
//   bench_source_away [--seconds N] [--away A] [--busy B]    (defaults 20, 6, 0)
//
// Prints per run, one figure a line: the lengths of the movie's picture and
// sound, the silence inside its sound (10 ms blocks without an audible
// sample: while the microphone is away only the system audio sounds, so this
// is the system audio's silence) and inside the control's (what the speakers
// played, which a loaded machine's players break too), the "missing" lines the engine sent (sound
// told as lost under heavy load), the microphone's gap it told, and whether it
// said the microphone had no data.

#include "SyntheticBenchEngine.h"
#include "BenchAv.h"
#include "BenchRig.h"
#include "BenchSound.h"

#include "engine/EngineLines.h"
#include "engine/RecorderEngine.h"
#include "platform/ffmpeg/MovieProbe.h"
#include "platform/pulse/PulseAudioInput.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <optional>

using namespace corvessa;
using namespace benchrig;

namespace {

// The module that made the stand-in microphone; empty when there is none.
QString micModule()
{
    const QByteArray modules = run(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("modules")});
    for (const QByteArray& row : modules.split('\n'))
        if (row.contains("source_name=stand_in_mic"))
            return QString::fromUtf8(row.split('\t').value(0));
    return {};
}

bool pactl(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("pactl"), args);
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

struct Figures {
    double picture = 0;
    double sound = 0;
    double silence = 0;
    double controlSilence = 0;
    QStringList missing; // the lines telling sound lost under load
    QString gap;         // the microphone's gap line
    bool noData = false;
};

std::optional<Figures> record(const QString& movie, double seconds, std::optional<double> away)
{
    auto audio = std::make_shared<PulseAudioInput>();
    auto [display, source, engine] = syntheticEngine(640, 360, audio);
    QStringList lines;
    engine->onEvent = [&lines](const QString& line) { lines << line; };
    RecorderEngine::Config config;
    config.target = RecorderEngine::Target::display(display.id);
    config.fps = 30;
    config.microphoneID = QStringLiteral("stand_in_mic");
    config.systemAudio = true;
    config.muteSpeakers = false;
    config.cursorTheme = CursorTheme::hidden;
    config.outputURL = movie;
    QProcess control;
    const QString controlFile = movie + QStringLiteral(".raw");
    control.setStandardOutputFile(controlFile);
    control.start(QStringLiteral("parec"), {QStringLiteral("--device=speakers.monitor"), QStringLiteral("--format=s16le"),
                                            QStringLiteral("--rate=48000"), QStringLiteral("--channels=1"),
                                            QStringLiteral("--raw")});
    if (!control.waitForStarted())
        std::fprintf(stderr, "parec did not start\n");
    if (auto error = engine->startInner(config)) {
        std::fprintf(stderr, "engine start failed: %s\n", qPrintable(error->message));
        return std::nullopt;
    }
    const auto recordFor = [&](double span) {
        const double until = engine->effectiveSeconds() + span;
        while (engine->effectiveSeconds() < until)
            spin(0.05);
    };
    if (away) {
        recordFor((seconds - *away) / 2);
        const QString module = micModule();
        if (module.isEmpty() || !pactl({QStringLiteral("unload-module"), module})) {
            std::fprintf(stderr, "the microphone could not be removed\n");
            engine->stop();
            return std::nullopt;
        }
        recordFor(*away);
        if (!pactl({QStringLiteral("load-module"), QStringLiteral("module-remap-source"),
                    QStringLiteral("master=mic.monitor"), QStringLiteral("source_name=stand_in_mic")}))
            std::fprintf(stderr, "the microphone could not be added again\n");
        recordFor((seconds - *away) / 2);
    } else {
        recordFor(seconds);
    }
    const auto path = engine->stop();
    control.terminate();
    control.waitForFinished();
    spin(0.2); // the last lines
    if (!path)
        return std::nullopt;
    Figures f;
    const MovieProbe::Result probe = MovieProbe::probe(*path);
    f.picture = streamSeconds(probe, MovieProbe::Stream::Kind::Video);
    f.sound = streamSeconds(probe, MovieProbe::Stream::Kind::Audio);
    f.silence = silence(soundOf(*path));
    QFile raw(controlFile);
    if (raw.open(QIODevice::ReadOnly))
        f.controlSilence = silence(raw.readAll());
    const QString lost = QStringLiteral("heavy load");
    const QString gap = EngineLines::micGap.prefix();
    const QString noData = EngineLines::micDead.prefix();
    for (const QString& line : lines) {
        if (line.contains(lost))
            f.missing << line;
        else if (line.startsWith(gap))
            f.gap = line;
        else if (line.startsWith(noData))
            f.noData = true;
    }
    return f;
}

void print(const char* name, const Figures& f)
{
    std::printf("%s:\n", name);
    std::printf("  video duration: %.2f s\n", f.picture);
    std::printf("  sound duration: %.2f s\n", f.sound);
    std::printf("  movie silence: %.2f s\n", f.silence);
    std::printf("  control silence: %.2f s\n", f.controlSilence);
    std::printf("  missing-sound lines: %lld\n", static_cast<long long>(f.missing.size()));
    for (const QString& line : f.missing)
        std::printf("    %s\n", qPrintable(line));
    const auto told = QRegularExpression(QStringLiteral(" ([0-9.]+) s;")).match(f.gap);
    std::printf("  microphone gap told: %s\n", told.hasMatch() ? qPrintable(told.captured(1) + QStringLiteral(" s")) : "-");
    std::printf("  \"no data\" told: %s\n", f.noData ? "yes" : "no");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    double seconds = 20;
    double away = 6;
    int busy = 0;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QStringLiteral("--seconds") && i + 1 < args.size()) {
            seconds = args[++i].toDouble();
        } else if (args[i] == QStringLiteral("--away") && i + 1 < args.size()) {
            away = args[++i].toDouble();
        } else if (args[i] == QStringLiteral("--busy") && i + 1 < args.size()) {
            busy = args[++i].toInt();
        } else {
            std::fprintf(stderr, "usage: %s [--seconds N] [--away A] [--busy B]\n", argv[0]);
            return 2;
        }
    }
    if (!(away >= 1) || !(seconds >= away + 4) || busy < 0) {
        std::fprintf(stderr, "--away must be at least 1, --seconds at least 4 more, --busy not negative\n");
        return 2;
    }

    QTemporaryDir dir;
    const QDir d(dir.path());
    Children children;
    if (!startPulse(children, d)) {
        std::fprintf(stderr, "pulseaudio did not start\n");
        return 1;
    }
    // Two tones, told apart: the voice into the microphone, the music on the speakers.
    const QString voice = d.filePath(QStringLiteral("voice.wav"));
    const QString music = d.filePath(QStringLiteral("music.wav"));
    const double toneSeconds = 2 * seconds + 60;
    run(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"),
                                   QStringLiteral("lavfi"), QStringLiteral("-i"),
                                   QStringLiteral("sine=frequency=880:sample_rate=48000:duration=%1").arg(toneSeconds),
                                   QStringLiteral("-ac"), QStringLiteral("2"), QStringLiteral("-y"), music});
    if (!writeTone(voice, toneSeconds) || !QFile::exists(music)) {
        std::fprintf(stderr, "the tones could not be written\n");
        return 1;
    }
    QProcess voicePlayer, musicPlayer;
    voicePlayer.start(QStringLiteral("paplay"), {QStringLiteral("--latency-msec=20"), QStringLiteral("--device=mic"), voice});
    musicPlayer.start(QStringLiteral("paplay"),
                      {QStringLiteral("--latency-msec=20"), QStringLiteral("--device=speakers"), music});
    if (!voicePlayer.waitForStarted() || !musicPlayer.waitForStarted()) {
        std::fprintf(stderr, "paplay did not start\n");
        return 1;
    }
    spin(0.5);

    std::printf("microphone away %.1f s in the middle of %.1f s, beside %d busy processes\n", away, seconds, busy);
    std::fflush(stdout);
    int failures = 0;
    {
        Load load(busy, 0);
        for (const bool removed : {false, true}) {
            const auto figures = record(d.filePath(removed ? QStringLiteral("away.mov") : QStringLiteral("control.mov")),
                                        seconds, removed ? std::optional(away) : std::nullopt);
            if (figures)
                print(removed ? "microphone away" : "control", *figures);
            else
                ++failures;
        }
    }
    for (QProcess* p : {&voicePlayer, &musicPlayer}) {
        p->kill();
        p->waitForFinished();
    }
    if (failures)
        std::printf("%d recording(s) gave no movie\n", failures);
    return failures ? 1 : 0;
}
