#include "prefs/Cues.h"

#include "platform/CuePlayer.h"
#include "platform/core/RecorderLog.h"
#include "platform/core/MainQueue.h"
#include "platform/core/Resources.h"
#include "platform/core/SerialQueue.h"

#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <map>
#include <memory>

namespace corvessa {

namespace {

using namespace std::chrono_literals;

// A cue that waited this long behind a slow connection is dropped: a tick heard a
// second late is worse than none.
constexpr auto kStaleAfter = 1000ms;

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

// Hands cues to the platform's player in order on a worker queue, and keeps
// the counts and the failure streak. Requests come from any thread; the
// player's completions come on its own thread.
class CueQueue {
public:
    static CueQueue& shared()
    {
        static CueQueue queue;
        return queue;
    }

    void enqueue(Cues::Kind kind)
    {
        const auto asked = SerialQueue::Clock::now();
        m_queue->async([this, kind, asked] { playNow(kind, asked); });
    }

    ~CueQueue()
    {
        m_closing = true;
        m_queue.reset(); // joins the worker; what is still queued skips itself
        if (m_player)
            m_player->stop(); // what still plays counts as skipped
    }

private:
    // The player is asked for first: what holds it is then made before this
    // queue and outlives it at exit.
    CueQueue() : m_player(CuePlayer::current()), m_queue(std::make_unique<SerialQueue>("cues")) {}

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
        player()->play(Cues::name(kind), sound, [this, kind](CuePlayer::Outcome outcome, const QString& reason) {
            switch (outcome) {
            case CuePlayer::Outcome::Finished:
                ++g_finished;
                m_failing = false;
                break;
            case CuePlayer::Outcome::Failed:
                fail(kind, reason);
                break;
            case CuePlayer::Outcome::Dropped:
                ++g_skipped;
                break;
            }
        });
    }

    // The installed player; one replaced meanwhile cuts off what it still plays.
    CuePlayer* player()
    {
        auto current = CuePlayer::current();
        if (current != m_player) {
            m_player->stop();
            m_player = std::move(current);
        }
        return m_player.get();
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

    // ---- worker queue or the player's thread ----

    // One log line for the first failure of a streak; the next cue that plays
    // ends the streak.
    void fail(Cues::Kind kind, const QString& reason)
    {
        ++g_skipped;
        if (!m_failing.exchange(true))
            RecorderLog::write(QStringLiteral("[cues] %1 skipped: %2").arg(Cues::name(kind), reason));
    }

    std::shared_ptr<CuePlayer> m_player; // worker only, once running
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
    CueQueue::shared().enqueue(kind);
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
