#pragma once

#include "platform/CameraDevice.h"

#include <vector>

namespace corvessa {

// Cameras that arrived or went away since the last notice.
struct CameraDeviceChange {
    std::vector<CameraDevice> added;
    std::vector<CameraDevice> removed; // as they were last listed

    bool isEmpty() const { return added.empty() && removed.empty(); }
    bool wasRemoved(const QString& id) const
    {
        for (const CameraDevice& d : removed) {
            if (d.id == id)
                return true;
        }
        return false;
    }
};

} // namespace corvessa
