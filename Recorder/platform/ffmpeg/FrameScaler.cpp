#include "platform/ffmpeg/FrameScaler.h"

#include <algorithm>
#include <cmath>

namespace corvessa {

namespace {

// Bilinear: smooth when the picture is scaled, and it averages the chroma of
// each 2x2 block (instead of picking one pixel's) when it is not.
constexpr int kScaleFlags = SWS_BILINEAR;
constexpr int kMaxSide = 16384;

int evenDown(int v)
{
    return std::max(2, v & ~1);
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

bool FrameScaler::prepare(int srcWidth, int srcHeight, int dstWidth, int dstHeight, PixelFormat format)
{
    if (m_context && srcWidth == m_srcWidth && srcHeight == m_srcHeight && dstWidth == m_dstWidth &&
        dstHeight == m_dstHeight && format == m_format)
        return true;
    m_context.reset();
    const AVPixelFormat dstFormat = format == PixelFormat::NV12VideoRange ? AV_PIX_FMT_NV12 : AV_PIX_FMT_BGRA;
    SwsContextPtr context(sws_getContext(srcWidth, srcHeight, AV_PIX_FMT_BGR0, dstWidth, dstHeight, dstFormat,
                                         kScaleFlags, nullptr, nullptr, nullptr));
    if (!context)
        return false;
    if (format == PixelFormat::NV12VideoRange) {
        // Screen RGB is full range; the movie is BT.709 in video range.
        const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
        sws_setColorspaceDetails(context.get(), bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
    }
    m_context = std::move(context);
    m_srcWidth = srcWidth;
    m_srcHeight = srcHeight;
    m_dstWidth = dstWidth;
    m_dstHeight = dstHeight;
    m_format = format;
    return true;
}

bool FrameScaler::scale(const uint8_t* bgrx, int width, int height, size_t bytesPerRow, PixelBuffer& target, Fit fit)
{
    if (!bgrx || width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide ||
        bytesPerRow < size_t(width) * 4 || bytesPerRow > size_t(INT32_MAX))
        return false;
    const QRect place = placement(width, height, QSize(target.width(), target.height()), fit);
    if (!prepare(width, height, place.width(), place.height(), target.format()))
        return false;
    if (place != QRect(0, 0, target.width(), target.height()))
        target.fill(0, 0, 0);

    const uint8_t* src[4] = {bgrx, nullptr, nullptr, nullptr};
    const int srcStride[4] = {int(bytesPerRow), 0, 0, 0};
    uint8_t* dst[4] = {nullptr, nullptr, nullptr, nullptr};
    int dstStride[4] = {0, 0, 0, 0};
    const size_t x = size_t(place.x());
    const size_t y = size_t(place.y());
    if (target.format() == PixelFormat::NV12VideoRange) {
        dst[0] = target.baseAddress(0) + y * target.bytesPerRow(0) + x;
        // One CbCr pair (two bytes) per two pixels: the byte offset equals x.
        dst[1] = target.baseAddress(1) + y / 2 * target.bytesPerRow(1) + x;
        dstStride[0] = int(target.bytesPerRow(0));
        dstStride[1] = int(target.bytesPerRow(1));
    } else {
        dst[0] = target.baseAddress(0) + y * target.bytesPerRow(0) + x * 4;
        dstStride[0] = int(target.bytesPerRow(0));
    }
    return sws_scale(m_context.get(), src, srcStride, 0, height, dst, dstStride) == place.height();
}

} // namespace corvessa
