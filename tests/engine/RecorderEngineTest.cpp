#include "engine/EngineTestSupport.h"

#include "engine/compositor/FocusState.h"
#include "engine/RecordingTarget.h"
#include "engine/RecoveryJournal.h"
#include "platform/AudioCaptureStream.h"
#include "platform/AudioInputError.h"
#include "platform/core/HostClock.h"
#include "platform/core/UserDefaults.h"

#include <QFile>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace corvessa;
using namespace corvessa::test;
using Line = RecorderEngine::Line;
using Tier = RecorderEngine::PauseTier;

namespace {

// Each test starts with a fresh harness `h` (the suite named like the engine has its own in each test).
using RecorderEngineStart = EngineTest;
using RecorderEnginePause = EngineTest;
using RecorderEngineWatchdogs = EngineTest;
using RecorderEngineWriter = EngineTest;

// A microphone that is there but never delivers a sample.
class SilentAudioInput : public AudioInput {
public:
    class Stream : public AudioCaptureStream {
    public:
        AudioFormat format() const override { return AudioFormat::floatFormat(48000, 1); }
        void start(Handler) override {}
        void pause() override {}
        void resume() override {}
        void stop() override {}
    };
    std::vector<AudioDevice> sources() override
    {
        return {{QStringLiteral("silent"), QStringLiteral("Silent"), AudioFormat::floatFormat(48000, 1), true}};
    }
    std::optional<AudioSink> defaultSink() override { return std::nullopt; }
    std::unique_ptr<AudioCaptureStream> openSource(const StreamRequest&) override { return std::make_unique<Stream>(); }
    std::unique_ptr<AudioCaptureStream> openSystemAudio(bool, const QString&) override { return std::make_unique<Stream>(); }
    int recoverLeftoverTaps() override { return 0; }
    Observation observeSources(std::function<void()>) override { return std::make_shared<char>(0); }
};

} // namespace

// MARK: - Sizes

TEST(RecorderEngineSizes, WorkedExamples)
{
    auto retina = RecordingTarget::pixelSizes(QSizeF(1440, 900), 2, 1080);
    EXPECT_EQ(retina.full, QSize(2880, 1800));
    EXPECT_EQ(retina.output, QSize(1728, 1080));

    EXPECT_EQ(RecordingTarget::pixelSizes(QSizeF(301, 201), 1, std::nullopt).output, QSize(300, 200));
    EXPECT_EQ(RecordingTarget::pixelSizes(QSizeF(1, 1), 1, std::nullopt).output, QSize(2, 2));
    // A short side already within the bound is left alone.
    EXPECT_EQ(RecordingTarget::pixelSizes(QSizeF(1280, 720), 1, 1080).output, QSize(1280, 720));
    // Halves round away from zero before the odd side drops one: 4.5 -> 5 -> 4.
    EXPECT_EQ(RecordingTarget::pixelSizes(QSizeF(4.5, 6.5), 1, std::nullopt).output, QSize(4, 6));
}

// MARK: - A recording from start to stop

TEST(RecorderEngine, RecordsAndFinishesAMovie)
{
    EngineHarness h;
    const auto config = h.config();
    ASSERT_FALSE(h.engine->startInner(config));
    EXPECT_EQ(h.engine->state(), RecorderEngine::State::recording);
    EXPECT_EQ(h.events.count(QStringLiteral("Started recording 320x180@30")), 1);
    EXPECT_TRUE(waitUntil([&] { return h.power->holdCount() == 1; }, 2));
    EXPECT_TRUE(QFile::exists(RecoveryJournal::file()));

    ASSERT_TRUE(waitUntil([&] { return h.videoFrames() >= 30; }, 5));
    EXPECT_GT(h.engine->effectiveSeconds(), 0.5);
    const auto path = h.engine->stop();
    ASSERT_TRUE(path);
    EXPECT_EQ(*path, config.outputURL);
    EXPECT_EQ(h.engine->state(), RecorderEngine::State::idle);

    auto w = h.writer();
    ASSERT_TRUE(w);
    EXPECT_EQ(w->status(), MovieWriter::Status::Completed);
    ASSERT_TRUE(w->sessionStart() && w->sessionEnd());
    const double movieSeconds = (*w->sessionEnd() - *w->sessionStart()).seconds();
    // The audio track reaches the end of the last frame.
    EXPECT_NEAR(double(w->appendedAudioFrames()) / 48000.0, movieSeconds, 0.011);
    const auto video = w->appended(MovieWriter::Input::Video);
    ASSERT_FALSE(video.empty());
    EXPECT_EQ(video.front().time, *w->sessionStart());
    EXPECT_EQ(video.front().width, 320);
    EXPECT_EQ(video.front().height, 180);
    for (size_t i = 1; i < video.size(); ++i)
        EXPECT_LT(video[i - 1].time, video[i].time);

    const auto settings = w->settings();
    ASSERT_TRUE(settings.video && settings.audio);
    EXPECT_EQ(settings.video->width, 320);
    EXPECT_EQ(settings.video->expectedFrameRate, 30);
    EXPECT_FALSE(settings.video->allowFrameReordering);
    EXPECT_TRUE(settings.video->colorTags);
    EXPECT_EQ(settings.audio->sampleRate, 48000);
    EXPECT_EQ(settings.audio->channels, 2);
    EXPECT_EQ(settings.audio->bitRate, 128000);
    EXPECT_EQ(settings.fragmentInterval, 2.0);

    const auto lines = h.events.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.back(), QStringLiteral("File completed"));
    EXPECT_TRUE(lines[lines.size() - 2].startsWith(QStringLiteral("[audio-sync] late=")));
    EXPECT_EQ(h.events.countStartingWith(QStringLiteral("Microphone format: 48000 Hz, 1 channel(s), 32 bit, flags=0x")), 1);
    EXPECT_GT(h.events.micLevels(), 10);
    EXPECT_FALSE(QFile::exists(RecoveryJournal::file()));
    EXPECT_TRUE(waitUntil([&] { return h.power->holdCount() == 0; }, 2));

    // A stop with nothing recording changes nothing, and neither does a
    // clean-up meant for failed starts: the finished movie stays.
    h.events.clear();
    EXPECT_FALSE(h.engine->stop());
    h.engine->cleanUpAfterFailedStart();
    EXPECT_TRUE(h.events.lines().empty());
    EXPECT_TRUE(QFile::exists(*path));
    EXPECT_EQ(w->status(), MovieWriter::Status::Completed);
}

TEST(RecorderEngine, SameEngineRecordsAgain)
{
    EngineHarness h;
    ASSERT_FALSE(h.engine->startInner(h.config()));
    ASSERT_TRUE(waitUntil([&] { return h.videoFrames(0) >= 5; }, 5));
    ASSERT_TRUE(h.engine->stop());
    auto second = h.config();
    second.outputURL = QDir(h.home.path()).filePath(QStringLiteral("Second.mov"));
    ASSERT_FALSE(h.engine->startInner(second));
    ASSERT_TRUE(waitUntil([&] { return h.videoFrames(1) >= 5; }, 5));
    EXPECT_EQ(h.engine->stop(), second.outputURL);
    EXPECT_EQ(h.engine->stats().writtenVideo, int64_t(h.videoFrames(1)));
}

// MARK: - Start errors

TEST_F(RecorderEngineStart, RefusesFrameRatesOutsideOneTo120)
{
    for (int fps : {0, -5, 121, 1000}) {
        const auto error = h.engine->startInner(h.config(fps));
        ASSERT_TRUE(error) << fps;
        EXPECT_EQ(error->domain, QStringLiteral("Recorder"));
        EXPECT_EQ(error->code, 1);
        EXPECT_EQ(error->message, QStringLiteral("The frame rate must be between 1 and 120 frames per second."));
        h.engine->cleanUpAfterFailedStart();
        EXPECT_EQ(h.engine->state(), RecorderEngine::State::idle);
    }
    EXPECT_TRUE(h.writers->empty());
    EXPECT_EQ(h.source->runningStreams(), 0);

    ASSERT_FALSE(h.engine->startInner(h.config(120)));
    EXPECT_EQ(h.events.count(QStringLiteral("Started recording 320x180@120")), 1);
}

TEST_F(RecorderEngineStart, TargetErrors)
{
    auto config = h.config();
    config.target = RecorderEngine::Target::window(4242);
    auto error = h.engine->startInner(config);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->message, QStringLiteral("Can't find this window (it may have been closed). Please select it again."));
    h.engine->cleanUpAfterFailedStart();

    config.target = RecorderEngine::Target::area(77, QRectF(0, 0, 100, 100));
    error = h.engine->startInner(config);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->message, QStringLiteral("The screen containing the selection is no longer available. Please select again."));
    h.engine->cleanUpAfterFailedStart();

    h.source->setDisplays({});
    config.target = RecorderEngine::Target::display(h.display.id);
    error = h.engine->startInner(config);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->message, QStringLiteral("No screen available to record"));
    h.engine->cleanUpAfterFailedStart();

    const RecorderError refused{QStringLiteral("ScreenCapture"), 9, QStringLiteral("Refused")};
    h.source->setDisplays({h.display});
    h.source->setContentError(refused);
    EXPECT_EQ(h.engine->startInner(config), refused);
    h.engine->cleanUpAfterFailedStart();
    EXPECT_TRUE(h.writers->empty());
}

TEST_F(RecorderEngineStart, FailedStreamStartIsCleanedUp)
{
    const RecorderError refused{QStringLiteral("ScreenCapture"), 9, QStringLiteral("Refused")};
    h.source->setStartError(refused);
    const auto config = h.config();
    EXPECT_EQ(h.engine->startInner(config), refused);
    ASSERT_TRUE(h.writer());
    EXPECT_TRUE(QFile::exists(config.outputURL));
    h.engine->cleanUpAfterFailedStart();
    EXPECT_EQ(h.writer()->status(), MovieWriter::Status::Cancelled);
    EXPECT_FALSE(QFile::exists(config.outputURL));
    EXPECT_FALSE(QFile::exists(RecoveryJournal::file()));
    EXPECT_EQ(h.power->holdCount(), 0);

    // The same engine starts normally afterwards.
    h.source->setStartError(std::nullopt);
    ASSERT_FALSE(h.engine->startInner(config));
    EXPECT_EQ(h.source->runningStreams(), 1);
}

TEST_F(RecorderEngineStart, ASecondStartLeavesTheRunningRecordingAlone)
{
    ASSERT_FALSE(h.engine->startInner(h.config()));
    const auto error = h.engine->startInner(h.config());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->message, QStringLiteral("A recording is already in progress."));
    // The owner cleans up after every failed start; that must not end this one.
    h.engine->cleanUpAfterFailedStart();
    EXPECT_EQ(h.engine->state(), RecorderEngine::State::recording);
    EXPECT_EQ(h.source->runningStreams(), 1);
    ASSERT_TRUE(waitUntil([&] { return h.videoFrames() >= 3; }, 5));
    ASSERT_TRUE(h.engine->stop());
}

TEST_F(RecorderEngineStart, ConcurrentStartsRunOneRecording)
{
    std::optional<RecorderError> a, b;
    std::thread first([&] { a = h.engine->startInner(h.config()); });
    std::thread second([&] { b = h.engine->startInner(h.config()); });
    first.join();
    second.join();
    EXPECT_NE(bool(a), bool(b));
    const auto& refused = a ? a : b;
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->message, QStringLiteral("A recording is already in progress."));
    EXPECT_EQ(h.writers->size(), 1u);
    EXPECT_EQ(h.source->runningStreams(), 1);
    EXPECT_EQ(h.engine->state(), RecorderEngine::State::recording);
}

TEST_F(RecorderEngineStart, VanishedDisplayRecordsThePrimary)
{
    auto other = testDisplay(QStringLiteral("TEST-2"), GlobalRect(320, 0, 160, 90), 1, false);
    h.source->setDisplays({other, h.display});
    auto config = h.config();
    config.target = RecorderEngine::Target::display(12345);
    ASSERT_FALSE(h.engine->startInner(config));
    EXPECT_EQ(h.events.count(QStringLiteral("Started recording 320x180@30")), 1);
}

TEST_F(RecorderEngineStart, SizesOfTheTargets)
{
    {
        EngineHarness h(false, QSizeF(1440, 900));
        h.source->setDisplays({testDisplay(QStringLiteral("TEST-1"), GlobalRect(0, 0, 1440, 900), 2)});
        auto config = h.config(30, false);
        config.maxShortSide = 1080;
        ASSERT_FALSE(h.engine->startInner(config));
        EXPECT_EQ(h.events.count(QStringLiteral("Started recording 1728x1080@30")), 1);
        ASSERT_EQ(h.source->runningConfigurations().size(), 1u);
        EXPECT_EQ(h.source->runningConfigurations()[0].width, 1728);
        EXPECT_EQ(h.source->runningConfigurations()[0].height, 1080);
        EXPECT_EQ(h.writer()->settings().video->width, 1728);
        h.engine->stop();

        // A crisp zoom captures at full size and writes the movie's size.
        config.focus = std::make_shared<FocusState>();
        config.focusCrisp = true;
        ASSERT_FALSE(h.engine->startInner(config));
        ASSERT_EQ(h.source->runningConfigurations().size(), 1u);
        EXPECT_EQ(h.source->runningConfigurations()[0].width, 2880);
        EXPECT_EQ(h.source->runningConfigurations()[0].height, 1800);
        EXPECT_EQ(h.writer(1)->settings().video->width, 1728);
        EXPECT_EQ(h.writer(1)->settings().video->height, 1080);
        ASSERT_TRUE(waitUntil([&] { return h.videoFrames(1) >= 3; }, 5));
        const auto frames = h.writer(1)->appended(MovieWriter::Input::Video);
        EXPECT_EQ(frames.front().width, 1728);
        h.engine->stop();
    }
    {
        EngineHarness h;
        WindowInfo window;
        window.id = 0x400001;
        window.ownerPid = 99999;
        window.frame = QRectF(10, 10, 301, 201);
        window.displayId = h.display.id;
        h.source->setWindows({window});
        auto config = h.config(30, false);
        config.target = RecorderEngine::Target::window(window.id);
        ASSERT_FALSE(h.engine->startInner(config));
        EXPECT_EQ(h.events.count(QStringLiteral("Started recording 300x200@30")), 1);
        h.engine->stop();

        config.target = RecorderEngine::Target::area(h.display.id, QRectF(5, 5, 1, 1));
        ASSERT_FALSE(h.engine->startInner(config));
        EXPECT_EQ(h.events.count(QStringLiteral("Started recording 2x2@30")), 1);
        ASSERT_EQ(h.source->runningConfigurations().size(), 1u);
        EXPECT_EQ(h.source->runningConfigurations()[0].sourceRect, QRectF(5, 5, 1, 1));
    }
}

TEST_F(RecorderEngineStart, RefusedMicrophoneRecordsWithoutIt)
{
    h.engine->setMicrophoneAccess([] { return false; });
    ASSERT_FALSE(h.engine->startInner(h.config()));
    EXPECT_EQ(h.events.count(line(Line::noMicPermission)), 1);
    ASSERT_EQ(h.source->runningConfigurations().size(), 1u);
    EXPECT_FALSE(h.source->runningConfigurations()[0].captureMicrophone);
    ASSERT_TRUE(waitUntil([&] { return h.videoFrames() >= 10; }, 5));
    ASSERT_TRUE(h.engine->stop());
    // Its sound track is silence, as long as the picture: every player opens it.
    const auto w = h.writer();
    ASSERT_TRUE(w->sessionStart() && w->sessionEnd());
    const int64_t endFrame = AudioTimelineMixer::outputFrame(*w->sessionEnd(), *w->sessionStart());
    EXPECT_EQ(int64_t(w->appendedAudioFrames()), endFrame);
    for (const auto& sound : w->appended(MovieWriter::Input::Audio))
        ASSERT_EQ(sound.silentFrames, sound.audioFrames);
}

TEST_F(RecorderEngineStart, SystemAudioFailureIsNotFatal)
{
    h.audio->failAt(AudioInputError::Stage::Connect, QStringLiteral("Connection refused"));
    auto config = h.config(30, false);
    config.systemAudio = true;
    ASSERT_FALSE(h.engine->startInner(config));
    const auto failed = h.events.firstStartingWith(line(Line::systemAudioFailed));
    ASSERT_TRUE(failed);
    EXPECT_GT(failed->size(), line(Line::systemAudioFailed).size());
    EXPECT_EQ(h.engine->state(), RecorderEngine::State::recording);
    EXPECT_EQ(UserDefaults::standard().integer(QStringLiteral("sysAudioAuth")), std::optional<qint64>(2));
}

TEST_F(RecorderEngineStart, SystemAudioIsMixedIn)
{
    auto config = h.config(30, false);
    config.systemAudio = true;
    ASSERT_FALSE(h.engine->startInner(config));
    EXPECT_EQ(h.events.countStartingWith(line(Line::systemAudioFailed)), 0);
    ASSERT_TRUE(waitUntil([&] { return h.writer()->appendedAudioFrames() >= 24000; }, 5));
    ASSERT_TRUE(h.engine->stop());
}

TEST_F(RecorderEngineStart, SoundCaughtBeforeTheFirstFrameArrivesIsKeptFromThatFrameOn)
{
    // The first frame reaches the engine 1.5 s after the time it carries, as on
    // a busy machine where grabbing and converting it takes that long; the
    // sources have delivered that moment long before. The movie's sound starts
    // with its picture, and nothing of it is lost, for the microphone and for
    // system audio alike.
    h.source->setFirstFrameDelay(1.5);
    for (const bool microphone : {true, false}) {
        auto config = h.config(30, microphone);
        config.systemAudio = !microphone;
        config.outputURL = QDir(h.home.path()).filePath(microphone ? QStringLiteral("Mic.mov") : QStringLiteral("Sys.mov"));
        ASSERT_FALSE(h.engine->startInner(config));
        const size_t n = microphone ? 0 : 1;
        ASSERT_TRUE(waitUntil([&] { return h.writer(n) && h.writer(n)->appendedAudioFrames() >= 24000; }, 10));
        ASSERT_TRUE(h.engine->stop());
        const auto sound = h.writer(n)->appended(MovieWriter::Input::Audio);
        ASSERT_FALSE(sound.empty());
        EXPECT_EQ(sound.front().time, *h.writer(n)->sessionStart());
        size_t silent = 0;
        for (size_t i = 0; i < 20; ++i) // the first 0.2 s
            silent += sound[i].silentFrames;
        EXPECT_LE(silent, 2u) << (microphone ? "microphone" : "system audio");
        EXPECT_EQ(h.engine->stats().audioDiscarded + h.engine->stats().audioOverlap, 0);
    }
}

// MARK: - Pause tiers

TEST_F(RecorderEnginePause, TiersAndResumeFromDeep)
{
    h.engine->setTierDelays(0.3, 0.8);
    ASSERT_FALSE(h.engine->startInner(h.config()));
    ASSERT_TRUE(waitUntil([&] { return h.videoFrames() >= 15; }, 5));

    std::atomic<bool> called{false};
    h.engine->pause([&] { called = true; });
    ASSERT_TRUE(waitUntil([&] { return called.load(); }, 2));
    EXPECT_EQ(h.engine->state(), RecorderEngine::State::paused);
    const double effectiveAtPause = h.engine->effectiveSeconds();

    ASSERT_TRUE(h.events.waitFor(line(Line::eco), 2));
    // The stream takes the slower rate on the control queue, after the line.
    EXPECT_TRUE(waitUntil([&] {
        const auto running = h.source->runningConfigurations();
        return running.size() == 1 && running[0].minimumFrameInterval == MediaTime(1, 1);
    }, 5));
    ASSERT_TRUE(h.events.waitFor(line(Line::deep), 2));
    EXPECT_TRUE(waitUntil([&] { return h.source->runningStreams() == 0; }, 2));
    EXPECT_TRUE(waitUntil([&] { return h.power->holdCount() == 0; }, 2));
    const size_t framesWhilePaused = h.videoFrames();
    spin(0.3);
    EXPECT_EQ(h.videoFrames(), framesWhilePaused);
    EXPECT_DOUBLE_EQ(h.engine->effectiveSeconds(), effectiveAtPause);

    h.engine->resume();
    ASSERT_TRUE(h.events.waitFor(QStringLiteral("Resumed (previous level: deep)"), 3));
    EXPECT_EQ(h.source->runningStreams(), 1);
    EXPECT_EQ(h.source->runningConfigurations()[0].minimumFrameInterval, MediaTime(1, 30));
    EXPECT_TRUE(waitUntil([&] { return h.power->holdCount() == 1; }, 2));
    ASSERT_TRUE(waitUntil([&] { return h.videoFrames() >= framesWhilePaused + 15; }, 5));

    const auto tiers = h.events.tiers();
    const std::vector<std::optional<Tier>> expected{Tier::instant, Tier::eco, Tier::deep, std::nullopt};
    EXPECT_EQ(tiers, expected);
    EXPECT_EQ(h.events.count(line(Line::paused)), 1);

    ASSERT_TRUE(h.engine->stop());
    // The movie leaves the pause out: it lasts the recorded time only.
    auto w = h.writer();
    const double movie = (*w->sessionEnd() - *w->sessionStart()).seconds();
    EXPECT_NEAR(movie, h.engine->effectiveSeconds() + 1.0 / 30, 0.05);
    EXPECT_LT(movie, double(w->appended(MovieWriter::Input::Video).size()) / 30 + 0.5);
}

TEST_F(RecorderEnginePause, ShortPauseAndEcoResume)
{
    h.engine->setTierDelays(0.3, 60);
    ASSERT_FALSE(h.engine->startInner(h.config()));
    ASSERT_TRUE(waitUntil([&] { return h.videoFrames() >= 5; }, 5));

    h.engine->pause();
    ASSERT_TRUE(h.events.waitFor(line(Line::paused), 2));
    h.engine->resume();
    ASSERT_TRUE(h.events.waitFor(QStringLiteral("Resumed (previous level: instant)"), 2));
    EXPECT_EQ(h.events.count(line(Line::eco)), 0);

    h.engine->pause();
    ASSERT_TRUE(h.events.waitFor(line(Line::eco), 2));
    h.engine->resume();
    ASSERT_TRUE(h.events.waitFor(QStringLiteral("Resumed (previous level: eco)"), 2));
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto c = h.source->runningConfigurations();
            return c.size() == 1 && c[0].minimumFrameInterval == MediaTime(1, 30);
        },
        2));
    // Only the one stream: an eco resume reconfigures, it does not rebuild.
    EXPECT_EQ(h.source->runningStreams(), 1);
    // A pause cuts the timeline once per pause.
    EXPECT_EQ(h.events.count(line(Line::paused)), 2);
}

TEST_F(RecorderEnginePause, PauseWhileIdleDoesNothing)
{
    std::atomic<bool> called{false};
    h.engine->pause([&] { called = true; });
    h.engine->resume();
    spin(0.2);
    EXPECT_FALSE(called.load());
    EXPECT_TRUE(h.events.lines().empty());
    EXPECT_TRUE(h.events.tiers().empty());
}

TEST_F(RecorderEnginePause, ResumeOnAStillScreenFillsWithTheLastFrame)
{
    ASSERT_FALSE(h.engine->startInner(h.config()));
    ASSERT_TRUE(waitUntil([&] { return h.videoFrames() >= 5; }, 5));
    h.source->setDeliveryPaused(true);
    h.engine->pause();
    ASSERT_TRUE(h.events.waitFor(line(Line::paused), 2));
    h.engine->resume();
    ASSERT_TRUE(h.events.waitFor(line(Line::resumeFilled), 2.5));
    EXPECT_EQ(h.events.count(line(Line::resumeFilled)), 1);
    // The heartbeat then keeps the movie going with the last picture.
    const size_t filled = h.videoFrames();
    ASSERT_TRUE(waitUntil([&] { return h.videoFrames() > filled; }, 2));
    EXPECT_GT(h.engine->stats().repeatedVideo, 0);
}

TEST_F(RecorderEnginePause, StopWhilePaused)
{
    ASSERT_FALSE(h.engine->startInner(h.config()));
    ASSERT_TRUE(waitUntil([&] { return h.videoFrames() >= 10; }, 5));
    h.engine->pause();
    ASSERT_TRUE(h.events.waitFor(line(Line::paused), 2));
    spin(0.3);
    const auto path = h.engine->stop();
    ASSERT_TRUE(path);
    auto w = h.writer();
    const auto video = w->appended(MovieWriter::Input::Video);
    // The movie ends one frame after the last frame before the pause.
    EXPECT_EQ(*w->sessionEnd(), video.back().time + MediaTime(1, 30));
    EXPECT_EQ(h.events.tiers().back(), std::nullopt);
}

// MARK: - Watchdogs

TEST_F(RecorderEngineWatchdogs, LowDiskSpaceIsReportedOnce)
{
    std::atomic<int> probes{0};
    h.engine->setFreeSpaceProbe([&](const QString& folder) -> std::optional<uint64_t> {
        EXPECT_EQ(folder, QFileInfo(h.config().outputURL).absolutePath());
        // Enough at the start, then the disk fills.
        return ++probes == 1 ? uint64_t(4) << 30 : uint64_t(1073741823);
    });
    ASSERT_FALSE(h.engine->startInner(h.config()));
    ASSERT_TRUE(h.events.waitForPrefix(line(Line::lowDisk), 2));
    EXPECT_EQ(h.events.count(QStringLiteral("Insufficient disk space (remaining 1023 MB), stopped and saved automatically.")), 1);
    spin(0.5);
    EXPECT_EQ(probes.load(), 2);
    EXPECT_EQ(h.engine->state(), RecorderEngine::State::recording);
}

TEST_F(RecorderEngineWatchdogs, OneGibibyteIsEnoughAndChecksAreTenSecondsApart)
{
    std::atomic<int> probes{0};
    h.engine->setFreeSpaceProbe([&](const QString&) -> std::optional<uint64_t> {
        ++probes;
        return uint64_t(1073741824);
    });
    ASSERT_FALSE(h.engine->startInner(h.config()));
    spin(1.5);
    EXPECT_EQ(h.events.countStartingWith(line(Line::lowDisk)), 0);
    EXPECT_EQ(probes.load(), 2); // the start's, then the first check's
}

TEST_F(RecorderEngineWatchdogs, TooLittleDiskRefusesToStart)
{
    h.engine->setFreeSpaceProbe([](const QString&) -> std::optional<uint64_t> { return uint64_t(1073741823); });
    const auto error = h.engine->startInner(h.config());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->message, QStringLiteral("Not enough free disk space to record: at least 1 GB is needed."));
    h.engine->cleanUpAfterFailedStart();
    EXPECT_EQ(h.engine->state(), RecorderEngine::State::idle);
    EXPECT_TRUE(h.writers->empty()); // no file was begun
    EXPECT_FALSE(QFile::exists(h.config().outputURL));
    EXPECT_FALSE(QFile::exists(RecoveryJournal::file()));
    EXPECT_EQ(h.events.countStartingWith(line(Line::lowDisk)), 0);
}

TEST_F(RecorderEngineWatchdogs, ADiskThatFilledUnderTheWriterIsNeverCalledSaved)
{
    std::atomic<int> probes{0};
    h.engine->setFreeSpaceProbe([&](const QString&) -> std::optional<uint64_t> {
        if (++probes == 1)
            return uint64_t(4) << 30;
        // Filled between the checks: the writer has already hit the wall.
        if (auto w = h.writer())
            w->failNow(RecorderError{MovieWriter::errorDomain, 28, QStringLiteral("No space left on device")});
        return uint64_t(0);
    });
    ASSERT_FALSE(h.engine->startInner(h.config()));
    ASSERT_TRUE(h.events.waitForPrefix(line(Line::saveFailed), 3));
    EXPECT_FALSE(h.engine->stop());
    EXPECT_EQ(h.events.countStartingWith(line(Line::lowDisk)), 0);
    EXPECT_EQ(h.events.countStartingWith(line(Line::saveFailed)), 1);
    EXPECT_EQ(h.events.count(line(Line::completed)), 0);
}

TEST_F(RecorderEngineWatchdogs, UnknownFreeSpaceSaysNothing)
{
    h.engine->setFreeSpaceProbe([](const QString&) -> std::optional<uint64_t> { return std::nullopt; });
    ASSERT_FALSE(h.engine->startInner(h.config()));
    spin(0.5);
    EXPECT_EQ(h.events.countStartingWith(line(Line::lowDisk)), 0);
}

TEST_F(RecorderEngineWatchdogs, SilentMicrophoneIsReportedOnce)
{
    h.source->setAudioInput(std::make_shared<SilentAudioInput>());
    ASSERT_FALSE(h.engine->startInner(h.config()));
    spin(3.0);
    EXPECT_EQ(h.events.count(line(Line::micDead)), 0);
    ASSERT_TRUE(h.events.waitFor(line(Line::micDead), 3));
    spin(0.5);
    EXPECT_EQ(h.events.count(line(Line::micDead)), 1);
    // Screen recording goes on.
    const size_t frames = h.videoFrames();
    ASSERT_TRUE(waitUntil([&] { return h.videoFrames() > frames + 5; }, 2));
}

TEST_F(RecorderEngineWatchdogs, MicrophoneSilenceCountsFromTheStreamsStart)
{
    // A start that takes seconds on a busy machine (the encoder's set-up) is no
    // time the microphone owed any sound.
    h.source->setAudioInput(std::make_shared<SilentAudioInput>());
    h.configureWriter = [](RecordingMovieWriter&) { std::this_thread::sleep_for(std::chrono::seconds(3)); };
    ASSERT_FALSE(h.engine->startInner(h.config()));
    spin(2.0);
    EXPECT_EQ(h.events.count(line(Line::micDead)), 0);
}

TEST_F(RecorderEngineWatchdogs, LiveMicrophoneIsNotReported)
{
    ASSERT_FALSE(h.engine->startInner(h.config()));
    spin(4.6);
    EXPECT_EQ(h.events.count(line(Line::micDead)), 0);
}

// The seconds of each micGap line sent, in order.
std::vector<double> statedMicGaps(const EngineEvents& events)
{
    const QString words = Line::micGap.prefix();
    std::vector<double> gaps;
    for (const QString& l : events.lines())
        if (l.startsWith(words))
            gaps.push_back(l.mid(words.size()).section(QLatin1Char(' '), 0, 0).toDouble());
    return gaps;
}

// A microphone that stops delivering shortly before the stop, too shortly for
// the "no data" watchdog, and never comes back: the stop tells its gap once,
// in the seconds it was gone. One that delivers to the end is not told.
TEST_F(RecorderEngineWatchdogs, MicrophoneStillGoneAtTheStopIsToldOnce)
{
    ASSERT_FALSE(h.engine->startInner(h.config()));
    ASSERT_TRUE(waitUntil([&] { return h.videoFrames() >= 10; }, 5));
    const MediaTime heldAt = HostClock::now();
    h.audio->holdMicrophone(true);
    spin(2.0);
    ASSERT_TRUE(h.engine->stop());
    ASSERT_EQ(h.events.count(line(Line::micDead)), 0) << "the watchdog had no time to drop it";
    const std::vector<double> gaps = statedMicGaps(h.events);
    ASSERT_EQ(gaps.size(), 1u);
    const auto end = h.writer()->sessionEnd();
    ASSERT_TRUE(end);
    // From its last buffer (at most one buffer's wake-up before the hold) to
    // where the stop cut the sources off, which is no later than the movie's end.
    EXPECT_GE(gaps[0], 1.9);
    EXPECT_LE(gaps[0], (*end - heldAt).seconds() + 1.0);
    // Told before the movie is called complete.
    const int gapAt = h.events.indexOf(Line::micGap({QString::number(gaps[0], 'f', 1)}));
    EXPECT_GE(gapAt, 0);
    EXPECT_LT(gapAt, h.events.indexOf(line(Line::completed)));

    h.audio->holdMicrophone(false);
    h.events.clear();
    ASSERT_FALSE(h.engine->startInner(h.config()));
    ASSERT_TRUE(waitUntil([&] { return h.videoFrames(1) >= 30; }, 5));
    ASSERT_TRUE(h.engine->stop());
    EXPECT_TRUE(statedMicGaps(h.events).empty());
}

// A microphone the "no data" watchdog has left out of the recording was told
// then; the stop does not tell it again.
TEST_F(RecorderEngineWatchdogs, MicrophoneTheWatchdogLeftOutIsNotToldAgainAtTheStop)
{
    ASSERT_FALSE(h.engine->startInner(h.config()));
    ASSERT_TRUE(waitUntil([&] { return h.videoFrames() >= 10; }, 5));
    h.audio->holdMicrophone(true);
    ASSERT_TRUE(h.events.waitFor(line(Line::micDead), 5));
    ASSERT_TRUE(h.engine->stop());
    EXPECT_TRUE(statedMicGaps(h.events).empty());
}

// MARK: - Writer failures

TEST_F(RecorderEngineWriter, ThrowingVideoInputStopsOnlyThatTrack)
{
    h.configureWriter = [](RecordingMovieWriter& w) {
        w.throwOnAppend(MovieWriter::Input::Video, QStringLiteral("encoder exploded"));
    };
    ASSERT_FALSE(h.engine->startInner(h.config()));
    ASSERT_TRUE(h.events.waitForPrefix(QStringLiteral("Screen write error"), 3));
    spin(0.5);
    EXPECT_EQ(h.events.count(QStringLiteral("Screen write error, this track has stopped (others continue): encoder exploded")), 1);
    EXPECT_EQ(h.videoFrames(), 0u);
    // The audio track goes on.
    EXPECT_TRUE(waitUntil([&] { return h.writer()->appendedAudioFrames() > 4800; }, 3));
}

TEST_F(RecorderEngineWriter, FailedWriterIsReportedAndSaveFails)
{
    const RecorderError full{MovieWriter::errorDomain, 28, QStringLiteral("No space left on device")};
    ASSERT_FALSE(h.engine->startInner(h.config()));
    ASSERT_TRUE(waitUntil([&] { return h.videoFrames() >= 5; }, 5));
    h.writer()->failOnNextAppend(full);
    ASSERT_TRUE(h.events.waitForPrefix(line(Line::videoWriteFailed), 3));
    EXPECT_LE(h.events.count(QStringLiteral("Failed to write video: No space left on device")), 1);
    EXPECT_FALSE(h.engine->stop());
    EXPECT_EQ(h.events.count(QStringLiteral("Save failed: No space left on device")), 1);
    EXPECT_EQ(h.events.count(line(Line::completed)), 0);
    // The journal stays, so the next launch reports the file.
    EXPECT_TRUE(QFile::exists(RecoveryJournal::file()));
    EXPECT_EQ(h.engine->state(), RecorderEngine::State::idle);
}

TEST_F(RecorderEngineWriter, FinishErrorIsASaveFailure)
{
    h.configureWriter = [](RecordingMovieWriter& w) {
        w.setFinishError(RecorderError{MovieWriter::errorDomain, 5, QStringLiteral("I/O error")});
    };
    ASSERT_FALSE(h.engine->startInner(h.config()));
    ASSERT_TRUE(waitUntil([&] { return h.videoFrames() >= 3; }, 5));
    EXPECT_FALSE(h.engine->stop());
    EXPECT_EQ(h.events.count(QStringLiteral("Save failed: I/O error")), 1);
    EXPECT_TRUE(QFile::exists(RecoveryJournal::file()));
}

TEST_F(RecorderEngineWriter, AWriterFailingOnItsOwnEndsTheRecording)
{
    ASSERT_FALSE(h.engine->startInner(h.config()));
    ASSERT_TRUE(waitUntil([&] { return h.videoFrames() >= 5; }, 5));
    // The disk fills under the writer's own thread: no append is refused for it.
    h.writer()->failNow(RecorderError{MovieWriter::errorDomain, 28, QStringLiteral("No space left on device")});
    ASSERT_TRUE(h.events.waitFor(QStringLiteral("Save failed: No space left on device"), 3));
    // The engine winds the recording down by itself, and says it once.
    ASSERT_TRUE(waitUntil([&] { return h.engine->state() == RecorderEngine::State::idle; }, 5));
    EXPECT_FALSE(h.engine->stop());
    EXPECT_FALSE(h.engine->stop());
    EXPECT_EQ(h.events.countStartingWith(line(Line::saveFailed)), 1);
    EXPECT_EQ(h.events.count(line(Line::completed)), 0);
    EXPECT_TRUE(QFile::exists(RecoveryJournal::file()));
    EXPECT_EQ(h.writer()->status(), MovieWriter::Status::Failed);
    // A new recording starts afresh.
    ASSERT_FALSE(h.engine->startInner(h.config()));
    EXPECT_EQ(h.engine->state(), RecorderEngine::State::recording);
}

TEST_F(RecorderEngineWriter, AStopRacingTheWritersFailureWaitsForIt)
{
    ASSERT_FALSE(h.engine->startInner(h.config()));
    ASSERT_TRUE(waitUntil([&] { return h.videoFrames() >= 5; }, 5));
    h.writer()->failNow(RecorderError{MovieWriter::errorDomain, 28, QStringLiteral("No space left on device")});
    ASSERT_TRUE(h.events.waitFor(QStringLiteral("Save failed: No space left on device"), 3));
    // Whether or not the engine's own stop has ended yet, stop returns once it has.
    EXPECT_FALSE(h.engine->stop());
    EXPECT_EQ(h.engine->state(), RecorderEngine::State::idle);
    EXPECT_EQ(h.events.countStartingWith(line(Line::saveFailed)), 1);
}

// The seconds of sound the lines say are missing (they open with the
// figure), or 0 when none says so.
double statedMissingSound(const EngineEvents& events)
{
    double seconds = 0;
    for (const EngineLine& said : {Line::soundMissing, Line::soundDropped}) {
        const QString words = said({QString()}); // all but the figure
        for (const QString& l : events.lines()) {
            if (l.endsWith(words))
                seconds += l.section(QLatin1Char(' '), 0, 0).toDouble();
        }
    }
    return seconds;
}

// A writer that takes no sound at all is given up three seconds after the
// last it took, and the sound it never got is told in seconds.
TEST_F(RecorderEngineWriter, AudioThatCannotDrainTimesOutAfterThreeSeconds)
{
    ASSERT_FALSE(h.engine->startInner(h.config()));
    ASSERT_TRUE(waitUntil([&] { return h.videoFrames() >= 10; }, 5));
    h.writer()->setReady(MovieWriter::Input::Audio, false);
    spin(0.5);
    const auto started = std::chrono::steady_clock::now();
    const auto path = h.engine->stop();
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ASSERT_TRUE(path);
    EXPECT_GE(took, 2.9);
    EXPECT_LT(took, 30.0) << "it gives up rather than waiting on (generous: a busy machine is slow)";
    EXPECT_GT(statedMissingSound(h.events), 0.3);
    EXPECT_EQ(h.events.lines().back(), line(Line::completed));
}

// A writer that takes sound more slowly than it comes, for a minute: whatever
// it gets, the sound ends with the picture, every stretch it did not get is
// counted, the backlog held for it stays bounded, and the stop goes on
// draining (past three seconds) for as long as the writer keeps taking sound.
TEST_F(RecorderEngineWriter, ASlowWritersSoundEndsWithThePictureOrTheMissingSecondsAreTold)
{
    constexpr double rate = 0.4 * 48000; // frames per second the writer takes
    h.configureWriter = [&](RecordingMovieWriter& w) { w.setAudioRate(rate); };
    ASSERT_FALSE(h.engine->startInner(h.config()));
    double backlog = 0;
    const auto began = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - began < std::chrono::seconds(60)) {
        spin(1.0);
        const RecorderEngine::Stats stats = h.engine->stats();
        const double mixedTo = double(stats.audioFrames) / 48000;
        const double written = double(h.writer()->appendedAudioFrames()) / 48000;
        backlog = std::max(backlog, h.engine->effectiveSeconds() - mixedTo);
        ASSERT_LE(written, mixedTo + 0.01);
    }
    ASSERT_TRUE(h.engine->stop());
    const auto w = h.writer();
    ASSERT_TRUE(w->sessionStart() && w->sessionEnd());
    const int64_t endFrame = AudioTimelineMixer::outputFrame(*w->sessionEnd(), *w->sessionStart());
    const auto sound = w->appended(MovieWriter::Input::Audio);
    ASSERT_FALSE(sound.empty());
    // The last stretch took the writer more than the three seconds a stop used to wait.
    const int64_t lastEnd = AudioTimelineMixer::outputFrame(sound.back().time, *w->sessionStart())
                            + int64_t(sound.back().audioFrames);
    EXPECT_EQ(lastEnd, endFrame);
    const RecorderEngine::Stats stats = h.engine->stats();
    const int64_t written = int64_t(w->appendedAudioFrames());
    // Every frame up to the end was either written or counted as missing.
    EXPECT_EQ(written + stats.audioMissing - stats.audioDiscarded, endFrame);
    EXPECT_NEAR(statedMissingSound(h.events), double(endFrame - written + stats.audioDiscarded) / 48000, 0.051);
    // The writer was slow enough to matter: well over half the sound could
    // not wait for it. What waited stayed near the bound (unbounded, it grows
    // to more than half a minute here).
    EXPECT_GT(stats.audioMissing, endFrame / 2);
    EXPECT_LT(backlog, WriterInputGuard::maxSoundBacklogSeconds + RecorderEngine::audioLagSeconds + 3.5);
}

// A second caller's stop (a signal's watcher while the main thread saves)
// returns only once the movie is finished.
TEST_F(RecorderEngineWriter, ASecondStopWaitsForTheOneUnderWay)
{
    ASSERT_FALSE(h.engine->startInner(h.config()));
    ASSERT_TRUE(waitUntil([&] { return h.videoFrames() >= 10; }, 5));
    h.writer()->setReady(MovieWriter::Input::Audio, false); // the first stop drains for 3 s
    std::optional<QString> first;
    std::thread firstCaller([&] { first = h.engine->stop(); });
    ASSERT_TRUE(waitUntil([&] { return h.engine->state() == RecorderEngine::State::finishing; }, 30));
    EXPECT_FALSE(h.engine->stop()) << "the movie is the first caller's";
    EXPECT_EQ(h.engine->state(), RecorderEngine::State::idle) << "finished on return";
    firstCaller.join();
    EXPECT_TRUE(first);
}

TEST_F(RecorderEngineWriter, StopBeforeTheFirstFrameGivesNothing)
{
    h.source->setDeliveryPaused(true);
    ASSERT_FALSE(h.engine->startInner(h.config()));
    spin(0.3);
    EXPECT_FALSE(h.engine->stop());
    const auto calls = h.writer()->calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().kind, RecordingMovieWriter::CallKind::CancelWriting);
    EXPECT_EQ(h.events.count(line(Line::completed)), 0);
    EXPECT_EQ(h.events.countStartingWith(line(Line::audioSync)), 0);
    EXPECT_FALSE(QFile::exists(RecoveryJournal::file()));
    EXPECT_EQ(h.engine->state(), RecorderEngine::State::idle);
}

TEST_F(RecorderEngineWriter, StillScreenStillGetsAFrameEveryNinetyPercentOfASecond)
{
    ASSERT_FALSE(h.engine->startInner(h.config()));
    ASSERT_TRUE(waitUntil([&] { return h.videoFrames() >= 3; }, 5));
    h.source->setDeliveryPaused(true);
    spin(0.3);
    const size_t still = h.videoFrames();
    spin(2.0);
    // Hidden cursor, no pen, zoom or camera: one re-sent frame per 0.9 s.
    const size_t added = h.videoFrames() - still;
    EXPECT_GE(added, 1u);
    EXPECT_LE(added, 3u);
}
