#include "capture/AudioLevel.h"
#include "capture/SystemAudioTap.h"
#include "platform/AudioInput.h"
#include "platform/core/HostClock.h"
#include "platform/pulse/PulseAudioInput.h"
#include "support/PulseFixture.h"
#include "support/ServiceScope.h"
#include "support/TempHome.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcessEnvironment>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <mutex>
#include <sys/wait.h>
#include <unistd.h>

using namespace corvessa;
using corvessa::test::PulseFixture;

namespace {

// What a tap delivered, gathered on its queue.
struct Capture {
    std::mutex mutex;
    int buffers = 0;
    float peak = 0;
    float peakAfter = 0; // of buffers presented after `from`
    int64_t from = 0;
    std::optional<AudioFormat> format;
    MediaTime firstPts, lastEnd;
    MediaTime firstLoud; // where the first buffer with sound in it starts
    bool contiguous = true;

    SystemAudioTap::Handler handler()
    {
        return [this](SampleBuffer b) {
            const auto level = AudioLevel::process(b, 1.0f);
            std::lock_guard lock(mutex);
            ++buffers;
            format = b.audioFormat();
            const MediaTime pts = b.presentationTime();
            if (!firstPts.isValid())
                firstPts = pts;
            // Buffers follow each other within what the mixer absorbs (5 ms).
            if (lastEnd.isValid()) {
                const MediaTime d = pts - lastEnd;
                if (d > MediaTime(5, 1000) || d < MediaTime(-5, 1000))
                    contiguous = false;
            }
            lastEnd = pts + b.duration();
            if (level) {
                peak = std::max(peak, level->peak);
                if (!firstLoud.isValid() && level->peak > 0.1f)
                    firstLoud = pts;
                if (pts.convertScale(1000000000).value() >= from)
                    peakAfter = std::max(peakAfter, level->peak);
            }
        };
    }
    void startCountingAt(int64_t ns)
    {
        std::lock_guard lock(mutex);
        from = ns;
        peakAfter = 0;
    }
    float peakNow()
    {
        std::lock_guard lock(mutex);
        return peak;
    }
    int count()
    {
        std::lock_guard lock(mutex);
        return buffers;
    }
};

bool hasTapModule(PulseFixture* pulse)
{
    for (const QString& line : pulse->modules())
        if (line.contains(QLatin1String("sink_name=recorder_tap")))
            return true;
    return false;
}

// A second output plugged in for the length of a test; the speakers are the
// default again afterwards.
struct Headphones {
    explicit Headphones(PulseFixture* pulse)
        : pulse(pulse), module(pulse->pactl({QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                                             QStringLiteral("sink_name=") + name}))
    {
    }
    ~Headphones()
    {
        pulse->pactl({QStringLiteral("set-default-sink"), QLatin1String(PulseFixture::speakers)});
        if (module)
            pulse->pactl({QStringLiteral("unload-module"), module->trimmed()});
    }
    PulseFixture* pulse;
    const QString name = QStringLiteral("headphones");
    const std::optional<QString> module;
};

class SystemAudioTapPulseTest : public ::testing::Test {
protected:
    corvessa::test::TempHome home;
    test::ServiceScope input{std::make_shared<PulseAudioInput>()};
};

} // namespace

TEST_F(SystemAudioTapPulseTest, CapturesWhatTheDefaultOutputPlays)
{
    CORVESSA_REQUIRE_PULSE(pulse);
    auto tone = pulse->playTone({}, 440, 30, 0.5);
    ASSERT_TRUE(tone);

    Capture capture;
    SystemAudioTap tap(false);
    const int64_t before = HostClock::nanoseconds();
    tap.prepare();
    ASSERT_TRUE(tap.format());
    EXPECT_TRUE(tap.format()->isFloat());
    EXPECT_EQ(tap.format()->channelsPerFrame, 2u);
    tap.start(capture.handler());
    EXPECT_TRUE(tap.isRunning());
    EXPECT_TRUE(QTest::qWaitFor([&] { return capture.peakNow() > 0.3f; }, 20000)) << "peak " << capture.peakNow();
    tap.stop();
    EXPECT_FALSE(tap.isRunning());
    EXPECT_FALSE(tap.hasHandler());

    std::lock_guard lock(capture.mutex);
    EXPECT_LT(capture.peak, 0.6f);
    EXPECT_TRUE(capture.contiguous);
    // Host-clock times: the first buffer was heard around the start, less the latency.
    const int64_t first = capture.firstPts.convertScale(1000000000).value();
    EXPECT_GT(first, before - 2'000'000'000LL);
    EXPECT_LT(first, HostClock::nanoseconds());
    // Muting off changes nothing on the server.
    EXPECT_EQ(pulse->defaultSink(), QLatin1String(PulseFixture::speakers));
    EXPECT_FALSE(hasTapModule(pulse));
}

TEST_F(SystemAudioTapPulseTest, NoHandlerCallFollowsStop)
{
    CORVESSA_REQUIRE_PULSE(pulse);
    std::atomic<int> calls{0};
    std::atomic<bool> stopped{false};
    std::atomic<bool> late{false};
    SystemAudioTap tap(false);
    tap.prepare();
    tap.start([&](SampleBuffer) {
        if (stopped)
            late = true;
        ++calls;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls > 3; }, 20000));
    tap.stop();
    stopped = true;
    QTest::qWait(100);
    EXPECT_FALSE(late);
}

TEST_F(SystemAudioTapPulseTest, MutedTapCapturesWhileTheSpeakersStaySilent)
{
    CORVESSA_REQUIRE_PULSE(pulse);
    auto tone = pulse->playTone({}, 440, 60, 0.5, {}, QStringLiteral("early"));
    ASSERT_TRUE(tone);
    ASSERT_TRUE(QTest::qWaitFor([&] { return pulse->sinksOfStreams(QStringLiteral("early")).size() == 1; }, 20000));

    Capture capture;
    SystemAudioTap tap(true);
    tap.prepare();
    tap.start(capture.handler());
    EXPECT_EQ(pulse->defaultSink(), QStringLiteral("recorder_tap"));
    EXPECT_EQ(pulse->sinksOfStreams(QStringLiteral("early")), QStringList{QStringLiteral("recorder_tap")});

    // A program that starts playing now is carried by the tap too.
    auto late = pulse->playTone(QLatin1String(PulseFixture::speakers), 660, 60, 0.5, {}, QStringLiteral("late"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return pulse->sinksOfStreams(QStringLiteral("late")) == QStringList{QStringLiteral("recorder_tap")}; },
        5000));


    QTest::qWait(1500);
    const auto speakersPeak = pulse->recordPeak(QStringLiteral("speakers.monitor"), 1.0);
    ASSERT_TRUE(speakersPeak);
    EXPECT_EQ(*speakersPeak, 0.0f);
    EXPECT_GT(capture.peakNow(), 0.3f);

    tap.stop();
    EXPECT_EQ(pulse->defaultSink(), QLatin1String(PulseFixture::speakers));
    EXPECT_FALSE(hasTapModule(pulse));
    EXPECT_EQ(pulse->sinksOfStreams(QStringLiteral("early")), QStringList{QLatin1String(PulseFixture::speakers)});
    EXPECT_EQ(pulse->sinksOfStreams(QStringLiteral("late")), QStringList{QLatin1String(PulseFixture::speakers)});
    const auto after = pulse->recordPeak(QStringLiteral("speakers.monitor"), 0.5);
    ASSERT_TRUE(after);
    EXPECT_GT(*after, 0.3f);
}

// A stream moved into a new tap is heard on its monitor at once, not after the
// block the idle sink rendered ahead.
TEST_F(SystemAudioTapPulseTest, MutedTapHearsAPlayingStreamFromItsFirstBuffers)
{
    CORVESSA_REQUIRE_PULSE(pulse);
    auto tone = pulse->playTone({}, 440, 60, 0.5, {}, QStringLiteral("playing"));
    ASSERT_TRUE(tone);
    ASSERT_TRUE(QTest::qWaitFor([&] { return pulse->sinksOfStreams(QStringLiteral("playing")).size() == 1; }, 20000));

    Capture capture;
    SystemAudioTap tap(true);
    tap.prepare();
    tap.start(capture.handler());
    ASSERT_TRUE(QTest::qWaitFor([&] { return capture.peakNow() > 0.3f; }, 20000)) << "peak " << capture.peakNow();
    tap.stop();
    std::lock_guard lock(capture.mutex);
    ASSERT_TRUE(capture.firstPts.isValid() && capture.firstLoud.isValid());
    EXPECT_LT(capture.firstLoud - capture.firstPts, MediaTime(1, 10))
        << "silent for " << (capture.firstLoud - capture.firstPts).seconds() << " s";
}

TEST_F(SystemAudioTapPulseTest, OwnStreamsStayOnTheSpeakersAndOutOfTheCapture)
{
    CORVESSA_REQUIRE_PULSE(pulse);
    const QStringList cue{QStringLiteral("corvessa.role=cue")};
    auto before = pulse->playTone({}, 880, 60, 0.5, cue, QStringLiteral("cue-before"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return pulse->sinksOfStreams(QStringLiteral("cue-before")).size() == 1; }, 20000));

    Capture capture;
    SystemAudioTap tap(true);
    tap.prepare();
    tap.start(capture.handler());
    // A cue started now lands on the new default for an instant and is moved back.
    auto during = pulse->playTone({}, 990, 60, 0.5, cue, QStringLiteral("cue-during"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return pulse->sinksOfStreams(QStringLiteral("cue-during"))
                == QStringList{QLatin1String(PulseFixture::speakers)};
        },
        5000));
    EXPECT_EQ(pulse->sinksOfStreams(QStringLiteral("cue-before")), QStringList{QLatin1String(PulseFixture::speakers)});

    capture.startCountingAt(HostClock::nanoseconds() + 300'000'000);
    const auto speakersPeak = pulse->recordPeak(QStringLiteral("speakers.monitor"), 1.0);
    ASSERT_TRUE(speakersPeak);
    EXPECT_GT(*speakersPeak, 0.3f);
    {
        std::lock_guard lock(capture.mutex);
        EXPECT_GT(capture.buffers, 0);
        EXPECT_EQ(capture.peakAfter, 0.0f);
    }
    tap.stop();
}

TEST_F(SystemAudioTapPulseTest, MutingLeavesTheStreamsThatFeedTheMicrophone)
{
    // "stand_in_mic" records the monitor of the "mic" sink, as virtual
    // microphones do: what plays there is the voice, not system audio.
    CORVESSA_REQUIRE_PULSE(pulse);
    const QString micSink = QLatin1String(PulseFixture::micSink);
    auto voice = pulse->playTone(micSink, 440, 60, 0.5, {}, QStringLiteral("voice"));
    auto music = pulse->playTone({}, 660, 60, 0.5, {}, QStringLiteral("music"));
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return pulse->sinksOfStreams(QStringLiteral("voice")).size() == 1
            && pulse->sinksOfStreams(QStringLiteral("music")).size() == 1;
    }, 20000));

    // Named, and as the default source.
    for (const QString& microphone : {QString::fromLatin1(PulseFixture::micSource), QString()}) {
        SCOPED_TRACE(microphone.toStdString());
        SystemAudioTap tap(true);
        tap.setMicrophone(microphone);
        tap.prepare();
        tap.start([](SampleBuffer) {});
        EXPECT_EQ(pulse->sinksOfStreams(QStringLiteral("music")), QStringList{QStringLiteral("recorder_tap")});
        EXPECT_EQ(pulse->sinksOfStreams(QStringLiteral("voice")), QStringList{micSink});
        // A voice that starts now stays too.
        auto later = pulse->playTone(micSink, 550, 60, 0.5, {}, QStringLiteral("later-voice"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return pulse->sinksOfStreams(QStringLiteral("later-voice")).size() == 1; },
                                    5000));
        QTest::qWait(300);
        EXPECT_EQ(pulse->sinksOfStreams(QStringLiteral("later-voice")), QStringList{micSink});
        const auto micPeak = pulse->recordPeak(QLatin1String(PulseFixture::micSource), 1.0);
        ASSERT_TRUE(micPeak);
        EXPECT_GT(*micPeak, 0.3f) << "the microphone still hears the voice";
        tap.stop();
    }
}

TEST_F(SystemAudioTapPulseTest, PauseHoldsDeliveryAndResumeRestartsIt)
{
    CORVESSA_REQUIRE_PULSE(pulse);
    Capture capture;
    SystemAudioTap tap(false);
    tap.prepare();
    tap.start(capture.handler());
    ASSERT_TRUE(QTest::qWaitFor([&] { return capture.count() > 5; }, 20000));
    tap.pause();
    EXPECT_FALSE(tap.isRunning());
    QTest::qWait(100); // what was already on its way
    const int paused = capture.count();
    QTest::qWait(400);
    EXPECT_LE(capture.count(), paused + 1);
    tap.resume();
    EXPECT_TRUE(tap.isRunning());
    EXPECT_TRUE(QTest::qWaitFor([&] { return capture.count() > paused + 5; }, 20000));
    tap.stop();
}

TEST_F(SystemAudioTapPulseTest, MuteChangeRebuildsAtOnceWhileRunningAndAtResumeWhilePaused)
{
    CORVESSA_REQUIRE_PULSE(pulse);
    Capture capture;
    SystemAudioTap tap(false);
    tap.prepare();
    tap.start(capture.handler());
    tap.setMute(true);
    EXPECT_TRUE(tap.isRunning());
    EXPECT_EQ(pulse->defaultSink(), QStringLiteral("recorder_tap"));

    tap.pause();
    tap.setMute(false);
    EXPECT_TRUE(tap.needsRebuild());
    EXPECT_EQ(pulse->defaultSink(), QStringLiteral("recorder_tap")); // not yet
    tap.resume();
    EXPECT_FALSE(tap.needsRebuild());
    EXPECT_TRUE(tap.isRunning());
    EXPECT_EQ(pulse->defaultSink(), QLatin1String(PulseFixture::speakers));
    EXPECT_FALSE(hasTapModule(pulse));
    const int before = capture.count();
    EXPECT_TRUE(QTest::qWaitFor([&] { return capture.count() > before + 5; }, 20000));
    tap.stop();
}

// Headphones plugged in, an output chosen in the sound settings: the server
// moves the streams that follow the default to the new output, the tap's too.
TEST_F(SystemAudioTapPulseTest, ANewDefaultOutputUnderAMutingTapKeepsTheStreamsInIt)
{
    CORVESSA_REQUIRE_PULSE(pulse);
    auto music = pulse->playTone({}, 440, 60, 0.5, {}, QStringLiteral("music"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return pulse->sinksOfStreams(QStringLiteral("music")).size() == 1; }, 20000));
    const QString tap = QStringLiteral("recorder_tap");
    const Headphones added(pulse);
    ASSERT_TRUE(added.module);
    const QString& headphones = added.name;

    Capture capture;
    SystemAudioTap route(true);
    route.prepare();
    route.start(capture.handler());
    ASSERT_EQ(pulse->sinksOfStreams(QStringLiteral("music")), QStringList{tap});
    ASSERT_TRUE(pulse->pactl({QStringLiteral("set-default-sink"), headphones}));
    // A program that the user moves out meanwhile comes back too.
    auto moved = pulse->playTone({}, 550, 60, 0.5, {}, QStringLiteral("moved"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return pulse->defaultSink() == tap && pulse->sinksOfStreams(QStringLiteral("music")) == QStringList{tap}
                && pulse->sinksOfStreams(QStringLiteral("moved")) == QStringList{tap};
        },
        15000))
        << pulse->defaultSink().toStdString();
    // What the user hears is what the program names as the output.
    const auto output = PulseAudioInput().defaultSink();
    ASSERT_TRUE(output);
    EXPECT_EQ(output->name, headphones);
    const auto out = pulse->pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sink-inputs")});
    ASSERT_TRUE(out);
    for (const QString& row : out->split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        pulse->pactl({QStringLiteral("move-sink-input"), row.section(QLatin1Char('\t'), 0, 0), headphones});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return pulse->sinksOfStreams(QStringLiteral("music")) == QStringList{tap}
                && pulse->sinksOfStreams(QStringLiteral("moved")) == QStringList{tap};
        },
        15000));

    capture.startCountingAt(HostClock::nanoseconds());
    const auto heard = pulse->recordPeak(headphones + QStringLiteral(".monitor"), 1.0);
    ASSERT_TRUE(heard);
    EXPECT_EQ(*heard, 0.0f) << "the new output plays what the tap should hold";
    EXPECT_TRUE(QTest::qWaitFor([&] { std::lock_guard lock(capture.mutex); return capture.peakAfter > 0.3f; }, 15000));

    // At the end everything goes to the output chosen last.
    route.stop();
    EXPECT_EQ(pulse->defaultSink(), headphones);
    EXPECT_FALSE(hasTapModule(pulse));
    EXPECT_EQ(pulse->sinksOfStreams(QStringLiteral("music")), QStringList{headphones});
}

TEST_F(SystemAudioTapPulseTest, WithoutMutingANewDefaultOutputIsRecorded)
{
    CORVESSA_REQUIRE_PULSE(pulse);
    const Headphones added(pulse);
    ASSERT_TRUE(added.module);
    const QString& headphones = added.name;
    auto music = pulse->playTone(headphones, 440, 60, 0.5, {}, QStringLiteral("music"));
    ASSERT_TRUE(music);
    Capture capture;
    SystemAudioTap tap(false);
    tap.prepare();
    tap.start(capture.handler());
    QTest::qWait(500);
    EXPECT_EQ(capture.peakNow(), 0.0f) << "the speakers are silent";
    ASSERT_TRUE(pulse->pactl({QStringLiteral("set-default-sink"), headphones}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return capture.peakNow() > 0.3f; }, 15000));
    tap.stop();
}

// The sound server killed and started again on the same socket, with or
// without muting: the tap records again, routing the playback anew.
TEST_F(SystemAudioTapPulseTest, TheTapRecordsAgainWhenTheServerComesBack)
{
    CORVESSA_REQUIRE_PULSE(pulse);
    for (bool mute : {false, true}) {
        SCOPED_TRACE(mute ? "muting" : "not muting");
        Capture capture;
        SystemAudioTap tap(mute);
        tap.prepare();
        tap.start(capture.handler());
        ASSERT_TRUE(QTest::qWaitFor([&] { return capture.count() > 5; }, 20000));
        pulse->killServer();
        QTest::qWait(1000);
        ASSERT_TRUE(pulse->restartServer());
        auto tone = pulse->playTone({}, 440, 60, 0.5, {}, QStringLiteral("after"));
        ASSERT_TRUE(tone);
        EXPECT_TRUE(QTest::qWaitFor([&] { return capture.peakNow() > 0.3f; }, 20000)) << "nothing after the restart";
        EXPECT_TRUE(tap.isRunning());
        if (mute) {
            EXPECT_EQ(pulse->defaultSink(), QStringLiteral("recorder_tap"));
            EXPECT_EQ(pulse->sinksOfStreams(QStringLiteral("after")), QStringList{QStringLiteral("recorder_tap")});
        }
        tap.stop();
        EXPECT_EQ(pulse->defaultSink(), QLatin1String(PulseFixture::speakers));
        EXPECT_FALSE(hasTapModule(pulse));
    }
}

TEST_F(SystemAudioTapPulseTest, LaunchUndoesTheTapOfAKilledProcess)
{
    CORVESSA_REQUIRE_PULSE(pulse);
    auto tone = pulse->playTone({}, 440, 60, 0.5, {}, QStringLiteral("victim"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return pulse->sinksOfStreams(QStringLiteral("victim")).size() == 1; }, 20000));

    // The child is this program again, running only the test below that holds a
    // muting tap (libpulse refuses to work in a forked child without exec).
    const QString readyFile = home.file(QStringLiteral("child-ready"));
    QStringList env = QProcessEnvironment::systemEnvironment().toStringList();
    env << QStringLiteral("CORVESSA_TAP_CHILD=") + readyFile;
    auto child = corvessa::test::ChildProcess::start(
        QCoreApplication::applicationFilePath(),
        {QStringLiteral("--gtest_filter=SystemAudioTapPulseChild.HoldsAMutingTapUntilKilled")}, env,
        home.file(QStringLiteral("child.log")));
    ASSERT_TRUE(child);
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(readyFile) || !child->isRunning(); }, 15000));
    QFile ready(readyFile);
    ASSERT_TRUE(ready.open(QIODevice::ReadOnly)) << "the child ended without a tap";
    ASSERT_EQ(ready.readAll(), QByteArray("1"));
    ::kill(child->pid(), SIGKILL);
    ASSERT_TRUE(child->waitFinished(5000));
    ASSERT_TRUE(child->status() && WIFSIGNALED(*child->status()));

    // What the killed process left behind: the tap is the default and carries the playback.
    EXPECT_EQ(pulse->defaultSink(), QStringLiteral("recorder_tap"));
    EXPECT_TRUE(hasTapModule(pulse));
    EXPECT_EQ(pulse->sinksOfStreams(QStringLiteral("victim")), QStringList{QStringLiteral("recorder_tap")});

    EXPECT_EQ(SystemAudioTap::recoverAfterCrash(), 1);
    EXPECT_EQ(pulse->defaultSink(), QLatin1String(PulseFixture::speakers));
    EXPECT_FALSE(hasTapModule(pulse));
    EXPECT_EQ(pulse->sinksOfStreams(QStringLiteral("victim")), QStringList{QLatin1String(PulseFixture::speakers)});
    EXPECT_EQ(SystemAudioTap::recoverAfterCrash(), 0);

    QFile log(home.file(QStringLiteral(".local/state/Recorder/recorder.log")));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(log.readAll().contains("[sys-audio] restored the audio output"));
}

TEST_F(SystemAudioTapPulseTest, ALiveTapOfAnotherRunIsLeftAlone)
{
    CORVESSA_REQUIRE_PULSE(pulse);
    SystemAudioTap tap(true);
    tap.prepare();
    tap.start([](SampleBuffer) {});
    EXPECT_EQ(SystemAudioTap::recoverAfterCrash(), 0); // its owner (this process) is alive
    EXPECT_TRUE(hasTapModule(pulse));
    tap.stop();
    EXPECT_FALSE(hasTapModule(pulse));
}

// The child of LaunchUndoesTheTapOfAKilledProcess: starts a muting tap, says so
// and waits to be killed.
TEST(SystemAudioTapPulseChild, HoldsAMutingTapUntilKilled)
{
    const QString readyFile = qEnvironmentVariable("CORVESSA_TAP_CHILD");
    if (readyFile.isEmpty())
        GTEST_SKIP() << "runs only as the child process of LaunchUndoesTheTapOfAKilledProcess";
    QByteArray verdict = "0";
    auto* tap = new SystemAudioTap(true, {}, std::make_shared<PulseAudioInput>()); // never freed: killed first
    try {
        tap->prepare();
        tap->start([](SampleBuffer) {});
        verdict = "1";
    } catch (const SystemAudioTap::TapError& e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.errorDescription));
    }
    QFile out(readyFile + QStringLiteral(".part"));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(verdict);
    out.close();
    QFile::rename(out.fileName(), readyFile);
    for (;;)
        ::pause();
}
