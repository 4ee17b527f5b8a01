#include "tools/SolidPaint.h"

#include <QImage>
#include <QRect>

#include <cstdint>
#include <vector>

namespace corvessa {

QRegion SolidPaint::solidify(QImage& image, const QPoint& origin)
{
    if (image.format() != QImage::Format_ARGB32_Premultiplied)
        image.convertTo(QImage::Format_ARGB32_Premultiplied);
    // One rectangle per run of solid pixels: rows top to bottom, runs left to
    // right, never touching, which is the order QRegion takes as it is.
    std::vector<QRect> runs;
    const int w = image.width();
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<uint32_t*>(image.scanLine(y));
        int start = -1;
        for (int x = 0; x <= w; ++x) {
            const uint32_t p = x < w ? row[x] : 0;
            const uint32_t a = p >> 24;
            const bool solid = int(a) >= kThreshold;
            if (x < w) {
                if (!solid) {
                    row[x] = 0;
                } else if (a != 255) {
                    // Premultiplied to full strength: the colour the ink has.
                    const uint32_t r = ((p >> 16) & 0xff) * 255 / a;
                    const uint32_t g = ((p >> 8) & 0xff) * 255 / a;
                    const uint32_t b = (p & 0xff) * 255 / a;
                    row[x] = 0xff000000u | (r << 16) | (g << 8) | b;
                }
            }
            if (solid && start < 0) {
                start = x;
            } else if (!solid && start >= 0) {
                runs.emplace_back(origin.x() + start, origin.y() + y, x - start, 1);
                start = -1;
            }
        }
    }
    QRegion region;
    region.setRects(runs.data(), int(runs.size()));
    return region;
}

} // namespace corvessa
