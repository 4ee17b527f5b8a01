#include "platform/MovieTestSupport.h"
#include "platform/ffmpeg/DecodedFrames.h"

#include "platform/core/ThreadPriority.h"

#include "platform/ffmpeg/FFmpegHandles.h"
#include "platform/ffmpeg/FFmpegMovieWriter.h"
#include "platform/ffmpeg/MovieProbe.h"
#include "support/DrivenTest.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>

#include <csignal>
#include <fcntl.h>
#include <random>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace corvessa;
using namespace corvessa::test;
using Input = MovieWriter::Input;
using Status = MovieWriter::Status;

namespace {

struct Recording {
    double seconds = 5;
    int fps = 30;
    int width = 320;
    int height = 240;
    PixelFormat format = PixelFormat::BGRA;
    bool audio = true;
    std::optional<double> endAt; // seconds; default: one frame after the last
    double soundFrom = 0;        // seconds: the tone's first sample comes this late
};

// Records `r` as fast as the writer takes it: frames at exact 1/fps steps from
// the session start, audio in 10 ms pieces.
void record(MovieWriter& w, const Recording& r)
{
    ASSERT_TRUE(w.startWriting()) << w.error().value_or(RecorderError{}).message.toStdString();
    const MediaTime start = hostBase();
    w.startSession(start);
    const int frames = int(std::lround(r.seconds * r.fps));
    const MediaTime interval(1, r.fps);
    int64_t audioDone = int64_t(std::llround(r.soundFrom * 48000));
    const int64_t audioTotal = int64_t(std::llround(r.seconds * 48000));
    for (int i = 0; i < frames; ++i) {
        const MediaTime pts = start + interval.multiplied(i);
        auto sample = MediaTime::image(testPicture(r.width, r.height, r.format, i), pts, interval);
        ASSERT_TRUE(appendWhenReady(w, Input::Video, *sample)) << "frame " << i;
        // Audio up to the end of this frame.
        const int64_t until = std::min(audioTotal, int64_t(std::llround((i + 1) * 48000.0 / r.fps)));
        while (r.audio && audioDone < until) {
            const size_t n = size_t(std::min<int64_t>(480, until - audioDone));
            ASSERT_TRUE(appendWhenReady(w, Input::Audio, tone(audioDone, n, start + MediaTime(audioDone, 48000))));
            audioDone += int64_t(n);
        }
    }
    w.markAsFinished(Input::Video);
    if (r.audio)
        w.markAsFinished(Input::Audio);
    w.endSession(start + (r.endAt ? seconds(*r.endAt) : interval.multiplied(frames)));
    ASSERT_TRUE(finishAndWait(w));
}

struct Yuv {
    int y = -1, u = -1, v = -1;
};

// Decodes the first video frame and reads one pixel of it.
Yuv firstFramePixel(const QString& path, int x, int y)
{
    Yuv out;
    eachDecodedFrame(path, AVMEDIA_TYPE_VIDEO, [&](const AVCodecContext&, const AVFrame& frame) {
        out.y = frame.data[0][y * frame.linesize[0] + x];
        out.u = frame.data[1][(y / 2) * frame.linesize[1] + x / 2];
        out.v = frame.data[2][(y / 2) * frame.linesize[2] + x / 2];
        return false;
    });
    return out;
}

std::string why(const MovieWriter& w)
{
    return w.error().value_or(RecorderError{}).message.toStdString();
}

QStringList threadIds()
{
    return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
}

} // namespace

TEST(FFmpegMovieWriter, WritesFragmentedHevcAndAacThatReadBack)
{
    MovieFolder folder(QStringLiteral("FFmpegMovieWriter"));
    const QString path = folder.file(QStringLiteral("hevc-aac-320x240-30fps-5s.mov"));
    FFmpegMovieWriter w(movieSettings(path, 320, 240, 30));
    record(w, {});
    ASSERT_EQ(w.status(), Status::Completed) << why(w);

    const MovieProbe::Result probe = MovieProbe::probe(path);
    ASSERT_TRUE(probe.opened) << probe.error.toStdString();
    EXPECT_TRUE(probe.playable);
    ASSERT_EQ(probe.streams.size(), 2u);
    const auto* video = probe.firstOf(MovieProbe::Stream::Kind::Video);
    const auto* audio = probe.firstOf(MovieProbe::Stream::Kind::Audio);
    ASSERT_TRUE(video && audio);
    EXPECT_EQ(video->codec, "hevc");
    EXPECT_EQ(video->codecTag, "hvc1");
    EXPECT_EQ(video->width, 320);
    EXPECT_EQ(video->height, 240);
    EXPECT_EQ(video->packets, 150);
    EXPECT_NEAR(video->seconds, 5.0, 0.001);
    EXPECT_EQ(video->colorPrimaries, "bt709");
    EXPECT_EQ(video->colorTransfer, "iec61966-2-1");
    EXPECT_EQ(video->colorSpace, "bt709");
    EXPECT_EQ(video->colorRange, "tv");
    // A key frame at least every 2 s: at 0, 2 and 4 s.
    ASSERT_GE(video->keyTimes.size(), 3u);
    EXPECT_EQ(video->keyTimes.front(), 0.0);
    for (size_t i = 1; i < video->keyTimes.size(); ++i)
        EXPECT_LE(video->keyTimes[i] - video->keyTimes[i - 1], 2.0 + 1e-6);
    EXPECT_EQ(audio->codec, "aac");
    EXPECT_EQ(audio->sampleRate, 48000);
    EXPECT_EQ(audio->channels, 2);
    // AAC comes in 1024-sample packets: the last one may reach past the end.
    EXPECT_GE(audio->seconds, 5.0 - 1e-6);
    EXPECT_LE(audio->seconds, 5.0 + 1024.0 / 48000 + 1e-6);
    EXPECT_NEAR(probe.seconds, audio->seconds, 1e-9);

    // Written in fragments: 0-2, 2-4 and 4-5 s.
    EXPECT_GE(countBoxes(path, "moof"), 3);

    // An independent reader agrees.
    const QJsonObject json = ffprobe(path, {QStringLiteral("-count_packets")});
    if (json.isEmpty())
        GTEST_SKIP() << "ffprobe not available for the cross-check";
    const QJsonArray streams = json[QStringLiteral("streams")].toArray();
    ASSERT_EQ(streams.size(), 2);
    for (const auto& v : streams) {
        const QJsonObject s = v.toObject();
        if (s[QStringLiteral("codec_type")].toString() == QStringLiteral("video")) {
            EXPECT_EQ(s[QStringLiteral("codec_name")].toString(), "hevc");
            EXPECT_EQ(s[QStringLiteral("codec_tag_string")].toString(), "hvc1");
            EXPECT_EQ(s[QStringLiteral("nb_read_packets")].toString(), "150");
            EXPECT_EQ(s[QStringLiteral("color_primaries")].toString(), "bt709");
            EXPECT_EQ(s[QStringLiteral("color_transfer")].toString(), "iec61966-2-1");
            EXPECT_EQ(s[QStringLiteral("color_space")].toString(), "bt709");
            EXPECT_EQ(s[QStringLiteral("start_time")].toString().toDouble(), 0.0);
        } else {
            EXPECT_EQ(s[QStringLiteral("codec_name")].toString(), "aac");
            EXPECT_EQ(s[QStringLiteral("sample_rate")].toString(), "48000");
            EXPECT_EQ(s[QStringLiteral("channels")].toInt(), 2);
            EXPECT_EQ(s[QStringLiteral("start_time")].toString().toDouble(), 0.0);
        }
    }
    EXPECT_NEAR(json[QStringLiteral("format")].toObject()[QStringLiteral("duration")].toString().toDouble(), 5.0, 0.03);
}

TEST(FFmpegMovieWriter, KeepsKeyFramesCloseWhenFramesComeSeldom)
{
    // A still screen: the heartbeat repeats the picture about every 0.9 s, far
    // fewer frames than the encoder's key frame interval counts on.
    MovieFolder folder(QStringLiteral("FFmpegMovieWriter"));
    const QString path = folder.file(QStringLiteral("sparse-frames.mov"));
    FFmpegMovieWriter w(movieSettings(path, 160, 120, 30, false));
    ASSERT_TRUE(w.startWriting()) << why(w);
    const MediaTime start = hostBase();
    w.startSession(start);
    const MediaTime step(9, 10);
    for (int i = 0; i < 12; ++i)
        ASSERT_TRUE(appendWhenReady(w, Input::Video, *MediaTime::image(testPicture(160, 120, PixelFormat::BGRA, i), start + step.multiplied(i), MediaTime(1, 30))));
    w.endSession(start + seconds(10.8));
    ASSERT_TRUE(finishAndWait(w));
    ASSERT_EQ(w.status(), Status::Completed) << why(w);

    const auto probe = MovieProbe::probe(path);
    const auto* video = probe.firstOf(MovieProbe::Stream::Kind::Video);
    ASSERT_TRUE(video);
    EXPECT_EQ(video->packets, 12);
    // The last picture lasts until the end of the session.
    EXPECT_NEAR(video->seconds, 10.8, 0.001);
    // A key frame comes with the first frame 2 s or more after the last one.
    ASSERT_GE(video->keyTimes.size(), 4u);
    for (size_t i = 1; i < video->keyTimes.size(); ++i)
        EXPECT_LE(video->keyTimes[i] - video->keyTimes[i - 1], 2.0 + 0.9 + 1e-6);
}

TEST(FFmpegMovieWriter, ConvertsColoursWithTheBt709VideoRangeMatrix)
{
    MovieFolder folder(QStringLiteral("FFmpegMovieWriter"));
    for (PixelFormat format : {PixelFormat::BGRA, PixelFormat::NV12VideoRange}) {
        SCOPED_TRACE(format == PixelFormat::BGRA ? "BGRA" : "NV12");
        const QString path = folder.file(format == PixelFormat::BGRA ? QStringLiteral("red-bgra.mov") : QStringLiteral("red-nv12.mov"));
        FFmpegMovieWriter w(movieSettings(path, 64, 64, 30, false));
        ASSERT_TRUE(w.startWriting()) << why(w);
        w.startSession(hostBase());
        auto red = PixelBuffer::create(64, 64, format);
        red->fill(255, 0, 0);
        for (int i = 0; i < 5; ++i)
            ASSERT_TRUE(appendWhenReady(w, Input::Video, *MediaTime::image(red, hostBase() + MediaTime(i, 30), MediaTime(1, 30))));
        ASSERT_TRUE(finishAndWait(w));
        ASSERT_EQ(w.status(), Status::Completed) << why(w);
        // Red in BT.709 video range is Y 63, Cb 102, Cr 240 (BT.601 would give Y 81).
        const Yuv px = firstFramePixel(path, 32, 32);
        EXPECT_NEAR(px.y, 63, 3);
        EXPECT_NEAR(px.u, 102, 3);
        EXPECT_NEAR(px.v, 240, 3);
    }
}

TEST(FFmpegMovieWriter, EndsTheMovieWhereTheSessionEnds)
{
    MovieFolder folder(QStringLiteral("FFmpegMovieWriter"));
    const QString path = folder.file(QStringLiteral("end-session.mov"));
    FFmpegMovieWriter w(movieSettings(path, 160, 120, 30));
    // One second of pictures, a session that ends at 3 s: the last picture
    // stays on screen until then.
    record(w, {.seconds = 1, .width = 160, .height = 120, .endAt = 3.0});
    ASSERT_EQ(w.status(), Status::Completed) << why(w);
    const auto probe = MovieProbe::probe(path);
    const auto* video = probe.firstOf(MovieProbe::Stream::Kind::Video);
    ASSERT_TRUE(video);
    EXPECT_EQ(video->packets, 30);
    EXPECT_NEAR(video->seconds, 3.0, 0.001);
    EXPECT_NEAR(probe.seconds, 3.0, 0.001);

    // Samples that come after the session has ended are taken and dropped.
    const QString path2 = folder.file(QStringLiteral("end-session-early.mov"));
    FFmpegMovieWriter w2(movieSettings(path2, 160, 120, 30));
    ASSERT_TRUE(w2.startWriting()) << why(w2);
    const MediaTime start = hostBase();
    w2.startSession(start);
    for (int i = 0; i < 60; ++i) {
        if (i == 30)
            w2.endSession(start + seconds(1.0));
        EXPECT_TRUE(appendWhenReady(w2, Input::Video, *MediaTime::image(testPicture(160, 120, PixelFormat::BGRA, i), start + MediaTime(i, 30), MediaTime(1, 30))));
        EXPECT_TRUE(appendWhenReady(w2, Input::Audio, tone(i * 1600, 1600, start + MediaTime(i * 1600, 48000))));
    }
    ASSERT_TRUE(finishAndWait(w2));
    ASSERT_EQ(w2.status(), Status::Completed) << why(w2);
    const auto probe2 = MovieProbe::probe(path2);
    ASSERT_TRUE(probe2.firstOf(MovieProbe::Stream::Kind::Video) && probe2.firstOf(MovieProbe::Stream::Kind::Audio));
    EXPECT_EQ(probe2.firstOf(MovieProbe::Stream::Kind::Video)->packets, 30);
    EXPECT_NEAR(probe2.firstOf(MovieProbe::Stream::Kind::Video)->seconds, 1.0, 0.001);
    EXPECT_LE(probe2.firstOf(MovieProbe::Stream::Kind::Audio)->seconds, 1.0 + 1024.0 / 48000 + 1e-6);
}

TEST(FFmpegMovieWriter, WritesFragmentsWhileTheSoundTrackGetsNothing)
{
    // A recording without any sound source never feeds the audio input: the
    // pictures must still reach the file fragment by fragment, not wait for it.
    MovieFolder folder(QStringLiteral("FFmpegMovieWriter"));
    const QString path = folder.file(QStringLiteral("silent-track.mov"));
    FFmpegMovieWriter w(movieSettings(path, 160, 120, 30));
    ASSERT_TRUE(w.startWriting()) << why(w);
    const MediaTime start = hostBase();
    w.startSession(start);
    for (int i = 0; i < 6 * 30; ++i)
        ASSERT_TRUE(appendWhenReady(w, Input::Video, *MediaTime::image(testPicture(160, 120, PixelFormat::BGRA, i), start + MediaTime(i, 30), MediaTime(1, 30))));
    bool written = false;
    for (int i = 0; i < 10000 && !written; ++i) {
        written = countBoxes(path, "moof") >= 2;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(written) << "fragments before the finish";
    ASSERT_TRUE(finishAndWait(w));
    ASSERT_EQ(w.status(), Status::Completed) << why(w);
    const auto probe = MovieProbe::probe(path);
    EXPECT_TRUE(probe.playable);
    EXPECT_NEAR(probe.seconds, 6.0, 0.001);
    ASSERT_TRUE(probe.firstOf(MovieProbe::Stream::Kind::Audio));
    EXPECT_EQ(probe.firstOf(MovieProbe::Stream::Kind::Audio)->packets, 0);
}

TEST(FFmpegMovieWriter, KeepsTheSoundContinuousAcrossGapsAndOverlaps)
{
    MovieFolder folder(QStringLiteral("FFmpegMovieWriter"));
    const QString path = folder.file(QStringLiteral("audio-gaps.mov"));
    MovieWriter::Settings s;
    s.path = path;
    s.audio = MovieWriter::AudioSettings{};
    FFmpegMovieWriter w(s);
    ASSERT_TRUE(w.startWriting()) << why(w);
    const MediaTime start = hostBase();
    w.startSession(start);
    // 0-0.5 s, a gap to 1.0 s, 1.0-1.5 s, then a piece reaching back to 1.4 s.
    ASSERT_TRUE(appendWhenReady(w, Input::Audio, tone(0, 24000, start)));
    ASSERT_TRUE(appendWhenReady(w, Input::Audio, tone(48000, 24000, start + seconds(1.0))));
    ASSERT_TRUE(appendWhenReady(w, Input::Audio, tone(67200, 28800, start + seconds(1.4))));
    // A piece that begins before the session loses its early part.
    w.endSession(start + seconds(2.0));
    ASSERT_TRUE(finishAndWait(w));
    ASSERT_EQ(w.status(), Status::Completed) << why(w);
    const auto probe = MovieProbe::probe(path);
    ASSERT_EQ(probe.streams.size(), 1u);
    const auto* audio = probe.firstOf(MovieProbe::Stream::Kind::Audio);
    ASSERT_TRUE(audio);
    EXPECT_GE(audio->seconds, 2.0 - 1e-6);
    EXPECT_LE(audio->seconds, 2.0 + 1024.0 / 48000 + 1e-6);
}

namespace {

// Seconds from the start of the movie's sound to its first sample above a
// twentieth of full scale, as ffmpeg decodes it (-1: none); nothing without ffmpeg.
std::optional<double> firstSoundSeconds(const QString& path)
{
    const QString exe = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (exe.isEmpty())
        return std::nullopt;
    QProcess p;
    p.start(exe, {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path, QStringLiteral("-map"),
                  QStringLiteral("0:a"), QStringLiteral("-ac"), QStringLiteral("1"), QStringLiteral("-f"),
                  QStringLiteral("s16le"), QStringLiteral("-")});
    if (!p.waitForFinished(60000))
        return std::nullopt;
    const QByteArray pcm = p.readAllStandardOutput();
    const auto* samples = reinterpret_cast<const int16_t*>(pcm.constData());
    for (qsizetype i = 0; i < pcm.size() / 2; ++i)
        if (std::abs(int(samples[i])) > 32768 / 20)
            return double(i) / 48000;
    return -1;
}

} // namespace

TEST(FFmpegMovieWriter, ASoundThatStartsLateIsLedInBySilence)
{
    // The first sound reaches the writer a tenth of a second after the session
    // start, in the screen movie and in the camera file (its own pace, no colour
    // tags): the track is silent until then, and the tone keeps its time.
    MovieFolder folder(QStringLiteral("FFmpegMovieWriter"));
    MovieWriter::Settings screen = movieSettings(folder.file(QStringLiteral("late-sound-screen.mov")), 160, 120, 30);
    MovieWriter::Settings camera = movieSettings(folder.file(QStringLiteral("late-sound-camera.mov")), 160, 120, 0);
    camera.video->colorTags = false;
    for (const MovieWriter::Settings& settings : {screen, camera}) {
        SCOPED_TRACE(settings.path.toStdString());
        FFmpegMovieWriter w(settings);
        Recording r;
        r.seconds = 2;
        r.width = 160;
        r.height = 120;
        r.soundFrom = 0.1;
        record(w, r);
        ASSERT_EQ(w.status(), Status::Completed) << why(w);
        const auto probe = MovieProbe::probe(settings.path);
        const auto* audio = probe.firstOf(MovieProbe::Stream::Kind::Audio);
        ASSERT_TRUE(audio);
        EXPECT_GE(audio->seconds, 2.0 - 1e-6);
        EXPECT_LE(audio->seconds, 2.0 + 1024.0 / 48000 + 1e-6);
        if (const std::optional<double> first = firstSoundSeconds(settings.path))
            EXPECT_NEAR(*first, 0.1, 0.002);
    }
}

TEST(FFmpegMovieWriter, RefusesSamplesItCannotPlace)
{
    MovieFolder folder(QStringLiteral("FFmpegMovieWriter"));
    FFmpegMovieWriter w(movieSettings(folder.file(QStringLiteral("refusals.mov")), 64, 64, 30));
    const MediaTime start = hostBase();
    auto picture = [](MediaTime t) { return *MediaTime::image(testPicture(64, 64, PixelFormat::BGRA, 0), t, MediaTime(1, 30)); };

    EXPECT_FALSE(w.isReadyForMoreMediaData(Input::Video)); // not started
    EXPECT_FALSE(w.append(Input::Video, picture(start)));
    ASSERT_TRUE(w.startWriting()) << why(w);
    EXPECT_FALSE(w.startWriting()); // only once
    EXPECT_TRUE(w.isReadyForMoreMediaData(Input::Video));
    EXPECT_FALSE(w.append(Input::Video, picture(start))) << "no session yet";
    w.startSession(start);

    EXPECT_TRUE(w.append(Input::Video, picture(start + MediaTime(1, 30))));
    EXPECT_FALSE(w.append(Input::Video, picture(start + MediaTime(1, 30)))) << "same time";
    EXPECT_FALSE(w.append(Input::Video, picture(start))) << "earlier time";
    EXPECT_FALSE(w.append(Input::Video, SampleBuffer::video(nullptr, start + MediaTime(2, 30), MediaTime(1, 30))));
    EXPECT_TRUE(w.append(Input::Video, picture(start + MediaTime(2, 30))));

    EXPECT_FALSE(w.append(Input::Audio, tone(0, 480, start, 48000, 1))) << "mono";
    EXPECT_FALSE(w.append(Input::Audio, tone(0, 441, start, 44100, 2))) << "44.1 kHz";
    EXPECT_FALSE(w.append(Input::Audio, SampleBuffer::audio(AudioFormat::integerFormat(48000, 2, 16), 480, start))) << "16-bit";
    EXPECT_FALSE(w.append(Input::Audio, SampleBuffer::audio(AudioFormat::floatFormat(48000, 2, false), 480, start))) << "planar";
    EXPECT_FALSE(w.append(Input::Audio, tone(0, 0, start))) << "empty";
    EXPECT_TRUE(w.append(Input::Audio, tone(0, 480, start)));
    EXPECT_EQ(w.status(), Status::Writing) << "refusals do not fail the writer";

    w.markAsFinished(Input::Video);
    EXPECT_FALSE(w.isReadyForMoreMediaData(Input::Video));
    EXPECT_FALSE(w.append(Input::Video, picture(start + MediaTime(3, 30))));
    EXPECT_TRUE(w.isReadyForMoreMediaData(Input::Audio));
    ASSERT_TRUE(finishAndWait(w));
    EXPECT_EQ(w.status(), Status::Completed) << why(w);
    EXPECT_FALSE(w.isReadyForMoreMediaData(Input::Audio));
    EXPECT_FALSE(w.error());
}

TEST(FFmpegMovieWriter, SaysItIsBusyWhileItsQueueIsFull)
{
    MovieFolder folder(QStringLiteral("FFmpegMovieWriter"));
    FFmpegMovieWriter w(movieSettings(folder.file(QStringLiteral("busy.mov")), 1920, 1080, 30, false));
    ASSERT_TRUE(w.startWriting()) << why(w);
    const MediaTime start = hostBase();
    w.startSession(start);
    auto picture = testPicture(1920, 1080, PixelFormat::BGRA, 0);
    int accepted = 0;
    bool sawBusy = false;
    for (int i = 0; i < 200 && !sawBusy; ++i) {
        if (!w.isReadyForMoreMediaData(Input::Video)) {
            sawBusy = true;
            EXPECT_FALSE(w.append(Input::Video, *MediaTime::image(picture, start + MediaTime(i, 30), MediaTime(1, 30))));
        } else if (w.append(Input::Video, *MediaTime::image(picture, start + MediaTime(i, 30), MediaTime(1, 30)))) {
            ++accepted;
        }
    }
    EXPECT_TRUE(sawBusy);
    EXPECT_LE(accepted, w.queuedFrameLimit() + 8);
    // It catches up and takes more.
    bool ready = false;
    for (int i = 0; i < 10000 && !ready; ++i) {
        ready = w.isReadyForMoreMediaData(Input::Video);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(ready);
    ASSERT_TRUE(finishAndWait(w));
    EXPECT_EQ(w.status(), Status::Completed) << why(w);
    EXPECT_EQ(MovieProbe::probe(folder.file(QStringLiteral("busy.mov"))).firstOf(MovieProbe::Stream::Kind::Video)->packets, accepted);
}

// libx265 lowers its worker threads' priority by ten steps, which starves the
// encoder whenever every CPU is busy; a couple of steps below the writer's own
// threads keep the sound ahead of the picture without starving it.
TEST(FFmpegMovieWriter, TheEncodersThreadsRunJustBelowTheWritersPriority)
{
    if (!runWithPriorityKept([] {}))
        GTEST_SKIP() << "this kernel cannot keep a thread's priority";
    const QStringList before = threadIds();
    MovieFolder folder(QStringLiteral("FFmpegMovieWriter"));
    FFmpegMovieWriter w(movieSettings(folder.file(QStringLiteral("priority.mov")), 1920, 1080, 30, false));
    ASSERT_TRUE(w.startWriting()) << why(w);
    const MediaTime start = hostBase();
    w.startSession(start);
    auto picture = testPicture(1920, 1080, PixelFormat::NV12VideoRange, 0);
    // Past the queue's limit: the encoder has worked on some of them.
    for (int i = 0; i < w.queuedFrameLimit() + 5; ++i)
        ASSERT_TRUE(appendWhenReady(w, Input::Video, *MediaTime::image(picture, start + MediaTime(i, 30), MediaTime(1, 30))));
    const int own = getpriority(PRIO_PROCESS, 0);
    const int lowered = std::min(own + FFmpegMovieWriter::encoderNiceSteps, 19);
    int started = 0;
    int encoders = 0;
    for (const QString& tid : threadIds()) {
        if (before.contains(tid))
            continue;
        ++started;
        errno = 0;
        const int nice = getpriority(PRIO_PROCESS, id_t(tid.toInt()));
        if (errno == 0) { // else it has ended
            EXPECT_TRUE(nice == own || nice == lowered) << "thread " << tid.toStdString() << " at " << nice;
            encoders += nice == lowered && lowered != own;
        }
    }
    EXPECT_GT(started, 1);
    if (lowered != own)
        EXPECT_GT(encoders, 0);
    ASSERT_TRUE(finishAndWait(w));
    EXPECT_EQ(w.status(), Status::Completed) << why(w);
}

TEST(FFmpegMovieWriter, WritesPicturesTooSmallForTheEncoderAtItsSmallestSize)
{
    MovieFolder folder(QStringLiteral("FFmpegMovieWriter"));
    const QString path = folder.file(QStringLiteral("tiny.mov"));
    auto settings = movieSettings(path, 2, 2, 30, false);
    settings.video->averageBitRate = 80; // what the quality formula gives for 2x2 pixels
    FFmpegMovieWriter w(settings);
    ASSERT_TRUE(w.startWriting()) << why(w);
    w.startSession(hostBase());
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(appendWhenReady(w, Input::Video, *MediaTime::image(testPicture(2, 2, PixelFormat::BGRA, i), hostBase() + MediaTime(i, 30), MediaTime(1, 30))));
    ASSERT_TRUE(finishAndWait(w));
    ASSERT_EQ(w.status(), Status::Completed) << why(w);
    const auto movie = MovieProbe::probe(path); // the stream below points into it
    const auto* video = movie.firstOf(MovieProbe::Stream::Kind::Video);
    ASSERT_TRUE(video);
    EXPECT_EQ(video->width, FFmpegMovieWriter::minimumVideoSide);
    EXPECT_EQ(video->height, FFmpegMovieWriter::minimumVideoSide);
    EXPECT_EQ(video->packets, 10);
    EXPECT_EQ(FFmpegMovieWriter::encodedSide(1919), 1920);
    EXPECT_EQ(FFmpegMovieWriter::encodedSide(1080), 1080);
}

TEST(FFmpegMovieWriter, FailsToStartWhereNothingCanBeWritten)
{
    // A device that is always full: the header cannot be written.
    {
        FFmpegMovieWriter w(movieSettings(QStringLiteral("/dev/full"), 64, 64, 30));
        EXPECT_FALSE(w.startWriting());
        EXPECT_EQ(w.status(), Status::Failed);
        ASSERT_TRUE(w.error());
        EXPECT_TRUE(w.error()->message.contains(QStringLiteral("No space left on device"))) << why(w);
        EXPECT_EQ(w.error()->domain, MovieWriter::errorDomain);
        EXPECT_FALSE(w.isReadyForMoreMediaData(Input::Video));
        struct stat st{};
        ASSERT_EQ(::stat("/dev/full", &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode)) << "the device is left alone";
        // Finishing a writer that never wrote only runs the completion.
        EXPECT_TRUE(finishAndWait(w));
        EXPECT_EQ(w.status(), Status::Failed);
    }
    // A folder that does not exist.
    {
        FFmpegMovieWriter w(movieSettings(QStringLiteral("/nonexistent-corvessa/movie.mov"), 64, 64, 30));
        EXPECT_FALSE(w.startWriting());
        EXPECT_EQ(w.status(), Status::Failed);
        EXPECT_TRUE(w.error() && w.error()->message.contains(QStringLiteral("No such file or directory"))) << why(w);
    }
    // Nothing to write.
    {
        MovieWriter::Settings s;
        s.path = QStringLiteral("/tmp/corvessa-never.mov");
        FFmpegMovieWriter w(s);
        EXPECT_FALSE(w.startWriting());
        EXPECT_EQ(w.status(), Status::Failed);
        EXPECT_FALSE(QFile::exists(s.path));
    }
}

TEST(FFmpegMovieWriter, ReportsAFullDiskWhileWriting)
{
    QTemporaryDir mountPoint;
    const QByteArray dir = QFile::encodeName(mountPoint.path());
    if (::mount("tmpfs", dir.constData(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
    struct Unmount {
        QByteArray dir;
        ~Unmount() { ::umount2(dir.constData(), MNT_DETACH); }
    } unmount{dir};

    const QString path = mountPoint.filePath(QStringLiteral("full.mov"));
    auto settings = movieSettings(path, 320, 240, 30);
    settings.video->averageBitRate = 20000000;
    FFmpegMovieWriter w(settings);
    ASSERT_TRUE(w.startWriting()) << why(w);
    const MediaTime start = hostBase();
    w.startSession(start);
    // Noise does not compress: the disk fills within a fragment or two.
    std::mt19937 rng(1);
    for (int i = 0; i < 30 * 30 && w.status() == Status::Writing; ++i) {
        auto p = PixelBuffer::create(320, 240, PixelFormat::BGRA);
        for (int y = 0; y < 240; ++y) {
            auto* row = reinterpret_cast<uint32_t*>(p->baseAddress() + size_t(y) * p->bytesPerRow());
            for (int x = 0; x < 320; ++x)
                row[x] = rng();
        }
        appendWhenReady(w, Input::Video, *MediaTime::image(p, start + MediaTime(i, 30), MediaTime(1, 30)));
        appendWhenReady(w, Input::Audio, tone(i * 1600, 1600, start + MediaTime(i * 1600, 48000)));
    }
    for (int i = 0; i < 5000 && w.status() == Status::Writing; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(w.status(), Status::Failed);
    ASSERT_TRUE(w.error());
    EXPECT_TRUE(w.error()->message.contains(QStringLiteral("No space left on device"))) << why(w);
    EXPECT_FALSE(w.isReadyForMoreMediaData(Input::Video));
    EXPECT_FALSE(w.append(Input::Video, *MediaTime::image(testPicture(320, 240, PixelFormat::BGRA, 0), start + seconds(100), MediaTime(1, 30))));
    // Finishing a failed writer completes at once and keeps the failure.
    EXPECT_TRUE(finishAndWait(w, std::chrono::seconds(10)));
    EXPECT_EQ(w.status(), Status::Failed);
}

TEST(FFmpegMovieWriter, CancelStopsWritingAndLeavesTheFile)
{
    MovieFolder folder(QStringLiteral("FFmpegMovieWriter"));
    const QString path = folder.file(QStringLiteral("cancelled.mov"));
    FFmpegMovieWriter w(movieSettings(path, 64, 64, 30));
    ASSERT_TRUE(w.startWriting()) << why(w);
    w.startSession(hostBase());
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(appendWhenReady(w, Input::Video, *MediaTime::image(testPicture(64, 64, PixelFormat::BGRA, i), hostBase() + MediaTime(i, 30), MediaTime(1, 30))));
    w.cancelWriting();
    EXPECT_EQ(w.status(), Status::Cancelled);
    EXPECT_FALSE(w.error());
    EXPECT_FALSE(w.isReadyForMoreMediaData(Input::Video));
    EXPECT_FALSE(w.append(Input::Video, *MediaTime::image(testPicture(64, 64, PixelFormat::BGRA, 0), hostBase() + seconds(1), MediaTime(1, 30))));
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_TRUE(finishAndWait(w));
    EXPECT_EQ(w.status(), Status::Cancelled);
    w.cancelWriting(); // again: nothing happens
    EXPECT_EQ(w.status(), Status::Cancelled);
}

TEST(FFmpegMovieWriter, CanBeDestroyedInAnyState)
{
    MovieFolder folder(QStringLiteral("FFmpegMovieWriter"));
    {
        FFmpegMovieWriter never(movieSettings(folder.file(QStringLiteral("never.mov")), 64, 64, 30));
    }
    {
        FFmpegMovieWriter busy(movieSettings(folder.file(QStringLiteral("abandoned.mov")), 640, 480, 30));
        ASSERT_TRUE(busy.startWriting());
        busy.startSession(hostBase());
        for (int i = 0; i < 6; ++i)
            busy.append(Input::Video, *MediaTime::image(testPicture(640, 480, PixelFormat::BGRA, i), hostBase() + MediaTime(i, 30), MediaTime(1, 30)));
    }
    // A finish still running when the writer goes away completes first.
    std::promise<MovieWriter::Status> finished;
    {
        auto w = std::make_shared<FFmpegMovieWriter>(movieSettings(folder.file(QStringLiteral("finishing.mov")), 64, 64, 30));
        ASSERT_TRUE(w->startWriting());
        w->startSession(hostBase());
        for (int i = 0; i < 6; ++i)
            w->append(Input::Video, *MediaTime::image(testPicture(64, 64, PixelFormat::BGRA, i), hostBase() + MediaTime(i, 30), MediaTime(1, 30)));
        std::weak_ptr<FFmpegMovieWriter> weak = w;
        w->finishWriting([&finished, weak] { finished.set_value(weak.expired() ? Status::Unknown : weak.lock()->status()); });
    }
    auto f = finished.get_future();
    ASSERT_EQ(f.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_TRUE(MovieProbe::probe(folder.file(QStringLiteral("finishing.mov"))).playable);
}

// --- A writer killed in the middle of a recording ---

// Run in a child process by the test below: records until it is killed.
CHILD_TEST(FFmpegMovieWriterChild, RecordsUntilKilled)
{
    const QString path = qEnvironmentVariable("CORVESSA_WRITER_CHILD_OUT");
    if (path.isEmpty())
        GTEST_SKIP();
    FFmpegMovieWriter w(movieSettings(path, 320, 240, 30));
    ASSERT_TRUE(w.startWriting());
    const MediaTime start = hostBase();
    w.startSession(start);
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 60 * 30; ++i) {
        std::this_thread::sleep_until(t0 + std::chrono::microseconds(int64_t(i) * 1000000 / 30));
        appendWhenReady(w, Input::Video, *MediaTime::image(testPicture(320, 240, PixelFormat::BGRA, i), start + MediaTime(i, 30), MediaTime(1, 30)));
        appendWhenReady(w, Input::Audio, tone(i * 1600, 1600, start + MediaTime(i * 1600, 48000)));
    }
}

TEST(FFmpegMovieWriter, AMovieCutShortByKillStillPlays)
{
    MovieFolder folder(QStringLiteral("FFmpegMovieWriter"));
    const QString path = folder.file(QStringLiteral("killed.mov"));
    QFile::remove(path);

    // The child's environment is built before fork: after it, only exec.
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        env.emplace_back(*e);
    env.push_back("CORVESSA_WRITER_CHILD_OUT=" + path.toStdString());
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string exe = "/proc/self/exe", filter = "--gtest_filter=FFmpegMovieWriterChild.DISABLED_RecordsUntilKilled",
                also = "--gtest_also_run_disabled_tests";
    char* argv[] = {exe.data(), filter.data(), also.data(), nullptr};

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Quiet: its test report is not the parent's.
        const int devNull = ::open("/dev/null", O_WRONLY);
        ::dup2(devNull, 1);
        ::dup2(devNull, 2);
        execve("/proc/self/exe", argv, envp.data());
        _exit(127);
    }
    // Kill it once more than four seconds are on disk in whole fragments:
    // fragments are cut about every second, and when the sixth has begun the
    // fifth is complete.
    bool ready = false;
    for (int i = 0; i < 300 && !ready; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ready = countBoxes(path, "moof") >= 6;
        if (waitpid(child, nullptr, WNOHANG) == child) {
            FAIL() << "the writer process ended by itself";
        }
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(ready) << "no fragments were written";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

    const auto probe = MovieProbe::probe(path);
    ASSERT_TRUE(probe.opened) << probe.error.toStdString();
    EXPECT_TRUE(probe.playable);
    EXPECT_GT(probe.seconds, 0.2);
    // At least the complete fragments.
    EXPECT_GE(probe.seconds, 3.9);
    const auto* video = probe.firstOf(MovieProbe::Stream::Kind::Video);
    ASSERT_TRUE(video);
    EXPECT_EQ(video->codecTag, "hvc1");
    EXPECT_GE(video->packets, 4 * 30 - 1);
    // ffprobe reads it without complaint.
    const QJsonObject json = ffprobe(path);
    if (!json.isEmpty()) {
        EXPECT_EQ(json[QStringLiteral("streams")].toArray().size(), 2);
    }
}

// --- The file under the writer ---

namespace {

// Whether the file is a run of whole top-level boxes, nothing torn at its end.
bool wholeBoxes(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray d = f.readAll();
    qint64 at = 0;
    while (at + 8 <= d.size()) {
        auto byte = [&](qint64 i) { return quint64(quint8(d[at + i])); };
        quint64 size = byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
        if (size == 1 && at + 16 <= d.size()) {
            size = 0;
            for (int i = 8; i < 16; ++i)
                size = size << 8 | byte(i);
        }
        if (size < 8)
            return false;
        at += qint64(size);
    }
    return at == d.size();
}

// What ffmpeg says while decoding every packet of the file; empty when all is well.
QString decodeErrors(const QString& path)
{
    const QString exe = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (exe.isEmpty())
        return {};
    QProcess p;
    p.start(exe, {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path, QStringLiteral("-f"),
                  QStringLiteral("null"), QStringLiteral("-")});
    if (!p.waitForFinished(60000))
        return QStringLiteral("ffmpeg did not finish");
    return QString::fromUtf8(p.readAllStandardError()).trimmed();
}

} // namespace

TEST(FFmpegMovieWriter, AFullDiskLeavesOnlyWholeFragments)
{
    MovieFolder folder(QStringLiteral("FFmpegMovieWriter"));
    const QString path = folder.file(QStringLiteral("full-disk.mov"));
    FFmpegMovieWriter w(movieSettings(path, 320, 240, 30));
    ASSERT_TRUE(w.startWriting());
    const MediaTime start = hostBase();
    w.startSession(start);
    bool armed = false;
    int i = 0;
    for (; i < 30 * 30 && w.status() == Status::Writing; ++i) {
        appendWhenReady(w, Input::Video, *MediaTime::image(testPicture(320, 240, PixelFormat::BGRA, i), start + MediaTime(i, 30), MediaTime(1, 30)));
        appendWhenReady(w, Input::Audio, tone(i * 1600, 1600, start + MediaTime(i * 1600, 48000)));
        // Once a few fragments are down, the disk fills a little way into the next one.
        if (!armed && countBoxes(path, "moof") >= 3) {
            w.simulateFullDiskAfter(QFileInfo(path).size() + 100);
            armed = true;
        }
        if (armed)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(armed);
    ASSERT_EQ(w.status(), Status::Failed) << "after " << i << " frames";
    EXPECT_TRUE(w.error()->message.contains(ffmpegErrorText(AVERROR(ENOSPC)))) << w.error()->message.toStdString();

    EXPECT_TRUE(wholeBoxes(path));
    EXPECT_EQ(decodeErrors(path), QString());
    const auto probe = MovieProbe::probe(path);
    EXPECT_TRUE(probe.playable);
    const auto* video = probe.firstOf(MovieProbe::Stream::Kind::Video);
    ASSERT_TRUE(video);
    EXPECT_GE(video->packets, 30);
}

TEST(FFmpegMovieWriter, AFileMovedWhileWrittenIsCompletedWhereItWentAndOneReplacedIsNot)
{
    MovieFolder folder(QStringLiteral("FFmpegMovieWriter"));
    struct Outcome {
        Status status;
        QString error;
        std::optional<WrittenFile> written;
    };
    auto recordWhile = [&](const QString& name, const std::function<void(const QString&)>& meddle) {
        const QString dir = folder.file(name);
        EXPECT_TRUE(QDir().mkpath(dir));
        const QString path = QDir(dir).filePath(QStringLiteral("A.mov"));
        FFmpegMovieWriter w(movieSettings(path, 64, 64, 30, false));
        EXPECT_TRUE(w.startWriting());
        EXPECT_EQ(w.writtenFile().value_or(WrittenFile()).path(), path);
        w.startSession(hostBase());
        for (int i = 0; i < 10; ++i)
            appendWhenReady(w, Input::Video, *MediaTime::image(testPicture(64, 64, PixelFormat::BGRA, i), hostBase() + MediaTime(i, 30), MediaTime(1, 30)));
        meddle(path);
        w.markAsFinished(Input::Video);
        w.endSession(hostBase() + MediaTime(10, 30));
        EXPECT_TRUE(finishAndWait(w));
        return Outcome{w.status(), w.error().value_or(RecorderError{}).message, w.writtenFile()};
    };
    // Left alone, renamed, or moved with its folder: completed, and whole where it is.
    const std::vector<std::pair<const char*, std::function<QString(const QString&)>>> moves{
        {"kept", [](const QString& path) { return path; }},
        {"renamed",
         [](const QString& path) {
             const QString to = path + QStringLiteral(".elsewhere");
             EXPECT_TRUE(QFile::rename(path, to));
             return to;
         }},
        {"folder renamed",
         [](const QString& path) {
             const QString dir = QFileInfo(path).absolutePath();
             EXPECT_TRUE(QDir().rename(dir, dir + QStringLiteral(" renamed")));
             return QDir(dir + QStringLiteral(" renamed")).filePath(QStringLiteral("A.mov"));
         }},
    };
    for (const auto& [what, move] : moves) {
        SCOPED_TRACE(what);
        QString now;
        const Outcome moved = recordWhile(QString::fromLatin1(what), [&](const QString& path) { now = move(path); });
        EXPECT_EQ(moved.status, Status::Completed) << moved.error.toStdString();
        ASSERT_TRUE(moved.written);
        EXPECT_EQ(moved.written->path(), now);
        EXPECT_TRUE(moved.written->isAtPath());
        EXPECT_TRUE(MovieProbe::probe(now).playable);
    }

    const Outcome removed = recordWhile(QStringLiteral("removed"), [](const QString& path) { ASSERT_TRUE(QFile::remove(path)); });
    EXPECT_EQ(removed.status, Status::Failed);
    EXPECT_TRUE(removed.error.contains(QStringLiteral("removed or replaced"))) << removed.error.toStdString();

    const Outcome replaced = recordWhile(QStringLiteral("replaced"), [&](const QString& path) {
        const QString other = folder.file(QStringLiteral("someone-else.txt"));
        QFile f(other);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("not a movie");
        f.close();
        ASSERT_TRUE(::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()) == 0);
    });
    EXPECT_EQ(replaced.status, Status::Failed);
    QFile onPath(QDir(folder.file(QStringLiteral("replaced"))).filePath(QStringLiteral("A.mov")));
    ASSERT_TRUE(onPath.open(QIODevice::ReadOnly));
    EXPECT_EQ(onPath.readAll(), QByteArray("not a movie")); // someone else's file is left alone
}

TEST(FFmpegMovieWriter, APauseLeavesEverythingBeforeItInTheFile)
{
    // A pause at 2.5 s: a crash during it must find in the file all the
    // pictures to the pause and all the sound but what the AAC encoder holds
    // (less than three frames: its delay of two, and the samples short of a
    // whole one). Then the movie goes on.
    MovieFolder folder(QStringLiteral("FFmpegMovieWriter"));
    const QString path = folder.file(QStringLiteral("paused.mov"));
    FFmpegMovieWriter w(movieSettings(path, 160, 120, 30));
    ASSERT_TRUE(w.startWriting()) << why(w);
    const MediaTime start = hostBase();
    w.startSession(start);
    auto feed = [&](int from, int to) {
        for (int i = from; i < to; ++i) {
            ASSERT_TRUE(appendWhenReady(w, Input::Video, *MediaTime::image(testPicture(160, 120, PixelFormat::BGRA, i), start + MediaTime(i, 30), MediaTime(1, 30))));
            ASSERT_TRUE(appendWhenReady(w, Input::Audio, tone(i * 1600, 1600, start + MediaTime(i * 1600, 48000))));
        }
    };
    feed(0, 75);
    w.flushFragment(start + seconds(2.5));

    // Read as after a crash: the writer still has the file open.
    double video = 0, audio = 0;
    bool written = false;
    for (int i = 0; i < 2000 && !written; ++i) {
        const auto probe = MovieProbe::probe(path);
        const auto* v = probe.firstOf(MovieProbe::Stream::Kind::Video);
        const auto* a = probe.firstOf(MovieProbe::Stream::Kind::Audio);
        video = v ? v->seconds : 0;
        audio = a ? a->seconds : 0;
        written = video >= 2.5 - 1e-6 && audio > 2.5 - 3 * 1024.0 / 48000;
        if (!written)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(written) << "in the file: video " << video << " s, sound " << audio << " s";
    EXPECT_NEAR(video, 2.5, 1e-6);

    feed(75, 90);
    w.endSession(start + seconds(3.0));
    ASSERT_TRUE(finishAndWait(w));
    ASSERT_EQ(w.status(), Status::Completed) << why(w);
    const auto probe = MovieProbe::probe(path);
    const auto* v = probe.firstOf(MovieProbe::Stream::Kind::Video);
    const auto* a = probe.firstOf(MovieProbe::Stream::Kind::Audio);
    ASSERT_TRUE(v && a);
    EXPECT_EQ(v->packets, 90);
    EXPECT_NEAR(v->seconds, 3.0, 1e-6);
    EXPECT_GE(a->seconds, 3.0 - 1e-6);
    EXPECT_LE(a->seconds, 3.0 + 1024.0 / 48000 + 1e-6);
    EXPECT_TRUE(decodeErrors(path).isEmpty()) << decodeErrors(path).toStdString();
}
