#include "capture/CameraOverlayState.h"

#include "capture/OwnedPixels.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace corvessa;

namespace {

using Layout = CameraOverlayState::Layout;

// A small picture whose first byte tells pictures apart.
PixelBufferRef picture(uint8_t tag, int width = 4, int height = 2)
{
    auto p = PixelBuffer::create(width, height, PixelFormat::BGRA);
    p->baseAddress()[0] = tag;
    return p;
}

Layout bubble(double width = 200)
{
    Layout l;
    l.frame = GlobalRect(10, 20, width, 150);
    l.visible = true;
    return l;
}

MediaTime sec(double s)
{
    return MediaTime::fromSeconds(s);
}

uint8_t tagOf(const CameraOverlayState::Snapshot& s)
{
    return s.buffer->baseAddress()[0];
}

} // namespace

TEST(CameraOverlayState, KeepsOnlyPicturesInStrictlyIncreasingTimeOrder)
{
    CameraOverlayState state;
    state.setLayout(bubble());
    state.setBuffer(*picture(1), sec(1.0));
    state.setBuffer(*picture(2), sec(1.0)); // same time: ignored
    state.setBuffer(*picture(3), sec(0.9)); // earlier: ignored
    state.setBuffer(*picture(4), MediaTime::invalid());
    EXPECT_EQ(state.frameCount(), 1u);
    EXPECT_EQ(tagOf(*state.snapshot()), 1);

    state.setBuffer(*picture(5), sec(1.001));
    EXPECT_EQ(state.frameCount(), 2u);
    EXPECT_EQ(tagOf(*state.snapshot()), 5);
}

TEST(CameraOverlayState, StoresADeepCopyAndCountsItsBytes)
{
    CameraOverlayState state;
    state.setLayout(bubble());
    auto source = picture(7, 100, 3);
    state.setBuffer(*source, sec(1));
    source->baseAddress()[0] = 99; // the camera reuses its buffer
    EXPECT_EQ(tagOf(*state.snapshot()), 7);
    EXPECT_EQ(state.usedBytes(), int64_t(OwnedPixels::bytes(*source)));
}

TEST(CameraOverlayState, SpanLimitTrimsBeforeTheCountLimitAt30Fps)
{
    CameraOverlayState state;
    for (int i = 0; i < 30; ++i)
        state.setBuffer(*picture(uint8_t(i)), MediaTime(i, 30));
    EXPECT_EQ(state.frameCount(), 16u); // 14/30 ... 29/30: exactly 0.5 s apart

    // Host-clock nanoseconds, as the camera delivers them: the same outcome.
    CameraOverlayState ns;
    for (int64_t i = 0; i < 30; ++i)
        ns.setBuffer(*picture(uint8_t(i)), MediaTime(5'000'000'000 + i * 33'333'333, 1'000'000'000));
    EXPECT_EQ(ns.frameCount(), 16u);
}

TEST(CameraOverlayState, CountLimitTrimsFirstAt60Fps)
{
    CameraOverlayState state;
    state.setLayout(bubble());
    for (int i = 0; i < 60; ++i)
        state.setBuffer(*picture(uint8_t(i)), MediaTime(i, 60));
    EXPECT_EQ(state.frameCount(), 24u);
    const int64_t one = int64_t(OwnedPixels::bytes(*picture(0)));
    EXPECT_EQ(state.usedBytes(), 24 * one);
    // The oldest kept is 36/60: 23 frames (0.383 s) before the newest.
    EXPECT_EQ(tagOf(*state.snapshot(MediaTime(36, 60), state.layout(), MediaTime::invalid())), 36);
    EXPECT_FALSE(state.snapshot(MediaTime(71, 120), state.layout(), MediaTime::invalid())); // 35/60 is gone
}

TEST(CameraOverlayState, APictureOfExactlyTheByteLimitIsAcceptedAndOneRowMoreIsNot)
{
    CameraOverlayState state;
    state.setLayout(bubble());
    state.setBuffer(*picture(1), sec(1));

    auto exact = PixelBuffer::create(4096, 3072, PixelFormat::BGRA); // 16384 bytes per row
    ASSERT_TRUE(exact);
    ASSERT_EQ(OwnedPixels::bytes(*exact), size_t(CameraOverlayState::kMaxBytes));
    state.setBuffer(*exact, sec(2));
    // It fills the budget alone, so the older picture had to go.
    EXPECT_EQ(state.frameCount(), 1u);
    EXPECT_EQ(state.usedBytes(), CameraOverlayState::kMaxBytes);
    exact.reset();

    auto over = PixelBuffer::create(4096, 3073, PixelFormat::BGRA);
    ASSERT_TRUE(over);
    state.setBuffer(*over, sec(3));
    EXPECT_EQ(state.frameCount(), 1u);
    EXPECT_EQ(state.snapshot()->pts, sec(2));
}

TEST(CameraOverlayState, APictureWhosePaddedCopyExceedsTheLimitLeavesTheStoreAlone)
{
    CameraOverlayState state;
    state.setLayout(bubble());
    state.setBuffer(*picture(1), sec(1));
    // Tight 4-byte rows: 4 MB here, but 64-byte rows (64 MB) once copied.
    auto thin = PixelBuffer::create(1, 1'000'000, PixelFormat::BGRA, 4);
    ASSERT_TRUE(thin);
    ASSERT_LE(OwnedPixels::bytes(*thin), size_t(CameraOverlayState::kMaxBytes));
    state.setBuffer(*thin, sec(2));
    EXPECT_EQ(state.frameCount(), 1u);
    EXPECT_EQ(tagOf(*state.snapshot()), 1);
}

TEST(CameraOverlayState, PictureForAFrameIsAtMost120MsOld)
{
    CameraOverlayState state;
    const Layout l = bubble();
    state.setBuffer(*picture(1), sec(0.9));
    state.setBuffer(*picture(2), sec(1.0));

    auto exact = state.snapshot(MediaTime(112, 100), l, MediaTime::invalid());
    ASSERT_TRUE(exact);
    EXPECT_EQ(tagOf(*exact), 2);
    // Just past the limit nothing is found, although older pictures exist.
    EXPECT_FALSE(state.snapshot(MediaTime(11201, 10000), l, MediaTime::invalid()));
    // The newest picture not later than t is chosen.
    EXPECT_EQ(tagOf(*state.snapshot(sec(0.95), l, MediaTime::invalid())), 1);
    EXPECT_EQ(tagOf(*state.snapshot(sec(1.0), l, MediaTime::invalid())), 2);
    // Earlier than every picture, or not numeric: nothing.
    EXPECT_FALSE(state.snapshot(sec(0.8), l, MediaTime::invalid()));
    EXPECT_FALSE(state.snapshot(MediaTime::invalid(), l, MediaTime::invalid()));
}

TEST(CameraOverlayState, PicturesOlderThanTheLowerBoundAreNotUsed)
{
    CameraOverlayState state;
    const Layout l = bubble();
    state.setBuffer(*picture(1), sec(1.0));
    state.setBuffer(*picture(2), sec(1.05));
    EXPECT_EQ(tagOf(*state.snapshot(sec(1.06), l, sec(1.05))), 2);
    // After a resume at 1.1 s, the pictures from before it must not show.
    EXPECT_FALSE(state.snapshot(sec(1.12), l, sec(1.1)));
    EXPECT_FALSE(state.snapshot(sec(1.04), l, sec(1.01)));
}

TEST(CameraOverlayState, OnlyADrawableLayoutGivesASnapshot)
{
    CameraOverlayState state;
    state.setBuffer(*picture(1), sec(1));
    const MediaTime t = sec(1);

    Layout narrow = bubble(4);
    EXPECT_FALSE(state.snapshot(t, narrow, MediaTime::invalid()));
    narrow.frame = GlobalRect(narrow.frame.bottomLeft(), QSizeF(4.01, narrow.frame.height()));
    EXPECT_TRUE(state.snapshot(t, narrow, MediaTime::invalid()));

    Layout hidden = bubble();
    hidden.visible = false;
    EXPECT_FALSE(state.snapshot(t, hidden, MediaTime::invalid()));
    hidden.fullScreen = true; // the full-screen camera needs no bubble
    EXPECT_TRUE(state.snapshot(t, hidden, MediaTime::invalid()));
    Layout tinyFull = bubble(0);
    tinyFull.visible = false;
    tinyFull.fullScreen = true;
    EXPECT_TRUE(state.snapshot(t, tinyFull, MediaTime::invalid()));

    // snapshot() judges the stored layout.
    EXPECT_FALSE(state.snapshot());
    state.setLayout(hidden);
    EXPECT_TRUE(state.snapshot());
}

TEST(CameraOverlayState, SnapshotCarriesTheGivenLayoutNotTheStoredOne)
{
    CameraOverlayState state;
    state.setLayout(bubble());
    state.setBuffer(*picture(1), sec(1));
    Layout then = bubble(300);
    then.shape = 2;
    then.radius = 0.3;
    then.mirrored = true;
    const auto s = state.snapshot(sec(1), then, MediaTime::invalid());
    ASSERT_TRUE(s);
    EXPECT_EQ(s->frame, then.frame);
    EXPECT_EQ(s->shape, 2);
    EXPECT_DOUBLE_EQ(s->radius, 0.3);
    EXPECT_TRUE(s->mirrored);
    EXPECT_FALSE(s->fullScreen);
    EXPECT_EQ(s->pts, sec(1));
}

TEST(CameraOverlayState, ASnapshotStaysValidAfterTheStoreLetsGo)
{
    CameraOverlayState state;
    state.setLayout(bubble());
    state.setBuffer(*picture(42), sec(1));
    const auto s = state.snapshot();
    ASSERT_TRUE(s);
    state.clear();
    for (int i = 0; i < 30; ++i)
        state.setBuffer(*picture(0), sec(2 + i));
    EXPECT_EQ(tagOf(*s), 42);
}

TEST(CameraOverlayState, ClearDropsPicturesButKeepsTheLayout)
{
    CameraOverlayState state;
    Layout l = bubble();
    l.mirrored = true;
    state.setLayout(l);
    state.setBuffer(*picture(1), sec(1));
    state.clear();
    EXPECT_EQ(state.frameCount(), 0u);
    EXPECT_EQ(state.usedBytes(), 0);
    EXPECT_FALSE(state.snapshot());
    EXPECT_EQ(state.layout(), l);
    // After a stop, a new start may begin at any time again.
    state.setBuffer(*picture(2), sec(0.5));
    EXPECT_EQ(state.frameCount(), 1u);
}

TEST(CameraOverlayState, LayoutWritersKeepWhatIsNotTheirs)
{
    CameraOverlayState state;
    state.setFullScreen(true);
    Layout shell = bubble();
    shell.fullScreen = false; // the shell's value must not win
    state.setBubble(shell);
    EXPECT_TRUE(state.layout().fullScreen);
    EXPECT_EQ(state.layout().frame, shell.frame);

    state.setMirrored(true);
    EXPECT_TRUE(state.mirrored());
    EXPECT_TRUE(state.fullScreen());

    state.updateLayout([](Layout& l) { l.shape = 2; });
    EXPECT_EQ(state.layout().shape, 2);
    EXPECT_TRUE(state.layout().mirrored);

    const auto status = state.status();
    EXPECT_EQ(status.layout, state.layout());
    EXPECT_EQ(status.frameCount, 0u);
}

// The camera queue, the main thread and the engine queue at once: a reader must
// only ever see a layout as one writer wrote it, and pictures in time order.
TEST(CameraOverlayState, ConcurrentWritersAndReadersSeeWholeLayouts)
{
    CameraOverlayState state;
    Layout a = bubble(100);
    a.shape = 1;
    a.radius = 0.2;
    a.mirrored = true;
    Layout b = bubble(300);
    b.frame = b.frame.movedTo({500, 600});
    b.shape = 2;
    b.radius = 0.4;
    state.setLayout(a);

    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::atomic<int> backwards{0};
    std::thread camera([&] {
        for (int i = 1; i <= 3000; ++i)
            state.setBuffer(*picture(uint8_t(i)), MediaTime(i, 1000));
    });
    std::thread shell([&] {
        for (int i = 0; !stop; ++i)
            state.setBubble(i % 2 ? a : b);
    });
    std::thread engine([&] {
        MediaTime last = MediaTime::invalid();
        while (!stop) {
            const auto s = state.snapshot();
            if (!s)
                continue;
            const bool isA = s->frame == a.frame && s->shape == a.shape && s->radius == a.radius && s->mirrored == a.mirrored;
            const bool isB = s->frame == b.frame && s->shape == b.shape && s->radius == b.radius && s->mirrored == b.mirrored;
            if (!isA && !isB)
                ++torn;
            if (last.isValid() && s->pts < last)
                ++backwards;
            last = s->pts;
            if (state.usedBytes() > CameraOverlayState::kMaxBytes || state.frameCount() > CameraOverlayState::kMaxFrames)
                ++torn;
        }
    });
    camera.join();
    stop = true;
    shell.join();
    engine.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(backwards, 0);
    // 0.5 s at 1000 pictures a second would be 501; the count limit holds first.
    EXPECT_EQ(state.frameCount(), CameraOverlayState::kMaxFrames);
}
