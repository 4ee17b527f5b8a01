#include "platform/FallbackPowerControl.h"

namespace corvessa {

FallbackPowerControl::FallbackPowerControl(std::vector<std::shared_ptr<PowerControl>> backends)
    : m_backends(std::move(backends))
{
}

uint32_t FallbackPowerControl::holdDisplayAwake(const QString& reason)
{
    for (size_t i = 0; i < m_backends.size(); ++i) {
        const uint32_t held = m_backends[i] ? m_backends[i]->holdDisplayAwake(reason) : 0;
        if (held == 0)
            continue;
        std::lock_guard lock(m_mutex);
        const uint32_t id = m_next++;
        if (m_next == 0)
            m_next = 1;
        m_holds[id] = {i, held};
        return id;
    }
    return 0;
}

void FallbackPowerControl::release(uint32_t id)
{
    std::pair<size_t, uint32_t> hold;
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_holds.find(id);
        if (it == m_holds.end())
            return;
        hold = it->second;
        m_holds.erase(it);
    }
    m_backends[hold.first]->release(hold.second);
}

} // namespace corvessa
