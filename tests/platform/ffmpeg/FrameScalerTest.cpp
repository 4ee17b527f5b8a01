#include "platform/ffmpeg/FrameScaler.h"
#include "platform/ffmpeg/SwsScaler.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace corvessa;

namespace {

// A solid BGRX picture; the fourth byte is left 0, as the X server leaves it.
std::vector<uint8_t> solid(int w, int h, uint8_t r, uint8_t g, uint8_t b)
{
    std::vector<uint8_t> pixels(size_t(w) * size_t(h) * 4, 0);
    for (size_t i = 0; i < pixels.size(); i += 4) {
        pixels[i] = b;
        pixels[i + 1] = g;
        pixels[i + 2] = r;
    }
    return pixels;
}

uint8_t lumaAt(const PixelBuffer& b, int x, int y)
{
    return b.baseAddress(0)[size_t(y) * b.bytesPerRow(0) + size_t(x)];
}

std::pair<uint8_t, uint8_t> chromaAt(const PixelBuffer& b, int x, int y)
{
    const uint8_t* p = b.baseAddress(1) + size_t(y / 2) * b.bytesPerRow(1) + size_t(x / 2) * 2;
    return {p[0], p[1]};
}

} // namespace

TEST(FrameScaler, BgraKeepsColoursAndMakesAlphaOpaque)
{
    const auto src = solid(64, 32, 200, 100, 50);
    auto dst = PixelBuffer::create(64, 32, PixelFormat::BGRA);
    FrameScaler scaler;
    ASSERT_TRUE(scaler.scale(src.data(), 64, 32, 64 * 4, *dst));
    const uint8_t* p = dst->baseAddress(0) + 10 * dst->bytesPerRow(0) + 20 * 4;
    EXPECT_EQ(p[0], 50);
    EXPECT_EQ(p[1], 100);
    EXPECT_EQ(p[2], 200);
    EXPECT_EQ(p[3], 255);
}

TEST(FrameScaler, Nv12IsBt709VideoRange)
{
    struct Case {
        uint8_t r, g, b;
        int y, cb, cr;
    };
    // BT.709 video range: luma 16-235, chroma 16-240.
    for (const Case& c : {Case{255, 0, 0, 63, 102, 240}, Case{0, 255, 0, 173, 42, 26}, Case{0, 0, 255, 32, 240, 118},
                          Case{255, 255, 255, 235, 128, 128}, Case{0, 0, 0, 16, 128, 128}}) {
        const auto src = solid(32, 16, c.r, c.g, c.b);
        auto dst = PixelBuffer::create(32, 16, PixelFormat::NV12VideoRange);
        FrameScaler scaler;
        ASSERT_TRUE(scaler.scale(src.data(), 32, 16, 32 * 4, *dst));
        EXPECT_NEAR(lumaAt(*dst, 5, 5), c.y, 2) << int(c.r) << "," << int(c.g) << "," << int(c.b);
        const auto [cb, cr] = chromaAt(*dst, 6, 6);
        EXPECT_NEAR(cb, c.cb, 2);
        EXPECT_NEAR(cr, c.cr, 2);
    }
}

TEST(FrameScaler, ScalesToTheTargetAndHonoursTheSourceStride)
{
    // Left half red, right half blue, with 16 bytes of padding per row.
    const int w = 100;
    const int h = 50;
    const size_t stride = size_t(w) * 4 + 16;
    std::vector<uint8_t> src(stride * h, 0xee);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            uint8_t* p = src.data() + size_t(y) * stride + size_t(x) * 4;
            p[0] = x < w / 2 ? 0 : 255;
            p[1] = 0;
            p[2] = x < w / 2 ? 255 : 0;
            p[3] = 0;
        }
    }
    auto dst = PixelBuffer::create(50, 26, PixelFormat::BGRA);
    FrameScaler scaler;
    ASSERT_TRUE(scaler.scale(src.data(), w, h, stride, *dst));
    const uint8_t* left = dst->baseAddress(0) + 13 * dst->bytesPerRow(0) + 5 * 4;
    const uint8_t* right = dst->baseAddress(0) + 13 * dst->bytesPerRow(0) + 45 * 4;
    EXPECT_GT(left[2], 240);
    EXPECT_LT(left[0], 15);
    EXPECT_GT(right[0], 240);
    EXPECT_LT(right[2], 15);

    // The same scaler follows a change of sizes.
    auto bigger = PixelBuffer::create(200, 100, PixelFormat::BGRA);
    ASSERT_TRUE(scaler.scale(src.data(), w, h, stride, *bigger));
    EXPECT_GT(bigger->baseAddress(0)[50 * bigger->bytesPerRow(0) + 190 * 4], 240);
}

TEST(FrameScaler, AspectFitCentresThePictureWithBlackAround)
{
    const auto src = solid(200, 100, 255, 255, 255);
    auto dst = PixelBuffer::create(200, 200, PixelFormat::NV12VideoRange);
    dst->fill(255, 0, 0); // whatever the pool's last user left
    FrameScaler scaler;
    ASSERT_TRUE(scaler.scale(src.data(), 200, 100, 200 * 4, *dst, FrameScaler::Fit::AspectFit));
    EXPECT_NEAR(lumaAt(*dst, 100, 10), 16, 1);   // black above
    EXPECT_NEAR(lumaAt(*dst, 100, 100), 235, 1); // the picture
    EXPECT_NEAR(lumaAt(*dst, 100, 190), 16, 1);  // black below
    EXPECT_EQ(chromaAt(*dst, 100, 10), std::make_pair(uint8_t(128), uint8_t(128)));
}

TEST(FrameScaler, PlacementKeepsEvenEdgesAndIgnoresRoundingSteps)
{
    using Fit = FrameScaler::Fit;
    EXPECT_EQ(FrameScaler::placement(200, 100, QSize(200, 200), Fit::AspectFit), QRect(0, 50, 200, 100));
    EXPECT_EQ(FrameScaler::placement(200, 100, QSize(200, 200), Fit::Stretch), QRect(0, 0, 200, 200));
    // A window of 301 x 201 into its movie of 300 x 200: no black line for a pixel.
    EXPECT_EQ(FrameScaler::placement(301, 201, QSize(300, 200), Fit::AspectFit), QRect(0, 0, 300, 200));
    const QRect tall = FrameScaler::placement(100, 333, QSize(640, 360), Fit::AspectFit);
    EXPECT_EQ(tall.x() % 2, 0);
    EXPECT_EQ(tall.width() % 2, 0);
    EXPECT_EQ(tall.height(), 360);
    EXPECT_NEAR(tall.width(), 108, 2);
    EXPECT_NEAR(tall.center().x(), 320, 2);
}

// A display or area fills its movie when only rounding (odd sides, the short
// side brought down) set them apart; a display in another mode is letterboxed.
TEST(FrameScaler, OnlyRoundingCountsAsTheSameShape)
{
    struct Case {
        QSize picture;
        QSize movie;
        bool same;
    };
    const Case cases[] = {
        {{1280, 1024}, {1280, 1024}, true},
        {{1366, 768}, {1280, 720}, true},   // brought down to 720 lines, sides made even
        {{3841, 2161}, {1920, 1080}, true},
        {{321, 241}, {320, 240}, true},     // an area's odd sides
        {{1920, 1080}, {1280, 1024}, false}, // the display's new mode
        {{1280, 1024}, {1920, 1080}, false},
        {{1024, 768}, {1280, 720}, false},
        {{0, 768}, {1280, 720}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FrameScaler::sameShape(c.picture.width(), c.picture.height(), c.movie), c.same)
            << c.picture.width() << "x" << c.picture.height() << " into " << c.movie.width() << "x" << c.movie.height();
    }
}

TEST(FrameScaler, RefusesBadInput)
{
    auto dst = PixelBuffer::create(16, 16, PixelFormat::BGRA);
    FrameScaler scaler;
    const auto src = solid(16, 16, 1, 2, 3);
    EXPECT_FALSE(scaler.scale(nullptr, 16, 16, 64, *dst));
    EXPECT_FALSE(scaler.scale(src.data(), 0, 16, 64, *dst));
    EXPECT_FALSE(scaler.scale(src.data(), 16, 16, 32, *dst)); // stride shorter than a row
    EXPECT_TRUE(scaler.scale(src.data(), 16, 16, 64, *dst));
    // A one-pixel source still scales.
    EXPECT_TRUE(scaler.scale(src.data(), 1, 1, 4, *dst));
}

// The same-size NV12 conversion (our own loop) keeps the movie as swscale's
// bilinear conversion made it: every sample within one level, placed inside an
// aspect-fit frame too, with black beside it.
TEST(FrameScaler, SameSizeNv12MatchesSwscaleWithinOneLevel)
{
    std::mt19937 rng(5);
    const int w = 66;
    const int h = 38;
    std::vector<uint8_t> src(size_t(w) * h * 4);
    for (uint8_t& b : src)
        b = uint8_t(rng());
    SwsScaler::Picture from;
    from.format = SwsScaler::Format::BGRX;
    from.width = w;
    from.height = h;
    from.data[0] = src.data();
    from.stride[0] = w * 4;
    for (const QSize target : {QSize(w, h), QSize(w + 10, h)}) {
        auto ours = PixelBuffer::create(target.width(), target.height(), PixelFormat::NV12VideoRange);
        auto theirs = PixelBuffer::create(target.width(), target.height(), PixelFormat::NV12VideoRange);
        ours->fill(255, 0, 0); // a recycled buffer: the bands beside the picture turn black
        FrameScaler scaler;
        ASSERT_TRUE(scaler.scale(src.data(), w, h, size_t(w) * 4, *ours, FrameScaler::Fit::AspectFit));
        const QRect place = FrameScaler::placement(w, h, target, FrameScaler::Fit::AspectFit);
        ASSERT_EQ(place.size(), QSize(w, h));
        SwsScaler sws;
        ASSERT_TRUE(sws.scale(from, SwsScaler::crop(*theirs, place)));
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < target.width(); ++x) {
                if (place.contains(x, y))
                    continue;
                ASSERT_EQ(lumaAt(*ours, x, y), 16) << x << "," << y;
                ASSERT_EQ(chromaAt(*ours, x, y), std::make_pair(uint8_t(128), uint8_t(128))) << x << "," << y;
            }
            for (int x = 0; x < w; ++x) {
                const QPoint at = place.topLeft() + QPoint(x, y);
                ASSERT_LE(std::abs(lumaAt(*ours, at.x(), at.y()) - lumaAt(*theirs, at.x(), at.y())), 1) << x << "," << y;
                const auto [cb, cr] = chromaAt(*ours, at.x(), at.y());
                const auto [swsCb, swsCr] = chromaAt(*theirs, at.x(), at.y());
                ASSERT_LE(std::abs(cb - swsCb), 1) << x << "," << y;
                ASSERT_LE(std::abs(cr - swsCr), 1) << x << "," << y;
            }
        }
    }
}
