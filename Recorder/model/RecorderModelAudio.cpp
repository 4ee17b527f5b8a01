// The recorder model's audio sources: switches, microphone choice, gains and
// the idle level meters.
#include "model/RecorderModel.h"

#include "capture/AudioCapturePermission.h"
#include "capture/MicMonitor.h"
#include "model/EngineControl.h"
#include "model/GainMap.h"
#include "model/IdleMonitors.h"
#include "platform/AudioInput.h"
#include "platform/core/UserDefaults.h"

#include <algorithm>
#include <utility>

namespace corvessa {

namespace {

const QString kMicGainKey = QStringLiteral("micGainDB2");
const QString kSysGainKey = QStringLiteral("sysGainDB2");

} // namespace

void RecorderModel::readAudioState()
{
    const UserDefaults& d = *m_deps.defaults;
    m_micGainDB = GainMap::sanitize(d.doubleValue(kMicGainKey).value_or(defaultMicGainDB), defaultMicGainDB);
    m_sysGainDB = GainMap::sanitize(d.doubleValue(kSysGainKey).value_or(defaultSysGainDB), defaultSysGainDB);
    m_systemAudio = d.boolValue(QStringLiteral("systemAudio")).value_or(false);
    m_micOn = d.boolValue(QStringLiteral("micOn")).value_or(false);
    m_muteSpeakers = d.boolValue(QStringLiteral("muteSpeakers")).value_or(true);
}

// The microphones and the default one; the choice is not stored.
void RecorderModel::readMicrophones()
{
    m_micDevices = MicMonitor::devices(m_deps.audio);
    m_micID = defaultMicID();
}

void RecorderModel::setMicDevices(const std::vector<AudioDevice>& devices)
{
    publish(m_micDevices, devices, Field::micDevices);
}

void RecorderModel::setMicOn(bool on)
{
    publish(m_micOn, on, Field::micOn);
    m_deps.defaults->setBool(QStringLiteral("micOn"), on);
}

void RecorderModel::setSystemAudio(bool on)
{
    publish(m_systemAudio, on, Field::systemAudio);
    m_deps.defaults->setBool(QStringLiteral("systemAudio"), on);
}

void RecorderModel::setMuteSpeakers(bool on)
{
    publish(m_muteSpeakers, on, Field::muteSpeakers);
    m_deps.defaults->setBool(QStringLiteral("muteSpeakers"), on);
    muteChanged();
}

void RecorderModel::setMicMuted(bool muted)
{
    publish(m_micMuted, muted, Field::micMuted);
}

void RecorderModel::setMicGainDB(double dB)
{
    publish(m_micGainDB, GainMap::sanitize(dB, defaultMicGainDB), Field::micGainDB);
    gainChanged();
}

void RecorderModel::setSysGainDB(double dB)
{
    publish(m_sysGainDB, GainMap::sanitize(dB, defaultSysGainDB), Field::sysGainDB);
    gainChanged();
}

void RecorderModel::setRecordingSources(bool mic, bool sys)
{
    publish(m_recMicStarted, mic, Field::recMicStarted);
    publish(m_recSysStarted, sys, Field::recSysStarted);
}

void RecorderModel::setShowMixer(bool show)
{
    publish(m_showMixer, show, Field::showMixer);
    updateMeterRate();
}

std::vector<AudioDevice> RecorderModel::visibleMicDevices() const
{
    if (m_phase.isIdle())
        return m_micDevices;
    std::vector<AudioDevice> chosen;
    std::copy_if(m_micDevices.begin(), m_micDevices.end(), std::back_inserter(chosen),
                 [&](const AudioDevice& d) { return m_micID && d.name == *m_micID; });
    return chosen;
}

bool RecorderModel::canToggleMicNow() const
{
    if (m_phase.isLive())
        return m_recMicStarted && m_micAuthorized;
    return m_phase.isIdle();
}

bool RecorderModel::canToggleSysNow() const
{
    if (m_phase.isLive())
        return m_recSysStarted;
    return m_phase.isIdle();
}

void RecorderModel::tapMic()
{
    if (m_phase.isLive()) {
        // The microphone keeps being captured; only its factor changes.
        if (canToggleMicNow()) {
            setMicOn(!m_micOn);
            gainChanged();
        }
        return;
    }
    if (!m_phase.isIdle())
        return;
    if (m_micAuthorized) {
        setMicOn(!m_micOn);
        startMonitor();
        return;
    }
    setMicOn(true);
    askAccess(Permissions::Kind::microphone, QStringLiteral("Privacy_Microphone"), [this] { refreshPermissions(); });
}

void RecorderModel::tapSystem()
{
    if (m_phase.isLive()) {
        if (m_recSysStarted) {
            setSystemAudio(!m_systemAudio);
            gainChanged();
            muteChanged();
        }
        return;
    }
    if (!m_phase.isIdle())
        return;
    if (m_sysAuthorized) {
        setSystemAudio(!m_systemAudio);
        startSysMonitor();
        return;
    }
    setSystemAudio(true);
    m_perm.requestSystemAudio(guarded([this] { refreshPermissions(); }));
}

void RecorderModel::useMic(const QString& id)
{
    if (!m_phase.isIdle())
        return;
    if (m_micAuthorized) {
        selectMic(id);
        if (!m_micOn)
            tapMic();
        return;
    }
    setMicID(id);
    m_preferredMicID = id;
    setMicOn(true);
    askAccess(Permissions::Kind::microphone, QStringLiteral("Privacy_Microphone"), [this] {
        refreshPermissions();
        if (m_phase.isIdle())
            startMonitor();
    });
}

void RecorderModel::selectMic(const QString& id)
{
    if (!m_phase.isIdle())
        return;
    setMicID(id);
    m_preferredMicID = id;
    startMonitor();
}

void RecorderModel::setMicID(const std::optional<QString>& id)
{
    publish(m_micID, id, Field::micID);
}

std::optional<QString> RecorderModel::defaultMicID() const
{
    for (const AudioDevice& d : m_micDevices) {
        if (d.isDefault)
            return d.name;
    }
    if (!m_micDevices.empty())
        return m_micDevices.front().name;
    return std::nullopt;
}

bool RecorderModel::micListed(const std::optional<QString>& id) const
{
    return id && std::any_of(m_micDevices.begin(), m_micDevices.end(), [&](const AudioDevice& d) { return d.name == *id; });
}

void RecorderModel::startMonitor()
{
    if (m_phase.isLive())
        return;
    // With neither the bar nor the audio pane showing, nothing is metered.
    m_deps.monitors->stopMic();
    if (!m_barVisible && !m_audioPaneOpen) {
        startSysMonitor();
        return;
    }
    if (m_micOn && m_micAuthorized) {
        m_deps.monitors->startMic(
            m_micID, [this](const LevelStats& s) { pushMic(s); },
            [this](const std::optional<QString>& problem) {
                later([this, problem] { publish(m_micProblem, problem, Field::micProblem); });
            });
    } else {
        setMicSilent();
        publish(m_micProblem, std::optional<QString>(), Field::micProblem);
    }
    startSysMonitor();
}

void RecorderModel::startSysMonitor()
{
    if (m_phase.isLive())
        return;
    m_deps.monitors->stopSys();
    flushThrottles();
    if (!m_barVisible && !m_audioPaneOpen)
        return;
    if (m_systemAudio && m_sysAuthorized) {
        m_deps.monitors->startSys(
            false, [this](const LevelStats& s) { pushSys(s); },
            [this](const std::optional<QString>& problem) {
                later([this, problem] { publish(m_sysProblem, problem, Field::sysProblem); });
            });
    } else {
        setSysSilent();
        publish(m_sysProblem, std::optional<QString>(), Field::sysProblem);
    }
}

void RecorderModel::setMicSilent()
{
    m_micThrottle.takePending();
    m_meters->setMic(ChannelMeter());
}

void RecorderModel::setSysSilent()
{
    m_sysThrottle.takePending();
    m_meters->setSys(ChannelMeter());
}

void RecorderModel::muteChanged()
{
    if (m_phase.isLive())
        m_deps.engine->setMuteSpeakers(m_muteSpeakers);
}

void RecorderModel::gainChanged()
{
    m_deps.defaults->setDouble(kMicGainKey, m_micGainDB);
    m_deps.defaults->setDouble(kSysGainKey, m_sysGainDB);
    const bool live = m_phase.isLive();
    const bool micSilenced = m_micMuted || (live && !m_micOn);
    const bool sysSilenced = live && !m_systemAudio;
    const float mic = micSilenced ? 0.0f : GainMap::factor(m_micGainDB);
    const float sys = sysSilenced ? 0.0f : GainMap::factor(m_sysGainDB);
    m_deps.engine->setGains(mic, sys);
    m_deps.monitors->setMicGain(mic);
    m_deps.monitors->setSysGain(sys);
}

void RecorderModel::updateMeterRate()
{
    const double interval = !m_phase.isLive() ? idleMeterInterval
                            : m_showMixer     ? mixerMeterInterval
                                              : recordingMeterInterval;
    m_micThrottle.setInterval(interval);
    m_sysThrottle.setInterval(interval);
}

void RecorderModel::pushMic(const LevelStats& stats)
{
    push(m_micThrottle, stats, true);
}

void RecorderModel::pushSys(const LevelStats& stats)
{
    push(m_sysThrottle, stats, false);
}

// Any thread: the throttle has its own lock, and the meters are reached on the
// main thread only.
void RecorderModel::push(LevelThrottle& throttle, const LevelStats& stats, bool mic)
{
    const auto merged = throttle.offer(stats, m_scheduler.now());
    if (!merged)
        return;
    m_scheduler.post(guarded([this, value = *merged, mic] {
        if (mic)
            m_meters->pushed(value, std::nullopt);
        else
            m_meters->pushed(std::nullopt, value);
    }));
}

void RecorderModel::flushThrottles()
{
    const auto mic = m_micThrottle.takePending();
    const auto sys = m_sysThrottle.takePending();
    if (mic || sys)
        m_meters->pushed(mic, sys);
}

bool RecorderModel::systemAudioUsable() const
{
    if (!m_screenAuthorized)
        return false;
    std::lock_guard lock(AudioCapturePermission::verificationLock());
    return AudioCapturePermission::verifiedThisSessionLocked()
        || m_deps.defaults->integer(QString::fromLatin1(AudioCapturePermission::defaultsKey)).value_or(0) != 2;
}

} // namespace corvessa
