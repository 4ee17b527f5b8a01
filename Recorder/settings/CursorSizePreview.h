#pragma once

#include "engine/compositor/CursorStyle.h"

#include <QWidget>

class QLabel;

namespace corvessa {

// The chosen cursor at the size it will have in a recording, a red crosshair on
// its click position, next to the system arrow for comparison, on a faint
// rounded card. Main thread.
class CursorSizePreview : public QWidget {
    Q_OBJECT
public:
    explicit CursorSizePreview(QWidget* parent = nullptr);

    void setLook(const CursorStyle::Look& look, double size);
    // The sprite's edge in points for a look and size factor.
    static double side(const CursorStyle::Look& look, double size) { return look.baseSize * size; }
    // "Click Position (Red Crosshair) · 52 Points Tall": the whole part of `side`.
    static QString caption(double side);
    // The system arrow at its natural size in points.
    static QImage systemArrowPicture();

    QString captionText() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    class Sprite;
    Sprite* m_sprite;
    QLabel* m_caption;
};

} // namespace corvessa
