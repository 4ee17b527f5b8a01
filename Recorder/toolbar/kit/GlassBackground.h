#pragma once

#include <QColor>
#include <QRectF>

class QPainter;

namespace corvessa {

// The one look of every floating surface's card (toolbar, menus, tips, hint
// cards, panels): a translucent rounded card with a faint top-to-bottom sheen
// and a thin light rim, over a soft shadow that falls into the transparent
// margin around it. Linux has no system glass material, so the material is
// painted; it follows the application palette (light or dark) and is otherwise
// fixed, so every surface looks the same. Stateless.
class GlassBackground {
public:
    // How far the shadow reaches beyond the card (down a little more, by
    // shadowOffsetY); a surface's transparent margin must be at least this.
    static constexpr double shadowExtent = 14;
    static constexpr double shadowOffsetY = 3;
    // The rim: white at 15 %, 1 pt, centred on the card's edge.
    static constexpr double rimWidth = 1;
    static constexpr double rimOpacity = 0.15;

    // How much of the card's base covers what lies behind it, on every surface
    // alike, with a compositing manager or without. Dense enough that text
    // beneath (a terminal under the bar) shows at a
    // tenth of its contrast at most and never competes with the card's own;
    // without a compositor the window is shown as painted, so the same base
    // over black is what the screen gets, and the card looks the same.
    static constexpr double opacity = 0.90;
    // A pop-up menu's base: wholly opaque, as a menu opens over the other
    // cards (the hint card's text beside the bar), whose text at a tenth of
    // its contrast still reads between the menu's rows.
    static constexpr double menuOpacity = 1.0;

    // Paints the shadow around `card` and the card itself. A radius below 0,
    // not a number or more than half the card's smaller side is held to 0 or
    // that half; an empty or invalid card paints nothing.
    // `baseOpacity` is how much the base covers.
    static void paint(QPainter& painter, const QRectF& card, double cornerRadius, double baseOpacity = opacity);

    // Whether the application palette is dark (its window colour is).
    static bool darkPalette();
    // The card's base colour at its top and bottom edge, for the palette in use.
    static QColor baseTop(double baseOpacity = opacity);
    static QColor baseBottom(double baseOpacity = opacity);
    // The radius actually used for a card.
    static double usableRadius(const QRectF& card, double cornerRadius);
};

} // namespace corvessa
