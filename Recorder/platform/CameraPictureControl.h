#pragma once

#include <vector>

namespace corvessa {

// One picture control a camera offers itself (V4L2: its user controls): a range
// with a step, or a switch (0 or 1).
struct CameraPictureControl {
    enum class Kind { brightness, contrast, saturation, autoWhiteBalance, whiteBalance, backlightCompensation };

    Kind kind = Kind::brightness;
    int minimum = 0;
    int maximum = 0;
    int step = 1;
    int defaultValue = 0;
    int value = 0;
    bool isSwitch = false;

    // Every kind, in the order the controls are shown.
    static std::vector<Kind> allKinds()
    {
        return {Kind::brightness, Kind::contrast, Kind::saturation, Kind::autoWhiteBalance, Kind::whiteBalance,
                Kind::backlightCompensation};
    }

    bool operator==(const CameraPictureControl&) const = default;
};

} // namespace corvessa
