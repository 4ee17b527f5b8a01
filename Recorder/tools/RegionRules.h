#pragma once

#include "platform/core/GlobalRect.h"

#include <QString>

#include <optional>

namespace corvessa {

// What a click or drag in the region picker gives: a rectangle with the
// recorded area's aspect ratio, inside the area, whose size fraction of the
// area becomes the zoom. The rules do not care which way y runs. Stateless.
class RegionRules {
public:
    // A press that moved less than this (points) is a click.
    static constexpr double clickSlop = 6;
    // A drag smaller than this on either side (after clipping to the area) is
    // neither a click nor a pick: the user tries again.
    static constexpr double minimumDrag = 24;
    // The zoom stays between 1.03x and 6.7x: a pick never covers the whole area
    // (that would be no zoom at all) and never magnifies past what stays sharp.
    static constexpr double minimumFraction = 0.15;
    static constexpr double maximumFraction = 0.97;

    // `fraction` of `area`'s size, centred on `centre` or as near it as keeps
    // the rectangle inside the area.
    static GlobalRect fitted(const GlobalRect& area, const GlobalPoint& centre, double fraction);
    // The rectangle a drag spanning `start` and `end` stands for, whatever its
    // size: the larger of its width and height fractions (after clipping to the
    // area), held to the fraction range, centred on the clipped drag.
    static GlobalRect forDrag(const GlobalRect& area, const GlobalPoint& start, const GlobalPoint& end);
    // The drag clipped to the area; empty when it misses it.
    static GlobalRect clippedDrag(const GlobalRect& area, const GlobalPoint& start, const GlobalPoint& end);
    // A release at `end` of a press at `start`: the drag's rectangle when the
    // clipped drag is at least minimumDrag square, else for a click
    // `defaultFraction` (held to the fraction range) centred on the press,
    // else nothing (the pick goes on).
    static std::optional<GlobalRect> release(const GlobalRect& area, const GlobalPoint& start, const GlobalPoint& end,
                                         double defaultFraction);
    // Whether a press at `point` starts a pick: only inside the area.
    static bool accepts(const GlobalRect& area, const GlobalPoint& point);
    static double heldFraction(double fraction);

    // "(x, y, width, height)" with every number written with a decimal point
    // ("(0.0, 0.0, 1440.0, 900.0)"), or "nil", as the log shows rectangles.
    static QString describe(const std::optional<GlobalRect>& rect);
};

} // namespace corvessa
