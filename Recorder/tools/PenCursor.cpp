#include "tools/PenCursor.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <initializer_list>

namespace corvessa {

namespace {

// The drawing is laid out with the origin at the bottom left, y up.
QPolygonF path(std::initializer_list<QPointF> points)
{
    QPolygonF polygon;
    for (const QPointF& p : points)
        polygon << QPointF(p.x(), PenCursor::side - p.y());
    return polygon;
}

} // namespace

QPixmap PenCursor::image(double ratio)
{
    QPixmap pixmap(int(side * ratio), int(side * ratio));
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);

    QPainterPath body;
    body.addPolygon(path({{4, 4}, {7, 13}, {22, 28}, {28, 22}, {13, 7}}));
    body.closeSubpath();
    body.setFillRule(Qt::WindingFill);
    // A light halo keeps the pencil visible on dark ground.
    p.strokePath(body, QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setPen(QPen(Qt::black, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::white);
    p.drawPath(body);

    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawPolygon(path({{7, 13}, {20, 26}, {26, 20}, {13, 7}}), Qt::WindingFill);
    p.drawPolygon(path({{4, 4}, {6, 9}, {9, 6}}), Qt::WindingFill);

    p.setPen(QPen(Qt::white, 1));
    const QPolygonF highlight = path({{11, 14}, {21, 24}});
    p.drawLine(highlight[0], highlight[1]);
    return pixmap;
}

const QCursor& PenCursor::drawing()
{
    static const QCursor cursor = [] {
        const double ratio = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
        // Hot spot in the image's top-left coordinates: the tip.
        return QCursor(image(ratio), 4, 28);
    }();
    return cursor;
}

} // namespace corvessa
