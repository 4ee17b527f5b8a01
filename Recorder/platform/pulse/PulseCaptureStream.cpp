#include "platform/pulse/PulseCaptureStream.h"

#include "platform/AudioInputError.h"
#include "platform/AudioThreadBoost.h"
#include "platform/core/HostClock.h"
#include "platform/core/RecorderLog.h"
#include "platform/pulse/PulseFormat.h"
#include "platform/pulse/PulseKeepAlive.h"
#include "platform/pulse/PulseTapRoute.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include <pulse/error.h>
#include <pulse/subscribe.h>

#include <unistd.h>

namespace corvessa {

PulseCaptureStream::PulseCaptureStream(std::shared_ptr<PulseContext> context, const QString& source,
                                       const AudioFormat& format, const QString& streamName,
                                       std::unique_ptr<PulseTapRoute> route, const QString& monitoredSink,
                                       bool nullSink, bool pinned)
    : m_context(std::move(context)), m_route(std::move(route)), m_monitoredSink(monitoredSink), m_nullSink(nullSink),
      m_format(format),
      m_clock(uint32_t(format.sampleRate), clockResyncNs, clockStepNs)
{
    const auto spec = pulseSampleSpec(format);
    if (!spec)
        throw AudioInputError(AudioInputError::Stage::Format, PulseContext::errorText(PA_ERR_NOTSUPPORTED));

    const PulseContext& c = *m_context;
    PulseContext::Lock lock(c);
    pa_channel_map map;
    pa_channel_map_init_auto(&map, spec->channels, PA_CHANNEL_MAP_DEFAULT);
    const QByteArray name = streamName.toUtf8();
    const PulseProplistPtr props = pulseProperties({{PA_PROP_MEDIA_NAME, name.constData()}});
    m_stream.reset(pa_stream_new_with_proplist(c.context(), name.constData(), &*spec, &map, props.get()));
    if (!m_stream)
        throw AudioInputError(AudioInputError::Stage::Stream, c.errorText());

    pa_stream_set_read_callback(
        m_stream.get(), [](pa_stream*, size_t, void* self) { static_cast<PulseCaptureStream*>(self)->drain(); },
        this);

    // Samples the server could not hand over in time are gone: a real break.
    pa_stream_set_overflow_callback(
        m_stream.get(), [](pa_stream*, void* self) { static_cast<PulseCaptureStream*>(self)->m_clock.reset(); },
        this);

    pa_buffer_attr attr;
    std::memset(&attr, 0xff, sizeof attr); // every field "server's choice" ...
    attr.fragsize = uint32_t(pa_usec_to_bytes(pa_usec_t(fragmentMs) * 1000, &*spec)); // ... but this
    // Timing comes from the server's latency reports, not from its interpolated
    // stream clock: that one is held monotonic and starts off too late after an
    // uncork, which would skew the first second of times.
    auto flags = pa_stream_flags_t(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE);
    // When the tap sink (or the chosen microphone) goes, this stream must end,
    // not record whatever the server moves it to meanwhile.
    if (m_route || pinned)
        flags = pa_stream_flags_t(flags | PA_STREAM_DONT_MOVE);
    const QByteArray device = source.toUtf8();
    const bool ready =
        pa_stream_connect_record(m_stream.get(), source.isEmpty() ? nullptr : device.constData(), &attr, flags) == 0
        && c.waitForStream(m_stream.get());
    if (!ready) {
        const QString text = c.errorText();
        m_stream.reset();
        throw AudioInputError(AudioInputError::Stage::Stream, text);
    }
    pa_stream_set_state_callback(
        m_stream.get(),
        [](pa_stream* s, void* self) {
            auto* me = static_cast<PulseCaptureStream*>(self);
            me->m_context->signal(); // waits on the stream watch its state too
            if (!PA_STREAM_IS_GOOD(pa_stream_get_state(s)))
                me->ended(me->m_context->errorText());
        },
        this);
}

void PulseCaptureStream::setOnEnded(std::function<void()> ended)
{
    PulseContext::Lock lock(*m_context);
    m_onEnded = std::move(ended);
}

void PulseCaptureStream::ended(const QString& why)
{
    // Loop thread, lock held.
    if (m_ended || !m_stream)
        return;
    m_ended = true;
    const char* source = pa_stream_get_device_name(m_stream.get());
    RecorderLog::write(QStringLiteral("[audio] recording from %1 ended: %2")
                           .arg(source ? QString::fromUtf8(source) : QStringLiteral("?"), why));
    if (m_onEnded)
        m_onEnded();
}

void PulseCaptureStream::followDefaultOutput()
{
    const PulseContext& c = *m_context;
    PulseContext::Lock lock(c);
    if (m_route || m_monitoredSink.isEmpty() || !m_stream)
        return;
    // Everything here runs on the loop thread and asks without waiting; stop()
    // ends the subscription, and the context goes with this stream.
    pa_context_set_subscribe_callback(
        c.context(),
        [](pa_context* ctx, pa_subscription_event_type_t type, uint32_t, void* self) {
            if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SERVER)
                return;
            const PulseOperationPtr asked(pa_context_get_server_info(
                ctx,
                [](pa_context* ctx, const pa_server_info* info, void* self) {
                    auto* me = static_cast<PulseCaptureStream*>(self);
                    if (!info || !info->default_sink_name || !me->m_following
                        || me->m_monitoredSink == QString::fromUtf8(info->default_sink_name))
                        return;
                    const PulseOperationPtr sink(pa_context_get_sink_info_by_name(
                        ctx, info->default_sink_name,
                        [](pa_context*, const pa_sink_info* info, int eol, void* self) {
                            auto* me = static_cast<PulseCaptureStream*>(self);
                            const QString name = info ? QString::fromUtf8(info->name) : QString();
                            // A muting tap of another run is no output anyone hears.
                            if (eol == 0 && me->m_following && name != me->m_monitoredSink
                                && !PulseTapRoute::isTapSink(name, PulseContext::properties(info->proplist)))
                                me->ended(QStringLiteral("the default output is now %1").arg(name));
                        },
                        me));
                },
                self));
        },
        this);
    PulseContext::SuccessSlot subscribed{&c};
    m_following = c.await(pa_context_subscribe(c.context(), PA_SUBSCRIPTION_MASK_SERVER,
                                               &PulseContext::successCallback, &subscribed))
        && subscribed.success;
}

PulseCaptureStream::~PulseCaptureStream()
{
    stop();
}

QString PulseCaptureStream::sourceName() const
{
    PulseContext::Lock lock(*m_context);
    const char* name = m_stream ? pa_stream_get_device_name(m_stream.get()) : nullptr;
    return name ? QString::fromUtf8(name) : QString();
}

bool PulseCaptureStream::cork(bool corked)
{
    if (!setCorked(corked))
        return false;
    // The latency report in hand was taken while corked, and the automatic ones
    // come up to 1.5 s apart: ask for a fresh one before the first buffer is timed.
    if (!corked) {
        PulseContext::SuccessSlot slot{m_context.get()};
        m_context->await(pa_stream_update_timing_info(m_stream.get(), &PulseContext::streamSuccessCallback, &slot));
    }
    return true;
}

bool PulseCaptureStream::setCorked(bool corked)
{
    PulseContext::SuccessSlot slot{m_context.get()};
    return m_context->await(
               pa_stream_cork(m_stream.get(), corked ? 1 : 0, &PulseContext::streamSuccessCallback, &slot))
        && slot.success;
}

void PulseCaptureStream::start(Handler handler)
{
    {
        PulseContext::Lock lock(*m_context);
        if (!m_stream || pa_stream_get_state(m_stream.get()) != PA_STREAM_READY)
            throw AudioInputError(AudioInputError::Stage::Stream, m_context->isReady()
                                                                      ? PulseContext::errorText(PA_ERR_BADSTATE)
                                                                      : m_context->errorText());
        m_handler = std::move(handler);
        m_clock.reset();
        m_partial.clear();
    }
    keepAwake(true);
    PulseContext::Lock lock(*m_context);
    if (!cork(false))
        throw AudioInputError(AudioInputError::Stage::Start, m_context->errorText());
}

void PulseCaptureStream::pause()
{
    {
        PulseContext::Lock lock(*m_context);
        if (m_stream)
            cork(true);
    }
    keepAwake(false);
}

void PulseCaptureStream::resume()
{
    {
        PulseContext::Lock lock(*m_context);
        if (!m_stream || !m_handler)
            return;
    }
    keepAwake(true);
    PulseContext::Lock lock(*m_context);
    m_clock.reset();
    m_partial.clear();
    cork(false);
}

void PulseCaptureStream::prioritizeDelivery()
{
    auto boost = AudioThreadBoost::current(); // not under the loop lock: it may reach for the bus
    PulseContext::Lock lock(*m_context);
    m_boost = std::move(boost);
}

void PulseCaptureStream::stop()
{
    keepAwake(false);
    std::shared_ptr<AudioThreadBoost> boost;
    pid_t boosted = 0;
    {
        PulseContext::Lock lock(*m_context);
        boost = std::exchange(m_boost, nullptr);
        boosted = std::exchange(m_boostedTid, 0);
        if (m_following && m_context->isReady())
            pa_context_set_subscribe_callback(m_context->context(), nullptr, nullptr);
        m_following = false;
        m_stream.reset();
        m_handler = nullptr;
        m_onEnded = nullptr;
    }
    if (boost && boosted)
        boost->release(boosted);
    if (m_route)
        m_route->release();
}

void PulseCaptureStream::keepAwake(bool on)
{
    if (!on || m_monitoredSink.isEmpty()) {
        m_keepAlive.reset();
        return;
    }
    if (m_keepAlive)
        return;
    try {
        m_keepAlive =
            std::make_unique<PulseKeepAlive>(m_context, m_monitoredSink, uint32_t(m_format.sampleRate), m_nullSink);
    } catch (const AudioInputError&) {
        // Capture still works without it, only with a late start on an idle sink.
    }
}

void PulseCaptureStream::drain()
{
    // The thread is known only here; the boost only takes note of it.
    if (m_boost && m_handler && m_boostedTid == 0) {
        m_boostedTid = ::gettid();
        m_boost->boost(m_boostedTid);
    }
    while (m_stream) {
        const void* data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(m_stream.get(), &data, &bytes) < 0 || bytes == 0)
            return;
        // The first unread byte was captured before everything buffered after it
        // here, plus the device's and the transport's latency. A monitor's audio is
        // timed when the server mixes it: the sink's own latency is left out, as its
        // reports are samples of a saw-tooth (up to seconds with some players) that
        // would make the times jump.
        int64_t measured = HostClock::nanoseconds();
        const size_t buffered = pa_stream_readable_size(m_stream.get());
        measured -= bytesToNs(buffered == size_t(-1) ? bytes : std::max(buffered, bytes));
        if (const pa_timing_info* t = pa_stream_get_timing_info(m_stream.get()))
            measured -= int64_t(t->source_usec + t->transport_usec) * 1000;
        if (m_handler)
            deliver(data, bytes, measured); // data is null for a hole: silence of that length
        pa_stream_drop(m_stream.get());
    }
}

int64_t PulseCaptureStream::bytesToNs(size_t bytes) const
{
    if (m_format.bytesPerFrame == 0 || m_format.sampleRate < 1)
        return 0;
    return int64_t(bytes / m_format.bytesPerFrame) * 1000000000 / int64_t(m_format.sampleRate);
}

void PulseCaptureStream::deliver(const void* data, size_t bytes, int64_t measuredNs)
{
    if (m_format.bytesPerFrame == 0 || m_format.sampleRate < 1)
        return;
    // A partial frame carried over is less than one frame early: not worth a correction.
    const size_t frames = (m_partial.size() + bytes) / m_format.bytesPerFrame;
    if (frames == 0) {
        assemble(m_format, m_partial, data, bytes, {});
        return;
    }
    const MediaTime pts(m_clock.stamp(measuredNs, frames), 1000000000);
    if (auto buffer = assemble(m_format, m_partial, data, bytes, pts))
        m_handler(std::move(*buffer));
}

std::optional<SampleBuffer> PulseCaptureStream::assemble(const AudioFormat& format, std::vector<std::byte>& partial,
                                                         const void* data, size_t bytes, MediaTime pts)
{
    const size_t frameSize = format.bytesPerFrame;
    if (frameSize == 0 || !format.isInterleaved()) // the server only delivers interleaved audio
        return std::nullopt;
    const auto* in = static_cast<const std::byte*>(data);
    const size_t carried = partial.size();
    const size_t frames = (carried + bytes) / frameSize;
    if (frames == 0) {
        partial.resize(carried + bytes); // zeros for a hole
        if (in && bytes)
            std::memcpy(partial.data() + carried, in, bytes);
        return std::nullopt;
    }
    SampleBuffer buffer = SampleBuffer::audio(format, frames, pts); // zero-filled: a hole stays silent
    std::byte* out = buffer.audioBuffers()->buffers[0].data();
    if (carried)
        std::memcpy(out, partial.data(), carried);
    const size_t used = frames * frameSize - carried;
    if (in && used)
        std::memcpy(out + carried, in, used);
    partial.assign(bytes - used, std::byte{0});
    if (in && bytes > used)
        std::memcpy(partial.data(), in + used, bytes - used);
    return buffer;
}

} // namespace corvessa
