#include "platform/core/NV12Converter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

using namespace corvessa;

namespace {

constexpr uint8_t kCanary = 0xA5;
constexpr int kPadding = 40; // bytes after each row, in source and target

struct Picture {
    int width, height;
    ptrdiff_t stride;
    std::vector<uint8_t> pixels;
};

Picture randomPicture(int width, int height, std::mt19937& rng)
{
    Picture p{width, height, ptrdiff_t(width) * 4 + kPadding, {}};
    p.pixels.resize(size_t(p.stride) * size_t(height));
    for (uint8_t& b : p.pixels)
        b = uint8_t(rng());
    return p;
}

struct Output {
    int yStride, uvStride;
    std::vector<uint8_t> y, uv;

    Output(int width, int height)
        : yStride(width + kPadding), uvStride((width + 1) / 2 * 2 + kPadding),
          y(size_t(yStride) * size_t(height), kCanary), uv(size_t(uvStride) * size_t((height + 1) / 2), kCanary)
    {
    }
    NV12Converter::Target target() { return {y.data(), yStride, uv.data(), uvStride}; }
};

Output convert(NV12Converter::Loop loop, const Picture& p)
{
    Output out(p.width, p.height);
    NV12Converter::convert(loop, p.pixels.data(), p.stride, p.width, p.height, out.target());
    return out;
}

} // namespace

// Every sample of the plain loop is within one level of the formula, on random
// pictures of odd and even sizes (edges, the last odd row and column), and the
// vector loops write the same bytes and nothing past a row's end.
TEST(NV12Converter, EveryLoopMatchesTheFormulaWithinOneLevel)
{
    std::mt19937 rng(31);
    const int sizes[][2] = {{1, 1}, {2, 2}, {3, 5}, {16, 2}, {17, 9}, {31, 4}, {32, 3}, {33, 7}, {64, 31}, {95, 2},
                            {130, 17}};
    for (const auto& size : sizes) {
        const Picture p = randomPicture(size[0], size[1], rng);
        SCOPED_TRACE(testing::Message() << p.width << "x" << p.height);
        const Output reference = convert(NV12Converter::Loop::plain, p);
        for (int y = 0; y < p.height; ++y) {
            for (int x = 0; x < p.width; ++x) {
                const auto e = NV12Converter::exactAt(p.pixels.data(), p.stride, p.width, p.height, x, y);
                ASSERT_LE(std::abs(reference.y[size_t(y * reference.yStride + x)] - e.y), 1.0) << x << "," << y;
                const size_t c = size_t((y / 2) * reference.uvStride + (x & ~1));
                ASSERT_LE(std::abs(reference.uv[c] - e.cb), 1.0) << x << "," << y;
                ASSERT_LE(std::abs(reference.uv[c + 1] - e.cr), 1.0) << x << "," << y;
            }
            for (int x = p.width; x < reference.yStride; ++x)
                ASSERT_EQ(reference.y[size_t(y * reference.yStride + x)], kCanary);
        }
        for (int y = 0; y < (p.height + 1) / 2; ++y)
            for (int x = (p.width + 1) / 2 * 2; x < reference.uvStride; ++x)
                ASSERT_EQ(reference.uv[size_t(y * reference.uvStride + x)], kCanary);
        for (const auto loop : {NV12Converter::Loop::sse2, NV12Converter::Loop::avx2}) {
            if (!NV12Converter::available(loop))
                continue;
            const Output fast = convert(loop, p);
            EXPECT_EQ(fast.y, reference.y) << "loop " << int(loop);
            EXPECT_EQ(fast.uv, reference.uv) << "loop " << int(loop);
        }
    }
}

TEST(NV12Converter, ColoursOfNoteAndNonsenseInput)
{
    // Black, white and the primaries land on the video-range values.
    struct Case {
        uint8_t r, g, b;
        int y, cb, cr;
    };
    for (const Case& c : {Case{0, 0, 0, 16, 128, 128}, Case{255, 255, 255, 235, 128, 128},
                          Case{255, 0, 0, 63, 102, 240}, Case{0, 0, 255, 32, 240, 118}}) {
        Picture p{40, 4, 160, std::vector<uint8_t>(640)};
        for (size_t i = 0; i < p.pixels.size(); i += 4) {
            p.pixels[i] = c.b;
            p.pixels[i + 1] = c.g;
            p.pixels[i + 2] = c.r;
        }
        const Output out = convert(NV12Converter::fastest(), p);
        EXPECT_EQ(out.y[0], c.y);
        EXPECT_EQ(out.y[size_t(3 * out.yStride + 39)], c.y);
        EXPECT_EQ(out.uv[0], c.cb);
        EXPECT_EQ(out.uv[1], c.cr);
    }
    // No picture, no size or no target: nothing is written.
    Output out(4, 4);
    const std::vector<uint8_t> pixels(64, 255);
    NV12Converter::convert(nullptr, 16, 4, 4, out.target());
    NV12Converter::convert(pixels.data(), 16, 0, 4, out.target());
    NV12Converter::convert(pixels.data(), 16, 4, -2, out.target());
    NV12Converter::convert(pixels.data(), 16, 4, 4, {});
    EXPECT_EQ(out.y, std::vector<uint8_t>(out.y.size(), kCanary));
    EXPECT_EQ(out.uv, std::vector<uint8_t>(out.uv.size(), kCanary));
}

// A picture whose rows [top, bottom) changed: converting only those rows over the
// old picture's output gives the new picture's full conversion, byte for byte,
// at the edges, on odd sizes and for bands that reach outside the picture.
TEST(NV12Converter, ConvertingTheChangedRowsGivesTheWholeConversion)
{
    std::mt19937 rng(27);
    struct Band {
        int width, height, top, bottom;
    };
    for (const Band& b : {Band{33, 17, 0, 1}, Band{33, 17, 16, 17}, Band{33, 17, 5, 6}, Band{33, 17, 4, 9},
                          Band{64, 31, 7, 8}, Band{64, 31, 30, 31}, Band{64, 31, -5, 3}, Band{64, 31, 29, 90},
                          Band{130, 2, 1, 2}, Band{130, 40, 11, 11}, Band{3, 5, 2, 4}}) {
        SCOPED_TRACE(testing::Message() << b.width << "x" << b.height << " rows " << b.top << "-" << b.bottom);
        Picture p = randomPicture(b.width, b.height, rng);
        for (const auto loop : {NV12Converter::Loop::plain, NV12Converter::fastest()}) {
            Output out = convert(loop, p);
            Picture changed = p;
            for (int y = std::max(0, b.top); y < std::min(b.height, b.bottom); ++y)
                for (int x = 0; x < b.width * 4; ++x)
                    changed.pixels[size_t(y * changed.stride + x)] = uint8_t(rng());
            NV12Converter::convertBand(loop, changed.pixels.data(), changed.stride, b.width, b.height, out.target(),
                                       b.top, b.bottom);
            const Output whole = convert(loop, changed);
            EXPECT_EQ(out.y, whole.y) << "loop " << int(loop);
            EXPECT_EQ(out.uv, whole.uv) << "loop " << int(loop);
        }
    }
}
