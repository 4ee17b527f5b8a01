#pragma once

#include "platform/core/GlobalPoint.h"
#include "platform/core/GlobalRect.h"

#include <QSizeF>

#include <array>
#include <optional>

namespace corvessa {

// The nine cells a dragged bar snaps into on a screen: the corners, the edge
// centres and the centre. Stateless.
class ToolbarMagnet {
public:
    // Raw values are stored under "barDock"; column = raw % 3 (left, centre,
    // right), row = raw / 3 (bottom, middle, top).
    enum class Dock : int {
        bottomLeft = 0,
        bottomCenter = 1,
        bottomRight = 2,
        middleLeft = 3,
        center = 4,
        middleRight = 5,
        topLeft = 6,
        topCenter = 7,
        topRight = 8,
    };
    // Every cell in raw order.
    static constexpr std::array<Dock, 9> all{Dock::bottomLeft, Dock::bottomCenter, Dock::bottomRight,
                                             Dock::middleLeft, Dock::center,       Dock::middleRight,
                                             Dock::topLeft,    Dock::topCenter,    Dock::topRight};

    // The cell for a stored raw value; nothing outside 0 to 8.
    static std::optional<Dock> fromRaw(long long raw);

    // The lower-left corner of a bar of `barSize` in `cell` of `visibleFrame`,
    // `margin` from its edges. A frame too small for the bar puts the right
    // column on the left one and the top row on the bottom one.
    static GlobalPoint cellOrigin(Dock cell, const QSizeF& barSize, const GlobalRect& visibleFrame, double margin);

    // The cell whose origin lies within `distance` of `frame`'s origin on both
    // axes (inclusive) and nearest to it; on equal distance the lower raw value.
    // Nothing when no cell is that close: the bar floats.
    static std::optional<Dock> nearest(const GlobalRect& frame, const GlobalRect& visibleFrame, double margin,
                                       double distance);
};

} // namespace corvessa
