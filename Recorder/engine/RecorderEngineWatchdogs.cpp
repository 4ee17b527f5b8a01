// RecorderEngine: the heartbeat and the watchdogs: a silent microphone, a filling disk, a
// failed writer, the display kept awake, and the feeds cut off.

#include "engine/RecorderEngine.h"

#include "capture/SystemAudioTap.h"
#include "engine/CameraFeed.h"
#include "engine/compositor/CursorCompositor.h"
#include "engine/compositor/MouseTrack.h"
#include "platform/PowerControl.h"
#include "platform/core/HostClock.h"
#include "platform/core/RecorderLog.h"
#include "prefs/Loc.h"

#include <QFileInfo>

#include <algorithm>

namespace corvessa {

void RecorderEngine::onHeartbeat()
{
    checkWriter();
    const MediaTime now = HostClock::now();
    drainVideoSync(false, now);
    const double interval = std::max(1.0 / std::max(1, m_config ? m_config->fps : 30), heartbeatMinInterval);
    const bool needsFrames =
        m_frameDemand.needsFrames(m_cursor.get(), m_config ? &*m_config : nullptr, m_mouseTrack.get(), HostClock::seconds());
    heartbeat(needsFrames ? 0.9 * interval : 0.9);
    drainAudio(false);
    writeOutPause();
    checkMicAlive();
    checkDiskSpace();
}

void RecorderEngine::checkMicAlive()
{
    if (m_state != State::recording || !m_hasAudioIn || !m_scConfig.captureMicrophone || m_restartingStream
        || m_microphoneConfigurationsInFlight != 0 || !m_stream.stream || m_micDeadNotified)
        return;
    const double silence = HostClock::seconds() - std::max(m_lastMicBufferAt, m_micWatchSince);
    if (silence > micSilenceSeconds) {
        m_micDeadNotified = m_micDeadSinceBuffer = true;
        m_audioMixer.stop(AudioTimelineMixer::Source::microphone);
        m_cameraFile.microphoneStopped();
        emitLine(Line::micDead());
    }
}

void RecorderEngine::checkDiskSpace()
{
    if (m_state != State::recording || m_diskStopSent || !m_config)
        return;
    const double now = HostClock::seconds();
    if (now - m_lastDiskCheck < diskCheckEvery)
        return;
    m_lastDiskCheck = now;
    const QString folder = QFileInfo(m_config->outputURL).absolutePath();
    const std::optional<uint64_t> free = m_services.freeSpace ? m_services.freeSpace(folder) : std::nullopt;
    if (!free)
        return;
    // A writer that has failed already is reported as a failed save, never as saved.
    if (*free < lowDiskBytes && m_writer && m_writer->status() == MovieWriter::Status::Writing) {
        m_diskStopSent = true;
        emitLine(Line::lowDisk({QString::number(*free / 1048576)}));
    }
}

void RecorderEngine::checkWriter()
{
    if ((m_state != State::recording && m_state != State::paused) || m_writerFailSent || !m_writer
        || m_writer->status() != MovieWriter::Status::Failed)
        return;
    m_writerFailSent = true;
    emitLine(Line::saveFailed({EngineLine::reason(m_writer->error())}));
    stopFromQueue();
}

void RecorderEngine::holdAwake()
{
    if (m_awakeHeld)
        return;
    m_awakeHeld = true;
    // The session bus may be slow; the hold is taken and given back in order on
    // the control queue.
    const QString reason = Loc::text(QStringLiteral("Recorder is recording"));
    std::weak_ptr<RecorderEngine> weak = weak_from_this();
    m_control->async([weak, reason] {
        auto self = weak.lock();
        if (!self || self->m_awakeID)
            return;
        if (!self->m_power)
            self->m_power = PowerControl::create([](const QString& line) { RecorderLog::write(line); });
        self->m_awakeID = self->m_power->holdDisplayAwake(reason);
    });
}

std::unique_ptr<SystemAudioTap> RecorderEngine::detachFeeds()
{
    if (m_heartbeatTimer)
        m_heartbeatTimer->cancel();
    m_heartbeatTimer.reset();
    if (m_mouseTrack)
        m_mouseTrack->stop();
    if (m_cursor && m_config && m_config->lensPreview)
        m_config->lensPreview(std::nullopt);
    releaseAwake();
    if (m_camera)
        m_camera->setOnSample({});
    m_camera.reset();
    return std::move(m_tap);
}

void RecorderEngine::releaseAwake()
{
    if (!m_awakeHeld)
        return;
    m_awakeHeld = false;
    std::weak_ptr<RecorderEngine> weak = weak_from_this();
    m_control->async([weak] {
        auto self = weak.lock();
        if (!self || !self->m_awakeID)
            return;
        if (self->m_power)
            self->m_power->release(self->m_awakeID);
        self->m_awakeID = 0;
    });
}

} // namespace corvessa
