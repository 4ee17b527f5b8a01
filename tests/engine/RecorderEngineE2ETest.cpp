#include "engine/EngineTestSupport.h"

#include "engine/RecoveryJournal.h"
#include "platform/core/InstanceScope.h"
#include "platform/ffmpeg/MovieProbe.h"
#include "platform/MovieTestSupport.h"
#include "platform/synthetic/SyntheticScreenStream.h"
#include "support/ChildProcess.h"
#include "support/DrivenTest.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <QProcess>
#include <QStandardPaths>

#include <csignal>
#include <cmath>

using namespace corvessa;
using namespace corvessa::test;

// Whole recordings through the real writer (libx265 + AAC into fragmented
// QuickTime) from the synthetic screen and its tone microphone, read back with
// ffprobe and libavformat.

namespace {

constexpr const char* kChildMovie = "CORVESSA_E2E_CHILD_MOVIE";

struct Probed {
    QJsonObject video;
    QJsonObject audio;
    int videoStreams = 0;
    int audioStreams = 0;
    double duration = 0;
};

Probed ffprobeStreams(const QString& path)
{
    Probed p;
    const QJsonObject json = ffprobe(path);
    for (const auto& s : json.value(QStringLiteral("streams")).toArray()) {
        const QJsonObject o = s.toObject();
        if (o.value(QStringLiteral("codec_type")).toString() == QStringLiteral("video")) {
            p.video = o;
            ++p.videoStreams;
        } else if (o.value(QStringLiteral("codec_type")).toString() == QStringLiteral("audio")) {
            p.audio = o;
            ++p.audioStreams;
        }
    }
    p.duration = json.value(QStringLiteral("format")).toObject().value(QStringLiteral("duration")).toString().toDouble();
    return p;
}

void expectMovieStreams(const QString& path, int width, int height)
{
    const Probed p = ffprobeStreams(path);
    ASSERT_EQ(p.videoStreams, 1) << path.toStdString();
    ASSERT_EQ(p.audioStreams, 1);
    EXPECT_EQ(p.video.value(QStringLiteral("codec_name")).toString(), QStringLiteral("hevc"));
    EXPECT_EQ(p.video.value(QStringLiteral("codec_tag_string")).toString(), QStringLiteral("hvc1"));
    EXPECT_EQ(p.video.value(QStringLiteral("width")).toInt(), width);
    EXPECT_EQ(p.video.value(QStringLiteral("height")).toInt(), height);
    EXPECT_EQ(p.video.value(QStringLiteral("color_primaries")).toString(), QStringLiteral("bt709"));
    EXPECT_EQ(p.audio.value(QStringLiteral("codec_name")).toString(), QStringLiteral("aac"));
    EXPECT_EQ(p.audio.value(QStringLiteral("sample_rate")).toString(), QStringLiteral("48000"));
    EXPECT_EQ(p.audio.value(QStringLiteral("channels")).toInt(), 2);
}

bool hasFFmpeg()
{
    return !QStandardPaths::findExecutable(QStringLiteral("ffprobe")).isEmpty()
        && !QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty();
}

} // namespace

TEST(RecorderEngineE2E, RecordsAPlayableFragmentedMovie)
{
    if (QStandardPaths::findExecutable(QStringLiteral("ffprobe")).isEmpty())
        GTEST_SKIP() << "ffprobe is not installed";
    MovieFolder folder(QStringLiteral("RecorderEngineE2E"));
    EngineHarness h(true);
    auto config = h.config();
    config.outputURL = folder.file(QStringLiteral("Display 4s.mov"));
    const auto started = std::chrono::steady_clock::now();
    ASSERT_FALSE(h.engine->startInner(config));
    spin(4.5);
    const auto path = h.engine->stop();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ASSERT_TRUE(path);
    const auto stats = h.engine->stats();
    const double recorded = h.engine->effectiveSeconds() + 1.0 / 30;
    EXPECT_GT(recorded, 4.0);
    EXPECT_LT(recorded, wall + 0.1);
    EXPECT_EQ(stats.droppedVideo, 0);

    expectMovieStreams(*path, 320, 180);
    const MovieProbe::Result probe = MovieProbe::probe(*path);
    ASSERT_TRUE(probe.playable);
    const MovieProbe::Stream* video = probe.firstOf(MovieProbe::Stream::Kind::Video);
    const MovieProbe::Stream* audio = probe.firstOf(MovieProbe::Stream::Kind::Audio);
    ASSERT_TRUE(video && audio);
    EXPECT_EQ(video->packets, stats.writtenVideo);
    EXPECT_LE(double(video->packets), recorded * 30 + 1);
    EXPECT_NEAR(video->seconds, recorded, 0.1);
    EXPECT_NEAR(audio->seconds, recorded, 0.1);
    // A key frame at least every 2 s, and the movie in fragments.
    ASSERT_FALSE(video->keyTimes.empty());
    for (size_t i = 1; i < video->keyTimes.size(); ++i)
        EXPECT_LE(video->keyTimes[i] - video->keyTimes[i - 1], 2.05);
    EXPECT_GE(countBoxes(*path, "moof"), 2);
}

TEST(RecorderEngineE2E, PausedTimeIsLeftOutOfTheMovie)
{
    if (QStandardPaths::findExecutable(QStringLiteral("ffprobe")).isEmpty())
        GTEST_SKIP() << "ffprobe is not installed";
    MovieFolder folder(QStringLiteral("RecorderEngineE2E"));
    EngineHarness h(true);
    h.engine->setTierDelays(0.5, 60);
    auto config = h.config();
    config.outputURL = folder.file(QStringLiteral("Paused 1.5+1.5s.mov"));
    // Spans are measured rather than assumed: on a busy machine each lasts longer.
    using WallClock = std::chrono::steady_clock;
    const auto started = WallClock::now();
    ASSERT_FALSE(h.engine->startInner(config));
    spin(1.5);
    h.engine->pause();
    ASSERT_TRUE(h.events.waitFor(line(RecorderEngine::Line::eco), 2));
    const auto pausedBy = WallClock::now();
    spin(1.0);
    h.engine->resume();
    const auto resumedAt = WallClock::now();
    spin(1.5);
    const auto path = h.engine->stop();
    const auto stoppedAt = WallClock::now();
    ASSERT_TRUE(path);
    const auto seconds = [](WallClock::duration d) { return std::chrono::duration<double>(d).count(); };
    const double recorded = h.engine->effectiveSeconds() + 1.0 / 30;
    // Both running spans are in the movie (more than either alone), the paused one is not.
    EXPECT_GT(recorded, 2.0);
    EXPECT_LT(recorded, seconds(stoppedAt - started) - seconds(resumedAt - pausedBy) + 0.1);

    expectMovieStreams(*path, 320, 180);
    const MovieProbe::Result probe = MovieProbe::probe(*path);
    const MovieProbe::Stream* video = probe.firstOf(MovieProbe::Stream::Kind::Video);
    const MovieProbe::Stream* audio = probe.firstOf(MovieProbe::Stream::Kind::Audio);
    ASSERT_TRUE(video && audio);
    EXPECT_NEAR(video->seconds, recorded, 0.1);
    EXPECT_NEAR(audio->seconds, recorded, 0.1);
    // Frames by the engine's own count: how many a busy machine lets through varies.
    // Each of the two running spans may hold a frame at both of its ends.
    const auto stats = h.engine->stats();
    EXPECT_EQ(video->packets, stats.writtenVideo);
    EXPECT_LE(double(video->packets), recorded * 30 + 2);
}

TEST(RecorderEngineE2E, LargerFramesAndAnotherRate)
{
    if (QStandardPaths::findExecutable(QStringLiteral("ffprobe")).isEmpty())
        GTEST_SKIP() << "ffprobe is not installed";
    MovieFolder folder(QStringLiteral("RecorderEngineE2E"));
    EngineHarness h(true, QSizeF(640, 360));
    auto config = h.config(24);
    config.outputURL = folder.file(QStringLiteral("Display 640x360 at 24.mov"));
    config.cursorTheme = CursorTheme::system;
    ASSERT_FALSE(h.engine->startInner(config));
    spin(2.5);
    const auto path = h.engine->stop();
    ASSERT_TRUE(path);
    const double recorded = h.engine->effectiveSeconds() + 1.0 / 24;
    expectMovieStreams(*path, 640, 360);
    const MovieProbe::Result probe = MovieProbe::probe(*path);
    const MovieProbe::Stream* video = probe.firstOf(MovieProbe::Stream::Kind::Video);
    ASSERT_TRUE(video);
    EXPECT_EQ(video->packets, h.engine->stats().writtenVideo);
    EXPECT_LE(double(video->packets), recorded * 24 + 1);
    EXPECT_NEAR(video->seconds, recorded, 0.1);
}

// The child half of the crash test: records until it is killed. Disabled, so it
// runs only when the parent starts this program for it.
CHILD_TEST(RecorderEngineE2E, ChildRecordsUntilKilled)
{
    const QString moviePath = qEnvironmentVariable(kChildMovie);
    ASSERT_FALSE(moviePath.isEmpty()) << "runs as the child of KilledRecordingStillPlaysAndIsFoundAtLaunch";
    auto audio = std::make_shared<SyntheticAudioInput>();
    auto source = std::make_shared<SyntheticScreenSource>(
        std::vector<DisplayInfo>{testDisplay(QStringLiteral("TEST-1"), GlobalRect(0, 0, 320, 180))}, std::vector<WindowInfo>{});
    source->setAudioInput(audio);
    auto engine = RecorderEngine::create();
    engine->setScreenSource(source);
    engine->setAudioInput(audio);
    engine->setPowerControl(std::make_shared<SyntheticPowerControl>());
    RecorderEngine::Config config;
    config.target = RecorderEngine::Target::display(DisplayInfo::idForName(QStringLiteral("TEST-1")));
    config.microphoneID = QString();
    config.cursorTheme = CursorTheme::hidden;
    config.outputURL = moviePath;
    ASSERT_FALSE(engine->startInner(config));
    QFile marker(moviePath + QStringLiteral(".started"));
    ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
    marker.close();
    spin(120);
}

namespace {

// The child below, recording into `moviePath` with the environment given.
std::unique_ptr<ChildProcess> startRecordingChild(const QString& moviePath, QStringList environment = QProcess::systemEnvironment())
{
    QFile::remove(moviePath);
    QFile::remove(moviePath + QStringLiteral(".started"));
    environment << QStringLiteral("%1=%2").arg(QString::fromLatin1(kChildMovie), moviePath);
    return ChildProcess::start(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath(),
                               {QStringLiteral("--gtest_also_run_disabled_tests"),
                                QStringLiteral("--gtest_filter=RecorderEngineE2E.DISABLED_ChildRecordsUntilKilled")},
                               environment);
}

} // namespace

TEST(RecorderEngineE2E, KilledRecordingStillPlaysAndIsFoundAtLaunch)
{
    MovieFolder folder(QStringLiteral("RecorderEngineE2E"));
    TempHome home; // the child inherits it: its journal lands here
    const QString moviePath = folder.file(QStringLiteral("Corvessa 2026-12-07 22.30.35 Screen.mov"));
    auto child = startRecordingChild(moviePath);
    ASSERT_TRUE(child);
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(moviePath + QStringLiteral(".started")); }, 20));
    spin(4.5); // past two fragments
    ::kill(child->pid(), SIGKILL);
    ASSERT_TRUE(child->waitFinished(5000));
    QFile::remove(moviePath + QStringLiteral(".started"));

    ASSERT_TRUE(QFile::exists(RecoveryJournal::file()));
    const MovieProbe::Result probe = MovieProbe::probe(moviePath);
    EXPECT_TRUE(probe.playable);
    EXPECT_GT(probe.seconds, 1.5);

    const auto report = RecoveryJournal::checkNow(folder.path());
    ASSERT_TRUE(report);
    EXPECT_FALSE(QFile::exists(RecoveryJournal::file()));
    ASSERT_EQ(report->found.size(), 1u);
    EXPECT_TRUE(report->found[0].playable);
    EXPECT_TRUE(report->logLine.startsWith(QStringLiteral(
        "[recovery] last session did not finish normally; found 1 file(s): Corvessa 2026-12-07 22.30.35 Screen.mov ")))
        << report->logLine.toStdString();
    ASSERT_TRUE(report->announcement);
    EXPECT_EQ(report->announcement->kind, RecoveryJournal::Announcement::Kind::Recovered);
}

// One user's programs on two displays share the data folder. The second one's
// launch check, run while the first records (from its first moments, when its
// movie holds no sample yet), must leave the first one's journal and movie
// alone; once the first is gone, its journal is recovered like any other.
TEST(RecorderEngineE2E, AnotherDisplaysLaunchCheckLeavesALiveRecordingAlone)
{
    MovieFolder folder(QStringLiteral("RecorderEngineE2E"));
    TempHome home;
    const QString moviePath = folder.file(QStringLiteral("Corvessa 2026-12-07 22.31.00.mov"));
    QStringList environment = QProcess::systemEnvironment().filter(QRegularExpression(QStringLiteral("^(?!DISPLAY=)")));
    environment << QStringLiteral("DISPLAY=:71");
    auto child = startRecordingChild(moviePath, environment);
    ASSERT_TRUE(child);
    const QString firstJournal = RecoveryJournal::fileFor(InstanceScope::forDisplay(QStringLiteral(":71")));
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(moviePath + QStringLiteral(".started")); }, 20));
    ASSERT_TRUE(QFile::exists(firstJournal));

    // This process is the program on the other display.
    struct OtherDisplay {
        const std::optional<QByteArray> was =
            qEnvironmentVariableIsSet("DISPLAY") ? std::optional(qgetenv("DISPLAY")) : std::nullopt;
        OtherDisplay() { qputenv("DISPLAY", ":72"); }
        ~OtherDisplay() { was ? qputenv("DISPLAY", *was) : qunsetenv("DISPLAY"); }
    } otherDisplay;
    ASSERT_NE(RecoveryJournal::file(), firstJournal);
    for (int launch = 0; launch < 2; ++launch) {
        EXPECT_FALSE(RecoveryJournal::checkNow(folder.path())) << "launch " << launch;
        EXPECT_TRUE(QFile::exists(firstJournal));
        EXPECT_TRUE(QFile::exists(moviePath));
        spin(1.5);
    }
    EXPECT_TRUE(child->isRunning()) << "the first program records on";

    ::kill(child->pid(), SIGKILL);
    ASSERT_TRUE(child->waitFinished(5000));
    QFile::remove(moviePath + QStringLiteral(".started"));
    const auto report = RecoveryJournal::checkNow(folder.path());
    ASSERT_TRUE(report);
    EXPECT_FALSE(QFile::exists(firstJournal));
    ASSERT_EQ(report->found.size(), 1u);
    EXPECT_EQ(QFileInfo(report->found[0].path).fileName(), QFileInfo(moviePath).fileName());
    EXPECT_TRUE(report->found[0].playable);
}

// A microphone that stops delivering (pulled out, its stream not yet given up)
// for 6 s of the recording while system audio plays on: the system audio comes
// through whole, and the movie's sound ends with its picture.
TEST(RecorderEngineE2E, AMicrophoneThatStopsDeliveringCostsTheSystemAudioNothing)
{
    if (!hasFFmpeg())
        GTEST_SKIP() << "ffmpeg is not installed";
    MovieFolder folder(QStringLiteral("RecorderEngineE2E"));
    EngineHarness h(true);
    h.audio->setSystemTone(880, 0.25f);
    auto config = h.config();
    config.systemAudio = true;
    config.outputURL = folder.file(QStringLiteral("Microphone away 6s.mov"));
    ASSERT_FALSE(h.engine->startInner(config));
    // Spans by the recording's own clock: a busy machine stretches them.
    const auto recordFor = [&](double seconds) {
        const double until = h.engine->effectiveSeconds() + seconds;
        return waitUntil([&] { return h.engine->effectiveSeconds() >= until; }, EngineEvents::generous(seconds));
    };
    ASSERT_TRUE(recordFor(2.0));
    h.audio->holdMicrophone(true);
    ASSERT_TRUE(recordFor(6.0));
    h.audio->holdMicrophone(false);
    ASSERT_TRUE(recordFor(2.5));
    const auto path = h.engine->stop();
    ASSERT_TRUE(path);
    EXPECT_EQ(h.events.countStartingWith(line(RecorderEngine::Line::micDead)), 1);

    const MovieProbe::Result probe = MovieProbe::probe(*path);
    const MovieProbe::Stream* video = probe.firstOf(MovieProbe::Stream::Kind::Video);
    const MovieProbe::Stream* audio = probe.firstOf(MovieProbe::Stream::Kind::Audio);
    ASSERT_TRUE(video && audio);
    EXPECT_NEAR(audio->seconds, video->seconds, 0.2);
    EXPECT_LT(double(h.engine->stats().audioMissing) / 48000, 0.2);
    const auto silence = longestSilence(*path, 0.5, 0.2);
    ASSERT_TRUE(silence);
    EXPECT_LT(*silence, 0.2) << "the system audio went silent while the microphone was away";
}

// The microphone switched on with none to record: the start says so, and the
// movie still has a sound track as long as its picture (silence), which every
// player opens.
TEST(RecorderEngineE2E, AMissingMicrophoneIsToldAndTheSoundTrackRunsWithThePicture)
{
    if (!hasFFmpeg())
        GTEST_SKIP() << "ffmpeg is not installed";
    MovieFolder folder(QStringLiteral("RecorderEngineE2E"));
    EngineHarness h(true);
    auto config = h.config(30, false);
    config.microphoneMissing = true;
    config.outputURL = folder.file(QStringLiteral("No microphone.mov"));
    ASSERT_FALSE(h.engine->startInner(config));
    EXPECT_EQ(h.events.countStartingWith(line(RecorderEngine::Line::micDead)), 1) << "told as it starts";
    const double until = 3.0;
    ASSERT_TRUE(waitUntil([&] { return h.engine->effectiveSeconds() >= until; }, EngineEvents::generous(until)));
    const auto path = h.engine->stop();
    ASSERT_TRUE(path);
    EXPECT_EQ(h.events.countStartingWith(line(RecorderEngine::Line::micDead)), 1);

    const MovieProbe::Result probe = MovieProbe::probe(*path);
    ASSERT_TRUE(probe.playable);
    const MovieProbe::Stream* video = probe.firstOf(MovieProbe::Stream::Kind::Video);
    const MovieProbe::Stream* audio = probe.firstOf(MovieProbe::Stream::Kind::Audio);
    ASSERT_TRUE(video && audio);
    EXPECT_GT(audio->packets, 0);
    EXPECT_NEAR(audio->seconds, video->seconds, 0.2);
}
