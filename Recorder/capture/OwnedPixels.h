#pragma once

#include "platform/core/PixelBuffer.h"

#include <cstddef>

namespace corvessa {

// Byte size and deep copy of a pixel buffer, so that a frame can be kept after
// its producer recycles the buffer (camera overlay, video sync queue).
// Stateless; callable from any thread.
class OwnedPixels {
public:
    OwnedPixels() = delete;

    // Sum over the planes of bytes per row times rows, row padding included.
    static size_t bytes(const PixelBuffer& buffer);

    // A new buffer of the same size and format with the source's pixels and its
    // propagating attachments. Null when the new buffer cannot be made.
    static PixelBufferRef copy(const PixelBuffer& source);
};

} // namespace corvessa
