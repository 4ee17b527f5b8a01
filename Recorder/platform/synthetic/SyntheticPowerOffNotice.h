#pragma once

#include "platform/PowerOffNotice.h"

namespace corvessa {

// A power-off notice that comes when a test says so; it counts the holds in
// place. Main thread.
class SyntheticPowerOffNotice : public PowerOffNotice {
public:
    void setOnPowerOff(std::function<void()> handler) override;
    bool inhibit() override;
    void release() override;

    // Announces a power-off as the system would: the handler runs at once.
    void simulatePowerOff();
    int activeInhibitors() const { return m_held ? 1 : 0; }

private:
    std::function<void()> m_onPowerOff;
    bool m_held = false;
};

} // namespace corvessa
