#pragma once

#include "engine/compositor/NV12Planes.h"
#include "platform/ffmpeg/FFmpegHandles.h"
#include "platform/core/PixelBuffer.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

#include <QImage>
#include <QRect>

#include <cstdint>

namespace corvessa {

// Crops and scales one picture into another with libswscale (bilinear). The
// context is kept while the geometry stays the same and rebuilt when it changes.
// YCbCr is taken as BT.709 video range and RGB as full range, so a conversion
// between them matches the rest of the program. Not thread-safe: one scaler per
// user.
class SwsScaler {
public:
    // Plane pointers and strides of a picture or of a part of one.
    struct Picture {
        AVPixelFormat format = AV_PIX_FMT_NONE;
        int width = 0;
        int height = 0;
        const uint8_t* data[4] = {};
        int stride[4] = {};

        bool isValid() const { return format != AV_PIX_FMT_NONE && width > 0 && height > 0 && data[0]; }
    };

    // The part `rect` of a BGRA or NV12 buffer (clipped to it). An NV12 part may
    // start at an odd pixel; its chroma then starts at the pair holding it.
    static Picture crop(const PixelBuffer& buffer, const QRect& rect);
    static Picture crop(const NV12Planes& planes, const QRect& rect);
    // A whole NV12 view or a Format_ARGB32(_Premultiplied) image (BGRA in memory).
    static Picture of(const NV12Planes& planes);
    static Picture of(QImage& image);

    // Scales `from` to fill `to`. False when either is invalid or swscale refuses.
    bool scale(const Picture& from, const Picture& to);

    // How many contexts were built so far (a new geometry builds one).
    int contextsBuilt() const { return m_built; }

private:
    struct Geometry {
        AVPixelFormat from = AV_PIX_FMT_NONE;
        int fromWidth = 0;
        int fromHeight = 0;
        AVPixelFormat to = AV_PIX_FMT_NONE;
        int toWidth = 0;
        int toHeight = 0;
        bool operator==(const Geometry&) const = default;
    };

    SwsContextPtr m_context;
    Geometry m_geometry;
    int m_built = 0;
};

} // namespace corvessa
