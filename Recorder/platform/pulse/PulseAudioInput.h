#pragma once

#include "platform/AudioInput.h"
#include "platform/pulse/PulseContext.h"

namespace corvessa {

class PulseCaptureStream;

// The audio input service on the PulseAudio server (also PipeWire's PulseAudio
// service). Each query opens a short connection; each stream has its own. Any
// thread: it keeps nothing but the client name.
class PulseAudioInput : public AudioInput {
public:
    explicit PulseAudioInput(QString clientName = QStringLiteral("Recorder"));

    std::vector<AudioDevice> sources() override;
    std::optional<AudioSink> defaultSink() override;
    std::unique_ptr<AudioCaptureStream> openSource(const StreamRequest& request) override;
    std::unique_ptr<AudioCaptureStream> openSystemAudio(bool muteSpeakers, const QString& microphone) override;
    int recoverLeftoverTaps() override;
    // A PulseSourceWatcher on a connection of its own per observation.
    Observation observeSources(std::function<void()> changed) override;

    // The microphones among the server's sources: no monitors, nothing of the tap.
    static std::vector<AudioDevice> microphones(const std::vector<PulseContext::SourceEntry>& sources,
                                                const QString& defaultSource);
    // The sink as the program sees it. While a tap route is the default, the
    // output it stands in for takes its place (that is what the user hears).
    static std::optional<AudioSink> effectiveDefaultSink(const std::vector<PulseContext::SinkEntry>& sinks,
                                                         const QString& defaultSink);

    // The sink whose monitor `source` records, directly or through filter
    // sources on it (a remapped or echo-cancelled monitor, as virtual
    // microphones are made); nothing for a source of its own.
    static const PulseContext::SinkEntry* sinkBehind(const QString& source,
                                                     const std::vector<PulseContext::SourceEntry>& sources,
                                                     const std::vector<PulseContext::SinkEntry>& sinks);

private:
    // One connection's stream; in `format` when given, else the source's own.
    // The service's streams make them anew when they end (PulseRecoveringStream).
    static std::unique_ptr<PulseCaptureStream> connectSource(const QString& clientName, const StreamRequest& request,
                                                             const std::optional<AudioFormat>& format);
    static std::unique_ptr<PulseCaptureStream> connectSystemAudio(const QString& clientName, bool muteSpeakers,
                                                                  const QString& microphone,
                                                                  const std::optional<AudioFormat>& format);

    QString m_clientName;
};

} // namespace corvessa
