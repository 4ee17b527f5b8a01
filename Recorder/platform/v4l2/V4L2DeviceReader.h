#pragma once

#include "platform/CameraDevice.h"
#include "platform/v4l2/V4L2Io.h"

#include <linux/videodev2.h>

#include <optional>
#include <vector>

namespace corvessa {

// Reads what a V4L2 node is and offers: its capability, its name, and every
// size and frame duration of the pixel layouts we can decode
// (VIDIOC_ENUM_FMT, VIDIOC_ENUM_FRAMESIZES, VIDIOC_ENUM_FRAMEINTERVALS; discrete,
// stepwise and continuous answers). Stateless.
class V4L2DeviceReader {
public:
    V4L2DeviceReader() = delete;

    // Sizes offered out of a stepwise or continuous size range, where they fit it.
    static const std::vector<std::pair<int, int>>& commonSizes();

    // The node's own capabilities (device_caps where the driver gives them).
    static uint32_t capabilities(const v4l2_capability& cap);
    // A single-planar video capture node that can stream; metadata and output
    // nodes of the same camera are not.
    static bool isCamera(const v4l2_capability& cap);

    // The camera on an open node, or nothing when the node is no camera.
    // `id` is the persistent name, or the node's path without one.
    static std::optional<CameraDevice> read(V4L2Io& io, int fd, const QString& id);

    // The decodable formats of an open node, cheapest layouts first.
    static std::vector<CameraFormat> formats(V4L2Io& io, int fd);
};

} // namespace corvessa
