#pragma once

#include <QColor>
#include <QRectF>
#include <QString>

class QPainter;
class QPixmap;
class QRect;

namespace corvessa {

// What the pickers' veils draw alike: the dark veil itself, the clear hole
// over a chosen rectangle, the blue label above it and the instruction pill
// near the top of the screen. Widget
// coordinates, y down. Stateless.
class PickerPaint {
public:
    static inline const QColor blue{0, 122, 255};

    // The veil over a view `view` big: `backdrop` (the screen as it was, when
    // nothing composites translucent windows; null otherwise) under 35 % black.
    static void veil(QPainter& painter, const QRect& view, const QPixmap& backdrop);
    // `hole` cleared of the veil: the backdrop again, or almost clear, not
    // clear, so the veil still takes the clicks there.
    static void hole(QPainter& painter, const QRect& view, const QRectF& hole, const QPixmap& backdrop);

    // `text` with a space on either side, on a blue rounded box just above
    // `target`'s top-left corner, never past the top of the view.
    static void label(QPainter& painter, const QRectF& target, const QString& text);
    // `text` on a dark pill centred on a view `viewWidth` wide, its bottom 64
    // points from the top.
    static void pill(QPainter& painter, double viewWidth, const QString& text);
};

} // namespace corvessa
