#include "capture/CameraMirror.h"

#include <gtest/gtest.h>

#include <vector>

using namespace corvessa;

namespace {

// Every sample of every plane gets a value that depends on its plane, row and
// column (and byte within the sample), so any misplaced byte shows.
uint8_t pattern(size_t plane, int y, size_t byte)
{
    return uint8_t(7 + plane * 97 + size_t(y) * 31 + byte * 13);
}

PixelBufferRef patterned(int width, int height, PixelFormat format, size_t alignment = 64)
{
    auto b = PixelBuffer::create(width, height, format, alignment);
    for (size_t p = 0; p < b->planeCount(); ++p) {
        const auto& plane = b->plane(p);
        for (int y = 0; y < plane.height; ++y)
            for (size_t x = 0; x < plane.bytesPerRow; ++x)
                plane.data[size_t(y) * plane.bytesPerRow + x] = pattern(p, y, x);
    }
    return b;
}

size_t sampleSize(const PixelBuffer& b, size_t plane)
{
    return b.format() == PixelFormat::BGRA ? 4 : plane == 0 ? 1 : 2;
}

// Output sample x of each row equals input sample (width - 1 - x), bytes in order.
void expectMirrored(const PixelBuffer& in, const PixelBuffer& out)
{
    ASSERT_EQ(in.width(), out.width());
    ASSERT_EQ(in.height(), out.height());
    ASSERT_EQ(in.format(), out.format());
    for (size_t p = 0; p < in.planeCount(); ++p) {
        const auto& a = in.plane(p);
        const auto& b = out.plane(p);
        const size_t size = sampleSize(in, p);
        for (int y = 0; y < a.height; ++y) {
            for (int x = 0; x < a.width; ++x) {
                for (size_t k = 0; k < size; ++k) {
                    const uint8_t expected = a.data[size_t(y) * a.bytesPerRow + size_t(a.width - 1 - x) * size + k];
                    ASSERT_EQ(b.data[size_t(y) * b.bytesPerRow + size_t(x) * size + k], expected)
                        << "plane " << p << " row " << y << " sample " << x << " byte " << k;
                }
            }
        }
    }
}

SampleBuffer sampleOf(PixelBufferRef pixels, MediaTime pts = MediaTime(1001, 30000), MediaTime duration = MediaTime(1001, 30000))
{
    return SampleBuffer::video(std::move(pixels), pts, duration);
}

} // namespace

TEST(CameraMirror, FlipsOddSizedBgraWithUnalignedRows)
{
    for (size_t alignment : {size_t(1), size_t(64)}) {
        auto in = patterned(5, 3, PixelFormat::BGRA, alignment);
        CameraMirror mirror;
        const auto out = mirror.sample(sampleOf(in));
        ASSERT_TRUE(out);
        expectMirrored(*in, *out->imageBuffer());
    }
    auto single = patterned(1, 1, PixelFormat::BGRA);
    CameraMirror mirror;
    expectMirrored(*single, *mirror.sample(sampleOf(single))->imageBuffer());
}

TEST(CameraMirror, LeftmostColumnBecomesRightmostAt720p)
{
    auto in = PixelBuffer::create(1280, 720, PixelFormat::BGRA);
    for (int y = 0; y < 720; ++y) {
        uint8_t* row = in->baseAddress() + size_t(y) * in->bytesPerRow();
        row[0] = 0x11; row[1] = 0x22; row[2] = 0x33; row[3] = 0xFF; // leftmost pixel
    }
    CameraMirror mirror;
    const auto out = mirror.sample(sampleOf(in));
    ASSERT_TRUE(out);
    const auto& o = *out->imageBuffer();
    ASSERT_EQ(o.width(), 1280);
    ASSERT_EQ(o.height(), 720);
    EXPECT_EQ(o.format(), PixelFormat::BGRA);
    for (int y : {0, 359, 719}) {
        const uint8_t* row = o.baseAddress() + size_t(y) * o.bytesPerRow();
        EXPECT_EQ(row[1279 * 4 + 0], 0x11);
        EXPECT_EQ(row[1279 * 4 + 1], 0x22);
        EXPECT_EQ(row[1279 * 4 + 2], 0x33);
        EXPECT_EQ(row[1279 * 4 + 3], 0xFF);
        EXPECT_EQ(row[0], 0);
    }
}

TEST(CameraMirror, FlipsBothNv12PlanesKeepingChromaPairsTogether)
{
    auto in = patterned(6, 4, PixelFormat::NV12VideoRange, 1);
    CameraMirror mirror;
    const auto out = mirror.sample(sampleOf(in));
    ASSERT_TRUE(out);
    const auto& o = *out->imageBuffer();
    EXPECT_EQ(o.format(), PixelFormat::NV12VideoRange);
    expectMirrored(*in, o);
    // Spelled out for one chroma row: pairs (Cb, Cr) reversed as units, not bytes.
    const uint8_t* src = in->baseAddress(1);
    const uint8_t* dst = o.baseAddress(1);
    EXPECT_EQ(dst[0], src[4]);
    EXPECT_EQ(dst[1], src[5]);
    EXPECT_EQ(dst[4], src[0]);
    EXPECT_EQ(dst[5], src[1]);
}

TEST(CameraMirror, KeepsTimingAndPropagatingAttachments)
{
    auto in = patterned(4, 2, PixelFormat::BGRA);
    in->setAttachment(PixelAttachmentKey::ColorPrimaries, QStringLiteral("ITU_R_709_2"), true);
    in->setAttachment(QStringLiteral("private"), 5, false);
    CameraMirror mirror;
    const auto out = mirror.sample(sampleOf(in, MediaTime(123456789, 1000000000), MediaTime(1, 30)));
    ASSERT_TRUE(out);
    EXPECT_EQ(out->presentationTime(), MediaTime(123456789, 1000000000));
    EXPECT_EQ(out->duration(), MediaTime(1, 30));
    EXPECT_EQ(out->imageBuffer()->attachment(PixelAttachmentKey::ColorPrimaries).toString(), QStringLiteral("ITU_R_709_2"));
    EXPECT_FALSE(out->imageBuffer()->attachment(QStringLiteral("private")).isValid());
}

TEST(CameraMirror, ASampleWithoutAPictureGivesNothing)
{
    CameraMirror mirror;
    EXPECT_FALSE(mirror.sample(SampleBuffer::audio(AudioFormat::floatFormat(48000, 2), 480, MediaTime(0, 1))));
    EXPECT_FALSE(mirror.sample(SampleBuffer()));
}

TEST(CameraMirror, RebuildsItsPoolOncePerSizeChange)
{
    CameraMirror mirror;
    auto small = patterned(1280, 720, PixelFormat::BGRA);
    auto large = patterned(1920, 1080, PixelFormat::BGRA);
    ASSERT_TRUE(mirror.sample(sampleOf(small)));
    ASSERT_TRUE(mirror.sample(sampleOf(small)));
    EXPECT_EQ(mirror.poolsMade(), 1);
    for (int i = 0; i < 3; ++i) {
        const auto out = mirror.sample(sampleOf(large));
        ASSERT_TRUE(out);
        EXPECT_EQ(out->imageBuffer()->width(), 1920);
    }
    EXPECT_EQ(mirror.poolsMade(), 2);
    // A change of pixel format is a new pool too.
    ASSERT_TRUE(mirror.sample(sampleOf(patterned(1920, 1080, PixelFormat::NV12VideoRange))));
    EXPECT_EQ(mirror.poolsMade(), 3);
}

TEST(CameraMirror, DropsFramesWhileSixAreStillHeld)
{
    CameraMirror mirror;
    auto in = patterned(8, 8, PixelFormat::BGRA);
    std::vector<SampleBuffer> held;
    for (int i = 0; i < CameraMirror::kMaxInUse; ++i) {
        auto out = mirror.sample(sampleOf(in));
        ASSERT_TRUE(out) << i;
        held.push_back(*out);
    }
    EXPECT_FALSE(mirror.sample(sampleOf(in)));

    held.erase(held.begin());
    const auto again = mirror.sample(sampleOf(in));
    ASSERT_TRUE(again);
    expectMirrored(*in, *again->imageBuffer()); // a recycled buffer is fully rewritten
    EXPECT_FALSE(mirror.sample(sampleOf(in)));

    // Pictures of an earlier size do not count against the new pool.
    EXPECT_TRUE(mirror.sample(sampleOf(patterned(10, 8, PixelFormat::BGRA))));
}

TEST(CameraMirror, FlipRejectsMismatchedTargets)
{
    auto a = patterned(4, 4, PixelFormat::BGRA);
    auto b = PixelBuffer::create(4, 2, PixelFormat::BGRA);
    auto c = PixelBuffer::create(4, 4, PixelFormat::NV12VideoRange);
    EXPECT_FALSE(CameraMirror::flip(*a, *b));
    EXPECT_FALSE(CameraMirror::flip(*a, *c));
    EXPECT_FALSE(CameraMirror::flip(*a, *a));
}
