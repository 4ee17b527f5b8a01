#pragma once

#include <QColor>
#include <QRectF>
#include <QString>

class QPainter;

namespace corvessa {

// What the pickers' veils draw alike: the blue label above a chosen
// rectangle and the instruction pill near the top of the screen. Widget
// coordinates, y down. Stateless.
class PickerPaint {
public:
    static inline const QColor blue{0, 122, 255};

    // `text` with a space on either side, on a blue rounded box just above
    // `target`'s top-left corner, never past the top of the view.
    static void label(QPainter& painter, const QRectF& target, const QString& text);
    // `text` on a dark pill centred on a view `viewWidth` wide, its bottom 64
    // points from the top.
    static void pill(QPainter& painter, double viewWidth, const QString& text);
};

} // namespace corvessa
