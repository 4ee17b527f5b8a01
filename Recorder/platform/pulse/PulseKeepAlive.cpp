#include "platform/pulse/PulseKeepAlive.h"

#include "platform/AudioInputError.h"
#include "platform/pulse/PulseTapRoute.h"

#include <cstring>
#include <optional>

namespace corvessa {

PulseKeepAlive::PulseKeepAlive(std::shared_ptr<PulseContext> context, const QString& sink, uint32_t rate,
                               bool restartSink, bool lockHeld)
    : m_context(std::move(context))
{
    const PulseContext& c = *m_context;
    // The loop's lock nests, but a wait gives up only one level of it.
    std::optional<PulseContext::Lock> lock;
    if (!lockHeld)
        lock.emplace(c);
    const pa_sample_spec spec{PA_SAMPLE_S16LE, rate ? rate : 48000, 2};
    const PulseProplistPtr props =
        pulseProperties({{PA_PROP_MEDIA_NAME, "Recorder keep-alive"}, {PulseTapRoute::roleProperty, role}});
    m_stream.reset(pa_stream_new_with_proplist(c.context(), "Recorder keep-alive", &spec, nullptr, props.get()));
    if (!m_stream)
        throw AudioInputError(AudioInputError::Stage::Stream, c.errorText());

    pa_stream_set_write_callback(
        m_stream.get(),
        [](pa_stream*, size_t bytes, void* self) { static_cast<PulseKeepAlive*>(self)->fill(bytes); }, this);
    // Without latency adjustment the server asks the sink for the buffer less two
    // refill steps: a short sink latency, while this process is asked for more
    // silence only once per refill step instead of every few milliseconds.
    pa_buffer_attr attr;
    std::memset(&attr, 0xff, sizeof attr);
    attr.minreq = uint32_t(pa_usec_to_bytes(pa_usec_t(refillMs) * 1000, &spec));
    attr.tlength = uint32_t(pa_usec_to_bytes(pa_usec_t(sinkLatencyMs + 2 * refillMs) * 1000, &spec));
    const QByteArray name = sink.toUtf8();
    const auto flags = pa_stream_flags_t(PA_STREAM_DONT_MOVE);
    const bool ready =
        pa_stream_connect_playback(m_stream.get(), name.constData(), &attr, flags, nullptr, nullptr) == 0
        && c.waitForStream(m_stream.get());
    if (!ready) {
        const QString text = c.errorText();
        m_stream.reset();
        throw AudioInputError(AudioInputError::Stage::Stream, text);
    }
    if (restartSink) {
        for (int suspend : {1, 0}) {
            PulseContext::SuccessSlot slot{&c};
            c.await(pa_context_suspend_sink_by_name(c.context(), name.constData(), suspend,
                                                    &PulseContext::successCallback, &slot));
        }
    }
}

PulseKeepAlive::~PulseKeepAlive()
{
    PulseContext::Lock lock(*m_context);
    m_stream.reset();
}

void PulseKeepAlive::fill(size_t bytes)
{
    void* data = nullptr;
    if (bytes == 0 || pa_stream_begin_write(m_stream.get(), &data, &bytes) < 0 || !data)
        return;
    std::memset(data, 0, bytes);
    pa_stream_write(m_stream.get(), data, bytes, nullptr, 0, PA_SEEK_RELATIVE);
}

} // namespace corvessa
