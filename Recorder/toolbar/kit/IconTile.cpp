#include "toolbar/kit/IconTile.h"

#include "toolbar/kit/MeterView.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <algorithm>
#include <cmath>
#include <memory>

namespace corvessa {

namespace {
// Idle icons read in the dimmer secondary style of the toolbar's texts.
constexpr double secondaryStrength = 0.5;

QColor withOpacity(QColor c, double opacity)
{
    c.setAlphaF(float(c.alphaF() * opacity));
    return c;
}
} // namespace

IconTile::IconTile(IconPainter icon, int width, QWidget* parent)
    : QWidget(parent)
    , m_icon(std::move(icon))
    , m_width(std::max(width, 1))
{
    setAttribute(Qt::WA_Hover);
    setFixedSize(m_width, height);
}

IconTile::IconPainter IconTile::fromIcon(const QIcon& icon, double points)
{
    // The tinted picture is kept for its size and colour: a tile repaints with
    // every frame of the recording glow above it, and rendering the icon anew
    // each time costs far more than the drawing.
    struct Tinted {
        int px = 0;
        QRgb colour = 0;
        QPixmap pixmap;
    };
    auto cache = std::make_shared<Tinted>();
    return [icon, points, cache](QPainter& painter, const QRectF& box, const QColor& colour) {
        const double side = std::clamp(points, 1.0, box.width());
        const QRectF target(box.center().x() - side / 2, box.center().y() - side / 2, side, side);
        const double dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
        const int px = int(std::ceil(side * dpr));
        if (cache->pixmap.isNull() || cache->px != px || cache->colour != colour.rgba()) {
            QPixmap tinted = icon.pixmap(QSize(px, px));
            if (tinted.isNull())
                return;
            // The icon's shape in the wanted colour, whatever colours it was drawn in.
            {
                QPainter p(&tinted);
                p.setCompositionMode(QPainter::CompositionMode_SourceIn);
                p.fillRect(tinted.rect(), colour);
            }
            *cache = {px, colour.rgba(), std::move(tinted)};
        }
        painter.drawPixmap(target, cache->pixmap, QRectF(cache->pixmap.rect()));
    };
}

void IconTile::setIcon(IconPainter icon)
{
    m_icon = std::move(icon);
    update();
}

void IconTile::setSelected(bool selected)
{
    if (selected != m_selected) {
        m_selected = selected;
        update();
    }
}

void IconTile::setActive(bool active)
{
    if (active != m_active) {
        m_active = active;
        update();
    }
}

double IconTile::cardOpacity() const
{
    if (m_selected)
        return selectedOpacity;
    return m_hovered ? hoverOpacity : 0.0;
}

QColor IconTile::iconColour() const
{
    return m_active ? orange() : withOpacity(palette().color(QPalette::WindowText), secondaryStrength);
}

QColor IconTile::orange()
{
    return MeterView::orange();
}

QSize IconTile::sizeHint() const
{
    return {m_width, height};
}

void IconTile::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (const double opacity = cardOpacity(); opacity > 0) {
        QPainterPath card;
        card.addRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
        painter.fillPath(card, withOpacity(palette().color(QPalette::WindowText), opacity));
    }
    if (m_icon) {
        const QRectF box((width() - iconFrame) / 2.0, (height - iconFrame) / 2.0, iconFrame, iconFrame);
        painter.save();
        m_icon(painter, box, iconColour());
        painter.restore();
    }
}

void IconTile::enterEvent(QEnterEvent*)
{
    m_hovered = true;
    update();
}

void IconTile::leaveEvent(QEvent*)
{
    m_hovered = false;
    update();
}

} // namespace corvessa
