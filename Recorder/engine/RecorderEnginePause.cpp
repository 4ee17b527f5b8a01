// RecorderEngine: the pause tiers: instant, eco and deep, the write-out during a pause, and the
// resume with its fill.

#include "engine/RecorderEngine.h"

#include "capture/SystemAudioTap.h"
#include "engine/CameraFeed.h"
#include "engine/EngineDurations.h"
#include "engine/compositor/MouseTrack.h"
#include "platform/core/HostClock.h"
#include "platform/core/MainQueue.h"

#include <algorithm>

namespace corvessa {

void RecorderEngine::schedulePauseWork(double secondsFromNow, std::function<void()> work)
{
    WorkItemRef item = m_q->asyncAfter(queueSeconds(secondsFromNow), std::move(work));
    m_pauseWork.push_back(item);
}

void RecorderEngine::pause(std::function<void()> then)
{
    std::weak_ptr<RecorderEngine> weak = weak_from_this();
    m_q->async([weak, then = std::move(then)] {
        auto self = weak.lock();
        if (!self || self->m_state != State::recording)
            return;
        const MediaTime now = HostClock::now();
        self->m_timeline.pause(now);
        if (self->m_sessionStarted) {
            self->m_pauseWriteOut = self->m_timeline.boundary(now);
            self->m_pauseWriteOutAt = HostClock::seconds() + audioLagSeconds + pauseWriteOutRetry;
        }
        self->m_state = State::paused;
        self->setTier(PauseTier::instant);
        if (then)
            MainQueue::async(then);
        if (self->m_tap)
            self->m_tap->pause();
        if (self->m_mouseTrack)
            self->m_mouseTrack->stop();
        if (self->m_resumeTimeout)
            self->m_resumeTimeout->cancel();
        self->m_resumeTimeout.reset();
        self->emitLine(Line::paused());
        self->schedulePauseWork(self->m_ecoAfter, [weak] {
            if (auto self = weak.lock())
                self->enterEco();
        });
        self->schedulePauseWork(self->m_deepAfter, [weak] {
            if (auto self = weak.lock())
                self->enterDeep();
        });
    });
}

void RecorderEngine::enterEco()
{
    if (m_state != State::paused || m_tier != PauseTier::instant)
        return;
    setTier(PauseTier::eco);
    m_scConfig.minimumFrameInterval = MediaTime(1, 1);
    if (auto stream = m_stream.stream) {
        const ScreenStreamConfig sc = m_scConfig;
        m_control->async([stream, sc] { stream->updateConfiguration(sc); });
    }
    emitLine(Line::eco());
}

void RecorderEngine::enterDeep()
{
    if (m_state != State::paused || m_tier == PauseTier::deep)
        return;
    setTier(PauseTier::deep);
    if (auto stream = std::exchange(m_stream, {}).stream)
        m_control->async([stream] { stream->stop(); });
    if (m_camera) {
        m_camera->suspend();
        m_suspendedCamera = m_camera;
    }
    releaseAwake();
    emitLine(Line::deep());
}

void RecorderEngine::writeOutPause()
{
    if (!m_pauseWriteOut || m_state != State::paused)
        return;
    const int64_t endFrame = AudioTimelineMixer::outputFrame(*m_pauseWriteOut, m_firstPTS);
    // Every source has delivered up to the pause, or is no longer waited for.
    const bool mixed = m_audioMixer.due(endFrame) >= endFrame && m_cameraFile.soundDue(endFrame);
    if (!mixed && HostClock::seconds() < m_pauseWriteOutAt)
        return;
    if (mixed) {
        // The mix up to the pause goes out whole, its last short block too.
        if (recordsAudio() && m_writer && m_hasAudioIn && m_writer->status() == MovieWriter::Status::Writing)
            m_guard.appendSound(*m_writer, m_audioMixer, endFrame, m_firstPTS, true, QStringLiteral("Mixed audio"));
        m_cameraFile.drainSound(endFrame, m_firstPTS, true, recordsCameraSound());
    }
    if (m_writer && m_writer->status() == MovieWriter::Status::Writing)
        m_writer->flushFragment(*m_pauseWriteOut);
    m_cameraFile.flushFragment(*m_pauseWriteOut);
    // A late source: what it delivered is written out now and then until it catches up.
    if (mixed)
        m_pauseWriteOut.reset();
    else
        m_pauseWriteOutAt = HostClock::seconds() + pauseWriteOutRetry;
}

void RecorderEngine::resume()
{
    std::weak_ptr<RecorderEngine> weak = weak_from_this();
    m_q->async([weak] {
        auto self = weak.lock();
        if (!self || self->m_state != State::paused)
            return;
        for (auto& w : self->m_pauseWork)
            w->cancel();
        self->m_pauseWork.clear();
        const PauseTier previous = self->m_tier;

        const MediaTime now = HostClock::now();
        self->m_pauseWriteOut.reset();
        self->m_timeline.resume(now);
        self->m_offset = now - self->m_timeline.boundary(now);
        self->m_resumePTS = now;
        self->m_resumeWaiting = true;
        self->m_state = State::recording;
        self->setTier(std::nullopt);
        self->m_micWatchSince = HostClock::seconds();
        self->m_micDeadNotified = false;
        if (self->m_tap)
            self->m_tap->resume();
        if (self->m_mouseTrack)
            self->m_mouseTrack->start();
        // The camera the deep tier put to sleep wakes with the recording, whether
        // or not its bubble shows now: nobody else would wake it.
        if (auto camera = std::exchange(self->m_suspendedCamera, nullptr))
            camera->resume();
        self->holdAwake();
        self->m_microphoneConfigurationsInFlight += 1;
        const uint64_t recording = self->m_recording;
        // Whatever stream runs next, it runs at the full rate again.
        self->m_scConfig.minimumFrameInterval = self->m_frameInterval;

        if ((previous == PauseTier::deep || !self->m_stream.stream) && self->m_restartingStream) {
            // A lost stream is already being rebuilt by its retries; a second
            // rebuild would race it.
            self->finishResumeReconfiguration(recording, previous, std::nullopt);
        } else if (previous == PauseTier::deep || !self->m_stream.stream) {
            // Dropped by the deep tier, or lost while paused: made anew.
            self->m_control->async([weak, recording, previous, rebuild = self->rebuildRequest()]() mutable {
                auto self = weak.lock();
                if (!self)
                    return;
                std::optional<RecorderError> error = self->rebuildFilter(rebuild);
                if (!error)
                    error = self->startStream(recording, rebuild.source, rebuild.filter, rebuild.sc);
                self->m_q->async([weak, recording, previous, error] {
                    if (auto self = weak.lock())
                        self->finishResumeReconfiguration(recording, previous, error);
                });
            });
        } else if (previous == PauseTier::eco) {
            const ScreenStreamConfig sc = self->m_scConfig;
            auto stream = self->m_stream.stream;
            self->m_control->async([weak, recording, previous, sc, stream] {
                std::optional<RecorderError> error = stream->updateConfiguration(sc);
                if (auto self = weak.lock())
                    self->m_q->async([weak, recording, previous, error] {
                        if (auto self = weak.lock())
                            self->finishResumeReconfiguration(recording, previous, error);
                    });
            });
        } else {
            self->finishResumeReconfiguration(recording, previous, std::nullopt);
        }

        self->m_resumeTimeout = self->m_q->asyncAfter(queueSeconds(resumeFillDelay), [weak] {
            if (auto self = weak.lock())
                self->resumeFill();
        });
    });
}

void RecorderEngine::finishResumeReconfiguration(uint64_t recording, PauseTier previous,
                                                 std::optional<RecorderError> error)
{
    // A late finish from an earlier recording leaves this one alone.
    if (recording != m_recording)
        return;
    if (error) {
        emitLine(Line::resumeFailed({error->message}));
        // Without working capture the recording would stay frozen for good: it
        // goes the way of a lost stream, retrying until capture is back, unless
        // what it recorded was a window that has been closed.
        if (m_state == State::recording && m_streamAllowed && isWindowGone(*error))
            windowClosed();
        else if (m_state == State::recording && m_streamAllowed)
            enterLoss();
    } else {
        emitLine(Line::resumed({QString::fromUtf8(tierName(previous))}));
    }
    m_microphoneConfigurationsInFlight = std::max(m_microphoneConfigurationsInFlight - 1, 0);
    if (m_microphoneConfigurationsInFlight == 0) {
        m_micWatchSince = HostClock::seconds();
        m_micDeadNotified = false;
    }
}

void RecorderEngine::resumeFill()
{
    m_resumeTimeout.reset();
    if (!m_resumeWaiting || !m_lastPixelBuffer)
        return;
    emitLine(Line::resumeFilled());
    handleVideo(makeSampleBuffer(m_lastPixelBuffer, HostClock::now()), true);
}

void RecorderEngine::setMuteSpeakers(bool mute)
{
    std::weak_ptr<RecorderEngine> weak = weak_from_this();
    m_q->async([weak, mute] {
        auto self = weak.lock();
        if (self && self->m_tap)
            self->m_tap->setMute(mute);
    });
}

} // namespace corvessa
