// The recorder model's permission state, read afresh every 10 s.
#include "model/RecorderModel.h"

namespace corvessa {

void RecorderModel::readPermissions()
{
    m_micAuthorized = m_perm.granted(Permissions::Kind::microphone);
    m_screenAuthorized = m_perm.granted(Permissions::Kind::screen);
    m_sysAuthorized = systemAudioUsable();
    m_cameraAuthorized = m_perm.granted(Permissions::Kind::camera);
}

void RecorderModel::askAccess(Permissions::Kind kind, const QString& pane, std::function<void()> then)
{
    switch (m_perm.access(kind)) {
    case Permissions::Access::granted:
        then();
        break;
    case Permissions::Access::notDetermined:
        // Asked once; whatever the answer, the state is read afresh afterwards.
        if (kind == Permissions::Kind::camera)
            m_perm.requestCamera(guarded(std::move(then)));
        else
            m_perm.requestMic(guarded(std::move(then)));
        break;
    case Permissions::Access::denied:
        // Never asked again silently: the settings open instead.
        m_perm.openSettings(pane);
        break;
    }
}

void RecorderModel::refreshPermissions()
{
    refreshDevices(); // 1

    // 2. The system's camera effects (none on Linux), only while the camera is on.
    const QStringList effects = m_cameraOn && m_cameraAuthorized ? currentEffects() : QStringList();
    publish(m_cameraEffects, effects, Field::cameraEffects);

    const bool screen = m_perm.granted(Permissions::Kind::screen); // 3

    const bool mic = m_perm.granted(Permissions::Kind::microphone); // 4
    if (mic != m_micAuthorized) {
        publish(m_micAuthorized, mic, Field::micAuthorized);
        if (mic && m_micObservation)
            observeMicrophones();
        if (m_phase.is(Phase::Kind::ready))
            startMonitor();
    }

    if (screen != m_screenAuthorized) { // 5
        publish(m_screenAuthorized, screen, Field::screenAuthorized);
        refreshScreenCapabilities(true);
        // Once per run, learn whether system audio can be captured; the check
        // itself does nothing when it ran already or is under way.
        if (screen && m_deps.verifySystemAudio)
            m_deps.verifySystemAudio([again = guarded([this] { refreshPermissions(); })](bool) { again(); });
    }

    const bool camera = m_perm.granted(Permissions::Kind::camera); // 6
    if (camera != m_cameraAuthorized) {
        publish(m_cameraAuthorized, camera, Field::cameraAuthorized);
        syncCamera();
    }

    const bool sys = systemAudioUsable(); // 7
    if (sys != m_sysAuthorized) {
        publish(m_sysAuthorized, sys, Field::sysAuthorized);
        if (m_phase.is(Phase::Kind::ready))
            startSysMonitor();
    }
}

} // namespace corvessa
