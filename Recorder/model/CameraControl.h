#pragma once

#include "capture/CameraOverlayState.h"
#include "capture/CameraVideoCapabilities.h"
#include "capture/VideoDimensions.h"
#include "platform/CameraDevice.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace corvessa {

class CameraCapture;

// What the recorder model asks of the live camera. The program's is
// CaptureCameraControl; tests put a fake in its place. A start is identified by
// an opaque token, so a report of an earlier start can be told from the
// current one. Main thread, except the callbacks, which come on any thread.
class CameraControl {
public:
    using Token = const void*;
    using EventHandler = std::function<void(const QString& line)>;
    using ConnectedHandler = std::function<void(const QString& deviceID, Token start,
                                                const CameraVideoCapabilities& capabilities)>;
    // Ends the observation when the last copy is dropped.
    using Observation = std::shared_ptr<void>;

    virtual ~CameraControl() = default;

    // The cameras, in the system's order.
    virtual std::vector<CameraDevice> devices() = 0;
    // `changed` runs on any thread whenever cameras come or go.
    [[nodiscard]] virtual Observation observeDevices(std::function<void()> changed) = 0;

    virtual void setOnEvent(EventHandler handler) = 0;
    virtual void setOnConnected(ConnectedHandler handler) = 0;

    // Starts a camera. An error text when it cannot even be tried; failures
    // found later arrive as event lines. The caller checks that the camera is
    // listed.
    virtual std::optional<QString> start(const QString& deviceID, int resolution, int fps, bool previewOnly,
                                         std::optional<VideoDimensions> size, std::optional<double> frameRate) = 0;
    virtual void stop() = 0;
    virtual void suspend() = 0;
    virtual void resume() = 0;

    // The current start, or null when stopped.
    virtual Token session() const = 0;
    virtual QString deviceID() const = 0;
    virtual bool isPreviewQuality() const = 0;
    virtual std::shared_ptr<CameraOverlayState> overlay() const = 0;
    // The capture behind it, for the recording and the preview; null in tests.
    virtual std::shared_ptr<CameraCapture> capture() const = 0;
};

} // namespace corvessa
