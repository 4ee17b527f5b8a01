#include "engine/compositor/PenRender.h"

#include "engine/compositor/PenTool.h"
#include "support/ImageCoverage.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

using namespace corvessa;
using test::isBlank;
using test::touched;

namespace {

const PenRender::Map identity = [](const GlobalPoint& p) { return p.yUp(); };

QImage blank(int w, int h)
{
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

QImage render(const PenStroke& s, int w, int h, double scale = 1, const PenRender::Map& map = identity)
{
    QImage img = blank(w, h);
    QPainter p(&img);
    PenRender::draw(s, p, map, scale);
    return img;
}

// One character per pixel: '.' untouched, '#' fully covered, '+' an antialiased edge.
std::string alphaMap(const QImage& img)
{
    std::string out;
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            const int a = qAlpha(img.pixel(x, y));
            out += a == 0 ? '.' : a == 255 ? '#' : '+';
        }
        out += '\n';
    }
    return out;
}

// Fully covered pixels along one row or column.
int solidRun(const QImage& img, int fixed, bool row)
{
    int n = 0;
    const int len = row ? img.width() : img.height();
    for (int i = 0; i < len; ++i)
        n += qAlpha(row ? img.pixel(i, fixed) : img.pixel(fixed, i)) == 255;
    return n;
}

PenStroke stroke(PenTool tool, double width, std::vector<GlobalPoint> pts, std::vector<double> pressures = {}, int color = 0)
{
    return PenStroke{tool, color, width, std::move(pts), std::move(pressures)};
}

} // namespace

TEST(PenRender, OnePointIsARoundDotOfTheLineWidth)
{
    const QImage dot = render(stroke(PenTool::pencil, 6, {{6, 6}}), 12, 12);
    EXPECT_EQ(alphaMap(dot),
              "............\n"
              "............\n"
              "............\n"
              "...++++++...\n"
              "...+####+...\n"
              "...+####+...\n"
              "...+####+...\n"
              "...+####+...\n"
              "...++++++...\n"
              "............\n"
              "............\n"
              "............\n");
    // Red from the palette, opaque, premultiplied.
    EXPECT_EQ(dot.pixel(6, 6), qRgba(255, 59, 48, 255));
    // A shape tool held without moving shows the same dot.
    EXPECT_EQ(render(stroke(PenTool::ellipse, 6, {{6, 6}}), 12, 12), dot);
    // The line width is never under one pixel.
    EXPECT_FALSE(isBlank(render(stroke(PenTool::pencil, 0.01, {{3, 3}}), 6, 6)));
}

TEST(PenRender, ZeroLengthPencilSegmentLeavesTheDotItsPressureGives)
{
    // A click with the mouse: the same dot as a single point.
    EXPECT_EQ(render(stroke(PenTool::pencil, 6, {{6, 6}, {6, 6}}), 12, 12),
              render(stroke(PenTool::pencil, 6, {{6, 6}}), 12, 12));
    // With a tablet at pressure 0.5 the diameter is 20 * (0.5 * 0.7 + 0.3) = 13.
    const QImage tablet = render(stroke(PenTool::pencil, 20, {{20, 20}, {20, 20}}, {0.5, 0.5}), 40, 40);
    const QRect r = touched(tablet);
    EXPECT_NEAR(r.width(), 13, 1);
    EXPECT_NEAR(r.height(), 13, 1);
}

TEST(PenRender, PencilWidthFollowsThePressureOfEachSegment)
{
    const QImage full = render(stroke(PenTool::pencil, 8, {{4, 10}, {30, 10}}, {1, 1}), 34, 20);
    const QImage light = render(stroke(PenTool::pencil, 8, {{4, 10}, {30, 10}}, {0.05, 0.05}), 34, 20);
    EXPECT_EQ(solidRun(full, 17, false), 8);  // 8 px
    EXPECT_EQ(solidRun(light, 17, false), 2); // 8 * 0.335 = 2.68 px

    // A segment takes the mean pressure of its two ends: thin on the left, full
    // on the right, 8 * (0.525 * 0.7 + 0.3) = 5.34 px in between.
    const QImage mixed = render(stroke(PenTool::pencil, 8, {{4, 10}, {16, 10}, {24, 10}, {36, 10}}, {0.05, 0.05, 1, 1}), 40, 20);
    EXPECT_EQ(solidRun(mixed, 10, false), 2);
    EXPECT_EQ(solidRun(mixed, 20, false), 4);
    EXPECT_EQ(solidRun(mixed, 32, false), 8);
}

TEST(PenRender, MissingPressuresCountAsFull)
{
    const std::vector<GlobalPoint> pts{{4, 10}, {20, 14}, {36, 6}};
    const QImage shortList = render(stroke(PenTool::pencil, 6, pts, {0.05}), 40, 20);
    EXPECT_EQ(shortList, render(stroke(PenTool::pencil, 6, pts, {0.05, 1, 1}), 40, 20));
    EXPECT_EQ(render(stroke(PenTool::pencil, 6, pts), 40, 20), render(stroke(PenTool::pencil, 6, pts, {1, 1, 1}), 40, 20));
    // Out-of-range or unusable pressures are brought into 0.05...1.
    EXPECT_EQ(render(stroke(PenTool::pencil, 6, pts, {0, 7, std::nan("")}), 40, 20),
              render(stroke(PenTool::pencil, 6, pts, {0.05, 1, 1}), 40, 20));
}

TEST(PenRender, RectangleOutlineFromAnyTwoCorners)
{
    const QImage rect = render(stroke(PenTool::rect, 2, {{3, 3}, {13, 9}}), 16, 12);
    EXPECT_EQ(alphaMap(rect),
              "................\n"
              "................\n"
              "..+##########+..\n"
              "..############..\n"
              "..##........##..\n"
              "..##........##..\n"
              "..##........##..\n"
              "..##........##..\n"
              "..############..\n"
              "..+##########+..\n"
              "................\n"
              "................\n");
    EXPECT_EQ(render(stroke(PenTool::rect, 2, {{13, 9}, {3, 3}}), 16, 12), rect);
    EXPECT_EQ(render(stroke(PenTool::rect, 2, {{13, 3}, {3, 9}}), 16, 12), rect);
}

TEST(PenRender, EllipseIsInscribedInTheRectangle)
{
    const QImage e = render(stroke(PenTool::ellipse, 2, {{2, 2}, {38, 22}}), 40, 24);
    EXPECT_EQ(qAlpha(e.pixel(20, 12)), 0); // centre
    EXPECT_EQ(qAlpha(e.pixel(3, 3)), 0);   // inside the box's corner, outside the ellipse
    EXPECT_EQ(qAlpha(e.pixel(20, 2)), 255); // top of the ellipse
    EXPECT_EQ(qAlpha(e.pixel(2, 12)), 255); // left end
    EXPECT_EQ(qAlpha(e.pixel(37, 12)), 255);
    EXPECT_EQ(touched(e), QRect(1, 1, 38, 22));
}

TEST(PenRender, ShapesUseOnlyTheirFirstTwoPoints)
{
    for (PenTool tool : {PenTool::line, PenTool::arrow, PenTool::rect, PenTool::ellipse}) {
        EXPECT_EQ(render(stroke(tool, 2, {{5, 5}, {30, 20}, {2, 38}}), 40, 40), render(stroke(tool, 2, {{5, 5}, {30, 20}}), 40, 40))
            << PenTools::rawValue(tool);
    }
}

TEST(PenRender, ArrowHeadLength)
{
    EXPECT_DOUBLE_EQ(PenRender::arrowHeadLength(2, 1), 14);    // at least 14 pt
    EXPECT_DOUBLE_EQ(PenRender::arrowHeadLength(13, 1), 58.5); // 4.5 widths
    EXPECT_DOUBLE_EQ(PenRender::arrowHeadLength(4, 2), 28);

    // Arrow pointing right, tip at (90, 50): the head's ends lie 14 px back at
    // angles of +-0.5 rad: (77.7, 43.3) and (77.7, 56.7).
    const QImage a = render(stroke(PenTool::arrow, 2, {{10, 50}, {90, 50}}), 100, 100);
    EXPECT_GT(qAlpha(a.pixel(78, 43)), 0);
    EXPECT_GT(qAlpha(a.pixel(78, 56)), 0);
    EXPECT_EQ(qAlpha(a.pixel(74, 41)), 0); // beyond the head's end
    EXPECT_EQ(qAlpha(a.pixel(80, 47)), 0); // between the head's strokes and the shaft
    EXPECT_EQ(qAlpha(a.pixel(50, 50)), 255);
    // Without a head the same line has nothing near (78, 43).
    EXPECT_EQ(qAlpha(render(stroke(PenTool::line, 2, {{10, 50}, {90, 50}}), 100, 100).pixel(78, 43)), 0);
}

TEST(PenRender, ColourIndicesAreClamped)
{
    const auto colourAt = [](int index) {
        return render(stroke(PenTool::pencil, 6, {{6, 6}}, {}, index), 12, 12).pixel(6, 6);
    };
    EXPECT_EQ(colourAt(40), qRgba(0, 0, 0, 255)); // past the end: black
    EXPECT_EQ(colourAt(-3), qRgba(255, 59, 48, 255)); // negative: red
    EXPECT_EQ(colourAt(5), qRgba(10, 133, 255, 255)); // blue (0.04, 0.52, 1)
    EXPECT_EQ(colourAt(8), qRgba(255, 255, 255, 255));
}

TEST(PenRender, EraserStrokesAndUnusablePointsDrawNothing)
{
    EXPECT_TRUE(isBlank(render(stroke(PenTool::eraser, 6, {{6, 6}, {10, 10}}), 20, 20)));
    EXPECT_TRUE(isBlank(render(stroke(PenTool::pencil, 6, {}), 20, 20)));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_TRUE(isBlank(render(stroke(PenTool::pencil, 6, {{6, 6}, {nan, 4}}), 20, 20)));
    EXPECT_TRUE(isBlank(render(stroke(PenTool::line, 6, {{6, 6}, {inf, 4}}), 20, 20)));
    // An unusable width falls back to one pixel rather than nothing or everything.
    const QImage thin = render(stroke(PenTool::line, nan, {{2, 10}, {18, 10}}), 20, 20);
    EXPECT_FALSE(isBlank(thin));
    EXPECT_LE(touched(thin).height(), 2);
}

TEST(PenRender, MapAndScaleApply)
{
    // Global points 100 pt away, mapped at two pixels per point.
    const PenRender::Map map = [](const GlobalPoint& p) { return QPointF((p.x - 100) * 2, (p.y - 100) * 2); };
    const QImage scaled = render(stroke(PenTool::pencil, 3, {{103, 103}}), 12, 12, 2, map);
    EXPECT_EQ(scaled, render(stroke(PenTool::pencil, 6, {{6, 6}}), 12, 12));
}

TEST(PenRender, RestoresThePainterState)
{
    QImage img = blank(20, 20);
    QPainter p(&img);
    p.setPen(QPen(Qt::green, 3));
    p.setBrush(Qt::blue);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    PenRender::draw(stroke(PenTool::arrow, 2, {{2, 2}, {18, 18}}), p, identity, 1);
    EXPECT_EQ(p.pen().color(), QColor(Qt::green));
    EXPECT_EQ(p.pen().widthF(), 3);
    EXPECT_EQ(p.brush().color(), QColor(Qt::blue));
    EXPECT_EQ(p.compositionMode(), QPainter::CompositionMode_Source);
}

TEST(PenRender, BoundsHoldEverythingDrawn)
{
    const std::vector<PenStroke> strokes{
        stroke(PenTool::pencil, 7, {{10, 10}}),
        stroke(PenTool::pencil, 9, {{10, 10}, {40, 30}, {20, 50}}, {0.3, 1, 0.6}),
        stroke(PenTool::line, 5, {{50, 10}, {12, 44}}),
        stroke(PenTool::arrow, 3, {{10, 30}, {50, 32}}),
        stroke(PenTool::arrow, 13, {{30, 30}, {34, 28}}), // the head reaches far past the short shaft
        stroke(PenTool::rect, 6, {{15, 15}, {45, 40}}),
        stroke(PenTool::ellipse, 4, {{8, 12}, {52, 50}}),
    };
    const PenRender::Map shifted = [](const GlobalPoint& p) { return p.yUp() + QPointF(30, 30); };
    for (const PenStroke& s : strokes) {
        const QImage img = render(s, 120, 120, 1, shifted);
        EXPECT_TRUE(PenRender::bounds(s, shifted, 1).toAlignedRect().contains(touched(img))) << PenTools::rawValue(s.tool);
    }
    EXPECT_TRUE(PenRender::bounds(stroke(PenTool::eraser, 5, {{1, 1}, {2, 2}}), identity, 1).isEmpty());
}
