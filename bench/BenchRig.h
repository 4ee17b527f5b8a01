#pragma once

// What the end-to-end benchmarks share: a private Xvfb and PulseAudio, child
// processes ended in reverse order, waiting with the event loop running,
// running a tool for its output, the ffmpeg x11grab command line of the peer
// recording, and a quiet end when the X server goes first.

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QPoint>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

struct _XDisplay; // Xlib's Display, without its macros

namespace benchrig {

using Clock = std::chrono::steady_clock;

inline double seconds(const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; }

// CPU seconds (user and system) of this process so far.
inline double processCpu()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return seconds(u.ru_utime) + seconds(u.ru_stime);
}

// utime + stime of another process, from /proc; 0 when it cannot be read.
inline double otherCpu(pid_t pid)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(f, line);
    const auto close = line.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::vector<std::string> fields;
    size_t pos = close + 2;
    while (pos < line.size()) {
        const size_t next = line.find(' ', pos);
        fields.push_back(line.substr(pos, next - pos));
        if (next == std::string::npos)
            break;
        pos = next + 1;
    }
    // After the command: state is field 3; utime and stime are fields 14 and 15.
    if (fields.size() < 13)
        return 0;
    const double ticks = double(sysconf(_SC_CLK_TCK));
    return (std::stod(fields[11]) + std::stod(fields[12])) / ticks;
}

// Child processes, sent SIGTERM and reaped last to first.
struct Children {
    std::vector<pid_t> pids;
    Children() = default;
    Children(const Children&) = delete;
    Children& operator=(const Children&) = delete;
    ~Children()
    {
        for (auto it = pids.rbegin(); it != pids.rend(); ++it) {
            kill(*it, SIGTERM);
            waitpid(*it, nullptr, 0);
        }
    }
};

// Waits `secs` with Qt's events delivered.
inline void spin(double secs)
{
    const auto end = Clock::now() + std::chrono::duration<double>(secs);
    while (Clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Runs a tool to its end and returns what it wrote on stdout.
inline QByteArray run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.start(program, args);
    p.waitForFinished(-1);
    return p.readAllStandardOutput();
}

// A private Xvfb with Composite at `size` ("1920x1080x24"); the server picks a
// free display. Sets DISPLAY and returns it, or an empty string.
inline QString startXvfb(Children& children, const char* size)
{
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    const pid_t xvfb = fork();
    if (xvfb == 0) {
        close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", size, "+extension", "Composite", "-nolisten",
               "tcp", "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    children.pids.push_back(xvfb);
    close(fds[1]);
    // The number and its newline come in separate writes: closing early would fail the server.
    std::string number;
    char c = 0;
    while (read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    if (number.empty()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return {};
    }
    const QString display = QStringLiteral(":") + QString::fromStdString(number);
    qputenv("DISPLAY", display.toUtf8());
    return display;
}

// A private PulseAudio daemon under `dir`: "speakers" (the default sink) and
// "mic", whose monitor is the default source "stand_in_mic". Points this
// process and its children at it; false when it did not come up.
inline bool startPulse(Children& children, const QDir& dir)
{
    for (const char* sub : {"runtime", "home", "state"})
        dir.mkpath(QString::fromLatin1(sub));
    QFile::setPermissions(dir.filePath(QStringLiteral("runtime")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString socket = dir.filePath(QStringLiteral("runtime/native"));
    {
        QFile script(dir.filePath(QStringLiteral("daemon.pa")));
        script.open(QIODevice::WriteOnly);
        script.write(QStringLiteral("load-module module-native-protocol-unix auth-anonymous=1 socket=%1\n"
                                    "load-module module-null-sink sink_name=speakers\n"
                                    "load-module module-null-sink sink_name=mic\n"
                                    "load-module module-remap-source master=mic.monitor source_name=stand_in_mic\n"
                                    "set-default-sink speakers\n"
                                    "set-default-source stand_in_mic\n")
                         .arg(socket)
                         .toUtf8());
        QFile conf(dir.filePath(QStringLiteral("client.conf")));
        conf.open(QIODevice::WriteOnly);
        conf.write("autospawn = no\n");
    }
    qputenv("HOME", dir.filePath(QStringLiteral("home")).toUtf8());
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("home/.config")).toUtf8());
    qputenv("XDG_RUNTIME_DIR", dir.filePath(QStringLiteral("runtime")).toUtf8());
    qputenv("PULSE_RUNTIME_PATH", dir.filePath(QStringLiteral("runtime")).toUtf8());
    qputenv("PULSE_STATE_PATH", dir.filePath(QStringLiteral("state")).toUtf8());
    qputenv("PULSE_CLIENTCONFIG", dir.filePath(QStringLiteral("client.conf")).toUtf8());
    const std::string paScript = dir.filePath(QStringLiteral("daemon.pa")).toStdString();
    const std::string paLog = dir.filePath(QStringLiteral("pulse.log")).toStdString();
    const pid_t pulse = fork();
    if (pulse == 0) {
        const int logFd = ::open(paLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(logFd, 2);
        execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=no", "--system=no", "--exit-idle-time=-1",
               "--disable-shm=yes", "--use-pid-file=no", "--realtime=no", "--high-priority=no", "--log-target=stderr",
               "-F", paScript.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    children.pids.push_back(pulse);
    qputenv("PULSE_SERVER", (QStringLiteral("unix:") + socket).toUtf8());
    for (int i = 0; i < 100 && !QFile::exists(socket); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    if (!QFile::exists(socket)) {
        std::fprintf(stderr, "pulseaudio did not start (log %s)\n", paLog.c_str());
        return false;
    }
    return true;
}

// Runs this program again with `args` as a child (the scene of a benchmark).
inline pid_t startSelf(Children& children, const std::vector<std::string>& args)
{
    const pid_t pid = fork();
    if (pid == 0) {
        const std::string self = QCoreApplication::applicationFilePath().toStdString();
        std::vector<char*> argv{const_cast<char*>(self.c_str())};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(self.c_str(), argv.data());
        _exit(127);
    }
    children.pids.push_back(pid);
    return pid;
}

// The peer recording's arguments: the whole `width`x`height` screen of
// `display` by x11grab at `fps` for `secs`, libx265 ultrafast into fragmented
// QuickTime at `movie`; `audioInputs` are the pulse sources mixed into AAC.
// x11grab of `width` × `height` at `origin` of the display.
inline QStringList ffmpegGrabArgs(const QString& display, int width, int height, int fps, double secs,
                                  const QStringList& audioInputs, const QString& movie, const QPoint& origin = {})
{
    QStringList a{QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-thread_queue_size"),
                  QStringLiteral("512"), QStringLiteral("-f"), QStringLiteral("x11grab"), QStringLiteral("-framerate"),
                  QString::number(fps), QStringLiteral("-video_size"),
                  QStringLiteral("%1x%2").arg(width).arg(height), QStringLiteral("-i"),
                  origin.isNull() ? display : QStringLiteral("%1+%2,%3").arg(display).arg(origin.x()).arg(origin.y())};
    for (const QString& source : audioInputs)
        a << QStringLiteral("-thread_queue_size") << QStringLiteral("512") << QStringLiteral("-f") << QStringLiteral("pulse")
          << QStringLiteral("-i") << source;
    a << QStringLiteral("-map") << QStringLiteral("0:v");
    if (audioInputs.size() > 1) {
        QString mix;
        for (int i = 1; i <= audioInputs.size(); ++i)
            mix += QStringLiteral("[%1:a]").arg(i);
        a << QStringLiteral("-filter_complex")
          << mix + QStringLiteral("amix=inputs=%1[a]").arg(audioInputs.size()) << QStringLiteral("-map")
          << QStringLiteral("[a]");
    } else if (audioInputs.size() == 1) {
        a << QStringLiteral("-map") << QStringLiteral("1:a");
    }
    a << QStringLiteral("-c:v") << QStringLiteral("libx265") << QStringLiteral("-preset") << QStringLiteral("ultrafast")
      << QStringLiteral("-pix_fmt") << QStringLiteral("yuv420p");
    if (!audioInputs.isEmpty())
        a << QStringLiteral("-c:a") << QStringLiteral("aac");
    a << QStringLiteral("-t") << QString::number(secs) << QStringLiteral("-movflags")
      << QStringLiteral("frag_keyframe+empty_moov+default_base_moof") << QStringLiteral("-f") << QStringLiteral("mov")
      << movie;
    return a;
}

// The capture's X connections may outlive the engine by a moment; the server
// going away at teardown is then expected and not a failure. For XSetIOErrorHandler.
inline int quietIOError(_XDisplay*)
{
    std::fflush(stdout);
    _exit(0);
}

} // namespace benchrig
