#pragma once

#include "platform/AudioInput.h"
#include "platform/AudioInputError.h"
#include "platform/core/ObserverList.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <utility>

namespace corvessa {

// An audio input without a sound server: one tone microphone and one output,
// both settable, streams of a sine tone, and failures on request. It counts
// the muting routes in use so that tests can see them undone. Observers of the
// sources are called on the thread that changes them. Thread-safe.
class SyntheticAudioInput : public AudioInput {
public:
    SyntheticAudioInput();

    std::vector<AudioDevice> sources() override;
    std::optional<AudioSink> defaultSink() override;
    std::unique_ptr<AudioCaptureStream> openSource(const StreamRequest& request) override;
    std::unique_ptr<AudioCaptureStream> openSystemAudio(bool muteSpeakers, const QString& microphone) override;
    int recoverLeftoverTaps() override;
    Observation observeSources(std::function<void()> changed) override;

    // Tells the observers when the list differs from the one before.
    void setSources(std::vector<AudioDevice> sources);
    void setDefaultSink(std::optional<AudioSink> sink);
    void setTone(double frequency, float amplitude);
    // A tone of its own for the system audio, told apart from the microphone's.
    void setSystemTone(double frequency, float amplitude);
    // Makes the given stage fail with `detail` from now on; nothing (nullopt) ends that.
    void failAt(std::optional<AudioInputError::Stage> stage, const QString& detail = QStringLiteral("Synthetic failure"));
    void setLeftoverTaps(int count);
    // While held, microphone streams deliver nothing and time goes on, as with
    // a microphone pulled out that the sound server has not noticed yet.
    void holdMicrophone(bool held);

    // Muting routes set up and not yet undone.
    int activeRoutes() const;
    // Streams opened so far.
    int openedStreams() const;

private:
    void check(AudioInputError::Stage stage) const;

    mutable std::mutex m_mutex;
    std::vector<AudioDevice> m_sources;
    std::optional<AudioSink> m_sink;
    double m_frequency = 440;
    float m_amplitude = 0.25f;
    std::optional<std::pair<double, float>> m_systemTone;
    std::optional<AudioInputError::Stage> m_failStage;
    QString m_failDetail;
    int m_leftovers = 0;
    // Shared with the streams' stop callbacks, which may outlive this object.
    std::shared_ptr<std::atomic<int>> m_routes = std::make_shared<std::atomic<int>>(0);
    int m_opened = 0;
    std::shared_ptr<std::atomic<bool>> m_micHeld = std::make_shared<std::atomic<bool>>(false);
    ObserverList<> m_sourceObservers;
};

} // namespace corvessa
