#include "platform/CameraDeviceObservers.h"

#include <vector>

namespace corvessa {

CameraDeviceObservers::CameraDeviceObservers() : m_state(std::make_shared<State>())
{
}

CameraService::Observation CameraDeviceObservers::add(CameraService::DevicesChanged handler)
{
    uint64_t id = 0;
    {
        std::lock_guard lock(m_state->mutex);
        id = m_state->next++;
        m_state->handlers.emplace(id, std::make_shared<const CameraService::DevicesChanged>(std::move(handler)));
    }
    // The token outlives the registry harmlessly: it holds it weakly.
    std::weak_ptr<State> weak = m_state;
    return std::shared_ptr<void>(new char(0), [weak, id](char* token) {
        delete token;
        if (auto state = weak.lock()) {
            std::shared_ptr<const CameraService::DevicesChanged> dropped;
            std::lock_guard lock(state->mutex);
            auto it = state->handlers.find(id);
            if (it != state->handlers.end()) {
                dropped = std::move(it->second); // released after the lock, with its captures
                state->handlers.erase(it);
            }
        }
    });
}

void CameraDeviceObservers::notify(const CameraDeviceChange& change) const
{
    if (change.isEmpty())
        return;
    std::vector<std::shared_ptr<const CameraService::DevicesChanged>> handlers;
    {
        std::lock_guard lock(m_state->mutex);
        for (const auto& [id, handler] : m_state->handlers)
            handlers.push_back(handler);
    }
    for (const auto& handler : handlers) {
        if (*handler)
            (*handler)(change);
    }
}

size_t CameraDeviceObservers::count() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->handlers.size();
}

} // namespace corvessa
