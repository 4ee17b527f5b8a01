#include "platform/synthetic/SyntheticPattern.h"

#include <algorithm>
#include <cstring>

namespace corvessa {

namespace {

constexpr uint8_t kWhiteLuma = 235;
constexpr uint8_t kBlackLuma = 16;

} // namespace

void SyntheticPattern::paint(PixelBuffer& b, int x0, int y0, int x1, int y1, uint8_t bgra, uint8_t luma)
{
    x0 = std::clamp(x0, 0, b.width());
    x1 = std::clamp(x1, 0, b.width());
    y0 = std::clamp(y0, 0, b.height());
    y1 = std::clamp(y1, 0, b.height());
    if (x0 >= x1 || y0 >= y1)
        return;
    if (b.format() == PixelFormat::BGRA) {
        for (int y = y0; y < y1; ++y) {
            uint8_t* row = b.baseAddress(0) + size_t(y) * b.bytesPerRow(0);
            for (int x = x0; x < x1; ++x) {
                uint8_t* p = row + size_t(x) * 4;
                p[0] = p[1] = p[2] = bgra;
                p[3] = 255;
            }
        }
        return;
    }
    for (int y = y0; y < y1; ++y)
        std::memset(b.baseAddress(0) + size_t(y) * b.bytesPerRow(0) + size_t(x0), luma, size_t(x1 - x0));
    for (int y = y0 / 2; y < (y1 + 1) / 2; ++y)
        std::memset(b.baseAddress(1) + size_t(y) * b.bytesPerRow(1) + size_t(x0 / 2) * 2, 128,
                    size_t((x1 + 1) / 2 - x0 / 2) * 2);
}

void SyntheticPattern::drawCounterAndBar(PixelBuffer& b, uint32_t number)
{
    const int w = b.width();
    const int h = b.height();
    if (w >= counterBits * blockSize && h >= blockSize) {
        for (int bit = 0; bit < counterBits; ++bit) {
            const bool one = (number >> (counterBits - 1 - bit)) & 1u;
            paint(b, bit * blockSize, 0, (bit + 1) * blockSize, blockSize, one ? 255 : 0,
                  one ? kWhiteLuma : kBlackLuma);
        }
    }
    const int x = int((uint64_t(number) * barWidth) % uint64_t(std::max(1, w)));
    paint(b, x, 2 * blockSize, x + barWidth, h, 255, kWhiteLuma);
}

std::optional<uint32_t> SyntheticPattern::readCounter(const PixelBuffer& b, int threshold)
{
    if (b.width() < counterBits * blockSize || b.height() < blockSize)
        return std::nullopt;
    uint32_t number = 0;
    for (int bit = 0; bit < counterBits; ++bit) {
        const int v = level(b, bit * blockSize + blockSize / 2, blockSize / 2);
        number = (number << 1) | (v > threshold ? 1u : 0u);
    }
    return number;
}

int SyntheticPattern::level(const PixelBuffer& b, int x, int y)
{
    if (b.format() == PixelFormat::BGRA)
        return b.baseAddress(0)[size_t(y) * b.bytesPerRow(0) + size_t(x) * 4 + 1];
    return b.baseAddress(0)[size_t(y) * b.bytesPerRow(0) + size_t(x)];
}

} // namespace corvessa
