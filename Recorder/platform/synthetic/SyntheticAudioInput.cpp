#include "platform/synthetic/SyntheticAudioInput.h"

#include "platform/synthetic/SyntheticCaptureStream.h"

#include <algorithm>

namespace corvessa {

SyntheticAudioInput::SyntheticAudioInput()
{
    m_sources.push_back({QStringLiteral("synthetic_mic"), QStringLiteral("Synthetic microphone"),
                         AudioFormat::floatFormat(48000, 1), true});
    AudioSink sink;
    sink.name = QStringLiteral("synthetic_out");
    sink.description = QStringLiteral("Synthetic output");
    sink.monitorSource = QStringLiteral("synthetic_out.monitor");
    sink.nativeFormat = AudioFormat::floatFormat(48000, 2);
    m_sink = sink;
}

void SyntheticAudioInput::check(AudioInputError::Stage stage) const
{
    if (m_failStage == stage)
        throw AudioInputError(stage, m_failDetail);
}

std::vector<AudioDevice> SyntheticAudioInput::sources()
{
    std::lock_guard lock(m_mutex);
    check(AudioInputError::Stage::Connect);
    return m_sources;
}

std::optional<AudioSink> SyntheticAudioInput::defaultSink()
{
    std::lock_guard lock(m_mutex);
    check(AudioInputError::Stage::Connect);
    return m_sink;
}

std::unique_ptr<AudioCaptureStream> SyntheticAudioInput::openSource(const StreamRequest& request)
{
    std::lock_guard lock(m_mutex);
    check(AudioInputError::Stage::Connect);
    check(AudioInputError::Stage::Format);
    auto it = std::find_if(m_sources.begin(), m_sources.end(), [&](const AudioDevice& d) {
        return request.source.isEmpty() ? d.isDefault : d.name == request.source;
    });
    if (it == m_sources.end())
        throw AudioInputError(AudioInputError::Stage::Format, QStringLiteral("No such entity"));
    check(AudioInputError::Stage::Stream);
    const uint32_t channels = std::clamp<uint32_t>(it->nativeFormat.channelsPerFrame, 1, std::max(1u, request.maxChannels));
    const auto format = AudioFormat::floatFormat(it->nativeFormat.sampleRate, channels);
    std::function<void()> startError;
    if (m_failStage == AudioInputError::Stage::Start)
        startError = [detail = m_failDetail] { throw AudioInputError(AudioInputError::Stage::Start, detail); };
    ++m_opened;
    return std::make_unique<SyntheticCaptureStream>(format, m_frequency, m_amplitude, startError,
                                                    std::function<void()>{}, m_micHeld);
}

std::unique_ptr<AudioCaptureStream> SyntheticAudioInput::openSystemAudio(bool muteSpeakers, const QString&)
{
    std::lock_guard lock(m_mutex);
    check(AudioInputError::Stage::Connect);
    if (muteSpeakers)
        check(AudioInputError::Stage::Route);
    check(AudioInputError::Stage::Format);
    if (!m_sink)
        throw AudioInputError(AudioInputError::Stage::Format, QStringLiteral("No such entity"));
    check(AudioInputError::Stage::Stream);
    std::function<void()> startError, onStop;
    if (m_failStage == AudioInputError::Stage::Start)
        startError = [detail = m_failDetail] { throw AudioInputError(AudioInputError::Stage::Start, detail); };
    if (muteSpeakers) {
        ++*m_routes;
        onStop = [routes = m_routes] { --*routes; };
    }
    ++m_opened;
    const auto [frequency, amplitude] = m_systemTone.value_or(std::pair{m_frequency, m_amplitude});
    return std::make_unique<SyntheticCaptureStream>(AudioFormat::floatFormat(m_sink->nativeFormat.sampleRate, 2),
                                                    frequency, amplitude, startError, onStop);
}

int SyntheticAudioInput::recoverLeftoverTaps()
{
    std::lock_guard lock(m_mutex);
    check(AudioInputError::Stage::Connect);
    return std::exchange(m_leftovers, 0);
}

AudioInput::Observation SyntheticAudioInput::observeSources(std::function<void()> changed)
{
    return m_sourceObservers.add(std::move(changed));
}

void SyntheticAudioInput::setSources(std::vector<AudioDevice> sources)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_sources == sources)
            return;
        m_sources = std::move(sources);
    }
    m_sourceObservers.notify();
}

void SyntheticAudioInput::setDefaultSink(std::optional<AudioSink> sink)
{
    std::lock_guard lock(m_mutex);
    m_sink = std::move(sink);
}

void SyntheticAudioInput::setTone(double frequency, float amplitude)
{
    std::lock_guard lock(m_mutex);
    m_frequency = frequency;
    m_amplitude = amplitude;
}

void SyntheticAudioInput::setSystemTone(double frequency, float amplitude)
{
    std::lock_guard lock(m_mutex);
    m_systemTone = std::pair{frequency, amplitude};
}

void SyntheticAudioInput::failAt(std::optional<AudioInputError::Stage> stage, const QString& detail)
{
    std::lock_guard lock(m_mutex);
    m_failStage = stage;
    m_failDetail = detail;
}

void SyntheticAudioInput::setLeftoverTaps(int count)
{
    std::lock_guard lock(m_mutex);
    m_leftovers = count;
}

void SyntheticAudioInput::holdMicrophone(bool held)
{
    *m_micHeld = held;
}

int SyntheticAudioInput::activeRoutes() const
{
    return *m_routes;
}

int SyntheticAudioInput::openedStreams() const
{
    std::lock_guard lock(m_mutex);
    return m_opened;
}

} // namespace corvessa
