#pragma once

#include "capture/MicMonitor.h"
#include "capture/SystemAudioMonitor.h"
#include "model/IdleMonitors.h"

#include <memory>

namespace corvessa {

class AudioInput;

// The microphone and system-audio monitors behind the model's interface.
// Main thread.
class CaptureIdleMonitors final : public IdleMonitors {
public:
    // `screenAccess` tells the system-audio monitor whether screen capture is granted.
    CaptureIdleMonitors(std::shared_ptr<AudioInput> input, std::function<bool()> micAccess,
                        std::function<bool()> screenAccess);

    void startMic(const std::optional<QString>& deviceID, LevelHandler onLevel, ProblemHandler onProblem) override;
    void stopMic() override;
    void setMicGain(float gain) override;
    void startSys(bool muteSpeakers, LevelHandler onLevel, ProblemHandler onProblem) override;
    void stopSys() override;
    void setSysGain(float gain) override;

private:
    MicMonitor m_mic;
    SystemAudioMonitor m_sys;
};

} // namespace corvessa
