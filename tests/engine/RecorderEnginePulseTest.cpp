#include "engine/EngineTestSupport.h"

#include "platform/AudioInput.h"
#include "platform/ffmpeg/MovieProbe.h"
#include "platform/MovieTestSupport.h"
#include "support/PulseFixture.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>

using namespace corvessa;
using namespace corvessa::test;

// Recordings with the sound server's microphone and system audio, on the
// synthetic screen, through the real writer.

namespace {

// Loudness of a movie's audio track from ffmpeg's volumedetect: {mean, max} dB.
std::optional<std::pair<double, double>> volume(const QString& path)
{
    const QString exe = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (exe.isEmpty())
        return std::nullopt;
    QProcess p;
    p.start(exe, {QStringLiteral("-hide_banner"), QStringLiteral("-nostats"), QStringLiteral("-i"), path,
                  QStringLiteral("-map"), QStringLiteral("0:a"), QStringLiteral("-af"), QStringLiteral("volumedetect"),
                  QStringLiteral("-f"), QStringLiteral("null"), QStringLiteral("-")});
    if (!p.waitForFinished(60000))
        return std::nullopt;
    const QString err = QString::fromUtf8(p.readAllStandardError());
    const auto mean = QRegularExpression(QStringLiteral("mean_volume: (-?[0-9.inf]+) dB")).match(err);
    const auto max = QRegularExpression(QStringLiteral("max_volume: (-?[0-9.inf]+) dB")).match(err);
    if (!mean.hasMatch() || !max.hasMatch())
        return std::nullopt;
    return std::make_pair(mean.captured(1).toDouble(), max.captured(1).toDouble());
}

struct PulseHarness {
    explicit PulseHarness(PulseFixture*) : h(true)
    {
        auto input = AudioInput::current();
        h.source->setAudioInput(input);
        h.engine->setAudioInput(input);
    }
    EngineHarness h;
};

} // namespace

TEST(RecorderEnginePulse, MicrophoneAndSystemAudioGoIntoOneTrack)
{
    CORVESSA_REQUIRE_PULSE(pulse);
    if (QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty())
        GTEST_SKIP() << "ffmpeg is not installed";
    PulseHarness ph(pulse);
    EngineHarness& h = ph.h;
    MovieFolder folder(QStringLiteral("RecorderEnginePulse"));

    auto micTone = pulse->playTone(QString::fromLatin1(PulseFixture::micSink), 440, 6, 0.5);
    auto sysTone = pulse->playTone(QString::fromLatin1(PulseFixture::speakers), 1000, 6, 0.5);
    ASSERT_TRUE(micTone && sysTone);

    auto config = h.config();
    config.microphoneID = QString::fromLatin1(PulseFixture::micSource);
    config.systemAudio = true;
    config.outputURL = folder.file(QStringLiteral("Mic and system audio.mov"));
    ASSERT_FALSE(h.engine->startInner(config));
    EXPECT_EQ(h.events.countStartingWith(line(RecorderEngine::Line::systemAudioFailed)), 0);
    spin(3.0);
    const auto path = h.engine->stop();
    ASSERT_TRUE(path);
    EXPECT_EQ(h.events.countStartingWith(QStringLiteral("Microphone format: ")), 1);
    EXPECT_GT(h.events.micLevels(), 50);

    const MovieProbe::Result probe = MovieProbe::probe(*path);
    const MovieProbe::Stream* audio = probe.firstOf(MovieProbe::Stream::Kind::Audio);
    ASSERT_TRUE(audio);
    EXPECT_NEAR(audio->seconds, h.engine->effectiveSeconds() + 1.0 / 30, 0.1);
    const auto v = volume(*path);
    ASSERT_TRUE(v);
    EXPECT_GT(v->second, -12.0) << "max " << v->second;
    EXPECT_GT(v->first, -25.0) << "mean " << v->first;
    const auto stats = h.engine->stats();
    EXPECT_EQ(stats.audioDiscarded, 0);
}

TEST(RecorderEnginePulse, QuietRoomGivesASilentTrack)
{
    CORVESSA_REQUIRE_PULSE(pulse);
    if (QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty())
        GTEST_SKIP() << "ffmpeg is not installed";
    PulseHarness ph(pulse);
    EngineHarness& h = ph.h;
    MovieFolder folder(QStringLiteral("RecorderEnginePulse"));
    auto config = h.config();
    config.microphoneID = QString::fromLatin1(PulseFixture::micSource);
    config.systemAudio = true;
    config.muteSpeakers = true;
    config.outputURL = folder.file(QStringLiteral("Silence.mov"));
    ASSERT_FALSE(h.engine->startInner(config));
    spin(2.0);
    const auto path = h.engine->stop();
    ASSERT_TRUE(path);
    const auto v = volume(*path);
    ASSERT_TRUE(v);
    EXPECT_LT(v->second, -60.0);
    // The microphone delivered all along: no watchdog line.
    EXPECT_EQ(h.events.count(line(RecorderEngine::Line::micDead)), 0);
}

TEST(RecorderEnginePulse, MutedSpeakersStillRecordOtherPrograms)
{
    CORVESSA_REQUIRE_PULSE(pulse);
    if (QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty())
        GTEST_SKIP() << "ffmpeg is not installed";
    PulseHarness ph(pulse);
    EngineHarness& h = ph.h;
    MovieFolder folder(QStringLiteral("RecorderEnginePulse"));
    auto config = h.config(30, false);
    config.systemAudio = true;
    config.muteSpeakers = true;
    config.outputURL = folder.file(QStringLiteral("Muted speakers.mov"));
    ASSERT_FALSE(h.engine->startInner(config));
    auto tone = pulse->playTone(QString(), 700, 4, 0.5);
    ASSERT_TRUE(tone);
    spin(3.0);
    // A change of the setting while recording rebuilds the tap and goes on.
    h.engine->setMuteSpeakers(false);
    spin(0.5);
    const auto path = h.engine->stop();
    ASSERT_TRUE(path);
    const auto v = volume(*path);
    ASSERT_TRUE(v);
    EXPECT_GT(v->second, -15.0);
}
