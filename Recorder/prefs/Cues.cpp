#include "prefs/Cues.h"

#include "platform/core/RecorderLog.h"
#include "platform/core/MainQueue.h"
#include "platform/core/Resources.h"
#include "platform/core/SerialQueue.h"

#include <QtEndian>

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/proplist.h>
#include <pulse/rtclock.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <map>
#include <memory>
#include <set>

namespace corvessa {

namespace {

using namespace std::chrono_literals;

// A cue that waited this long behind a slow connection is dropped: a tick heard a
// second late is worse than none.
constexpr auto kStaleAfter = 1000ms;
// How long the worker waits for a sound server that accepts the connection but
// does not answer. Only the worker waits; callers never do.
constexpr pa_usec_t kConnectTimeout = 2 * PA_USEC_PER_SEC;

constexpr int kMinRate = 8000;
constexpr int kMaxRate = 192000;
constexpr quint16 kFormatPcm = 1;
constexpr quint16 kFormatExtensible = 0xFFFE;
// The tail of KSDATAFORMAT_SUBTYPE_PCM after its leading format code.
constexpr char kSubtypeTail[] = "\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71";

std::atomic<quint64> g_requested{0};
std::atomic<quint64> g_finished{0};
std::atomic<quint64> g_skipped{0};

quint16 u16(const QByteArray& b, qsizetype at)
{
    return qFromLittleEndian<quint16>(b.constData() + at);
}

quint32 u32(const QByteArray& b, qsizetype at)
{
    return qFromLittleEndian<quint32>(b.constData() + at);
}

std::optional<Cues::Sound> reject(QString* error, const QString& why)
{
    if (error)
        *error = why;
    return std::nullopt;
}

// Plays cues on one PulseAudio connection, made on first use and remade after the
// server went away. Cue requests run in order on a worker queue; the streams then
// live on the threaded main loop until they have drained.
class CuePlayer {
public:
    static CuePlayer& shared()
    {
        static CuePlayer player;
        return player;
    }

    void enqueue(Cues::Kind kind)
    {
        const auto asked = SerialQueue::Clock::now();
        m_queue->async([this, kind, asked] { playNow(kind, asked); });
    }

    ~CuePlayer()
    {
        m_closing = true;
        m_queue.reset(); // joins the worker; what is still queued skips itself
        if (!m_loop)
            return;
        pa_threaded_mainloop_lock(m_loop);
        dropContext();
        pa_threaded_mainloop_unlock(m_loop);
        pa_threaded_mainloop_stop(m_loop);
        pa_threaded_mainloop_free(m_loop);
    }

private:
    enum class Outcome { finished, failed, dropped };

    struct Playback {
        CuePlayer* player;
        Cues::Kind kind;
        std::shared_ptr<const Cues::Sound> sound;
        pa_stream* stream = nullptr;
        pa_operation* drain = nullptr;
        size_t written = 0; // bytes
    };

    struct ConnectWait {
        pa_threaded_mainloop* loop;
        bool timedOut = false;
    };

    CuePlayer() : m_queue(std::make_unique<SerialQueue>("cues")) {}

    // ---- worker queue ----

    void playNow(Cues::Kind kind, SerialQueue::Clock::time_point asked)
    {
        if (m_closing || SerialQueue::Clock::now() - asked > kStaleAfter) {
            ++g_skipped;
            return;
        }
        const auto sound = soundFor(kind);
        if (!sound) {
            ++g_skipped;
            return;
        }
        if (!m_loop) {
            m_loop = pa_threaded_mainloop_new();
            if (m_loop && pa_threaded_mainloop_start(m_loop) < 0) {
                pa_threaded_mainloop_free(m_loop);
                m_loop = nullptr;
            }
            if (!m_loop) {
                fail(kind, QStringLiteral("cannot start the PulseAudio main loop"));
                return;
            }
        }
        pa_threaded_mainloop_lock(m_loop);
        QString reason;
        if (connect(reason))
            startStream(kind, sound);
        else
            fail(kind, reason);
        pa_threaded_mainloop_unlock(m_loop);
    }

    // Decoded cues stay for the run; a kind that cannot be read is remembered too,
    // so its log line comes once.
    std::shared_ptr<const Cues::Sound> soundFor(Cues::Kind kind)
    {
        const auto found = m_sounds.find(kind);
        if (found != m_sounds.end())
            return found->second;
        std::shared_ptr<const Cues::Sound> sound;
        if (auto loaded = Cues::load(kind))
            sound = std::make_shared<const Cues::Sound>(std::move(*loaded));
        m_sounds.emplace(kind, sound);
        return sound;
    }

    // ---- under the main-loop lock ----

    bool connect(QString& reason)
    {
        if (m_context && pa_context_get_state(m_context) == PA_CONTEXT_READY)
            return true;
        dropContext();

        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Corvessa");
        pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "corvessa");
        m_context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(m_loop), "Corvessa", props);
        pa_proplist_free(props);
        if (!m_context) {
            reason = QStringLiteral("cannot create a PulseAudio context");
            return false;
        }
        pa_context_set_state_callback(m_context, &CuePlayer::contextChanged, this);
        // Never spawn a daemon of our own for a sound effect.
        if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            reason = QString::fromUtf8(pa_strerror(pa_context_errno(m_context)));
            dropContext();
            return false;
        }

        ConnectWait wait{m_loop};
        pa_time_event* timer = pa_context_rttime_new(m_context, pa_rtclock_now() + kConnectTimeout,
                                                     &CuePlayer::connectTimedOut, &wait);
        for (;;) {
            const pa_context_state_t state = pa_context_get_state(m_context);
            if (state == PA_CONTEXT_READY)
                break;
            if (!PA_CONTEXT_IS_GOOD(state)) {
                reason = QString::fromUtf8(pa_strerror(pa_context_errno(m_context)));
                break;
            }
            if (wait.timedOut) {
                reason = QStringLiteral("the sound server did not answer");
                break;
            }
            pa_threaded_mainloop_wait(m_loop);
        }
        if (timer)
            pa_threaded_mainloop_get_api(m_loop)->time_free(timer);
        if (pa_context_get_state(m_context) == PA_CONTEXT_READY)
            return true;
        dropContext();
        return false;
    }

    void dropContext()
    {
        const std::set<Playback*> open = m_playbacks;
        for (Playback* p : open)
            finish(p, Outcome::dropped, {});
        if (!m_context)
            return;
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        m_context = nullptr;
    }

    void startStream(Cues::Kind kind, const std::shared_ptr<const Cues::Sound>& sound)
    {
        const QByteArray name = Cues::name(kind).toUtf8();
        pa_sample_spec spec{};
        spec.format = PA_SAMPLE_S16NE;
        spec.rate = uint32_t(sound->sampleRate);
        spec.channels = uint8_t(sound->channels);

        pa_proplist* props = pa_proplist_new();
        // The system-audio tap keeps streams with this role on the real speakers.
        pa_proplist_sets(props, "corvessa.role", "cue");
        pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "event");
        pa_proplist_sets(props, PA_PROP_MEDIA_NAME, name.constData());
        pa_stream* stream = pa_stream_new_with_proplist(m_context, name.constData(), &spec, nullptr, props);
        pa_proplist_free(props);
        if (!stream) {
            fail(kind, QString::fromUtf8(pa_strerror(pa_context_errno(m_context))));
            return;
        }

        auto* p = new Playback{this, kind, sound, stream};
        m_playbacks.insert(p);
        pa_stream_set_state_callback(stream, &CuePlayer::streamChanged, p);
        pa_stream_set_write_callback(stream, &CuePlayer::streamWritable, p);
        if (pa_stream_connect_playback(stream, nullptr, nullptr, PA_STREAM_NOFLAGS, nullptr, nullptr) < 0)
            finish(p, Outcome::failed, QString::fromUtf8(pa_strerror(pa_context_errno(m_context))));
    }

    // Ends a playback: stops its callbacks, lets go of the stream and counts it.
    void finish(Playback* p, Outcome outcome, const QString& reason)
    {
        pa_stream* s = p->stream;
        pa_stream_set_state_callback(s, nullptr, nullptr);
        pa_stream_set_write_callback(s, nullptr, nullptr);
        if (p->drain) {
            pa_operation_cancel(p->drain); // its callback must never see the freed playback
            pa_operation_unref(p->drain);
        }
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(s)))
            pa_stream_disconnect(s);
        pa_stream_unref(s);
        m_playbacks.erase(p);
        const Cues::Kind kind = p->kind;
        delete p;

        switch (outcome) {
        case Outcome::finished:
            ++g_finished;
            m_failing = false;
            break;
        case Outcome::failed:
            fail(kind, reason);
            break;
        case Outcome::dropped:
            ++g_skipped;
            break;
        }
    }

    // One log line for the first failure of a streak; the next cue that plays
    // ends the streak.
    void fail(Cues::Kind kind, const QString& reason)
    {
        ++g_skipped;
        if (!m_failing.exchange(true))
            RecorderLog::write(QStringLiteral("[cues] %1 skipped: %2").arg(Cues::name(kind), reason));
    }

    // ---- main-loop callbacks (the loop lock is held) ----

    static void contextChanged(pa_context*, void* userdata)
    {
        pa_threaded_mainloop_signal(static_cast<CuePlayer*>(userdata)->m_loop, 0);
    }

    static void connectTimedOut(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata)
    {
        auto* wait = static_cast<ConnectWait*>(userdata);
        wait->timedOut = true;
        pa_threaded_mainloop_signal(wait->loop, 0);
    }

    static void streamChanged(pa_stream* s, void* userdata)
    {
        auto* p = static_cast<Playback*>(userdata);
        const pa_stream_state_t state = pa_stream_get_state(s);
        if (PA_STREAM_IS_GOOD(state))
            return;
        const QString reason = state == PA_STREAM_FAILED
            ? QString::fromUtf8(pa_strerror(pa_context_errno(pa_stream_get_context(s))))
            : QStringLiteral("the stream ended early");
        p->player->finish(p, Outcome::failed, reason);
    }

    static void streamWritable(pa_stream* s, size_t bytes, void* userdata)
    {
        auto* p = static_cast<Playback*>(userdata);
        const auto* data = reinterpret_cast<const char*>(p->sound->samples.data());
        const size_t total = p->sound->samples.size() * sizeof(qint16);
        const size_t n = std::min(bytes, total - p->written);
        // No free callback: the server connection copies the bytes.
        if (n > 0 && pa_stream_write(s, data + p->written, n, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
            p->player->finish(p, Outcome::failed, QString::fromUtf8(pa_strerror(pa_context_errno(pa_stream_get_context(s)))));
            return;
        }
        p->written += n;
        if (p->written < total)
            return;
        pa_stream_set_write_callback(s, nullptr, nullptr);
        // Draining also starts playback of a cue shorter than the prebuffer.
        p->drain = pa_stream_drain(s, &CuePlayer::streamDrained, p);
        if (!p->drain)
            p->player->finish(p, Outcome::failed, QString::fromUtf8(pa_strerror(pa_context_errno(pa_stream_get_context(s)))));
    }

    static void streamDrained(pa_stream* s, int success, void* userdata)
    {
        auto* p = static_cast<Playback*>(userdata);
        pa_operation_unref(p->drain);
        p->drain = nullptr;
        if (success)
            p->player->finish(p, Outcome::finished, {});
        else
            p->player->finish(p, Outcome::failed, QString::fromUtf8(pa_strerror(pa_context_errno(pa_stream_get_context(s)))));
    }

    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    std::set<Playback*> m_playbacks;
    std::map<Cues::Kind, std::shared_ptr<const Cues::Sound>> m_sounds; // worker only
    std::atomic<bool> m_failing{false};
    std::atomic<bool> m_closing{false};
    std::unique_ptr<SerialQueue> m_queue;
};

} // namespace

QString Cues::name(Kind kind)
{
    switch (kind) {
    case Kind::tick: return QStringLiteral("tick");
    case Kind::tick_last: return QStringLiteral("tick_last");
    case Kind::start: return QStringLiteral("start");
    case Kind::end: return QStringLiteral("end");
    case Kind::launch: return QStringLiteral("launch");
    case Kind::pause: return QStringLiteral("pause");
    }
    return {};
}

QString Cues::resource(Kind kind)
{
    return QStringLiteral("sounds/") + name(kind) + QStringLiteral(".wav");
}

double Cues::volume(Kind kind)
{
    return kind == Kind::launch ? 0.5 : 0.85;
}

void Cues::play(Kind kind)
{
    ++g_requested;
    CuePlayer::shared().enqueue(kind);
}

void Cues::previewCountdown()
{
    play(Kind::tick);
    MainQueue::asyncAfter(500ms, [] { play(Kind::tick); });
    MainQueue::asyncAfter(1000ms, [] { play(Kind::tick_last); });
    MainQueue::asyncAfter(1500ms, [] { play(Kind::start); });
}

int Cues::playingCount()
{
    const Counts c = counts();
    return int(c.requested - c.finished - c.skipped);
}

Cues::Counts Cues::counts()
{
    // Done before requested, so a cue finishing meanwhile never counts as done
    // without having been asked for.
    Counts c;
    c.finished = g_finished.load();
    c.skipped = g_skipped.load();
    c.requested = g_requested.load();
    return c;
}

std::optional<Cues::Sound> Cues::parseWave(const QByteArray& bytes, QString* error)
{
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        return reject(error, QStringLiteral("not a RIFF/WAVE file"));
    // Writers often get the RIFF size wrong on the long side; trust it only where
    // it ends the file early (anything after it is not part of the file).
    const qint64 riffEnd = 8 + qint64(u32(bytes, 4));
    const qint64 end = std::min<qint64>(bytes.size(), riffEnd);

    qint64 fmtAt = -1, fmtSize = 0, dataAt = -1, dataSize = 0;
    for (qint64 at = 12; at + 8 <= end;) {
        const QByteArray id = bytes.mid(at, 4);
        const qint64 size = u32(bytes, at + 4);
        const qint64 body = at + 8;
        if (body + size > end) {
            if (id == "data")
                return reject(error, QStringLiteral("the data chunk is cut short (%1 of %2 bytes)")
                                         .arg(end - body).arg(size));
            return reject(error, QStringLiteral("a chunk runs past the end of the file"));
        }
        if (id == "fmt " && fmtAt < 0) {
            fmtAt = body;
            fmtSize = size;
        } else if (id == "data" && dataAt < 0) {
            dataAt = body;
            dataSize = size;
        }
        at = body + size + (size & 1); // chunks are padded to even sizes
    }
    if (fmtAt < 0)
        return reject(error, QStringLiteral("no fmt chunk"));
    if (dataAt < 0)
        return reject(error, QStringLiteral("no data chunk"));
    if (fmtSize < 16)
        return reject(error, QStringLiteral("the fmt chunk is too short"));

    quint16 format = u16(bytes, fmtAt);
    const int channels = u16(bytes, fmtAt + 2);
    const qint64 rate = u32(bytes, fmtAt + 4);
    const int blockAlign = u16(bytes, fmtAt + 12);
    const int bits = u16(bytes, fmtAt + 14);
    if (format == kFormatExtensible) {
        if (fmtSize < 40)
            return reject(error, QStringLiteral("the extensible fmt chunk is too short"));
        if (bytes.mid(fmtAt + 26, 14) != QByteArray(kSubtypeTail, 14))
            return reject(error, QStringLiteral("unknown extensible sub-format"));
        format = u16(bytes, fmtAt + 24);
    }
    if (format != kFormatPcm)
        return reject(error, QStringLiteral("not PCM (format code %1)").arg(format));
    if (bits != 16)
        return reject(error, QStringLiteral("%1-bit samples; only 16-bit is supported").arg(bits));
    if (channels != 1 && channels != 2)
        return reject(error, QStringLiteral("%1 channels; only mono and stereo are supported").arg(channels));
    if (rate < kMinRate || rate > kMaxRate)
        return reject(error, QStringLiteral("unsupported sample rate %1 Hz").arg(rate));
    if (blockAlign != channels * 2)
        return reject(error, QStringLiteral("block alignment %1 does not fit %2 channels").arg(blockAlign).arg(channels));
    if (dataSize == 0)
        return reject(error, QStringLiteral("no samples"));
    if (dataSize % blockAlign != 0)
        return reject(error, QStringLiteral("the data chunk ends inside a frame"));

    Sound sound;
    sound.sampleRate = int(rate);
    sound.channels = channels;
    sound.samples.resize(size_t(dataSize / 2));
    for (size_t i = 0; i < sound.samples.size(); ++i)
        sound.samples[i] = qint16(u16(bytes, dataAt + qint64(2 * i)));
    return sound;
}

void Cues::scale(std::vector<qint16>& samples, double gain)
{
    for (qint16& s : samples) {
        const long v = std::lround(double(s) * gain);
        s = qint16(std::clamp<long>(v, -32768, 32767));
    }
}

std::optional<Cues::Sound> Cues::load(Kind kind)
{
    const QString path = resource(kind);
    const auto bytes = Resources::bytes(path);
    if (!bytes)
        return std::nullopt; // a missing cue is no fault: it just stays silent
    QString error;
    auto sound = parseWave(*bytes, &error);
    if (!sound) {
        RecorderLog::write(QStringLiteral("[cues] %1 is unusable: %2").arg(path, error));
        return std::nullopt;
    }
    scale(sound->samples, volume(kind));
    return sound;
}

} // namespace corvessa
