#pragma once

#include <QPixmap>
#include <QWidget>

namespace corvessa {

// A translucent widget that paints the glass card, inset by a transparent
// margin where its shadow falls; its contents margins keep children on the
// card. The base of the floating surfaces. Main thread.
class GlassPanel : public QWidget {
public:
    GlassPanel(double cornerRadius, int margin, QWidget* parent = nullptr);

    // How much of what lies beneath the card's base covers (GlassBackground).
    void setBaseOpacity(double opacity);
    double baseOpacity() const { return m_baseOpacity; }

    double cornerRadius() const { return m_cornerRadius; }
    int margin() const { return m_margin; }
    // The card, in widget coordinates.
    QRectF cardRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double m_cornerRadius;
    int m_margin;
    double m_baseOpacity;
    // The card as last painted, and what it was painted for: a panel under
    // a moving glow repaints many times a second, the card itself rarely changes.
    QPixmap m_card;
    qint64 m_cardPalette = 0;
};

} // namespace corvessa
