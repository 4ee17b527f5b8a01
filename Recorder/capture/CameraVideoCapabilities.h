#pragma once

#include "capture/VideoDeviceChoice.h"
#include "capture/VideoDimensions.h"

#include <array>
#include <optional>
#include <vector>

namespace corvessa {

// The frame sizes and rates a camera can be asked for, and the rules that turn a
// wanted or remembered choice into one the camera offers.
struct CameraVideoCapabilities {
    // A closed range of frames per second.
    struct RateRange {
        double minimum = 0;
        double maximum = 0;
        bool contains(double rate) const { return minimum <= rate && rate <= maximum; }
        bool operator==(const RateRange&) const = default;
    };

    // One entry of a camera's format list as the device reports it.
    struct DeviceFormat {
        int width = 0;
        int height = 0;
        std::vector<RateRange> rates;
    };

    // A usable format.
    struct Format {
        VideoDimensions size;
        std::vector<RateRange> rates; // usable ranges only
        int index = 0;                // position in the device's format list, to select it
        bool operator==(const Format&) const = default;
    };

    static constexpr std::array<double, 8> standardRates{15, 24, 25, 30, 50, 60, 90, 120};
    static constexpr double highestRate = 120;
    static constexpr int maximumLongSide = 4096;
    static constexpr int maximumShortSide = 2160;

    // In the device's order, unusable formats left out.
    std::vector<Format> formats;

    CameraVideoCapabilities() = default;
    // Keeps a format when both sides are at least 1, the long side at most 4096,
    // the short side at most 2160, and one of its usable ranges (finite, minimum
    // above 0 and not above the maximum) starts at or below 120 fps.
    explicit CameraVideoCapabilities(const std::vector<DeviceFormat>& deviceFormats);

    // The distinct sizes, smallest area first.
    std::vector<VideoDimensions> sizes() const;
    // The rates offered for a size, ascending: the standard rates its ranges
    // contain, plus one rate from each range that contains none of them (its
    // maximum, or its minimum when the maximum is above 120).
    std::vector<double> rates(const VideoDimensions& size) const;
    // The size whose short side is nearest; on a tie the smaller area, then the first.
    std::optional<VideoDimensions> preferredSize(int shortSide) const;
    // The offered rate nearest to the target; on a tie the lower one.
    std::optional<double> preferredRate(const VideoDimensions& size, double target) const;
    // The device format index of the first format of that size whose ranges hold the rate.
    std::optional<int> formatIndex(const VideoDimensions& size, double rate) const;
    // A remembered choice turned into one this camera offers: its size when
    // offered, else the size nearest 720p; the offered rate nearest to its rate (or
    // to defaultRate without a choice). Nothing when the camera offers no format.
    std::optional<VideoDeviceChoice> normalized(const std::optional<VideoDeviceChoice>& choice,
                                                double defaultRate) const;

    bool operator==(const CameraVideoCapabilities&) const = default;
};

} // namespace corvessa
