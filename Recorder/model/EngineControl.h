#pragma once

#include "capture/LevelStats.h"
#include "engine/RecorderEngineConfig.h"
#include "platform/core/WrittenFile.h"

#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace corvessa {

// What the recorder model asks of the recording engine. The program's is
// RecorderEngineControl; tests put a fake in its place. The callbacks are set
// once, before the first start, and may be called on any thread.
class EngineControl {
public:
    using PauseTier = corvessa::PauseTier;

    struct Callbacks {
        std::function<void(const QString& line)> onEvent;
        std::function<void(std::optional<PauseTier>)> onPauseTierChange;
        std::function<void(const LevelStats&)> onMicLevel;
        std::function<void(const LevelStats&)> onSysLevel;
    };

    virtual ~EngineControl() = default;

    virtual void setCallbacks(Callbacks callbacks) = 0;
    // The live gain factors.
    virtual void setGains(float mic, float sys) = 0;
    virtual void setMuteSpeakers(bool mute) = 0;
    // Recorded seconds, pauses left out.
    virtual double effectiveSeconds() const = 0;

    // The start and stop operations block; they run off the main thread.
    virtual std::optional<RecorderError> startInner(const RecorderEngineConfig& config) = 0;
    virtual void cleanUpAfterFailedStart() = 0;
    virtual void pause(std::function<void()> then) = 0;
    virtual void resume() = 0;
    virtual std::optional<QString> stop() = 0;
    virtual std::vector<QString> cameraFileURLs() const = 0;
    // The movie and camera files of the last recording as the writers made
    // them, where they are now (see RecorderEngine::writtenFiles()).
    virtual std::vector<WrittenFile> writtenFiles() const = 0;
    // Replaces the recorded cursor's button state (false: drawn released), or
    // gives it back to the real button (nothing). Main thread; no effect
    // without a recording.
    virtual void setMouseForceDown(std::optional<bool> down) { (void)down; }
};

} // namespace corvessa
