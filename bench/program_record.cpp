// The whole program recording, with its toolbar shown, against the engine
// alone. A private Xvfb (1920x1080) with openbox, a private PulseAudio, and a
// scene (this program with --scene: a square moving over dark grey at 60 fps);
// the program is started with microphone and system audio on and its drawn
// cursor off (so that it records what the engine alone records), Ctrl+Alt+R
// starts the recording through its global hot key, and after the given time
// SIGTERM saves it. From five seconds in, its resident memory and CPU time are read from /proc every
// five seconds. Then the engine alone records the same scene with the same
// sources (at most two minutes).
//
//   bench_program_record [minutes]      (default 10; fractions allowed)
//   bench_program_record --first-sound [runs] [busy]   (defaults 5 and 0)
//
// With --first-sound, a tone plays into the microphone and another on the
// speakers all along, beside `busy` processes of `yes`; each run starts the
// program afresh, records 3 s and saves with SIGTERM. Prints the first audible
// sample minus the first frame of each movie, their median and worst, and
// exits 1 when a movie has no sound.
// Prints the samples, `rss growth: <MB> MB/min` over the last half of the
// recording (the median slope between samples), and the CPU seconds per
// recorded second of the program and of the engine alone. CORVESSA_PROGRAM
// names another build of the program to run instead of this build's. With
// PROGRAM_RECORD_WRAPPER set (a command and its arguments, such as
// "heaptrack -o /tmp/corvessa"), the program runs under it; the memory and CPU
// figures are then the wrapper's.

#include "BenchAv.h"
#include "BenchEngine.h"
#include "BenchRig.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

// X11 last: its macros clash with names in Qt.
#include <X11/Xlib.h>

using namespace corvessa;
using namespace benchrig;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFps = 30;
constexpr double kSampleSeconds = 5;
constexpr double kEngineSecondsMax = 120;

int runScene(double total)
{
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy)
        return 1;
    const int screen = DefaultScreen(dpy);
    XSetWindowAttributes attrs{};
    attrs.background_pixel = 0x202020;
    const Window win = XCreateWindow(dpy, RootWindow(dpy, screen), 0, 0, kWidth, kHeight, 0, CopyFromParent,
                                     InputOutput, CopyFromParent, CWBackPixel, &attrs);
    XMapWindow(dpy, win);
    const GC gc = XCreateGC(dpy, win, 0, nullptr);
    XSync(dpy, False);
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    const long ticks = long(total * 60);
    for (long tick = 0; tick < ticks; ++tick) {
        const int x = int((tick * 8) % (kWidth - 200));
        const int y = int(300 + 200 * std::sin(tick / 40.0));
        XSetForeground(dpy, gc, 0x202020);
        XFillRectangle(dpy, win, gc, 0, 0, kWidth, kHeight);
        XSetForeground(dpy, gc, 0x3070c0);
        XFillRectangle(dpy, win, gc, x, y, 200, 200);
        XSync(dpy, False);
        next.tv_nsec += 1000000000L / 60;
        if (next.tv_nsec >= 1000000000L) {
            next.tv_nsec -= 1000000000L;
            ++next.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
    XCloseDisplay(dpy);
    return 0;
}

// Resident memory (MB) and CPU seconds of a process, from /proc.
struct Sample {
    double at = 0; // seconds since the recording began
    double rssMB = 0;
    double cpu = 0;
};

bool readSample(pid_t pid, Sample& s)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!status.open(QIODevice::ReadOnly) || !stat.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            s.rssMB = line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    // utime and stime are the 14th and 15th fields; the name in parentheses may hold spaces.
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return false;
    s.cpu = (fields[11].toDouble() + fields[12].toDouble()) / double(sysconf(_SC_CLK_TCK));
    return true;
}

// The growth in MB per minute: the median of the slopes between every two
// samples, so that a single step (one more buffer taken for good while the
// machine was busy) does not read as a steady climb, as it would in a
// straight-line fit.
double growthPerMinute(const std::vector<Sample>& samples)
{
    std::vector<double> slopes;
    for (size_t i = 0; i < samples.size(); ++i)
        for (size_t j = i + 1; j < samples.size(); ++j)
            if (samples[j].at > samples[i].at)
                slopes.push_back((samples[j].rssMB - samples[i].rssMB) / (samples[j].at - samples[i].at) * 60);
    if (slopes.empty())
        return 0;
    std::nth_element(slopes.begin(), slopes.begin() + long(slopes.size() / 2), slopes.end());
    return slopes[slopes.size() / 2];
}

bool waitFor(const std::function<bool()>& done, double secs)
{
    const auto end = Clock::now() + std::chrono::duration<double>(secs);
    while (!done()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

QString fileText(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// The program (under PROGRAM_RECORD_WRAPPER if set), once its hot keys are
// registered; -1 when it did not get there (the log is printed).
pid_t startProgram(Children& children, const QString& log)
{
    QFile::remove(log);
    std::vector<std::string> command;
    for (const QString& part : qEnvironmentVariable("PROGRAM_RECORD_WRAPPER").split(QLatin1Char(' '), Qt::SkipEmptyParts))
        command.push_back(part.toStdString());
    const QString binary = qEnvironmentVariable("CORVESSA_PROGRAM", QStringLiteral(CORVESSA_BINARY));
    command.push_back(binary.toStdString());
    qputenv("QT_QPA_PLATFORM", "xcb");
    const pid_t program = fork();
    if (program == 0) {
        std::vector<char*> argv2;
        for (std::string& c : command)
            argv2.push_back(c.data());
        argv2.push_back(nullptr);
        execvp(argv2[0], argv2.data());
        _exit(127);
    }
    children.pids.push_back(program);
    if (!waitFor([&] { return fileText(log).contains(QStringLiteral("[hotkeys] registered")); }, 60)) {
        std::fprintf(stderr, "the program did not register its hot keys; log:\n%s\n", qPrintable(fileText(log)));
        return -1;
    }
    return program;
}

// Ctrl+Alt+R, and whether the recording started.
bool startRecording(const QString& log, const QString& journal)
{
    run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+alt+r")});
    if (!waitFor([&] { return QFile::exists(journal); }, 30)) {
        std::fprintf(stderr, "the recording did not start; log:\n%s\n", qPrintable(fileText(log)));
        return false;
    }
    return true;
}

void saveAndEnd(Children& children, pid_t program)
{
    kill(program, SIGTERM);
    waitpid(program, nullptr, 0);
    std::erase(children.pids, program);
}

// How late the sound starts in movies the program records, from its own start.
int firstSound(Children& children, const QDir& d, const QString& movies, const QString& log, const QString& journal,
               int runs, int busy)
{
    const QString tone = d.filePath(QStringLiteral("tone.wav"));
    if (!writeTone(tone, 3600))
        return 1;
    std::vector<std::unique_ptr<QProcess>> players;
    for (const char* sink : {"--device=mic", "--device=speakers"}) {
        players.push_back(std::make_unique<QProcess>());
        players.back()->start(QStringLiteral("paplay"), {QStringLiteral("--latency-msec=20"), QString::fromLatin1(sink), tone});
    }
    for (int i = 0; i < busy; ++i) {
        players.push_back(std::make_unique<QProcess>());
        players.back()->setStandardOutputFile(QProcess::nullDevice());
        players.back()->start(QStringLiteral("yes"), {});
    }
    std::printf("first audible sample - first frame through the program, microphone and system audio, %d busy\n", busy);
    std::vector<double> ms;
    int silent = 0;
    for (int i = 0; i < runs; ++i) {
        const pid_t program = startProgram(children, log);
        if (program < 0)
            return 1;
        std::this_thread::sleep_for(std::chrono::seconds(1));
        if (!startRecording(log, journal))
            return 1;
        std::this_thread::sleep_for(std::chrono::seconds(3));
        saveAndEnd(children, program);
        const QStringList saved = QDir(movies).entryList({QStringLiteral("*.mov")}, QDir::Files);
        if (saved.isEmpty()) {
            std::fprintf(stderr, "no movie saved; log:\n%s\n", qPrintable(fileText(log)));
            return 1;
        }
        const QString movie = QDir(movies).filePath(saved.first());
        const double latency = firstSoundAfterFirstFrame(movie);
        QFile::remove(movie);
        if (latency < 0)
            ++silent;
        else
            ms.push_back(latency * 1000);
        std::printf("  run %d: %s\n", i + 1, latency < 0 ? "no sound" : qPrintable(QString::number(latency * 1000, 'f', 0) + QStringLiteral(" ms")));
        std::fflush(stdout);
    }
    for (auto& p : players) {
        p->kill();
        p->waitForFinished();
    }
    if (!ms.empty()) {
        std::sort(ms.begin(), ms.end());
        std::printf("first sound: median %.0f ms, worst %.0f ms\n", ms[ms.size() / 2], ms.back());
    }
    if (silent)
        std::printf("%d movie(s) without sound\n", silent);
    return silent ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--scene") == 0)
        return runScene(std::atof(argv[2]));
    QCoreApplication app(argc, argv);
    const bool soundStart = argc > 1 && std::strcmp(argv[1], "--first-sound") == 0;
    const int runs = soundStart && argc > 2 ? std::atoi(argv[2]) : 5;
    const int busy = soundStart && argc > 3 ? std::atoi(argv[3]) : 0;
    const double minutes = soundStart ? 1 : argc > 1 ? std::atof(argv[1]) : 10;
    if ((soundStart ? argc > 4 || runs < 1 || busy < 0 : argc > 2) || !(minutes >= 0.25)) {
        std::fprintf(stderr, "usage: %s [minutes, at least 0.25; default 10] | --first-sound [runs] [busy]\n", argv[0]);
        return 2;
    }
    const double secs = soundStart ? runs * 30.0 : minutes * 60;

    QTemporaryDir dir;
    const QDir d(dir.path());
    Children children;
    const QString display = startXvfb(children, "1920x1080x24");
    if (display.isEmpty() || !startPulse(children, d))
        return 1;
    // The program's own files live under the private home startPulse made.
    const QString home = d.filePath(QStringLiteral("home"));
    qputenv("XDG_DATA_HOME", (home + QStringLiteral("/.local/share")).toUtf8());
    qputenv("XDG_STATE_HOME", (home + QStringLiteral("/.local/state")).toUtf8());
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    const QString movies = home + QStringLiteral("/Movies");
    QDir().mkpath(movies);
    QDir().mkpath(home + QStringLiteral("/.config/Recorder"));
    {
        QFile defaults(home + QStringLiteral("/.config/Recorder/defaults.json"));
        defaults.open(QIODevice::WriteOnly);
        // The folder is read from its bookmark: the path's bytes as stored data.
        const QJsonObject bookmark{{QStringLiteral("$data"), QString::fromLatin1(movies.toUtf8().toBase64())}};
        defaults.write(QJsonDocument(QJsonObject{{QStringLiteral("saveFolder"), movies},
                                                 {QStringLiteral("saveFolderBookmark"), bookmark},
                                                 {QStringLiteral("soundLaunch"), false},
                                                 {QStringLiteral("micOn"), true},
                                                 {QStringLiteral("cursorTheme"), 2},
                                                 {QStringLiteral("systemAudio"), true}})
                           .toJson());
    }
    const QString log = home + QStringLiteral("/.local/state/Recorder/recorder.log");
    const QString journal = home + QStringLiteral("/.local/share/Recorder/Recovery/active.json");

    if (!QStandardPaths::findExecutable(QStringLiteral("openbox")).isEmpty()) {
        const pid_t wm = fork();
        if (wm == 0) {
            execlp("openbox", "openbox", static_cast<char*>(nullptr));
            _exit(127);
        }
        children.pids.push_back(wm);
    }
    startSelf(children, {"--scene", std::to_string(secs + kEngineSecondsMax + 60)});
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));

    if (soundStart)
        return firstSound(children, d, movies, log, journal, runs, busy);

    const pid_t program = startProgram(children, log);
    if (program < 0)
        return 1;
    std::this_thread::sleep_for(std::chrono::seconds(2));
    if (!startRecording(log, journal))
        return 1;
    std::printf("%.1f min at %dx%d@%d through the program, toolbar shown, display %s\n", minutes, kWidth, kHeight,
                kFps, qPrintable(display));
    // The encoder's start-up is not part of the steady state.
    std::this_thread::sleep_for(std::chrono::seconds(5));
    std::printf("%8s %10s %10s\n", "s", "RSS MB", "CPU s");
    std::vector<Sample> samples;
    const auto start = Clock::now();
    for (int i = 0;; ++i) {
        const auto due = start + std::chrono::duration<double>(i * kSampleSeconds);
        std::this_thread::sleep_until(due);
        Sample s;
        s.at = std::chrono::duration<double>(Clock::now() - start).count();
        if (!readSample(program, s)) {
            std::fprintf(stderr, "the program ended early; log:\n%s\n", qPrintable(fileText(log)));
            return 1;
        }
        samples.push_back(s);
        std::printf("%8.0f %10.1f %10.2f\n", s.at, s.rssMB, s.cpu);
        std::fflush(stdout);
        if (s.at >= secs - 0.5)
            break;
    }
    saveAndEnd(children, program);
    const std::vector<Sample> lastHalf(samples.begin() + long(samples.size() / 2), samples.end());
    const double programCpu = (samples.back().cpu - samples.front().cpu) / (samples.back().at - samples.front().at);
    const QStringList saved = QDir(movies).entryList({QStringLiteral("*.mov")}, QDir::Files);
    std::printf("movie saved: %s\n", saved.isEmpty() ? "none" : "yes");

    // The engine alone, the same scene and sources, the cursor hidden.
    const double engineSecs = std::min(secs, kEngineSecondsMax);
    rusage self0{}, self1{};
    getrusage(RUSAGE_SELF, &self0);
    auto recording = startEngineRecording(display, kFps, d.filePath(QStringLiteral("engine.mov")));
    if (!recording)
        return 1;
    spin(engineSecs);
    recording->engine->stop();
    getrusage(RUSAGE_SELF, &self1);
    const double recorded = recording->engine->effectiveSeconds() + 1.0 / kFps;
    const double engineCpu =
        (seconds(self1.ru_utime) + seconds(self1.ru_stime) - seconds(self0.ru_utime) - seconds(self0.ru_stime))
        / recorded;

    std::printf("rss growth: %.2f MB/min (last %.0f s; whole recording %.2f MB/min, %.1f to %.1f MB)\n",
                growthPerMinute(lastHalf), lastHalf.back().at - lastHalf.front().at, growthPerMinute(samples),
                samples.front().rssMB, samples.back().rssMB);
    std::printf("CPU per recorded second: program %.3f, engine alone %.3f (over %.0f s), windows' share %.3f\n",
                programCpu, engineCpu, engineSecs, programCpu - engineCpu);
    recording.reset();
    XSetIOErrorHandler(quietIOError);
    return 0;
}
