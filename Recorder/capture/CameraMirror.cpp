#include "capture/CameraMirror.h"

#include <cstdint>
#include <cstring>

namespace corvessa {

namespace {

// Reverses the order of `count` samples of `size` bytes from `from` into `to`.
// Rows need not be aligned, so samples are moved with memcpy.
template <size_t size>
void reverseRow(const uint8_t* from, uint8_t* to, int count)
{
    const uint8_t* src = from + size_t(count) * size;
    for (int x = 0; x < count; ++x) {
        src -= size;
        std::memcpy(to + size_t(x) * size, src, size);
    }
}

} // namespace

bool CameraMirror::flip(const PixelBuffer& source, PixelBuffer& target)
{
    if (&source == &target || source.width() != target.width() || source.height() != target.height()
        || source.format() != target.format() || source.planeCount() != target.planeCount())
        return false;

    for (size_t p = 0; p < source.planeCount(); ++p) {
        const auto& from = source.plane(p);
        const auto& to = target.plane(p);
        if (!from.data || !to.data)
            return false;
        for (int y = 0; y < from.height; ++y) {
            const uint8_t* src = from.data + size_t(y) * from.bytesPerRow;
            uint8_t* dst = to.data + size_t(y) * to.bytesPerRow;
            if (source.format() == PixelFormat::BGRA)
                reverseRow<4>(src, dst, from.width);
            else if (p == 0)
                reverseRow<1>(src, dst, from.width); // luma
            else
                reverseRow<2>(src, dst, from.width); // CbCr pairs stay together
        }
    }
    return true;
}

bool CameraMirror::preparePool(int width, int height, PixelFormat format)
{
    if (m_pool && m_size == QSize(width, height) && m_format == format)
        return true;
    // A failed creation leaves the old state, so the next frame tries again.
    auto pool = PixelBufferPool::create(width, height, format, kMaxInUse);
    if (!pool)
        return false;
    m_pool = std::move(pool);
    m_size = QSize(width, height);
    m_format = format;
    // Pictures of the old pool keep their own counter; the new pool starts empty.
    m_inUse = std::make_shared<std::atomic<int>>(0);
    ++m_poolsMade;
    return true;
}

std::optional<SampleBuffer> CameraMirror::sample(const SampleBuffer& source)
{
    const auto& picture = source.imageBuffer();
    if (!picture)
        return std::nullopt;
    if (!preparePool(picture->width(), picture->height(), picture->format()))
        return std::nullopt;
    if (m_inUse->load() >= kMaxInUse)
        return std::nullopt;

    PixelBufferRef pooled = m_pool->take();
    if (!pooled || !flip(*picture, *pooled))
        return std::nullopt;
    for (const auto& [key, attachment] : picture->propagatingAttachments())
        pooled->setAttachment(key, attachment.value, true);

    // Count the picture as in use until its last holder lets go; it goes back to
    // the pool before the count drops, so a freed slot always has a buffer ready.
    auto counter = m_inUse;
    counter->fetch_add(1);
    PixelBuffer* raw = pooled.get();
    PixelBufferRef counted(raw, [pooled = std::move(pooled), counter](PixelBuffer*) mutable {
        pooled.reset();
        counter->fetch_sub(1);
    });
    return MediaTime::image(std::move(counted), source.presentationTime(), source.duration());
}

} // namespace corvessa
