#include "engine/compositor/BubbleMask.h"
#include "engine/compositor/NV12Blender.h"
#include "engine/compositor/ShadowBlur.h"
#include "platform/ffmpeg/SwsScaler.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numeric>
#include <vector>

using namespace corvessa;

namespace {

PixelBufferRef frameOf(QRgb c, int w = 64, int h = 48)
{
    auto b = PixelBuffer::create(w, h, PixelFormat::NV12VideoRange);
    b->fill(uint8_t(qRed(c)), uint8_t(qGreen(c)), uint8_t(qBlue(c)));
    return b;
}

QImage layerOf(int w, int h, QRgb premultiplied)
{
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(premultiplied);
    return img;
}

int luma(const PixelBuffer& b, int x, int y)
{
    return b.baseAddress(0)[size_t(y) * b.bytesPerRow(0) + size_t(x)];
}

std::pair<int, int> chroma(const PixelBuffer& b, int x, int y)
{
    const uint8_t* p = b.baseAddress(1) + size_t(y / 2) * b.bytesPerRow(1) + size_t(x / 2) * 2;
    return {p[0], p[1]};
}

TEST(NV12Blender, OpaqueColoursMatchTheBufferFill)
{
    for (QRgb c : {qRgb(0, 0, 0), qRgb(255, 255, 255), qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255),
                   qRgb(12, 200, 99), qRgb(240, 128, 7)}) {
        auto filled = frameOf(c);
        const NV12Blender::YCbCr v = NV12Blender::toYCbCr(c);
        EXPECT_NEAR(v.y, luma(*filled, 0, 0), 1) << std::hex << c;
        EXPECT_NEAR(v.cb, chroma(*filled, 0, 0).first, 1) << std::hex << c;
        EXPECT_NEAR(v.cr, chroma(*filled, 0, 0).second, 1) << std::hex << c;
    }
}

TEST(NV12Blender, TransparentLeavesEveryByteAndHalfCoverMixes)
{
    auto b = frameOf(qRgb(200, 100, 50));
    const auto before = std::vector<uint8_t>(b->baseAddress(0), b->baseAddress(0) + b->bytesPerRow(0) * 48);
    NV12Blender::blend(NV12Planes::of(*b), layerOf(64, 48, 0), QPoint(0, 0));
    EXPECT_EQ(std::vector<uint8_t>(b->baseAddress(0), b->baseAddress(0) + b->bytesPerRow(0) * 48), before);

    // Black at half cover over white lands half way in video range.
    auto w = frameOf(qRgb(255, 255, 255));
    NV12Blender::blend(NV12Planes::of(*w), layerOf(64, 48, qRgba(0, 0, 0, 128)), QPoint(0, 0));
    EXPECT_NEAR(luma(*w, 10, 10), 16 + (235 - 16) * 127 / 255.0, 1);
    EXPECT_EQ(chroma(*w, 10, 10), std::make_pair(128, 128));
}

TEST(NV12Blender, OnlyTheLayerRectangleIsTouchedAtAnyAlignment)
{
    const NV12Blender::YCbCr red = NV12Blender::toYCbCr(qRgb(255, 0, 0));
    const NV12Blender::YCbCr grey = NV12Blender::toYCbCr(qRgb(128, 128, 128));
    // 19 x 5 at odd (3, 7): luma exact inside, untouched outside; runs and tails both used.
    for (QPoint at : {QPoint(3, 7), QPoint(2, 6), QPoint(-5, -3), QPoint(50, 45)}) {
        auto b = frameOf(qRgb(128, 128, 128));
        NV12Blender::blend(NV12Planes::of(*b), layerOf(19, 5, qRgb(255, 0, 0)), at);
        const QRect inside = QRect(at, QSize(19, 5)) & QRect(0, 0, 64, 48);
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x)
                ASSERT_EQ(luma(*b, x, y), inside.contains(x, y) ? red.y : grey.y) << x << "," << y << " at " << at.x();
        // A chroma block wholly inside is the layer's; one wholly outside is untouched.
        const QPoint mid = inside.center();
        const QPoint block(mid.x() & ~1, mid.y() & ~1);
        if (inside.contains(block) && inside.contains(block + QPoint(1, 1))) {
            EXPECT_EQ(chroma(*b, block.x(), block.y()), std::make_pair(int(red.cb), int(red.cr)));
        }
        EXPECT_EQ(chroma(*b, 62, 0), std::make_pair(int(grey.cb), int(grey.cr)));
    }
}

TEST(NV12Blender, MirrorKeepsChromaPairsTogether)
{
    auto b = frameOf(qRgb(0, 0, 0), 8, 2);
    NV12Blender::blend(NV12Planes::of(*b), layerOf(2, 2, qRgb(255, 0, 0)), QPoint(0, 0));
    const auto left = chroma(*b, 0, 0);
    NV12Blender::mirror(NV12Planes::of(*b));
    EXPECT_EQ(chroma(*b, 6, 0), left);
    EXPECT_EQ(luma(*b, 7, 1), NV12Blender::toYCbCr(qRgb(255, 0, 0)).y);
    EXPECT_EQ(luma(*b, 0, 0), 16);
}

TEST(ShadowBlur, SpreadsLikeTheGaussianAndKeepsTheAmount)
{
    for (double sigma : {1.0, 3.0, 7.0}) {
        const int n = 101;
        std::vector<uint8_t> plane(size_t(n) * n, 0);
        // A 3x3 block of full alpha in the middle.
        for (int y = 49; y <= 51; ++y)
            for (int x = 49; x <= 51; ++x)
                plane[size_t(y) * n + size_t(x)] = 255;
        ShadowBlur::blur(plane.data(), n, n, n, sigma);
        double sum = 0, var = 0;
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                const double v = plane[size_t(y) * n + size_t(x)];
                sum += v;
                var += v * (x - 50) * (x - 50);
            }
        EXPECT_NEAR(sum, 9 * 255, 9 * 255 * 0.06) << sigma;
        // The block itself has variance 2/3; the blur adds sigma^2.
        EXPECT_NEAR(std::sqrt(var / sum - 2.0 / 3), sigma, 0.12 * sigma + 0.2) << sigma;
    }
    std::vector<uint8_t> flat(16, 200);
    ShadowBlur::blur(flat.data(), 4, 4, 4, 0.2); // too small to do anything
    EXPECT_EQ(flat, std::vector<uint8_t>(16, 200));
}

TEST(BubbleMask, CircleRoundedRectAndRing)
{
    const BubbleMask circle = BubbleMask::make(60, 60, 0.5);
    EXPECT_EQ(circle.mask()[30 * 60 + 30], 255);
    EXPECT_EQ(circle.mask()[0], 0);
    EXPECT_EQ(circle.mask()[59 * 60 + 59], 0);
    EXPECT_EQ(qAlpha(circle.ring().pixel(30, 30)), 0);
    EXPECT_NEAR(qAlpha(circle.ring().pixel(0, 30)), 76, 12); // white at 30 % on the rim

    const BubbleMask rounded = BubbleMask::make(100, 50, 0.12);
    EXPECT_EQ(rounded.mask()[0], 0);                // a corner of radius 6 is cut
    EXPECT_EQ(rounded.mask()[25 * 100 + 0], 255);   // the straight side is not
    EXPECT_EQ(rounded.key(), (BubbleMask::Key{100, 50, 120}));
    // Bad and tiny inputs are made safe.
    EXPECT_EQ(BubbleMask::keyFor(3, 2, std::nan("")), (BubbleMask::Key{8, 8, 0}));
    EXPECT_EQ(BubbleMask::keyFor(10, 10, 9), (BubbleMask::Key{10, 10, 500}));
}

TEST(SwsScaler, ReusesItsContextUntilTheGeometryChanges)
{
    auto src = frameOf(qRgb(10, 200, 30), 64, 48);
    auto dst = frameOf(qRgb(0, 0, 0), 32, 24);
    SwsScaler scaler;
    EXPECT_TRUE(scaler.scale(SwsScaler::crop(*src, QRect(0, 0, 64, 48)), SwsScaler::of(NV12Planes::of(*dst))));
    EXPECT_TRUE(scaler.scale(SwsScaler::crop(*src, QRect(3, 5, 64, 48)), SwsScaler::of(NV12Planes::of(*dst))));
    EXPECT_EQ(scaler.contextsBuilt(), 2); // the clipped crop is another size
    EXPECT_TRUE(scaler.scale(SwsScaler::crop(*src, QRect(2, 2, 61, 43)), SwsScaler::of(NV12Planes::of(*dst))));
    EXPECT_EQ(scaler.contextsBuilt(), 2);
    EXPECT_NEAR(luma(*dst, 10, 10), luma(*src, 10, 10), 1);
    EXPECT_FALSE(scaler.scale(SwsScaler::crop(*src, QRect(100, 100, 5, 5)), SwsScaler::of(NV12Planes::of(*dst))));
}

// swscale's unscaled NV12 to NV12 path copies the luma only: a zoom that
// starts on the whole picture must keep its colours.
TEST(SwsScaler, KeepsTheChromaOfAnNV12PictureOfTheSameSize)
{
    auto src = frameOf(qRgb(96, 160, 160), 1152, 720);
    auto dst = frameOf(qRgb(0, 0, 0), 1152, 720);
    std::memset(dst->baseAddress(1), 0, size_t(dst->bytesPerRow(1)) * 360);
    SwsScaler scaler;
    ASSERT_TRUE(scaler.scale(SwsScaler::crop(*src, QRect(0, 0, 1152, 720)), SwsScaler::of(NV12Planes::of(*dst))));
    for (const QPoint p : {QPoint(0, 0), QPoint(575, 359), QPoint(1151, 719)}) {
        EXPECT_EQ(luma(*dst, p.x(), p.y()), luma(*src, p.x(), p.y()));
        EXPECT_EQ(chroma(*dst, p.x(), p.y()), chroma(*src, p.x(), p.y()));
    }
}

} // namespace
