#include "capture/OwnedPixels.h"

#include <algorithm>
#include <cstring>

namespace corvessa {

size_t OwnedPixels::bytes(const PixelBuffer& buffer)
{
    size_t total = 0;
    for (size_t i = 0; i < buffer.planeCount(); ++i) {
        const auto& plane = buffer.plane(i);
        total += plane.bytesPerRow * size_t(plane.height);
    }
    return total;
}

PixelBufferRef OwnedPixels::copy(const PixelBuffer& source)
{
    auto copy = PixelBuffer::create(source.width(), source.height(), source.format());
    if (!copy)
        return nullptr;

    const size_t planes = std::min(source.planeCount(), copy->planeCount());
    for (size_t i = 0; i < planes; ++i) {
        const auto& from = source.plane(i);
        const auto& to = copy->plane(i);
        if (!from.data || !to.data)
            return nullptr;
        // Strides may differ (another row alignment); only the shorter row length
        // is copied, so neither side is read or written past its row.
        const size_t rowBytes = std::min(from.bytesPerRow, to.bytesPerRow);
        const int rows = std::min(from.height, to.height);
        for (int y = 0; y < rows; ++y)
            std::memcpy(to.data + size_t(y) * to.bytesPerRow, from.data + size_t(y) * from.bytesPerRow, rowBytes);
    }

    for (const auto& [key, attachment] : source.propagatingAttachments())
        copy->setAttachment(key, attachment.value, true);
    return copy;
}

} // namespace corvessa
