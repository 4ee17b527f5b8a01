#include "engine/CameraSideFile.h"

#include "engine/EngineLines.h"
#include "engine/FinishedFile.h"
#include "platform/core/HostClock.h"
#include "platform/core/PixelBuffer.h"
#include "prefs/MovieBitRate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace corvessa {

namespace {

const QString kSoundLabel = QStringLiteral("Camera audio");

} // namespace

// A segment being closed: it lives on here, after the file has moved on to the
// next segment, until its sound is written and the file finished.
struct CameraSideFile::CamClosing {
    std::shared_ptr<MovieWriter> writer;
    int recording = 0;
    size_t segment = 0; // in that recording's m_cameraFileURLs
    bool hasAudio = false;
    bool withSound = false;
    AudioTimelineMixer mixer; // this segment's copy of the sound
    MediaTime origin;
    MediaTime end;
    int64_t endFrame = 0;
    double deadline = 0; // host seconds
};

QString CameraSideFile::cameraFilePath(const QString& screenPath, int segment)
{
    const QFileInfo info(screenPath);
    QString base = info.completeBaseName();
    static const QString screenSuffix = QStringLiteral(" Screen");
    if (base.endsWith(screenSuffix))
        base.chop(screenSuffix.size());
    const QString suffix =
        segment == 0 ? QStringLiteral(" Camera") : QStringLiteral(" Camera ") + QString::number(segment + 1);
    return QDir(info.path()).filePath(base + suffix + MovieWriter::fileExtension);
}

CameraSideFile::CameraSideFile(Host host, double drainSeconds, double pollSeconds)
    : m_host(std::move(host))
    , m_drainSeconds(drainSeconds)
    , m_pollSeconds(pollSeconds)
    , m_guard(m_host.emitLine)
{
}

void CameraSideFile::begin(const QString& screenPath, int fps, MovieWriterFactory factory)
{
    m_recording += 1;
    m_screenPath = screenPath;
    m_fps = fps;
    m_factory = std::move(factory);
    m_cameraMixer.reset();
    m_guard.reset();
    m_cameraFileURLs.clear();
    m_cameraWritten.clear();
    m_missingSound.clear();
    m_cameraFileURL.reset();
    m_camSegment = 0;
    m_cameraSaveFailed = false;
    m_camWriter.reset();
    m_camHasAudio = false;
    m_camDim.reset();
    m_lastCamAdjusted = MediaTime::invalid();
    m_camFailureReported = false;
    m_camFailures = 0;
    m_camFailureLineSent = false;
    m_camRetryAt = 0;
}

bool CameraSideFile::write(const SampleBuffer& given, bool mirrored, const MovieClock& clock)
{
    const PixelBufferRef& pixels = given.imageBuffer();
    if (!pixels)
        return true;
    const QSize size(pixels->width(), pixels->height());
    if (m_camWriter && m_camDim && *m_camDim != size) {
        closeCamWriter(clock);
        m_host.emitLine(EngineLines::cameraSizeChanged());
    }

    SampleBuffer sample = given;
    if (mirrored) {
        std::optional<SampleBuffer> flipped = m_camMirror.sample(given);
        if (!flipped)
            return true;
        sample = std::move(*flipped);
    }
    if (!m_camWriter && !setupCamWriter(sample, clock))
        return true;
    // Also a writer that failed on the leader or in the background.
    if (m_camWriter->status() != MovieWriter::Status::Failed) {
        if (m_camWriter->status() != MovieWriter::Status::Writing
            || !m_camWriter->isReadyForMoreMediaData(MovieWriter::Input::Video))
            return true;
        const MediaTime adjusted = given.presentationTime() - clock.offset;
        std::optional<SampleBuffer> retimed = MediaTime::retimed(sample, adjusted);
        if (!retimed)
            return true;
        m_lastCamAdjusted = adjusted;
        if (m_guard.safeAppend(*m_camWriter, MovieWriter::Input::Video, *retimed, QStringLiteral("Camera picture"))
            || m_camWriter->status() != MovieWriter::Status::Failed)
            return true;
    }
    m_host.emitLine(EngineLines::cameraWriteFailed({EngineLine::reason(m_camWriter->error())}));
    m_cameraSaveFailed = true;
    m_camFailureReported = true;
    return false;
}

bool CameraSideFile::setupCamWriter(const SampleBuffer& sample, const MovieClock& clock)
{
    const PixelBufferRef& pixels = sample.imageBuffer();
    if (!pixels)
        return false;
    // After a failure, pictures wait for the back-off instead of each trying
    // (and reporting) again.
    if (m_camFailures > 0 && HostClock::seconds() < m_camRetryAt)
        return false;

    const int width = pixels->width();
    const int height = pixels->height();
    const QString file = cameraFilePath(m_screenPath, m_camSegment);
    QFile::remove(file);

    MovieWriter::Settings settings;
    settings.path = file;
    settings.fragmentInterval = 2.0;
    MovieWriter::VideoSettings video;
    video.width = width;
    video.height = height;
    video.averageBitRate = MovieBitRate::camera(width, height, std::max(1, m_fps));
    video.expectedFrameRate = 0; // the camera sets its own pace
    video.allowFrameReordering = false;
    video.colorTags = false;
    settings.video = video;
    settings.audio = MovieWriter::AudioSettings{48000, 2, 128000};

    std::shared_ptr<MovieWriter> writer = m_factory ? m_factory(settings) : MovieWriter::create(settings);
    if (!writer) {
        cameraFileFailed(EngineLines::cameraNotCreated());
        return false;
    }
    if (!writer->hasInput(MovieWriter::Input::Video)) {
        cameraFileFailed(QString());
        return false;
    }
    if (!writer->startWriting()) {
        cameraFileFailed(EngineLines::cameraNotStarted({EngineLine::reason(writer->error())}));
        return false;
    }
    // Every segment shares the screen movie's time zero.
    writer->startSession(clock.origin);

    m_camWriter = writer;
    m_camHasAudio = writer->hasInput(MovieWriter::Input::Audio);
    m_camDim = QSize(width, height);
    m_camFailureReported = false;
    m_camFailures = 0;
    m_camFailureLineSent = false;
    if (m_camSegment == 0)
        m_cameraFileURL = file;
    m_cameraFileURLs.push_back(file);
    m_cameraWritten.push_back(writer->writtenFile());
    m_missingSound.push_back(0);
    m_camSegment += 1;
    m_host.addToJournal(file);

    // Until the camera's first picture the segment shows black, so that its
    // pictures keep their places on the movie's timeline.
    const MediaTime gap = sample.presentationTime() - clock.offset - clock.origin;
    if (gap.isValid() && gap > clock.frameInterval) {
        if (PixelBufferRef black = PixelBuffer::create(width, height, PixelFormat::BGRA))
            if (std::optional<SampleBuffer> leader = MediaTime::image(black, clock.origin, gap))
                m_guard.safeAppend(*writer, MovieWriter::Input::Video, *leader, QStringLiteral("Camera leader"));
    }
    m_host.segmentOpened();
    return true;
}

void CameraSideFile::cameraFileFailed(const QString& line)
{
    // One line per streak of failures: the camera keeps delivering, the cause
    // usually stays.
    if (!line.isEmpty() && !m_camFailureLineSent) {
        m_camFailureLineSent = true;
        m_host.emitLine(line);
    }
    const double delay =
        std::min(cameraRetryFirstDelay * std::pow(2.0, std::min(m_camFailures, 16)), cameraRetryMaxDelay);
    m_camFailures += 1;
    m_camRetryAt = HostClock::seconds() + delay;
}

void CameraSideFile::closeCamWriter(const MovieClock& clock)
{
    std::shared_ptr<MovieWriter> writer = std::exchange(m_camWriter, nullptr);
    const bool hasAudio = std::exchange(m_camHasAudio, false);
    m_camDim.reset();
    m_camFailureReported = false;
    if (!writer || writer->status() != MovieWriter::Status::Writing)
        return;

    auto closing = std::make_shared<CamClosing>();
    closing->writer = writer;
    closing->recording = m_recording;
    closing->segment = m_cameraFileURLs.size() - 1;
    closing->hasAudio = hasAudio;
    closing->withSound = hasAudio && clock.withSound;
    closing->origin = clock.origin;
    closing->end = (m_lastCamAdjusted.isValid() ? m_lastCamAdjusted : clock.lastAdjusted) + clock.frameInterval;
    closing->endFrame = AudioTimelineMixer::outputFrame(closing->end, clock.origin);
    closing->mixer = m_cameraMixer.snapshot();
    // The next segment's sound goes on from where this one ends.
    if (m_cameraMixer.cursor() < closing->endFrame)
        m_cameraMixer.commit(closing->endFrame - m_cameraMixer.cursor());
    m_cameraFinishes += 1;
    closing->deadline = HostClock::seconds() + m_drainSeconds;
    closeCamStep(closing);
}

void CameraSideFile::closeCamStep(const std::shared_ptr<CamClosing>& closing)
{
    const std::shared_ptr<MovieWriter>& writer = closing->writer;
    if (closing->withSound && writer->status() == MovieWriter::Status::Writing) {
        m_guard.appendSound(*writer, closing->mixer, closing->endFrame, closing->origin, true, kSoundLabel);
        if (closing->mixer.cursor() < closing->endFrame && HostClock::seconds() < closing->deadline
            && !m_guard.isBroken(*writer, MovieWriter::Input::Audio)) {
            m_host.postAfter(m_pollSeconds, [this, closing] { closeCamStep(closing); });
            return;
        }
        countTail(closing->recording, closing->segment, closing->mixer, closing->endFrame);
    }
    if (writer->status() != MovieWriter::Status::Writing) {
        m_cameraSaveFailed = true;
        leaveCameraFinish();
        return;
    }
    writer->markAsFinished(MovieWriter::Input::Video);
    if (closing->hasAudio)
        writer->markAsFinished(MovieWriter::Input::Audio);
    writer->endSession(closing->end);
    m_host.finishWriting(writer, [this, closing] { camSegmentFinished(closing); });
}

void CameraSideFile::camSegmentFinished(const std::shared_ptr<CamClosing>& closing)
{
    settleSegment(closing->recording, closing->segment, *closing->writer, true);
    m_guard.forget(*closing->writer);
    leaveCameraFinish();
}

bool CameraSideFile::settleSegment(int recording, size_t segment, const MovieWriter& writer, bool reportFailure)
{
    const FinishedFile file = FinishedFile::of(writer);
    if (!file.path()) {
        m_cameraSaveFailed = true;
        if (reportFailure)
            m_host.emitLine(EngineLines::cameraWriteFailed({EngineLine::reason(file.error())}));
        return false;
    }
    if (const auto moved = file.movedLine())
        m_host.emitLine(*moved);
    // A segment of an earlier recording may still have been closing.
    if (recording == m_recording && segment < m_cameraFileURLs.size()) {
        if (file.written())
            segmentSavedAt(segment, *file.written());
        else
            m_cameraWritten[segment].reset();
    }
    return true;
}

void CameraSideFile::segmentSavedAt(size_t segment, const WrittenFile& file)
{
    if (m_cameraFileURL == m_cameraFileURLs[segment])
        m_cameraFileURL = file.path();
    m_cameraFileURLs[segment] = file.path();
    m_cameraWritten[segment] = file;
}

void CameraSideFile::followMovie(size_t segment, const QString& moviePath)
{
    const std::optional<WrittenFile>& written = m_cameraWritten[segment];
    if (!written || written->isAtPath())
        return;
    // Its folder renamed after it was finished: it is beside the movie, under its own name.
    const WrittenFile beside = written->movedTo(
        QFileInfo(moviePath).absoluteDir().filePath(QFileInfo(written->path()).fileName()));
    if (beside.isAtPath()) {
        m_host.emitLine(EngineLines::fileMoved({beside.path()}));
        segmentSavedAt(segment, beside);
        return;
    }
    m_cameraSaveFailed = true;
    m_cameraWritten[segment].reset();
    m_host.emitLine(EngineLines::cameraWriteFailed({FinishedFile::goneError().message}));
}

void CameraSideFile::placeSound(const SampleBuffer& buffer, const RecordingTimeline& timeline)
{
    m_cameraMixer.place(buffer, AudioTimelineMixer::Source::microphone, timeline);
}

void CameraSideFile::microphoneStopped()
{
    m_cameraMixer.stop(AudioTimelineMixer::Source::microphone);
}

void CameraSideFile::drainSound(int64_t target, MediaTime origin, bool final, bool withSound)
{
    // Its own mixer waits for a late microphone on its own.
    const int64_t frames = final ? target : m_cameraMixer.due(target);
    if (m_camWriter && m_camHasAudio && withSound) {
        // What a stalled camera writer skips keeps its backlog bounded, and
        // is missing from the open segment.
        if (m_camWriter->status() == MovieWriter::Status::Writing && !m_missingSound.empty())
            m_missingSound.back() +=
                m_guard.appendSound(*m_camWriter, m_cameraMixer, frames, origin, final, kSoundLabel);
    } else if (m_cameraMixer.cursor() < frames) {
        m_cameraMixer.commit(frames - m_cameraMixer.cursor());
    }
}

bool CameraSideFile::soundPending(int64_t endFrame) const
{
    // A broken sound input is not waited for, like the movie's.
    return m_camWriter && m_camHasAudio && m_cameraMixer.cursor() < endFrame
           && m_camWriter->status() == MovieWriter::Status::Writing
           && !m_guard.isBroken(*m_camWriter, MovieWriter::Input::Audio);
}

void CameraSideFile::finish(MediaTime end, int64_t endFrame, bool withSound)
{
    if (!m_camWriter || m_camWriter->status() != MovieWriter::Status::Writing)
        return;
    if (m_camHasAudio && withSound && !m_missingSound.empty())
        countTail(m_recording, m_missingSound.size() - 1, m_cameraMixer, endFrame);
    m_camWriter->markAsFinished(MovieWriter::Input::Video);
    if (m_camHasAudio)
        m_camWriter->markAsFinished(MovieWriter::Input::Audio);
    m_camWriter->endSession(end);
    m_cameraFinishes += 1;
    m_host.finishWriting(m_camWriter, [this] { leaveCameraFinish(); });
}

bool CameraSideFile::soundDue(int64_t endFrame)
{
    return !m_camWriter || m_cameraMixer.due(endFrame) >= endFrame;
}

void CameraSideFile::flushFragment(MediaTime pausedAt)
{
    if (m_camWriter && m_camWriter->status() == MovieWriter::Status::Writing)
        m_camWriter->flushFragment(pausedAt);
}

void CameraSideFile::cancel()
{
    if (m_camWriter)
        m_camWriter->cancelWriting();
}

void CameraSideFile::checkResult(const QString& moviePath)
{
    const size_t closed = m_camWriter && !m_cameraFileURLs.empty() ? m_cameraFileURLs.size() - 1 : m_cameraFileURLs.size();
    for (size_t i = 0; i < closed; ++i)
        followMovie(i, moviePath);
    if (!m_camWriter || m_cameraFileURLs.empty())
        return;
    if (settleSegment(m_recording, m_cameraFileURLs.size() - 1, *m_camWriter, !m_camFailureReported))
        return;
    m_cameraFileURL.reset();
}

std::vector<WrittenFile> CameraSideFile::writtenFiles() const
{
    std::vector<WrittenFile> files;
    for (const auto& file : m_cameraWritten)
        if (file)
            files.push_back(*file);
    return files;
}

void CameraSideFile::countTail(int recording, size_t segment, const AudioTimelineMixer& mixer, int64_t endFrame)
{
    // A segment of an earlier recording may still be closing.
    if (recording == m_recording && segment < m_missingSound.size())
        m_missingSound[segment] += std::max<int64_t>(0, endFrame - mixer.cursor());
}

void CameraSideFile::leaveCameraFinish()
{
    m_cameraFinishes = std::max(m_cameraFinishes - 1, 0);
    if (m_cameraFinishes > 0)
        return;
    std::vector<std::function<void()>> waiters = std::exchange(m_cameraFinishWaiters, {});
    for (auto& w : waiters)
        m_host.post(std::move(w));
}

void CameraSideFile::notifyCameraFinishes(std::function<void()> done)
{
    if (m_cameraFinishes == 0)
        m_host.post(std::move(done));
    else
        m_cameraFinishWaiters.push_back(std::move(done));
}

} // namespace corvessa
