#pragma once

#include "platform/x11/X11BackgroundMemory.h"
#include "platform/x11/X11PixelView.h"

#include <QRect>
#include <QRegion>
#include <QSize>

#include <cstdint>

// Last: X11's macros clash with names in Qt.
#include "platform/x11/X11CaptureDisplay.h"
#include "platform/x11/X11PixelReader.h"
#include "platform/x11/X11RootBackground.h"
#include "platform/x11/X11WindowStack.h"

namespace corvessa {

// Paints over every excluded window in a display frame: the root background
// first (the wallpaper desktops publish on the root; else, without a
// compositing manager, the root window's own background, see
// X11RootBackground; else what the screen last showed there, see
// X11BackgroundMemory), then the
// other windows from their own pixmaps, bottom up, as the screen would show
// without the excluded ones. Windows with alpha are blended as a compositing
// manager would show them while one runs, and the shadow it may draw around an
// excluded window is rebuilt with the window. Owned by the capture thread.
class X11ExclusionRepair {
public:
    explicit X11ExclusionRepair(const X11CaptureDisplay& display);

    // Watches the compositing manager's selection and reads the background;
    // the caller's next sync tells whether the server refused.
    void open(X11ErrorTrap& trap);
    // The compositing manager came or went.
    void compositorChanged();
    bool compositorRunning() const { return m_compositorRunning; }
    // A property of the root changed; true when it was the background.
    bool rootPropertyChanged(X11ErrorTrap& trap, const XPropertyEvent& e);

    // Rebuilds what excluded windows cover in `frame`, the picture of `area`,
    // in which `changed` (on the root) may differ from the picture before.
    // `painted`: something was drawn on the screen since the picture before.
    // Returns the bounds of what it painted over, on the root (empty for nothing).
    QRect repair(X11ErrorTrap& trap, const X11PixelView& frame, const QRect& area, X11WindowStack& stack,
                 const QRegion& changed, bool painted);
    // Frames in which something was painted over.
    uint64_t repairs() const { return m_repairs; }

private:
    void loadWallpaper(X11ErrorTrap& trap);

    const X11CaptureDisplay& m_display;
    Display* const m_dpy;
    X11PixelReader m_reader;
    const Atom m_rootPmapAtom;
    const Atom m_esetrootAtom;
    const Atom m_compositorAtom;
    Pixmap m_wallpaper = 0; // the desktop's, not ours to free
    QSize m_wallpaperSize;
    // A compositing manager blends windows with alpha over what lies below; the
    // server alone shows their colour as it is. The rebuild does as the screen does.
    bool m_compositorRunning = false;
    uint64_t m_repairs = 0;
    QRect m_area;                // of the pictures the memory holds
    QRegion m_excluded;          // what the last picture's excluded windows covered, in its pixels
    X11BackgroundMemory m_memory;
    X11RootBackground m_rootBackground;
};

} // namespace corvessa
