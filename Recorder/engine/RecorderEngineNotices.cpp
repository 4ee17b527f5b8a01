// RecorderEngine: what the engine tells its owner: event lines, the pause tier, and at the stop
// the sound the files lack.

#include "engine/RecorderEngine.h"

#include "engine/CameraFeed.h"
#include "engine/EngineDurations.h"
#include "engine/RecorderEngineStopRun.h"

#include <QFileInfo>

namespace corvessa {

void RecorderEngine::emitLine(const QString& line)
{
    if (onEvent)
        onEvent(line);
}

void RecorderEngine::setTier(std::optional<PauseTier> tier)
{
    if (tier)
        m_tier = *tier;
    if (onPauseTierChange)
        onPauseTierChange(tier);
}

void RecorderEngine::tellMissingSound(const StopRun& run)
{
    // Every second of sound the movie lacks is told, whatever the reason.
    const int64_t missing = m_audioMixer.dropped() + m_soundSkipped + m_soundTail;
    if (missing >= droppedSoundNotice) {
        const QString lost = secondsText(double(missing) / AudioNormalizer::outputRate);
        emitLine(missing == m_audioMixer.dropped() ? Line::soundDropped({lost}) : Line::soundMissing({lost}));
    }
    // So is what a camera file lacks, by the file's name.
    const std::vector<QString>& files = m_cameraFile.cameraFileURLs();
    const std::vector<int64_t>& lacking = m_cameraFile.missingSound();
    for (size_t i = 0; i < files.size() && i < lacking.size(); ++i) {
        if (lacking[i] >= droppedSoundNotice)
            emitLine(Line::cameraSoundMissing(
                {secondsText(double(lacking[i]) / AudioNormalizer::outputRate), QFileInfo(files[i]).fileName()}));
    }
    // A source gone before the end and not back: its gap up to where the
    // sources were cut off, or the movie's end if that came first. A microphone
    // the "no data" line or a failed rebuild already left out was told then.
    const MediaTime end = MediaTime::min(run.capturedUntil, m_lastAdjusted + m_frameInterval + m_offset);
    if (m_receivedMicrophone && m_scConfig.captureMicrophone && !m_micDeadSinceBuffer)
        if (const auto gone = m_micGap.stillMissing(end, m_timeline))
            emitLine(Line::micGap({secondsText(*gone)}));
    if (m_config && m_config->systemAudio)
        if (const auto gone = m_systemGap.stillMissing(end, m_timeline))
            emitLine(Line::systemGap({secondsText(*gone)}));
}

} // namespace corvessa
