#pragma once

#include <QRect>

// Last: X11's macros clash with names in Qt.
#include "platform/x11/X11CaptureDisplay.h"

namespace corvessa {

// The root window's own background where no wallpaper is published on the
// root: a tile or a colour set on it, as xsetroot does, which the server
// cannot give back and the screen shows only where no window stands. It is
// read by mapping, for a moment, a window at the bottom of the stack that
// paints its parent's background into a picture of its own and that the
// server never puts on the screen (redirected by us alone, and never given
// input). A compositing manager draws the desktop itself and would draw that
// window too: while one runs, this is not asked for. Owned by the capture thread.
class X11RootBackground {
public:
    explicit X11RootBackground(const X11CaptureDisplay& display) : m_display(display) {}

    // A pixmap of `area`'s size holding the root's background there (root
    // pixels, so `area`'s corner is the pixmap's); 0 when it cannot be read.
    // Read once per area, until forget().
    Pixmap pixmap(X11ErrorTrap& trap, const QRect& area);
    // The background may have changed: the next call reads it again.
    void forget();

private:
    void read(X11ErrorTrap& trap, const QRect& area);

    const X11CaptureDisplay& m_display;
    PixmapHandle m_pixmap;
    QRect m_area; // read for this area, successfully or not
};

} // namespace corvessa
