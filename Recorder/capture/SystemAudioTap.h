#pragma once

#include "capture/TextLookup.h"
#include "platform/AudioCaptureStream.h"
#include "platform/core/AudioFormat.h"
#include "platform/core/SampleBuffer.h"
#include "platform/core/SerialQueue.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>

namespace corvessa {

class AudioInput;

// Captures what the computer plays (the default output's monitor) and delivers
// it as sample buffers with host-clock times on its own "sys.tap" queue. With
// muteSpeakers the other programs' playback is carried by a private sink for as
// long as the tap exists, so the speakers stay silent while it is captured; the
// program's own sounds stay audible and out of the capture.
//
// Calling order: prepare → start → (pause → resume)* → stop. A failed prepare
// leaves the tap torn down and ready for another prepare; after a failed start
// the owner calls stop. Not thread-safe: one owner thread or queue at a time.
class SystemAudioTap {
public:
    using Handler = std::function<void(SampleBuffer)>;

    // The English texts of the errors; "%@" takes the sound server's reason.
    static constexpr const char* enableFailedText = textKey("Failed to enable system audio recording (%@)");
    static constexpr const char* deviceFailedText = textKey("Failed to create recording device (%@)");
    static constexpr const char* formatUnreadableText = textKey("Can't read the system audio format (%@).");
    static constexpr const char* formatInvalidText = textKey("The System Audio format is invalid.");
    static constexpr const char* readFailedText = textKey("Failed to read system audio (%@)");
    static constexpr const char* startFailedText = textKey("Failed to start recording (%@)");

    // A failure to prepare or start; the text is final (translated and filled).
    class TapError : public std::runtime_error {
    public:
        explicit TapError(const QString& description)
            : std::runtime_error(description.toStdString()), errorDescription(description) {}
        QString errorDescription;
    };

    // `text` translates the error texts (English without it); `input` is the
    // audio service (AudioInput::current() when null).
    explicit SystemAudioTap(bool muteSpeakers, TextLookup text = {}, std::shared_ptr<AudioInput> input = nullptr);
    ~SystemAudioTap();
    SystemAudioTap(const SystemAudioTap&) = delete;
    SystemAudioTap& operator=(const SystemAudioTap&) = delete;

    // Connects to the output's monitor (setting up the muting route first when
    // asked) and learns its format. Throws TapError.
    void prepare();
    // Stores the handler (replacing any earlier one) and starts delivery. Throws TapError.
    void start(Handler handler);
    // Suspends delivery; the stream stays prepared.
    void pause();
    // Restarts delivery after a pause, rebuilding first when the mute setting
    // changed meanwhile (an error then leaves the tap not running).
    void resume();
    // Clears the handler and tears everything down. No handler call is running or
    // follows once it returns (unless called from the handler itself).
    void stop();
    // Changes the mute setting: at once while running, else at the next resume.
    void setMute(bool on);
    // The microphone recorded beside (empty: the default source). Muting never
    // takes the streams that play into the output it records. Before prepare.
    void setMicrophone(const QString& source) { m_microphone = source; }
    // For a tap whose sound is recorded: its stream's thread is raised above the
    // rest of the program (AudioCaptureStream::prioritizeDelivery). Before prepare.
    void setPrioritized(bool on) { m_prioritized = on; }

    bool muteSpeakers() const { return m_muteSpeakers; }
    bool isRunning() const { return m_running; }
    bool needsRebuild() const { return m_needsRebuild; }
    bool hasHandler() const;
    // The captured format, once prepared.
    std::optional<AudioFormat> format() const { return m_format; }

    // At launch: undoes the muting route of a run that died while muting, so the
    // speakers play again. Logs what it did; never throws. Returns how many it undid.
    static int recoverAfterCrash(std::shared_ptr<AudioInput> input = nullptr);

private:
    // Shared with the blocks queued on "sys.tap", which may outlive a stop.
    struct Delivery {
        std::mutex mutex;
        Handler handler;
    };

    void teardown();
    void rebuild();
    void setHandler(Handler handler);
    [[noreturn]] void fail(const char* english, const QString& detail = {});

    bool m_muteSpeakers;
    QString m_microphone;
    bool m_prioritized = false;
    std::shared_ptr<Delivery> m_delivery = std::make_shared<Delivery>();
    std::atomic<bool> m_running{false};
    bool m_needsRebuild = false;
    std::optional<AudioFormat> m_format;
    std::unique_ptr<AudioCaptureStream> m_stream;
    std::shared_ptr<AudioInput> m_input;
    TextLookup m_text;
    SerialQueue m_queue{"sys.tap", SerialQueue::QoS::UserInteractive};
};

} // namespace corvessa
