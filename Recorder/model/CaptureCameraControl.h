#pragma once

#include "model/CameraControl.h"

namespace corvessa {

class CameraService;

// The camera capture behind the model's camera interface.
class CaptureCameraControl final : public CameraControl {
public:
    explicit CaptureCameraControl(std::shared_ptr<CameraService> service = nullptr);

    std::vector<CameraDevice> devices() override;
    Observation observeDevices(std::function<void()> changed) override;
    void setOnEvent(EventHandler handler) override;
    void setOnConnected(ConnectedHandler handler) override;
    std::optional<QString> start(const QString& deviceID, int resolution, int fps, bool previewOnly,
                                 std::optional<VideoDimensions> size, std::optional<double> frameRate) override;
    void stop() override;
    void suspend() override;
    void resume() override;
    Token session() const override;
    QString deviceID() const override;
    bool isPreviewQuality() const override;
    std::shared_ptr<CameraOverlayState> overlay() const override;
    std::shared_ptr<CameraCapture> capture() const override { return m_capture; }

private:
    std::shared_ptr<CameraCapture> m_capture;
};

} // namespace corvessa
