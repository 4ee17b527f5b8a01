#include "engine/RecordingTimeline.h"

#include <gtest/gtest.h>

using namespace corvessa;
using Span = RecordingTimeline::Span;

namespace {

// Host-clock times in nanoseconds, counted from an arbitrary uptime.
constexpr int64_t base = 500000LL * 1000000000;

MediaTime ms(int64_t v)
{
    return MediaTime(base + v * 1000000, 1000000000);
}

MediaTime sec(int64_t v)
{
    return ms(v * 1000);
}

RecordingTimeline withOrigin(MediaTime origin)
{
    RecordingTimeline t;
    t.origin = origin;
    return t;
}

} // namespace

TEST(RecordingTimeline, BeforeTheFirstFrameOnlyBoundaryAnswers)
{
    RecordingTimeline t;
    t.pause(sec(10));
    t.resume(sec(15));
    t.pause(sec(20));
    EXPECT_FALSE(t.mapped(sec(5)));
    EXPECT_FALSE(t.mapped(sec(16)));
    EXPECT_TRUE(t.spans(sec(16), 480, 48000).empty());
    EXPECT_EQ(t.boundary(sec(12)), sec(10));
    EXPECT_EQ(t.boundary(sec(18)), sec(13));
    EXPECT_EQ(t.boundary(sec(30)), sec(15)); // the open pause counts up to t
}

TEST(RecordingTimeline, MapsAroundAClosedPause)
{
    auto t = withOrigin(sec(0));
    t.pause(sec(10));
    t.resume(sec(15));
    EXPECT_EQ(t.mapped(sec(0)), sec(0));
    EXPECT_FALSE(t.mapped(ms(-1)));
    EXPECT_EQ(t.mapped(ms(9900)), ms(9900));
    EXPECT_FALSE(t.mapped(sec(10)));
    EXPECT_FALSE(t.mapped(ms(14990)));
    // A frame stamped exactly at the resume lands exactly where the pause began.
    EXPECT_EQ(t.mapped(sec(15)), sec(10));
    EXPECT_EQ(t.mapped(sec(20)), sec(15));
    EXPECT_EQ(t.boundary(sec(12)), sec(10));
    EXPECT_EQ(t.boundary(sec(20)), sec(15));
}

TEST(RecordingTimeline, OpenPauseHoldsEverythingAfterItsStart)
{
    auto t = withOrigin(sec(0));
    t.pause(sec(10));
    EXPECT_EQ(t.mapped(ms(9999)), ms(9999));
    EXPECT_FALSE(t.mapped(sec(10)));
    EXPECT_FALSE(t.mapped(sec(3600)));
    EXPECT_EQ(t.boundary(sec(30)), sec(10));
}

TEST(RecordingTimeline, CutsAroundTheOriginRemoveOnlyWhatFollowsIt)
{
    auto t = withOrigin(sec(10));
    t.cuts = {{sec(2), sec(4)}, {sec(8), sec(12)}};
    EXPECT_FALSE(t.mapped(sec(11)));
    EXPECT_EQ(t.mapped(sec(12)), sec(10));
    EXPECT_EQ(t.mapped(sec(20)), sec(18));
    EXPECT_EQ(t.boundary(sec(20)), sec(18));
    EXPECT_EQ(t.boundary(sec(11)), sec(10));

    auto before = withOrigin(sec(10));
    before.cuts = {{sec(2), sec(10)}};
    EXPECT_EQ(before.mapped(sec(10)), sec(10));
    EXPECT_EQ(before.mapped(sec(30)), sec(30));
}

TEST(RecordingTimeline, PauseAndResumeKeepTheCutsWellFormed)
{
    auto t = withOrigin(sec(0));
    t.pause(sec(10));
    t.pause(sec(11));
    ASSERT_EQ(t.cuts.size(), 1u);
    EXPECT_EQ(t.cuts[0].start, sec(10));

    t.resume(sec(9)); // stamped before its pause: an empty cut, never a negative one
    EXPECT_EQ(t.cuts[0].end, sec(10));
    t.resume(sec(20));
    EXPECT_EQ(t.cuts[0].end, sec(10));
    EXPECT_EQ(t.mapped(sec(10)), sec(10));

    RecordingTimeline none;
    none.resume(sec(5));
    EXPECT_TRUE(none.cuts.empty());

    // A pause stamped before the last resume starts at that resume, so the cuts
    // never overlap and no time is removed twice.
    t.pause(sec(30));
    t.resume(sec(40));
    t.pause(sec(35));
    t.resume(sec(45));
    ASSERT_EQ(t.cuts.size(), 3u);
    EXPECT_EQ(t.cuts[2].start, sec(40));
    EXPECT_EQ(t.mapped(sec(50)), sec(35));

    t.pause(MediaTime());
    EXPECT_EQ(t.cuts.size(), 3u);
}

TEST(RecordingTimeline, SpansCutABufferAtPauseAndResume)
{
    auto t = withOrigin(sec(0));
    t.pause(sec(10));
    t.resume(sec(15));

    // Starts 5 ms before the pause.
    EXPECT_EQ(t.spans(ms(9995), 480, 48000), (std::vector<Span>{{{0, 240}, 9995 * 48}}));
    // Wholly inside it.
    EXPECT_TRUE(t.spans(ms(12000), 480, 48000).empty());
    // Straddles the resume: the run starts at the first frame at or after it, right
    // where the pause began in the output.
    const auto s = t.spans(ms(14996), 480, 48000);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].input, (Span::Range{192, 480}));
    EXPECT_EQ(s[0].outputFrame, 10 * 48000);
    // Straddles both ends of a short pause.
    auto shortPause = withOrigin(sec(0));
    shortPause.pause(ms(1002));
    shortPause.resume(ms(1005));
    EXPECT_EQ(shortPause.spans(sec(1), 480, 48000), (std::vector<Span>{{{0, 96}, 48000}, {{240, 480}, 48096}}));
}

TEST(RecordingTimeline, SpansStartAtTheOrigin)
{
    const auto t = withOrigin(ms(100));
    EXPECT_EQ(t.spans(ms(95), 480, 48000), (std::vector<Span>{{{240, 480}, 0}}));
    EXPECT_TRUE(t.spans(ms(50), 480, 48000).empty());
    EXPECT_TRUE(t.spans(ms(100), 0, 48000).empty());
}

TEST(RecordingTimeline, SpansAreExactFarIntoTheHostClock)
{
    // Near the end of the 64-bit nanosecond range seconds as doubles are only good
    // to about a microsecond, which would move these cuts by a frame.
    const int64_t far = 9000000000LL * 1000000000;
    const MediaTime origin(far, 1000000000);
    RecordingTimeline t;
    t.origin = origin;
    t.pause(origin + MediaTime(3600, 1) + MediaTime(240, 48000));
    t.resume(origin + MediaTime(3630, 1));

    const MediaTime hour = origin + MediaTime(3600, 1);
    EXPECT_EQ(t.spans(hour, 480, 48000), (std::vector<Span>{{{0, 240}, 3600LL * 48000}}));
    const auto after = t.spans(origin + MediaTime(3630, 1) - MediaTime(100, 48000), 480, 48000);
    EXPECT_EQ(after, (std::vector<Span>{{{100, 480}, 3600LL * 48000 + 240}}));
}

TEST(RecordingTimeline, ARunStartingAHairBeforeTheResumeIsKept)
{
    // At 1000 frames per second the tolerance is 10 ns: a resume 5 ns after frame
    // 100 counts as frame 100, and that run still belongs to the movie.
    auto t = withOrigin(sec(0));
    t.pause(ms(1050));
    t.resume(ms(1100) + MediaTime(5, 1000000000));
    const auto s = t.spans(sec(1), 200, 1000);
    EXPECT_EQ(s, (std::vector<Span>{{{0, 50}, 1000}, {{100, 200}, 1050}}));
}
