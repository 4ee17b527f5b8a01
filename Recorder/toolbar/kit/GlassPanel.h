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

    double cornerRadius() const { return m_cornerRadius; }
    int margin() const { return m_margin; }
    // The card, in widget coordinates.
    QRectF cardRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // Whether the card is blended over the desktop (GlassBackground::seesThrough),
    // as found when the panel was last shown or resized: not asked of the
    // window system on every repaint.
    bool seeThrough() const { return m_seeThrough; }

private:
    double m_cornerRadius;
    int m_margin;
    bool m_seeThrough = false;
    // The card as last painted, and what it was painted for: a panel under
    // a moving glow repaints many times a second, the card itself rarely changes.
    QPixmap m_card;
    qint64 m_cardPalette = 0;
    bool m_cardSeeThrough = false;
};

} // namespace corvessa
