#include "platform/core/PixelBuffer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace corvessa {

namespace {

// Overflow-checked size arithmetic: false when the result does not fit.
bool mulSize(size_t a, size_t b, size_t& out)
{
    return !__builtin_mul_overflow(a, b, &out);
}

bool addSize(size_t a, size_t b, size_t& out)
{
    return !__builtin_add_overflow(a, b, &out);
}

// Rounds `n` up to a multiple of the power of two `alignment`.
bool roundUp(size_t n, size_t alignment, size_t& out)
{
    if (!addSize(n, alignment - 1, out))
        return false;
    out &= ~(alignment - 1);
    return true;
}

bool isPowerOfTwo(size_t n)
{
    return n != 0 && (n & (n - 1)) == 0;
}

uint8_t toByte(double v)
{
    return uint8_t(std::clamp(std::lround(v), 0L, 255L));
}

// Geometry of one plane before row padding.
struct PlaneShape {
    int width;          // samples per row
    int height;         // rows
    size_t bytesPerSample;
};

} // namespace

bool PixelBuffer::isValidSize(int width, int height, PixelFormat format)
{
    if (width <= 0 || height <= 0)
        return false;
    switch (format) {
    case PixelFormat::BGRA:
        return true;
    case PixelFormat::NV12VideoRange:
        // 4:2:0 chroma covers 2x2 pixel blocks; an odd edge would have no chroma sample.
        return width % 2 == 0 && height % 2 == 0;
    }
    return false;
}

std::unique_ptr<PixelBuffer> PixelBuffer::make(int width, int height, PixelFormat format, size_t rowAlignment,
                                               bool zeroed)
{
    if (!isValidSize(width, height, format) || !isPowerOfTwo(rowAlignment))
        return nullptr;

    std::vector<PlaneShape> shapes;
    if (format == PixelFormat::BGRA) {
        shapes.push_back({width, height, 4});
    } else {
        shapes.push_back({width, height, 1});         // Y
        shapes.push_back({width / 2, height / 2, 2}); // interleaved CbCr pairs
    }

    // Lay the planes out back to back; every row length is a multiple of the
    // alignment, so every plane and row start stays aligned too.
    std::vector<size_t> offsets;
    std::vector<size_t> strides;
    size_t total = 0;
    for (const auto& s : shapes) {
        size_t rowBytes = 0;
        size_t stride = 0;
        size_t planeBytes = 0;
        if (!mulSize(size_t(s.width), s.bytesPerSample, rowBytes) || !roundUp(rowBytes, rowAlignment, stride)
            || !mulSize(stride, size_t(s.height), planeBytes))
            return nullptr;
        offsets.push_back(total);
        strides.push_back(stride);
        if (!addSize(total, planeBytes, total))
            return nullptr;
    }
    if (total > size_t(std::numeric_limits<std::ptrdiff_t>::max()))
        return nullptr;

    // posix_memalign wants at least pointer alignment; any larger power of two is fine.
    const size_t allocAlignment = std::max(rowAlignment, sizeof(void*));
    void* storage = nullptr;
    if (posix_memalign(&storage, allocAlignment, total) != 0 || !storage)
        return nullptr;
    if (zeroed)
        std::memset(storage, 0, total);

    std::unique_ptr<PixelBuffer> buffer(new (std::nothrow) PixelBuffer());
    if (!buffer) {
        std::free(storage);
        return nullptr;
    }
    buffer->m_width = width;
    buffer->m_height = height;
    buffer->m_format = format;
    buffer->m_alignment = rowAlignment;
    buffer->m_storage = static_cast<uint8_t*>(storage);
    for (size_t i = 0; i < shapes.size(); ++i)
        buffer->m_planes.push_back({buffer->m_storage + offsets[i], strides[i], shapes[i].width, shapes[i].height});
    return buffer;
}

std::shared_ptr<PixelBuffer> PixelBuffer::create(int width, int height, PixelFormat format, size_t rowAlignment)
{
    return std::shared_ptr<PixelBuffer>(make(width, height, format, rowAlignment));
}

PixelBuffer::~PixelBuffer()
{
    std::free(m_storage);
}

void PixelBuffer::setAttachment(const QString& key, QVariant value, bool propagate)
{
    m_attachments[key] = PixelAttachment{std::move(value), propagate};
}

void PixelBuffer::removeAttachment(const QString& key)
{
    m_attachments.erase(key);
}

QVariant PixelBuffer::attachment(const QString& key) const
{
    const auto it = m_attachments.find(key);
    return it == m_attachments.end() ? QVariant() : it->second.value;
}

std::map<QString, PixelAttachment> PixelBuffer::propagatingAttachments() const
{
    std::map<QString, PixelAttachment> result;
    for (const auto& [key, attachment] : m_attachments) {
        if (attachment.propagate)
            result.emplace(key, attachment);
    }
    return result;
}

void PixelBuffer::fill(uint8_t r, uint8_t g, uint8_t b, uint8_t a)
{
    if (m_format == PixelFormat::BGRA) {
        const Plane& p = m_planes.at(0);
        const uint8_t px[4] = {b, g, r, a};
        for (int y = 0; y < p.height; ++y) {
            uint8_t* row = p.data + size_t(y) * p.bytesPerRow;
            for (int x = 0; x < p.width; ++x)
                std::memcpy(row + size_t(x) * 4, px, 4);
        }
        return;
    }

    // BT.709, video range: luma 16-235, chroma 16-240 around 128. Alpha has no place in NV12.
    constexpr double kr = 0.2126;
    constexpr double kb = 0.0722;
    constexpr double kg = 1.0 - kr - kb;
    const double luma = kr * r + kg * g + kb * b; // 0-255
    const uint8_t yv = toByte(16.0 + luma * 219.0 / 255.0);
    const uint8_t cb = toByte(128.0 + (b - luma) / (2.0 * (1.0 - kb)) * 224.0 / 255.0);
    const uint8_t cr = toByte(128.0 + (r - luma) / (2.0 * (1.0 - kr)) * 224.0 / 255.0);

    const Plane& luma0 = m_planes.at(0);
    for (int y = 0; y < luma0.height; ++y)
        std::memset(luma0.data + size_t(y) * luma0.bytesPerRow, yv, size_t(luma0.width));
    const Plane& chroma = m_planes.at(1);
    for (int y = 0; y < chroma.height; ++y) {
        uint8_t* row = chroma.data + size_t(y) * chroma.bytesPerRow;
        for (int x = 0; x < chroma.width; ++x) {
            row[size_t(x) * 2] = cb;
            row[size_t(x) * 2 + 1] = cr;
        }
    }
}

} // namespace corvessa
