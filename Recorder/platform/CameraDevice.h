#pragma once

#include "platform/CameraFormat.h"

#include <QString>

#include <vector>

namespace corvessa {

// A camera as the camera service lists it.
struct CameraDevice {
    // Identifies the camera across runs and re-plugging where the system allows
    // (V4L2: its /dev/v4l/by-id name); remembered format choices are keyed by it.
    QString id;
    // The name shown to the user (V4L2: the driver's card name).
    QString name;
    // Every size in every pixel layout the program can decode; the layouts that
    // cost least to take in come first, so a size offered twice picks the cheaper.
    std::vector<CameraFormat> formats;

    bool operator==(const CameraDevice&) const = default;
};

} // namespace corvessa
