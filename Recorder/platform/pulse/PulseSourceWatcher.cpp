#include "platform/pulse/PulseSourceWatcher.h"

#include "platform/AudioInputError.h"
#include "platform/core/RecorderLog.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace corvessa {

// The thread that calls `changed`. It owns itself: it ends once stopped, without
// anyone joining it, so ending an observation never waits for a call in progress
// (which may be waiting for the very thread that ends it).
class PulseSourceWatcher::Delivery {
public:
    static std::shared_ptr<Delivery> start(std::function<void()> changed)
    {
        auto d = std::make_shared<Delivery>();
        d->m_changed = std::move(changed);
        std::thread([d] { d->run(); }).detach();
        return d;
    }

    void post()
    {
        std::lock_guard lock(m_mutex);
        m_pending = true;
        m_wake.notify_one();
    }

    void stop()
    {
        std::function<void()> dropped; // released outside the lock, with its captures
        std::lock_guard lock(m_mutex);
        m_stopped = true;
        dropped = std::move(m_changed);
        m_wake.notify_one();
    }

private:
    void run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_pending || m_stopped; });
            if (m_stopped)
                return;
            m_pending = false;
            const std::function<void()> changed = m_changed;
            lock.unlock();
            if (changed)
                changed();
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::function<void()> m_changed;
    bool m_pending = false;
    bool m_stopped = false;
};

PulseSourceWatcher::PulseSourceWatcher(const QString& clientName, std::function<void()> changed)
    : m_context(std::make_unique<PulseContext>(clientName)), m_delivery(Delivery::start(std::move(changed)))
{
    const PulseContext& c = *m_context;
    PulseContext::Lock lock(c);
    pa_context_set_state_callback(
        c.context(), [](pa_context*, void* self) { static_cast<PulseSourceWatcher*>(self)->onState(); }, this);
    pa_context_set_subscribe_callback(
        c.context(),
        [](pa_context*, pa_subscription_event_type_t type, uint32_t, void* delivery) {
            if (matters(type))
                static_cast<Delivery*>(delivery)->post();
        },
        m_delivery.get());
    PulseContext::SuccessSlot subscribed{&c};
    const auto mask = pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SERVER);
    if (!c.await(pa_context_subscribe(c.context(), mask, &PulseContext::successCallback, &subscribed))
        || !subscribed.success) {
        const QString text = c.errorText();
        detach();
        throw AudioInputError(AudioInputError::Stage::Connect, text);
    }
}

PulseSourceWatcher::~PulseSourceWatcher()
{
    {
        PulseContext::Lock lock(*m_context);
        detach();
    }
    m_context.reset();
}

void PulseSourceWatcher::detach()
{
    // Lock held: no callback runs now or later.
    pa_context_set_subscribe_callback(m_context->context(), nullptr, nullptr);
    pa_context_set_state_callback(m_context->context(), nullptr, nullptr);
    m_delivery->stop();
}

void PulseSourceWatcher::onState()
{
    m_context->signal(); // the connection's own waits watch the state too
    if (m_lost || m_context->isReady())
        return;
    m_lost = true;
    RecorderLog::write(QStringLiteral("[audio] lost the sound server (%1): microphone changes are no longer observed")
                           .arg(m_context->errorText()));
    m_delivery->stop();
}

bool PulseSourceWatcher::matters(pa_subscription_event_type_t type)
{
    const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    if (facility == PA_SUBSCRIPTION_EVENT_SERVER)
        return true;
    return facility == PA_SUBSCRIPTION_EVENT_SOURCE
        && (kind == PA_SUBSCRIPTION_EVENT_NEW || kind == PA_SUBSCRIPTION_EVENT_REMOVE);
}

} // namespace corvessa
