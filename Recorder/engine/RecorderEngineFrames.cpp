// RecorderEngine: the picture path: a captured or re-sent frame through the compositor and, when
// it waits for its camera picture, the sync queue, into the movie.

#include "engine/RecorderEngine.h"

#include "capture/CameraOverlayState.h"
#include "capture/OwnedPixels.h"
#include "engine/CameraFeed.h"
#include "engine/compositor/CursorCompositor.h"
#include "engine/compositor/MouseTrack.h"
#include "platform/core/HostClock.h"
#include "prefs/Loc.h"

namespace corvessa {

SampleBuffer RecorderEngine::makeSampleBuffer(const PixelBufferRef& image, MediaTime pts) const
{
    return SampleBuffer::video(image, pts, m_frameInterval);
}

void RecorderEngine::handleVideo(const SampleBuffer& sample, bool force)
{
    if (!force) {
        const PixelBufferRef& pixels = sample.imageBuffer();
        if (!pixels)
            return;
        const QVariant status = pixels->attachment(PixelAttachmentKey::FrameStatus);
        if (!status.isValid() || status.toInt() != int(FrameStatus::Complete))
            return;
        m_lastPixelBuffer = pixels;
    }
    if (m_state != State::recording)
        return;
    const MediaTime pts = sample.presentationTime();
    if (!pts.isValid())
        return;
    if (m_lastVideoPTS.isValid() && pts <= m_lastVideoPTS)
        return;
    // A captured frame right after a re-sent one would only double it.
    if (!force && m_lastFrameSynthetic && m_lastVideoPTS.isValid() && !m_resumeWaiting
        && pts - m_lastVideoPTS < m_frameInterval.multiplied(1, 2))
        return;

    if (m_sessionStarted) {
        if (m_resumeWaiting) {
            if (m_resumePTS.isNumeric() && pts < m_resumePTS)
                return;
            m_resumeWaiting = false;
            if (m_resumeTimeout)
                m_resumeTimeout->cancel();
            m_resumeTimeout.reset();
        }
    } else {
        if (m_writer)
            m_writer->startSession(pts);
        m_sessionStarted = true;
        m_firstPTS = pts;
        m_timeline.origin = pts;
        // What the sources caught before this frame: from the frame's time on, it
        // is the movie's. A frame that was long on its way (a busy machine) can
        // come more than the mixer's second ahead after its time: aim the
        // mixer's window at now first, as the next drain would.
        m_audioMixer.due(AudioTimelineMixer::outputFrame(
            m_timeline.boundary(HostClock::now() - MediaTime::fromSeconds(audioLagSeconds)), m_firstPTS));
        for (const auto& [source, buffer] : m_earlySound.take())
            m_audioMixer.place(buffer, source, m_timeline);
    }

    if (!m_writer || m_writer->status() != MovieWriter::Status::Writing
        || !m_writer->isReadyForMoreMediaData(MovieWriter::Input::Video)) {
        ++m_droppedVideo;
        return;
    }
    const std::optional<MediaTime> adjusted = m_timeline.mapped(pts);
    if (!adjusted)
        return;

    // Which camera layout travels with the frame, and whether it must wait for
    // the camera picture of its moment.
    std::optional<CameraOverlayState::Layout> layout;
    bool deferCamera = false;
    if (m_config && m_config->cameraOverlay) {
        const CameraOverlayState::Layout l = m_config->cameraOverlay->layout();
        layout = l;
        if (l.fullScreen)
            deferCamera = true;
        else if (l.visible)
            deferCamera = l.frame.width() > CameraOverlayState::kMinDrawableWidth;
    } else if (m_config && m_config->camera) {
        if (auto own = m_config->camera->overlay()) {
            const CameraOverlayState::Layout l = own->layout();
            if (l.fullScreen) {
                layout = l;
                deferCamera = true;
            }
        }
    }

    const PixelBufferRef image = sample.imageBuffer();
    PixelBufferRef out;
    if (m_cursor && image)
        out = m_cursor->render(image, pts, deferCamera);
    if (!out) {
        // A frame that must carry drawing is never written bare.
        if (m_cursor && (deferCamera || m_cursor->alwaysRender())) {
            ++m_droppedVideo;
            return;
        }
        out = image;
        if (!out)
            return;
    }

    const MediaTime now = HostClock::now();
    if (!deferCamera || !layout) {
        drainVideoSync(true, now);
        appendVideo(out, *adjusted, force);
    } else {
        VideoSyncQueue::Frame frame;
        frame.buffer = out;
        frame.pts = pts;
        frame.adjusted = *adjusted;
        frame.layout = *layout;
        frame.minimumCameraPTS = m_resumePTS.isNumeric() ? m_resumePTS : m_firstPTS;
        if (m_mouseTrack)
            frame.windowFrame = m_mouseTrack->windowFrame();
        m_videoSync.append(std::move(frame));
        drainVideoSync(false, now);
    }

    m_lastVideoPTS = pts;
    m_lastAdjusted = *adjusted;
    m_lastFrameSynthetic = force;
    *m_effective.lock() = (*adjusted - m_firstPTS).seconds();
}

void RecorderEngine::appendVideo(const PixelBufferRef& image, MediaTime adjusted, bool repeated)
{
    if (!m_writer || m_writer->status() != MovieWriter::Status::Writing
        || !m_writer->isReadyForMoreMediaData(MovieWriter::Input::Video)) {
        ++m_droppedVideo;
        return;
    }
    std::optional<SampleBuffer> sample = MediaTime::image(image, adjusted, m_frameInterval);
    if (!sample) {
        ++m_droppedVideo;
        return;
    }
    if (m_guard.safeAppend(*m_writer, MovieWriter::Input::Video, *sample, Loc::text(QStringLiteral("Screen")))) {
        ++m_writtenVideo;
        if (repeated)
            ++m_repeatedVideo;
    } else if (m_writer->status() == MovieWriter::Status::Failed) {
        const auto e = m_writer->error();
        emitLine(Line::videoWriteFailed({e ? e->message : QStringLiteral("?")}));
    }
}

void RecorderEngine::drainVideoSync(bool flush, MediaTime now)
{
    while (!m_videoSync.isEmpty()) {
        const VideoSyncQueue::Frame& front = m_videoSync.front();
        const int64_t size = front.buffer ? int64_t(OwnedPixels::bytes(*front.buffer)) : 0;
        const bool stays = !flush && m_videoSync.count() < VideoSyncQueue::kMaxFrames
                           && m_videoSync.bytes() + size <= VideoSyncQueue::kMaxBytes
                           && (now - front.pts).seconds() < syncGraceSeconds;
        if (stays)
            break;
        std::optional<VideoSyncQueue::Frame> frame = m_videoSync.popFront();
        if (!frame)
            break;
        std::shared_ptr<CameraOverlayState> overlay;
        if (m_config)
            overlay = m_config->cameraOverlay ? m_config->cameraOverlay
                                              : (m_config->camera ? m_config->camera->overlay() : nullptr);
        std::optional<CameraOverlayState::Snapshot> snap;
        if (overlay)
            snap = overlay->snapshot(frame->pts, frame->layout, frame->minimumCameraPTS);
        if (snap)
            ++m_matchedCameraFrames;
        else
            ++m_missingCameraFrames;
        PixelBufferRef out;
        if (m_cursor)
            out = m_cursor->overlayCamera(frame->buffer, snap, frame->windowFrame, frame->layout.fullScreen);
        if (out)
            appendVideo(out, frame->adjusted, false);
        else
            ++m_droppedVideo;
    }
    const double nowSeconds = now.seconds();
    if (nowSeconds - m_lastSyncReport >= 5 && m_config && m_config->cameraOverlay) {
        emitLine(Line::videoSync({QString::number(m_videoSync.count()), QString::number(m_videoSync.bytes() / 1024),
                                  QString::number(m_videoSync.dropped()), QString::number(m_matchedCameraFrames),
                                  QString::number(m_missingCameraFrames)}));
        m_lastSyncReport = nowSeconds;
    }
}

void RecorderEngine::heartbeat(double minGap)
{
    if (m_state != State::recording || m_resumeWaiting || !m_lastPixelBuffer)
        return;
    const MediaTime now = HostClock::now();
    if (m_lastVideoPTS.isValid() && (now - m_lastVideoPTS).seconds() < minGap)
        return;
    handleVideo(makeSampleBuffer(m_lastPixelBuffer, now), true);
}

} // namespace corvessa
