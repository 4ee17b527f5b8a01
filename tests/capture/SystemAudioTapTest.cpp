#include "capture/SystemAudioTap.h"
#include "platform/AudioInputError.h"
#include "platform/synthetic/SyntheticAudioInput.h"
#include "support/TempHome.h"

#include <QFile>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace corvessa;
using Stage = AudioInputError::Stage;

namespace {

class SystemAudioTapTest : public ::testing::Test {
protected:
    std::shared_ptr<SyntheticAudioInput> input = std::make_shared<SyntheticAudioInput>();
    std::atomic<int> buffers{0};
    SystemAudioTap::Handler counter()
    {
        return [this](SampleBuffer) { ++buffers; };
    }
    bool receives(int more = 3)
    {
        const int from = buffers;
        return QTest::qWaitFor([&] { return buffers >= from + more; }, 3000);
    }
    QString prepareError(SystemAudioTap& tap)
    {
        try {
            tap.prepare();
        } catch (const SystemAudioTap::TapError& e) {
            return e.errorDescription;
        }
        return {};
    }
};

} // namespace

TEST_F(SystemAudioTapTest, DeliversOnItsOwnQueueUntilStopped)
{
    SystemAudioTap tap(false, {}, input);
    tap.prepare();
    ASSERT_TRUE(tap.format());
    EXPECT_EQ(*tap.format(), AudioFormat::floatFormat(48000, 2));
    std::set<std::thread::id> threads;
    std::mutex mutex;
    tap.start([&](SampleBuffer b) {
        std::lock_guard lock(mutex);
        threads.insert(std::this_thread::get_id());
        EXPECT_EQ(b.frameCount(), 480u);
        ++buffers;
    });
    EXPECT_TRUE(tap.isRunning());
    EXPECT_TRUE(receives());
    tap.stop();
    const int stopped = buffers;
    QTest::qWait(60);
    EXPECT_EQ(buffers, stopped);
    EXPECT_FALSE(tap.isRunning());
    EXPECT_FALSE(tap.hasHandler());
    std::lock_guard lock(mutex);
    ASSERT_EQ(threads.size(), 1u);
    EXPECT_NE(*threads.begin(), std::this_thread::get_id());
}

TEST_F(SystemAudioTapTest, EachFailingStepHasItsTranslatedMessage)
{
    const struct {
        Stage stage;
        bool mute;
        const char* english;
    } cases[] = {
        {Stage::Connect, false, "Failed to enable system audio recording (Connection refused)"},
        {Stage::Route, true, "Failed to create recording device (Connection refused)"},
        {Stage::Format, false, "Can't read the system audio format (Connection refused)."},
        {Stage::Stream, false, "Failed to read system audio (Connection refused)"},
    };
    for (const auto& c : cases) {
        input->failAt(c.stage, QStringLiteral("Connection refused"));
        SystemAudioTap tap(c.mute, {}, input);
        EXPECT_EQ(prepareError(tap), QString::fromUtf8(c.english));
        EXPECT_FALSE(tap.isRunning());
        tap.stop(); // harmless after a failed prepare
    }

    const TextLookup german = [](const QString& key) {
        return key == QLatin1String("Failed to enable system audio recording (%@)")
            ? QStringLiteral("Systemaudio-Aufnahme konnte nicht aktiviert werden (%@)")
            : QString();
    };
    input->failAt(Stage::Connect, QStringLiteral("7"));
    SystemAudioTap translated(false, german, input);
    EXPECT_EQ(prepareError(translated), QStringLiteral("Systemaudio-Aufnahme konnte nicht aktiviert werden (7)"));
}

TEST_F(SystemAudioTapTest, AFailedPrepareCanBeRetried)
{
    input->failAt(Stage::Connect, QStringLiteral("gone"));
    SystemAudioTap tap(false, {}, input);
    EXPECT_FALSE(prepareError(tap).isEmpty());
    input->failAt(std::nullopt);
    EXPECT_TRUE(prepareError(tap).isEmpty());
    tap.start(counter());
    EXPECT_TRUE(receives());
    tap.stop();
}

TEST_F(SystemAudioTapTest, AFailedStartKeepsTheHandlerUntilStop)
{
    SystemAudioTap unprepared(false, {}, input);
    try {
        unprepared.start(counter());
        FAIL();
    } catch (const SystemAudioTap::TapError& e) {
        EXPECT_EQ(e.errorDescription, QStringLiteral("Failed to read system audio (not prepared)"));
    }

    input->failAt(Stage::Start, QStringLiteral("-3"));
    SystemAudioTap tap(false, {}, input);
    tap.prepare();
    try {
        tap.start(counter());
        FAIL();
    } catch (const SystemAudioTap::TapError& e) {
        EXPECT_EQ(e.errorDescription, QStringLiteral("Failed to start recording (-3)"));
    }
    EXPECT_FALSE(tap.isRunning());
    EXPECT_TRUE(tap.hasHandler());
    tap.stop();
    EXPECT_FALSE(tap.hasHandler());
}

TEST_F(SystemAudioTapTest, PauseHoldsDeliveryAndResumeRestartsIt)
{
    SystemAudioTap tap(false, {}, input);
    tap.prepare();
    tap.start(counter());
    ASSERT_TRUE(receives());
    tap.pause();
    EXPECT_FALSE(tap.isRunning());
    QTest::qWait(30);
    const int paused = buffers;
    QTest::qWait(80);
    EXPECT_EQ(buffers, paused);
    tap.resume();
    EXPECT_TRUE(tap.isRunning());
    EXPECT_TRUE(receives());
    EXPECT_EQ(input->openedStreams(), 1); // no rebuild
    tap.stop();
}

TEST_F(SystemAudioTapTest, MuteChangesRebuildAtOnceWhileRunningAndAtResumeWhilePaused)
{
    SystemAudioTap tap(false, {}, input);
    tap.prepare();
    tap.start(counter());
    tap.setMute(false); // the same value: nothing happens
    EXPECT_EQ(input->openedStreams(), 1);

    tap.setMute(true);
    EXPECT_TRUE(tap.muteSpeakers());
    EXPECT_EQ(input->openedStreams(), 2);
    EXPECT_EQ(input->activeRoutes(), 1);
    EXPECT_TRUE(tap.isRunning());
    EXPECT_TRUE(receives()); // the kept handler goes on

    tap.pause();
    tap.setMute(false);
    EXPECT_TRUE(tap.needsRebuild());
    EXPECT_EQ(input->activeRoutes(), 1);
    tap.resume();
    EXPECT_FALSE(tap.needsRebuild());
    EXPECT_EQ(input->activeRoutes(), 0);
    EXPECT_EQ(input->openedStreams(), 3);
    EXPECT_TRUE(tap.isRunning());
    EXPECT_TRUE(receives());
    tap.stop();
}

TEST_F(SystemAudioTapTest, AFailedRebuildLeavesTheTapNotRunning)
{
    SystemAudioTap tap(false, {}, input);
    tap.prepare();
    tap.start(counter());
    input->failAt(Stage::Route, QStringLiteral("no module"));
    tap.setMute(true); // throws nothing
    EXPECT_FALSE(tap.isRunning());
    EXPECT_EQ(input->activeRoutes(), 0);
    tap.stop();
}

TEST_F(SystemAudioTapTest, StoppingOrDestroyingAMutedTapUndoesItsRoute)
{
    {
        SystemAudioTap tap(true, {}, input);
        tap.prepare();
        tap.start(counter());
        EXPECT_EQ(input->activeRoutes(), 1);
    }
    EXPECT_EQ(input->activeRoutes(), 0);
}

TEST_F(SystemAudioTapTest, RecoveryAfterACrashLogsWhatItUndid)
{
    corvessa::test::TempHome home;
    input->setLeftoverTaps(1);
    EXPECT_EQ(SystemAudioTap::recoverAfterCrash(input), 1);
    EXPECT_EQ(SystemAudioTap::recoverAfterCrash(input), 0);
    QFile log(home.file(QStringLiteral(".local/state/Recorder/recorder.log")));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    EXPECT_EQ(text.count("[sys-audio] restored the audio output muted by an interrupted run (1)"), 1);

    input->failAt(Stage::Connect);
    EXPECT_EQ(SystemAudioTap::recoverAfterCrash(input), 0);
}
