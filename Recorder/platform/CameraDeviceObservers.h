#pragma once

#include "platform/CameraService.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

namespace corvessa {

// The observers of a camera service's device notices. Thread-safe; handlers are
// called outside the lock, so one may end its own or another observation.
class CameraDeviceObservers {
public:
    CameraDeviceObservers();

    CameraService::Observation add(CameraService::DevicesChanged handler);
    // Calls every current handler on the calling thread; nothing for an empty change.
    void notify(const CameraDeviceChange& change) const;
    size_t count() const;

private:
    struct State {
        mutable std::mutex mutex;
        std::map<uint64_t, std::shared_ptr<const CameraService::DevicesChanged>> handlers;
        uint64_t next = 1;
    };
    std::shared_ptr<State> m_state;
};

} // namespace corvessa
