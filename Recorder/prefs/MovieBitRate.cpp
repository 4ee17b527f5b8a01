#include "prefs/MovieBitRate.h"

#include <algorithm>
#include <cmath>

namespace corvessa {

namespace {

// Pixels of 1920 x 1080: the tiers' bases are rates of a 1080p movie.
constexpr double kFullHDPixels = 2073600.0;

} // namespace

int64_t MovieBitRate::screen(int qualityTier, double customMbps, int width, int height, int fps)
{
    if (qualityTier > 2) {
        if (!(customMbps > 0.5)) // NaN too
            return 500000;
        return int64_t(std::min(customMbps, 60.0) * 1000000.0);
    }
    const double base = tierMbps[size_t(std::clamp(qualityTier, 0, 2))];
    const int64_t pixels = int64_t(width) * int64_t(height);
    const double rate = base * std::pow(double(pixels) / kFullHDPixels, 0.8) * std::pow(double(fps) / 30.0, 0.75) * 1e6;
    return std::isfinite(rate) ? int64_t(rate) : 0;
}

int64_t MovieBitRate::camera(int width, int height, int fps)
{
    return int64_t(width) * int64_t(height) * int64_t(fps) / 10;
}

} // namespace corvessa
