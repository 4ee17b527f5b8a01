#include "engine/SourceGap.h"

#include <gtest/gtest.h>

using namespace corvessa;

namespace {

MediaTime ms(int64_t v)
{
    return MediaTime(v, 1000);
}

} // namespace

// The recorded time a source was away: breaks under a second are jitter, a
// pause inside the break is no missing time, nothing before the first frame counts.
TEST(SourceGapTest, CountsOnlyTheRecordedTimeASourceWasAway)
{
    RecordingTimeline timeline;
    timeline.origin = ms(10000);
    SourceGap gap;
    // Before the origin, and right across it.
    EXPECT_FALSE(gap.arrived(ms(8000), ms(20), timeline));
    EXPECT_FALSE(gap.arrived(ms(10500), ms(20), timeline)) << "0.5 s after the origin is no gap";
    // Steady buffers, then jitter.
    for (int64_t t = 10520; t < 11000; t += 20)
        EXPECT_FALSE(gap.arrived(ms(t), ms(20), timeline));
    EXPECT_FALSE(gap.arrived(ms(11900), ms(20), timeline));
    // Away 3 s.
    const auto away = gap.arrived(ms(14920), ms(20), timeline);
    ASSERT_TRUE(away);
    EXPECT_DOUBLE_EQ(*away, 3.0);
    // Away 6 s, 5 of them paused.
    timeline.pause(ms(15440));
    timeline.resume(ms(20440));
    const auto paused = gap.arrived(ms(20940), ms(20), timeline);
    ASSERT_TRUE(paused);
    EXPECT_DOUBLE_EQ(*paused, 1.0);
    // A buffer that overlaps what came before is no gap; nor is an invalid time.
    EXPECT_FALSE(gap.arrived(ms(20900), ms(100), timeline));
    EXPECT_FALSE(gap.arrived(MediaTime::invalid(), ms(20), timeline));
    gap.reset();
    EXPECT_FALSE(gap.arrived(ms(30000), ms(20), timeline)) << "a reset forgets the last buffer";
}

TEST(SourceGapTest, NothingIsCountedBeforeTheFirstFrame)
{
    SourceGap gap;
    const RecordingTimeline noOrigin;
    EXPECT_FALSE(gap.arrived(ms(1000), ms(20), noOrigin));
    EXPECT_FALSE(gap.arrived(ms(9000), ms(20), noOrigin));
}

// A source gone at the end: the recorded time from its last buffer, paused
// stretches left out, told once; a source that never delivered has no gap.
TEST(SourceGapTest, StillMissingAtTheEndCountsRecordedTimeOnce)
{
    RecordingTimeline timeline;
    timeline.origin = ms(10000);
    SourceGap gap;
    EXPECT_FALSE(gap.stillMissing(ms(20000), timeline)) << "nothing ever came";
    gap.arrived(ms(11000), ms(20), timeline);
    EXPECT_FALSE(gap.stillMissing(ms(11900), timeline)) << "under a second";
    timeline.pause(ms(12020));
    timeline.resume(ms(16020));
    const auto gone = gap.stillMissing(ms(18020), timeline);
    ASSERT_TRUE(gone);
    EXPECT_DOUBLE_EQ(*gone, 3.0);
    EXPECT_FALSE(gap.stillMissing(ms(18020), timeline)) << "told once";
    gap.reset();
    gap.arrived(ms(11000), ms(20), timeline);
    EXPECT_TRUE(gap.stillMissing(ms(18020), timeline)) << "a new recording tells it again";
}
