#pragma once

#include <QRegion>

#include <optional>

// Last: X11's macros clash with names in Qt.
#include "platform/x11/X11ErrorTrap.h"
#include "platform/x11/X11Handles.h"

namespace corvessa {

// Where a window really shows: its bounding shape (the Shape extension's),
// which a round or framed window sets to leave the rest of its rectangle to
// what lies below. Stateless.
class X11BoundingShape {
public:
    // The shape relative to the window's origin (inside its border); nothing
    // when the window has none, so its whole rectangle shows, or is gone.
    static std::optional<QRegion> read(Display* dpy, X11ErrorTrap& trap, Window w);
    // Asks for the window's shape changes (ShapeNotify) from now on.
    static void watch(Display* dpy, Window w);
};

} // namespace corvessa
