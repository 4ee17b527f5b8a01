#pragma once

#include <QString>

namespace corvessa {

// Why a camera could not be opened, configured or kept running. The camera never
// fails by exception: every operation of the camera service hands one of these
// back, and a running stream reports one when it ends by itself.
enum class CameraErrorCode : int {
    NotFound = 1,            // no device has that id (unplugged, or never there)
    OpenFailed = 2,          // the device node exists but cannot be opened or is no camera
    Busy = 3,                // another program holds the device
    FormatRejected = 4,      // the device refuses the size or pixel format, or we cannot decode it
    BuffersFailed = 5,       // frame buffers cannot be had (memory, mapping)
    ConfigurationFailed = 6, // any other refusal while configuring
    StartFailed = 7,         // the device would not start streaming (bandwidth, power)
    Disconnected = 8,        // the device went away while open
    RuntimeError = 9,        // streaming stopped with an error of the device or the system
};

struct CameraError {
    CameraErrorCode code = CameraErrorCode::RuntimeError;
    // An English description for the log ("No space left on device"); may be empty.
    QString description;
    // The system's error number where there was one (errno), else 0.
    int osCode = 0;

    bool operator==(const CameraError&) const = default;
};

} // namespace corvessa
