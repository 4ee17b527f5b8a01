#pragma once

#include "platform/pulse/PulseContext.h"

#include <QString>

#include <functional>
#include <memory>

#include <pulse/subscribe.h>

namespace corvessa {

// Tells when the server's capture sources may have changed: a source added or
// removed, or the server's defaults changed. It subscribes on a connection of
// its own; events arrive on that connection's loop thread and `changed` runs on
// a delivery thread of the watcher's, so it may take its time or query the
// server. A burst of events while a call is pending makes one call. When the
// connection fails (the server died or dropped us) one log line says so and
// nothing more is called. Destroying it does not wait for a call under way.
class PulseSourceWatcher {
public:
    // Connects and subscribes. Throws AudioInputError when the server cannot be reached.
    PulseSourceWatcher(const QString& clientName, std::function<void()> changed);
    ~PulseSourceWatcher();
    PulseSourceWatcher(const PulseSourceWatcher&) = delete;
    PulseSourceWatcher& operator=(const PulseSourceWatcher&) = delete;

    // Whether an event may change the microphone list: a source coming or going,
    // or the server's defaults. Changes of a source's volume or port do not.
    static bool matters(pa_subscription_event_type_t type);

private:
    class Delivery;
    void onState();
    void detach();

    std::unique_ptr<PulseContext> m_context;
    std::shared_ptr<Delivery> m_delivery;
    bool m_lost = false; // loop lock
};

} // namespace corvessa
