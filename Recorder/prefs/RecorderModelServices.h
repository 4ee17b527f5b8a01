#pragma once

#include "capture/ScreenVideoCapabilities.h"

#include <optional>

namespace corvessa {

// What the preferences code asks of the recorder model. The model library sits
// above this one, so the model implements this interface and registers itself
// once it exists; until then shared() is null and callers fall back on their own.
// Main thread only.
class RecorderModelServices {
public:
    virtual ~RecorderModelServices() = default;

    // Capabilities of the display that will be recorded; none while unknown.
    virtual std::optional<ScreenVideoCapabilities> screenCapabilities() const = 0;

    // The registered model, or null.
    static RecorderModelServices* shared();
    // Registers the model (null unregisters). The caller keeps ownership and
    // unregisters before the object goes away.
    static void setShared(RecorderModelServices* services);
};

} // namespace corvessa
