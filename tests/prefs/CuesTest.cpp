#include "platform/core/Resources.h"
#include "platform/core/XdgPaths.h"
#include "prefs/Cues.h"
#include "support/TempHome.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QtEndian>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

using namespace corvessa;

namespace {

using Kind = Cues::Kind;

QByteArray le16(quint16 v)
{
    QByteArray b(2, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

QByteArray le32(quint32 v)
{
    QByteArray b(4, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

QByteArray chunk(const QByteArray& id, const QByteArray& body)
{
    QByteArray c = id + le32(quint32(body.size())) + body;
    if (body.size() % 2)
        c += '\0';
    return c;
}

QByteArray fmtBody(quint16 format, quint16 channels, quint32 rate, quint16 bits, int blockAlign = -1)
{
    const quint16 align = blockAlign >= 0 ? quint16(blockAlign) : quint16(channels * bits / 8);
    return le16(format) + le16(channels) + le32(rate) + le32(rate * align) + le16(align) + le16(bits);
}

QByteArray samples(std::initializer_list<qint16> values)
{
    QByteArray b;
    for (qint16 v : values)
        b += le16(quint16(v));
    return b;
}

QByteArray riff(const QByteArray& chunks)
{
    return "RIFF" + le32(quint32(4 + chunks.size())) + "WAVE" + chunks;
}

QByteArray wave(const QByteArray& fmt, const QByteArray& data)
{
    return riff(chunk("fmt ", fmt) + chunk("data", data));
}

const QByteArray kStereo = samples({1, -1, 32767, -32768});

Cues::Sound parsed(const QByteArray& bytes)
{
    QString error;
    auto sound = Cues::parseWave(bytes, &error);
    EXPECT_TRUE(sound) << error.toStdString();
    return sound.value_or(Cues::Sound{});
}

// Zero crossings per second: enough to tell a higher cue from a lower one.
double pitch(const Cues::Sound& s)
{
    int crossings = 0;
    for (size_t i = s.channels; i < s.samples.size(); i += s.channels)
        crossings += (s.samples[i - s.channels] < 0) != (s.samples[i] < 0);
    return crossings / (double(s.frames()) / s.sampleRate);
}

bool waitFor(const std::function<bool()>& done, int ms)
{
    return QTest::qWaitFor(done, ms);
}

int logLines(const QByteArray& tag)
{
    QFile f(XdgPaths::logFile());
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    return int(f.readAll().count(tag));
}

} // namespace

// ---- the shipped cues ----

TEST(CuesFiles, EveryKindHasAPlayableFile)
{
    for (Kind kind : Cues::allKinds) {
        SCOPED_TRACE(Cues::resource(kind).toStdString());
        const auto bytes = Resources::bytes(Cues::resource(kind));
        ASSERT_TRUE(bytes);
        const Cues::Sound s = parsed(*bytes);
        EXPECT_EQ(s.sampleRate, 48000);
        EXPECT_TRUE(s.channels == 1 || s.channels == 2);
        // Short: a cue must be over well before the next countdown second.
        EXPECT_GT(s.frames(), 48000 / 20);
        EXPECT_LT(s.frames(), 48000 * 2);
        int peak = 0;
        for (qint16 v : s.samples)
            peak = std::max(peak, std::abs(int(v)));
        EXPECT_GT(peak, 16000) << "too quiet";
        EXPECT_LT(peak, 32767) << "clipped";
        // Starting and ending at rest, so no cue clicks.
        EXPECT_LT(std::abs(int(s.samples.front())), 200);
        EXPECT_LT(std::abs(int(s.samples.back())), 200);
    }
}

TEST(CuesFiles, KindsAreNamedAfterTheirFilesAndSoundDistinct)
{
    const QStringList names{"tick", "tick_last", "start", "end", "launch", "pause"};
    ASSERT_EQ(Cues::allKinds.size(), size_t(names.size()));
    for (size_t i = 0; i < Cues::allKinds.size(); ++i) {
        EXPECT_EQ(Cues::name(Cues::allKinds[i]), names[int(i)]);
        EXPECT_EQ(Cues::resource(Cues::allKinds[i]), "sounds/" + names[int(i)] + ".wav");
    }
    for (Kind a : Cues::allKinds) {
        for (Kind b : Cues::allKinds) {
            if (a != b) {
                EXPECT_NE(*Resources::bytes(Cues::resource(a)), *Resources::bytes(Cues::resource(b)));
            }
        }
    }

    const auto load = [](Kind k) { return parsed(*Resources::bytes(Cues::resource(k))); };
    EXPECT_GT(pitch(load(Kind::tick_last)), pitch(load(Kind::tick)) * 1.2); // the last tick is higher
    EXPECT_LT(pitch(load(Kind::pause)), pitch(load(Kind::start)) / 2);     // a dull thud against a bright bell
}

TEST(CuesFiles, LoadAppliesTheVolume)
{
    EXPECT_DOUBLE_EQ(Cues::volume(Kind::launch), 0.5);
    for (Kind kind : Cues::allKinds) {
        if (kind != Kind::launch) {
            EXPECT_DOUBLE_EQ(Cues::volume(kind), 0.85);
        }
        const Cues::Sound raw = parsed(*Resources::bytes(Cues::resource(kind)));
        const auto loaded = Cues::load(kind);
        ASSERT_TRUE(loaded);
        ASSERT_EQ(loaded->samples.size(), raw.samples.size());
        EXPECT_EQ(loaded->sampleRate, raw.sampleRate);
        for (size_t i = 0; i < raw.samples.size(); i += 97)
            ASSERT_EQ(loaded->samples[i], qint16(std::lround(raw.samples[i] * Cues::volume(kind)))) << i;
    }
}

// ---- WAVE parsing ----

TEST(CuesWave, ReadsPlainPcm)
{
    const Cues::Sound s = parsed(wave(fmtBody(1, 2, 44100, 16), kStereo));
    EXPECT_EQ(s.sampleRate, 44100);
    EXPECT_EQ(s.channels, 2);
    EXPECT_EQ(s.frames(), 2);
    EXPECT_EQ(s.samples, (std::vector<qint16>{1, -1, 32767, -32768}));
}

TEST(CuesWave, AcceptsWhatWritersCommonlyProduce)
{
    const QByteArray fmt = fmtBody(1, 1, 48000, 16);
    const QByteArray data = samples({5, -5, 7});
    // Other chunks around, an odd-sized one with its pad byte, and data before fmt.
    EXPECT_EQ(parsed(riff(chunk("LIST", "INFOabc") + chunk("data", data) + chunk("fmt ", fmt))).samples,
              (std::vector<qint16>{5, -5, 7}));
    // A RIFF size that overstates the file.
    QByteArray big = wave(fmt, data);
    qToLittleEndian<quint32>(0x7fffffff, big.data() + 4);
    EXPECT_EQ(parsed(big).frames(), 3);
    // Bytes after the RIFF end are not part of the file.
    EXPECT_EQ(parsed(wave(fmt, data) + "junkjunkjunk").frames(), 3);
    // A longer fmt chunk (cbSize = 0).
    EXPECT_EQ(parsed(wave(fmt + le16(0), data)).frames(), 3);
    // WAVE_FORMAT_EXTENSIBLE with the PCM sub-format.
    const QByteArray pcmGuid = le16(1) + QByteArray("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    const QByteArray ext = fmtBody(0xFFFE, 2, 48000, 16) + le16(22) + le16(16) + le32(3) + pcmGuid;
    EXPECT_EQ(parsed(wave(ext, kStereo)).channels, 2);
}

TEST(CuesWave, RejectsAnythingElseWithAReason)
{
    const QByteArray mono = samples({1, 2});
    const QByteArray goodFmt = fmtBody(1, 1, 48000, 16);
    const QByteArray floatGuid = le16(3) + QByteArray("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    QByteArray cut = wave(goodFmt, samples({1, 2, 3, 4}));
    cut.chop(2);
    QByteArray overlong = riff(chunk("fmt ", goodFmt) + chunk("LIST", "abcd"));
    qToLittleEndian<quint32>(100, overlong.data() + overlong.size() - 8);

    const struct {
        const char* what;
        QByteArray bytes;
        const char* reason;
    } cases[] = {
        {"empty", QByteArray(), "not a RIFF/WAVE"},
        {"other container", "RIFX" + wave(goodFmt, mono).mid(4), "not a RIFF/WAVE"},
        {"AVI", "RIFF" + le32(4) + "AVI ", "not a RIFF/WAVE"},
        {"no fmt", riff(chunk("data", mono)), "no fmt"},
        {"no data", riff(chunk("fmt ", goodFmt)), "no data"},
        {"short fmt", wave(goodFmt.left(14), mono), "too short"},
        {"float", wave(fmtBody(3, 1, 48000, 32), samples({0, 0})), "format code 3"},
        {"mu-law", wave(fmtBody(7, 1, 8000, 8), mono), "format code 7"},
        {"extensible float", wave(fmtBody(0xFFFE, 1, 48000, 16) + le16(22) + le16(16) + le32(4) + floatGuid, mono), "format code 3"},
        {"extensible unknown", wave(fmtBody(0xFFFE, 1, 48000, 16) + le16(22) + le16(16) + le32(4) + QByteArray(16, 'x'), mono), "sub-format"},
        {"extensible short", wave(fmtBody(0xFFFE, 1, 48000, 16), mono), "too short"},
        {"8-bit", wave(fmtBody(1, 1, 48000, 8), mono), "8-bit"},
        {"24-bit", wave(fmtBody(1, 1, 48000, 24), QByteArray(6, '\0')), "24-bit"},
        {"no channels", wave(fmtBody(1, 0, 48000, 16, 2), mono), "0 channels"},
        {"5.1", wave(fmtBody(1, 6, 48000, 16), QByteArray(12, '\0')), "6 channels"},
        {"rate 0", wave(fmtBody(1, 1, 0, 16), mono), "sample rate 0"},
        {"rate huge", wave(fmtBody(1, 1, 4000000000u, 16), mono), "sample rate"},
        {"bad block align", wave(fmtBody(1, 2, 48000, 16, 2), kStereo), "block alignment"},
        {"no samples", wave(goodFmt, QByteArray()), "no samples"},
        {"half frame", wave(fmtBody(1, 2, 48000, 16), samples({1, 2, 3})), "inside a frame"},
        {"truncated data", cut, "cut short"},
        {"chunk past end", overlong, "past the end"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QString error;
        EXPECT_FALSE(Cues::parseWave(c.bytes, &error));
        EXPECT_TRUE(error.contains(QLatin1String(c.reason))) << error.toStdString();
        EXPECT_FALSE(Cues::parseWave(c.bytes)); // without asking for the reason
    }
    // Every prefix of a good file is either rejected or read whole, never past its end.
    const QByteArray good = wave(goodFmt, samples({1, 2, 3, 4}));
    for (qsizetype n = 0; n < good.size(); ++n)
        EXPECT_FALSE(Cues::parseWave(good.left(n))) << n;
}

TEST(CuesWave, ScalingRoundsAndClips)
{
    std::vector<qint16> s{0, 1, -1, 2, 100, -100, 32767, -32768};
    Cues::scale(s, 0.85);
    EXPECT_EQ(s, (std::vector<qint16>{0, 1, -1, 2, 85, -85, 27852, -27853}));

    s = {3, -3, 32767, -32768};
    Cues::scale(s, 0.5);
    EXPECT_EQ(s, (std::vector<qint16>{2, -2, 16384, -16384})); // halves round away from zero

    s = {1000, -1000, 20000, -20000};
    Cues::scale(s, 2.0);
    EXPECT_EQ(s, (std::vector<qint16>{2000, -2000, 32767, -32768}));

    s = {1000, -1000};
    Cues::scale(s, 0.0);
    EXPECT_EQ(s, (std::vector<qint16>{0, 0}));
}

// ---- playing without a sound server ----

TEST(CuesPlay, WithoutASoundServerCuesAreSkippedQuietly)
{
    test::TempHome home;
    const QByteArray saved = qgetenv("PULSE_SERVER");
    const bool hadServer = qEnvironmentVariableIsSet("PULSE_SERVER");
    qputenv("PULSE_SERVER", QByteArray("unix:") + home.file("no-such-dir/native").toUtf8());

    const Cues::Counts before = Cues::counts();
    QElapsedTimer t;
    t.start();
    for (Kind kind : Cues::allKinds)
        Cues::play(kind);
    // Generous: a busy machine can hold the test up, never for seconds of a connection's wait.
    EXPECT_LT(t.elapsed(), 2000) << "play() must not wait for the server";
    EXPECT_TRUE(waitFor([] { return Cues::playingCount() == 0; }, 5000));
    Cues::Counts after = Cues::counts();
    EXPECT_EQ(after.requested - before.requested, 6u);
    EXPECT_EQ(after.skipped - before.skipped, 6u);
    EXPECT_EQ(after.finished, before.finished);
    EXPECT_EQ(logLines("[cues]"), 1) << "one line for the whole streak";
    EXPECT_EQ(logLines("[cues] tick skipped: "), 1);

    // The preview keeps its timing on the main queue and stays in the same streak.
    t.restart();
    Cues::previewCountdown();
    EXPECT_EQ(Cues::counts().requested - after.requested, 1u) << "the first tick at once, the others later";
    EXPECT_TRUE(waitFor([&] { return Cues::counts().requested - after.requested == 4; }, 30000));
    EXPECT_GE(t.elapsed(), 1500) << "spaced as the countdown is";
    EXPECT_TRUE(waitFor([] { return Cues::playingCount() == 0; }, 5000));
    EXPECT_EQ(Cues::counts().skipped - after.skipped, 4u);
    EXPECT_EQ(logLines("[cues]"), 1);

    if (hadServer)
        qputenv("PULSE_SERVER", saved);
    else
        qunsetenv("PULSE_SERVER");
}
