#include "engine/compositor/SwsScaler.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace corvessa {

namespace {

bool isYuv(AVPixelFormat format)
{
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    return d && !(d->flags & AV_PIX_FMT_FLAG_RGB);
}

} // namespace

SwsScaler::Picture SwsScaler::crop(const PixelBuffer& buffer, const QRect& rect)
{
    const QRect r = rect & QRect(0, 0, buffer.width(), buffer.height());
    Picture p;
    if (r.isEmpty())
        return p;
    p.width = r.width();
    p.height = r.height();
    if (buffer.format() == PixelFormat::BGRA) {
        p.format = AV_PIX_FMT_BGRA;
        p.data[0] = buffer.baseAddress(0) + ptrdiff_t(r.y()) * ptrdiff_t(buffer.bytesPerRow(0)) + r.x() * 4;
        p.stride[0] = int(buffer.bytesPerRow(0));
        return p;
    }
    p.format = AV_PIX_FMT_NV12;
    p.data[0] = buffer.baseAddress(0) + ptrdiff_t(r.y()) * ptrdiff_t(buffer.bytesPerRow(0)) + r.x();
    p.data[1] = buffer.baseAddress(1) + ptrdiff_t(r.y() / 2) * ptrdiff_t(buffer.bytesPerRow(1)) + (r.x() & ~1);
    p.stride[0] = int(buffer.bytesPerRow(0));
    p.stride[1] = int(buffer.bytesPerRow(1));
    return p;
}

SwsScaler::Picture SwsScaler::crop(const NV12Planes& planes, const QRect& rect)
{
    const QRect r = rect & planes.rect();
    Picture p;
    if (r.isEmpty() || !planes.isValid())
        return p;
    p.format = AV_PIX_FMT_NV12;
    p.width = r.width();
    p.height = r.height();
    p.data[0] = planes.y + ptrdiff_t(r.y()) * planes.yStride + r.x();
    p.data[1] = planes.uv + ptrdiff_t(r.y() / 2) * planes.uvStride + (r.x() & ~1);
    p.stride[0] = int(planes.yStride);
    p.stride[1] = int(planes.uvStride);
    return p;
}

SwsScaler::Picture SwsScaler::of(const NV12Planes& planes)
{
    return crop(planes, planes.rect());
}

SwsScaler::Picture SwsScaler::of(QImage& image)
{
    Picture p;
    if (image.isNull()
        || (image.format() != QImage::Format_ARGB32 && image.format() != QImage::Format_ARGB32_Premultiplied
            && image.format() != QImage::Format_RGB32))
        return p;
    // 0xAARRGGBB words are B, G, R, A bytes on a little-endian machine.
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "BGRA byte order assumed");
    p.format = AV_PIX_FMT_BGRA;
    p.width = image.width();
    p.height = image.height();
    p.data[0] = image.bits();
    p.stride[0] = int(image.bytesPerLine());
    return p;
}

bool SwsScaler::scale(const Picture& from, const Picture& to)
{
    if (!from.isValid() || !to.isValid())
        return false;
    const Geometry g{from.format, from.width, from.height, to.format, to.width, to.height};
    if (!m_context || !(g == m_geometry)) {
        m_context.reset(sws_getContext(from.width, from.height, from.format, to.width, to.height, to.format,
                                       SWS_BILINEAR, nullptr, nullptr, nullptr));
        m_geometry = g;
        if (!m_context)
            return false;
        ++m_built;
        // swscale's default matrix is BT.601; the program's YCbCr is BT.709 video range.
        const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
        sws_setColorspaceDetails(m_context.get(), bt709, isYuv(from.format) ? 0 : 1, bt709, isYuv(to.format) ? 0 : 1,
                                 0, 1 << 16, 1 << 16);
    }
    uint8_t* const dst[4] = {const_cast<uint8_t*>(to.data[0]), const_cast<uint8_t*>(to.data[1]),
                             const_cast<uint8_t*>(to.data[2]), const_cast<uint8_t*>(to.data[3])};
    return sws_scale(m_context.get(), from.data, from.stride, 0, from.height, dst, to.stride) > 0;
}

} // namespace corvessa
