#include "platform/pulse/PulseCuePlayer.h"

#include "platform/pulse/PulseContext.h"
#include "platform/pulse/PulseHandles.h"
#include "platform/pulse/PulseTapRoute.h"

#include <pulse/error.h>

#include <algorithm>
#include <vector>

namespace corvessa {

namespace {

QString serverError(pa_context* context)
{
    return QString::fromUtf8(pa_strerror(pa_context_errno(context)));
}

QString streamError(pa_stream* stream)
{
    return serverError(pa_stream_get_context(stream));
}

QString connectFailure(const PulseContext::ConnectError& e)
{
    switch (e.step()) {
    case PulseContext::ConnectError::Step::MainLoop:
        return QStringLiteral("cannot start the PulseAudio main loop");
    case PulseContext::ConnectError::Step::Context:
        return QStringLiteral("cannot create a PulseAudio context");
    case PulseContext::ConnectError::Step::Timeout:
        return QStringLiteral("the sound server did not answer");
    case PulseContext::ConnectError::Step::Connect:
        break;
    }
    return QString::fromUtf8(pa_strerror(e.code()));
}

} // namespace

// One cue on its way to the speakers. Loop thread, under the loop lock.
struct PulseCuePlayer::Playback {
    PulseCuePlayer* player;
    Completion completion;
    std::shared_ptr<const Sound> sound;
    PulseStreamPtr stream;
    PulseOperationPtr drain;
    size_t written = 0; // bytes

    static void streamChanged(pa_stream* s, void* userdata)
    {
        auto* p = static_cast<Playback*>(userdata);
        const pa_stream_state_t state = pa_stream_get_state(s);
        if (PA_STREAM_IS_GOOD(state))
            return;
        const QString reason =
            state == PA_STREAM_FAILED ? streamError(s) : QStringLiteral("the stream ended early");
        p->player->finish(p, Outcome::Failed, reason);
    }

    static void streamWritable(pa_stream* s, size_t bytes, void* userdata)
    {
        auto* p = static_cast<Playback*>(userdata);
        const auto* data = reinterpret_cast<const char*>(p->sound->samples.data());
        const size_t total = p->sound->samples.size() * sizeof(qint16);
        const size_t n = std::min(bytes, total - p->written);
        // No free callback: the server connection copies the bytes.
        if (n > 0 && pa_stream_write(s, data + p->written, n, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
            p->player->finish(p, Outcome::Failed, streamError(s));
            return;
        }
        p->written += n;
        if (p->written < total)
            return;
        pa_stream_set_write_callback(s, nullptr, nullptr);
        // Draining also starts playback of a cue shorter than the prebuffer.
        p->drain.reset(pa_stream_drain(s, &Playback::streamDrained, p));
        if (!p->drain)
            p->player->finish(p, Outcome::Failed, streamError(s));
    }

    static void streamDrained(pa_stream* s, int success, void* userdata)
    {
        auto* p = static_cast<Playback*>(userdata);
        p->drain.reset();
        if (success)
            p->player->finish(p, Outcome::Finished, {});
        else
            p->player->finish(p, Outcome::Failed, streamError(s));
    }
};

PulseCuePlayer::PulseCuePlayer() = default;

PulseCuePlayer::~PulseCuePlayer()
{
    stop();
}

void PulseCuePlayer::play(const QString& name, std::shared_ptr<const Sound> sound, Completion completion)
{
    if (m_context) {
        PulseContext::Lock lock(*m_context);
        if (m_context->isReady()) {
            start(name, std::move(sound), std::move(completion));
            return;
        }
        dropAll();
    }
    m_context.reset();
    QString reason;
    if (!connect(reason)) {
        completion(Outcome::Failed, reason);
        return;
    }
    PulseContext::Lock lock(*m_context);
    start(name, std::move(sound), std::move(completion));
}

void PulseCuePlayer::stop()
{
    if (!m_context)
        return;
    {
        PulseContext::Lock lock(*m_context);
        dropAll();
    }
    m_context.reset();
}

bool PulseCuePlayer::connect(QString& reason)
{
    try {
        m_context = std::make_unique<PulseContext>(QStringLiteral("Corvessa"), connectTimeoutMs);
        return true;
    } catch (const PulseContext::ConnectError& e) {
        reason = connectFailure(e);
        return false;
    }
}

void PulseCuePlayer::dropAll()
{
    const std::vector<Playback*> open(m_playbacks.begin(), m_playbacks.end());
    for (Playback* p : open)
        finish(p, Outcome::Dropped, {});
}

void PulseCuePlayer::start(const QString& name, std::shared_ptr<const Sound> sound, Completion completion)
{
    const QByteArray mediaName = name.toUtf8();
    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_S16NE;
    spec.rate = uint32_t(sound->sampleRate);
    spec.channels = uint8_t(sound->channels);

    pa_context* context = m_context->context();
    const PulseProplistPtr props = pulseProperties({
        // The system-audio tap keeps streams with this role on the real speakers.
        {PulseTapRoute::roleProperty, "cue"},
        {PA_PROP_MEDIA_ROLE, "event"},
        {PA_PROP_MEDIA_NAME, mediaName.constData()},
    });
    PulseStreamPtr stream(pa_stream_new_with_proplist(context, mediaName.constData(), &spec, nullptr, props.get()));
    if (!stream) {
        completion(Outcome::Failed, serverError(context));
        return;
    }

    auto* p = new Playback{this, std::move(completion), std::move(sound), std::move(stream), nullptr};
    m_playbacks.insert(p);
    pa_stream_set_state_callback(p->stream.get(), &Playback::streamChanged, p);
    pa_stream_set_write_callback(p->stream.get(), &Playback::streamWritable, p);
    if (pa_stream_connect_playback(p->stream.get(), nullptr, nullptr, PA_STREAM_NOFLAGS, nullptr, nullptr) < 0)
        finish(p, Outcome::Failed, serverError(context));
}

// Ends a playback: stops its callbacks, lets go of its stream and reports it.
void PulseCuePlayer::finish(Playback* p, Outcome outcome, const QString& reason)
{
    if (p->drain)
        pa_operation_cancel(p->drain.get()); // its callback must never see the freed playback
    m_playbacks.erase(p);
    const Completion completion = std::move(p->completion);
    delete p;
    completion(outcome, reason);
}

} // namespace corvessa
