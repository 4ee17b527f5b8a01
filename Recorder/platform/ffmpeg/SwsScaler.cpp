#include "platform/ffmpeg/SwsScaler.h"

#include "platform/ffmpeg/FFmpegHandles.h"

#include <cstring>

extern "C" {
#include <libavutil/opt.h>
}

namespace corvessa {

namespace {

AVPixelFormat avFormat(SwsScaler::Format format)
{
    using F = SwsScaler::Format;
    switch (format) {
    case F::None: return AV_PIX_FMT_NONE;
    case F::BGRA: return AV_PIX_FMT_BGRA;
    case F::BGRX: return AV_PIX_FMT_BGR0;
    case F::NV12: return AV_PIX_FMT_NV12;
    case F::YUYV: return AV_PIX_FMT_YUYV422;
    case F::UYVY: return AV_PIX_FMT_UYVY422;
    case F::YUV420P: return AV_PIX_FMT_YUV420P;
    case F::YUV422P: return AV_PIX_FMT_YUV422P;
    case F::YUV444P: return AV_PIX_FMT_YUV444P;
    case F::YUV440P: return AV_PIX_FMT_YUV440P;
    case F::YUV411P: return AV_PIX_FMT_YUV411P;
    case F::Gray8: return AV_PIX_FMT_GRAY8;
    }
    return AV_PIX_FMT_NONE;
}

bool isRgb(SwsScaler::Format format)
{
    return format == SwsScaler::Format::BGRA || format == SwsScaler::Format::BGRX;
}

// What a context is made for. The colours of an RGB side are fixed, so only a
// YCbCr side's count.
struct Side {
    SwsScaler::Format format = SwsScaler::Format::None;
    int width = 0;
    int height = 0;
    SwsScaler::Matrix matrix = SwsScaler::Matrix::BT709;
    bool fullRange = true;

    explicit Side(const SwsScaler::Picture& p) : format(p.format), width(p.width), height(p.height)
    {
        if (!isRgb(format)) {
            matrix = p.matrix;
            fullRange = p.fullRange;
        }
    }
    bool operator==(const Side&) const = default;

    const int* coefficients() const
    {
        return sws_getCoefficients(matrix == SwsScaler::Matrix::BT601 ? SWS_CS_ITU601 : SWS_CS_ITU709);
    }
};

// A frame that lends a picture's planes to FFmpeg without owning them.
AVFramePtr lentFrame(const SwsScaler::Picture& p)
{
    AVFramePtr frame(av_frame_alloc());
    if (!frame)
        return nullptr;
    frame->format = avFormat(p.format);
    frame->width = p.width;
    frame->height = p.height;
    for (int i = 0; i < 4; ++i) {
        frame->data[i] = const_cast<uint8_t*>(p.data[i]);
        frame->linesize[i] = p.stride[i];
    }
    frame->buf[0] = av_buffer_create(frame->data[0], 1, [](void*, uint8_t*) {}, nullptr, 0);
    if (!frame->buf[0])
        return nullptr;
    return frame;
}

} // namespace

struct SwsScaler::Context {
    Side from;
    Side to;
    SwsContextPtr sws;
};

SwsScaler::SwsScaler(int threads) : m_threads(threads) {}

SwsScaler::~SwsScaler() = default;

void SwsScaler::reset()
{
    m_context.reset();
}

SwsScaler::Picture SwsScaler::crop(const PixelBuffer& buffer, const QRect& rect)
{
    if (buffer.format() != PixelFormat::BGRA)
        return cropNV12(buffer.baseAddress(0), ptrdiff_t(buffer.bytesPerRow(0)), buffer.baseAddress(1),
                        ptrdiff_t(buffer.bytesPerRow(1)), buffer.width(), buffer.height(), rect);
    const QRect r = rect & QRect(0, 0, buffer.width(), buffer.height());
    Picture p;
    if (r.isEmpty())
        return p;
    p.format = Format::BGRA;
    p.width = r.width();
    p.height = r.height();
    p.data[0] = buffer.baseAddress(0) + ptrdiff_t(r.y()) * ptrdiff_t(buffer.bytesPerRow(0)) + r.x() * 4;
    p.stride[0] = int(buffer.bytesPerRow(0));
    return p;
}

SwsScaler::Picture SwsScaler::cropNV12(const uint8_t* y, ptrdiff_t yStride, const uint8_t* uv, ptrdiff_t uvStride,
                                       int width, int height, const QRect& rect)
{
    const QRect r = rect & QRect(0, 0, width, height);
    Picture p;
    if (r.isEmpty() || !y || !uv)
        return p;
    p.format = Format::NV12;
    p.width = r.width();
    p.height = r.height();
    p.data[0] = y + ptrdiff_t(r.y()) * yStride + r.x();
    p.data[1] = uv + ptrdiff_t(r.y() / 2) * uvStride + (r.x() & ~1);
    p.stride[0] = int(yStride);
    p.stride[1] = int(uvStride);
    return p;
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
    p.format = Format::BGRA;
    p.width = image.width();
    p.height = image.height();
    p.data[0] = image.bits();
    p.stride[0] = int(image.bytesPerLine());
    return p;
}

bool SwsScaler::scale(const Picture& from, const Picture& to)
{
    m_lastError = AVERROR(EINVAL);
    if (!from.isValid() || !to.isValid())
        return false;
    // swscale's unscaled NV12 to NV12 path copies the luma plane only and
    // leaves the chroma as it was: a picture the same in size and colours is
    // copied plane by plane instead.
    if (from.format == Format::NV12 && to.format == Format::NV12 && from.width == to.width
        && from.height == to.height && from.matrix == to.matrix && from.fullRange == to.fullRange) {
        const int chromaRows = (from.height + 1) / 2;
        const size_t chromaBytes = size_t((from.width + 1) & ~1);
        for (int y = 0; y < from.height; ++y)
            std::memmove(const_cast<uint8_t*>(to.data[0]) + ptrdiff_t(y) * to.stride[0],
                         from.data[0] + ptrdiff_t(y) * from.stride[0], size_t(from.width));
        for (int y = 0; y < chromaRows; ++y)
            std::memmove(const_cast<uint8_t*>(to.data[1]) + ptrdiff_t(y) * to.stride[1],
                         from.data[1] + ptrdiff_t(y) * from.stride[1], chromaBytes);
        m_lastError = 0;
        return true;
    }
    const Side src(from);
    const Side dst(to);
    if (!m_context || !m_context->sws || !(m_context->from == src) || !(m_context->to == dst)) {
        m_context = std::make_unique<Context>(Context{src, dst, SwsContextPtr(sws_alloc_context())});
        SwsContext* c = m_context->sws.get();
        if (!c)
            return false;
        av_opt_set_int(c, "srcw", src.width, 0);
        av_opt_set_int(c, "srch", src.height, 0);
        av_opt_set_int(c, "src_format", avFormat(src.format), 0);
        av_opt_set_int(c, "dstw", dst.width, 0);
        av_opt_set_int(c, "dsth", dst.height, 0);
        av_opt_set_int(c, "dst_format", avFormat(dst.format), 0);
        // Bilinear: smooth when the picture is scaled, and it averages the chroma
        // of each 2x2 block (instead of picking one pixel's) when it is not.
        av_opt_set_int(c, "sws_flags", SWS_BILINEAR, 0);
        if (m_threads > 1)
            av_opt_set_int(c, "threads", m_threads, 0);
        if (sws_init_context(c, nullptr, nullptr) < 0) {
            m_context->sws.reset();
            return false;
        }
        ++m_built;
        // swscale's default matrix is BT.601 and it takes both sides as video range.
        if (!isRgb(src.format) || !isRgb(dst.format))
            sws_setColorspaceDetails(c, src.coefficients(), src.fullRange ? 1 : 0, dst.coefficients(),
                                     dst.fullRange ? 1 : 0, 0, 1 << 16, 1 << 16);
    }
    SwsContext* c = m_context->sws.get();
    if (m_threads > 1) {
        // Only the frame interface hands the slices out to the threads.
        const AVFramePtr in = lentFrame(from);
        const AVFramePtr out = lentFrame(to);
        if (!in || !out) {
            m_lastError = AVERROR(ENOMEM);
            return false;
        }
        const int r = sws_scale_frame(c, out.get(), in.get());
        m_lastError = r < 0 ? r : 0;
        return r >= 0;
    }
    uint8_t* const dstPlanes[4] = {const_cast<uint8_t*>(to.data[0]), const_cast<uint8_t*>(to.data[1]),
                                   const_cast<uint8_t*>(to.data[2]), const_cast<uint8_t*>(to.data[3])};
    const int r = sws_scale(c, from.data, from.stride, 0, from.height, dstPlanes, to.stride);
    if (r != to.height)
        return false;
    m_lastError = 0;
    return true;
}

} // namespace corvessa
