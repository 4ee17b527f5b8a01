#include "platform/ffmpeg/CameraFrameDecoder.h"

#include "platform/CameraFormat.h"
#include "platform/ScreenStreamConfig.h"

#include <climits>
#include <cstring>
#include <optional>

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

// The layout of a decoded JPEG picture. The full-range "J" layouts are
// deprecated in libswscale: the plain layout with an explicit full range means
// the same and keeps it quiet. Nothing for layouts no webcam sends (16-bit,
// RGB or CMYK pictures).
std::optional<SwsScaler::Format> jpegLayout(AVPixelFormat f, bool& fullRange)
{
    using F = SwsScaler::Format;
    switch (f) {
    case AV_PIX_FMT_YUVJ420P:
        fullRange = true;
        return F::YUV420P;
    case AV_PIX_FMT_YUVJ422P:
        fullRange = true;
        return F::YUV422P;
    case AV_PIX_FMT_YUVJ444P:
        fullRange = true;
        return F::YUV444P;
    case AV_PIX_FMT_YUVJ440P:
        fullRange = true;
        return F::YUV440P;
    case AV_PIX_FMT_YUVJ411P:
        fullRange = true;
        return F::YUV411P;
    case AV_PIX_FMT_YUV420P: return F::YUV420P;
    case AV_PIX_FMT_YUV422P: return F::YUV422P;
    case AV_PIX_FMT_YUV444P: return F::YUV444P;
    case AV_PIX_FMT_YUV440P: return F::YUV440P;
    case AV_PIX_FMT_YUV411P: return F::YUV411P;
    case AV_PIX_FMT_GRAY8: return F::Gray8;
    default: return std::nullopt;
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
    m_scaler.reset();
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
    SwsScaler::Picture in;
    size_t need = 0;
    switch (m_source.pixelFormat) {
    case CameraPixelFormat::YUYV:
    case CameraPixelFormat::UYVY: {
        const size_t line = m_source.bytesPerLine ? m_source.bytesPerLine : w * 2;
        if (line < w * 2)
            return nullptr;
        need = line * (h - 1) + w * 2;
        in.data[0] = data;
        in.stride[0] = int(line);
        in.format = m_source.pixelFormat == CameraPixelFormat::YUYV ? SwsScaler::Format::YUYV : SwsScaler::Format::UYVY;
        break;
    }
    case CameraPixelFormat::NV12: {
        const size_t line = m_source.bytesPerLine ? m_source.bytesPerLine : w;
        if (line < w)
            return nullptr;
        // The CbCr plane follows the luma plane with the same stride.
        need = line * h + line * ((h + 1) / 2 - 1) + (w + 1) / 2 * 2;
        in.data[0] = data;
        in.data[1] = data + line * h;
        in.stride[0] = in.stride[1] = int(line);
        in.format = SwsScaler::Format::NV12;
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
        in.data[0] = data;
        in.data[1] = data + line * h;
        in.data[2] = in.data[1] + chromaLine * chromaRows;
        in.stride[0] = int(line);
        in.stride[1] = in.stride[2] = int(chromaLine);
        in.format = SwsScaler::Format::YUV420P;
        break;
    }
    default:
        return nullptr;
    }
    if (size < need || in.stride[0] <= 0)
        return nullptr; // a short frame would be read past its end
    in.width = m_source.width;
    in.height = m_source.height;
    in.matrix = m_source.bt709 ? SwsScaler::Matrix::BT709 : SwsScaler::Matrix::BT601;
    in.fullRange = m_source.fullRange;
    return convert(in);
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
    SwsScaler::Picture in;
    in.fullRange = f->color_range != AVCOL_RANGE_MPEG; // JFIF is full range unless it says otherwise
    const auto format = jpegLayout(AVPixelFormat(f->format), in.fullRange);
    if (!format)
        return nullptr;
    in.format = *format;
    in.width = f->width;
    in.height = f->height;
    for (int i = 0; i < 4; ++i) {
        in.data[i] = f->data[i];
        in.stride[i] = f->linesize[i];
    }
    in.matrix = f->colorspace == AVCOL_SPC_BT709 ? SwsScaler::Matrix::BT709 : SwsScaler::Matrix::BT601;
    return convert(in);
}

PixelBufferRef CameraFrameDecoder::convert(const SwsScaler::Picture& picture)
{
    // From the camera's matrix and range to BT.709 video range (NV12) or to
    // full-range RGB. Between two YCbCr matrices libswscale goes through RGB.
    PixelBufferRef out = m_pool->take();
    if (!out || !m_scaler.scale(picture, SwsScaler::crop(*out, QRect(0, 0, out->width(), out->height()))))
        return nullptr;
    out->setAttachment(PixelAttachmentKey::ColorPrimaries, ColorTag::PrimariesBT709);
    out->setAttachment(PixelAttachmentKey::TransferFunction, ColorTag::TransferSRGB);
    if (m_output == PixelFormat::NV12VideoRange)
        out->setAttachment(PixelAttachmentKey::YCbCrMatrix, ColorTag::MatrixBT709);
    return out;
}

} // namespace corvessa
