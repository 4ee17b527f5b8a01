// RecorderEngine: the movie's writer and the camera file's segments: the movie opened, camera
// pictures and sound handed to the camera file, and writers finished.

#include "engine/RecorderEngine.h"

#include "capture/CameraOverlayState.h"
#include "engine/CameraFeed.h"
#include "engine/EngineDurations.h"
#include "engine/RecoveryJournal.h"
#include "prefs/Loc.h"
#include "prefs/MovieBitRate.h"

#include <QFile>

namespace corvessa {

std::optional<RecorderError> RecorderEngine::setupWriter(const Config& config, const MovieWriterFactory& factory,
                                                         QSize size)
{
    QFile::remove(config.outputURL);

    MovieWriter::Settings settings;
    settings.path = config.outputURL;
    settings.fragmentInterval = 2.0;
    MovieWriter::VideoSettings video;
    video.width = size.width();
    video.height = size.height();
    video.averageBitRate =
        MovieBitRate::screen(config.qualityTier, config.customMbps, size.width(), size.height(), config.fps);
    video.expectedFrameRate = config.fps;
    video.maxKeyFrameInterval = 2.0;
    video.allowFrameReordering = false;
    video.colorTags = true;
    settings.video = video;
    settings.audio = MovieWriter::AudioSettings{48000, 2, 128000};

    std::shared_ptr<MovieWriter> writer = factory ? factory(settings) : MovieWriter::create(settings);
    if (!writer)
        return err(Loc::mark("Can't start writing the file."));
    m_q->sync([&] {
        m_writer = writer;
        m_hasVideoIn = writer->hasInput(MovieWriter::Input::Video);
        m_hasAudioIn = writer->hasInput(MovieWriter::Input::Audio);
    });
    if (!writer->startWriting()) {
        if (auto e = writer->error())
            return e;
        return err(Loc::mark("Can't start writing the file."));
    }
    RecoveryJournal::begin(config.outputURL);
    return std::nullopt;
}

void RecorderEngine::handleCamera(const SampleBuffer& sample, bool mirrored)
{
    // Until a recording has its first frame and runs, pictures have no place on
    // the camera file's timeline. Pictures still queued when the camera was
    // detached are dropped too.
    if (!sample.imageBuffer() || !m_camera || m_state != State::recording || !m_sessionStarted || m_resumeWaiting)
        return;
    const MediaTime pts = sample.presentationTime();
    if (!pts.isValid() || (m_resumePTS.isValid() && pts < m_resumePTS) || pts < m_firstPTS)
        return;
    if (m_cameraFile.write(sample, mirrored, movieClock()))
        return;
    // The file is broken for good: no more pictures for this recording.
    m_camera->setOnSample({});
    m_camera.reset();
}

void RecorderEngine::handleCameraAudio(const SampleBuffer& buffer)
{
    if (!m_config || m_config->cameraOverlay || !m_camera || !m_sessionStarted
        || (m_state != State::recording && m_state != State::paused))
        return;
    m_cameraFile.placeSound(buffer, m_timeline);
}

CameraSideFile::MovieClock RecorderEngine::movieClock() const
{
    CameraSideFile::MovieClock clock;
    clock.origin = m_firstPTS;
    clock.offset = m_offset;
    clock.frameInterval = m_frameInterval;
    clock.lastAdjusted = m_lastAdjusted;
    clock.withSound = recordsCameraSound();
    return clock;
}

CameraSideFile::Host RecorderEngine::cameraHost()
{
    // Every call comes on the engine queue while the engine runs it, so the
    // engine can be held from there on.
    CameraSideFile::Host host;
    host.emitLine = [this](const QString& line) { emitLine(line); };
    host.addToJournal = [](const QString& path) { RecoveryJournal::add(path); };
    host.segmentOpened = [this] { drainAudio(false); };
    host.post = [this](std::function<void()> work) {
        m_q->async([self = shared_from_this(), work = std::move(work)] { work(); });
    };
    host.postAfter = [this](double delay, std::function<void()> work) {
        m_q->asyncAfter(queueSeconds(delay), [self = shared_from_this(), work = std::move(work)] { work(); });
    };
    host.finishWriting = [this](const std::shared_ptr<MovieWriter>& writer, std::function<void()> done) {
        finishOnQueue(*writer, std::move(done));
    };
    return host;
}

void RecorderEngine::finishOnQueue(MovieWriter& writer, std::function<void()> done)
{
    auto self = shared_from_this();
    writer.finishWriting([self, done = std::move(done)]() mutable {
        self->m_q->async([self, done = std::move(done)] { done(); });
    });
}

} // namespace corvessa
