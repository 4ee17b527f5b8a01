#include "model/CaptureCameraControl.h"

#include "capture/CameraCapture.h"
#include "capture/CameraSession.h"

#include <utility>

namespace corvessa {

CaptureCameraControl::CaptureCameraControl(std::shared_ptr<CameraService> service)
    : m_capture(CameraCapture::create(std::move(service)))
{
}

std::vector<CameraDevice> CaptureCameraControl::devices()
{
    return m_capture->devices();
}

CameraControl::Observation CaptureCameraControl::observeDevices(std::function<void()> changed)
{
    return m_capture->observeDevices([changed = std::move(changed)](const CameraDeviceChange&) { changed(); });
}

void CaptureCameraControl::setOnEvent(EventHandler handler)
{
    m_capture->setOnEvent(std::move(handler));
}

void CaptureCameraControl::setOnConnected(ConnectedHandler handler)
{
    m_capture->setOnConnected(
        [handler = std::move(handler)](const QString& id, const std::shared_ptr<CameraSession>& session,
                                       const CameraVideoCapabilities& capabilities) {
            handler(id, session.get(), capabilities);
        });
}

std::optional<QString> CaptureCameraControl::start(const QString& deviceID, int resolution, int fps,
                                                   bool previewOnly, std::optional<VideoDimensions> size,
                                                   std::optional<double> frameRate)
{
    m_capture->start(deviceID, resolution, fps, previewOnly, size, frameRate);
    return std::nullopt;
}

void CaptureCameraControl::stop()
{
    m_capture->stop();
}

void CaptureCameraControl::suspend()
{
    m_capture->suspend();
}

void CaptureCameraControl::resume()
{
    m_capture->resume();
}

CameraControl::Token CaptureCameraControl::session() const
{
    return m_capture->session().get();
}

QString CaptureCameraControl::deviceID() const
{
    return m_capture->deviceID();
}

bool CaptureCameraControl::isPreviewQuality() const
{
    return m_capture->isPreviewQuality();
}

std::shared_ptr<CameraOverlayState> CaptureCameraControl::overlay() const
{
    return m_capture->overlay();
}

} // namespace corvessa
