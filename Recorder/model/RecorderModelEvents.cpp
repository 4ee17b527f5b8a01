// The recorder model's notices: the engine's and the camera's event lines,
// the short-lived hint and the standing hints.
#include "model/RecorderModel.h"

#include "model/CameraControl.h"
#include "prefs/Loc.h"

namespace corvessa {

void RecorderModel::handleEvent(const QString& line)
{
    if (m_deps.log)
        m_deps.log(line);
    const auto setScreenNotice = [this](const std::optional<QString>& text) {
        publish(m_screenNotice, text, Field::screenNotice);
    };
    if (line == QLatin1String("File completed"))
        return;
    if (line.startsWith(QLatin1String("Screen is temporarily unavailable"))) {
        setScreenNotice(Loc::text(QStringLiteral("The screen is unavailable. The image will freeze, and recording will "
                                                 "resume automatically when it's back.")));
        return;
    }
    if (line.startsWith(QLatin1String("Screen restored"))) {
        setScreenNotice(std::nullopt);
        return;
    }
    for (const char* part : {"write error", "skipping", "will not be recorded", "could not be enabled"}) {
        if (line.contains(QLatin1String(part))) {
            setScreenNotice(Loc::reverse(line));
            return;
        }
    }
    if (line.contains(QLatin1String("of sound arrived too late"))) {
        setScreenNotice(Loc::reverse(line));
        return;
    }
    if (line.startsWith(QLatin1String("Insufficient disk space"))) {
        setScreenNotice(Loc::reverse(line));
        stop();
        return;
    }
    if (line.startsWith(QLatin1String("Audio mix unavailable:"))) {
        setScreenNotice(Loc::text(QStringLiteral(
            "Audio could not be combined. Your original recording is saved with separate audio tracks.")));
        return;
    }
    if (line.startsWith(QLatin1String("Microphone switched"))) {
        setScreenNotice(std::nullopt);
        return;
    }
    if (line.startsWith(QLatin1String("Camera Disconnected"))) {
        cameraDisconnected();
        return;
    }
    if (line.startsWith(QLatin1String("Camera"))) {
        setCameraNotice(Loc::reverse(line));
        return;
    }
    // Only a save under way can fail: a late line must not undo a saved movie.
    // A writer that fails during the recording stops the engine by itself; the
    // model then stops too and reports that reason.
    if (line.contains(QLatin1String("Save failed"))) {
        if (m_phase.is(Phase::Kind::finishing)) {
            setPhase(Phase::failed(Loc::reverse(line)));
        } else if (m_phase.isLive()) {
            m_saveFailure = Loc::reverse(line);
            stop();
        }
    }
}

void RecorderModel::cameraDisconnected()
{
    if (!m_cameraOn)
        return;
    exitCameraFullScreen();
    setCameraLost(true);
    publish(m_cameraReady, false, Field::cameraReady);
    publish(m_cameraCapabilities, std::optional<CameraVideoCapabilities>(), Field::cameraCapabilities);
    m_deps.camera->stop();
    publish(m_cameraLive, false, Field::cameraLive);
    setCameraOn(false);
    setCameraNotice(std::nullopt);
}

void RecorderModel::flash(const QString& text)
{
    publish(m_hint, std::optional<QString>(text), Field::hint);
    m_hintClear = m_scheduler.after(hintSeconds, guarded([this, text] {
        if (m_hint == text)
            publish(m_hint, std::optional<QString>(), Field::hint);
    }));
}

std::vector<Hint> RecorderModel::hints() const
{
    std::vector<Hint> list;
    if (echoRisk()) {
        list.push_back({QStringLiteral("headphones"),
                        Loc::text(QStringLiteral("Speakers are on; microphone will pick up echo. Please wear headphones."))});
    }
    if (micNoSignal())
        list.push_back({QStringLiteral("mic.slash"), Loc::text(QStringLiteral("No microphone signal. Check if it's connected."))});
    return list;
}

bool RecorderModel::echoRisk() const
{
    if (!m_systemAudio || m_muteSpeakers)
        return false;
    bool byPhase = false;
    if (m_phase.is(Phase::Kind::ready))
        byPhase = m_sysAuthorized && m_micOn && m_micAuthorized && !m_micMuted;
    else if (m_phase.is(Phase::Kind::recording))
        byPhase = m_recSysStarted && m_recMicStarted && m_micOn && !m_micMuted;
    return byPhase && (!m_deps.isBuiltInSpeaker || m_deps.isBuiltInSpeaker());
}

bool RecorderModel::micNoSignal() const
{
    bool byPhase = false;
    if (m_phase.is(Phase::Kind::ready))
        byPhase = m_micOn && m_micAuthorized && !m_micMuted;
    else if (m_phase.is(Phase::Kind::recording))
        byPhase = m_recMicStarted && m_micOn && !m_micMuted;
    return byPhase && m_meters->micSilentSeconds() >= silentMicHintSeconds;
}

} // namespace corvessa
