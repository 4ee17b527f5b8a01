#include "platform/MovieTestSupport.h"

#include "platform/synthetic/RecordingMovieWriter.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace corvessa;
using namespace corvessa::test;
using Input = MovieWriter::Input;
using Status = MovieWriter::Status;
using Kind = RecordingMovieWriter::CallKind;

namespace {

SampleBuffer picture(MediaTime t)
{
    return *MediaTime::image(PixelBuffer::create(32, 16, PixelFormat::NV12VideoRange), t, MediaTime(1, 30));
}

} // namespace

TEST(RecordingMovieWriter, BehavesLikeAWriterAndRecordsEveryCall)
{
    QTemporaryDir dir;
    auto made = std::make_shared<std::vector<std::shared_ptr<RecordingMovieWriter>>>();
    const MovieWriterFactory factory = RecordingMovieWriter::factory(made);
    const auto settings = movieSettings(dir.filePath(QStringLiteral("a.mov")), 32, 16, 30);
    std::shared_ptr<MovieWriter> w = factory(settings);
    ASSERT_EQ(made->size(), 1u);
    RecordingMovieWriter& rec = *made->front();
    EXPECT_EQ(w.get(), &rec);
    EXPECT_EQ(w->settings().path, settings.path);

    const MediaTime t0 = hostBase();
    EXPECT_FALSE(w->isReadyForMoreMediaData(Input::Video));
    EXPECT_TRUE(w->startWriting());
    EXPECT_TRUE(QFile::exists(settings.path));
    EXPECT_EQ(w->status(), Status::Writing);
    EXPECT_FALSE(w->append(Input::Video, picture(t0))) << "before the session";
    w->startSession(t0);
    EXPECT_TRUE(w->append(Input::Video, picture(t0)));
    EXPECT_FALSE(w->append(Input::Video, picture(t0))) << "not later than the last";
    EXPECT_TRUE(w->append(Input::Audio, tone(0, 480, t0)));
    rec.setReady(Input::Audio, false);
    EXPECT_FALSE(w->isReadyForMoreMediaData(Input::Audio));
    EXPECT_FALSE(w->append(Input::Audio, tone(480, 480, t0 + MediaTime(480, 48000))));
    rec.setReady(Input::Audio, true);
    rec.setRefuseAppends(Input::Audio, true);
    EXPECT_FALSE(w->append(Input::Audio, tone(480, 480, t0 + MediaTime(480, 48000))));
    rec.setRefuseAppends(Input::Audio, false);
    EXPECT_TRUE(w->append(Input::Audio, tone(480, 480, t0 + MediaTime(480, 48000))));
    w->markAsFinished(Input::Video);
    EXPECT_FALSE(w->append(Input::Video, picture(t0 + MediaTime(1, 30))));
    w->endSession(t0 + MediaTime(1, 30));

    EXPECT_EQ(rec.appended(Input::Video).size(), 1u);
    EXPECT_EQ(rec.appended(Input::Video)[0].width, 32);
    EXPECT_EQ(rec.appendedAudioFrames(), 960u);
    EXPECT_EQ(rec.sessionStart(), t0);
    EXPECT_EQ(rec.sessionEnd(), t0 + MediaTime(1, 30));

    rec.setHoldFinish(true);
    bool completed = false;
    w->finishWriting([&] { completed = true; });
    EXPECT_FALSE(completed);
    EXPECT_EQ(w->status(), Status::Writing);
    EXPECT_TRUE(rec.releaseFinish());
    EXPECT_TRUE(completed);
    EXPECT_EQ(w->status(), Status::Completed);
    EXPECT_FALSE(rec.releaseFinish());

    std::vector<Kind> kinds;
    for (const auto& c : rec.calls())
        kinds.push_back(c.kind);
    EXPECT_EQ(kinds, (std::vector<Kind>{Kind::StartWriting, Kind::Append, Kind::StartSession, Kind::Append, Kind::Append,
                                        Kind::Append, Kind::Append, Kind::Append, Kind::Append, Kind::MarkAsFinished,
                                        Kind::Append, Kind::EndSession, Kind::FinishWriting}));
}

TEST(RecordingMovieWriter, CanFailThrowAndCompleteElsewhere)
{
    QTemporaryDir dir;
    const MediaTime t0 = hostBase();
    const RecorderError diskFull{MovieWriter::errorDomain, -28, QStringLiteral("The movie file could not be written: No space left on device")};

    auto failing = std::make_shared<RecordingMovieWriter>(movieSettings(dir.filePath(QStringLiteral("b.mov")), 32, 16, 30));
    failing->setStartError(diskFull);
    EXPECT_FALSE(failing->startWriting());
    EXPECT_EQ(failing->status(), Status::Failed);
    EXPECT_EQ(failing->error(), diskFull);
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("b.mov"))));

    auto w = std::make_shared<RecordingMovieWriter>(movieSettings(dir.filePath(QStringLiteral("c.mov")), 32, 16, 30));
    ASSERT_TRUE(w->startWriting());
    w->startSession(t0);
    w->throwOnAppend(Input::Audio, QStringLiteral("input broke"));
    EXPECT_THROW(w->append(Input::Audio, tone(0, 480, t0)), std::runtime_error);
    EXPECT_EQ(w->status(), Status::Writing);
    w->failOnNextAppend(diskFull);
    EXPECT_FALSE(w->append(Input::Video, picture(t0)));
    EXPECT_EQ(w->status(), Status::Failed);
    EXPECT_EQ(w->error(), diskFull);
    EXPECT_FALSE(w->isReadyForMoreMediaData(Input::Video));

    // By default the finish completes on another thread, like a real writer's.
    auto ok = std::make_shared<RecordingMovieWriter>(movieSettings(dir.filePath(QStringLiteral("d.mov")), 32, 16, 30));
    ok->setFinishError(diskFull);
    ASSERT_TRUE(ok->startWriting());
    EXPECT_TRUE(finishAndWait(*ok, std::chrono::seconds(10)));
    EXPECT_EQ(ok->status(), Status::Failed);
    ok->cancelWriting();
    EXPECT_EQ(ok->status(), Status::Failed) << "a finished writer stays as it ended";
}
