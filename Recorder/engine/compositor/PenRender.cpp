#include "engine/compositor/PenRender.h"

#include "engine/compositor/PenPalette.h"

#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace corvessa {

namespace {

// Half the angle between the arrow head's two strokes, in radians.
constexpr double kHeadSpread = 0.5;
// Room left around drawn geometry for antialiased edge pixels.
constexpr double kEdge = 1.5;

bool isFinite(const QPointF& p)
{
    return std::isfinite(p.x()) && std::isfinite(p.y());
}

// The mapped points, or nothing when one of them is not finite.
std::vector<QPointF> mapped(const PenStroke& stroke, const PenRender::Map& map, size_t limit)
{
    std::vector<QPointF> q;
    const size_t n = std::min(stroke.pts.size(), limit);
    q.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        const QPointF p = map(stroke.pts[i]);
        if (!isFinite(p))
            return {};
        q.push_back(p);
    }
    return q;
}

// The two far ends of an arrow head whose tip is q1.
std::array<QPointF, 2> arrowHead(const QPointF& q0, const QPointF& q1, double length)
{
    const double theta = std::atan2(q1.y() - q0.y(), q1.x() - q0.x());
    return {QPointF(q1.x() - length * std::cos(theta - kHeadSpread), q1.y() - length * std::sin(theta - kHeadSpread)),
            QPointF(q1.x() - length * std::cos(theta + kHeadSpread), q1.y() - length * std::sin(theta + kHeadSpread))};
}

// A round-capped segment. A zero-length one is drawn as the dot its round caps
// make, which is not left to the rasteriser's handling of empty lines.
void strokeSegment(QPainter& painter, const QColor& color, const QPointF& a, const QPointF& b, double width)
{
    if (a == b) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(a, width / 2, width / 2);
        return;
    }
    painter.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawLine(a, b);
}

QRectF boxAround(const std::vector<QPointF>& points, double margin)
{
    double minX = points.front().x(), maxX = minX, minY = points.front().y(), maxY = minY;
    for (const QPointF& p : points) {
        minX = std::min(minX, p.x());
        maxX = std::max(maxX, p.x());
        minY = std::min(minY, p.y());
        maxY = std::max(maxY, p.y());
    }
    return QRectF(QPointF(minX - margin, minY - margin), QPointF(maxX + margin, maxY + margin));
}

} // namespace

double PenRender::lineWidth(const PenStroke& stroke, double scale)
{
    const double w = stroke.width * scale;
    return std::isfinite(w) ? std::max(w, 1.0) : 1.0;
}

double PenRender::arrowHeadLength(double w, double scale)
{
    return std::max(14.0 * scale, 4.5 * w);
}

void PenRender::draw(const PenStroke& stroke, QPainter& painter, const Map& map, double scale)
{
    if (stroke.pts.empty() || stroke.tool == PenTool::eraser)
        return;
    const bool shape = PenTools::isShape(stroke.tool);
    const std::vector<QPointF> q = mapped(stroke, map, shape ? 2 : stroke.pts.size());
    if (q.empty())
        return;

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QColor color = PenPalette::color(stroke.color);
    const double w = lineWidth(stroke, scale);

    if (q.size() == 1) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(QRectF(q[0].x() - w / 2, q[0].y() - w / 2, w, w));
        painter.restore();
        return;
    }

    const QPen pen(color, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    switch (stroke.tool) {
    case PenTool::pencil:
        // Each segment is stroked on its own, so the width follows the pressure.
        for (size_t i = 1; i < q.size(); ++i) {
            const double p = (stroke.pressure(i - 1) + stroke.pressure(i)) / 2;
            strokeSegment(painter, color, q[i - 1], q[i], w * (p * 0.7 + 0.3));
        }
        break;
    case PenTool::line:
        strokeSegment(painter, color, q[0], q[1], w);
        break;
    case PenTool::arrow: {
        strokeSegment(painter, color, q[0], q[1], w);
        const auto head = arrowHead(q[0], q[1], arrowHeadLength(w, scale));
        QPainterPath path(head[0]);
        path.lineTo(q[1]);
        path.lineTo(head[1]);
        painter.strokePath(path, pen);
        break;
    }
    case PenTool::rect:
    case PenTool::ellipse: {
        const QRectF box(QPointF(std::min(q[0].x(), q[1].x()), std::min(q[0].y(), q[1].y())),
                         QSizeF(std::abs(q[1].x() - q[0].x()), std::abs(q[1].y() - q[0].y())));
        QPainterPath path;
        if (stroke.tool == PenTool::rect)
            path.addRect(box);
        else
            path.addEllipse(box);
        painter.strokePath(path, pen);
        break;
    }
    case PenTool::eraser:
        break;
    }
    painter.restore();
}

QRectF PenRender::bounds(const PenStroke& stroke, const Map& map, double scale)
{
    if (stroke.pts.empty() || stroke.tool == PenTool::eraser)
        return {};
    const bool shape = PenTools::isShape(stroke.tool);
    std::vector<QPointF> q = mapped(stroke, map, shape ? 2 : stroke.pts.size());
    if (q.empty())
        return {};
    const double w = lineWidth(stroke, scale);
    if (stroke.tool == PenTool::arrow && q.size() >= 2) {
        const auto head = arrowHead(q[0], q[1], arrowHeadLength(w, scale));
        q.push_back(head[0]);
        q.push_back(head[1]);
    }
    // Pencil widths never exceed w, since pressures are at most 1; joins are round.
    return boxAround(q, w / 2 + kEdge);
}

} // namespace corvessa
