#include "platform/ffmpeg/CameraFrameDecoder.h"

#include "platform/CameraFormat.h"
#include "platform/ScreenStreamConfig.h"

#include <climits>
#include <cstring>

namespace corvessa {

namespace {

// Larger frames are refused rather than trusted to a driver's numbers.
constexpr int kMaxSide = 8192;
// A few pictures may be held by the overlay copy, the preview and the writer.
constexpr size_t kPoolIdle = 4;

bool isJpeg(uint32_t pixelFormat)
{
    return pixelFormat == CameraPixelFormat::MJPEG || pixelFormat == CameraPixelFormat::JPEG;
}

// The full-range "J" layouts are deprecated in libswscale: the plain layout
// with an explicit full range means the same and keeps it quiet.
AVPixelFormat withoutJ(AVPixelFormat f, bool& fullRange)
{
    switch (f) {
    case AV_PIX_FMT_YUVJ420P:
        fullRange = true;
        return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
        fullRange = true;
        return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
        fullRange = true;
        return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
        fullRange = true;
        return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P:
        fullRange = true;
        return AV_PIX_FMT_YUV411P;
    default:
        return f;
    }
}

} // namespace

CameraFrameDecoder::CameraFrameDecoder() = default;
CameraFrameDecoder::~CameraFrameDecoder() = default;

bool CameraFrameDecoder::canDecode(uint32_t pixelFormat)
{
    return isJpeg(pixelFormat) || pixelFormat == CameraPixelFormat::YUYV || pixelFormat == CameraPixelFormat::UYVY
           || pixelFormat == CameraPixelFormat::NV12 || pixelFormat == CameraPixelFormat::YU12;
}

bool CameraFrameDecoder::prepare(const Source& source, PixelFormat output)
{
    m_pool.reset();
    m_codec.reset();
    m_sws.reset();
    m_swsFormat = AV_PIX_FMT_NONE;
    if (!canDecode(source.pixelFormat) || source.width <= 0 || source.height <= 0 || source.width > kMaxSide
        || source.height > kMaxSide)
        return false;
    if (output != PixelFormat::BGRA && output != PixelFormat::NV12VideoRange)
        return false;

    m_pool = PixelBufferPool::create(source.width, source.height, output, kPoolIdle);
    if (!m_pool)
        return false; // NV12 needs even sides
    if (isJpeg(source.pixelFormat)) {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
        if (!codec)
            return false;
        AVCodecContextPtr context(avcodec_alloc_context3(codec));
        if (!context)
            return false;
        // One thread: frame threading would hold pictures back by a frame or more.
        context->thread_count = 1;
        if (avcodec_open2(context.get(), codec, nullptr) < 0)
            return false;
        m_codec = std::move(context);
        if (!m_packet)
            m_packet.reset(av_packet_alloc());
        if (!m_frame)
            m_frame.reset(av_frame_alloc());
        if (!m_packet || !m_frame)
            return false;
    }
    m_source = source;
    m_output = output;
    return true;
}

PixelBufferRef CameraFrameDecoder::decode(const uint8_t* data, size_t size)
{
    if (!m_pool || !data || size == 0)
        return nullptr;
    if (isJpeg(m_source.pixelFormat))
        return decodeJpeg(data, size);

    const size_t w = size_t(m_source.width);
    const size_t h = size_t(m_source.height);
    const uint8_t* planes[4] = {};
    int strides[4] = {};
    size_t need = 0;
    AVPixelFormat format = AV_PIX_FMT_NONE;
    switch (m_source.pixelFormat) {
    case CameraPixelFormat::YUYV:
    case CameraPixelFormat::UYVY: {
        const size_t line = m_source.bytesPerLine ? m_source.bytesPerLine : w * 2;
        if (line < w * 2)
            return nullptr;
        need = line * (h - 1) + w * 2;
        planes[0] = data;
        strides[0] = int(line);
        format = m_source.pixelFormat == CameraPixelFormat::YUYV ? AV_PIX_FMT_YUYV422 : AV_PIX_FMT_UYVY422;
        break;
    }
    case CameraPixelFormat::NV12: {
        const size_t line = m_source.bytesPerLine ? m_source.bytesPerLine : w;
        if (line < w)
            return nullptr;
        // The CbCr plane follows the luma plane with the same stride.
        need = line * h + line * ((h + 1) / 2 - 1) + (w + 1) / 2 * 2;
        planes[0] = data;
        planes[1] = data + line * h;
        strides[0] = strides[1] = int(line);
        format = AV_PIX_FMT_NV12;
        break;
    }
    case CameraPixelFormat::YU12: {
        const size_t line = m_source.bytesPerLine ? m_source.bytesPerLine : w;
        if (line < w)
            return nullptr;
        const size_t chromaLine = line / 2;
        const size_t chromaRows = (h + 1) / 2;
        if (chromaLine < (w + 1) / 2)
            return nullptr;
        need = line * h + chromaLine * chromaRows * 2;
        planes[0] = data;
        planes[1] = data + line * h;
        planes[2] = planes[1] + chromaLine * chromaRows;
        strides[0] = int(line);
        strides[1] = strides[2] = int(chromaLine);
        format = AV_PIX_FMT_YUV420P;
        break;
    }
    default:
        return nullptr;
    }
    if (size < need || strides[0] <= 0)
        return nullptr; // a short frame would be read past its end
    return convert(format, planes, strides, m_source.fullRange, m_source.bt709);
}

PixelBufferRef CameraFrameDecoder::decodeJpeg(const uint8_t* data, size_t size)
{
    if (!m_codec || size > size_t(INT_MAX) - AV_INPUT_BUFFER_PADDING_SIZE)
        return nullptr;
    // The decoder reads a little past the end: the packet carries zeroed padding.
    av_packet_unref(m_packet.get());
    if (av_new_packet(m_packet.get(), int(size)) < 0)
        return nullptr;
    std::memcpy(m_packet->data, data, size);
    if (avcodec_send_packet(m_codec.get(), m_packet.get()) < 0) {
        avcodec_flush_buffers(m_codec.get());
        return nullptr;
    }
    av_frame_unref(m_frame.get());
    if (avcodec_receive_frame(m_codec.get(), m_frame.get()) < 0)
        return nullptr;
    const AVFrame* f = m_frame.get();
    if (f->width != m_source.width || f->height != m_source.height || (f->flags & AV_FRAME_FLAG_CORRUPT))
        return nullptr;
    bool fullRange = f->color_range != AVCOL_RANGE_MPEG; // JFIF is full range unless it says otherwise
    const AVPixelFormat format = withoutJ(AVPixelFormat(f->format), fullRange);
    const bool bt709 = f->colorspace == AVCOL_SPC_BT709;
    const uint8_t* planes[4] = {f->data[0], f->data[1], f->data[2], f->data[3]};
    const int strides[4] = {f->linesize[0], f->linesize[1], f->linesize[2], f->linesize[3]};
    return convert(format, planes, strides, fullRange, bt709);
}

PixelBufferRef CameraFrameDecoder::convert(AVPixelFormat format, const uint8_t* const planes[4], const int strides[4],
                                           bool fullRange, bool bt709)
{
    const int w = m_source.width;
    const int h = m_source.height;
    if (!m_sws || m_swsFormat != format || m_swsFullRange != fullRange || m_swsBt709 != bt709) {
        const AVPixelFormat to = m_output == PixelFormat::NV12VideoRange ? AV_PIX_FMT_NV12 : AV_PIX_FMT_BGRA;
        m_sws.reset(sws_getContext(w, h, format, w, h, to, SWS_BILINEAR, nullptr, nullptr, nullptr));
        m_swsFormat = format;
        if (!m_sws)
            return nullptr;
        m_swsFullRange = fullRange;
        m_swsBt709 = bt709;
        // From the camera's matrix and range to BT.709 video range (NV12) or to
        // full-range RGB. Between two YCbCr matrices libswscale goes through RGB.
        sws_setColorspaceDetails(m_sws.get(), sws_getCoefficients(bt709 ? SWS_CS_ITU709 : SWS_CS_ITU601),
                                 fullRange ? 1 : 0, sws_getCoefficients(SWS_CS_ITU709),
                                 m_output == PixelFormat::NV12VideoRange ? 0 : 1, 0, 1 << 16, 1 << 16);
    }

    PixelBufferRef out = m_pool->take();
    if (!out)
        return nullptr;
    uint8_t* dst[4] = {out->baseAddress(0), out->planeCount() > 1 ? out->baseAddress(1) : nullptr, nullptr, nullptr};
    int dstStride[4] = {int(out->bytesPerRow(0)), out->planeCount() > 1 ? int(out->bytesPerRow(1)) : 0, 0, 0};
    if (sws_scale(m_sws.get(), planes, strides, 0, h, dst, dstStride) != h)
        return nullptr;
    out->setAttachment(PixelAttachmentKey::ColorPrimaries, ColorTag::PrimariesBT709);
    out->setAttachment(PixelAttachmentKey::TransferFunction, ColorTag::TransferSRGB);
    if (m_output == PixelFormat::NV12VideoRange)
        out->setAttachment(PixelAttachmentKey::YCbCrMatrix, ColorTag::MatrixBT709);
    return out;
}

} // namespace corvessa
