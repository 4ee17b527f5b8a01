#pragma once

#include "platform/CameraDevice.h"
#include "platform/CameraDeviceChange.h"
#include "platform/CameraError.h"
#include "platform/CameraPictureControl.h"
#include "platform/CameraStream.h"
#include "platform/CameraStreamOutput.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace corvessa {

class SerialQueue;

// The camera service: the cameras, an open stream on one of them, and notices of
// cameras arriving and leaving. Backends: V4L2CameraService (the kernel's video
// devices) and SyntheticCameraService (a moving pattern, for tests and machines
// without a camera). Thread-safe.
class CameraService {
public:
    using DevicesChanged = std::function<void(const CameraDeviceChange&)>;
    // Ends the observation when the last copy is dropped.
    using Observation = std::shared_ptr<void>;

    virtual ~CameraService() = default;

    // The cameras present now, in the system's order.
    virtual std::vector<CameraDevice> devices() = 0;

    // Opens a camera; its output goes to `queue`, which must outlive the stream.
    // Null with the reason in `error` when it cannot be opened.
    virtual std::unique_ptr<CameraStream> open(const QString& id, SerialQueue* queue, CameraStreamOutput output,
                                               CameraError* error = nullptr) = 0;

    // The picture controls the camera offers among CameraPictureControl's kinds, with
    // their current values; none when it offers none or cannot be asked.
    virtual std::vector<CameraPictureControl> controls(const QString& id)
    {
        (void)id;
        return {};
    }
    // Sets one control; false when the camera refused or does not offer it.
    virtual bool setControl(const QString& id, CameraPictureControl::Kind kind, int value)
    {
        (void)id, (void)kind, (void)value;
        return false;
    }

    // Calls the handler, on a thread of the service, whenever cameras arrive or
    // leave. A call already under way may still finish after the observation
    // ends, so handlers hold their receivers weakly.
    [[nodiscard]] virtual Observation observeDevices(DevicesChanged handler) = 0;

    // The process-wide service (installed by the program at start-up or by
    // tests). Unless one was installed, V4L2, or the synthetic camera when
    // CORVESSA_CAMERA is "synthetic".
    static std::shared_ptr<CameraService> current();
    // Installs the process-wide service; null goes back to the automatic choice.
    static void setCurrent(std::shared_ptr<CameraService> service);
};

} // namespace corvessa
