#include "toolbar/SourceMenus.h"

#include "model/RecorderModel.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"

namespace corvessa {

namespace {
// Asks for camera or microphone access: already granted, re-read the
// permissions; never asked, ask and re-read when the answer is in (Perm hands
// it to the main thread); refused, open the system's settings for it.
void grant(RecorderModel& m, Permissions::Kind kind, const QString& pane)
{
    Perm& perm = m.perm();
    switch (perm.access(kind)) {
    case Permissions::Access::granted:
        m.refreshPermissions();
        break;
    case Permissions::Access::notDetermined: {
        auto refresh = [&m] { m.refreshPermissions(); };
        if (kind == Permissions::Kind::camera)
            perm.requestCamera(refresh);
        else
            perm.requestMic(refresh);
        break;
    }
    case Permissions::Access::denied:
        perm.openSettings(pane);
        break;
    }
}

// The grant row and its separator, present only without access; it can be
// used only while nothing records.
void addGrant(MenuRows& rows, const QString& title, std::function<void()> action, bool idle)
{
    rows.push_back(MenuRow::item(title, false, idle, false, std::move(action)));
    rows.push_back(MenuRow::separator());
}

// One row per offered device, checked when it is the one in use, or the note
// when none is offered. Devices can be changed only while nothing records.
template <typename Device>
void addDevices(MenuRows& rows, const std::vector<Device>& devices, const QString& none, QString Device::*key,
                QString Device::*title, const std::optional<QString>& current, bool idle,
                std::function<void(const QString&)> use)
{
    if (devices.empty())
        rows.push_back(MenuRow::note(none));
    for (const Device& d : devices)
        rows.push_back(MenuRow::item(d.*title, current == d.*key, idle, false, [use, id = d.*key] { use(id); }));
}
} // namespace

MenuRows SourceMenus::camera(RecorderModel& m)
{
    m.refreshDevices();
    const bool idle = m.isIdle();
    const bool inUse = m.cameraOn() && m.cameraAuthorized();
    MenuRows rows;
    if (!m.cameraAuthorized())
        addGrant(rows, Loc::text(QStringLiteral("Grant Camera Access…")),
                 [&m] { grant(m, Permissions::Kind::camera, QStringLiteral("Privacy_Camera")); }, idle);

    addDevices(rows, m.visibleCameraDevices(), Loc::text(QStringLiteral("No camera found")), &CameraDevice::id,
               &CameraDevice::name, inUse ? m.cameraID() : std::nullopt, idle,
               [&m](const QString& id) { m.useCamera(id); });
    rows.push_back(MenuRow::separator());

    const QString feed = m.cameraPreviewHidden() ? Loc::text(QStringLiteral("Show Camera Feed"))
                                                 : Loc::text(QStringLiteral("Hide Camera Feed"));
    rows.push_back(MenuRow::item(feed, false, inUse, false,
                                  [&m] { m.setCameraPreviewHidden(!m.cameraPreviewHidden()); }));
    rows.push_back(MenuRow::item(Loc::text(QStringLiteral("Full-Screen Camera")), m.cameraFullScreen(),
                                  m.canToggleCameraFullScreen(), false, [&m] { m.toggleCameraFullScreen(); }));
    Prefs& prefs = *m.dependencies().prefs;
    rows.push_back(MenuRow::item(Loc::text(QStringLiteral("Mirror Camera Horizontally")), prefs.cameraMirrored(),
                                  true, false, [&prefs] { prefs.setCameraMirrored(!prefs.cameraMirrored()); }));
    if (idle) {
        // The camera may have gone off while the menu was open.
        rows.push_back(MenuRow::item(Loc::text(QStringLiteral("Don't Record Camera")), false, m.cameraOn(), false,
                                      [&m] {
                                          if (m.cameraOn())
                                              m.tapCamera();
                                      }));
    }
    return rows;
}

MenuRows SourceMenus::microphone(RecorderModel& m)
{
    m.refreshDevices();
    const bool idle = m.isIdle();
    const bool inUse = m.micOn() && m.micAuthorized();
    MenuRows rows;
    if (!m.micAuthorized())
        addGrant(rows, Loc::text(QStringLiteral("Grant Microphone Access…")),
                 [&m] { grant(m, Permissions::Kind::microphone, QStringLiteral("Privacy_Microphone")); }, idle);

    addDevices(rows, m.visibleMicDevices(), Loc::text(QStringLiteral("No microphone found")), &AudioDevice::name,
               &AudioDevice::description, m.micOn() ? m.micID() : std::nullopt, idle,
               [&m](const QString& id) { m.useMic(id); });

    if (inUse) {
        rows.push_back(MenuRow::separator());
        // The setter runs gainChanged() itself.
        rows.push_back(MenuRow::slider(Loc::text(QStringLiteral("Microphone Level")), [&m] { return m.micGainDB(); },
                                        [&m](double dB) { m.setMicGainDB(dB); }));
        rows.push_back(MenuRow::item(Loc::text(QStringLiteral("Temporary Mute")), m.micMuted(), true, false, [&m] {
            m.setMicMuted(!m.micMuted());
            m.gainChanged();
        }));
    }
    rows.push_back(MenuRow::separator());
    const QString toggle = m.micOn() ? Loc::text(QStringLiteral("Turn Off Microphone"))
                                     : Loc::text(QStringLiteral("Unmute Microphone"));
    rows.push_back(MenuRow::item(toggle, false, m.canToggleMicNow(), false, [&m] { m.tapMic(); }));
    return rows;
}

MenuRows SourceMenus::systemAudio(RecorderModel& m)
{
    const RecorderPhase phase = m.phase();
    const bool inUse = m.systemAudio() && m.sysAuthorized();
    MenuRows rows;
    if (!m.sysAuthorized())
        addGrant(rows, Loc::text(QStringLiteral("Grant System Audio Access…")),
                 [&m] { m.perm().requestSystemAudio([&m] { m.refreshPermissions(); }); }, phase.isIdle());

    const QString speakers = m.muteSpeakers() ? Loc::text(QStringLiteral("Unmute Speakers"))
                                              : Loc::text(QStringLiteral("Mute Speakers (Record Only)"));
    rows.push_back(MenuRow::item(speakers, false, true, false, [&m] { m.setMuteSpeakers(!m.muteSpeakers()); }));
    if (inUse) {
        rows.push_back(MenuRow::separator());
        rows.push_back(MenuRow::slider(Loc::text(QStringLiteral("System Audio Level")),
                                        [&m] { return m.sysGainDB(); }, [&m](double dB) { m.setSysGainDB(dB); }));
    }
    rows.push_back(MenuRow::separator());
    const QString toggle = inUse ? Loc::text(QStringLiteral("Stop Recording System Audio"))
                                 : Loc::text(QStringLiteral("Start Recording System Audio"));
    rows.push_back(MenuRow::item(toggle, false, m.canToggleSysNow(), false, [&m] { m.tapSystem(); }));
    if (phase.is(RecorderPhase::Kind::recording) && !m.recSysStarted())
        rows.push_back(MenuRow::note(systemAudioOffNote));
    return rows;
}

} // namespace corvessa
