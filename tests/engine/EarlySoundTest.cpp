#include "engine/EarlySound.h"

#include "platform/core/AudioFormat.h"

#include <gtest/gtest.h>

#include <vector>

using namespace corvessa;

namespace {

using Source = EarlySound::Source;

SampleBuffer buffer(size_t frames, int64_t atMs)
{
    return SampleBuffer::audio(AudioFormat::floatFormat(48000, 2), frames, MediaTime(atMs, 1000));
}

struct Kept {
    Source source;
    int64_t atMs;
    bool operator==(const Kept&) const = default;
};

std::vector<Kept> taken(EarlySound& early)
{
    std::vector<Kept> out;
    for (const auto& [source, b] : early.take())
        out.push_back({source, b.presentationTime().convertScale(1000).value()});
    return out;
}

} // namespace

// Over the bound the oldest sound goes, whichever source it came from; what is
// kept stays in arrival order, and the newest buffer is kept even when it
// alone is over the bound.
TEST(EarlySoundTest, DropsTheOldestFirstAndKeepsArrivalOrder)
{
    EarlySound early(1000);
    early.keep(Source::microphone, buffer(400, 0));
    early.keep(Source::system, buffer(400, 5));
    early.keep(Source::microphone, buffer(400, 10)); // 1200 > 1000: the first goes
    EXPECT_EQ(early.frames(), 800);
    EXPECT_EQ(taken(early), (std::vector<Kept>{{Source::system, 5}, {Source::microphone, 10}}));

    early.keep(Source::system, buffer(5000, 20));
    EXPECT_EQ(early.frames(), 5000);
    early.keep(Source::microphone, buffer(6000, 30));
    EXPECT_EQ(early.frames(), 6000) << "only the newest is left";
    EXPECT_EQ(taken(early), (std::vector<Kept>{{Source::microphone, 30}}));
}

// What was taken or cleared no longer counts toward the bound: a later start
// keeps its own early sound whole.
TEST(EarlySoundTest, TakeAndClearStartTheCountAnew)
{
    for (const bool byClear : {false, true}) {
        SCOPED_TRACE(byClear ? "clear" : "take");
        EarlySound early(1000);
        early.keep(Source::microphone, buffer(900, 0));
        if (byClear)
            early.clear();
        else
            EXPECT_EQ(taken(early).size(), 1u);
        EXPECT_TRUE(early.isEmpty());
        EXPECT_EQ(early.frames(), 0);
        early.keep(Source::system, buffer(600, 100));
        early.keep(Source::microphone, buffer(300, 110));
        EXPECT_EQ(taken(early), (std::vector<Kept>{{Source::system, 100}, {Source::microphone, 110}}));
    }
}
