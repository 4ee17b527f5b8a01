#include "platform/pulse/PulseContext.h"

#include "platform/pulse/PulseHandles.h"

#include <pulse/error.h>
#include <pulse/rtclock.h>

#include <unistd.h>

namespace corvessa {

namespace {

void signalLoop(pa_threaded_mainloop* loop)
{
    pa_threaded_mainloop_signal(loop, 0);
}

} // namespace

PulseContext::PulseContext(const QString& clientName, int timeoutMs)
{
    m_loop.reset(pa_threaded_mainloop_new());
    if (!m_loop)
        throw ConnectError(ConnectError::Step::MainLoop, PA_ERR_INTERNAL, errorText(PA_ERR_INTERNAL));

    const PulseProplistPtr props = pulseProperties(
        {{PA_PROP_APPLICATION_NAME, clientName.toUtf8().constData()}, {PA_PROP_APPLICATION_ID, "corvessa"}});
    m_context.reset(pa_context_new_with_proplist(pa_threaded_mainloop_get_api(mainloop()), nullptr, props.get()));
    if (!m_context)
        throw ConnectError(ConnectError::Step::Context, PA_ERR_INTERNAL, errorText(PA_ERR_INTERNAL));
    pa_context_set_state_callback(
        context(), [](pa_context*, void* loop) { signalLoop(static_cast<pa_threaded_mainloop*>(loop)); }, mainloop());

    // The step that failed, the server's code from it and the code whose text is told.
    std::optional<ConnectError::Step> failed;
    int code = PA_OK;
    int error = PA_OK;
    if (pa_context_connect(context(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        failed = ConnectError::Step::Connect;
        code = error = pa_context_errno(context());
    } else if (pa_threaded_mainloop_start(mainloop()) < 0) {
        failed = ConnectError::Step::MainLoop;
        code = error = PA_ERR_INTERNAL;
    } else {
        Lock lock(*this);
        const bool ready = waitUntil(
            [this] {
                const pa_context_state_t s = pa_context_get_state(context());
                return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
            },
            timeoutMs);
        if (!ready) {
            failed = ConnectError::Step::Timeout;
            code = error = PA_ERR_TIMEOUT;
        } else if (pa_context_get_state(context()) != PA_CONTEXT_READY) {
            failed = ConnectError::Step::Connect;
            code = pa_context_errno(context());
            error = code ? code : PA_ERR_CONNECTIONREFUSED;
        }
    }
    if (failed) {
        const QString text = errorText(error);
        close();
        throw ConnectError(*failed, code, text);
    }
}

PulseContext::~PulseContext()
{
    close();
}

void PulseContext::close()
{
    if (!m_loop)
        return;
    if (m_context) {
        Lock lock(*this);
        pa_context_set_state_callback(context(), nullptr, nullptr);
        pa_context_disconnect(context());
    }
    pa_threaded_mainloop_stop(mainloop());
    m_context.reset();
    m_loop.reset();
}

PulseContext::Lock::Lock(const PulseContext& c)
    : m_loop(c.mainloop()), m_held(!pa_threaded_mainloop_in_thread(c.mainloop()))
{
    if (m_held)
        pa_threaded_mainloop_lock(m_loop);
}

PulseContext::Lock::~Lock()
{
    if (m_held)
        pa_threaded_mainloop_unlock(m_loop);
}

bool PulseContext::await(pa_operation* op) const
{
    const PulseOperationPtr owned(op);
    if (!op)
        return false;
    pa_operation_set_state_callback(
        op, [](pa_operation*, void* loop) { signalLoop(static_cast<pa_threaded_mainloop*>(loop)); }, mainloop());
    while (pa_operation_get_state(op) == PA_OPERATION_RUNNING) {
        if (!isReady()) {
            pa_operation_cancel(op);
            break;
        }
        pa_threaded_mainloop_wait(mainloop());
    }
    const bool done = pa_operation_get_state(op) == PA_OPERATION_DONE;
    pa_operation_set_state_callback(op, nullptr, nullptr);
    return done;
}

bool PulseContext::waitUntil(const std::function<bool()>& done, int timeoutMs) const
{
    // A timer event wakes the wait when the deadline passes; the loop has no timed wait.
    struct Deadline {
        pa_threaded_mainloop* loop;
        bool passed = false;
    } deadline{mainloop()};
    pa_time_event* timer = nullptr;
    if (timeoutMs >= 0) {
        timer = pa_context_rttime_new(
            context(), pa_rtclock_now() + pa_usec_t(timeoutMs) * 1000,
            [](pa_mainloop_api*, pa_time_event*, const timeval*, void* userdata) {
                auto* d = static_cast<Deadline*>(userdata);
                d->passed = true;
                signalLoop(d->loop);
            },
            &deadline);
    }
    while (!done() && !deadline.passed) {
        const pa_context_state_t s = pa_context_get_state(context());
        if (!PA_CONTEXT_IS_GOOD(s))
            break;
        pa_threaded_mainloop_wait(mainloop());
    }
    if (timer) {
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop());
        api->time_free(timer);
    }
    return done();
}

void PulseContext::signal() const
{
    signalLoop(mainloop());
}

bool PulseContext::waitForStream(pa_stream* stream) const
{
    pa_stream_set_state_callback(
        stream, [](pa_stream*, void* loop) { signalLoop(static_cast<pa_threaded_mainloop*>(loop)); }, mainloop());
    return waitUntil([stream] {
               const pa_stream_state_t s = pa_stream_get_state(stream);
               return s == PA_STREAM_READY || !PA_STREAM_IS_GOOD(s);
           })
        && pa_stream_get_state(stream) == PA_STREAM_READY;
}

bool PulseContext::isReady() const
{
    return m_context && pa_context_get_state(context()) == PA_CONTEXT_READY;
}

QString PulseContext::errorText() const
{
    const int code = m_context ? pa_context_errno(context()) : PA_ERR_INTERNAL;
    return errorText(code ? code : PA_ERR_UNKNOWN);
}

QString PulseContext::errorText(int code)
{
    const char* text = pa_strerror(code);
    return text ? QString::fromUtf8(text) : QStringLiteral("PulseAudio error %1").arg(code);
}

namespace {

QString utf8(const char* s)
{
    return s ? QString::fromUtf8(s) : QString();
}

// Gathers the entries of a list query until its end marker.
template <typename Entry, typename Info>
struct Collector {
    const PulseContext* owner;
    Entry (*convert)(const Info&);
    std::vector<Entry> entries;
    bool failed = false;
};

template <typename Entry, typename Info>
void collect(pa_context*, const Info* info, int eol, void* userdata)
{
    auto* c = static_cast<Collector<Entry, Info>*>(userdata);
    if (eol < 0)
        c->failed = true;
    if (eol == 0 && info)
        c->entries.push_back(c->convert(*info));
    if (eol != 0)
        c->owner->signal();
}

// One of the server's lists: `request` is a pa_context_get_*_info_list call,
// `convert` turns each answer into our entry.
template <typename Entry, typename Info>
std::optional<std::vector<Entry>> list(const PulseContext& owner,
                                       pa_operation* (*request)(pa_context*, void (*)(pa_context*, const Info*, int, void*), void*),
                                       Entry (*convert)(const Info&))
{
    Collector<Entry, Info> c{&owner, convert, {}};
    if (!owner.await(request(owner.context(), &collect<Entry, Info>, &c)) || c.failed)
        return std::nullopt;
    return std::move(c.entries);
}

PulseContext::SinkEntry sinkEntry(const pa_sink_info& i)
{
    PulseContext::SinkEntry e;
    e.index = i.index;
    e.name = utf8(i.name);
    e.description = utf8(i.description);
    e.monitorSource = utf8(i.monitor_source_name);
    if (i.active_port) {
        e.activePort = utf8(i.active_port->name);
        e.activePortDescription = utf8(i.active_port->description);
    }
    e.driver = utf8(i.driver);
    e.ownerModule = i.owner_module;
    e.spec = i.sample_spec;
    e.properties = PulseContext::properties(i.proplist);
    return e;
}

PulseContext::SourceEntry sourceEntry(const pa_source_info& i)
{
    PulseContext::SourceEntry e;
    e.index = i.index;
    e.name = utf8(i.name);
    e.description = utf8(i.description);
    e.monitorOfSink = i.monitor_of_sink;
    e.spec = i.sample_spec;
    e.properties = PulseContext::properties(i.proplist);
    return e;
}

PulseContext::SinkInputEntry sinkInputEntry(const pa_sink_input_info& i)
{
    PulseContext::SinkInputEntry e;
    e.index = i.index;
    e.sink = i.sink;
    e.properties = PulseContext::properties(i.proplist);
    return e;
}

} // namespace

std::optional<PulseContext::Defaults> PulseContext::defaults() const
{
    struct Slot {
        const PulseContext* owner;
        Defaults d;
        bool got = false;
    } slot{this, {}, false};
    pa_operation* op = pa_context_get_server_info(
        context(),
        [](pa_context*, const pa_server_info* i, void* ud) {
            auto* s = static_cast<Slot*>(ud);
            if (i) {
                s->d = {utf8(i->default_sink_name), utf8(i->default_source_name)};
                s->got = true;
            }
            s->owner->signal();
        },
        &slot);
    if (!await(op) || !slot.got)
        return std::nullopt;
    return slot.d;
}

std::optional<std::vector<PulseContext::SinkEntry>> PulseContext::sinks() const
{
    return list(*this, pa_context_get_sink_info_list, &sinkEntry);
}

std::optional<std::vector<PulseContext::SourceEntry>> PulseContext::sources() const
{
    return list(*this, pa_context_get_source_info_list, &sourceEntry);
}

std::optional<std::vector<PulseContext::SinkInputEntry>> PulseContext::sinkInputs() const
{
    return list(*this, pa_context_get_sink_input_info_list, &sinkInputEntry);
}

std::optional<uint32_t> PulseContext::loadModule(const QString& name, const QString& arguments) const
{
    struct Slot {
        const PulseContext* owner;
        uint32_t index = PA_INVALID_INDEX;
    } slot{this};
    pa_operation* op = pa_context_load_module(
        context(), name.toUtf8().constData(), arguments.toUtf8().constData(),
        [](pa_context*, uint32_t index, void* ud) {
            auto* s = static_cast<Slot*>(ud);
            s->index = index;
            s->owner->signal();
        },
        &slot);
    if (!await(op) || slot.index == PA_INVALID_INDEX)
        return std::nullopt;
    return slot.index;
}

bool PulseContext::unloadModule(uint32_t index) const
{
    SuccessSlot slot{this};
    return await(pa_context_unload_module(context(), index, &successCallback, &slot)) && slot.success;
}

bool PulseContext::setDefaultSink(const QString& name) const
{
    SuccessSlot slot{this};
    return await(pa_context_set_default_sink(context(), name.toUtf8().constData(), &successCallback, &slot))
        && slot.success;
}

bool PulseContext::moveSinkInput(uint32_t input, uint32_t sink) const
{
    SuccessSlot slot{this};
    return await(pa_context_move_sink_input_by_index(context(), input, sink, &successCallback, &slot)) && slot.success;
}

bool PulseContext::moveSinkInput(uint32_t input, const QString& sink) const
{
    SuccessSlot slot{this};
    return await(pa_context_move_sink_input_by_name(context(), input, sink.toUtf8().constData(), &successCallback,
                                                    &slot))
        && slot.success;
}

QMap<QString, QString> PulseContext::properties(const pa_proplist* list)
{
    QMap<QString, QString> map;
    if (!list)
        return map;
    void* state = nullptr;
    while (const char* key = pa_proplist_iterate(list, &state)) {
        if (const char* value = pa_proplist_gets(list, key))
            map.insert(QString::fromUtf8(key), QString::fromUtf8(value));
    }
    return map;
}

void PulseContext::successCallback(pa_context*, int success, void* userdata)
{
    auto* slot = static_cast<SuccessSlot*>(userdata);
    slot->success = success;
    slot->owner->signal();
}

void PulseContext::streamSuccessCallback(pa_stream*, int success, void* userdata)
{
    successCallback(nullptr, success, userdata);
}

} // namespace corvessa
