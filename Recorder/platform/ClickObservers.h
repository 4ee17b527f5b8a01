#pragma once

#include "platform/OutsideClickMonitor.h"

#include <map>
#include <memory>

namespace corvessa {

// The handlers of an OutsideClickMonitor: each stays while its subscription
// lives, and a subscription may outlive the monitor. Handlers may subscribe or
// unsubscribe while a press is being told. Main thread.
class ClickObservers {
public:
    ClickObservers();

    std::unique_ptr<OutsideClickMonitor::Subscription> add(OutsideClickMonitor::Handler handler);
    // Calls every handler that was live when the press arrived and still is.
    void notify(const QPointF& position, int button) const;
    int count() const { return int(m_handlers->size()); }

private:
    using Handlers = std::map<int, OutsideClickMonitor::Handler>;
    std::shared_ptr<Handlers> m_handlers;
    int m_next = 0;
};

} // namespace corvessa
