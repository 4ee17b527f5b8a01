#pragma once

#include "capture/LevelStats.h"

#include <QString>

#include <functional>
#include <optional>

namespace corvessa {

// The level meters that run while nothing records: one on the chosen
// microphone, one on the system's audio output. The program's is
// CaptureIdleMonitors; tests put a fake in its place. Main thread; levels come
// on the monitors' own queues, problems (or their absence) during a start.
class IdleMonitors {
public:
    using LevelHandler = std::function<void(const LevelStats&)>;
    using ProblemHandler = std::function<void(const std::optional<QString>&)>;

    virtual ~IdleMonitors() = default;

    // Stops any running microphone meter and starts one on the device (the
    // default one when none is named).
    virtual void startMic(const std::optional<QString>& deviceID, LevelHandler onLevel, ProblemHandler onProblem) = 0;
    virtual void stopMic() = 0;
    // The linear gain shown in the levels.
    virtual void setMicGain(float gain) = 0;

    virtual void startSys(bool muteSpeakers, LevelHandler onLevel, ProblemHandler onProblem) = 0;
    virtual void stopSys() = 0;
    virtual void setSysGain(float gain) = 0;
};

} // namespace corvessa
