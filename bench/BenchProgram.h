#pragma once

// The whole program as the end-to-end benchmarks run it: in the private home
// BenchRig's PulseAudio made, with openbox, its recordings folder and settings
// preset in its defaults, started with Ctrl+Alt+R and stopped with Ctrl+Alt+S
// and the stop question's red button, as a user would. The benchmark that
// includes this defines CORVESSA_BINARY, the path of the built program;
// CORVESSA_PROGRAM names another build to run instead.

#include "BenchRig.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace benchrig {

struct ProgramHome {
    QString home;
    QString movies;  // the recordings folder
    QString log;     // the program's log
    QString recovery; // holds the program's journal while a recording runs
};

inline QString fileText(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// Polls `done` every 100 ms for at most `secs`.
inline bool waitFor(const std::function<bool()>& done, double secs)
{
    const auto end = Clock::now() + std::chrono::duration<double>(secs);
    while (!done()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

// Merges `settings` into the program's defaults (read at its launch).
inline void setProgramDefaults(const ProgramHome& h, const QJsonObject& settings)
{
    const QString path = h.home + QStringLiteral("/.config/Recorder/defaults.json");
    QJsonObject all = QJsonDocument::fromJson(fileText(path).toUtf8()).object();
    for (auto it = settings.begin(); it != settings.end(); ++it)
        all.insert(it.key(), it.value());
    QFile defaults(path);
    defaults.open(QIODevice::WriteOnly);
    defaults.write(QJsonDocument(all).toJson());
}

// Points the program's data and state at the home under `dir` (startPulse
// made it and set HOME and XDG_CONFIG_HOME), with no session bus, and presets
// its recordings folder, no launch sound, the microphone and system audio on
// and its drawn cursor off (so that it records what the engine alone records).
inline ProgramHome prepareProgramHome(const QDir& dir)
{
    ProgramHome h;
    h.home = dir.filePath(QStringLiteral("home"));
    qputenv("XDG_DATA_HOME", (h.home + QStringLiteral("/.local/share")).toUtf8());
    qputenv("XDG_STATE_HOME", (h.home + QStringLiteral("/.local/state")).toUtf8());
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    h.movies = h.home + QStringLiteral("/Movies");
    QDir().mkpath(h.movies);
    QDir().mkpath(h.home + QStringLiteral("/.config/Recorder"));
    // The folder is read from its bookmark: the path's bytes as stored data.
    const QJsonObject bookmark{{QStringLiteral("$data"), QString::fromLatin1(h.movies.toUtf8().toBase64())}};
    setProgramDefaults(h, QJsonObject{{QStringLiteral("saveFolder"), h.movies},
                                      {QStringLiteral("saveFolderBookmark"), bookmark},
                                      {QStringLiteral("soundLaunch"), false},
                                      {QStringLiteral("micOn"), true},
                                      {QStringLiteral("cursorTheme"), 2},
                                      {QStringLiteral("systemAudio"), true}});
    h.log = h.home + QStringLiteral("/.local/state/Recorder/recorder.log");
    h.recovery = h.home + QStringLiteral("/.local/share/Recorder/Recovery");
    return h;
}

// openbox, where it is installed, as the window manager.
inline void startWindowManager(Children& children)
{
    if (QStandardPaths::findExecutable(QStringLiteral("openbox")).isEmpty())
        return;
    const pid_t wm = fork();
    if (wm == 0) {
        execlp("openbox", "openbox", static_cast<char*>(nullptr));
        _exit(127);
    }
    children.pids.push_back(wm);
}

// The program on the X display, under `wrapper` (a command and its arguments)
// if one is given; returns once its hot keys are registered, or -1 with its
// log on stderr. A pid is owned by `children` until waited for.
inline pid_t launchProgram(Children& children, const ProgramHome& h, const QStringList& wrapper = {})
{
    std::vector<std::string> command;
    for (const QString& part : wrapper)
        command.push_back(part.toStdString());
    command.push_back(qEnvironmentVariable("CORVESSA_PROGRAM", QStringLiteral(CORVESSA_BINARY)).toStdString());
    qputenv("QT_QPA_PLATFORM", "xcb");
    const int registered = int(fileText(h.log).count(QStringLiteral("[hotkeys] registered")));
    const pid_t program = fork();
    if (program == 0) {
        std::vector<char*> argv;
        for (std::string& c : command)
            argv.push_back(c.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    children.pids.push_back(program);
    if (!waitFor([&] { return fileText(h.log).count(QStringLiteral("[hotkeys] registered")) > registered; }, 60)) {
        std::fprintf(stderr, "the program did not register its hot keys; log:\n%s\n", qPrintable(fileText(h.log)));
        return -1;
    }
    return program;
}

// SIGTERM (which saves a running recording first), and waits for the end.
inline void endProgram(Children& children, pid_t program)
{
    kill(program, SIGTERM);
    waitpid(program, nullptr, 0);
    std::erase(children.pids, program);
}

// Whether the program's journal (one per display) is there.
inline bool recordingRuns(const ProgramHome& h)
{
    return !QDir(h.recovery).entryList({QStringLiteral("active*.json")}, QDir::Files).isEmpty();
}

// Ctrl+Alt+R; true once the recording runs (its journal is written).
inline bool startRecording(const ProgramHome& h)
{
    run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+alt+r")});
    if (waitFor([&] { return recordingRuns(h); }, 30))
        return true;
    std::fprintf(stderr, "the recording did not start; log:\n%s\n", qPrintable(fileText(h.log)));
    return false;
}

// Ctrl+Alt+S, then the stop question's red button (reached from the focused
// cancel button with Shift+Tab); true once the movie is saved.
inline bool stopRecording(const ProgramHome& h)
{
    run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+alt+s")});
    QString question;
    waitFor([&] {
        question = QString::fromLatin1(run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--name"),
                                                                       QStringLiteral("Stop Recording and Save")}))
                       .split(QLatin1Char('\n'))
                       .value(0)
                       .trimmed();
        return !question.isEmpty();
    }, 30);
    if (question.isEmpty()) {
        std::fprintf(stderr, "no stop question; log:\n%s\n", qPrintable(fileText(h.log)));
        return false;
    }
    run(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), question});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("shift+Tab"), QStringLiteral("space")});
    if (waitFor([&] { return !recordingRuns(h); }, 120))
        return true;
    std::fprintf(stderr, "the recording was not saved; log:\n%s\n", qPrintable(fileText(h.log)));
    return false;
}

// The movies in the recordings folder, oldest first.
inline QStringList savedMovies(const ProgramHome& h)
{
    QStringList paths;
    const QDir movies(h.movies);
    for (const QString& name : movies.entryList({QStringLiteral("*.mov")}, QDir::Files, QDir::Time | QDir::Reversed))
        paths << movies.filePath(name);
    return paths;
}

} // namespace benchrig
