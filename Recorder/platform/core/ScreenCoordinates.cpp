#include "platform/core/ScreenCoordinates.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace corvessa {

namespace {

// Half-open, so a pixel on the seam between two screens belongs to one of them.
bool holds(const QRectF& r, const QPointF& p)
{
    return p.x() >= r.left() && p.x() < r.right() && p.y() >= r.top() && p.y() < r.bottom();
}

double distance(const QRectF& r, const QPointF& p)
{
    const double dx = std::max({r.left() - p.x(), 0.0, p.x() - r.right()});
    const double dy = std::max({r.top() - p.y(), 0.0, p.y() - r.bottom()});
    return std::hypot(dx, dy);
}

double ratio(double pixels, double points)
{
    return points > 0 && pixels > 0 ? pixels / points : 1.0;
}

} // namespace

ScreenCoordinates::ScreenCoordinates(const QRectF& primary, std::vector<Screen> screens)
    : m_primary(primary), m_screens(std::move(screens))
{
}

GlobalPoint ScreenCoordinates::toGlobalPoint(const QPointF& x11) const
{
    return {x11.x() - m_primary.left(), m_primary.bottom() - x11.y()};
}

QPointF ScreenCoordinates::fromGlobal(const GlobalPoint& global) const
{
    return {global.x + m_primary.left(), m_primary.bottom() - global.y};
}

GlobalRect ScreenCoordinates::toGlobalRect(const QRectF& x11) const
{
    // The rectangle's bottom edge in X11 becomes its lowest y in global space.
    return {x11.left() - m_primary.left(), m_primary.bottom() - x11.bottom(), x11.width(), x11.height()};
}

QRectF ScreenCoordinates::fromGlobal(const GlobalRect& global) const
{
    return {global.left() + m_primary.left(), m_primary.bottom() - global.top(), global.width(), global.height()};
}

GlobalPoint ScreenCoordinates::windowServerToGlobal(const QPointF& ws) const
{
    return {ws.x(), primaryHeight() - ws.y()};
}

QPointF ScreenCoordinates::globalToWindowServer(const GlobalPoint& global) const
{
    return {global.x, primaryHeight() - global.y};
}

GlobalRect ScreenCoordinates::windowServerToGlobal(const QRectF& ws) const
{
    return {ws.left(), primaryHeight() - ws.bottom(), ws.width(), ws.height()};
}

QRectF ScreenCoordinates::globalToWindowServer(const GlobalRect& global) const
{
    return {global.left(), primaryHeight() - global.top(), global.width(), global.height()};
}

const ScreenCoordinates::Screen* ScreenCoordinates::screenFor(const QPointF& p, bool byPixels) const
{
    const Screen* nearest = nullptr;
    double best = std::numeric_limits<double>::infinity();
    for (const Screen& s : m_screens) {
        const QRectF& r = byPixels ? s.pixels : s.points;
        if (holds(r, p))
            return &s;
        const double d = distance(r, p);
        if (d < best) {
            best = d;
            nearest = &s;
        }
    }
    return nearest ? nearest : (m_screens.empty() ? nullptr : &m_screens.front());
}

double ScreenCoordinates::scaleOf(const Screen& s)
{
    return ratio(s.pixels.width(), s.points.width());
}

QPointF ScreenCoordinates::pointFromPixel(const QPointF& pixel) const
{
    const Screen* s = screenFor(pixel, true);
    if (!s)
        return pixel;
    const QPointF offset = pixel - s->pixels.topLeft();
    return s->points.topLeft() + QPointF(offset.x() / ratio(s->pixels.width(), s->points.width()),
                                         offset.y() / ratio(s->pixels.height(), s->points.height()));
}

QPointF ScreenCoordinates::pixelFromPoint(const QPointF& point) const
{
    const Screen* s = screenFor(point, false);
    if (!s)
        return point;
    const QPointF offset = point - s->points.topLeft();
    return s->pixels.topLeft() + QPointF(offset.x() * ratio(s->pixels.width(), s->points.width()),
                                         offset.y() * ratio(s->pixels.height(), s->points.height()));
}

QRectF ScreenCoordinates::pointsFromPixels(const QRectF& pixels) const
{
    const Screen* s = screenFor(pixels.topLeft(), true);
    if (!s)
        return pixels;
    const QPointF topLeft = pointFromPixel(pixels.topLeft());
    return {topLeft, QSizeF(pixels.width() / ratio(s->pixels.width(), s->points.width()),
                            pixels.height() / ratio(s->pixels.height(), s->points.height()))};
}

std::optional<GlobalRect> ScreenCoordinates::globalScreenAt(const std::optional<GlobalPoint>& at) const
{
    if (at) {
        for (const Screen& s : m_screens) {
            const GlobalRect frame = toGlobalRect(s.points);
            if (frame.contains(*at))
                return frame;
        }
    }
    if (m_primary.isEmpty())
        return std::nullopt;
    return toGlobalRect(m_primary);
}

double ScreenCoordinates::scaleAtPixel(const QPointF& pixel) const
{
    const Screen* s = screenFor(pixel, true);
    return s ? scaleOf(*s) : 1.0;
}

} // namespace corvessa
