#pragma once

#include "engine/compositor/PenStroke.h"

#include <QPointF>
#include <QRectF>

#include <functional>

class QPainter;

namespace corvessa {

// The one stroke renderer, shared by the ink board, the overlay's live preview,
// the compositor and the settings preview, so a stroke looks the same everywhere.
class PenRender {
public:
    // Turns a stroke point (global points) into the painter's coordinates.
    using Map = std::function<QPointF(const GlobalPoint&)>;

    PenRender() = delete;

    // Draws the stroke with antialiasing, each point passed through `map` and its
    // widths multiplied by `scale`. The painter's state is restored afterwards.
    // A stroke without points, or with a point that is not finite, draws nothing.
    static void draw(const PenStroke& stroke, QPainter& painter, const Map& map, double scale);

    // The area, in the painter's coordinates, that draw() may touch (antialiased
    // edges included); empty when it draws nothing.
    static QRectF bounds(const PenStroke& stroke, const Map& map, double scale);

    // The stroke's line width in the painter's units: the width times the scale,
    // at least 1.
    static double lineWidth(const PenStroke& stroke, double scale);
    // The length of an arrow's head for line width `w`.
    static double arrowHeadLength(double w, double scale);
};

} // namespace corvessa
