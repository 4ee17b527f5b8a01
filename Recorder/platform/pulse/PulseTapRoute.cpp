#include "platform/pulse/PulseTapRoute.h"

#include "platform/AudioInput.h"
#include "platform/AudioInputError.h"
#include "platform/pulse/PulseAudioInput.h"
#include "platform/pulse/PulseHandles.h"
#include "platform/pulse/PulseKeepAlive.h"
#include "platform/core/RecorderLog.h"
#include "platform/core/XdgPaths.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QRegularExpression>

#include <algorithm>
#include <atomic>
#include <limits>
#include <cerrno>
#include <csignal>
#include <unistd.h>

#include <pulse/subscribe.h>

namespace corvessa {

namespace {

constexpr const char* processIdProperty = "application.process.id";
// The key of the moves file that names the output the tap stands in for.
constexpr const char* previousKey = "previous";

const PulseContext::SinkEntry* findSink(const std::vector<PulseContext::SinkEntry>& sinks, const QString& name)
{
    for (const auto& s : sinks)
        if (s.name == name)
            return &s;
    return nullptr;
}

const PulseContext::SinkEntry* findSink(const std::vector<PulseContext::SinkEntry>& sinks, uint32_t index)
{
    for (const auto& s : sinks)
        if (s.index == index)
            return &s;
    return nullptr;
}

bool isTap(const PulseContext::SinkEntry& s)
{
    return PulseTapRoute::isTapSink(s.name, s.properties);
}

// Where streams go when a tap sink is undone: the output it replaced, else the
// current default, else any real output.
const PulseContext::SinkEntry* restoreTarget(const std::vector<PulseContext::SinkEntry>& sinks,
                                             const QString& previous, const QString& currentDefault)
{
    for (const QString& name : {previous, currentDefault}) {
        const auto* s = name.isEmpty() ? nullptr : findSink(sinks, name);
        if (s && !isTap(*s))
            return s;
    }
    for (const auto& s : sinks)
        if (!isTap(s))
            return &s;
    return nullptr;
}

} // namespace

PulseTapRoute::PulseTapRoute(std::shared_ptr<PulseContext> context, const QString& microphone)
    : m_context(std::move(context)), m_microphone(microphone)
{
    setUp();
}

PulseTapRoute::~PulseTapRoute()
{
    release();
}

void PulseTapRoute::setUp()
{
    const PulseContext& c = *m_context;
    PulseContext::Lock lock(c);
    auto fail = [&](int code = 0) {
        const QString text = code ? PulseContext::errorText(code) : c.errorText();
        throw AudioInputError(AudioInputError::Stage::Route, text);
    };

    // A sink left by a crashed run would otherwise become our "previous" output.
    recoverLocked(c);

    const auto defaults = c.defaults();
    const auto sinks = c.sinks();
    if (!defaults || !sinks)
        fail();
    if (const auto sources = c.sources()) {
        // An empty name means the default source, which is no microphone when it
        // is an output's own monitor (the server's choice when it has none).
        const QString& mic = m_microphone.isEmpty() ? defaults->source : m_microphone;
        const auto source = std::find_if(sources->begin(), sources->end(), [&](const auto& s) { return s.name == mic; });
        const bool plainMonitor = m_microphone.isEmpty() && source != sources->end()
            && source->monitorOfSink != PA_INVALID_INDEX;
        const auto* behind = plainMonitor ? nullptr : PulseAudioInput::sinkBehind(mic, *sources, *sinks);
        if (behind && !isTap(*behind))
            m_microphoneSink = behind->index;
    }
    const PulseContext::SinkEntry* previous = findSink(*sinks, defaults->sink);
    if (previous && isTap(*previous)) // another live route: chain to what it replaced
        previous = restoreTarget(*sinks, standsInFor(previous->name, previous->properties), {});
    if (!previous)
        fail(PA_ERR_NOENTITY);
    m_previous = previous->name;
    m_previousIndex = previous->index;

    static std::atomic<int> serial{0};
    m_sink = QString::fromLatin1(sinkName);
    if (findSink(*sinks, m_sink))
        m_sink += QStringLiteral("_%1_%2").arg(::getpid()).arg(++serial);

    const auto module = c.loadModule(QStringLiteral("module-null-sink"),
                                     moduleArguments(m_sink, ::getpid(), m_previous, previous->spec.rate));
    if (!module)
        fail();

    const auto withTap = c.sinks();
    const PulseContext::SinkEntry* tap = withTap ? findSink(*withTap, m_sink) : nullptr;
    if (!tap) {
        const QString text = c.errorText();
        c.unloadModule(*module);
        throw AudioInputError(AudioInputError::Stage::Route, text);
    }
    m_sinkIndex = tap->index;
    m_monitor = tap->monitorSource;
    m_spec = tap->spec;
    // A new null sink with no stream asking for a short buffer renders seconds
    // ahead; streams moved into it then stay unheard on its monitor until that
    // block ends. A short-buffered stream of its own, there before anything is
    // moved in, keeps it rendering in small steps.
    try {
        m_keepAlive = std::make_unique<PulseKeepAlive>(m_context, m_sink, m_spec.rate, false, true);
    } catch (const AudioInputError&) {
        // Still a working route, only with a late start.
    }

    // Streams that start or move while the route stands are placed as they
    // appear; a change of the default output is followed.
    pa_context_set_subscribe_callback(
        c.context(),
        [](pa_context*, pa_subscription_event_type_t type, uint32_t index, void* self) {
            static_cast<PulseTapRoute*>(self)->onEvent(type, index);
        },
        this);
    PulseContext::SuccessSlot subscribed{&c};
    const auto mask = pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SINK_INPUT | PA_SUBSCRIPTION_MASK_SERVER);
    const bool ok = c.await(pa_context_subscribe(c.context(), mask, &PulseContext::successCallback, &subscribed))
        && subscribed.success && c.setDefaultSink(m_sink);
    m_active = ok;
    const auto inputs = ok ? c.sinkInputs() : std::nullopt;
    if (!inputs) {
        const QString text = c.errorText();
        pa_context_set_subscribe_callback(c.context(), nullptr, nullptr);
        undo(c, *tap, m_previous, m_moved);
        QFile::remove(movesFile(m_sink));
        m_active = false;
        m_sinkIndex = PA_INVALID_INDEX;
        throw AudioInputError(AudioInputError::Stage::Route, text);
    }
    for (const auto& input : *inputs)
        placeNewStream(input);
}

// Everything below runs on the loop thread and asks without waiting. release()
// stops these callbacks before `this` goes: it turns m_active off (after which
// no callback asks anything more) and then waits for a later reply, which the
// server sends after the replies to everything asked before.
void PulseTapRoute::onEvent(pa_subscription_event_type_t type, uint32_t index)
{
    if (!m_active)
        return;
    const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    pa_context* ctx = m_context->context();
    if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
        const PulseOperationPtr asked(pa_context_get_server_info(
            ctx,
            [](pa_context*, const pa_server_info* info, void* self) {
                auto* route = static_cast<PulseTapRoute*>(self);
                if (info && info->default_sink_name && route->m_active)
                    route->onDefaultSink(QString::fromUtf8(info->default_sink_name));
            },
            this));
        return;
    }
    if (facility != PA_SUBSCRIPTION_EVENT_SINK_INPUT)
        return;
    if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
        m_moved.erase(index);
        return;
    }
    // New, or changed: moved elsewhere, maybe.
    const PulseOperationPtr asked(pa_context_get_sink_input_info(
        ctx, index,
        [](pa_context*, const pa_sink_input_info* info, int eol, void* self) {
            auto* route = static_cast<PulseTapRoute*>(self);
            if (eol == 0 && info && route->m_active)
                route->onStreamInfo({info->index, info->sink, PulseContext::properties(info->proplist)});
        },
        this));
}

void PulseTapRoute::onStreamInfo(const PulseContext::SinkInputEntry& input)
{
    const bool own = isOwnStream(input.properties, ::getpid());
    if (own || input.sink == m_sinkIndex || input.sink == m_microphoneSink
        || input.properties.value(QLatin1String(roleProperty)) == QLatin1String(PulseKeepAlive::role)) {
        placeNewStream(input);
        return;
    }
    // Only from a real output: another live route's tap keeps what it holds.
    struct Asked {
        PulseTapRoute* route;
        PulseContext::SinkInputEntry input;
    };
    auto* asked = new Asked{this, input};
    const PulseOperationPtr op(pa_context_get_sink_info_by_index(
        m_context->context(), input.sink,
        [](pa_context*, const pa_sink_info* info, int eol, void* data) {
            auto* a = static_cast<Asked*>(data);
            if (eol != 0) {
                delete a;
                return;
            }
            if (info && a->route->m_active
                && !isTapSink(QString::fromUtf8(info->name), PulseContext::properties(info->proplist)))
                a->route->placeNewStream(a->input);
        },
        asked));
    if (!op)
        delete asked;
}

void PulseTapRoute::onDefaultSink(const QString& sink)
{
    if (sink == m_sink || sink.isEmpty())
        return;
    const QByteArray name = sink.toUtf8();
    const PulseOperationPtr op(pa_context_get_sink_info_by_name(
        m_context->context(), name.constData(),
        [](pa_context*, const pa_sink_info* info, int eol, void* self) {
            auto* route = static_cast<PulseTapRoute*>(self);
            // Another route's tap as the default is that route's business.
            if (eol == 0 && info && route->m_active
                && !isTapSink(QString::fromUtf8(info->name), PulseContext::properties(info->proplist)))
                route->adoptOutput(info->index, QString::fromUtf8(info->name));
        },
        this));
}

void PulseTapRoute::adoptOutput(uint32_t index, const QString& name)
{
    const uint32_t former = m_previousIndex;
    if (index != former) {
        // What followed the old output follows the new one when the route ends.
        for (auto& [stream, sink] : m_moved)
            if (sink == former)
                sink = index;
        m_previous = name;
        m_previousIndex = index;
        saveMoves();
        RecorderLog::write(QStringLiteral("[sys-audio] the default output became %1; the tap stands in for it").arg(name));
    }
    pa_context* ctx = m_context->context();
    // The tap is the default again, so the streams that follow the default come
    // back to it at once; the rest are placed one by one.
    const PulseOperationPtr restored(
        pa_context_set_default_sink(ctx, m_sink.toUtf8().constData(), nullptr, nullptr));
    struct Sweep {
        PulseTapRoute* route;
        uint32_t former;
    };
    auto* sweep = new Sweep{this, former};
    const PulseOperationPtr listed(pa_context_get_sink_input_info_list(
        ctx,
        [](pa_context* c, const pa_sink_input_info* info, int eol, void* data) {
            auto* w = static_cast<Sweep*>(data);
            if (eol != 0) {
                delete w;
                return;
            }
            PulseTapRoute* route = w->route;
            if (!info || !route->m_active)
                return;
            PulseContext::SinkInputEntry input{info->index, info->sink, PulseContext::properties(info->proplist)};
            // The program's own sounds go with the output the user hears.
            if (isOwnStream(input.properties, ::getpid()) && input.sink == w->former
                && w->former != route->m_previousIndex
                && input.properties.value(QLatin1String(roleProperty)) != QLatin1String(PulseKeepAlive::role)) {
                const PulseOperationPtr moved(
                    pa_context_move_sink_input_by_index(c, input.index, route->m_previousIndex, nullptr, nullptr));
                return;
            }
            route->onStreamInfo(input);
        },
        sweep));
    if (!listed)
        delete sweep;
}

void PulseTapRoute::placeNewStream(const PulseContext::SinkInputEntry& input)
{
    if (input.properties.value(QLatin1String(roleProperty)) == QLatin1String(PulseKeepAlive::role))
        return; // put where it belongs by its owner
    const bool own = isOwnStream(input.properties, ::getpid());
    pa_context* ctx = m_context->context();
    PulseOperationPtr op; // not waited for on the loop thread: the move goes on by itself
    const bool onLoopThread = pa_threaded_mainloop_in_thread(m_context->mainloop());
    if (own && input.sink == m_sinkIndex) {
        if (onLoopThread)
            op.reset(pa_context_move_sink_input_by_name(ctx, input.index, m_previous.toUtf8().constData(), nullptr,
                                                        nullptr));
        else
            m_context->moveSinkInput(input.index, m_previous);
    } else if (!own && input.sink != m_sinkIndex && input.sink != m_microphoneSink) {
        // A stream that comes back keeps the output it first came from.
        m_moved.try_emplace(input.index, input.sink);
        if (onLoopThread)
            op.reset(pa_context_move_sink_input_by_index(ctx, input.index, m_sinkIndex, nullptr, nullptr));
        else if (!m_context->moveSinkInput(input.index, m_sinkIndex))
            m_moved.erase(input.index); // a stream that refuses to move stays where it is
        saveMoves();
    }
}

void PulseTapRoute::release()
{
    if (!m_context || m_sinkIndex == PA_INVALID_INDEX)
        return;
    bool done = false;
    m_keepAlive.reset();
    {
        const PulseContext& c = *m_context;
        PulseContext::Lock lock(c);
        m_active = false;
        if (c.isReady()) {
            pa_context_set_subscribe_callback(c.context(), nullptr, nullptr);
            PulseContext::SuccessSlot slot{&c};
            c.await(pa_context_subscribe(c.context(), PA_SUBSCRIPTION_MASK_NULL, &PulseContext::successCallback,
                                         &slot));
            if (const auto sinks = c.sinks()) {
                if (const auto* tap = findSink(*sinks, m_sink))
                    undo(c, *tap, m_previous, m_moved);
                done = true;
            }
        }
    }
    if (!done) {
        // Our connection died; the server may still be there.
        try {
            PulseContext fresh(QStringLiteral("Recorder"));
            PulseContext::Lock lock(fresh);
            if (const auto sinks = fresh.sinks())
                if (const auto* tap = findSink(*sinks, m_sink))
                    undo(fresh, *tap, m_previous, m_moved);
        } catch (const AudioInputError&) {
            // No server: nothing is left to restore until it returns; the next launch does it.
        }
    }
    QFile::remove(movesFile(m_sink));
    m_sinkIndex = PA_INVALID_INDEX;
    m_moved.clear();
}

QString PulseTapRoute::movesFile(const QString& sinkName)
{
    return XdgPaths::logDir() + QStringLiteral("/tap-%1.json").arg(sinkName);
}

void PulseTapRoute::saveMoves() const
{
    // Written before the next stream moves, so a crash at any moment leaves the
    // streams moved so far on record. Best effort: without it they go to the
    // output the tap replaced.
    QJsonObject moves;
    for (const auto& [stream, sink] : m_moved)
        moves.insert(QString::number(stream), qint64(sink));
    moves.insert(QLatin1String(previousKey), m_previous);
    QDir().mkpath(XdgPaths::logDir());
    QSaveFile file(movesFile(m_sink));
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QJsonDocument(moves).toJson(QJsonDocument::Compact));
        file.commit();
    }
}

QString PulseTapRoute::standsInFor(const QString& sinkName, const QMap<QString, QString>& properties)
{
    // A sink's properties cannot be changed by a client: a default chosen while
    // the tap stood is in its moves file only.
    QFile file(movesFile(sinkName));
    if (file.open(QIODevice::ReadOnly)) {
        const QString chosen =
            QJsonDocument::fromJson(file.readAll()).object().value(QLatin1String(previousKey)).toString();
        if (!chosen.isEmpty())
            return chosen;
    }
    return properties.value(QString::fromLatin1(previousProperty));
}

std::map<uint32_t, uint32_t> PulseTapRoute::loadMoves(const QString& sinkName)
{
    std::map<uint32_t, uint32_t> moved;
    QFile file(movesFile(sinkName));
    if (!file.open(QIODevice::ReadOnly))
        return moved;
    const QJsonObject moves = QJsonDocument::fromJson(file.readAll()).object();
    for (auto it = moves.begin(); it != moves.end(); ++it) {
        bool ok = false;
        const uint32_t stream = it.key().toUInt(&ok);
        const qint64 sink = it.value().toInteger(-1);
        if (ok && sink >= 0 && sink < qint64(PA_INVALID_INDEX))
            moved[stream] = uint32_t(sink);
    }
    return moved;
}

void PulseTapRoute::undo(const PulseContext& c, const PulseContext::SinkEntry& sink, const QString& previous,
                         const std::map<uint32_t, uint32_t>& moved)
{
    const auto sinks = c.sinks();
    const auto defaults = c.defaults();
    if (!sinks)
        return;
    const auto* target = restoreTarget(*sinks, previous, defaults ? defaults->sink : QString());
    if (const auto inputs = c.sinkInputs()) {
        for (const auto& input : *inputs) {
            if (input.sink != sink.index)
                continue;
            const PulseContext::SinkEntry* to = target;
            if (auto it = moved.find(input.index); it != moved.end()) {
                const auto* original = findSink(*sinks, it->second);
                if (original && !isTap(*original))
                    to = original;
            }
            if (to)
                c.moveSinkInput(input.index, to->index);
        }
    }
    if (target && defaults && defaults->sink == sink.name)
        c.setDefaultSink(target->name);
    if (sink.ownerModule != PA_INVALID_INDEX)
        c.unloadModule(sink.ownerModule);
}

int PulseTapRoute::recoverLeftovers(PulseContext& context)
{
    PulseContext::Lock lock(context);
    return recoverLocked(context);
}

int PulseTapRoute::recoverLocked(const PulseContext& c)
{
    const auto sinks = c.sinks();
    if (!sinks)
        return 0;
    int undone = 0;
    for (const auto& s : *sinks) {
        if (isTap(s) && ownerIsGone(s.properties)) {
            undo(c, s, standsInFor(s.name, s.properties), loadMoves(s.name));
            QFile::remove(movesFile(s.name));
            ++undone;
        }
    }
    return undone;
}

bool PulseTapRoute::isTapSink(const QString& name, const QMap<QString, QString>& properties)
{
    const QString base = QString::fromLatin1(sinkName);
    return name == base || name.startsWith(base + QLatin1Char('_'))
        || properties.contains(QString::fromLatin1(ownerProperty));
}

bool PulseTapRoute::isOwnStream(const QMap<QString, QString>& properties, pid_t self)
{
    if (properties.contains(QString::fromLatin1(roleProperty)))
        return true;
    bool ok = false;
    const qint64 pid = properties.value(QString::fromLatin1(processIdProperty)).toLongLong(&ok);
    return ok && pid == self;
}

bool PulseTapRoute::ownerIsGone(const QMap<QString, QString>& properties)
{
    bool ok = false;
    const qint64 pid = properties.value(QString::fromLatin1(ownerProperty)).toLongLong(&ok);
    if (!ok || pid <= 0 || pid > std::numeric_limits<pid_t>::max())
        return true;
    if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
        return true;
    // A killed process whose parent has not reaped it yet still answers kill().
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray text = stat.readAll();
        const qsizetype close = text.lastIndexOf(')'); // the command name may hold spaces
        if (close >= 0 && close + 2 < text.size() && text[close + 2] == 'Z')
            return true;
    }
    return false;
}

QString PulseTapRoute::moduleArguments(const QString& name, pid_t owner, const QString& previous, uint32_t rate)
{
    // Property values are quoted with ' inside the argument's "..."; a name that
    // needs more than that is left out rather than risk a refused module.
    static const QRegularExpression plainName(QStringLiteral("^[A-Za-z0-9._:@+-]+$"));
    QString props = QStringLiteral("device.description='%1' %2=%3")
                        .arg(QString::fromLatin1(AudioInput::tapDescription), QString::fromLatin1(ownerProperty))
                        .arg(owner);
    if (plainName.match(previous).hasMatch())
        props += QStringLiteral(" %1='%2'").arg(QString::fromLatin1(previousProperty), previous);
    QString args = QStringLiteral("sink_name=%1").arg(name);
    if (rate > 0)
        args += QStringLiteral(" rate=%1").arg(rate);
    args += QStringLiteral(" channels=2 sink_properties=\"%1\"").arg(props);
    return args;
}

} // namespace corvessa
