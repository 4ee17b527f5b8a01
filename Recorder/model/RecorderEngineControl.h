#pragma once

#include "engine/RecorderEngine.h"
#include "model/EngineControl.h"

#include <memory>

namespace corvessa {

// The recording engine behind the model's engine interface.
class RecorderEngineControl final : public EngineControl {
public:
    explicit RecorderEngineControl(std::shared_ptr<RecorderEngine> engine = RecorderEngine::create());

    RecorderEngine& engine() { return *m_engine; }

    void setCallbacks(Callbacks callbacks) override;
    void setGains(float mic, float sys) override;
    void setMuteSpeakers(bool mute) override;
    double effectiveSeconds() const override;
    std::optional<RecorderError> startInner(const RecorderEngine::Config& config) override;
    void cleanUpAfterFailedStart() override;
    void pause(std::function<void()> then) override;
    void resume() override;
    std::optional<QString> stop() override;
    std::vector<QString> cameraFileURLs() const override;
    std::vector<WrittenFile> writtenFiles() const override;
    void setMouseForceDown(std::optional<bool> down) override;

private:
    std::shared_ptr<RecorderEngine> m_engine;
};

} // namespace corvessa
