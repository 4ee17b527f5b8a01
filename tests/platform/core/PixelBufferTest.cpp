#include "platform/core/PixelBuffer.h"
#include "platform/core/PixelBufferPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <thread>
#include <vector>

using namespace corvessa;

namespace {

bool aligned(const void* p, size_t alignment)
{
    return reinterpret_cast<uintptr_t>(p) % alignment == 0;
}

// Every byte of a plane, padding included, equals `value`.
bool planeIsAll(const PixelBuffer& b, size_t plane, uint8_t value)
{
    const auto& p = b.plane(plane);
    for (size_t i = 0; i < p.bytesPerRow * size_t(p.height); ++i) {
        if (p.data[i] != value)
            return false;
    }
    return true;
}

} // namespace

TEST(PixelBuffer, BgraLayoutPadsRowsToTheAlignment)
{
    auto b = PixelBuffer::create(100, 3, PixelFormat::BGRA, 64);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->width(), 100);
    EXPECT_EQ(b->height(), 3);
    EXPECT_EQ(b->format(), PixelFormat::BGRA);
    EXPECT_FALSE(b->isPlanar());
    ASSERT_EQ(b->planeCount(), 1u);
    EXPECT_EQ(b->bytesPerRow(), 448u); // 400 rounded up to 64
    EXPECT_EQ(b->plane(0).width, 100);
    EXPECT_EQ(b->plane(0).height, 3);
    EXPECT_EQ(b->rowAlignment(), 64u);
    for (int y = 0; y < 3; ++y)
        EXPECT_TRUE(aligned(b->baseAddress() + size_t(y) * b->bytesPerRow(), 64));
    EXPECT_TRUE(planeIsAll(*b, 0, 0));

    auto tight = PixelBuffer::create(100, 3, PixelFormat::BGRA, 1);
    ASSERT_TRUE(tight);
    EXPECT_EQ(tight->bytesPerRow(), 400u);

    auto wide = PixelBuffer::create(100, 3, PixelFormat::BGRA, 4096);
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->bytesPerRow(), 4096u);
    EXPECT_TRUE(aligned(wide->baseAddress(), 4096));
}

TEST(PixelBuffer, Nv12HasFullLumaAndHalfChromaPlanes)
{
    auto b = PixelBuffer::create(10, 4, PixelFormat::NV12VideoRange, 16);
    ASSERT_TRUE(b);
    EXPECT_TRUE(b->isPlanar());
    ASSERT_EQ(b->planeCount(), 2u);

    const auto& luma = b->plane(0);
    EXPECT_EQ(luma.width, 10);
    EXPECT_EQ(luma.height, 4);
    EXPECT_EQ(luma.bytesPerRow, 16u);

    const auto& chroma = b->plane(1);
    EXPECT_EQ(chroma.width, 5); // CbCr pairs
    EXPECT_EQ(chroma.height, 2);
    EXPECT_EQ(chroma.bytesPerRow, 16u); // 5 pairs x 2 bytes, padded

    // Planes are aligned and do not overlap.
    EXPECT_TRUE(aligned(luma.data, 16));
    EXPECT_TRUE(aligned(chroma.data, 16));
    EXPECT_GE(chroma.data, luma.data + luma.bytesPerRow * size_t(luma.height));
    EXPECT_TRUE(planeIsAll(*b, 0, 0));
    EXPECT_TRUE(planeIsAll(*b, 1, 0));

    auto big = PixelBuffer::create(1920, 1080, PixelFormat::NV12VideoRange);
    ASSERT_TRUE(big);
    EXPECT_EQ(big->plane(1).width, 960);
    EXPECT_EQ(big->plane(1).height, 540);
    EXPECT_EQ(big->bytesPerRow(1), 1920u);
}

TEST(PixelBuffer, RejectsBadSizesAndAlignments)
{
    EXPECT_FALSE(PixelBuffer::create(0, 10, PixelFormat::BGRA));
    EXPECT_FALSE(PixelBuffer::create(10, -1, PixelFormat::BGRA));
    EXPECT_FALSE(PixelBuffer::create(11, 10, PixelFormat::NV12VideoRange));
    EXPECT_FALSE(PixelBuffer::create(10, 11, PixelFormat::NV12VideoRange));
    EXPECT_TRUE(PixelBuffer::create(11, 11, PixelFormat::BGRA)); // odd sizes are fine for BGRA
    EXPECT_FALSE(PixelBuffer::create(10, 10, PixelFormat::BGRA, 0));
    EXPECT_FALSE(PixelBuffer::create(10, 10, PixelFormat::BGRA, 48));

    // Sizes whose byte count overflows or cannot be addressed fail cleanly.
    EXPECT_FALSE(PixelBuffer::create(INT_MAX, INT_MAX, PixelFormat::BGRA));
    EXPECT_FALSE(PixelBuffer::create(INT_MAX - 1, INT_MAX - 1, PixelFormat::NV12VideoRange, size_t(1) << 40));
    EXPECT_FALSE(PixelBuffer::create(100, 3, PixelFormat::BGRA, size_t(1) << 62));
    EXPECT_FALSE(PixelBuffer::create(100, 3, PixelFormat::BGRA, size_t(1) << 63));
}

TEST(PixelBuffer, FillBgraWritesPixelsAndLeavesPadding)
{
    auto b = PixelBuffer::create(3, 2, PixelFormat::BGRA, 64);
    ASSERT_TRUE(b);
    b->fill(10, 20, 30, 40);
    for (int y = 0; y < 2; ++y) {
        const uint8_t* row = b->baseAddress() + size_t(y) * b->bytesPerRow();
        for (int x = 0; x < 3; ++x) {
            EXPECT_EQ(row[x * 4 + 0], 30); // B
            EXPECT_EQ(row[x * 4 + 1], 20); // G
            EXPECT_EQ(row[x * 4 + 2], 10); // R
            EXPECT_EQ(row[x * 4 + 3], 40); // A
        }
        for (size_t i = 12; i < b->bytesPerRow(); ++i)
            ASSERT_EQ(row[i], 0) << "padding byte " << i;
    }
}

TEST(PixelBuffer, FillNv12UsesBt709VideoRange)
{
    struct Case {
        uint8_t r, g, b;
        uint8_t y, cb, cr;
    };
    const Case cases[] = {
        {255, 255, 255, 235, 128, 128}, // white
        {0, 0, 0, 16, 128, 128},        // black
        {255, 0, 0, 63, 102, 240},      // red
        {0, 0, 255, 32, 240, 118},      // blue
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.r) << "," << int(c.g) << "," << int(c.b));
        auto b = PixelBuffer::create(6, 4, PixelFormat::NV12VideoRange, 16);
        ASSERT_TRUE(b);
        b->fill(c.r, c.g, c.b);
        const auto& luma = b->plane(0);
        for (int y = 0; y < luma.height; ++y) {
            const uint8_t* row = luma.data + size_t(y) * luma.bytesPerRow;
            for (int x = 0; x < luma.width; ++x)
                ASSERT_EQ(row[x], c.y);
            EXPECT_EQ(row[luma.width], 0); // padding untouched
        }
        const auto& chroma = b->plane(1);
        for (int y = 0; y < chroma.height; ++y) {
            const uint8_t* row = chroma.data + size_t(y) * chroma.bytesPerRow;
            for (int x = 0; x < chroma.width; ++x) {
                ASSERT_EQ(row[x * 2], c.cb);
                ASSERT_EQ(row[x * 2 + 1], c.cr);
            }
            EXPECT_EQ(row[chroma.width * 2], 0);
        }
    }
}

TEST(PixelBuffer, Attachments)
{
    auto b = PixelBuffer::create(2, 2, PixelFormat::BGRA);
    ASSERT_TRUE(b);
    EXPECT_FALSE(b->attachment(PixelAttachmentKey::FrameStatus).isValid());

    b->setAttachment(PixelAttachmentKey::FrameStatus, 1, false);
    b->setAttachment(PixelAttachmentKey::ColorPrimaries, QStringLiteral("ITU_R_709_2"));
    b->setAttachment(PixelAttachmentKey::YCbCrMatrix, QStringLiteral("ITU_R_709_2"));
    EXPECT_EQ(b->attachment(PixelAttachmentKey::FrameStatus).toInt(), 1);
    EXPECT_EQ(b->attachments().size(), 3u);

    auto propagating = b->propagatingAttachments();
    EXPECT_EQ(propagating.size(), 2u);
    EXPECT_FALSE(propagating.count(PixelAttachmentKey::FrameStatus));
    EXPECT_EQ(propagating.at(PixelAttachmentKey::ColorPrimaries).value.toString(), "ITU_R_709_2");

    // Setting again replaces both the value and the propagation mode.
    b->setAttachment(PixelAttachmentKey::FrameStatus, 2, true);
    EXPECT_EQ(b->attachment(PixelAttachmentKey::FrameStatus).toInt(), 2);
    EXPECT_EQ(b->propagatingAttachments().size(), 3u);

    b->removeAttachment(PixelAttachmentKey::ColorPrimaries);
    b->removeAttachment(QStringLiteral("absent"));
    EXPECT_FALSE(b->attachment(PixelAttachmentKey::ColorPrimaries).isValid());
    EXPECT_EQ(b->attachments().size(), 2u);

    b->clearAttachments();
    EXPECT_TRUE(b->attachments().empty());
}

TEST(PixelBufferPool, RejectsSizesNoBufferCanHave)
{
    EXPECT_FALSE(PixelBufferPool::create(0, 10, PixelFormat::BGRA));
    EXPECT_FALSE(PixelBufferPool::create(11, 10, PixelFormat::NV12VideoRange));
}

TEST(PixelBufferPool, RecyclesReleasedBuffers)
{
    auto pool = PixelBufferPool::create(64, 32, PixelFormat::NV12VideoRange, 2);
    ASSERT_TRUE(pool);

    auto first = pool->take();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->width(), 64);
    EXPECT_EQ(first->height(), 32);
    EXPECT_EQ(first->format(), PixelFormat::NV12VideoRange);
    EXPECT_EQ(pool->allocatedCount(), 1u);
    EXPECT_EQ(pool->idleCount(), 0u);

    PixelBuffer* raw = first.get();
    first->setAttachment(PixelAttachmentKey::FrameStatus, 7);
    first.reset();
    EXPECT_EQ(pool->idleCount(), 1u);

    // The same memory comes back, without the previous user's attachments.
    auto again = pool->take();
    EXPECT_EQ(again.get(), raw);
    EXPECT_TRUE(again->attachments().empty());
    EXPECT_EQ(pool->allocatedCount(), 1u);
    EXPECT_EQ(pool->idleCount(), 0u);
}

TEST(PixelBufferPool, KeepsAtMostMaxIdle)
{
    auto pool = PixelBufferPool::create(16, 16, PixelFormat::BGRA, 2);
    ASSERT_TRUE(pool);
    std::vector<PixelBufferRef> held;
    for (int i = 0; i < 5; ++i)
        held.push_back(pool->take());
    EXPECT_EQ(pool->allocatedCount(), 5u);
    held.clear();
    EXPECT_EQ(pool->idleCount(), 2u);

    auto none = PixelBufferPool::create(16, 16, PixelFormat::BGRA, 0);
    none->take().reset();
    EXPECT_EQ(none->idleCount(), 0u);
}

TEST(PixelBufferPool, BufferOutlivesItsPool)
{
    auto pool = PixelBufferPool::create(8, 8, PixelFormat::BGRA);
    ASSERT_TRUE(pool);
    std::weak_ptr<PixelBufferPool> weakPool = pool;
    auto buffer = pool->take();
    ASSERT_TRUE(buffer);

    // An outstanding buffer does not keep the pool alive...
    pool.reset();
    EXPECT_TRUE(weakPool.expired());

    // ...and stays usable, then is freed rather than returned.
    buffer->fill(1, 2, 3);
    EXPECT_EQ(buffer->baseAddress()[0], 3);
    buffer.reset();
}

TEST(PixelBufferPool, ConcurrentTakeAndRelease)
{
    auto pool = PixelBufferPool::create(32, 8, PixelFormat::BGRA, 4);
    ASSERT_TRUE(pool);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&pool, &failures, t] {
            for (int i = 0; i < 2000; ++i) {
                auto b = pool->take();
                if (!b || !b->attachments().empty()) {
                    ++failures;
                    continue;
                }
                b->setAttachment(PixelAttachmentKey::FrameStatus, t);
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_LE(pool->idleCount(), 4u);
    EXPECT_LE(pool->allocatedCount(), 8u); // never more than are in use plus idle
}
