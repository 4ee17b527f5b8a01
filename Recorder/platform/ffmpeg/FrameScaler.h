#pragma once

#include "platform/core/PixelBuffer.h"
#include "platform/ffmpeg/SwsScaler.h"

#include <QRect>

#include <cstddef>
#include <cstdint>

namespace corvessa {

// Scales a 32-bit BGRX picture (what the X server hands out; the fourth byte is
// ignored) into a pixel buffer: BGRA with opaque alpha, or NV12 in video range
// with the BT.709 matrix. The same-size conversion to NV12 is NV12Converter's;
// an SwsScaler does the rest, its context kept while the sizes and formats stay
// the same. Not thread-safe: one per capture thread.
class FrameScaler {
public:
    enum class Fit {
        Stretch,   // the picture fills the buffer, whatever its aspect
        AspectFit, // the picture keeps its aspect, centred, black around it
    };

    FrameScaler();
    ~FrameScaler();
    FrameScaler(const FrameScaler&) = delete;
    FrameScaler& operator=(const FrameScaler&) = delete;

    // False when the sizes are not positive or libswscale refuses them.
    bool scale(const uint8_t* bgrx, int width, int height, size_t bytesPerRow, PixelBuffer& target,
               Fit fit = Fit::Stretch);

    // Where a picture of the given size lands in a target of `target` size. For
    // AspectFit the rectangle is centred and, so that NV12's 2x2 chroma blocks stay
    // whole, its edges are even; a picture whose aspect differs from the target's
    // by no more than that rounding fills the target.
    static QRect placement(int width, int height, const QSize& target, Fit fit);
    // Whether a picture of the given size has the target's shape but for the
    // rounding of its sides to whole (and even) pixels; one that has may be
    // stretched to fill it.
    static bool sameShape(int width, int height, const QSize& target);

private:
    SwsScaler m_scaler;
};

} // namespace corvessa
