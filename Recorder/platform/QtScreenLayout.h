#pragma once

#include "platform/core/ScreenCoordinates.h"

namespace corvessa {

// The conversion between global points and Qt's coordinates for the screens Qt
// knows now: the primary screen's frame, and each screen's pixels and points.
// Stateless; main thread.
class QtScreenLayout {
public:
    QtScreenLayout() = delete;

    // An empty layout without screens.
    static ScreenCoordinates current();
};

} // namespace corvessa
