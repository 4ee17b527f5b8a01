#include "toolbar/kit/SymbolView.h"

#include "toolbar/kit/Symbols.h"

#include <QPainter>

namespace corvessa {

SymbolView::SymbolView(const QString& symbol, double points, const QColor& colour, QWidget* parent)
    : QWidget(parent)
    , m_symbol(symbol)
    , m_points(points)
    , m_colour(colour)
    , m_painter(Symbols::painter(symbol, points))
{
    setFixedSize(frame, frame);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void SymbolView::setBadge(const QString& symbol, double points, const QColor& colour)
{
    m_badge = symbol;
    m_badgePoints = points;
    m_badgeColour = colour;
    m_badgePainter = symbol.isEmpty() ? IconTile::IconPainter() : Symbols::painter(symbol, points);
    update();
}

void SymbolView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    m_painter(painter, QRectF(rect()), m_colour);
    if (m_badgePainter) {
        // Over the bottom-right corner, pushed 2 pt outwards.
        const QRectF box(width() - m_badgePoints + 2, height() - m_badgePoints + 2, m_badgePoints, m_badgePoints);
        m_badgePainter(painter, box, m_badgeColour);
    }
}

} // namespace corvessa
