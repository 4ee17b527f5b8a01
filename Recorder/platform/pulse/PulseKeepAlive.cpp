#include "platform/pulse/PulseKeepAlive.h"

#include "platform/AudioInputError.h"
#include "platform/pulse/PulseTapRoute.h"

#include <cstring>

namespace corvessa {

PulseKeepAlive::PulseKeepAlive(std::shared_ptr<PulseContext> context, const QString& sink, uint32_t rate,
                               bool restartSink)
    : m_context(std::move(context))
{
    const PulseContext& c = *m_context;
    PulseContext::Lock lock(c);
    const pa_sample_spec spec{PA_SAMPLE_S16LE, rate ? rate : 48000, 2};
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_MEDIA_NAME, "Recorder keep-alive");
    pa_proplist_sets(props, PulseTapRoute::roleProperty, role);
    m_stream = pa_stream_new_with_proplist(c.context(), "Recorder keep-alive", &spec, nullptr, props);
    pa_proplist_free(props);
    if (!m_stream)
        throw AudioInputError(AudioInputError::Stage::Stream, c.errorText());

    pa_stream_set_state_callback(
        m_stream, [](pa_stream*, void* self) { static_cast<PulseKeepAlive*>(self)->m_context->signal(); }, this);
    pa_stream_set_write_callback(
        m_stream, [](pa_stream*, size_t bytes, void* self) { static_cast<PulseKeepAlive*>(self)->fill(bytes); }, this);
    pa_buffer_attr attr;
    std::memset(&attr, 0xff, sizeof attr);
    attr.tlength = uint32_t(pa_usec_to_bytes(pa_usec_t(bufferMs) * 1000, &spec));
    const QByteArray name = sink.toUtf8();
    const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    bool ready = pa_stream_connect_playback(m_stream, name.constData(), &attr, flags, nullptr, nullptr) == 0;
    if (ready)
        ready = c.waitUntil([this] {
            const pa_stream_state_t s = pa_stream_get_state(m_stream);
            return s == PA_STREAM_READY || !PA_STREAM_IS_GOOD(s);
        }) && pa_stream_get_state(m_stream) == PA_STREAM_READY;
    if (!ready) {
        const QString text = c.errorText();
        pa_stream_set_state_callback(m_stream, nullptr, nullptr);
        pa_stream_set_write_callback(m_stream, nullptr, nullptr);
        pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
        m_stream = nullptr;
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
    if (!m_stream)
        return;
    pa_stream_set_state_callback(m_stream, nullptr, nullptr);
    pa_stream_set_write_callback(m_stream, nullptr, nullptr);
    pa_stream_disconnect(m_stream);
    pa_stream_unref(m_stream);
}

void PulseKeepAlive::fill(size_t bytes)
{
    void* data = nullptr;
    if (bytes == 0 || pa_stream_begin_write(m_stream, &data, &bytes) < 0 || !data)
        return;
    std::memset(data, 0, bytes);
    pa_stream_write(m_stream, data, bytes, nullptr, 0, PA_SEEK_RELATIVE);
}

} // namespace corvessa
