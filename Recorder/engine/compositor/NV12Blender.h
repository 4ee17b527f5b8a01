#pragma once

#include "engine/compositor/NV12Planes.h"

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QRgb>

#include <cstddef>
#include <cstdint>

namespace corvessa {

// Lays premultiplied ARGB layers over NV12 (BT.709, video range) pictures in
// place, touching only the layer's rectangle: luma is blended per pixel, chroma
// per 2x2 block with the block's mean colour and coverage. The loops work on
// fixed runs of pixels so the compiler turns them into vector code; runs that are
// wholly transparent are skipped.
class NV12Blender {
public:
    NV12Blender() = delete;

    struct YCbCr {
        uint8_t y = 16;
        uint8_t cb = 128;
        uint8_t cr = 128;
        bool operator==(const YCbCr&) const = default;
    };

    // The video-range values the blend gives an opaque colour.
    static YCbCr toYCbCr(QRgb rgb);

    // Lays `layer` (Format_ARGB32_Premultiplied; other formats are converted) with
    // its top-left pixel at `at` over `frame`. Parts outside the frame are cut off.
    static void blend(const NV12Planes& frame, const QImage& layer, QPoint at);

    // The core: `pixels` holds the layer rows for `rect` of the frame (stride in
    // pixels); x, y, width and height of `rect` are even and it lies in the frame.
    static void blendAligned(const NV12Planes& frame, const uint32_t* pixels, ptrdiff_t stride, const QRect& rect);

    // Copies `from` into `to`, which has at least its size.
    static void copy(const NV12Planes& from, const NV12Planes& to);
    // Sets every pixel to one colour.
    static void fill(const NV12Planes& frame, YCbCr colour);
    // Flips the picture left to right.
    static void mirror(const NV12Planes& frame);
};

} // namespace corvessa
