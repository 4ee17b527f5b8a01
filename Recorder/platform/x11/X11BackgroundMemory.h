#pragma once

#include "platform/x11/X11PixelView.h"

#include <QRect>
#include <QRegion>
#include <QSize>

#include <cstdint>
#include <deque>
#include <vector>

namespace corvessa {

// What the desktop showed where excluded windows now stand, when no wallpaper
// pixmap on the root says so: a compositing manager such as GNOME's draws its
// background itself (without one, the root window's own background is read
// where the memory holds none, see X11RootBackground). Keeps
// the last background pixels the screen showed (where no window stood); where
// it never saw the place, the background around the excluded windows is
// blended across, and only where there is none of that either is it black.
// Never a window's pixels: a window taken out later must not show. Nor, as far
// as can be told, a compositing manager's late picture of one: while one runs,
// what the screen showed is trusted only once no excluded window came to cover
// the place for a few frames after (the manager may still show a window of ours, or its
// shadow, where the server already has it elsewhere, as when a recording
// starts while the toolbar changes size).
// Frame coordinates (the captured area's pixels) throughout. Owned by the
// capture thread.
class X11BackgroundMemory {
public:
    // Keeps the pixels of `frame` in `changed` that `covered` (where windows
    // stand, excluded or not) leaves to the background. A frame of another
    // size starts the memory afresh, from the whole frame. `late`: a
    // compositing manager draws the screen, which may lag behind the server,
    // so what it shows is trusted only after a few frames (see above) in
    // which it painted: `aged` tells whether this frame counts.
    void remember(const X11PixelView& frame, const QRegion& changed, const QRegion& covered, bool late = false,
                  bool aged = true);
    // Paints `part` of `frame`, which lies inside `excluded`: remembered pixels
    // where there are some, else a blend of the nearest pixels beside the
    // excluded region, on the same row and column, that `windows` (where
    // windows show) does not cover, else the mean of the nearest background
    // shown or remembered anywhere.
    void fill(const X11PixelView& frame, const QRegion& part, const QRegion& excluded, const QRegion& windows) const;
    // Where the memory holds trusted background for pictures like `frame`.
    QRegion seen(const X11PixelView& frame) const
    {
        return QSize(frame.width, frame.height) == m_size ? m_seen : QRegion();
    }

private:
    // Paints each of `rest` with the mean of the background nearest to it:
    // what the frame shows of it (`visible`), or what the memory holds.
    void fillFromNearest(const X11PixelView& frame, const std::vector<QRect>& rest, const QRegion& visible) const;

    QSize m_size;
    std::vector<uint8_t> m_pixels; // BGRA, m_size.width() * 4 bytes a row
    QRegion m_seen;                // trusted
    std::deque<QRegion> m_pending; // kept lately, newest last, not trusted yet
};

} // namespace corvessa
