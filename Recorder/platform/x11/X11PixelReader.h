#pragma once

#include "platform/x11/X11PixelView.h"

#include <QRect>
#include <QSize>

#include <optional>

// Last: X11's macros clash with names in Qt.
#include "platform/x11/X11Handles.h"

namespace corvessa {

// Reads rectangles of drawables into client memory: through a shared-memory
// segment where the server offers one (the server writes straight into it),
// else with plain GetImage. Owned by the capture thread.
class X11PixelReader {
public:
    X11PixelReader(Display* display, bool useShm) : m_display(display), m_useShm(useShm) {}
    ~X11PixelReader() { release(); }
    X11PixelReader(const X11PixelReader&) = delete;
    X11PixelReader& operator=(const X11PixelReader&) = delete;

    bool usesShm() const { return m_useShm; }

    // The size and depth of a drawable (a pixmap, or a window inside its border).
    struct Geometry {
        QSize size;
        int depth = 0;
    };
    // Nothing when the drawable is gone; the trap is synced either way.
    static std::optional<Geometry> geometry(X11ErrorTrap& trap, Display* display, Drawable drawable);

    // Reads `rect` of a drawable of `depth` (24 or 32, 32 bits per pixel). An
    // empty view when the drawable is gone or the rectangle does not fit it.
    X11PixelView read(X11ErrorTrap& trap, Drawable drawable, Visual* visual, int depth, const QRect& rect);

private:
    bool ensureSegment(X11ErrorTrap& trap, size_t bytes);
    void release();

    Display* m_display;
    bool m_useShm;
    XShmSegment m_segment;
    X11ImagePtr m_shmImage; // made on m_segment: goes before it
    X11ImagePtr m_plainImage;
};

} // namespace corvessa
