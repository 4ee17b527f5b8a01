#include "platform/synthetic/SyntheticPowerControl.h"

namespace corvessa {

uint32_t SyntheticPowerControl::holdDisplayAwake(const QString& reason)
{
    std::lock_guard lock(m_mutex);
    if (m_refuses)
        return 0;
    const uint32_t id = m_next++;
    m_holds[id] = reason;
    return id;
}

void SyntheticPowerControl::release(uint32_t id)
{
    std::lock_guard lock(m_mutex);
    m_holds.erase(id);
}

void SyntheticPowerControl::setRefuses(bool refuses)
{
    std::lock_guard lock(m_mutex);
    m_refuses = refuses;
}

std::map<uint32_t, QString> SyntheticPowerControl::holds() const
{
    std::lock_guard lock(m_mutex);
    return m_holds;
}

int SyntheticPowerControl::holdCount() const
{
    std::lock_guard lock(m_mutex);
    return int(m_holds.size());
}

} // namespace corvessa
