#pragma once

#include <cstdint>

namespace corvessa {

// Video bit rates of the movies a recording writes, in bits per second.
class MovieBitRate {
public:
    MovieBitRate() = delete;

    // The screen movie: quality tiers 0, 1 and 2 scale a 1080p30 base of 3, 6 or
    // 12 Mbit/s by pixel count (power 0.8) and frame rate (power 0.75); a tier
    // above 2 takes `customMbps` (at most 60, and 0.5 or less gives 500,000).
    // A negative tier counts as 0. Truncated toward zero.
    static int64_t screen(int qualityTier, double customMbps, int width, int height, int fps);

    // A camera side file: width x height x frame rate / 10.
    static int64_t camera(int width, int height, int fps);
};

} // namespace corvessa
