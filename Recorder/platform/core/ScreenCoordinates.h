#pragma once

#include "platform/core/GlobalPoint.h"
#include "platform/core/GlobalRect.h"

#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <optional>

#include <vector>

namespace corvessa {

// The one place where y flips. Three spaces, all in points:
// - global: origin at the bottom left of the primary display, y up; what the
//   program uses inside (mouse location, display frames, bubble, pen strokes),
//   typed as GlobalPoint and GlobalRect;
// - X11/Qt: origin at the top left of the X root window, y down; what Qt's
//   screen and widget geometry and the X server use;
// - window-server: origin at the top left of the primary display, y down; the
//   frames of windows (WindowInfo::frame, MouseTrack::windowFrame).
// The X server itself counts device pixels; each screen maps its pixels to
// points by its own scale (Qt's device pixel ratio), so pixel conversions go
// through the screen that holds the pixel, or the nearest one for a pixel in a
// gap between screens.
//
// Points outside every display convert like any other: the flip is affine, so a
// point in a gap or beyond the layout's edge keeps its place relative to the
// primary display.
class ScreenCoordinates {
public:
    // One screen of the layout, both rectangles y down: its pixels on the X root
    // window and its frame in X11/Qt points.
    struct Screen {
        QRectF pixels;
        QRectF points;
    };

    // An empty layout: the primary display is the zero rectangle at the origin.
    ScreenCoordinates() = default;
    // `primary`: the primary display's frame in X11/Qt points. `screens`: every
    // screen for pixel conversions; without them pixels are points.
    explicit ScreenCoordinates(const QRectF& primary, std::vector<Screen> screens = {});

    const QRectF& primary() const { return m_primary; }
    // Height of the primary display: global y = primaryHeight - window-server y.
    double primaryHeight() const { return m_primary.height(); }
    const std::vector<Screen>& screens() const { return m_screens; }
    // The global frame of the screen holding the global point `at`, else (or
    // without `at`) the primary display's; none when the layout is empty.
    std::optional<GlobalRect> globalScreenAt(const std::optional<GlobalPoint>& at) const;

    // X11/Qt points <-> global points.
    GlobalPoint toGlobalPoint(const QPointF& x11) const;
    GlobalRect toGlobalRect(const QRectF& x11) const;
    QPointF fromGlobal(const GlobalPoint& global) const;
    QRectF fromGlobal(const GlobalRect& global) const;

    // Window-server points <-> global points.
    GlobalPoint windowServerToGlobal(const QPointF& ws) const;
    QPointF globalToWindowServer(const GlobalPoint& global) const;
    GlobalRect windowServerToGlobal(const QRectF& ws) const;
    QRectF globalToWindowServer(const GlobalRect& global) const;

    // X11/Qt points <-> window-server points (a shift, no flip).
    QPointF toWindowServer(const QPointF& x11) const { return x11 - m_primary.topLeft(); }
    QRectF toWindowServer(const QRectF& x11) const { return x11.translated(-m_primary.topLeft()); }

    // X device pixels (y down) <-> X11/Qt points (y down).
    QPointF pointFromPixel(const QPointF& pixel) const;
    QPointF pixelFromPoint(const QPointF& point) const;
    // A rectangle of pixels in points, placed and scaled by the screen that holds
    // its top-left corner.
    QRectF pointsFromPixels(const QRectF& pixels) const;
    // Pixels per point at a pixel: the scale of the screen that holds it (or the
    // nearest); 1 without screens.
    double scaleAtPixel(const QPointF& pixel) const;

    // Pixels straight to global points, and back.
    GlobalPoint globalFromPixel(const QPointF& pixel) const { return toGlobalPoint(pointFromPixel(pixel)); }
    QPointF pixelFromGlobal(const GlobalPoint& global) const { return pixelFromPoint(fromGlobal(global)); }

private:
    // The screen whose rectangle (pixels or points) holds p, else the nearest;
    // null without screens.
    const Screen* screenFor(const QPointF& p, bool byPixels) const;
    static double scaleOf(const Screen& s);

    QRectF m_primary;
    std::vector<Screen> m_screens;
};

} // namespace corvessa
