#pragma once

#include "platform/core/RecorderError.h"
#include "platform/x11/X11PixelView.h"

#include <QSize>

#include <optional>

// Last: X11's macros clash with names in Qt.
#include "platform/x11/X11CaptureDisplay.h"
#include "platform/x11/X11Handles.h"
#include "platform/x11/X11PixelReader.h"

namespace corvessa {

// One window captured on its own: the top-level holding it (its frame under a
// reparenting window manager) is read from its own pixmap, so windows covering
// it do not matter. A damage on the top-level says when it changed; a new
// frame (a window manager restart) is found again, and the window's end is
// noticed. Owned by the capture thread.
class X11WindowTarget {
public:
    X11WindowTarget(const X11CaptureDisplay& display, unsigned long window);

    // Finds the window and watches it; an error when it does not exist.
    std::optional<RecorderError> open(X11ErrorTrap& trap);

    // True when the event changed what the window shows.
    bool handleEvent(X11ErrorTrap& trap, const XEvent& e);
    // True when the damage is the window's.
    bool handleDamage(X11ErrorTrap& trap, const XDamageNotifyEvent& e);
    // The window was destroyed, or its frame is gone and no new one holds it.
    bool isLost() const { return m_lost; }

    // The window's picture now; an empty view when it is unmapped, gone or
    // cannot be read as 32-bit pixels.
    X11PixelView grab(X11ErrorTrap& trap, X11PixelReader& reader);

private:
    bool resolveTop(X11ErrorTrap& trap);
    void checkClient(X11ErrorTrap& trap);

    const X11CaptureDisplay& m_display;
    Display* const m_dpy;
    const Window m_client;
    Window m_top = 0;
    bool m_topViewable = false;
    Visual* m_topVisual = nullptr;
    PixmapHandle m_pixmap;
    QSize m_pixmapSize;
    int m_pixmapDepth = 0;
    DamageHandle m_damage;
    bool m_lost = false;
};

} // namespace corvessa
