#pragma once

#include "capture/LevelStats.h"
#include "capture/TextLookup.h"
#include "platform/AudioDevice.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace corvessa {

class AudioCaptureStream;
class AudioInput;
class SerialQueue;

// The idle microphone meter: a capture stream on the chosen microphone, only
// measured. Levels arrive on its "mic.monitor" queue (made anew at every start);
// problems (or their absence, as nothing) on the caller's thread during start().
class MicMonitor {
public:
    static constexpr const char* notAuthorizedText = textKey("Microphone Not Authorized (Menu Bar Icon › Permissions)");
    static constexpr const char* noMicrophoneText = textKey("No Microphone Available");

    using LevelHandler = std::function<void(LevelStats)>;
    using ProblemHandler = std::function<void(std::optional<QString>)>;

    explicit MicMonitor(TextLookup text = {}, std::shared_ptr<AudioInput> input = nullptr);
    ~MicMonitor();
    MicMonitor(const MicMonitor&) = delete;
    MicMonitor& operator=(const MicMonitor&) = delete;

    // The microphones, leaving out "Recorder tap"; empty when the sound server
    // cannot be reached.
    static std::vector<AudioDevice> devices(std::shared_ptr<AudioInput> input = nullptr);
    // The device a start would use: the one named when it is listed, else the
    // default one, else the first; nothing when there is none.
    static std::optional<AudioDevice> choose(const std::vector<AudioDevice>& devices,
                                             const std::optional<QString>& deviceID);

    void setOnLevel(LevelHandler handler);
    void setOnProblem(ProblemHandler handler) { m_onProblem = std::move(handler); }
    // The linear gain shown in the levels (the audio itself is not changed).
    void setGain(float gain) { m_shared->gain = gain; }
    float gain() const { return m_shared->gain; }
    // Whether microphone access is granted (always, unless set otherwise).
    void setAuthorization(std::function<bool()> granted) { m_authorized = std::move(granted); }

    // Stops any running session and starts one on the device (see choose()).
    void start(const std::optional<QString>& deviceID);
    void stop();
    bool isRunning() const { return bool(m_session); }
    // The device of the running session.
    const QString& deviceName() const { return m_deviceName; }

private:
    void report(std::optional<QString> problem);

    struct Shared {
        std::mutex mutex;
        LevelHandler onLevel;
        std::atomic<float> gain{1.0f};
    };

    std::shared_ptr<Shared> m_shared = std::make_shared<Shared>();
    std::unique_ptr<SerialQueue> m_queue;
    std::unique_ptr<AudioCaptureStream> m_session;
    QString m_deviceName;
    ProblemHandler m_onProblem;
    std::function<bool()> m_authorized;
    TextLookup m_text;
    std::shared_ptr<AudioInput> m_input;
};

} // namespace corvessa
