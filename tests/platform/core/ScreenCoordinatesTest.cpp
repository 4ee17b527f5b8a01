#include "platform/core/ScreenCoordinates.h"

#include <gtest/gtest.h>

#include <vector>

using namespace corvessa;

namespace {

// X11/Qt layout (points, y down): the primary 2560x1440 sits at x 1920; a
// 1920x1080 display to its left and lower; a 1280x1024 one above-left at a
// negative origin; a 1920x1200 one to the right beyond a 120-point gap.
const QRectF kPrimary(1920, 0, 2560, 1440);
const QRectF kLeft(0, 360, 1920, 1080);
const QRectF kAboveLeft(-1280, -1024, 1280, 1024);
const QRectF kRight(4600, 100, 1920, 1200);

} // namespace

TEST(ScreenCoordinates, FlipsAboutThePrimaryDisplaysBottomLeft)
{
    const ScreenCoordinates c(kPrimary);
    EXPECT_EQ(c.primaryHeight(), 1440);
    // The primary's corners.
    EXPECT_EQ(c.toGlobalPoint(QPointF(1920, 1440)), (GlobalPoint{0, 0}));
    EXPECT_EQ(c.toGlobalPoint(QPointF(1920, 0)), (GlobalPoint{0, 1440}));
    EXPECT_EQ(c.toGlobalPoint(QPointF(4480, 1440)), (GlobalPoint{2560, 0}));
    // Other displays, including one at a negative origin and one beyond a gap.
    EXPECT_EQ(c.toGlobalPoint(QPointF(100, 400)), (GlobalPoint{-1820, 1040}));
    EXPECT_EQ(c.toGlobalPoint(QPointF(-1280, -1024)), (GlobalPoint{-3200, 2464}));
    EXPECT_EQ(c.toGlobalPoint(QPointF(4560, 500)), (GlobalPoint{2640, 940})); // in the gap
    EXPECT_EQ(c.toGlobalPoint(QPointF(6520, 1300)), (GlobalPoint{4600, 140}));

    // Frames: the X11 bottom edge becomes the lowest global y.
    EXPECT_EQ(c.toGlobalRect(kPrimary), GlobalRect(0, 0, 2560, 1440));
    EXPECT_EQ(c.toGlobalRect(kLeft), GlobalRect(-1920, 0, 1920, 1080)); // bottoms aligned
    EXPECT_EQ(c.toGlobalRect(kAboveLeft), GlobalRect(-3200, 1440, 1280, 1024));
    EXPECT_EQ(c.toGlobalRect(kRight), GlobalRect(2680, 140, 1920, 1200));
}

// Display layouts in X11/Qt points (y down), the primary first.
struct Layout {
    const char* name;
    std::vector<QRectF> screens;
};
const Layout kLayouts[] = {
    {"one display", {QRectF(0, 0, 1920, 1080)}},
    {"negative origin and a gap", {kPrimary, kLeft, kAboveLeft, kRight}},
    {"primary lower than its neighbour", {QRectF(0, 500, 1280, 800), QRectF(1280, 0, 1920, 1080)}},
    {"stacked, primary below", {QRectF(0, 1080, 1920, 1080), QRectF(0, 0, 1920, 1080)}},
    {"fractional", {QRectF(-0.5, 20.25, 1366, 767.5), QRectF(4500.5, 20.25, 33.5, 0.75)}},
};

TEST(ScreenCoordinates, EveryConversionRoundTripsExactlyOnEveryLayout)
{
    for (const Layout& layout : kLayouts) {
        SCOPED_TRACE(layout.name);
        const ScreenCoordinates c(layout.screens.front());
        EXPECT_EQ(c.toGlobalRect(layout.screens.front()).bottomLeft(), (GlobalPoint{0, 0}));
        for (const QRectF& r : layout.screens) {
            const GlobalRect g = c.toGlobalRect(r);
            EXPECT_EQ(c.fromGlobal(g), r);
            EXPECT_EQ(c.globalToWindowServer(c.windowServerToGlobal(r)), r);
            EXPECT_EQ(c.windowServerToGlobal(c.toWindowServer(r)), g);
            // The edge that is on top on screen is the typed top, and the
            // corners land where the typed corners say.
            EXPECT_EQ(g.size(), r.size());
            EXPECT_EQ(g.top(), c.toGlobalPoint(r.topLeft()).y);
            EXPECT_EQ(g.bottom(), c.toGlobalPoint(r.bottomLeft()).y);
            EXPECT_EQ(g.topLeft(), c.toGlobalPoint(r.topLeft()));
            EXPECT_EQ(g.bottomRight(), c.toGlobalPoint(r.bottomRight()));
            EXPECT_TRUE(g.contains(c.toGlobalPoint(r.center())));
            for (const QPointF& p : {r.topLeft(), r.bottomRight(), r.center()}) {
                EXPECT_EQ(c.fromGlobal(c.toGlobalPoint(p)), p);
                EXPECT_EQ(c.globalToWindowServer(c.windowServerToGlobal(p)), p);
            }
        }
        // Screens side by side stay side by side: the flip keeps their order,
        // reversed in y.
        for (const QRectF& a : layout.screens)
            for (const QRectF& b : layout.screens)
                EXPECT_EQ(a.top() < b.top(), c.toGlobalRect(a).top() > c.toGlobalRect(b).top());
    }
}

TEST(ScreenCoordinates, WindowServerSpaceStartsAtThePrimaryTopLeft)
{
    const ScreenCoordinates c(kPrimary);
    // A window on the left display, given in X11 points.
    const QRectF x11(200, 500, 640, 480);
    const QRectF ws = c.toWindowServer(x11);
    EXPECT_EQ(ws, QRectF(-1720, 500, 640, 480));
    // Both routes to global agree: window-server y converts through the primary's height.
    EXPECT_EQ(c.windowServerToGlobal(ws), c.toGlobalRect(x11));
    EXPECT_EQ(c.windowServerToGlobal(QPointF(10, 20)), (GlobalPoint{10, 1420}));
    EXPECT_EQ(c.globalToWindowServer(GlobalRect(0, 0, 2560, 1440)), QRectF(0, 0, 2560, 1440));
}

TEST(ScreenCoordinates, EmptyLayoutOnlyFlips)
{
    const ScreenCoordinates c;
    EXPECT_EQ(c.toGlobalPoint(QPointF(5, 7)), (GlobalPoint{5, -7}));
    EXPECT_EQ(c.pointFromPixel(QPointF(5, 7)), QPointF(5, 7));
    EXPECT_EQ(c.scaleAtPixel(QPointF(5, 7)), 1);
}

TEST(ScreenCoordinates, PixelsBecomePointsThroughTheirOwnScreen)
{
    // A 2x screen at the root's origin, a 1x screen right of it after a 160-pixel
    // gap. Qt keeps each screen's top-left and divides its size by the ratio, so
    // the points leave a gap of their own.
    const ScreenCoordinates::Screen hidpi{QRectF(0, 0, 3840, 2160), QRectF(0, 0, 1920, 1080)};
    const ScreenCoordinates::Screen plain{QRectF(4000, 0, 1920, 1080), QRectF(4000, 0, 1920, 1080)};
    const ScreenCoordinates c(hidpi.points, {hidpi, plain});

    EXPECT_EQ(c.pointFromPixel(QPointF(1000, 500)), QPointF(500, 250));
    EXPECT_EQ(c.scaleAtPixel(QPointF(1000, 500)), 2);
    EXPECT_EQ(c.pointFromPixel(QPointF(4100, 50)), QPointF(4100, 50));
    EXPECT_EQ(c.scaleAtPixel(QPointF(4100, 50)), 1);
    // The seam belongs to the screen on its right.
    EXPECT_EQ(c.pointFromPixel(QPointF(4000, 0)), QPointF(4000, 0));
    // A pixel in the gap goes through the nearer screen (the 2x one, 60 pixels away).
    EXPECT_EQ(c.pointFromPixel(QPointF(3900, 10)), QPointF(1950, 5));
    EXPECT_EQ(c.pointFromPixel(QPointF(3990, 10)), QPointF(3990, 10));

    // And back.
    for (const QPointF& px : {QPointF(1000, 500), QPointF(3838, 2158), QPointF(4100, 50), QPointF(5919, 1079)})
        EXPECT_EQ(c.pixelFromPoint(c.pointFromPixel(px)), px);

    // Straight to global: the primary is 1080 points high.
    EXPECT_EQ(c.globalFromPixel(QPointF(0, 2160)), (GlobalPoint{0, 0}));
    EXPECT_EQ(c.globalFromPixel(QPointF(4000, 0)), (GlobalPoint{4000, 1080}));
    EXPECT_EQ(c.pixelFromGlobal(GlobalPoint{500, 830}), QPointF(1000, 500));

    // A rectangle of pixels takes the scale of the screen at its top-left corner.
    EXPECT_EQ(c.pointsFromPixels(QRectF(100, 100, 400, 200)), QRectF(50, 50, 200, 100));
    EXPECT_EQ(c.pointsFromPixels(QRectF(4100, 100, 400, 200)), QRectF(4100, 100, 400, 200));
}
