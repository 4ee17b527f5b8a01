#include "engine/compositor/ShadowBlur.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace corvessa {

namespace {

constexpr int kPasses = 3;

// One box pass over `n` samples `step` apart, from `in` to `out` (distinct).
void boxLine(const uint16_t* in, uint16_t* out, int n, ptrdiff_t step, int r)
{
    // Sums of up to 2r + 1 samples of at most 255 * 256 fit easily in 64 bits;
    // the division is a rounded multiply by the reciprocal.
    const int span = 2 * r + 1;
    const uint64_t inv = (uint64_t(1) << 32) / uint64_t(span);
    uint64_t sum = 0;
    for (int i = 0; i <= std::min(r, n - 1); ++i)
        sum += in[ptrdiff_t(i) * step];
    for (int i = 0; i < n; ++i) {
        out[ptrdiff_t(i) * step] = uint16_t((sum * inv + (uint64_t(1) << 31)) >> 32);
        const int add = i + r + 1;
        const int drop = i - r;
        if (add < n)
            sum += in[ptrdiff_t(add) * step];
        if (drop >= 0)
            sum -= in[ptrdiff_t(drop) * step];
    }
}

} // namespace

void ShadowBlur::boxRadii(double sigma, int radii[3])
{
    // Box widths whose three passes give the variance sigma^2: some boxes of
    // width wl, the rest wl + 2 (both odd).
    const double ideal = std::sqrt(12.0 * sigma * sigma / kPasses + 1);
    int wl = int(std::floor(ideal));
    if (wl % 2 == 0)
        --wl;
    wl = std::max(wl, 1);
    const int wu = wl + 2;
    const double mIdeal =
        (12.0 * sigma * sigma - kPasses * wl * wl - 4.0 * kPasses * wl - 3.0 * kPasses) / (-4.0 * wl - 4.0);
    const int m = std::clamp(int(std::lround(mIdeal)), 0, kPasses);
    for (int i = 0; i < kPasses; ++i)
        radii[i] = ((i < m ? wl : wu) - 1) / 2;
}

void ShadowBlur::blur(uint8_t* plane, int width, int height, ptrdiff_t stride, double sigma)
{
    if (!plane || width <= 0 || height <= 0 || !std::isfinite(sigma) || sigma < 0.5)
        return;
    int radii[kPasses];
    boxRadii(sigma, radii);

    // Work in 8.8 fixed point so three passes do not stack up rounding.
    const size_t count = size_t(width) * size_t(height);
    std::vector<uint16_t> a(count);
    std::vector<uint16_t> b(count);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            a[size_t(y) * size_t(width) + size_t(x)] = uint16_t(plane[ptrdiff_t(y) * stride + x] << 8);

    for (int r : radii) {
        for (int y = 0; y < height; ++y)
            boxLine(a.data() + size_t(y) * size_t(width), b.data() + size_t(y) * size_t(width), width, 1, r);
        for (int x = 0; x < width; ++x)
            boxLine(b.data() + x, a.data() + x, height, width, r);
    }

    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            plane[ptrdiff_t(y) * stride + x] = uint8_t((a[size_t(y) * size_t(width) + size_t(x)] + 128) >> 8);
}

} // namespace corvessa
