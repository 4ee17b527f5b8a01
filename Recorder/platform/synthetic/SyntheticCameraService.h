#pragma once

#include "platform/CameraDeviceObservers.h"
#include "platform/CameraService.h"

#include <QSize>

#include <memory>
#include <optional>
#include <vector>

namespace corvessa {

class SyntheticCameraStream;

// A camera service without cameras, for tests and machines without one:
// settable cameras whose streams deliver a moving pattern
// (SyntheticCameraStream). On command it plugs cameras in, unplugs them (their
// streams end as Disconnected and observers hear of it), changes the size of
// running streams' pictures, ends streams with an error, and refuses to open,
// configure or start. Thread-safe.
class SyntheticCameraService : public CameraService {
public:
    // "synthetic-camera", "Synthetic Camera": 640x480 at 15 or 30 fps, 1280x720
    // at any rate from 1 to 30 fps, 1920x1080 at 30 or 60 fps.
    static CameraDevice defaultDevice();

    SyntheticCameraService();
    explicit SyntheticCameraService(std::vector<CameraDevice> devices);
    ~SyntheticCameraService() override;

    std::vector<CameraDevice> devices() override;
    std::unique_ptr<CameraStream> open(const QString& id, SerialQueue* queue, CameraStreamOutput output,
                                       CameraError* error = nullptr) override;
    Observation observeDevices(DevicesChanged handler) override;
    // Brightness, contrast, saturation and backlight compensation, kept per camera.
    std::vector<CameraPictureControl> controls(const QString& id) override;
    bool setControl(const QString& id, CameraPictureControl::Kind kind, int value) override;

    // A camera arrives (observers hear of it).
    void addDevice(CameraDevice device);
    // A camera goes away: its streams end with Disconnected and observers hear of it.
    void disconnect(const QString& id);
    // Running streams of the camera deliver pictures of this size from the next
    // frame on; an empty size goes back to the configured one.
    void changeFrameSize(const QString& id, QSize size);
    // Streams of the camera end with this error.
    void interrupt(const QString& id, const CameraError& error);
    // Streams of the camera report frames lost.
    void reportDrops(const QString& id, int count);

    // While set, open(), configure() or start() fail with the error.
    void setOpenError(std::optional<CameraError> error);
    void setConfigureError(std::optional<CameraError> error);
    void setStartError(std::optional<CameraError> error);

    // Streams of this service that deliver now, and their formats.
    int runningStreams() const;
    std::vector<CameraStream::ActiveFormat> runningFormats() const;
    // Every open stream, running or not.
    int openStreams() const;

private:
    struct Hub;
    template <typename F>
    void forStreams(const QString& id, F&& f);

    std::shared_ptr<Hub> m_hub;
};

} // namespace corvessa
