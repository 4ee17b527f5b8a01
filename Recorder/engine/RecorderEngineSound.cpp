// RecorderEngine: the sound path: the microphone's and the system audio's buffers into the mix,
// the sound before the first frame, the gaps of a source, and the mix drained
// into the movie within the writer's backlog bound, with what that skips counted.

#include "engine/RecorderEngine.h"

#include "capture/AudioLevel.h"
#include "engine/CameraFeed.h"
#include "engine/EngineDurations.h"
#include "platform/core/HostClock.h"

namespace corvessa {

void RecorderEngine::onMicrophoneSample(uint64_t token, const SampleBuffer& given)
{
    // The microphone starts before the stream is in place; what it hears meanwhile counts.
    const bool starting = !m_stream.stream && token == m_startingToken && takesEarlySound();
    if (!starting && (!m_stream.stream || token != m_stream.token))
        return;
    SampleBuffer buffer = given;
    if (!m_loggedMicFormat && buffer.audioFormat()) {
        m_loggedMicFormat = true;
        const AudioFormat& f = *buffer.audioFormat();
        emitLine(Line::micFormat({QString::number(int64_t(f.sampleRate)), QString::number(f.channelsPerFrame),
                                  QString::number(f.bitsPerChannel), QString::number(f.formatFlags, 16),
                                  QString::number(f.bytesPerFrame)}));
    }
    m_lastMicBufferAt = HostClock::seconds();
    m_micDeadNotified = m_micDeadSinceBuffer = false;
    noteGap(m_micGap, buffer, Line::micGap);
    if (auto stats = AudioLevel::process(buffer, gains.mic()); stats && onMicLevel)
        onMicLevel(*stats);
    const std::vector<SampleBuffer> converted = m_micNormalizer.convert(buffer);
    if (converted.empty())
        return;
    for (const SampleBuffer& c : converted) {
        if (m_hasAudioIn && (m_sessionStarted ? m_state == State::recording || m_state == State::paused
                                              : takesEarlySound())) {
            m_receivedMicrophone = true;
            placeSound(AudioTimelineMixer::Source::microphone, c);
        }
        handleCameraAudio(c);
    }
    drainAudio(false);
}

void RecorderEngine::onSystemAudio(SampleBuffer buffer)
{
    auto stats = AudioLevel::process(buffer, gains.sys());
    if (!stats)
        return;
    if (onSysLevel)
        onSysLevel(*stats);
    if (m_sessionStarted ? m_state != State::recording && m_state != State::paused : !takesEarlySound())
        return;
    noteGap(m_systemGap, buffer, Line::systemGap);
    for (const SampleBuffer& c : m_systemNormalizer.convert(buffer))
        placeSound(AudioTimelineMixer::Source::system, c);
    drainAudio(false);
}

void RecorderEngine::noteGap(SourceGap& gap, const SampleBuffer& buffer, const EngineLine& line)
{
    if (!m_sessionStarted || (m_state != State::recording && m_state != State::paused))
        return;
    if (const auto missing = gap.arrived(buffer.presentationTime(), buffer.duration(), m_timeline))
        emitLine(line({secondsText(*missing)}));
}

bool RecorderEngine::takesEarlySound() const
{
    // From the start of the sources until the first frame.
    return !m_sessionStarted && (m_startPending || m_state == State::recording);
}

void RecorderEngine::placeSound(AudioTimelineMixer::Source source, const SampleBuffer& buffer)
{
    if (m_sessionStarted) {
        m_audioMixer.place(buffer, source, m_timeline);
        return;
    }
    // No timeline yet: kept, the oldest going first once there is too much.
    m_earlySound.keep(source, buffer);
}

bool RecorderEngine::recordsAudio() const
{
    return m_config.has_value(); // silence where no source delivered: every player opens the movie
}

bool RecorderEngine::recordsCameraSound() const
{
    return m_config.has_value(); // the microphone alone, silence where it gave nothing
}

void RecorderEngine::drainAudio(bool final)
{
    if (!m_sessionStarted || !m_config)
        return;
    const MediaTime end = final ? m_lastAdjusted + m_frameInterval
                                : m_timeline.boundary(HostClock::now() - MediaTime::fromSeconds(audioLagSeconds));
    const int64_t target = AudioTimelineMixer::outputFrame(end, m_firstPTS);
    // Mixed 0.35 s behind real time, or later while a source is late under load.
    const int64_t frames = final ? target : m_audioMixer.due(target);

    if (recordsAudio()) {
        if (m_writer && m_hasAudioIn && m_writer->status() == MovieWriter::Status::Writing)
            m_soundSkipped +=
                m_guard.appendSound(*m_writer, m_audioMixer, frames, m_firstPTS, final, QStringLiteral("Mixed audio"));
    } else if (m_audioMixer.cursor() < frames) {
        m_audioMixer.commit(frames - m_audioMixer.cursor());
    }
    // The camera file's sound: the microphone alone.
    m_cameraFile.drainSound(target, m_firstPTS, final, recordsCameraSound());
}

} // namespace corvessa
