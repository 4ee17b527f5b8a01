#include "toolbar/SymbolView.h"

#include "toolbar/Symbols.h"

#include <QPainter>

namespace corvessa {

SymbolView::SymbolView(const QString& symbol, double points, const QColor& colour, QWidget* parent)
    : QWidget(parent)
    , m_symbol(symbol)
    , m_points(points)
    , m_colour(colour)
{
    setFixedSize(frame, frame);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void SymbolView::setBadge(const QString& symbol, double points, const QColor& colour)
{
    m_badge = symbol;
    m_badgePoints = points;
    m_badgeColour = colour;
    update();
}

void SymbolView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    Symbols::painter(m_symbol, m_points)(painter, QRectF(rect()), m_colour);
    if (!m_badge.isEmpty()) {
        // Over the bottom-right corner, pushed 2 pt outwards.
        const QRectF box(width() - m_badgePoints + 2, height() - m_badgePoints + 2, m_badgePoints, m_badgePoints);
        Symbols::painter(m_badge, m_badgePoints)(painter, box, m_badgeColour);
    }
}

} // namespace corvessa
