#include "engine/EngineTestSupport.h"

#include "platform/AudioInput.h"
#include "platform/ffmpeg/MovieProbe.h"
#include "platform/MovieTestSupport.h"
#include "support/PulseFixture.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <utility>

using namespace corvessa;
using namespace corvessa::test;

// Recordings with the sound server's microphone and system audio, on the
// synthetic screen, through the real writer.

namespace {

// Loudness of a movie's audio track (from `from` seconds on) from ffmpeg's
// volumedetect: {mean, max} dB.
std::optional<std::pair<double, double>> volume(const QString& path, double from = 0)
{
    const QString exe = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (exe.isEmpty())
        return std::nullopt;
    QProcess p;
    p.start(exe, {QStringLiteral("-hide_banner"), QStringLiteral("-nostats"), QStringLiteral("-ss"),
                  QString::number(from), QStringLiteral("-i"), path, QStringLiteral("-map"), QStringLiteral("0:a"), QStringLiteral("-af"), QStringLiteral("volumedetect"),
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

// Seconds from a movie's first frame to its first audible sample (above -50
// dBFS, so neither digital silence nor the encoder's rounding); nothing when
// the track has no sound at all or cannot be read.
std::optional<double> firstSoundAfterFirstFrame(const QString& path)
{
    auto startOf = [&](const char* stream) -> std::optional<double> {
        const QJsonArray streams =
            ffprobe(path, {QStringLiteral("-select_streams"), QString::fromLatin1(stream)})
                .value(QStringLiteral("streams"))
                .toArray();
        if (streams.isEmpty())
            return std::nullopt;
        return streams[0].toObject().value(QStringLiteral("start_time")).toString().toDouble();
    };
    const auto video = startOf("v:0");
    const auto audio = startOf("a:0");
    if (!video || !audio)
        return std::nullopt;
    constexpr int rate = 48000;
    const std::optional<QByteArray> sound = monoSound(path, rate, 60000);
    if (!sound)
        return std::nullopt;
    const QByteArray& pcm = *sound;
    const auto* samples = reinterpret_cast<const int16_t*>(pcm.constData());
    for (qsizetype i = 0; i < pcm.size() / 2; ++i)
        if (std::abs(int(samples[i])) > 100)
            return *audio + double(i) / rate - *video;
    return std::nullopt;
}

// The stand-in microphone and the system audio with the speakers muted, into `path`.
RecorderEngine::Config bothSourcesMuted(const EngineHarness& h, const QString& path)
{
    auto config = h.config();
    config.microphoneID = QString::fromLatin1(PulseFixture::micSource);
    config.systemAudio = true;
    config.muteSpeakers = true;
    config.outputURL = path;
    return config;
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

// These tests read the movie's sound back with ffmpeg.
#define REQUIRE_PULSE_AND_FFMPEG(pulse)                                       \
    CORVESSA_REQUIRE_PULSE(pulse);                                            \
    if (QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty())   \
    GTEST_SKIP() << "ffmpeg is not installed"


TEST(RecorderEnginePulse, MicrophoneAndSystemAudioGoIntoOneTrack)
{
    REQUIRE_PULSE_AND_FFMPEG(pulse);
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
    REQUIRE_PULSE_AND_FFMPEG(pulse);
    PulseHarness ph(pulse);
    EngineHarness& h = ph.h;
    MovieFolder folder(QStringLiteral("RecorderEnginePulse"));
    const auto config = bothSourcesMuted(h, folder.file(QStringLiteral("Silence.mov")));
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
    REQUIRE_PULSE_AND_FFMPEG(pulse);
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

TEST(RecorderEnginePulse, MicrophoneIsHeardFromTheFirstFrame)
{
    REQUIRE_PULSE_AND_FFMPEG(pulse);
    // The stand-in microphone sounds all the time, so any silence at the start is ours.
    auto tone = pulse->playTone(QString::fromLatin1(PulseFixture::micSink), 440, 8, 0.5);
    ASSERT_TRUE(tone);
    spin(0.5); // paplay is under way
    PulseHarness ph(pulse);
    EngineHarness& h = ph.h;
    MovieFolder folder(QStringLiteral("RecorderEnginePulse"));
    auto config = h.config();
    config.microphoneID = QString::fromLatin1(PulseFixture::micSource);
    config.outputURL = folder.file(QStringLiteral("Microphone from the start.mov"));
    ASSERT_FALSE(h.engine->startInner(config));
    spin(2.0);
    const auto path = h.engine->stop();
    ASSERT_TRUE(path);
    const auto first = firstSoundAfterFirstFrame(*path);
    ASSERT_TRUE(first) << "no sound in the movie";
    EXPECT_LT(*first, 0.3) << "the first words would be lost";
}

// The seconds a gap line tells.
double gapSeconds(const std::optional<QString>& told)
{
    const auto number = QRegularExpression(QStringLiteral(" ([0-9.]+) s;")).match(told.value_or(QString()));
    return number.hasMatch() ? number.captured(1).toDouble() : -1;
}

// The sound server killed mid-recording and started again on the same socket
// (an update, a crash): both sources come back and the user is told how long
// each was missing.
TEST(RecorderEnginePulse, ASoundServerRestartedMidRecordingResumesBothSourcesAndTellsTheGap)
{
    REQUIRE_PULSE_AND_FFMPEG(pulse);
    PulseHarness ph(pulse);
    EngineHarness& h = ph.h;
    MovieFolder folder(QStringLiteral("RecorderEnginePulse"));
    const auto config = bothSourcesMuted(h, folder.file(QStringLiteral("Server restarted.mov")));
    ASSERT_FALSE(h.engine->startInner(config));
    spin(1.0);
    pulse->killServer();
    spin(2.0);
    ASSERT_TRUE(pulse->restartServer());
    const double back = h.engine->effectiveSeconds();
    auto micTone = pulse->playTone(QString::fromLatin1(PulseFixture::micSink), 440, 30, 0.5);
    auto sysTone = pulse->playTone({}, 1000, 30, 0.5);
    ASSERT_TRUE(micTone && sysTone);
    const QString micGap = line(RecorderEngine::Line::micGap);
    const QString systemGap = line(RecorderEngine::Line::systemGap);
    EXPECT_TRUE(waitUntil(
        [&] { return h.events.countStartingWith(micGap) > 0 && h.events.countStartingWith(systemGap) > 0; }, 15));
    spin(2.5);
    const auto path = h.engine->stop();
    ASSERT_TRUE(path);
    EXPECT_EQ(h.events.countStartingWith(micGap), 1);
    EXPECT_EQ(h.events.countStartingWith(systemGap), 1);
    for (const QString& gap : {micGap, systemGap}) {
        const double seconds = gapSeconds(h.events.firstStartingWith(gap));
        EXPECT_GE(seconds, 2.0) << gap.toStdString();
        EXPECT_LT(seconds, h.engine->effectiveSeconds() - 2.0) << gap.toStdString();
    }
    const auto after = volume(*path, back + 1.0);
    ASSERT_TRUE(after);
    EXPECT_GT(after->second, -12.0) << "no sound after the server came back";
}

// The microphone's source removed and added again (a USB microphone unplugged
// and plugged in): its sound comes back and the gap is told.
TEST(RecorderEnginePulse, AMicrophoneAwayAndBackIsToldWithItsGap)
{
    CORVESSA_REQUIRE_PULSE(pulse);
    PulseHarness ph(pulse);
    EngineHarness& h = ph.h;
    auto tone = pulse->playTone(QString::fromLatin1(PulseFixture::micSink), 440, 30, 0.5);
    ASSERT_TRUE(tone);
    auto config = h.config();
    config.microphoneID = QString::fromLatin1(PulseFixture::micSource);
    ASSERT_FALSE(h.engine->startInner(config));
    spin(1.0);
    QString module;
    for (const QString& row : pulse->modules())
        if (row.contains(QLatin1String("source_name=stand_in_mic")))
            module = row.section(QLatin1Char('\t'), 0, 0);
    ASSERT_FALSE(module.isEmpty());
    ASSERT_TRUE(pulse->pactl({QStringLiteral("unload-module"), module}));
    // What the source delivered before it went may still be on its way through
    // a busy machine's queues: counted from once that has settled.
    int before = h.events.micLevels();
    waitUntil([&] {
        spin(0.5);
        const int earlier = std::exchange(before, h.events.micLevels());
        return earlier == before;
    }, 10);
    spin(2.5);
    EXPECT_LT(h.events.micLevels(), before + 5) << "the microphone's stream records something else meanwhile";
    ASSERT_TRUE(pulse->pactl({QStringLiteral("load-module"), QStringLiteral("module-remap-source"),
                              QStringLiteral("master=mic.monitor"), QStringLiteral("source_name=stand_in_mic")}));
    const QString micGap = line(RecorderEngine::Line::micGap);
    ASSERT_TRUE(waitUntil([&] { return h.events.countStartingWith(micGap) > 0; }, 10));
    EXPECT_GE(gapSeconds(h.events.firstStartingWith(micGap)), 2.0);
    h.engine->stop();
}

// The microphone's source removed for 6 s of the recording (a USB headset
// pulled out) while other programs play on: the system audio is in the movie
// without a break, and the movie's sound ends with its picture.
TEST(RecorderEnginePulse, AMicrophoneRemovedForSixSecondsCostsTheSystemAudioNothing)
{
    REQUIRE_PULSE_AND_FFMPEG(pulse);
    auto micTone = pulse->playTone(QString::fromLatin1(PulseFixture::micSink), 440, 60, 0.5);
    auto sysTone = pulse->playTone(QString::fromLatin1(PulseFixture::speakers), 880, 60, 0.5);
    ASSERT_TRUE(micTone && sysTone);
    spin(0.5); // paplay is under way
    PulseHarness ph(pulse);
    EngineHarness& h = ph.h;
    MovieFolder folder(QStringLiteral("RecorderEnginePulse"));
    auto config = h.config();
    config.microphoneID = QString::fromLatin1(PulseFixture::micSource);
    config.systemAudio = true;
    config.outputURL = folder.file(QStringLiteral("Microphone removed 6s.mov"));
    ASSERT_FALSE(h.engine->startInner(config));
    // Spans by the recording's own clock: a busy machine stretches them.
    const auto recordFor = [&](double seconds) {
        const double until = h.engine->effectiveSeconds() + seconds;
        return waitUntil([&] { return h.engine->effectiveSeconds() >= until; }, EngineEvents::generous(seconds));
    };
    ASSERT_TRUE(recordFor(2.0));
    QString module;
    for (const QString& row : pulse->modules())
        if (row.contains(QLatin1String("source_name=stand_in_mic")))
            module = row.section(QLatin1Char('\t'), 0, 0);
    ASSERT_FALSE(module.isEmpty());
    ASSERT_TRUE(pulse->pactl({QStringLiteral("unload-module"), module}));
    ASSERT_TRUE(recordFor(6.0));
    ASSERT_TRUE(pulse->pactl({QStringLiteral("load-module"), QStringLiteral("module-remap-source"),
                              QStringLiteral("master=mic.monitor"), QStringLiteral("source_name=stand_in_mic")}));
    ASSERT_TRUE(recordFor(2.5));
    const auto path = h.engine->stop();
    ASSERT_TRUE(path);

    const MovieProbe::Result probe = MovieProbe::probe(*path);
    const MovieProbe::Stream* video = probe.firstOf(MovieProbe::Stream::Kind::Video);
    const MovieProbe::Stream* audio = probe.firstOf(MovieProbe::Stream::Kind::Audio);
    ASSERT_TRUE(video && audio);
    EXPECT_NEAR(audio->seconds, video->seconds, 0.2);
    // By the program's own counts (a loaded machine's players leave holes of
    // their own in what the speakers play): the system audio delivered all
    // along, and next to none of what came is missing from the movie.
    EXPECT_EQ(h.events.countStartingWith(line(RecorderEngine::Line::systemGap)), 0);
    EXPECT_LT(double(h.engine->stats().audioMissing) / 48000, 0.2)
        << "the system audio went missing while the microphone was away";
}

// Headphones plugged in mid-recording under muted speakers: the other
// programs' sound stays out of the new output and in the movie.
TEST(RecorderEnginePulse, ANewDefaultOutputUnderMutedSpeakersStaysInTheMovie)
{
    REQUIRE_PULSE_AND_FFMPEG(pulse);
    const auto module = pulse->pactl({QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                                      QStringLiteral("sink_name=headphones")});
    ASSERT_TRUE(module);
    auto music = pulse->playTone({}, 700, 30, 0.5, {}, QStringLiteral("music"));
    ASSERT_TRUE(music);
    PulseHarness ph(pulse);
    EngineHarness& h = ph.h;
    MovieFolder folder(QStringLiteral("RecorderEnginePulse"));
    auto config = h.config(30, false);
    config.systemAudio = true;
    config.muteSpeakers = true;
    config.outputURL = folder.file(QStringLiteral("New default output.mov"));
    ASSERT_FALSE(h.engine->startInner(config));
    spin(1.0);
    ASSERT_TRUE(pulse->pactl({QStringLiteral("set-default-sink"), QStringLiteral("headphones")}));
    const double changed = h.engine->effectiveSeconds();
    spin(1.0);
    const auto heard = pulse->recordPeak(QStringLiteral("headphones.monitor"), 1.0);
    spin(1.0);
    const auto path = h.engine->stop();
    ASSERT_TRUE(path);
    ASSERT_TRUE(heard);
    EXPECT_EQ(*heard, 0.0f) << "the new output plays the muted sound";
    const auto after = volume(*path, changed + 1.0);
    ASSERT_TRUE(after);
    EXPECT_GT(after->second, -15.0) << "the movie lost the sound when the output changed";
    EXPECT_EQ(pulse->sinksOfStreams(QStringLiteral("music")), QStringList{QStringLiteral("headphones")});
    pulse->pactl({QStringLiteral("set-default-sink"), QLatin1String(PulseFixture::speakers)});
    pulse->pactl({QStringLiteral("unload-module"), module->trimmed()});
}
