#pragma once

#include "platform/core/PixelBuffer.h"

#include <QImage>
#include <QRect>

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace corvessa {

// A writable view of an NV12 picture's two planes, such as the compositor's
// NV12Planes: the Y plane and the interleaved CbCr plane, each with its stride.
template <typename T>
concept NV12View = requires(const T& v) {
    { v.y } -> std::convertible_to<const uint8_t*>;
    { v.uv } -> std::convertible_to<const uint8_t*>;
    { v.yStride } -> std::convertible_to<ptrdiff_t>;
    { v.uvStride } -> std::convertible_to<ptrdiff_t>;
    { v.width } -> std::convertible_to<int>;
    { v.height } -> std::convertible_to<int>;
};

// Crops, scales and converts one picture into another with libswscale
// (bilinear). The context is kept while the geometry and the colours stay the
// same and is rebuilt when they change. Wherever one side is YCbCr the
// conversion is told the colours: the BT.709 matrix (or the picture's own),
// YCbCr in video range unless the picture says full range, RGB in full range,
// so it matches the rest of the program. Between two RGB pictures swscale's own
// defaults stand. One owner, on one thread at a time.
class SwsScaler {
public:
    // Layouts in memory, named after FFmpeg's.
    enum class Format {
        None,
        BGRA,    // 8-bit blue, green, red, alpha
        BGRX,    // the same with the fourth byte ignored
        NV12,    // Y plane, interleaved CbCr plane at half size
        YUYV,    // packed 4:2:2, Y Cb Y Cr
        UYVY,    // packed 4:2:2, Cb Y Cr Y
        YUV420P, // three planes; chroma at half width and height
        YUV422P, //   at half width
        YUV444P, //   at full size
        YUV440P, //   at half height
        YUV411P, //   at a quarter width
        Gray8,   // luma only
    };
    enum class Matrix { BT709, BT601 };

    // Plane pointers and strides of a picture or of a part of one.
    struct Picture {
        Format format = Format::None;
        int width = 0;
        int height = 0;
        const uint8_t* data[4] = {};
        int stride[4] = {};
        // What its YCbCr values mean; ignored for RGB.
        Matrix matrix = Matrix::BT709;
        bool fullRange = false;

        bool isValid() const { return format != Format::None && width > 0 && height > 0 && data[0]; }
    };

    // `threads` > 1 converts that many slices of each picture in parallel.
    explicit SwsScaler(int threads = 1);
    ~SwsScaler();
    SwsScaler(const SwsScaler&) = delete;
    SwsScaler& operator=(const SwsScaler&) = delete;

    // The part `rect` of a BGRA or NV12 buffer (clipped to it). An NV12 part may
    // start at an odd pixel; its chroma then starts at the pair holding it.
    static Picture crop(const PixelBuffer& buffer, const QRect& rect);
    static Picture crop(const NV12View auto& planes, const QRect& rect)
    {
        return cropNV12(planes.y, planes.yStride, planes.uv, planes.uvStride, planes.width, planes.height, rect);
    }
    static Picture cropNV12(const uint8_t* y, ptrdiff_t yStride, const uint8_t* uv, ptrdiff_t uvStride, int width,
                            int height, const QRect& rect);
    // A whole NV12 view or a Format_ARGB32(_Premultiplied) or Format_RGB32 image
    // (BGRA in memory).
    static Picture of(const NV12View auto& planes) { return crop(planes, QRect(0, 0, planes.width, planes.height)); }
    static Picture of(QImage& image);

    // Scales `from` to fill `to`. False when either is invalid or swscale
    // refuses; lastError() then says why.
    bool scale(const Picture& from, const Picture& to);
    // FFmpeg's error code for the last scale() that failed; 0 after one that worked.
    int lastError() const { return m_lastError; }
    // Lets go of the context; the next scale() builds a new one.
    void reset();

    // How many contexts were built so far (a new geometry builds one).
    int contextsBuilt() const { return m_built; }

private:
    struct Context;

    std::unique_ptr<Context> m_context;
    int m_threads;
    int m_built = 0;
    int m_lastError = 0;
};

} // namespace corvessa
