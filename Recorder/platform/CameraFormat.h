#pragma once

#include "platform/core/MediaTime.h"

#include <QString>

#include <cstdint>
#include <vector>

namespace corvessa {

// Pixel layouts a camera delivers, as V4L2 four-character codes.
namespace CameraPixelFormat {
constexpr uint32_t fourcc(char a, char b, char c, char d)
{
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 | uint32_t(uint8_t(d)) << 24;
}
constexpr uint32_t MJPEG = fourcc('M', 'J', 'P', 'G');
constexpr uint32_t JPEG = fourcc('J', 'P', 'E', 'G');
constexpr uint32_t YUYV = fourcc('Y', 'U', 'Y', 'V');
constexpr uint32_t UYVY = fourcc('U', 'Y', 'V', 'Y');
constexpr uint32_t NV12 = fourcc('N', 'V', '1', '2');
constexpr uint32_t YU12 = fourcc('Y', 'U', '1', '2'); // planar 4:2:0, Y then Cb then Cr
// "YUYV", or the code in hex when it is not printable.
QString name(uint32_t code);
} // namespace CameraPixelFormat

// One frame size a camera offers in one pixel layout, with the frame durations it
// offers at that size.
struct CameraFormat {
    // A set of frame durations: one value (shortest == longest), a continuous
    // range (no step) or a stepwise one (shortest, shortest + step, ...).
    struct Intervals {
        MediaTime shortest; // 1 / the highest rate
        MediaTime longest;  // 1 / the lowest rate
        MediaTime step;     // invalid: continuous

        double maximumRate() const;
        double minimumRate() const;
        bool isSingle() const { return shortest == longest; }
        bool operator==(const Intervals&) const = default;
    };

    int width = 0;
    int height = 0;
    uint32_t pixelFormat = 0;
    std::vector<Intervals> intervals;

    // The frame duration to lock for a wanted rate. The rate is clamped to what
    // the format offers; the first set that holds it gives 1/rate (snapped to its
    // step), and where it falls between the sets (discrete durations) the set
    // nearest in rate wins. Invalid when the format lists no durations.
    MediaTime frameInterval(double rate) const;

    bool operator==(const CameraFormat&) const = default;
};

} // namespace corvessa
