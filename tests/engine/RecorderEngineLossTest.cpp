#include "engine/EngineTestSupport.h"

#include "platform/core/HostClock.h"

#include <gtest/gtest.h>

using namespace corvessa;
using namespace corvessa::test;
using Line = RecorderEngine::Line;
using Tier = RecorderEngine::PauseTier;

namespace {

// Each test starts with a fresh harness `h`.
using RecorderEngineLoss = EngineTest;

RecorderError lostError()
{
    return RecorderError{QStringLiteral("ScreenCapture"), 3, QStringLiteral("The display went to sleep")};
}

} // namespace

// MARK: - Stream loss and retry

TEST_F(RecorderEngineLoss, LostStreamIsRetriedUntilItComesBack)
{
    ASSERT_FALSE(h.engine->startInner(h.config()));
    ASSERT_TRUE(waitUntil([&] { return h.videoFrames() >= 5; }, 5));

    h.source->setStartError(lostError());
    h.source->interruptStreams(lostError());
    ASSERT_TRUE(h.events.waitFor(line(Line::screenLost), 2));
    const int64_t repeatedBefore = h.engine->stats().repeatedVideo;
    // The first retry fails; the heartbeat keeps the frozen picture going.
    spin(2.6);
    EXPECT_EQ(h.events.count(line(Line::screenRestored)), 0);
    EXPECT_GT(h.engine->stats().repeatedVideo, repeatedBefore);
    EXPECT_EQ(h.engine->state(), RecorderEngine::State::recording);

    h.source->setStartError(std::nullopt);
    ASSERT_TRUE(h.events.waitFor(line(Line::screenRestored), 3));
    EXPECT_EQ(h.events.count(line(Line::screenLost)), 1);
    EXPECT_EQ(h.source->runningStreams(), 1);
    const size_t restored = h.videoFrames();
    ASSERT_TRUE(waitUntil([&] { return h.videoFrames() >= restored + 10; }, 3));
    ASSERT_TRUE(h.engine->stop());
}

TEST_F(RecorderEngineLoss, GoneMicrophoneIsDroppedAtTheRetry)
{
    ASSERT_FALSE(h.engine->startInner(h.config()));
    ASSERT_TRUE(waitUntil([&] { return h.videoFrames() >= 5; }, 5));
    h.audio->setSources({});
    h.source->interruptStreams(lostError());
    ASSERT_TRUE(h.events.waitFor(line(Line::screenRestored), 4));
    EXPECT_EQ(h.events.count(line(Line::micGone)), 1);
    ASSERT_EQ(h.source->runningConfigurations().size(), 1u);
    EXPECT_FALSE(h.source->runningConfigurations()[0].captureMicrophone);
}

TEST_F(RecorderEngineLoss, ThirdFailedRebuildGivesUpTheMicrophone)
{
    ASSERT_FALSE(h.engine->startInner(h.config()));
    ASSERT_TRUE(waitUntil([&] { return h.videoFrames() >= 5; }, 5));
    h.source->setStartError(lostError());
    h.source->interruptStreams(lostError());
    ASSERT_TRUE(h.events.waitFor(line(Line::micCouldNotConnect), 8.5));
    EXPECT_EQ(h.events.count(line(Line::micCouldNotConnect)), 1);
    h.source->setStartError(std::nullopt);
    ASSERT_TRUE(h.events.waitFor(line(Line::screenRestored), 3));
    EXPECT_FALSE(h.source->runningConfigurations()[0].captureMicrophone);
}

// An unplugged display is waited for, however long: no stream on another
// display meanwhile, and the microphone is no cause of the failed rebuilds.
TEST_F(RecorderEngineLoss, AnUnpluggedDisplayIsWaitedForAndNeverReplaced)
{
    const DisplayInfo other = testDisplay(QStringLiteral("OTHER-1"), GlobalRect(-1280, 0, 1280, 1024), 1, false);
    h.source->setDisplays({h.display, other});
    auto config = h.config();
    config.target = RecorderEngine::Target::display(other.id);
    ASSERT_FALSE(h.engine->startInner(config));
    ASSERT_TRUE(waitUntil([&] { return h.videoFrames() >= 5; }, 5));
    h.source->removeDisplay(other.id);
    ASSERT_TRUE(h.events.waitFor(line(Line::screenLost), 2));
    spin(4 * RecorderEngine::streamRetryDelay);
    EXPECT_EQ(h.source->runningStreams(), 0);
    EXPECT_EQ(h.events.count(line(Line::screenRestored)), 0);
    EXPECT_EQ(h.events.count(line(Line::micCouldNotConnect)), 0);

    h.source->setDisplays({h.display, other});
    ASSERT_TRUE(h.events.waitFor(line(Line::screenRestored), 3));
    EXPECT_EQ(h.source->runningStreams(), 1);
    EXPECT_TRUE(h.source->runningConfigurations()[0].captureMicrophone);
    ASSERT_TRUE(h.engine->stop());
}

TEST_F(RecorderEngineLoss, RetryOfAnEarlierRecordingNeverStartsAStreamInALaterOne)
{
    ASSERT_FALSE(h.engine->startInner(h.config()));
    ASSERT_TRUE(waitUntil([&] { return h.videoFrames() >= 5; }, 5));
    h.source->interruptStreams(lostError());
    ASSERT_TRUE(h.events.waitFor(line(Line::screenLost), 2));
    ASSERT_TRUE(h.engine->stop());

    auto second = h.config();
    second.outputURL = QDir(h.home.path()).filePath(QStringLiteral("Second.mov"));
    ASSERT_FALSE(h.engine->startInner(second));
    h.events.clear();
    spin(2.8); // past the old retry's time
    EXPECT_EQ(h.source->runningStreams(), 1);
    EXPECT_EQ(h.events.count(line(Line::screenRestored)), 0);
    ASSERT_TRUE(h.engine->stop());
    EXPECT_EQ(h.source->runningStreams(), 0);
}

TEST_F(RecorderEngineLoss, StopDuringLossEndsTheRetries)
{
    ASSERT_FALSE(h.engine->startInner(h.config()));
    ASSERT_TRUE(waitUntil([&] { return h.videoFrames() >= 5; }, 5));
    h.source->interruptStreams(lostError());
    ASSERT_TRUE(h.events.waitFor(line(Line::screenLost), 2));
    ASSERT_TRUE(h.engine->stop());
    spin(2.5);
    EXPECT_EQ(h.source->runningStreams(), 0);
    EXPECT_EQ(h.events.count(line(Line::screenRestored)), 0);
}

TEST_F(RecorderEngineLoss, LossWhilePausedIsSilentAndResumeRebuilds)
{
    ASSERT_FALSE(h.engine->startInner(h.config()));
    ASSERT_TRUE(waitUntil([&] { return h.videoFrames() >= 5; }, 5));
    h.engine->pause();
    ASSERT_TRUE(h.events.waitFor(line(Line::paused), 2));
    h.source->interruptStreams(lostError());
    spin(0.3);
    EXPECT_EQ(h.events.count(line(Line::screenLost)), 0);
    h.engine->resume();
    ASSERT_TRUE(h.events.waitFor(QStringLiteral("Resumed (previous level: instant)"), 3));
    EXPECT_EQ(h.source->runningStreams(), 1);
}

TEST_F(RecorderEngineLoss, PauseAndResumeDuringLossLeaveOneRebuild)
{
    h.engine->setTierDelays(0.2, 60);
    ASSERT_FALSE(h.engine->startInner(h.config()));
    ASSERT_TRUE(waitUntil([&] { return h.videoFrames() >= 5; }, 5));
    h.source->interruptStreams(lostError());
    ASSERT_TRUE(h.events.waitFor(line(Line::screenLost), 2));
    h.engine->pause();
    ASSERT_TRUE(h.events.waitFor(line(Line::eco), 2));
    h.engine->resume();
    ASSERT_TRUE(h.events.waitFor(QStringLiteral("Resumed (previous level: eco)"), 2));
    ASSERT_TRUE(h.events.waitFor(line(Line::screenRestored), 3));
    spin(0.3);
    EXPECT_EQ(h.source->runningStreams(), 1);
    EXPECT_EQ(h.events.count(line(Line::screenRestored)), 1);
    EXPECT_EQ(h.events.countStartingWith(line(Line::resumeFailed)), 0);
    ASSERT_EQ(h.source->runningConfigurations().size(), 1u);
    EXPECT_EQ(h.source->runningConfigurations()[0].minimumFrameInterval, MediaTime(1, 30));
}

TEST_F(RecorderEngineLoss, FailedResumeGoesIntoTheLossPath)
{
    h.engine->setTierDelays(0.2, 0.4);
    ASSERT_FALSE(h.engine->startInner(h.config()));
    ASSERT_TRUE(waitUntil([&] { return h.videoFrames() >= 5; }, 5));
    h.engine->pause();
    ASSERT_TRUE(h.events.waitFor(line(Line::deep), 2));

    const RecorderError refused{QStringLiteral("ScreenCapture"), 4, QStringLiteral("Capture refused")};
    h.source->setStartError(refused);
    h.engine->resume();
    ASSERT_TRUE(h.events.waitFor(QStringLiteral("Failed to resume capture: Capture refused"), 3));
    ASSERT_TRUE(h.events.waitFor(line(Line::screenLost), 1));
    EXPECT_EQ(h.events.countStartingWith(QStringLiteral("Resumed (previous level:")), 0);
    const size_t frames = h.videoFrames();
    // The last picture keeps the recording going meanwhile.
    ASSERT_TRUE(waitUntil([&] { return h.videoFrames() > frames; }, 2.5));

    h.source->setStartError(std::nullopt);
    ASSERT_TRUE(h.events.waitFor(line(Line::screenRestored), 3));
    EXPECT_EQ(h.source->runningStreams(), 1);
    ASSERT_TRUE(waitUntil([&] { return h.videoFrames() >= 3; }, 5));
    ASSERT_TRUE(h.engine->stop());
}

// Records a window of the synthetic display until frames flow.
static WindowInfo startOnWindow(EngineHarness& h)
{
    WindowInfo window;
    window.id = 0x500001;
    window.frame = QRectF(0, 0, 200, 100);
    window.displayId = h.display.id;
    h.source->setWindows({window});
    auto config = h.config(30, false);
    config.target = RecorderEngine::Target::window(window.id);
    EXPECT_FALSE(h.engine->startInner(config));
    EXPECT_TRUE(waitUntil([&] { return h.videoFrames() >= 5; }, 5));
    return window;
}

// A closed window never comes back: it is said as such, once, and nothing
// retries; the last picture goes on until the owner stops.
TEST_F(RecorderEngineLoss, ClosedWindowIsSaidAndNotRetried)
{
    const WindowInfo window = startOnWindow(h);
    h.source->removeWindow(window.id);
    ASSERT_TRUE(h.events.waitFor(line(Line::windowClosed), 3));
    const size_t frames = h.videoFrames();
    ASSERT_TRUE(waitUntil([&] { return h.videoFrames() > frames; }, 2.5));
    spin(2.5); // past a retry's time
    EXPECT_EQ(h.events.count(line(Line::windowClosed)), 1);
    EXPECT_EQ(h.events.count(line(Line::screenLost)), 0);
    EXPECT_EQ(h.source->runningStreams(), 0);
    EXPECT_EQ(h.engine->state(), RecorderEngine::State::recording);
    ASSERT_TRUE(h.engine->stop());
}

// The stream ended for another reason and the window went meanwhile: the
// retry finds it gone and stops retrying.
TEST_F(RecorderEngineLoss, WindowClosedDuringALossEndsTheRetries)
{
    const WindowInfo window = startOnWindow(h);
    h.source->interruptStreams(lostError());
    ASSERT_TRUE(h.events.waitFor(line(Line::screenLost), 2));
    h.source->removeWindow(window.id);
    ASSERT_TRUE(h.events.waitFor(line(Line::windowClosed), 4));
    spin(2.5);
    EXPECT_EQ(h.events.count(line(Line::windowClosed)), 1);
    EXPECT_EQ(h.source->runningStreams(), 0);
    ASSERT_TRUE(h.engine->stop());
}

TEST_F(RecorderEngineLoss, ClosedWindowDuringDeepPause)
{
    h.engine->setTierDelays(0.2, 0.4);
    const WindowInfo window = startOnWindow(h);
    h.engine->pause();
    ASSERT_TRUE(h.events.waitFor(line(Line::deep), 2));
    h.source->removeWindow(window.id);
    h.engine->resume();
    ASSERT_TRUE(h.events.waitFor(QStringLiteral("Failed to resume capture: Can't find this window."), 3));
    EXPECT_TRUE(h.events.waitFor(line(Line::windowClosed), 1));
    EXPECT_EQ(h.events.count(line(Line::screenLost)), 0);
}
