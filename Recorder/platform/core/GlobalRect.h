#pragma once

#include "platform/core/GlobalPoint.h"

#include <QRectF>
#include <QSizeF>

namespace corvessa {

// A rectangle in global points: origin at the bottom left of the primary
// display, y up. `y` is its lowest edge: bottom() is y and top() is y + height,
// the opposite of a QRectF on screen. No conversion to or from QRectF happens
// behind the caller's back: ScreenCoordinates turns Qt's y-down rectangles into
// these and back. Edges, containment and intersections follow QRectF's rules
// (a point on an edge is inside), so the numbers match what Qt would say. Plain
// value.
class GlobalRect {
public:
    GlobalRect() = default;
    GlobalRect(double x, double y, double width, double height) : m_r(x, y, width, height) {}
    GlobalRect(const GlobalPoint& bottomLeft, const QSizeF& size)
        : m_r(bottomLeft.x, bottomLeft.y, size.width(), size.height())
    {
    }

    // The rectangle with corners `a` and `b`, whichever corners they are.
    static GlobalRect spanning(const GlobalPoint& a, const GlobalPoint& b)
    {
        return GlobalRect(QRectF(a.yUp(), b.yUp()).normalized());
    }

    // For code that still carries global rectangles in a QRectF (y up, so its
    // top() is the lower edge): the same numbers, no flip. Never for Qt's own
    // y-down geometry.
    static GlobalRect fromYUp(const QRectF& r) { return GlobalRect(r); }
    const QRectF& yUp() const { return m_r; }

    double x() const { return m_r.x(); }
    double y() const { return m_r.y(); }
    double width() const { return m_r.width(); }
    double height() const { return m_r.height(); }
    QSizeF size() const { return m_r.size(); }

    double left() const { return m_r.left(); }
    double right() const { return m_r.right(); }
    double bottom() const { return m_r.top(); }
    double top() const { return m_r.bottom(); }
    GlobalPoint bottomLeft() const { return {left(), bottom()}; }
    GlobalPoint topLeft() const { return {left(), top()}; }
    GlobalPoint bottomRight() const { return {right(), bottom()}; }
    GlobalPoint topRight() const { return {right(), top()}; }
    GlobalPoint center() const { return GlobalPoint::fromYUp(m_r.center()); }

    GlobalRect normalized() const { return GlobalRect(m_r.normalized()); }
    bool isEmpty() const { return m_r.isEmpty(); }
    bool isValid() const { return m_r.isValid(); }
    bool contains(const GlobalPoint& p) const { return m_r.contains(p.yUp()); }
    bool contains(const GlobalRect& r) const { return m_r.contains(r.m_r); }
    bool intersects(const GlobalRect& r) const { return m_r.intersects(r.m_r); }
    GlobalRect intersected(const GlobalRect& r) const { return GlobalRect(m_r.intersected(r.m_r)); }
    // The smallest rectangle holding both; a null one (no width and no height) adds nothing.
    GlobalRect united(const GlobalRect& r) const { return GlobalRect(m_r.united(r.m_r)); }
    GlobalRect adjusted(double dLeft, double dBottom, double dRight, double dTop) const
    {
        return GlobalRect(m_r.adjusted(dLeft, dBottom, dRight, dTop));
    }
    // Same size, bottom-left corner at `p`.
    GlobalRect movedTo(const GlobalPoint& p) const { return {p, size()}; }
    // Same size, centred on `p`.
    GlobalRect movedCenterTo(const GlobalPoint& p) const
    {
        QRectF r = m_r;
        r.moveCenter(p.yUp());
        return GlobalRect(r);
    }

    // Approximate, like QRectF's.
    bool operator==(const GlobalRect& o) const { return m_r == o.m_r; }

private:
    explicit GlobalRect(const QRectF& r) : m_r(r) {}

    // The same numbers as a y-up QRectF: m_r.top() is the lower edge.
    QRectF m_r;
};

} // namespace corvessa
