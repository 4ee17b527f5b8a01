#pragma once

#include "engine/compositor/PenTool.h"
#include "platform/core/GlobalPoint.h"

#include <cstddef>
#include <vector>

namespace corvessa {

// One pen stroke: its tool, palette colour, width and points. Shape tools use only
// the first two points (the press point and the current end).
struct PenStroke {
    PenTool tool = PenTool::pencil;
    int color = 0;                 // palette index, clamped where it is used
    double width = 1;              // nominal line width in points
    std::vector<GlobalPoint> pts;  // global points
    std::vector<double> pressures; // per point, 0.05...1 (1 for a mouse)

    static constexpr double kMinPressure = 0.05;

    // The pressure of point i: 1 where the list has no entry (a mouse, or a list
    // shorter than the points), clamped into [kMinPressure, 1].
    double pressure(size_t i) const;

    // Every point has finite coordinates (input from devices is not trusted).
    bool hasFinitePoints() const;

    bool operator==(const PenStroke&) const = default;
};

} // namespace corvessa
