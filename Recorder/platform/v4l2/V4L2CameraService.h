#pragma once

#include "platform/CameraDeviceObservers.h"
#include "platform/CameraService.h"
#include "platform/v4l2/V4L2Io.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace corvessa {

class V4L2DeviceWatcher;

// The cameras of the kernel's video devices. Each /dev/videoN node that is a
// streaming video-capture node is a camera (a camera's metadata node is not),
// named after its card and identified by its udev by-id name (the node's path
// where there is none). Cameras arriving and leaving are noticed with inotify
// on the device directory once someone observes them. All system calls go
// through a V4L2Io, so tests can play a recorded device.
class V4L2CameraService : public CameraService {
public:
    V4L2CameraService();
    explicit V4L2CameraService(std::shared_ptr<V4L2Io> io, QString directory = QStringLiteral("/dev"),
                               std::chrono::milliseconds settle = std::chrono::milliseconds(500));
    ~V4L2CameraService() override;

    std::vector<CameraDevice> devices() override;
    std::unique_ptr<CameraStream> open(const QString& id, SerialQueue* queue, CameraStreamOutput output,
                                       CameraError* error = nullptr) override;
    Observation observeDevices(DevicesChanged handler) override;
    std::vector<CameraPictureControl> controls(const QString& id) override;
    bool setControl(const QString& id, CameraPictureControl::Kind kind, int value) override;

    // Lists the cameras again and tells observers what changed since the last
    // time (the watcher does this after device events).
    void rescan();

private:
    struct Node {
        QString path;
        QString id;
    };
    std::vector<Node> nodes();
    // The first node of the camera that opens, or -1; the caller closes it.
    int openNode(const QString& id);

    const std::shared_ptr<V4L2Io> m_io;
    const QString m_directory;
    const std::chrono::milliseconds m_settle;
    CameraDeviceObservers m_observers;

    std::mutex m_mutex; // guards the fields below
    std::optional<std::vector<CameraDevice>> m_known; // as last told to observers
    std::unique_ptr<V4L2DeviceWatcher> m_watcher;
};

} // namespace corvessa
