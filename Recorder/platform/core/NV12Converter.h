#pragma once

#include <cstddef>
#include <cstdint>

namespace corvessa {

// Converts a 32-bit BGRX picture (the fourth byte ignored) of one size into
// NV12 of the same size: BT.709, luma 16-235 and chroma 16-240 (video range),
// from full-range RGB. Chroma is sited at the centre of each 2x2 block, as
// libswscale's bilinear conversion has it: the two pixels of each row are
// averaged, and the four rows around the block weighed 1, 3, 3, 1 (the picture's
// edge rows and an odd last column repeated). Three loops give the same bytes:
// the plain one (the measure for tests), SSE2's (every x86-64 processor) and
// AVX2's; `convert` takes the fastest the processor has.
// Without state: any thread.
class NV12Converter {
public:
    struct Target {
        uint8_t* y = nullptr;
        ptrdiff_t yStride = 0;
        uint8_t* uv = nullptr; // interleaved Cb, Cr pairs, (width + 1) / 2 per row
        ptrdiff_t uvStride = 0;
    };

    enum class Loop { plain, sse2, avx2 };
    static bool available(Loop loop);
    static Loop fastest();

    static void convert(const uint8_t* bgrx, ptrdiff_t stride, int width, int height, const Target& to)
    {
        convert(fastest(), bgrx, stride, width, height, to);
    }
    // With the given loop, or the plain one where that is not available.
    static void convert(Loop loop, const uint8_t* bgrx, ptrdiff_t stride, int width, int height, const Target& to);

    // Converts again only what the picture's rows [top, bottom) reach: their
    // luma and every chroma row whose four rows touch them (a row more on each
    // side, to whole pairs), with the neighbours from the whole picture. Where
    // `to` held this picture's conversion but for those rows, it then holds
    // exactly what convert() makes.
    static void convertBand(const uint8_t* bgrx, ptrdiff_t stride, int width, int height, const Target& to, int top,
                            int bottom)
    {
        convertBand(fastest(), bgrx, stride, width, height, to, top, bottom);
    }
    static void convertBand(Loop loop, const uint8_t* bgrx, ptrdiff_t stride, int width, int height,
                            const Target& to, int top, int bottom);

    // The formula for one colour, unrounded: what every sample is checked
    // against (chroma: of the weighed colour of its block).
    struct YCbCr {
        double y, cb, cr;
    };
    static YCbCr exact(double r, double g, double b);
    // The unrounded samples at pixel (x, y) of a picture: its luma, and the
    // chroma of the 2x2 block holding it.
    static YCbCr exactAt(const uint8_t* bgrx, ptrdiff_t stride, int width, int height, int x, int y);
};

} // namespace corvessa
