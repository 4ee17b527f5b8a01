#include "capture/OwnedPixels.h"

#include "platform/core/PixelBufferPool.h"

#include <gtest/gtest.h>

#include <cstdint>

using namespace corvessa;

namespace {

// Fills every byte of every plane, padding included, with a pattern that differs
// per plane, row and column, so a misplaced or missing byte shows.
void paint(PixelBuffer& b)
{
    for (size_t p = 0; p < b.planeCount(); ++p) {
        const auto& plane = b.plane(p);
        for (int y = 0; y < plane.height; ++y) {
            for (size_t x = 0; x < plane.bytesPerRow; ++x)
                plane.data[size_t(y) * plane.bytesPerRow + x] = uint8_t(1 + p * 101 + size_t(y) * 31 + x * 7);
        }
    }
}

// Bytes per row of visible samples.
size_t visibleRowBytes(const PixelBuffer& b, size_t plane)
{
    const size_t perSample = b.format() == PixelFormat::BGRA ? 4 : plane == 0 ? 1 : 2;
    return size_t(b.plane(plane).width) * perSample;
}

// The visible samples of both buffers are equal plane by plane.
void expectSamePixels(const PixelBuffer& a, const PixelBuffer& b)
{
    ASSERT_EQ(a.planeCount(), b.planeCount());
    for (size_t p = 0; p < a.planeCount(); ++p) {
        ASSERT_EQ(a.plane(p).height, b.plane(p).height);
        for (int y = 0; y < a.plane(p).height; ++y) {
            for (size_t x = 0; x < visibleRowBytes(a, p); ++x) {
                ASSERT_EQ(a.plane(p).data[size_t(y) * a.bytesPerRow(p) + x], b.plane(p).data[size_t(y) * b.bytesPerRow(p) + x])
                    << "plane " << p << " row " << y << " byte " << x;
            }
        }
    }
}

} // namespace

TEST(OwnedPixels, BytesCountRowPadding)
{
    auto bgra = PixelBuffer::create(100, 3, PixelFormat::BGRA, 64);
    ASSERT_TRUE(bgra);
    EXPECT_EQ(OwnedPixels::bytes(*bgra), 448u * 3); // not 400 * 3

    auto tight = PixelBuffer::create(100, 3, PixelFormat::BGRA, 1);
    EXPECT_EQ(OwnedPixels::bytes(*tight), 400u * 3);

    auto nv12 = PixelBuffer::create(10, 4, PixelFormat::NV12VideoRange, 16);
    ASSERT_TRUE(nv12);
    EXPECT_EQ(OwnedPixels::bytes(*nv12), 16u * 4 + 16u * 2); // luma + chroma

    auto hd = PixelBuffer::create(1920, 1080, PixelFormat::NV12VideoRange);
    EXPECT_EQ(OwnedPixels::bytes(*hd), 1920u * 1080 * 3 / 2);
}

TEST(OwnedPixels, CopyFromWiderRowsTakesTheDestinationRowLength)
{
    // Source rows of 512 bytes, destination rows (default alignment) of 448.
    auto source = PixelBuffer::create(100, 5, PixelFormat::BGRA, 256);
    ASSERT_TRUE(source);
    ASSERT_EQ(source->bytesPerRow(), 512u);
    paint(*source);

    auto copy = OwnedPixels::copy(*source);
    ASSERT_TRUE(copy);
    EXPECT_NE(copy.get(), source.get());
    EXPECT_EQ(copy->width(), 100);
    EXPECT_EQ(copy->height(), 5);
    EXPECT_EQ(copy->format(), PixelFormat::BGRA);
    EXPECT_EQ(copy->rowAlignment(), 64u);
    ASSERT_EQ(copy->bytesPerRow(), 448u);
    expectSamePixels(*source, *copy);

    // Each destination row holds the first 448 bytes of its source row, no more.
    for (int y = 0; y < 5; ++y) {
        for (size_t x = 0; x < 448; ++x)
            ASSERT_EQ(copy->baseAddress()[size_t(y) * 448 + x], source->baseAddress()[size_t(y) * 512 + x]);
    }
}

TEST(OwnedPixels, CopyFromNarrowerRowsLeavesTheRestOfEachRow)
{
    // Source rows of 400 bytes, destination rows of 448.
    auto source = PixelBuffer::create(100, 5, PixelFormat::BGRA, 1);
    ASSERT_TRUE(source);
    paint(*source);

    auto copy = OwnedPixels::copy(*source);
    ASSERT_TRUE(copy);
    ASSERT_EQ(copy->bytesPerRow(), 448u);
    expectSamePixels(*source, *copy);
    // Reading 448 bytes per source row would drag the next row's start into the padding.
    for (int y = 0; y < 5; ++y) {
        for (size_t x = 400; x < 448; ++x)
            ASSERT_EQ(copy->baseAddress()[size_t(y) * 448 + x], 0) << "row " << y << " byte " << x;
    }
}

TEST(OwnedPixels, CopiesBothNv12Planes)
{
    auto source = PixelBuffer::create(38, 6, PixelFormat::NV12VideoRange, 128);
    ASSERT_TRUE(source);
    paint(*source);

    auto copy = OwnedPixels::copy(*source);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->format(), PixelFormat::NV12VideoRange);
    ASSERT_EQ(copy->planeCount(), 2u);
    EXPECT_EQ(copy->plane(1).width, 19);
    EXPECT_EQ(copy->plane(1).height, 3);
    EXPECT_EQ(copy->bytesPerRow(0), 64u);
    expectSamePixels(*source, *copy);

    // The copy owns its memory: later writes to the source do not reach it.
    source->fill(255, 255, 255);
    EXPECT_NE(copy->baseAddress(0)[0], 235);
    EXPECT_NE(copy->baseAddress(1)[0], 128);
}

TEST(OwnedPixels, CopiesOnlyPropagatingAttachments)
{
    auto pool = PixelBufferPool::create(16, 16, PixelFormat::BGRA);
    auto source = pool->take();
    ASSERT_TRUE(source);
    source->fill(1, 2, 3);
    source->setAttachment(PixelAttachmentKey::ColorPrimaries, QStringLiteral("ITU_R_709_2"));
    source->setAttachment(PixelAttachmentKey::TransferFunction, QStringLiteral("ITU_R_709_2"), true);
    source->setAttachment(PixelAttachmentKey::FrameStatus, 3, false);

    auto copy = OwnedPixels::copy(*source);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->attachments().size(), 2u);
    EXPECT_EQ(copy->attachment(PixelAttachmentKey::ColorPrimaries).toString(), "ITU_R_709_2");
    EXPECT_EQ(copy->attachment(PixelAttachmentKey::TransferFunction).toString(), "ITU_R_709_2");
    EXPECT_FALSE(copy->attachment(PixelAttachmentKey::FrameStatus).isValid());
    EXPECT_EQ(copy->propagatingAttachments().size(), 2u); // still propagate from the copy

    // The copy survives the pooled source going back to its pool.
    source.reset();
    EXPECT_EQ(pool->idleCount(), 1u);
    EXPECT_EQ(copy->baseAddress()[0], 3);
}
