#pragma once

#include "platform/core/PixelBuffer.h"
#include "platform/core/PixelBufferPool.h"
#include "platform/ffmpeg/FFmpegHandles.h"
#include "platform/ffmpeg/SwsScaler.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace corvessa {

// Turns the bytes of one camera frame into a pixel buffer from a pool: MJPEG
// decoded with libavcodec, raw YCbCr layouts (YUYV, UYVY, NV12, YU12) converted
// with libswscale. The camera's colour matrix and range are honoured (webcams
// are mostly BT.601; JPEG is full range), so the output is what the rest of the
// program expects: BGRA, or NV12 in BT.709 video range. Short or corrupt frames
// give null and leave the decoder usable. Not thread-safe: one per stream, on
// the thread that reads its frames.
class CameraFrameDecoder {
public:
    // What the device delivers.
    struct Source {
        uint32_t pixelFormat = 0; // CameraPixelFormat
        int width = 0;
        int height = 0;
        size_t bytesPerLine = 0; // of the first plane; 0: packed without padding
        bool bt709 = false;      // the YCbCr matrix; BT.601 otherwise
        bool fullRange = false;  // JPEG is full range whatever this says
    };

    CameraFrameDecoder();
    ~CameraFrameDecoder();
    CameraFrameDecoder(const CameraFrameDecoder&) = delete;
    CameraFrameDecoder& operator=(const CameraFrameDecoder&) = delete;

    static bool canDecode(uint32_t pixelFormat);

    // Prepares for frames of `source` and pictures of `output`. False when the
    // layout is not one we decode, the size is unusable, or the codec is missing.
    bool prepare(const Source& source, PixelFormat output);

    // One frame; null when it is short, corrupt or of another size than prepared.
    PixelBufferRef decode(const uint8_t* data, size_t size);

    const Source& source() const { return m_source; }
    PixelFormat output() const { return m_output; }

private:
    PixelBufferRef decodeJpeg(const uint8_t* data, size_t size);
    PixelBufferRef convert(const SwsScaler::Picture& picture);

    Source m_source;
    PixelFormat m_output = PixelFormat::BGRA;
    std::shared_ptr<PixelBufferPool> m_pool;
    AVCodecContextPtr m_codec;
    AVPacketPtr m_packet;
    AVFramePtr m_frame;
    SwsScaler m_scaler;
};

} // namespace corvessa
