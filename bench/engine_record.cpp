// Records the synthetic screen (a moving pattern) with the synthetic tone
// microphone through the whole engine: compositor with the drawn cursor,
// audio normaliser and mixer, the real movie writer (libx265 + AAC).
//
//   bench_engine_record [--seconds N] [--sizes 1920x1080,3840x2160] [--fps 30] [--cursor system|hidden]
//
// Each size runs in a process of its own, so the peak memory is that size's.
// Prints per size: CPU seconds per recorded second (the whole process), peak
// resident memory (VmHWM), frames written against frames expected, frames
// dropped and repeated, and the time from stop() to the finished file.

#include "SyntheticBenchEngine.h"
#include "engine/RecorderEngine.h"
#include "platform/DisplayInfo.h"
#include "platform/ffmpeg/MovieProbe.h"
#include "platform/synthetic/SyntheticAudioInput.h"
#include "platform/synthetic/SyntheticPowerControl.h"
#include "platform/synthetic/SyntheticScreenSource.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <sys/resource.h>
#include <thread>

using namespace corvessa;
using Clock = std::chrono::steady_clock;

namespace {

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Peak resident set of this process in MiB.
double peakMiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

void spin(double seconds)
{
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

int recordOne(int width, int height, int fps, double seconds, CursorTheme cursor)
{
    QTemporaryDir dir;
    auto audio = std::make_shared<SyntheticAudioInput>();
    auto [display, source, engine] = benchrig::syntheticEngine(width, height, audio);
    QStringList lines;
    engine->onEvent = [&lines](const QString& line) { lines << line; };

    RecorderEngine::Config config;
    config.target = RecorderEngine::Target::display(display.id);
    config.fps = fps;
    config.cursorTheme = cursor;
    config.microphoneID = QString();
    config.outputURL = dir.filePath(QStringLiteral("bench.mov"));

    if (auto error = engine->startInner(config)) {
        std::fprintf(stderr, "start failed: %s\n", qPrintable(error->message));
        return 1;
    }
    const double cpu0 = cpuSeconds();
    const auto t0 = Clock::now();
    spin(seconds);
    const double cpu1 = cpuSeconds();
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();

    const auto stopAt = Clock::now();
    const auto path = engine->stop();
    const double stopSeconds = std::chrono::duration<double>(Clock::now() - stopAt).count();
    if (!path) {
        std::fprintf(stderr, "stop gave no movie\n");
        for (const auto& l : lines)
            std::fprintf(stderr, "  %s\n", qPrintable(l));
        return 1;
    }
    const auto stats = engine->stats();
    const double recorded = engine->effectiveSeconds() + 1.0 / fps;
    const auto probe = MovieProbe::probe(*path);
    const auto* video = probe.firstOf(MovieProbe::Stream::Kind::Video);
    const auto* sound = probe.firstOf(MovieProbe::Stream::Kind::Audio);

    std::printf("%dx%d@%d cursor=%s: %.1f s recorded\n", width, height, fps,
                cursor == CursorTheme::hidden ? "hidden" : "system", recorded);
    std::printf("  CPU per recorded second: %.3f cores\n", (cpu1 - cpu0) / wall);
    std::printf("  peak memory (VmHWM):     %.0f MiB\n", peakMiB());
    std::printf("  frames written:          %lld of %.0f expected (file: %lld packets, %.2f s; audio %.2f s)\n",
                (long long)stats.writtenVideo, recorded * fps, video ? (long long)video->packets : -1LL,
                video ? video->seconds : 0.0, sound ? sound->seconds : 0.0);
    std::printf("  frames dropped:          %lld\n", (long long)stats.droppedVideo);
    std::printf("  frames repeated:         %lld\n", (long long)stats.repeatedVideo);
    std::printf("  audio discarded/overlap/resyncs: %lld/%lld/%lld\n", (long long)stats.audioDiscarded,
                (long long)stats.audioOverlap, (long long)stats.audioResyncs);
    std::printf("  stop to complete:        %.3f s\n", stopSeconds);
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    double seconds = 60;
    int fps = 30;
    QStringList sizes{QStringLiteral("1920x1080"), QStringLiteral("3840x2160")};
    QString only;
    CursorTheme cursor = CursorTheme::system;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString a = args[i];
        const QString next = i + 1 < args.size() ? args[i + 1] : QString();
        if (a == QStringLiteral("--seconds")) {
            seconds = next.toDouble();
            ++i;
        } else if (a == QStringLiteral("--sizes")) {
            sizes = next.split(QLatin1Char(','));
            ++i;
        } else if (a == QStringLiteral("--fps")) {
            fps = next.toInt();
            ++i;
        } else if (a == QStringLiteral("--cursor")) {
            cursor = next == QStringLiteral("hidden") ? CursorTheme::hidden : CursorTheme::system;
            ++i;
        } else if (a == QStringLiteral("--only")) {
            only = next;
            ++i;
        } else {
            std::fprintf(stderr, "usage: %s [--seconds N] [--sizes WxH,...] [--fps N] [--cursor system|hidden]\n",
                         argv[0]);
            return 2;
        }
    }
    if (!(seconds > 0) || fps < 1) {
        std::fprintf(stderr, "bad --seconds or --fps\n");
        return 2;
    }

    if (!only.isEmpty()) {
        const QStringList wh = only.split(QLatin1Char('x'));
        if (wh.size() != 2 || wh[0].toInt() < 2 || wh[1].toInt() < 2) {
            std::fprintf(stderr, "bad size %s\n", qPrintable(only));
            return 2;
        }
        return recordOne(wh[0].toInt(), wh[1].toInt(), fps, seconds, cursor);
    }

    int failures = 0;
    for (const QString& size : sizes) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--only"), size, QStringLiteral("--seconds"), QString::number(seconds),
                     QStringLiteral("--fps"), QString::number(fps), QStringLiteral("--cursor"),
                     cursor == CursorTheme::hidden ? QStringLiteral("hidden") : QStringLiteral("system")});
        child.waitForFinished(-1);
        if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
            ++failures;
    }
    return failures == 0 ? 0 : 1;
}
