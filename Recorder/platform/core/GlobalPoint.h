#pragma once

#include <QPointF>

namespace corvessa {

// A point in global points: origin at the bottom left of the primary display,
// y up. Kept apart from Qt's y-down QPointF on purpose: ScreenCoordinates turns
// one into the other. Plain value.
struct GlobalPoint {
    double x = 0;
    double y = 0;

    // For code that still carries global points in a QPointF (y up): the same
    // numbers, no flip. Never for Qt's own y-down positions.
    static GlobalPoint fromYUp(const QPointF& p) { return {p.x(), p.y()}; }
    QPointF yUp() const { return {x, y}; }

    GlobalPoint operator+(const GlobalPoint& o) const { return {x + o.x, y + o.y}; }
    GlobalPoint operator-(const GlobalPoint& o) const { return {x - o.x, y - o.y}; }
    GlobalPoint operator*(double f) const { return {x * f, y * f}; }
    // Approximate, like QPointF's.
    bool operator==(const GlobalPoint& o) const { return yUp() == o.yUp(); }
};

} // namespace corvessa
