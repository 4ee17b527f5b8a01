#pragma once

#include "platform/ClickObservers.h"
#include "platform/OutsideClickMonitor.h"

namespace corvessa {

// Presses made by tests: press() reaches every live observer, as a click
// anywhere on the screen would. Main thread.
class SyntheticOutsideClickMonitor : public OutsideClickMonitor {
public:
    std::unique_ptr<Subscription> observe(Handler handler) override { return m_observers.add(std::move(handler)); }

    void press(const QPointF& position, int button = 1) { m_observers.notify(position, button); }
    int observerCount() const { return m_observers.count(); }

private:
    ClickObservers m_observers;
};

} // namespace corvessa
