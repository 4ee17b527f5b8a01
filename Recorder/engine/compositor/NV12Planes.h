#pragma once

#include "platform/core/PixelBuffer.h"

#include <QRect>

#include <cstddef>
#include <cstdint>

namespace corvessa {

// A writable view of an NV12 picture (or an even-aligned part of one): the Y
// plane and the interleaved CbCr plane at half size, each with its own stride.
struct NV12Planes {
    uint8_t* y = nullptr;
    ptrdiff_t yStride = 0;
    uint8_t* uv = nullptr;
    ptrdiff_t uvStride = 0;
    int width = 0;  // luma pixels, even
    int height = 0; // luma rows, even

    bool isValid() const { return y && uv && width > 0 && height > 0; }
    QRect rect() const { return QRect(0, 0, width, height); }

    // The planes of an NV12 buffer; an invalid view for any other format.
    static NV12Planes of(PixelBuffer& buffer)
    {
        if (buffer.format() != PixelFormat::NV12VideoRange || buffer.planeCount() != 2)
            return {};
        return {buffer.baseAddress(0), ptrdiff_t(buffer.bytesPerRow(0)), buffer.baseAddress(1),
                ptrdiff_t(buffer.bytesPerRow(1)), buffer.width(), buffer.height()};
    }

    // The part inside `r`, whose corners must lie on even coordinates within the view.
    NV12Planes sub(const QRect& r) const
    {
        return {y + ptrdiff_t(r.y()) * yStride + r.x(), yStride, uv + ptrdiff_t(r.y() / 2) * uvStride + r.x(),
                uvStride, r.width(), r.height()};
    }
};

} // namespace corvessa
