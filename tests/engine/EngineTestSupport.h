#pragma once

#include "engine/RecorderEngine.h"
#include "platform/AudioInput.h"
#include "platform/DisplayInfo.h"
#include "platform/synthetic/RecordingMovieWriter.h"
#include "platform/synthetic/SyntheticAudioInput.h"
#include "platform/synthetic/SyntheticPowerControl.h"
#include "platform/synthetic/SyntheticScreenSource.h"
#include "platform/WindowInfo.h"
#include "support/TempHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace corvessa::test {

// Polls `done` for up to `seconds`, letting the main queue run meanwhile.
inline bool waitUntil(const std::function<bool()>& done, double seconds)
{
    return QTest::qWaitFor(done, int(seconds * 1000));
}

// Lets time pass with the main queue running.
inline void spin(double seconds)
{
    waitUntil([] { return false; }, seconds);
}

// Everything an engine reports, kept for the test to read from any thread.
class EngineEvents {
public:
    void attach(RecorderEngine& engine)
    {
        engine.onEvent = [this](const QString& line) {
            std::lock_guard lock(m_mutex);
            m_lines.push_back(line);
        };
        engine.onPauseTierChange = [this](std::optional<RecorderEngine::PauseTier> tier) {
            std::lock_guard lock(m_mutex);
            m_tiers.push_back(tier);
        };
        engine.onMicLevel = [this](const LevelStats&) {
            std::lock_guard lock(m_mutex);
            ++m_micLevels;
        };
    }

    std::vector<QString> lines() const
    {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }
    std::vector<std::optional<RecorderEngine::PauseTier>> tiers() const
    {
        std::lock_guard lock(m_mutex);
        return m_tiers;
    }
    int micLevels() const
    {
        std::lock_guard lock(m_mutex);
        return m_micLevels;
    }
    int count(const QString& line) const
    {
        std::lock_guard lock(m_mutex);
        return int(std::count(m_lines.begin(), m_lines.end(), line));
    }
    int countStartingWith(const QString& prefix) const
    {
        std::lock_guard lock(m_mutex);
        return int(std::count_if(m_lines.begin(), m_lines.end(), [&](const QString& l) { return l.startsWith(prefix); }));
    }
    std::optional<QString> firstStartingWith(const QString& prefix) const
    {
        std::lock_guard lock(m_mutex);
        for (const auto& l : m_lines)
            if (l.startsWith(prefix))
                return l;
        return std::nullopt;
    }
    // Index of the first line equal to `line` at or after `from`; -1 when none.
    int indexOf(const QString& line, int from = 0) const
    {
        std::lock_guard lock(m_mutex);
        for (int i = from; i < int(m_lines.size()); ++i)
            if (m_lines[size_t(i)] == line)
                return i;
        return -1;
    }
    // Waits for a line that `seconds` is enough for on an idle machine. A
    // machine busy beside the suite can be many times slower: the wait is
    // generous, since it waits for the line and bounds no time (speed is
    // measured in bench/).
    bool waitFor(const QString& line, double seconds) const
    {
        return waitUntil([&] { return count(line) > 0; }, generous(seconds));
    }
    bool waitForPrefix(const QString& prefix, double seconds) const
    {
        return waitUntil([&] { return countStartingWith(prefix) > 0; }, generous(seconds));
    }
    static double generous(double seconds) { return std::max(10 * seconds, 30.0); }
    void clear()
    {
        std::lock_guard lock(m_mutex);
        m_lines.clear();
        m_tiers.clear();
    }

private:
    mutable std::mutex m_mutex;
    std::vector<QString> m_lines;
    std::vector<std::optional<RecorderEngine::PauseTier>> m_tiers;
    int m_micLevels = 0;
};

inline DisplayInfo testDisplay(const QString& name, GlobalRect frame, double scale = 1, bool primary = true)
{
    DisplayInfo d;
    d.id = DisplayInfo::idForName(name);
    d.name = name;
    d.uuid = name;
    d.frame = frame;
    d.scale = scale;
    d.refreshRate = 60;
    d.isPrimary = primary;
    return d;
}

// The words a line is told by: all of it, or those before its first value.
inline QString line(const EngineLine& text)
{
    return text.prefix();
}

// An engine wired to synthetic services in a temporary home: a small display,
// a tone microphone, a power control that remembers its holds and, unless a
// test asks for the real one, recording writers.
class EngineHarness {
public:
    explicit EngineHarness(bool realWriter = false, QSizeF displaySize = QSizeF(320, 180))
        : display(testDisplay(QStringLiteral("TEST-1"), GlobalRect(GlobalPoint(), displaySize)))
    {
        source = std::make_shared<SyntheticScreenSource>(std::vector<DisplayInfo>{display}, std::vector<WindowInfo>{});
        source->setAudioInput(audio);
        engine = RecorderEngine::create();
        engine->setScreenSource(source);
        engine->setAudioInput(audio);
        engine->setPowerControl(power);
        if (!realWriter)
            engine->setWriterFactory(RecordingMovieWriter::factory(writers, [this](RecordingMovieWriter& w) {
                if (configureWriter)
                    configureWriter(w);
            }));
        events.attach(*engine);
    }

    ~EngineHarness()
    {
        engine->stop();
        engine->cleanUpAfterFailedStart();
    }

    RecorderEngine::Config config(int fps = 30, bool microphone = true) const
    {
        RecorderEngine::Config c;
        c.target = RecorderEngine::Target::display(display.id);
        c.fps = fps;
        c.cursorTheme = CursorTheme::hidden;
        if (microphone)
            c.microphoneID = QString();
        c.outputURL = QDir(home.path()).filePath(QStringLiteral("Test Recording.mov"));
        return c;
    }

    std::shared_ptr<RecordingMovieWriter> writer(size_t i = 0) const
    {
        return i < writers->size() ? (*writers)[i] : nullptr;
    }
    size_t videoFrames(size_t i = 0) const
    {
        auto w = writer(i);
        return w ? w->appended(MovieWriter::Input::Video).size() : 0;
    }

    TempHome home;
    DisplayInfo display;
    std::shared_ptr<SyntheticAudioInput> audio = std::make_shared<SyntheticAudioInput>();
    std::shared_ptr<SyntheticScreenSource> source;
    std::shared_ptr<SyntheticPowerControl> power = std::make_shared<SyntheticPowerControl>();
    std::shared_ptr<std::vector<std::shared_ptr<RecordingMovieWriter>>> writers =
        std::make_shared<std::vector<std::shared_ptr<RecordingMovieWriter>>>();
    std::function<void(RecordingMovieWriter&)> configureWriter;
    EngineEvents events; // before the engine, whose callbacks write into it
    std::shared_ptr<RecorderEngine> engine;
};

// The engine tests' fixture: a fresh harness with recording writers and the small display.
class EngineTest : public testing::Test {
protected:
    EngineHarness h;
};

} // namespace corvessa::test
