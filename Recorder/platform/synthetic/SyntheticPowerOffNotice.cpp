#include "platform/synthetic/SyntheticPowerOffNotice.h"

namespace corvessa {

void SyntheticPowerOffNotice::setOnPowerOff(std::function<void()> handler)
{
    m_onPowerOff = std::move(handler);
}

bool SyntheticPowerOffNotice::inhibit()
{
    m_held = true;
    return true;
}

void SyntheticPowerOffNotice::release()
{
    m_held = false;
}

void SyntheticPowerOffNotice::simulatePowerOff()
{
    if (const auto handler = m_onPowerOff)
        handler();
}

} // namespace corvessa
