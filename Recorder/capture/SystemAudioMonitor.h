#pragma once

#include "capture/LevelStats.h"
#include "capture/TextLookup.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace corvessa {

class AudioInput;
class SystemAudioTap;

// The idle system-audio meter: runs a tap only to measure it. Levels arrive on
// the tap's queue; problems (or their absence, as nothing) on the caller's
// thread during start(). A failed start is remembered as "sysAudioAuth" = 2, and
// later starts then report "System Audio Not Authorized" without trying, until
// the permission probe verifies system audio in a run.
class SystemAudioMonitor {
public:
    static constexpr const char* notAuthorizedText = textKey("System Audio Not Authorized");
    static constexpr const char* unableText = textKey("Unable to capture System Audio: %@");

    using LevelHandler = std::function<void(LevelStats)>;
    using ProblemHandler = std::function<void(std::optional<QString>)>;

    explicit SystemAudioMonitor(TextLookup text = {}, std::shared_ptr<AudioInput> input = nullptr);
    ~SystemAudioMonitor();
    SystemAudioMonitor(const SystemAudioMonitor&) = delete;
    SystemAudioMonitor& operator=(const SystemAudioMonitor&) = delete;

    void setOnLevel(LevelHandler handler);
    void setOnProblem(ProblemHandler handler) { m_onProblem = std::move(handler); }
    // The linear gain shown in the levels (the audio itself is not changed).
    void setGain(float gain) { m_shared->gain = gain; }
    float gain() const { return m_shared->gain; }
    // Passed to the tap at the next start.
    void setMuteSpeakers(bool on) { m_muteSpeakers = on; }
    bool muteSpeakers() const { return m_muteSpeakers; }
    // Whether screen capture is granted (always, unless set otherwise).
    void setScreenAccess(std::function<bool()> granted) { m_screenAccess = std::move(granted); }

    void start();
    void stop();
    bool isRunning() const { return bool(m_tap); }

private:
    void report(std::optional<QString> problem);

    // Shared with the tap's handler.
    struct Shared {
        std::mutex mutex;
        LevelHandler onLevel;
        std::atomic<float> gain{1.0f};
    };

    std::shared_ptr<Shared> m_shared = std::make_shared<Shared>();
    std::unique_ptr<SystemAudioTap> m_tap;
    ProblemHandler m_onProblem;
    bool m_muteSpeakers = false;
    std::function<bool()> m_screenAccess;
    TextLookup m_text;
    std::shared_ptr<AudioInput> m_input;
};

} // namespace corvessa
