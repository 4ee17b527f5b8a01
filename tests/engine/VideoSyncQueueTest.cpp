#include "engine/VideoSyncQueue.h"

#include "capture/OwnedPixels.h"

#include <gtest/gtest.h>

#include <memory>

using namespace corvessa;

namespace {

constexpr int64_t MiB = 1024 * 1024;

// A frame whose pixel data is `mib` MiB (1024-pixel BGRA rows of 4 KiB), told
// apart by its capture time.
VideoSyncQueue::Frame frame(int id, int64_t mib = 0)
{
    const int rows = mib > 0 ? int(mib * 256) : 1;
    VideoSyncQueue::Frame f;
    f.buffer = PixelBuffer::create(1024, rows, PixelFormat::BGRA);
    f.pts = MediaTime(id, 30);
    f.adjusted = MediaTime(id, 30);
    f.minimumCameraPTS = MediaTime(0, 30);
    return f;
}

} // namespace

TEST(VideoSyncQueue, NinthFrameEvictsTheOldest)
{
    VideoSyncQueue q;
    for (int i = 0; i < 9; ++i)
        q.append(frame(i));
    EXPECT_EQ(q.count(), 8u);
    EXPECT_EQ(q.dropped(), 1);
    EXPECT_EQ(q.front().pts, MediaTime(1, 30));
    EXPECT_EQ(q.at(7).pts, MediaTime(8, 30));
    EXPECT_EQ(q.bytes(), 8 * int64_t(OwnedPixels::bytes(*frame(0).buffer)));
}

TEST(VideoSyncQueue, ByteLimitEvictsOnlyAsManyAsNeeded)
{
    VideoSyncQueue q;
    for (int i = 0; i < 7; ++i)
        q.append(frame(i, 8));
    ASSERT_EQ(q.bytes(), 56 * MiB);
    q.append(frame(7, 10));
    EXPECT_EQ(q.count(), 7u);
    EXPECT_EQ(q.bytes(), 58 * MiB);
    EXPECT_EQ(q.dropped(), 1);
    EXPECT_EQ(q.front().pts, MediaTime(1, 30));
    EXPECT_EQ(q.at(6).pts, MediaTime(7, 30));
}

TEST(VideoSyncQueue, AFrameOverTheByteLimitIsNeverQueued)
{
    VideoSyncQueue q;
    q.append(frame(0));
    auto huge = frame(1, 64);
    huge.buffer = PixelBuffer::create(1024, 64 * 256 + 1, PixelFormat::BGRA);
    std::weak_ptr<PixelBuffer> watch = huge.buffer;
    q.append(std::move(huge));
    EXPECT_EQ(q.count(), 1u);
    EXPECT_EQ(q.front().pts, MediaTime(0, 30));
    EXPECT_EQ(q.dropped(), 1);
    EXPECT_TRUE(watch.expired()); // its memory is released at once
}

TEST(VideoSyncQueue, AFrameOfExactlyTheLimitDisplacesEverythingElse)
{
    VideoSyncQueue q;
    for (int i = 0; i < 3; ++i)
        q.append(frame(i, 1));
    q.append(frame(3, 64));
    EXPECT_EQ(q.count(), 1u);
    EXPECT_EQ(q.bytes(), VideoSyncQueue::kMaxBytes);
    EXPECT_EQ(q.dropped(), 3);
}

TEST(VideoSyncQueue, AFrameWithoutPixelsCountsAsDropped)
{
    VideoSyncQueue q;
    VideoSyncQueue::Frame empty;
    q.append(empty);
    EXPECT_TRUE(q.isEmpty());
    EXPECT_EQ(q.dropped(), 1);
}

TEST(VideoSyncQueue, DrainingFromTheFrontKeepsOrderAndBytes)
{
    VideoSyncQueue q;
    auto withWindow = frame(0, 1);
    withWindow.windowFrame = QRectF(1, 2, 3, 4);
    withWindow.layout.mirrored = true;
    q.append(std::move(withWindow));
    q.append(frame(1, 2));
    q.append(frame(2, 3));

    auto first = q.popFront();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->pts, MediaTime(0, 30));
    EXPECT_EQ(first->windowFrame, QRectF(1, 2, 3, 4));
    EXPECT_TRUE(first->layout.mirrored);
    EXPECT_EQ(q.bytes(), 5 * MiB);
    EXPECT_EQ(q.popFront()->pts, MediaTime(1, 30));
    EXPECT_EQ(q.popFront()->pts, MediaTime(2, 30));
    EXPECT_EQ(q.bytes(), 0);
    EXPECT_FALSE(q.popFront());
    EXPECT_EQ(q.dropped(), 0);
}

TEST(VideoSyncQueue, ResetStartsAfresh)
{
    VideoSyncQueue q;
    for (int i = 0; i < 10; ++i)
        q.append(frame(i));
    q.reset();
    EXPECT_TRUE(q.isEmpty());
    EXPECT_EQ(q.bytes(), 0);
    EXPECT_EQ(q.dropped(), 0);
    q.append(frame(0, 64)); // an empty queue takes any frame within the limit
    EXPECT_EQ(q.count(), 1u);
}
