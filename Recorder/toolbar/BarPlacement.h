#pragma once

#include "platform/DisplayInfo.h"
#include "platform/core/GlobalPoint.h"
#include "platform/core/GlobalRect.h"
#include "toolbar/ToolbarMagnet.h"

#include <QSizeF>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace corvessa {

class UserDefaults;

// Where the toolbar goes, as pure functions of the display layout (in list
// order; the primary display is the one marked primary, else the first).
// Decisions are made on the bar itself, never on its panel, which adds a
// transparent margin around it. Stateless.
class BarPlacement {
public:
    // Docking margin, and how far inside its screen a floating bar is kept.
    static constexpr double margin = 16;
    // A dropped bar snaps to a cell whose origin is this close on both axes.
    static constexpr double snapDistance = 110;
    // The panel's transparent margin on every side of the bar.
    static constexpr double panelInset = 30;
    // Launch default: the bar's top edge this high above the primary display's
    // bottom, and the anchor when there is no display at all.
    static constexpr double defaultTop = 180;
    static constexpr double fallbackMidX = 640;
    // A saved anchor is trusted only when the point this far below its top edge
    // lies on a display.
    static constexpr double savedProbe = 10;

    // Where the bar is: its horizontal centre and top edge, and the cell it is
    // docked in with the display of that cell.
    struct Placement {
        GlobalPoint anchor;
        std::optional<ToolbarMagnet::Dock> dock;
        std::optional<uint32_t> dockDisplay;
        bool operator==(const Placement&) const = default;
    };

    // The outcome of a drag: the new placement and the bar's rectangle there.
    struct Settled {
        Placement placement;
        GlobalRect target;
    };

    // User-defaults keys of the placement.
    static QString midXKey();
    static QString topKey();
    static QString dockKey();
    static QString dockDisplayKey();

    static const DisplayInfo* primary(const std::vector<DisplayInfo>& displays);
    // The display holding the largest part of `rect` (on equal parts the earlier);
    // when it meets none, the one whose centre is nearest to its centre; null
    // without displays.
    static const DisplayInfo* barScreen(const std::vector<DisplayInfo>& displays, const GlobalRect& rect);
    // `rect` moved, not resized, to lie `margin` inside its screen's visible
    // frame; when it does not fit, the left and bottom edges win. Unchanged
    // without displays.
    static GlobalRect onScreen(const std::vector<DisplayInfo>& displays, const GlobalRect& rect);

    // Horizontally centred on the primary display, top edge `defaultTop` above its bottom.
    static GlobalPoint defaultAnchor(const std::vector<DisplayInfo>& displays);
    // The saved placement, or the default anchor where the saved one lies on no
    // display; a saved cell counts only when it is a whole number 0 to 8.
    static Placement restore(const UserDefaults& defaults, const std::vector<DisplayInfo>& displays);
    // Writes the four keys; the cell and its display are removed for a floating bar.
    static void store(UserDefaults& defaults, const Placement& placement);

    // The bar's rectangle for a bar of `barSize`: a docked bar sits in its cell
    // on its display (or, with that display gone, on the screen its anchored
    // rectangle belongs to); a floating one hangs from its anchor, kept on screen.
    static GlobalRect barRect(const std::vector<DisplayInfo>& displays, const Placement& placement,
                              const QSizeF& barSize);
    // Where a bar dropped at `bar` settles: into a cell of its screen when one is
    // within `snapDistance`, else where it is, kept on screen.
    static Settled settle(const std::vector<DisplayInfo>& displays, const GlobalRect& bar);

    // The top-centre point of a rectangle.
    static GlobalPoint anchorOf(const GlobalRect& bar) { return {bar.center().x, bar.top()}; }
    // Bar <-> panel frame.
    static GlobalRect barOf(const GlobalRect& panel)
    {
        return panel.adjusted(panelInset, panelInset, -panelInset, -panelInset);
    }
    static GlobalRect panelOf(const GlobalRect& bar)
    {
        return bar.adjusted(-panelInset, -panelInset, panelInset, panelInset);
    }
};

} // namespace corvessa
