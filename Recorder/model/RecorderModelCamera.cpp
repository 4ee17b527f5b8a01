// The recorder model's camera: the switch, the choice, the preview session,
// the full-screen camera and the device lists.
#include "model/RecorderModel.h"

#include "capture/CameraOverlayState.h"
#include "capture/MicMonitor.h"
#include "model/CameraControl.h"
#include "model/ToolsFacade.h"
#include "platform/core/UserDefaults.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"

#include <algorithm>

namespace corvessa {

namespace {

template <typename Device, typename Id>
QStringList idsOf(const std::vector<Device>& devices, Id id)
{
    QStringList ids;
    for (const Device& d : devices)
        ids << id(d);
    return ids;
}

QStringList micIds(const std::vector<AudioDevice>& devices)
{
    return idsOf(devices, [](const AudioDevice& d) { return d.name; });
}

QStringList cameraIds(const std::vector<CameraDevice>& devices)
{
    return idsOf(devices, [](const CameraDevice& d) { return d.id; });
}

} // namespace

void RecorderModel::readCameraState()
{
    const UserDefaults& d = *m_deps.defaults;
    m_cameraOn = d.boolValue(QStringLiteral("cameraOn")).value_or(false);
    m_cameraID = d.string(QStringLiteral("cameraID"));
    m_cameraPreviewHidden = d.boolValue(QStringLiteral("cameraPreviewHidden")).value_or(false);
}

void RecorderModel::stopCamera()
{
    m_deps.camera->stop();
    publish(m_cameraLive, false, Field::cameraLive);
}

void RecorderModel::setCameraOn(bool on)
{
    publish(m_cameraOn, on, Field::cameraOn);
    m_deps.defaults->setBool(QStringLiteral("cameraOn"), on);
    if (!on)
        exitCameraFullScreen();
}

void RecorderModel::setCameraPreviewHidden(bool hidden)
{
    publish(m_cameraPreviewHidden, hidden, Field::cameraPreviewHidden);
    m_deps.defaults->setBool(QStringLiteral("cameraPreviewHidden"), hidden);
    if (hidden)
        exitCameraFullScreen();
    refreshCameraPower();
}

void RecorderModel::setCameraFullScreen(bool on)
{
    publish(m_cameraFullScreen, on, Field::cameraFullScreen);
    m_deps.camera->overlay()->setFullScreen(on);
    noteMode(ToolMode::cameraFullScreen, on);
}

// A line saying the camera went away: it is switched off, and says why.
void RecorderModel::cameraDisconnected()
{
    if (!m_cameraOn)
        return;
    exitCameraFullScreen();
    setCameraLost(true);
    publish(m_cameraReady, false, Field::cameraReady);
    publish(m_cameraCapabilities, std::optional<CameraVideoCapabilities>(), Field::cameraCapabilities);
    stopCamera();
    setCameraOn(false);
    setCameraNotice(std::nullopt);
}

void RecorderModel::setCameraLost(bool lost)
{
    publish(m_cameraLost, lost, Field::cameraLost);
}

void RecorderModel::setCameraNotice(const std::optional<QString>& notice)
{
    publish(m_cameraNotice, notice, Field::cameraNotice);
}

void RecorderModel::storeCameraID()
{
    if (m_cameraID)
        m_deps.defaults->setString(QStringLiteral("cameraID"), *m_cameraID);
}

std::vector<CameraDevice> RecorderModel::visibleCameraDevices() const
{
    if (m_phase.isIdle())
        return m_cameraDevices;
    std::vector<CameraDevice> chosen;
    std::copy_if(m_cameraDevices.begin(), m_cameraDevices.end(), std::back_inserter(chosen),
                 [&](const CameraDevice& d) { return m_cameraID && d.id == *m_cameraID; });
    return chosen;
}

QString RecorderModel::cameraName(const QString& id) const
{
    for (const CameraDevice& d : m_cameraDevices) {
        if (d.id == id)
            return d.name;
    }
    return id;
}

void RecorderModel::tapCamera()
{
    if (!m_phase.isIdle()) {
        // During a recording the button only shows or hides the preview.
        if (m_cameraOn && m_cameraAuthorized)
            setCameraPreviewHidden(!m_cameraPreviewHidden);
        return;
    }
    setCameraLost(false);
    if (m_cameraAuthorized) {
        setCameraOn(!m_cameraOn);
        syncCamera();
        return;
    }
    setCameraOn(true);
    askAccess(Permissions::Kind::camera, QStringLiteral("Privacy_Camera"), [this] { refreshPermissions(); });
}

void RecorderModel::useCamera(const QString& id)
{
    if (!m_phase.isIdle())
        return;
    setCameraLost(false);
    if (m_deps.log) {
        m_deps.log(QStringLiteral("Camera selected: ") + cameraName(id) + QStringLiteral(" (")
                   + Loc::text(QStringLiteral("Standby")) + QLatin1Char(')'));
    }
    if (m_cameraAuthorized) {
        selectCamera(id);
        if (!m_cameraOn)
            tapCamera();
        return;
    }
    publish(m_cameraID, std::optional<QString>(id), Field::cameraID);
    storeCameraID();
    setCameraOn(true);
    askAccess(Permissions::Kind::camera, QStringLiteral("Privacy_Camera"), [this] { refreshPermissions(); });
}

void RecorderModel::selectCamera(const QString& id)
{
    if (!m_phase.isIdle())
        return;
    if (m_cameraID != id) {
        publish(m_cameraReady, false, Field::cameraReady);
        publish(m_cameraCapabilities, std::optional<CameraVideoCapabilities>(), Field::cameraCapabilities);
    }
    publish(m_cameraID, std::optional<QString>(id), Field::cameraID);
    storeCameraID();
    syncCamera();
}

bool RecorderModel::cameraShouldRun() const
{
    return m_cameraOn && m_cameraAuthorized && m_cameraID
        && std::any_of(m_cameraDevices.begin(), m_cameraDevices.end(),
                       [&](const CameraDevice& d) { return d.id == *m_cameraID; });
}

void RecorderModel::syncCamera()
{
    if (!m_phase.is(Phase::Kind::ready))
        return;
    if (m_barVisible && cameraShouldRun()) {
        CameraControl& camera = *m_deps.camera;
        if (camera.session() && camera.deviceID() == *m_cameraID && camera.isPreviewQuality())
            publish(m_cameraLive, true, Field::cameraLive);
        else
            startCamera(*m_cameraID, false);
        return;
    }
    stopCamera();
    publish(m_cameraReady, false, Field::cameraReady);
    publish(m_cameraCapabilities, std::optional<CameraVideoCapabilities>(), Field::cameraCapabilities);
}

// A camera that recorded in full quality goes back to preview quality once the
// recording is over, rather than running at full quality until the next ready.
void RecorderModel::cameraBackToPreview()
{
    CameraControl& camera = *m_deps.camera;
    if (!camera.session() || camera.isPreviewQuality())
        return;
    if (cameraShouldRun() && m_barVisible)
        startCamera(*m_cameraID, false);
    else
        stopCamera();
}

void RecorderModel::startCamera(const QString& id, bool full)
{
    publish(m_cameraReady, false, Field::cameraReady);
    m_deps.camera->stop();
    const Prefs& prefs = *m_deps.prefs;
    const int resolution = prefs.cameraRes();
    const int fps = prefs.cameraFPS();
    const QString name = cameraName(id);
    const bool listed = std::any_of(m_cameraDevices.begin(), m_cameraDevices.end(),
                                    [&](const CameraDevice& d) { return d.id == id; });
    const auto error = listed ? m_deps.camera->start(id, resolution, fps, !full,
                                                     VideoDimensions::fromId(prefs.cameraSizeID()), prefs.cameraFrameRate())
                              : std::optional<QString>(Loc::text(QStringLiteral("The camera is not connected.")));
    if (error) {
        publish(m_cameraLive, false, Field::cameraLive);
        setCameraNotice(QStringLiteral("Camera unavailable: ") + *error);
        if (m_deps.log)
            m_deps.log(QStringLiteral("Camera startup failed: ") + name + QLatin1Char(':') + *error);
    } else {
        publish(m_cameraLive, true, Field::cameraLive);
        setCameraNotice(std::nullopt);
        if (m_deps.log) {
            m_deps.log(QStringLiteral("Camera started: %1(%2p/%3fps%4)")
                           .arg(name)
                           .arg(resolution)
                           .arg(fps)
                           .arg(Loc::text(full ? QStringLiteral(", recording mode") : QStringLiteral(", preview mode"))));
        }
    }
    refreshCameraPower();
}

void RecorderModel::cameraConnected(const QString& deviceID, const void* start,
                                    const CameraVideoCapabilities& capabilities)
{
    // Only the start in force, of the camera chosen now, while it is wanted.
    if (m_deps.camera->session() != start || !m_cameraID || *m_cameraID != deviceID || !m_cameraOn
        || !m_cameraAuthorized)
        return;
    publish(m_cameraCapabilities, std::optional<CameraVideoCapabilities>(capabilities), Field::cameraCapabilities);
    publish(m_cameraReady, true, Field::cameraReady);
    if (m_phase.isIdle())
        restoreCameraChoice();
}

void RecorderModel::refreshCameraPower()
{
    CameraControl& camera = *m_deps.camera;
    if (!m_cameraOn || !m_cameraAuthorized || !camera.session())
        return;
    if (!m_cameraPreviewHidden)
        camera.resume();
    else if (m_deps.prefs->cameraBurn() || m_phase.isIdle())
        camera.suspend();
    else
        camera.resume();
}

void RecorderModel::refreshCameraDevices()
{
    if (!m_phase.isIdle())
        return;
    publish(m_cameraDevices, m_deps.camera->devices(), Field::cameraDevices);
    if (!m_cameraID && !m_cameraDevices.empty())
        publish(m_cameraID, std::optional<QString>(m_cameraDevices.front().id), Field::cameraID);
}

void RecorderModel::refreshDevices()
{
    if (!m_phase.isIdle())
        return;
    refreshScreenCapabilities(false);
    if (micIds(MicMonitor::devices(m_deps.audio)) == micIds(m_micDevices)
        && cameraIds(m_deps.camera->devices()) == cameraIds(m_cameraDevices))
        return;
    devicesChanged();
}

void RecorderModel::devicesChanged()
{
    if (!m_phase.isIdle())
        return;
    setMicDevices(MicMonitor::devices(m_deps.audio));
    refreshCameraDevices();
    if (m_preferredMicID && m_preferredMicID != m_micID && micListed(m_preferredMicID)) {
        setMicID(m_preferredMicID);
        if (m_phase.is(Phase::Kind::ready))
            startMonitor();
    }
    if (m_deps.log) {
        QStringList mics;
        for (const AudioDevice& d : m_micDevices)
            mics << d.description;
        QStringList cameras;
        for (const CameraDevice& d : m_cameraDevices)
            cameras << d.name;
        m_deps.log(QStringLiteral("Device list: Microphone ") + listNotation(mics) + QStringLiteral("; Camera ")
                   + listNotation(cameras));
    }
    if (!micListed(m_micID)) {
        setMicID(defaultMicID());
        if (m_phase.is(Phase::Kind::ready))
            startMonitor();
    }
    syncCamera();
}

bool RecorderModel::canToggleCameraFullScreen() const
{
    if (m_cameraFullScreen)
        return true;
    return m_cameraOn && m_cameraAuthorized && m_cameraLive && m_cameraReady
        && (m_phase.is(Phase::Kind::ready) || m_phase.isLive());
}

void RecorderModel::toggleCameraFullScreen()
{
    if (m_cameraFullScreen) {
        exitCameraFullScreen();
        return;
    }
    if (!canToggleCameraFullScreen())
        return;
    setCameraPreviewHidden(false);
    setCameraFullScreen(true);
    if (m_deps.log)
        m_deps.log(QStringLiteral("[camera-scene] full-screen camera on"));
}

void RecorderModel::exitCameraFullScreen()
{
    if (!m_cameraFullScreen)
        return;
    setCameraFullScreen(false);
    if (m_deps.log)
        m_deps.log(QStringLiteral("[camera-scene] screen recording restored"));
}

QStringList RecorderModel::currentEffects()
{
    return {};
}

} // namespace corvessa
