#pragma once

#include <array>
#include <cstdint>

namespace corvessa {

// Video bit rates of the movies a recording writes, in bits per second.
// Stateless; any thread.
class MovieBitRate {
public:
    MovieBitRate() = delete;

    // Megabits per second of quality tiers 0, 1 and 2 for a 1920 x 1080 movie at
    // 30 frames per second: the one table the quality picker and the writer share.
    static constexpr std::array<double, 3> tierMbps{3, 6, 12};

    // The screen movie: quality tiers 0, 1 and 2 scale their 1080p30 base by pixel
    // count (power 0.8) and frame rate (power 0.75); a tier above 2 takes
    // `customMbps` (at most 60, and 0.5 or less gives 500,000). A negative tier
    // counts as 0. Truncated toward zero.
    static int64_t screen(int qualityTier, double customMbps, int width, int height, int fps);

    // A camera side file: width x height x frame rate / 10.
    static int64_t camera(int width, int height, int fps);
};

} // namespace corvessa
