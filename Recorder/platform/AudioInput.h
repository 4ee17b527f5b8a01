#pragma once

#include "platform/AudioCaptureStream.h"
#include "platform/AudioDevice.h"
#include "platform/AudioSink.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace corvessa {

// The audio input service: microphones, the default output and capture streams
// on either. Backends: PulseAudioInput (the sound server) and SyntheticAudioInput
// (a tone, for tests and machines without sound). Every call may block briefly
// on the server; all are thread-safe. Failures throw AudioInputError.
class AudioInput {
public:
    // Description of the private sink that carries other programs' playback while
    // the speakers are muted. The microphone list never shows it.
    static constexpr const char* tapDescription = "Recorder tap";

    enum class SampleFormat {
        Float32, // 32-bit float at the device's rate
        Native,  // the device's own sample format where it is linear PCM, else Float32
    };

    struct StreamRequest {
        QString source;                          // a source name; empty: the default source
        SampleFormat format = SampleFormat::Float32;
        uint32_t maxChannels = 2;                // the device's channel count, capped
        QString streamName = QStringLiteral("Recorder microphone");
    };

    // Ends the observation when the last copy is dropped.
    using Observation = std::shared_ptr<void>;

    virtual ~AudioInput() = default;

    // The capture devices a user would call microphones: no monitors of outputs
    // and no "Recorder tap". The server's default source is marked.
    virtual std::vector<AudioDevice> sources() = 0;
    // The default output device; none when the server has no output.
    virtual std::optional<AudioSink> defaultSink() = 0;

    // A prepared stream on a microphone. A microphone named in the request that
    // goes away is waited for, never replaced by another source meanwhile.
    virtual std::unique_ptr<AudioCaptureStream> openSource(const StreamRequest& request) = 0;
    // A prepared stream on what the default output plays, as float32 stereo. With
    // `muteSpeakers` the other programs' playback is moved onto a private sink for
    // the stream's life, so the speakers stay silent while it is captured; the
    // program's own streams stay where they are, and so do the streams that play
    // into the output a microphone records (a virtual microphone made of an
    // output's monitor): `microphone` names that source, empty for the default
    // one. Stopping or destroying the stream moves everything back.
    virtual std::unique_ptr<AudioCaptureStream> openSystemAudio(bool muteSpeakers, const QString& microphone) = 0;

    // Undoes a private tap sink left behind by a process that died while muting:
    // its streams go back, the default output is restored, the sink is removed.
    // Returns how many were undone.
    virtual int recoverLeftoverTaps() = 0;

    // Calls `changed`, on a thread of the service, whenever a microphone appears
    // or disappears or the default one changes; sometimes more often (outputs
    // coming and going too), so receivers compare sources() with what they had.
    // A call already under way may still finish after the observation ends, so
    // handlers hold their receivers weakly and hop to their own thread. Never
    // throws: where the server cannot be reached, or once it goes away, nothing
    // more is called and the log says so.
    [[nodiscard]] virtual Observation observeSources(std::function<void()> changed) = 0;

    // The process-wide service: PulseAudio unless one was installed (or
    // CORVESSA_AUDIO=synthetic is set in the environment).
    static std::shared_ptr<AudioInput> current();
    // Installs the process-wide service; null goes back to the automatic choice.
    static void setCurrent(std::shared_ptr<AudioInput> input);
};

} // namespace corvessa
