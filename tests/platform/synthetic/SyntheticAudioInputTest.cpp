#include "platform/AudioInputError.h"
#include "platform/core/HostClock.h"
#include "platform/synthetic/SyntheticAudioInput.h"

#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <mutex>

using namespace corvessa;

TEST(SyntheticAudioInputTest, DeliversAContiguousToneOnTheHostClock)
{
    SyntheticAudioInput input;
    input.setTone(1000, 0.5f);
    auto stream = input.openSource({});
    ASSERT_EQ(stream->format(), AudioFormat::floatFormat(48000, 1));
    std::mutex mutex;
    std::vector<SampleBuffer> got;
    const int64_t before = HostClock::nanoseconds();
    stream->start([&](SampleBuffer b) {
        std::lock_guard lock(mutex);
        got.push_back(std::move(b));
    });
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            std::lock_guard lock(mutex);
            return got.size() >= 10;
        },
        3000));
    stream->stop();
    std::lock_guard lock(mutex);
    EXPECT_GE(got.front().presentationTime(), MediaTime(before, 1000000000));
    float peak = 0;
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].frameCount(), 480u);
        if (i > 0) {
            EXPECT_EQ(got[i].presentationTime(), got[i - 1].presentationTime() + got[i - 1].duration());
        }
        for (size_t f = 0; f < got[i].frameCount(); ++f)
            peak = std::max(peak, std::fabs(got[i].floatData()[f]));
    }
    EXPECT_NEAR(peak, 0.5f, 0.01f);
}

TEST(SyntheticAudioInputTest, FailsAtTheRequestedStage)
{
    SyntheticAudioInput input;
    input.failAt(AudioInputError::Stage::Route, QStringLiteral("no module"));
    EXPECT_NO_THROW(input.openSystemAudio(false, {})); // no route without muting
    try {
        input.openSystemAudio(true, {});
        FAIL();
    } catch (const AudioInputError& e) {
        EXPECT_EQ(e.stage(), AudioInputError::Stage::Route);
        EXPECT_EQ(e.detail(), QStringLiteral("no module"));
    }
    input.failAt(AudioInputError::Stage::Start);
    auto stream = input.openSource({});
    EXPECT_THROW(stream->start([](SampleBuffer) {}), AudioInputError);
    input.failAt(std::nullopt);
    EXPECT_THROW(input.openSource({QStringLiteral("missing")}), AudioInputError);
}

TEST(SyntheticAudioInputTest, CountsMutingRoutesUntilTheirStreamsStop)
{
    SyntheticAudioInput input;
    auto muted = input.openSystemAudio(true, {});
    auto plain = input.openSystemAudio(false, {});
    EXPECT_EQ(input.activeRoutes(), 1);
    muted->stop();
    muted->stop();
    EXPECT_EQ(input.activeRoutes(), 0);
    input.setLeftoverTaps(2);
    EXPECT_EQ(input.recoverLeftoverTaps(), 2);
    EXPECT_EQ(input.recoverLeftoverTaps(), 0);
    EXPECT_EQ(input.openedStreams(), 2);
}

TEST(SyntheticAudioInputTest, ObserversHearOfChangedSourcesUntilTheirObservationEnds)
{
    SyntheticAudioInput input;
    int calls = 0;
    auto observation = input.observeSources([&] { ++calls; });
    auto sources = input.sources();
    input.setSources(sources); // the same list: nothing to tell
    EXPECT_EQ(calls, 0);
    sources.push_back({QStringLiteral("usb"), QStringLiteral("USB"), AudioFormat::floatFormat(44100, 1), false});
    input.setSources(sources);
    EXPECT_EQ(calls, 1);
    observation.reset();
    input.setSources({});
    EXPECT_EQ(calls, 1);
}
