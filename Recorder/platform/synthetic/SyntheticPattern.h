#pragma once

#include "platform/core/PixelBuffer.h"

#include <cstdint>
#include <optional>

namespace corvessa {

// What the synthetic screen and camera draw their test pictures with, in BGRA
// or NV12 (video range): grey levels, and a frame counter with a moving bar so
// that frames can be told apart and their order checked after a pipeline:
// - in the top `blockSize` rows, `counterBits` blocks of `blockSize` pixels:
//   the frame number in binary, most significant bit first, white for 1 and
//   black for 0 (only where the picture is wide enough);
// - below them, a white bar `barWidth` pixels wide that moves `barWidth` pixels
//   to the right with every frame, wrapping round at the right edge.
// Stateless.
class SyntheticPattern {
public:
    static constexpr int blockSize = 4;
    static constexpr int counterBits = 32;
    static constexpr int barWidth = 8;

    // Paints a grey level into a rectangle, clipped to the buffer: `bgra` in each
    // colour byte (alpha opaque), or `luma` with neutral chroma over the 2x2
    // blocks the rectangle covers.
    static void paint(PixelBuffer& buffer, int x0, int y0, int x1, int y1, uint8_t bgra, uint8_t luma);
    // Draws the counter and the bar of frame `number` over what is there.
    static void drawCounterAndBar(PixelBuffer& buffer, uint32_t number);
    // The number the counter carries, its blocks read as 1 above `threshold`;
    // nothing when the buffer is too small to carry one.
    static std::optional<uint32_t> readCounter(const PixelBuffer& buffer, int threshold);
    // Brightness of a pixel: luma for NV12, green for BGRA.
    static int level(const PixelBuffer& buffer, int x, int y);
};

} // namespace corvessa
