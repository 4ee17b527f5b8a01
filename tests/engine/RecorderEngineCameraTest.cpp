#include "engine/EngineTestSupport.h"

#include "capture/CameraCapture.h"
#include "capture/CameraOverlayState.h"
#include "engine/CameraCaptureFeed.h"
#include "engine/CameraFeed.h"
#include "engine/CameraSideFile.h"
#include "engine/RecoveryJournal.h"
#include "platform/core/HostClock.h"
#include "platform/ffmpeg/MovieProbe.h"
#include "platform/MovieTestSupport.h"
#include "platform/core/PixelBuffer.h"
#include "platform/synthetic/SyntheticCameraService.h"

#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <atomic>

using namespace corvessa;
using namespace corvessa::test;
using Line = RecorderEngine::Line;
using Input = MovieWriter::Input;

// The camera side file: a recording whose camera is not composited writes the
// camera pictures, with the microphone as sound, into files of their own beside
// the screen movie.

namespace {

// A camera under the test's hand: it delivers what the test gives it and counts
// suspends and resumes.
class FakeCamera : public CameraFeed {
public:
    void setOnSample(SampleHandler handler) override
    {
        std::lock_guard lock(m_mutex);
        m_handler = std::move(handler);
    }
    void suspend() override { ++suspends; }
    void resume() override { ++resumes; }
    std::shared_ptr<CameraOverlayState> overlay() const override { return nullptr; }

    bool attached() const
    {
        std::lock_guard lock(m_mutex);
        return bool(m_handler);
    }

    // One picture of the given size, timed now.
    void deliver(QSize size, bool mirrored = false)
    {
        SampleHandler handler;
        {
            std::lock_guard lock(m_mutex);
            handler = m_handler;
        }
        if (!handler)
            return;
        auto pixels = PixelBuffer::create(size.width(), size.height(), PixelFormat::BGRA);
        pixels->fill(200, 40, 40);
        handler(SampleBuffer::video(pixels, HostClock::now(), MediaTime(1, 30)), mirrored);
    }

    // Pictures at about 30 a second for `seconds`.
    void run(QSize size, double seconds, bool mirrored = false)
    {
        // At least a picture per 30th of the time asked, however slowly this
        // thread is given the processor on a busy machine.
        const double until = HostClock::seconds() + seconds;
        for (int n = 0; n < int(seconds * 30) || HostClock::seconds() < until; ++n) {
            deliver(size, mirrored);
            spin(1.0 / 30);
        }
    }

    std::atomic<int> suspends{0};
    std::atomic<int> resumes{0};

private:
    mutable std::mutex m_mutex;
    SampleHandler m_handler;
};

struct CameraRig {
    explicit CameraRig(bool realWriter = false)
        : h(realWriter)
    {
    }

    RecorderEngine::Config config(const QString& name = QStringLiteral("Meeting Screen.mov"))
    {
        auto c = h.config();
        c.camera = camera;
        c.cameraFPS = 30;
        c.outputURL = QDir(h.home.path()).filePath(name);
        return c;
    }

    // Starts and waits for the movie's first frame, which is the camera file's time zero.
    void start(const RecorderEngine::Config& c)
    {
        ASSERT_FALSE(h.engine->startInner(c));
        ASSERT_TRUE(waitUntil([&] { return h.engine->stats().writtenVideo > 0; }, 3));
    }

    std::vector<std::shared_ptr<RecordingMovieWriter>> cameraWriters() const
    {
        std::vector<std::shared_ptr<RecordingMovieWriter>> found;
        for (const auto& w : *h.writers)
            if (w->settings().path.contains(QStringLiteral(" Camera")))
                found.push_back(w);
        return found;
    }

    // Starts recording into `screenMovie` with a real camera capture on the
    // synthetic camera service feeding it; the capture is the test's to stop.
    std::shared_ptr<CameraCapture> startWithCapture(const QString& screenMovie,
                                                    const std::function<void(RecorderEngine::Config&)>& adjust = {})
    {
        auto service = std::make_shared<SyntheticCameraService>();
        auto capture = CameraCapture::create(service);
        capture->start(SyntheticCameraService::defaultDevice().id, 480, 30, false);
        EXPECT_TRUE(waitUntil([&] { return service->runningStreams() > 0; }, 5));
        auto c = config();
        c.camera = std::make_shared<CameraCaptureFeed>(capture);
        c.outputURL = screenMovie;
        if (adjust)
            adjust(c);
        start(c);
        return capture;
    }

    EngineHarness h;
    std::shared_ptr<FakeCamera> camera = std::make_shared<FakeCamera>();
};

QStringList journalFiles()
{
    QFile f(RecoveryJournal::file());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const auto entry = RecoveryJournal::decode(f.readAll());
    return entry ? entry->files : QStringList{};
}

} // namespace

TEST(RecorderEngineCamera, FileNamesFollowTheScreenMovie)
{
    EXPECT_EQ(CameraSideFile::cameraFilePath(QStringLiteral("/m/Demo Screen.mov"), 0),
              QStringLiteral("/m/Demo Camera.mov"));
    EXPECT_EQ(CameraSideFile::cameraFilePath(QStringLiteral("/m/Demo Screen.mov"), 1),
              QStringLiteral("/m/Demo Camera 2.mov"));
    EXPECT_EQ(CameraSideFile::cameraFilePath(QStringLiteral("/m/Demo Screen.mov"), 2),
              QStringLiteral("/m/Demo Camera 3.mov"));
    EXPECT_EQ(CameraSideFile::cameraFilePath(QStringLiteral("/m/Demo.mov"), 0),
              QStringLiteral("/m/Demo Camera.mov"));
    // Only a trailing " Screen" goes, and only the last extension.
    EXPECT_EQ(CameraSideFile::cameraFilePath(QStringLiteral("/m/Screen Demo.v2.mp4"), 0),
              QStringLiteral("/m/Screen Demo.v2 Camera.mov"));
}

TEST(RecorderEngineCamera, SegmentsPerPictureSizeListedInTheJournal)
{
    CameraRig rig;
    rig.start(rig.config());
    // The camera's first picture comes late: the file starts with a black leader.
    spin(0.4);
    rig.camera->run(QSize(640, 480), 0.6);
    // The engine takes the pictures on its own queues, which a busy machine delays.
    const QString first = QDir(rig.h.home.path()).filePath(QStringLiteral("Meeting Camera.mov"));
    ASSERT_TRUE(waitUntil([&] { return journalFiles().size() == 2; }, 5));
    auto cams = rig.cameraWriters();
    ASSERT_EQ(cams.size(), 1u);
    EXPECT_EQ(cams[0]->settings().path, first);
    EXPECT_EQ(journalFiles(), (QStringList{rig.config().outputURL, first}));

    rig.camera->run(QSize(1280, 720), 0.6);
    const QString second = QDir(rig.h.home.path()).filePath(QStringLiteral("Meeting Camera 2.mov"));
    ASSERT_TRUE(waitUntil(
        [&] { return journalFiles().size() == 3 && rig.h.events.count(line(Line::cameraSizeChanged)) > 0; }, 5));
    cams = rig.cameraWriters();
    ASSERT_EQ(cams.size(), 2u);
    EXPECT_EQ(cams[1]->settings().path, second);
    EXPECT_EQ(rig.h.events.count(line(Line::cameraSizeChanged)), 1);
    EXPECT_EQ(journalFiles(), (QStringList{rig.config().outputURL, first, second}));
    // The first segment is finished in the background while the second records.
    ASSERT_TRUE(waitUntil([&] { return cams[0]->status() == MovieWriter::Status::Completed; }, 4));

    ASSERT_TRUE(rig.h.engine->stop());
    EXPECT_EQ(rig.h.engine->cameraFileURLs(), (std::vector<QString>{first, second}));
    EXPECT_EQ(rig.h.engine->cameraFileURL(), first);
    EXPECT_EQ(cams[1]->status(), MovieWriter::Status::Completed);
    EXPECT_FALSE(QFile::exists(RecoveryJournal::file()));
    EXPECT_FALSE(rig.camera->attached());

    const auto main = rig.h.writer(0);
    for (size_t i = 0; i < cams.size(); ++i) {
        const auto& cam = cams[i];
        const auto& s = cam->settings();
        const QSize size = i == 0 ? QSize(640, 480) : QSize(1280, 720);
        ASSERT_TRUE(s.video && s.audio);
        EXPECT_EQ(QSize(s.video->width, s.video->height), size);
        EXPECT_EQ(s.video->averageBitRate, int64_t(size.width()) * size.height() * 30 / 10);
        EXPECT_FALSE(s.video->allowFrameReordering);
        EXPECT_EQ(s.audio->sampleRate, 48000);
        EXPECT_EQ(s.audio->channels, 2);
        EXPECT_EQ(s.audio->bitRate, 128000);
        // Every segment shares the movie's time zero and has the microphone's sound.
        EXPECT_EQ(cam->sessionStart(), main->sessionStart());
        const auto pictures = cam->appended(Input::Video);
        ASSERT_GE(pictures.size(), 5u);
        EXPECT_EQ(pictures.front().time, *main->sessionStart());
        EXPECT_GT(pictures.front().duration.seconds(), 0.3); // the leader
        for (const auto& p : pictures)
            EXPECT_EQ(QSize(p.width, p.height), size);
        EXPECT_GT(cam->appendedAudioFrames(), 0u);
    }
    // The open segment ends with the movie.
    EXPECT_EQ(cams[1]->sessionEnd(), main->sessionEnd());
}

// A camera file whose writer takes sound more slowly than it comes: the sound
// skipped past it and what it still lacked at the finish are told at the stop,
// in one line naming the file, whose seconds are what the file's sound lacks.
TEST(RecorderEngineCamera, SoundTheCameraFileLacksIsToldByTheFilesName)
{
    CameraRig rig;
    rig.h.configureWriter = [](RecordingMovieWriter& w) {
        if (w.settings().path.contains(QStringLiteral(" Camera")))
            w.setAudioRate(0.3 * 48000);
    };
    rig.start(rig.config());
    rig.camera->run(QSize(320, 240), 4.0);
    ASSERT_TRUE(rig.h.engine->stop());

    const auto cams = rig.cameraWriters();
    ASSERT_EQ(cams.size(), 1u);
    const auto& cam = cams[0];
    const auto sound = cam->appended(Input::Audio);
    ASSERT_FALSE(sound.empty());
    ASSERT_TRUE(cam->sessionStart() && cam->sessionEnd());
    // The file's sound runs from its first chunk (the file opens with the
    // camera's first picture) to the end of the movie.
    const int64_t from = AudioTimelineMixer::outputFrame(sound.front().time, *cam->sessionStart());
    const int64_t end = AudioTimelineMixer::outputFrame(*cam->sessionEnd(), *cam->sessionStart());
    const double lacks = double(end - from - int64_t(cam->appendedAudioFrames())) / 48000;
    ASSERT_GT(lacks, 1.0) << "the writer was slow enough to matter";

    const QString words = Line::cameraSoundMissing({QString(), QStringLiteral("Meeting Camera.mov")});
    std::vector<double> told;
    for (const QString& l : rig.h.events.lines())
        if (l.endsWith(words))
            told.push_back(l.section(QLatin1Char(' '), 0, 0).toDouble());
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NEAR(told[0], lacks, 0.051);
    EXPECT_LT(rig.h.events.indexOf(Line::cameraSoundMissing({QString::number(told[0], 'f', 1),
                                                              QStringLiteral("Meeting Camera.mov")})),
              rig.h.events.indexOf(line(Line::completed)));
}

TEST(RecorderEngineCamera, MirroredPicturesAreWritten)
{
    CameraRig rig;
    rig.start(rig.config());
    rig.camera->run(QSize(320, 240), 0.5, true);
    ASSERT_TRUE(rig.h.engine->stop());
    const auto cams = rig.cameraWriters();
    ASSERT_EQ(cams.size(), 1u);
    const auto pictures = cams[0]->appended(Input::Video);
    ASSERT_GE(pictures.size(), 5u);
    for (const auto& p : pictures)
        EXPECT_EQ(QSize(p.width, p.height), QSize(320, 240));
}

TEST(RecorderEngineCamera, FileThatCannotBeCreatedIsReportedOncePerStreak)
{
    CameraRig rig;
    auto failCamera = std::make_shared<std::atomic<bool>>(true);
    auto attempts = std::make_shared<std::atomic<int>>(0);
    auto inner = RecordingMovieWriter::factory(rig.h.writers);
    rig.h.engine->setWriterFactory([=](const MovieWriter::Settings& s) -> std::shared_ptr<MovieWriter> {
        if (s.path.contains(QStringLiteral(" Camera"))) {
            ++*attempts;
            if (*failCamera)
                return nullptr;
        }
        return inner(s);
    });
    rig.start(rig.config());

    rig.camera->run(QSize(640, 480), 1.2);
    // Thirty-odd pictures, one line, and a few tries only.
    EXPECT_EQ(rig.h.events.count(line(Line::cameraNotCreated)), 1);
    EXPECT_GE(attempts->load(), 2);
    EXPECT_LE(attempts->load(), 4);
    EXPECT_TRUE(rig.h.engine->cameraFileURLs().empty());

    // Once it can be made, a later picture opens it.
    *failCamera = false;
    rig.camera->run(QSize(640, 480), 2.5);
    ASSERT_EQ(rig.h.engine->cameraFileURLs().size(), 1u);
    EXPECT_EQ(rig.h.events.count(line(Line::cameraNotCreated)), 1);

    // A new streak after a success is reported again.
    *failCamera = true;
    rig.camera->run(QSize(1280, 720), 0.5);
    EXPECT_EQ(rig.h.events.count(line(Line::cameraSizeChanged)), 1);
    EXPECT_EQ(rig.h.events.count(line(Line::cameraNotCreated)), 2);
    ASSERT_TRUE(rig.h.engine->stop());
    EXPECT_EQ(rig.h.engine->cameraFileURLs().size(), 1u);
}

TEST(RecorderEngineCamera, FileThatCannotStartIsReportedOnceWithTheReason)
{
    CameraRig rig;
    rig.h.configureWriter = [](RecordingMovieWriter& w) {
        if (w.settings().path.contains(QStringLiteral(" Camera")))
            w.setStartError(RecorderError{MovieWriter::errorDomain, 5, QStringLiteral("No room")});
    };
    rig.start(rig.config());
    rig.camera->run(QSize(640, 480), 1.0);
    EXPECT_EQ(rig.h.events.count(line(Line::cameraNotStarted) + QStringLiteral("No room")), 1);
    EXPECT_LE(rig.cameraWriters().size(), 3u);
    EXPECT_TRUE(rig.h.engine->stop());
}

TEST(RecorderEngineCamera, BrokenCameraFileDetachesTheCameraAndKeepsTheJournal)
{
    CameraRig rig;
    rig.h.configureWriter = [](RecordingMovieWriter& w) {
        if (w.settings().path.contains(QStringLiteral(" Camera")))
            w.failOnNextAppend(RecorderError{MovieWriter::errorDomain, 7, QStringLiteral("Disk gone")});
    };
    rig.start(rig.config());
    rig.camera->run(QSize(640, 480), 0.4);
    ASSERT_TRUE(rig.h.events.waitFor(line(Line::cameraWriteFailed) + QStringLiteral("Disk gone"), 2));
    EXPECT_FALSE(rig.camera->attached());
    // The movie is saved; the camera file is not offered, and the next launch hears of it.
    EXPECT_TRUE(rig.h.engine->stop());
    EXPECT_EQ(rig.h.events.countStartingWith(line(Line::cameraWriteFailed)), 1);
    EXPECT_FALSE(rig.h.engine->cameraFileURL());
    EXPECT_TRUE(QFile::exists(RecoveryJournal::file()));
    RecoveryJournal::end();
}

TEST(RecorderEngineCamera, DeepPauseResumesTheCameraItSuspended)
{
    CameraRig rig;
    rig.h.engine->setTierDelays(0.1, 0.3);
    auto c = rig.config();
    // Composited with the bubble hidden: the camera still wakes.
    c.cameraOverlay = std::make_shared<CameraOverlayState>();
    rig.start(c);
    rig.h.engine->pause();
    ASSERT_TRUE(rig.h.events.waitFor(line(Line::deep), 2));
    EXPECT_EQ(rig.camera->suspends.load(), 1);
    EXPECT_EQ(rig.camera->resumes.load(), 0);
    rig.h.engine->resume();
    ASSERT_TRUE(rig.h.events.waitFor(QStringLiteral("Resumed (previous level: deep)"), 3));
    EXPECT_EQ(rig.camera->resumes.load(), 1);

    // A short pause leaves the camera alone.
    rig.h.engine->setTierDelays(10, 180);
    rig.h.engine->pause();
    spin(0.2);
    rig.h.engine->resume();
    ASSERT_TRUE(rig.h.events.waitFor(QStringLiteral("Resumed (previous level: instant)"), 3));
    EXPECT_EQ(rig.camera->suspends.load(), 1);
    EXPECT_EQ(rig.camera->resumes.load(), 1);
    EXPECT_TRUE(rig.h.engine->stop());
}

TEST(RecorderEngineCamera, StopInTheDeepTierHandsTheCameraBackRunning)
{
    CameraRig rig;
    rig.h.engine->setTierDelays(0.1, 0.2);
    rig.start(rig.config());
    rig.camera->run(QSize(640, 480), 0.3);
    rig.h.engine->pause();
    ASSERT_TRUE(rig.h.events.waitFor(line(Line::deep), 2));
    EXPECT_TRUE(rig.h.engine->stop());
    EXPECT_EQ(rig.camera->suspends.load(), 1);
    EXPECT_EQ(rig.camera->resumes.load(), 1);
    EXPECT_EQ(rig.h.engine->cameraFileURLs().size(), 1u);
}

TEST(RecorderEngineCamera, PausedTimeIsCutFromCameraPictures)
{
    CameraRig rig;
    rig.start(rig.config());
    rig.camera->run(QSize(320, 240), 0.3);
    rig.h.engine->pause();
    spin(1.0);
    rig.h.engine->resume();
    ASSERT_TRUE(rig.h.events.waitForPrefix(QStringLiteral("Resumed"), 2));
    rig.camera->run(QSize(320, 240), 0.3);
    ASSERT_TRUE(rig.h.engine->stop());
    const auto cams = rig.cameraWriters();
    ASSERT_EQ(cams.size(), 1u);
    const auto pictures = cams[0]->appended(Input::Video);
    ASSERT_GE(pictures.size(), 4u);
    // No picture lies beyond the movie's end: the pause is left out of both.
    const MediaTime end = *rig.h.writer(0)->sessionEnd();
    for (size_t i = 1; i < pictures.size(); ++i) {
        EXPECT_LT(pictures[i].time, end);
        EXPECT_LT((pictures[i].time - pictures[i - 1].time).seconds(), 0.5);
    }
}

// A whole recording through the real writer with the synthetic camera.
TEST(RecorderEngineCameraE2E, APauseLeavesWhatWasRecordedInBothFiles)
{
    // Killed during a pause, the screen movie and the camera file must hold
    // what was recorded before it: read here from the files the engine still
    // has open, as after a crash.
    MovieFolder folder(QStringLiteral("RecorderEngineCameraE2E"));
    CameraRig rig(true);
    const QString screenMovie = folder.file(QStringLiteral("Paused Screen.mov"));
    auto capture = rig.startWithCapture(screenMovie);
    ASSERT_TRUE(waitUntil([&] { return rig.h.engine->effectiveSeconds() > 2.5; }, 30));
    std::atomic<bool> paused{false};
    rig.h.engine->pause([&] { paused = true; });
    ASSERT_TRUE(waitUntil([&] { return paused.load(); }, 10));
    // The screen's last picture; the pause began within a frame after it.
    const double recorded = rig.h.engine->effectiveSeconds();

    for (const QString& path : {screenMovie, folder.file(QStringLiteral("Paused Camera.mov"))}) {
        double video = 0, audio = 0;
        const bool written = waitUntil([&] {
            const MovieProbe::Result probe = MovieProbe::probe(path);
            const MovieProbe::Stream* v = probe.firstOf(MovieProbe::Stream::Kind::Video);
            const MovieProbe::Stream* a = probe.firstOf(MovieProbe::Stream::Kind::Audio);
            video = v ? v->seconds : 0;
            audio = a ? a->seconds : 0;
            // The last picture lasts until the pause; the sound is all there but
            // what the AAC encoder holds (less than 64 ms).
            return video > recorded && audio > recorded - 0.064;
        }, 30);
        EXPECT_TRUE(written) << path.toStdString() << ": recorded " << recorded << " s; in the file: video " << video
                             << " s, sound " << audio << " s";
    }
    EXPECT_EQ(rig.h.engine->state(), RecorderEngine::State::paused);
    rig.h.engine->stop();
    capture->stop();
}

// The camera file's sound is the microphone's; with the microphone switched on
// and none there, its track is silence as long as the pictures, never a track
// without a sample, which some players refuse.
TEST(RecorderEngineCameraE2E, CameraFileHasHevcAndAac)
{
    const std::vector<std::pair<const char*, std::function<void(RecorderEngine::Config&)>>> microphones{
        {"with a microphone", {}},
        {"none there",
         [](RecorderEngine::Config& c) {
             c.microphoneID.reset();
             c.microphoneMissing = true;
         }},
    };
    for (const auto& [what, adjust] : microphones) {
        SCOPED_TRACE(what);
        MovieFolder folder(QStringLiteral("RecorderEngineCameraE2E"));
        CameraRig rig(true);
        auto capture = rig.startWithCapture(folder.file(QStringLiteral("Camera E2E Screen.mov")), adjust);
        spin(2.5);
        const auto path = rig.h.engine->stop();
        capture->stop();
        ASSERT_TRUE(path);

        const QString cameraPath = folder.file(QStringLiteral("Camera E2E Camera.mov"));
        EXPECT_EQ(rig.h.engine->cameraFileURLs(), std::vector<QString>{cameraPath});
        const MovieProbe::Result probe = MovieProbe::probe(cameraPath);
        ASSERT_TRUE(probe.opened) << probe.error.toStdString();
        ASSERT_TRUE(probe.playable);
        const MovieProbe::Stream* video = probe.firstOf(MovieProbe::Stream::Kind::Video);
        const MovieProbe::Stream* audio = probe.firstOf(MovieProbe::Stream::Kind::Audio);
        ASSERT_TRUE(video && audio);
        EXPECT_EQ(video->codec, QStringLiteral("hevc"));
        EXPECT_EQ(audio->codec, QStringLiteral("aac"));
        EXPECT_EQ(audio->sampleRate, 48000);
        EXPECT_EQ(audio->channels, 2);
        EXPECT_GT(video->packets, 20);
        EXPECT_GT(audio->packets, 0);
        EXPECT_NEAR(audio->seconds, rig.h.engine->effectiveSeconds(), 0.5);
    }
}

TEST(RecorderEngineCameraE2E, CameraFilesMovedWithTheirFolderAreSavedWhereTheyWentAndOneRemovedIsReported)
{
    for (const bool removeOpen : {false, true}) {
        SCOPED_TRACE(removeOpen ? "open segment removed" : "folder renamed");
        CameraRig rig(true);
        const QString videos = QDir(rig.h.home.path()).filePath(QStringLiteral("Videos"));
        ASSERT_TRUE(QDir().mkpath(videos));
        rig.start(rig.config(QStringLiteral("Videos/Meeting Screen.mov")));
        // A segment finished before the move, and one still open at it.
        rig.camera->run(QSize(640, 480), 0.6);
        rig.camera->run(QSize(1280, 720), 0.3);
        ASSERT_TRUE(waitUntil([&] { return rig.h.events.count(line(Line::cameraSizeChanged)) > 0; }, 5));
        ASSERT_TRUE(waitUntil([&] { return rig.h.engine->cameraFileURLs().size() == 2; }, 5));
        const std::vector<QString> started = rig.h.engine->cameraFileURLs();
        spin(1.0); // the first segment is finished meanwhile
        const QString moved = videos + QStringLiteral(" (old)");
        if (removeOpen)
            ASSERT_TRUE(QFile::remove(started[1]));
        else
            ASSERT_TRUE(QDir().rename(videos, moved));
        rig.camera->run(QSize(1280, 720), 0.3);

        const std::optional<QString> movie = rig.h.engine->stop();
        ASSERT_TRUE(movie);
        if (!removeOpen) {
            EXPECT_EQ(*movie, QDir(moved).filePath(QStringLiteral("Meeting Screen.mov")));
            const std::vector<QString> files = rig.h.engine->cameraFileURLs();
            ASSERT_EQ(files.size(), 2u);
            for (size_t i = 0; i < files.size(); ++i) {
                EXPECT_EQ(files[i], QDir(moved).filePath(QFileInfo(started[i]).fileName()));
                EXPECT_TRUE(MovieProbe::probe(files[i]).playable) << files[i].toStdString();
                EXPECT_EQ(rig.h.events.count(Line::fileMoved({files[i]})), 1) << files[i].toStdString();
            }
            EXPECT_EQ(rig.h.engine->cameraFileURL(), files[0]);
            EXPECT_EQ(rig.h.events.count(Line::fileMoved({*movie})), 1);
            EXPECT_EQ(rig.h.events.countStartingWith(Line::cameraWriteFailed.prefix()), 0);
            std::vector<QString> written;
            for (const WrittenFile& f : rig.h.engine->writtenFiles())
                written.push_back(f.path());
            std::vector<QString> all{*movie};
            all.insert(all.end(), files.begin(), files.end());
            EXPECT_EQ(written, all);
            EXPECT_FALSE(QFile::exists(RecoveryJournal::file()));
        } else {
            EXPECT_EQ(*movie, QDir(videos).filePath(QStringLiteral("Meeting Screen.mov")));
            EXPECT_EQ(rig.h.events.countStartingWith(Line::cameraWriteFailed.prefix()), 1);
            EXPECT_EQ(rig.h.engine->cameraFileURL(), std::nullopt);
            EXPECT_EQ(rig.h.events.countStartingWith(Line::fileMoved.prefix()), 0);
            EXPECT_TRUE(QFile::exists(RecoveryJournal::file())) << "a camera file lost keeps the journal";
        }
    }
}
