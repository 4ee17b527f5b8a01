#include "platform/ffmpeg/FrameScaler.h"

#include "platform/core/NV12Converter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace corvessa {

namespace {

constexpr int kMaxSide = 16384;

int evenDown(int v)
{
    return std::max(2, v & ~1);
}

// Paints black what lies outside `place` (even edges) in each plane; the
// picture covers the rest.
void blackOutside(PixelBuffer& target, const QRect& place)
{
    const bool nv12 = target.format() == PixelFormat::NV12VideoRange;
    for (size_t i = 0; i < target.planeCount(); ++i) {
        const PixelBuffer::Plane& plane = target.plane(i);
        // A sample of each plane: a BGRA pixel, a luma byte, a CbCr pair.
        const uint8_t bgra[4] = {0, 0, 0, 255};
        const uint8_t luma[1] = {16};
        const uint8_t chroma[2] = {128, 128};
        const uint8_t* black = !nv12 ? bgra : i == 0 ? luma : chroma;
        const size_t size = !nv12 ? 4 : i == 0 ? 1 : 2;
        const int step = nv12 && i == 1 ? 2 : 1; // pixels per sample
        const QRect inside(place.x() / step, place.y() / step, place.width() / step, place.height() / step);
        const auto fill = [&](int y, int from, int to) {
            uint8_t* row = plane.data + size_t(y) * plane.bytesPerRow;
            if (size == 1) {
                std::memset(row + from, black[0], size_t(to - from));
                return;
            }
            for (int x = from; x < to; ++x)
                std::memcpy(row + size_t(x) * size, black, size);
        };
        for (int y = 0; y < plane.height; ++y) {
            if (y < inside.top() || y > inside.bottom()) {
                fill(y, 0, plane.width);
            } else {
                fill(y, 0, inside.left());
                fill(y, inside.right() + 1, plane.width);
            }
        }
    }
}

} // namespace

FrameScaler::FrameScaler() = default;
FrameScaler::~FrameScaler() = default;

QRect FrameScaler::placement(int width, int height, const QSize& target, Fit fit)
{
    const QRect full(QPoint(0, 0), target);
    if (fit == Fit::Stretch || width <= 0 || height <= 0 || target.isEmpty())
        return full;
    const double factor = std::min(double(target.width()) / width, double(target.height()) / height);
    const int w = std::min(target.width(), evenDown(int(std::lround(width * factor))));
    const int h = std::min(target.height(), evenDown(int(std::lround(height * factor))));
    // A difference of a rounding step is not worth a black line.
    if (target.width() - w <= 2 && target.height() - h <= 2)
        return full;
    return QRect(((target.width() - w) / 2) & ~1, ((target.height() - h) / 2) & ~1, w, h);
}

bool FrameScaler::sameShape(int width, int height, const QSize& target)
{
    if (width <= 0 || height <= 0 || target.isEmpty())
        return false;
    // Rounding moves an aspect by well under this; a display's new mode, or a
    // window's new size, by more.
    constexpr double kTolerance = 0.01;
    const double ratio = double(width) * target.height() / (double(height) * target.width());
    return std::abs(ratio - 1) < kTolerance;
}

bool FrameScaler::scale(const uint8_t* bgrx, int width, int height, size_t bytesPerRow, PixelBuffer& target, Fit fit)
{
    if (!bgrx || width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide ||
        bytesPerRow < size_t(width) * 4 || bytesPerRow > size_t(INT32_MAX))
        return false;
    const QRect place = placement(width, height, QSize(target.width(), target.height()), fit);
    blackOutside(target, place);
    if (target.format() == PixelFormat::NV12VideoRange && place.size() == QSize(width, height)) {
        // Same size: our own conversion, several times swscale's speed.
        const SwsScaler::Picture to = SwsScaler::crop(target, place);
        NV12Converter::convert(bgrx, ptrdiff_t(bytesPerRow), width, height,
                               {const_cast<uint8_t*>(to.data[0]), to.stride[0], const_cast<uint8_t*>(to.data[1]),
                                to.stride[1]});
        return true;
    }
    SwsScaler::Picture from;
    from.format = SwsScaler::Format::BGRX;
    from.width = width;
    from.height = height;
    from.data[0] = bgrx;
    from.stride[0] = int(bytesPerRow);
    return m_scaler.scale(from, SwsScaler::crop(target, place));
}

} // namespace corvessa
