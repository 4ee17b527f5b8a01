// How much of a recording a kill -9 loses: the whole engine records the
// synthetic screen (still, or a moving pattern) with the tone microphone
// through the real movie writer in a child process, which is killed after a
// while; the file left behind is read back.
//
//   bench_crash_loss [--kills 6,12,20] [--size 1920x1080] [--fps 30]
//
// Prints per screen and kill time: the seconds the engine had handed to the
// writer (its own count, written by the child every 20 ms), the wall-clock
// seconds since the start, and the video and audio seconds in the file; the
// loss is the difference.

#include "SyntheticBenchEngine.h"
#include "engine/RecorderEngine.h"
#include "platform/DisplayInfo.h"
#include "platform/ffmpeg/MovieProbe.h"
#include "platform/synthetic/SyntheticAudioInput.h"
#include "platform/synthetic/SyntheticPowerControl.h"
#include "platform/synthetic/SyntheticScreenSource.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <QTemporaryDir>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

using namespace corvessa;
using Clock = std::chrono::steady_clock;

namespace {

void spin(double seconds)
{
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// The child: records until it is killed, writing "<handed over> <wall>" seconds.
int recordUntilKilled(const QString& movie, bool still, int width, int height, int fps)
{
    auto audio = std::make_shared<SyntheticAudioInput>();
    auto [display, source, engine] = benchrig::syntheticEngine(width, height, audio);

    RecorderEngine::Config config;
    config.target = RecorderEngine::Target::display(display.id);
    config.fps = fps;
    config.cursorTheme = CursorTheme::hidden;
    config.microphoneID = QString();
    config.outputURL = movie;
    if (auto error = engine->startInner(config)) {
        std::fprintf(stderr, "start failed: %s\n", qPrintable(error->message));
        return 1;
    }
    while (engine->effectiveSeconds() <= 0)
        spin(0.001);
    // Movie time zero is the first frame's.
    const auto t0 = Clock::now() - std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(engine->effectiveSeconds()));
    if (still)
        source->setDeliveryPaused(true); // from here on only the heartbeat's repeats
    for (;;) {
        QSaveFile out(movie + QStringLiteral(".recorded"));
        if (out.open(QIODevice::WriteOnly)) {
            const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
            out.write(QByteArray::number(engine->effectiveSeconds(), 'f', 3) + ' ' + QByteArray::number(wall, 'f', 3));
            out.commit();
        }
        spin(0.02);
    }
}

bool measure(bool still, double killAfter, const QString& size, int fps)
{
    QTemporaryDir dir;
    const QString movie = dir.filePath(QStringLiteral("crash.mov"));
    const QString recorded = movie + QStringLiteral(".recorded");
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--child"), movie, QStringLiteral("--screen"),
                 still ? QStringLiteral("still") : QStringLiteral("moving"), QStringLiteral("--size"), size,
                 QStringLiteral("--fps"), QString::number(fps)});
    if (!child.waitForStarted())
        return false;
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (!QFile::exists(recorded) && Clock::now() < deadline)
        spin(0.01);
    spin(killAfter);
    ::kill(pid_t(child.processId()), SIGKILL);
    child.waitForFinished(-1);

    QFile f(recorded);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> values = f.readAll().split(' ');
    const double handed = values.value(0).toDouble();
    const double wall = values.value(1).toDouble();
    const auto probe = MovieProbe::probe(movie);
    const auto* video = probe.firstOf(MovieProbe::Stream::Kind::Video);
    const auto* sound = probe.firstOf(MovieProbe::Stream::Kind::Audio);
    const double v = video ? video->seconds : 0, a = sound ? sound->seconds : 0;
    std::printf("%-6s kill at %5.1f s: handed over %6.2f s, wall %6.2f s; file video %6.2f s (lost %5.2f), "
                "audio %6.2f s (lost %5.2f)\n",
                still ? "still" : "moving", killAfter, handed, wall, v, wall - v, a, wall - a);
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QString child, screen = QStringLiteral("moving"), size = QStringLiteral("1920x1080");
    QList<double> kills{6, 12, 20};
    int fps = 30;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString a = args[i];
        const QString next = i + 1 < args.size() ? args[i + 1] : QString();
        if (a == QStringLiteral("--child")) {
            child = next;
        } else if (a == QStringLiteral("--screen")) {
            screen = next;
        } else if (a == QStringLiteral("--size")) {
            size = next;
        } else if (a == QStringLiteral("--fps")) {
            fps = next.toInt();
        } else if (a == QStringLiteral("--kills")) {
            kills.clear();
            for (const QString& k : next.split(QLatin1Char(',')))
                kills << k.toDouble();
        } else {
            std::fprintf(stderr, "usage: %s [--kills 6,12,20] [--size WxH] [--fps N]\n", argv[0]);
            return 2;
        }
        ++i;
    }
    const QStringList wh = size.split(QLatin1Char('x'));
    if (wh.size() != 2 || wh[0].toInt() < 2 || wh[1].toInt() < 2 || fps < 1) {
        std::fprintf(stderr, "bad --size or --fps\n");
        return 2;
    }
    if (!child.isEmpty())
        return recordUntilKilled(child, screen == QStringLiteral("still"), wh[0].toInt(), wh[1].toInt(), fps);

    std::printf("%s@%d; loss = wall-clock seconds recorded before the kill - seconds in the file\n", qPrintable(size), fps);
    int failures = 0;
    for (const bool still : {true, false})
        for (const double k : kills)
            failures += measure(still, k, size, fps) ? 0 : 1;
    return failures == 0 ? 0 : 1;
}
