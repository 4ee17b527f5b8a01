#include "model/CaptureIdleMonitors.h"

#include "prefs/Loc.h"

#include <utility>

namespace corvessa {

CaptureIdleMonitors::CaptureIdleMonitors(std::shared_ptr<AudioInput> input, std::function<bool()> micAccess,
                                         std::function<bool()> screenAccess)
    : m_mic(&Loc::text, input)
    , m_sys(&Loc::text, input)
{
    m_mic.setAuthorization(std::move(micAccess));
    m_sys.setScreenAccess(std::move(screenAccess));
}

void CaptureIdleMonitors::startMic(const std::optional<QString>& deviceID, LevelHandler onLevel,
                                   ProblemHandler onProblem)
{
    m_mic.stop();
    m_mic.setOnLevel([onLevel = std::move(onLevel)](LevelStats s) { onLevel(s); });
    m_mic.setOnProblem([onProblem = std::move(onProblem)](std::optional<QString> p) { onProblem(p); });
    m_mic.start(deviceID);
}

void CaptureIdleMonitors::stopMic()
{
    m_mic.stop();
}

void CaptureIdleMonitors::setMicGain(float gain)
{
    m_mic.setGain(gain);
}

void CaptureIdleMonitors::startSys(bool muteSpeakers, LevelHandler onLevel, ProblemHandler onProblem)
{
    m_sys.stop();
    m_sys.setMuteSpeakers(muteSpeakers);
    m_sys.setOnLevel([onLevel = std::move(onLevel)](LevelStats s) { onLevel(s); });
    m_sys.setOnProblem([onProblem = std::move(onProblem)](std::optional<QString> p) { onProblem(p); });
    m_sys.start();
}

void CaptureIdleMonitors::stopSys()
{
    m_sys.stop();
}

void CaptureIdleMonitors::setSysGain(float gain)
{
    m_sys.setGain(gain);
}

} // namespace corvessa
