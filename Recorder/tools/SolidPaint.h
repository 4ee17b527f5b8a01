#pragma once

#include <QPoint>
#include <QRegion>

class QImage;

namespace corvessa {

// Paint for a window the server shows without alpha (no compositing manager),
// shaped to what it paints: every pixel becomes either solid or clear. A
// partly covered edge pixel is kept, in its full colour, from a quarter
// coverage on, so thin lines stay whole and no edge shows darkened against a
// background the window cannot blend with. Stateless.
class SolidPaint {
public:
    // A pixel is kept from this alpha on (of 255).
    static constexpr int kThreshold = 64;

    SolidPaint() = delete;

    // Makes each pixel of `image` (premultiplied ARGB32, changed in place)
    // solid or clear, and answers the solid part in the image's device pixels,
    // shifted by `origin`.
    static QRegion solidify(QImage& image, const QPoint& origin = {});
};

} // namespace corvessa
