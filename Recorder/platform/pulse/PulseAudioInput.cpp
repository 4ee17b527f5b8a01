#include "platform/pulse/PulseAudioInput.h"

#include "platform/AudioInputError.h"
#include "platform/core/RecorderLog.h"
#include "platform/pulse/PulseCaptureStream.h"
#include "platform/pulse/PulseFormat.h"
#include "platform/pulse/PulseRecoveringStream.h"
#include "platform/pulse/PulseSourceWatcher.h"
#include "platform/pulse/PulseTapRoute.h"

#include <algorithm>

#include <pulse/error.h>

namespace corvessa {

namespace {

AudioFormat formatOrFloat(const pa_sample_spec& spec)
{
    if (auto f = audioFormatFromPulse(spec))
        return *f;
    return AudioFormat::floatFormat(spec.rate, spec.channels);
}

AudioSink toSink(const PulseContext::SinkEntry& e)
{
    AudioSink s;
    s.name = e.name;
    s.description = e.description;
    s.monitorSource = e.monitorSource;
    s.activePort = e.activePort;
    s.activePortDescription = e.activePortDescription;
    s.nativeFormat = formatOrFloat(e.spec);
    s.properties = e.properties;
    return s;
}

} // namespace

PulseAudioInput::PulseAudioInput(QString clientName) : m_clientName(std::move(clientName)) {}

std::vector<AudioDevice> PulseAudioInput::microphones(const std::vector<PulseContext::SourceEntry>& sources,
                                                      const QString& defaultSource)
{
    std::vector<AudioDevice> devices;
    for (const auto& s : sources) {
        if (s.monitorOfSink != PA_INVALID_INDEX || s.properties.value(QStringLiteral("device.class")) == u"monitor")
            continue;
        if (s.description == QLatin1String(AudioInput::tapDescription)
            || s.name.startsWith(QLatin1String(PulseTapRoute::sinkName)))
            continue;
        devices.push_back({s.name, s.description, formatOrFloat(s.spec), s.name == defaultSource});
    }
    return devices;
}

std::optional<AudioSink> PulseAudioInput::effectiveDefaultSink(const std::vector<PulseContext::SinkEntry>& sinks,
                                                               const QString& defaultSink)
{
    auto byName = [&](const QString& name) -> const PulseContext::SinkEntry* {
        auto it = std::find_if(sinks.begin(), sinks.end(), [&](const auto& s) { return s.name == name; });
        return it == sinks.end() ? nullptr : &*it;
    };
    const auto* sink = byName(defaultSink);
    if (sink && PulseTapRoute::isTapSink(sink->name, sink->properties)) {
        const auto* previous = byName(PulseTapRoute::standsInFor(sink->name, sink->properties));
        if (previous)
            sink = previous;
    }
    if (!sink)
        return std::nullopt;
    return toSink(*sink);
}

const PulseContext::SinkEntry* PulseAudioInput::sinkBehind(const QString& source,
                                                           const std::vector<PulseContext::SourceEntry>& sources,
                                                           const std::vector<PulseContext::SinkEntry>& sinks)
{
    QString name = source;
    // A few filters deep at most: a chain that loops back ends here too.
    for (int depth = 0; depth < 4; ++depth) {
        auto it = std::find_if(sources.begin(), sources.end(), [&](const auto& s) { return s.name == name; });
        if (it == sources.end())
            return nullptr;
        if (it->monitorOfSink != PA_INVALID_INDEX) {
            auto sink = std::find_if(sinks.begin(), sinks.end(),
                                     [&](const auto& s) { return s.index == it->monitorOfSink; });
            return sink == sinks.end() ? nullptr : &*sink;
        }
        name = it->properties.value(QStringLiteral("device.master_device"));
        if (name.isEmpty())
            return nullptr;
    }
    return nullptr;
}

std::vector<AudioDevice> PulseAudioInput::sources()
{
    PulseContext c(m_clientName);
    PulseContext::Lock lock(c);
    const auto defaults = c.defaults();
    const auto list = c.sources();
    if (!defaults || !list)
        throw AudioInputError(AudioInputError::Stage::Connect, c.errorText());
    return microphones(*list, defaults->source);
}

std::optional<AudioSink> PulseAudioInput::defaultSink()
{
    PulseContext c(m_clientName);
    PulseContext::Lock lock(c);
    const auto defaults = c.defaults();
    const auto sinks = c.sinks();
    if (!defaults || !sinks)
        throw AudioInputError(AudioInputError::Stage::Connect, c.errorText());
    return effectiveDefaultSink(*sinks, defaults->sink);
}

std::unique_ptr<AudioCaptureStream> PulseAudioInput::openSource(const StreamRequest& request)
{
    return std::make_unique<PulseRecoveringStream>(
        [clientName = m_clientName, request](const std::optional<AudioFormat>& format) {
            return connectSource(clientName, request, format);
        });
}

std::unique_ptr<PulseCaptureStream> PulseAudioInput::connectSource(const QString& clientName,
                                                                   const StreamRequest& request,
                                                                   const std::optional<AudioFormat>& fixed)
{
    auto c = std::make_shared<PulseContext>(clientName);
    AudioFormat format;
    QString monitoredSink;
    bool nullSink = false;
    {
        PulseContext::Lock lock(*c);
        const auto defaults = c->defaults();
        const auto list = c->sources();
        const auto sinks = c->sinks();
        if (!defaults || !list || !sinks)
            throw AudioInputError(AudioInputError::Stage::Format, c->errorText());
        const QString name = request.source.isEmpty() ? defaults->source : request.source;
        auto it = std::find_if(list->begin(), list->end(), [&](const auto& s) { return s.name == name; });
        if (it == list->end())
            throw AudioInputError(AudioInputError::Stage::Format, PulseContext::errorText(PA_ERR_NOENTITY));
        pa_sample_spec spec = it->spec;
        spec.channels = uint8_t(std::clamp<uint32_t>(spec.channels, 1, std::max<uint32_t>(1, request.maxChannels)));
        if (!pa_sample_spec_valid(&spec))
            throw AudioInputError(AudioInputError::Stage::Format, PulseContext::errorText(PA_ERR_INVALID));
        format = AudioFormat::floatFormat(spec.rate, spec.channels);
        if (request.format == SampleFormat::Native)
            format = formatOrFloat(spec);
        // A microphone made of a sink's monitor (a virtual one) starts only when
        // that sink next renders, up to two seconds away on an idle null sink:
        // the sink is kept awake as for system audio.
        if (const auto* sink = sinkBehind(name, *list, *sinks)) {
            monitoredSink = sink->name;
            nullSink = sink->driver == u"module-null-sink.c";
        }
    }
    // A named microphone that goes away is waited for, never replaced by
    // whatever source the server would move the stream to.
    return std::make_unique<PulseCaptureStream>(c, request.source, fixed.value_or(format), request.streamName,
                                                nullptr, monitoredSink, nullSink, !request.source.isEmpty());
}

std::unique_ptr<AudioCaptureStream> PulseAudioInput::openSystemAudio(bool muteSpeakers, const QString& microphone)
{
    return std::make_unique<PulseRecoveringStream>(
        [clientName = m_clientName, muteSpeakers, microphone](const std::optional<AudioFormat>& format) {
            return connectSystemAudio(clientName, muteSpeakers, microphone, format);
        });
}

std::unique_ptr<PulseCaptureStream> PulseAudioInput::connectSystemAudio(const QString& clientName, bool muteSpeakers,
                                                                        const QString& microphone,
                                                                        const std::optional<AudioFormat>& fixed)
{
    auto c = std::make_shared<PulseContext>(clientName);
    std::unique_ptr<PulseTapRoute> route;
    QString monitor, sink;
    uint32_t rate = 0;
    bool nullSink = true;
    if (muteSpeakers) {
        route = std::make_unique<PulseTapRoute>(c, microphone);
        monitor = route->monitorSource();
        sink = route->sink();
        rate = route->sampleSpec().rate;
    } else {
        PulseContext::Lock lock(*c);
        const auto defaults = c->defaults();
        const auto sinks = c->sinks();
        if (!defaults || !sinks)
            throw AudioInputError(AudioInputError::Stage::Format, c->errorText());
        auto it = std::find_if(sinks->begin(), sinks->end(), [&](const auto& s) { return s.name == defaults->sink; });
        if (it == sinks->end())
            throw AudioInputError(AudioInputError::Stage::Format, PulseContext::errorText(PA_ERR_NOENTITY));
        monitor = it->monitorSource;
        sink = it->name;
        rate = it->spec.rate;
        nullSink = it->driver == u"module-null-sink.c";
    }
    if (monitor.isEmpty() || rate == 0)
        throw AudioInputError(AudioInputError::Stage::Format, PulseContext::errorText(PA_ERR_NOENTITY));
    const bool follow = !route;
    auto stream = std::make_unique<PulseCaptureStream>(c, monitor, fixed.value_or(AudioFormat::floatFormat(rate, 2)),
                                                       QStringLiteral("Recorder system audio"), std::move(route), sink,
                                                       nullSink);
    // Without a route the stream records one output's monitor: another default
    // output means connecting anew. A route follows the default itself.
    if (follow)
        stream->followDefaultOutput();
    return stream;
}

AudioInput::Observation PulseAudioInput::observeSources(std::function<void()> changed)
{
    try {
        return std::make_shared<PulseSourceWatcher>(m_clientName, std::move(changed));
    } catch (const AudioInputError& e) {
        RecorderLog::write(QStringLiteral("[audio] microphone changes are not observed: %1").arg(e.detail()));
        return std::make_shared<char>(0); // an observation of nothing
    }
}

int PulseAudioInput::recoverLeftoverTaps()
{
    PulseContext c(m_clientName);
    return PulseTapRoute::recoverLeftovers(c);
}

} // namespace corvessa
