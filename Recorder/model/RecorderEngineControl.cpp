#include "model/RecorderEngineControl.h"

#include "engine/compositor/MouseTrack.h"

#include <utility>

namespace corvessa {

RecorderEngineControl::RecorderEngineControl(std::shared_ptr<RecorderEngine> engine)
    : m_engine(std::move(engine))
{
}

void RecorderEngineControl::setCallbacks(Callbacks callbacks)
{
    m_engine->onEvent = std::move(callbacks.onEvent);
    m_engine->onPauseTierChange = std::move(callbacks.onPauseTierChange);
    m_engine->onMicLevel = std::move(callbacks.onMicLevel);
    m_engine->onSysLevel = std::move(callbacks.onSysLevel);
}

void RecorderEngineControl::setGains(float mic, float sys)
{
    m_engine->gains.setMic(mic);
    m_engine->gains.setSys(sys);
}

void RecorderEngineControl::setMuteSpeakers(bool mute)
{
    m_engine->setMuteSpeakers(mute);
}

double RecorderEngineControl::effectiveSeconds() const
{
    return m_engine->effectiveSeconds();
}

std::optional<RecorderError> RecorderEngineControl::startInner(const RecorderEngine::Config& config)
{
    return m_engine->startInner(config);
}

void RecorderEngineControl::cleanUpAfterFailedStart()
{
    m_engine->cleanUpAfterFailedStart();
}

void RecorderEngineControl::pause(std::function<void()> then)
{
    m_engine->pause(std::move(then));
}

void RecorderEngineControl::resume()
{
    m_engine->resume();
}

std::optional<QString> RecorderEngineControl::stop()
{
    return m_engine->stop();
}

std::vector<QString> RecorderEngineControl::cameraFileURLs() const
{
    return m_engine->cameraFileURLs();
}

std::vector<WrittenFile> RecorderEngineControl::writtenFiles() const
{
    return m_engine->writtenFiles();
}

void RecorderEngineControl::setMouseForceDown(std::optional<bool> down)
{
    if (const auto track = m_engine->mouseTrack())
        track->setForceDown(down);
}

} // namespace corvessa
