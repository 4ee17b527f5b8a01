#pragma once

#include <cstddef>
#include <cstdint>

namespace corvessa {

// An approximate Gaussian blur of one 8-bit plane: three box blurs in each
// direction, sized so that together they spread as far as the Gaussian of the
// given standard deviation. Pixels outside the plane
// count as 0, which suits a shadow with a transparent margin. Meant for the
// small cursor-shadow layer: it runs only when that layer is rebuilt.
class ShadowBlur {
public:
    ShadowBlur() = delete;

    // Blurs `width` x `height` samples at `plane` (rows `stride` bytes apart) in
    // place with standard deviation `sigma` pixels. Nothing happens for a sigma
    // below 0.5 or that is not finite.
    static void blur(uint8_t* plane, int width, int height, ptrdiff_t stride, double sigma);

    // The half-widths of the three boxes for `sigma` (each box spans 2r + 1).
    static void boxRadii(double sigma, int radii[3]);
};

} // namespace corvessa
