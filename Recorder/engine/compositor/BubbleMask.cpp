#include "engine/compositor/BubbleMask.h"

#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <algorithm>
#include <cmath>

namespace corvessa {

namespace {

constexpr int kMinSide = 8;
// The ring: white at this opacity, one pixel wide per this many pixels of width.
constexpr double kRingOpacity = 0.3;
constexpr double kRingWidthDivisor = 240;

// A corner share that is not a number, or outside 0...0.5, is brought into range.
double safeCorner(double corner)
{
    return std::isfinite(corner) ? std::clamp(corner, 0.0, 0.5) : 0.0;
}

// x / 255 rounded, exact for 0 <= x <= 65025.
inline uint16_t div255(uint16_t x)
{
    x = uint16_t(x + 128);
    return uint16_t((x + (x >> 8)) >> 8);
}

// One row: ring + picture * keep, byte by byte. Runs of fixed length let the
// compiler vectorise it; the tail goes one byte at a time.
void shapeRow(uint8_t* __restrict px, const uint8_t* __restrict ring, const uint8_t* __restrict keep, size_t n)
{
    constexpr size_t kRun = 64;
    size_t i = 0;
    for (; i + kRun <= n; i += kRun)
        for (size_t j = 0; j < kRun; ++j)
            px[i + j] = uint8_t(ring[i + j] + div255(uint16_t(px[i + j] * keep[i + j])));
    for (; i < n; ++i)
        px[i] = uint8_t(ring[i] + div255(uint16_t(px[i] * keep[i])));
}

} // namespace

BubbleMask::Key BubbleMask::keyFor(int width, int height, double corner)
{
    return {std::max(width, kMinSide), std::max(height, kMinSide), int(safeCorner(corner) * 1000)};
}

BubbleMask BubbleMask::make(int width, int height, double corner)
{
    BubbleMask m;
    m.m_key = keyFor(width, height, corner);
    const int w = m.m_key.width;
    const int h = m.m_key.height;
    const double radius = std::min(w, h) * safeCorner(corner);

    QImage shape(w, h, QImage::Format_ARGB32_Premultiplied);
    shape.fill(Qt::transparent);
    {
        QPainter p(&shape);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.setFillRule(Qt::WindingFill);
        path.addRoundedRect(QRectF(0, 0, w, h), radius, radius);
        p.fillPath(path, Qt::white);
    }
    m.m_mask.resize(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(shape.constScanLine(y));
        for (int x = 0; x < w; ++x)
            m.m_mask[size_t(y) * size_t(w) + size_t(x)] = uint8_t(qAlpha(row[x]));
    }

    m.m_ring = QImage(w, h, QImage::Format_ARGB32_Premultiplied);
    m.m_ring.fill(Qt::transparent);
    {
        QPainter p(&m.m_ring);
        p.setRenderHint(QPainter::Antialiasing);
        const double lw = std::max(w / kRingWidthDivisor, 1.0);
        const double r = std::max(radius - lw / 2, 0.0);
        QPainterPath path;
        path.addRoundedRect(QRectF(lw / 2, lw / 2, w - lw, h - lw), r, r);
        p.strokePath(path, QPen(QColor::fromRgbF(1, 1, 1, kRingOpacity), lw));
    }

    // The ring is premultiplied, so ring + picture * keep stays within 0...255.
    m.m_keep.resize(size_t(w) * size_t(h) * 4);
    for (int y = 0; y < h; ++y) {
        const auto* ring = reinterpret_cast<const QRgb*>(m.m_ring.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y) * size_t(w) + size_t(x);
            const auto keep = uint8_t(div255(uint16_t(m.m_mask[i] * (255 - qAlpha(ring[x])))));
            std::fill_n(m.m_keep.begin() + ptrdiff_t(i * 4), 4, keep);
        }
    }
    return m;
}

void BubbleMask::apply(QImage& picture) const
{
    if (picture.width() != width() || picture.height() != height()
        || picture.format() != QImage::Format_ARGB32_Premultiplied)
        return;
    const size_t rowBytes = size_t(width()) * 4;
    for (int y = 0; y < height(); ++y)
        shapeRow(picture.scanLine(y), m_ring.constScanLine(y), m_keep.data() + size_t(y) * rowBytes, rowBytes);
}

} // namespace corvessa
