#pragma once

#include "platform/core/RecorderError.h"
#include "platform/x11/X11PixelView.h"

#include <QRect>
#include <QSize>

#include <cstdint>
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
// noticed. It has a picture only while it is on the screen whole: the window
// itself and its top-level mapped, and the window inside the top-level's
// bounds. A minimised window or one on another workspace reads black, and a
// window manager may keep the frame up, or shrink it over the window, while it
// animates a minimise or a restore (openbox does both), or shade the window to
// its title bar. Owned by the capture thread.
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
    // Whether the window is on the screen whole.
    bool isShown() const;
    // How often the window has left the screen: a picture read across a change
    // of it may show the window gone.
    uint64_t departures() const { return m_departures; }

    // The window's picture now; an empty view when it is not shown, gone or
    // cannot be read as 32-bit pixels.
    X11PixelView grab(X11ErrorTrap& trap, X11PixelReader& reader);

private:
    bool resolveTop(X11ErrorTrap& trap);
    void checkClient(X11ErrorTrap& trap);
    // Where the window lies in its top-level now.
    void measureClient(X11ErrorTrap& trap);
    // After a change of what is shown: counts a departure.
    void noteChange(bool wasShown);

    const X11CaptureDisplay& m_display;
    Display* const m_dpy;
    const Window m_client;
    Window m_top = 0;
    bool m_clientMapped = false;
    bool m_topViewable = false;
    QSize m_topSize;    // inside its border
    QRect m_clientRect; // in the top-level's coordinates, its border included
    uint64_t m_departures = 0;
    Visual* m_topVisual = nullptr;
    PixmapHandle m_pixmap;
    QSize m_pixmapSize;
    int m_pixmapDepth = 0;
    DamageHandle m_damage;
    bool m_lost = false;
};

} // namespace corvessa
