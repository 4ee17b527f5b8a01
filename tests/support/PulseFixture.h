#pragma once

#include "support/ChildProcess.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace corvessa::test {

// A private PulseAudio daemon for the tests of one program, started on first
// use in a temporary runtime directory and stopped when the program ends. It
// has two null sinks: "speakers", the default output, and "mic", whose monitor
// feeds "stand_in_mic", the default source, standing in for a microphone (a
// remapped source, so it is not a monitor). The test process talks to it
// through PULSE_SERVER; the daemon never autospawns another.
class PulseFixture {
public:
    static constexpr const char* speakers = "speakers";
    static constexpr const char* micSink = "mic";
    static constexpr const char* micSource = "stand_in_mic";

    // The daemon, started on the first call; null where PulseAudio cannot start
    // at all (unavailableReason() says why).
    static PulseFixture* shared();
    static QString unavailableReason();

    ~PulseFixture();
    PulseFixture(const PulseFixture&) = delete;
    PulseFixture& operator=(const PulseFixture&) = delete;

    // "unix:<socket>", as in PULSE_SERVER.
    QString server() const;
    QString directory() const { return m_dir.path(); }

    // pactl against the daemon: its standard output, or nothing when it failed.
    std::optional<QString> pactl(const QStringList& arguments) const;
    QString defaultSink() const;
    // The lines of "pactl list short modules".
    QStringList modules() const;
    // The sink each playback stream of `application` (its application.name) is on.
    QStringList sinksOfStreams(const QString& application) const;

    // Plays a sine tone into `sink` (empty: the default output) from a separate
    // paplay process, so it is another program's playback, with a 20 ms buffer.
    // `properties` are extra stream properties ("key=value").
    std::unique_ptr<ChildProcess> playTone(const QString& sink, double frequency, double seconds,
                                           double amplitude = 0.5, const QStringList& properties = {},
                                           const QString& application = QStringLiteral("tone")) const;
    // Records `seconds` of `source` in this process and returns the largest
    // absolute sample; nothing when recording failed.
    std::optional<float> recordPeak(const QString& source, double seconds) const;

    // Kills the daemon (SIGKILL, as a crash), and starts it again on the same
    // socket with the same devices; false when it did not come back.
    void killServer();
    bool restartServer();

private:
    PulseFixture() = default;
    bool start(QString* error);
    // Starts the daemon with the script written by start() and waits until it answers.
    bool launch(QString* error);
    QString writeTone(double frequency, double seconds, double amplitude) const;

    QTemporaryDir m_dir;
    std::unique_ptr<ChildProcess> m_daemon;
    mutable int m_fileCounter = 0;
};

} // namespace corvessa::test

// Binds `name` to the shared fixture, or skips the test when PulseAudio cannot run here.
#define CORVESSA_REQUIRE_PULSE(name)                                                                     \
    ::corvessa::test::PulseFixture* name = ::corvessa::test::PulseFixture::shared();                      \
    if (!name)                                                                                            \
    GTEST_SKIP() << "PulseAudio cannot start here: " << ::corvessa::test::PulseFixture::unavailableReason().toStdString()
