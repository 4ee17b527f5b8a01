#pragma once

#include "platform/core/GlobalPoint.h"
#include "platform/core/GlobalRect.h"
#include "toolbar/kit/FloatingKit.h"

#include <QSizeF>

#include <functional>
#include <memory>
#include <vector>

class QWidget;
class QWindow;

namespace corvessa {

class FloatingSurfaces;
class GlassPanel;
class ToolbarPanel;

// Where the small cards beside the toolbar go (the echo card, the shortcut
// hints): above the bar, or below it when there is no room above; centred on
// the bar and kept `edgeInset` inside the screen horizontally, the right edge
// winning when a card is too wide. Stateless.
class BarSideCard {
public:
    static constexpr double edgeInset = 8;

    // The bar inside its panel and the usable area of the bar's screen (the
    // primary's when the bar is on none, empty without displays).
    struct Surroundings {
        GlobalRect bar;
        GlobalRect visible;
    };
    static Surroundings of(const ToolbarPanel& panel);

    // The card's origin (its bottom-left corner) `gap` above `bar`, or `gap`
    // below it when the card would stick out at the top of `visible`.
    static GlobalPoint origin(const GlobalRect& bar, const QSizeF& card, const GlobalRect& visible, double gap);
    // The same, kept clear of our other surfaces `clear` (the camera bubble),
    // whose windows would hide the card's text: stacked `gap` past each one in
    // its way, on the side it opens on, else on the other side of the bar;
    // where neither fits on the screen, as above.
    static GlobalPoint origin(const GlobalRect& bar, const QSizeF& card, const GlobalRect& visible, double gap,
                              const std::vector<GlobalRect>& clear);

    // Moves `card` so that its bottom-left corner is at `origin`.
    static void moveTo(QWidget* card, const GlobalPoint& origin);

    // A new, empty card window: translucent, click-through, never focused, at
    // the floating level of `kit`'s surfaces, and registered. The caller owns it.
    static QWidget* makeWindow(const FloatingKit& kit);
    // Puts `view` (a new card drawn as glass) into `card` at its top-left,
    // sizes the window to it and lets only the drawn card show.
    static void setContent(QWidget* card, GlassPanel* view, const FloatingKit& kit);
    // Shows `card` if hidden, raised among our surfaces.
    static void reveal(QWidget* card, const FloatingKit& kit);
};

} // namespace corvessa
