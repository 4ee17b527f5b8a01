#pragma once

#include "platform/PowerControl.h"

#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace corvessa {

// Holds the display awake through the first of its backends that can, in
// order (the desktop's service, then the X server itself), and releases a hold
// through the backend that took it. Callable from any thread.
class FallbackPowerControl : public PowerControl {
public:
    explicit FallbackPowerControl(std::vector<std::shared_ptr<PowerControl>> backends);

    uint32_t holdDisplayAwake(const QString& reason) override;
    void release(uint32_t id) override;

private:
    const std::vector<std::shared_ptr<PowerControl>> m_backends;
    std::mutex m_mutex;
    // Our identifiers (never 0) for the backend's index and its own identifier.
    std::map<uint32_t, std::pair<size_t, uint32_t>> m_holds;
    uint32_t m_next = 1;
};

} // namespace corvessa
