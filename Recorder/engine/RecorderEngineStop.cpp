// RecorderEngine: the stop: the feeds cut off, the sound drained for as long as the writer
// takes it, the movie and the camera file finished, the result reported.

#include "engine/RecorderEngine.h"

#include "capture/SystemAudioTap.h"
#include "engine/CameraFeed.h"
#include "engine/EngineDurations.h"
#include "engine/FinishedFile.h"
#include "engine/RecorderEngineStopRun.h"
#include "engine/RecoveryJournal.h"
#include "platform/core/HostClock.h"

#include <algorithm>

namespace corvessa {

std::optional<QString> RecorderEngine::stop()
{
    auto run = std::make_shared<StopRun>();
    StreamHandle stream;
    std::unique_ptr<SystemAudioTap> tap;
    std::shared_ptr<StopRun> joined;
    std::shared_ptr<StopRun> waited;
    bool stopping = false;

    // First phase: everything that feeds the recording is cut off, on the engine
    // queue so no callback sees a half-changed engine.
    m_q->sync([&] {
        // A stop the engine began on its own answers the first caller after it.
        if (m_stopRun && m_stopRun->selfStarted && !m_stopRun->claimed) {
            m_stopRun->claimed = true;
            joined = m_stopRun;
            return;
        }
        // Another caller's stop under way (a signal's watcher while the main
        // thread saves): waited for, so that the movie is finished on return.
        if (m_stopRun && !m_stopRun->done) {
            waited = m_stopRun;
            return;
        }
        stopping = beginStop(run, stream, tap);
    });
    if (joined)
        return joined->future.get();
    if (waited) {
        waited->future.wait();
        return std::nullopt;
    }
    if (!stopping)
        return std::nullopt;
    // The tap's last buffers may still be on their way to the engine queue; they
    // arrive before the second phase, which is queued behind them.
    if (tap)
        tap->stop();
    if (stream.stream)
        m_control->sync([&] { stream.stream->stop(); });

    auto self = shared_from_this();
    m_q->async([self, run] { self->stopPhase2(run); });
    return run->future.get();
}

bool RecorderEngine::beginStop(const std::shared_ptr<StopRun>& run, StreamHandle& stream,
                               std::unique_ptr<SystemAudioTap>& tap)
{
    if ((m_state != State::recording && m_state != State::paused) || (m_stopRun && !m_stopRun->done))
        return false;
    m_stopRun = run;
    run->capturedUntil = HostClock::now();
    tap = detachFeeds();
    // Stopped in the deep tier: the owner's camera is handed back running.
    if (auto camera = std::exchange(m_suspendedCamera, nullptr))
        camera->resume();
    stream = std::exchange(m_stream, {});
    m_streamAllowed = false;
    cancelScheduledWork();
    return true;
}

void RecorderEngine::stopFromQueue()
{
    auto run = std::make_shared<StopRun>();
    run->selfStarted = true;
    StreamHandle stream;
    std::unique_ptr<SystemAudioTap> tap;
    if (!beginStop(run, stream, tap))
        return;
    // Stopping the tap and the stream waits for their threads, which may be
    // waiting for this queue: done on the control queue, then back here.
    auto self = shared_from_this();
    m_control->async([self, run, stream, tap = std::shared_ptr<SystemAudioTap>(std::move(tap))] {
        if (tap)
            tap->stop();
        if (stream.stream)
            stream.stream->stop();
        self->m_q->async([self, run] { self->stopPhase2(run); });
    });
}

void RecorderEngine::stopPhase2(const std::shared_ptr<StopRun>& run)
{
    drainAudio(true);
    heartbeat(0.05);
    m_state = State::finishing;
    setTier(std::nullopt);
    auto self = shared_from_this();
    if (m_videoSync.isEmpty())
        stopPhase3(run);
    else
        m_q->asyncAfter(queueSeconds(syncGraceSeconds), [self, run] { self->stopPhase3(run); });
}

void RecorderEngine::stopPhase3(const std::shared_ptr<StopRun>& run)
{
    drainVideoSync(true, HostClock::now());
    if (m_sessionStarted && m_writer && m_hasVideoIn) {
        run->deadline = HostClock::seconds() + stopDrainSeconds;
        run->drainedCursor = m_audioMixer.cursor();
        finishingStep(run);
        return;
    }
    // Nothing was written: no movie.
    if (m_writer)
        m_writer->cancelWriting();
    m_cameraFile.cancel();
    m_state = State::idle;
    RecoveryJournal::end();
    run->finish(std::nullopt);
}

void RecorderEngine::finishingStep(const std::shared_ptr<StopRun>& run)
{
    drainAudio(true);
    const MediaTime end = m_lastAdjusted + m_frameInterval;
    const int64_t endFrame = AudioTimelineMixer::outputFrame(end, m_firstPTS);
    const bool audioPending = recordsAudio() && m_audioMixer.cursor() < endFrame
                              && m_writer->status() == MovieWriter::Status::Writing && m_hasAudioIn
                              && !m_guard.isBroken(*m_writer, MovieWriter::Input::Audio);
    if (audioPending || m_cameraFile.soundPending(endFrame)) {
        // Everything mixed is written, however long that takes a busy writer,
        // as long as it keeps taking sound.
        if (m_audioMixer.cursor() > run->drainedCursor) {
            run->drainedCursor = m_audioMixer.cursor();
            run->deadline = HostClock::seconds() + stopDrainSeconds;
        }
        if (HostClock::seconds() < run->deadline) {
            auto self = shared_from_this();
            m_q->asyncAfter(queueSeconds(drainPollSeconds), [self, run] { self->finishingStep(run); });
            return;
        }
    }
    // What the movie's sound goes without up to its end: counted with the rest.
    if (recordsAudio() && m_hasAudioIn)
        m_soundTail = std::max<int64_t>(0, endFrame - m_audioMixer.cursor());

    m_writer->markAsFinished(MovieWriter::Input::Video);
    if (m_hasAudioIn)
        m_writer->markAsFinished(MovieWriter::Input::Audio);
    m_writer->endSession(end);
    m_cameraFile.finish(end, endFrame, recordsCameraSound());
    auto self = shared_from_this();
    // The movie, then the open camera segment and any earlier one still closing.
    finishOnQueue(*m_writer, [self, run] {
        self->m_cameraFile.notifyCameraFinishes([self, run] { self->resultStep(run); });
    });
}

void RecorderEngine::resultStep(const std::shared_ptr<StopRun>& run)
{
    const FinishedFile movie = FinishedFile::of(*m_writer);
    if (!movie.path()) {
        if (!m_writerFailSent)
            emitLine(Line::saveFailed({EngineLine::reason(movie.error())}));
        m_state = State::idle;
        run->finish(std::nullopt);
        return;
    }
    const QString url = *movie.path();
    m_cameraFile.checkResult(url);
    if (const auto moved = movie.movedLine())
        emitLine(*moved);
    // A camera file that failed keeps the journal, so the next launch names the files.
    if (!m_cameraFile.cameraSaveFailed())
        RecoveryJournal::end();
    tellMissingSound(*run);
    emitLine(Line::audioSync({QString::number(m_audioMixer.discarded()), QString::number(m_audioMixer.overlap()),
                              QString::number(m_audioMixer.resyncs()), QString::number(m_audioMixer.cursor())}));
    emitLine(Line::completed());
    m_state = State::idle;
    run->finish(url);
}

} // namespace corvessa
