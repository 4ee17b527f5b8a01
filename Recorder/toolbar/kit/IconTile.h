#pragma once

#include <QColor>
#include <QIcon>
#include <QWidget>

#include <functional>

namespace corvessa {

// The tile behind every toolbar icon: the icon centred in a `width` × 36 pt
// frame on a rounded card that is invisible at rest, faint while hovered and
// stronger while selected (selected wins). The icon is drawn in orange when
// active, else in the dimmer secondary text colour. Main thread.
class IconTile : public QWidget {
public:
    // Draws the icon into `box` (the 24 × 24 pt icon frame) in `colour`.
    using IconPainter = std::function<void(QPainter& painter, const QRectF& box, const QColor& colour)>;

    static constexpr int height = 36;
    static constexpr int iconFrame = 24;
    static constexpr double cornerRadius = 10;
    // Opacity of the card in the primary colour.
    static constexpr double selectedOpacity = 0.16;
    static constexpr double hoverOpacity = 0.09;

    explicit IconTile(IconPainter icon, int width = iconFrame, QWidget* parent = nullptr);

    // A painter that draws `icon` at `points` (13 to 18) tinted with the colour.
    static IconPainter fromIcon(const QIcon& icon, double points);

    void setIcon(IconPainter icon);
    bool isSelected() const { return m_selected; }
    void setSelected(bool selected);
    bool isActive() const { return m_active; }
    void setActive(bool active);
    bool isHovered() const { return m_hovered; }
    int tileWidth() const { return m_width; }

    // The card's opacity now, and the icon's colour now.
    double cardOpacity() const;
    QColor iconColour() const;

    // The active icon colour (system orange).
    static QColor orange();

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    IconPainter m_icon;
    int m_width;
    bool m_selected = false;
    bool m_active = false;
    bool m_hovered = false;
};

} // namespace corvessa
