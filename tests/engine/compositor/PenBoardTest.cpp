#include "engine/compositor/PenBoard.h"

#include "platform/DisplayInfo.h"
#include "support/ImageCoverage.h"

#include <QImage>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <random>
#include <thread>

using namespace corvessa;
using test::isBlank;
using test::touched;

namespace {

// A 40 x 30 pt screen whose bottom left corner is at (100, 50) in global points:
// global (110, 75) is 10 pt from its left and 5 pt from its top.
const GlobalRect kScreen(100, 50, 40, 30);

PenStroke pencil(std::vector<GlobalPoint> pts, double width = 4, int color = 0, std::vector<double> pressures = {})
{
    return PenStroke{PenTool::pencil, color, width, std::move(pts), std::move(pressures)};
}

PenStroke shape(PenTool tool, GlobalPoint at, double width = 2)
{
    return PenStroke{tool, 0, width, {at}, {1}};
}

QImage ink(PenBoard& board)
{
    const auto s = board.inkSurface();
    return s ? *s->image : QImage();
}

} // namespace

TEST(PenBoard, AttachMakesATransparentScreenSizedBitmap)
{
    PenBoard board;
    EXPECT_FALSE(board.inkSurface());
    const uint64_t before = board.version();
    board.attach(kScreen, 1);
    EXPECT_EQ(board.version(), before + 2);
    const auto surface = board.inkSurface();
    ASSERT_TRUE(surface);
    EXPECT_EQ(surface->image->size(), QSize(40, 30));
    EXPECT_EQ(surface->image->format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(surface->frame, kScreen);
    EXPECT_EQ(surface->scale, 1);
    EXPECT_TRUE(isBlank(*surface->image));
    // Nothing to composite yet.
    EXPECT_FALSE(board.snapshotForCompositor());
    EXPECT_FALSE(board.hasInk());

    // Scales above 2 are capped; fractional sizes are cut.
    board.attach(kScreen, 3);
    EXPECT_EQ(board.inkSurface()->scale, 2);
    EXPECT_EQ(board.inkSurface()->image->size(), QSize(80, 60));
    board.attach(GlobalRect(0, 0, 40.7, 30.9), 1);
    EXPECT_EQ(board.inkSurface()->image->size(), QSize(40, 30));

    DisplayInfo display;
    display.frame = GlobalRect(-1920, 0, 1920, 1080);
    display.scale = 1;
    board.attach(display);
    EXPECT_EQ(board.inkSurface()->image->size(), QSize(1920, 1080));
}

TEST(PenBoard, WithoutABitmapNothingIsDrawnOrHandedOut)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const GlobalRect& frame : {GlobalRect(0, 0, 0, 30), GlobalRect(0, 0, 40, -5), GlobalRect(0, 0, nan, 30), GlobalRect(nan, 0, 40, 30),
                                GlobalRect(0, 0, 40000, 30), GlobalRect(0, 0, 0.5, 0.5)}) {
        PenBoard board;
        board.attach(frame, 1);
        board.begin(pencil({{10, 10}}));
        board.erase({10, 10}, {12, 12}, 3);
        EXPECT_EQ(board.strokes(), 0);
        EXPECT_FALSE(board.hasInk());
        EXPECT_FALSE(board.inkSurface());
        EXPECT_FALSE(board.snapshotForCompositor());
    }
    // A broken scale counts as 1.
    PenBoard board;
    board.attach(kScreen, nan);
    EXPECT_EQ(board.inkSurface()->scale, 1);
}

TEST(PenBoard, TheBitmapsTopRowIsTheTopOfTheScreen)
{
    PenBoard board;
    board.attach(kScreen, 1);
    board.begin(pencil({{110, 75}}, 4));
    board.finish();
    const QImage img = ink(board);
    EXPECT_EQ(img.pixel(10, 5), qRgba(255, 59, 48, 255));
    EXPECT_EQ(touched(img), QRect(8, 3, 4, 4));
}

TEST(PenBoard, AClickLeavesADotOfTheWidthInPixels)
{
    PenBoard board;
    board.attach(kScreen, 2);
    board.begin(pencil({{120, 65}}, 6));
    board.finish();
    EXPECT_TRUE(board.hasInk());
    const QRect dot = touched(ink(board));
    EXPECT_EQ(dot.size(), QSize(12, 12)); // 6 pt at 2 px per pt
    EXPECT_EQ(dot.center(), QPoint(39, 29));

    // With a tablet at pressure 0.2 the dot is 12 * (0.2 * 0.7 + 0.3) = 5.28 px.
    board.attach(kScreen, 2);
    board.begin(pencil({{120, 65}}, 6, 0, {0.2}));
    EXPECT_NEAR(touched(ink(board)).width(), 5.28, 1);
}

TEST(PenBoard, PencilDropsTinyMovesUnlessThePressureChanges)
{
    PenBoard board;
    board.attach(kScreen, 1);
    board.begin(pencil({{110, 65}}, 2, 0, {0.5}));
    const uint64_t v = board.version();
    const QImage before = ink(board);

    board.extend({111, 65}, 0.5); // 1 pt, same pressure: dropped
    EXPECT_EQ(board.version(), v);
    EXPECT_EQ(ink(board), before);

    board.extend({111, 65}, 0.6); // 1 pt, pressure +0.1: a segment
    EXPECT_EQ(board.version(), v + 1);
    EXPECT_NE(ink(board), before);

    board.extend({130, 65}, 0.6);
    EXPECT_EQ(board.version(), v + 2);
    EXPECT_GT(qAlpha(ink(board).pixel(25, 15)), 0);
    board.finish();
    board.extend({135, 70}, 1); // nothing in progress
    EXPECT_EQ(board.version(), v + 3);
}

TEST(PenBoard, APencilStrokeGivenWithManyPointsUsesFullPressureWhereMissing)
{
    const std::vector<GlobalPoint> pts{{104, 55}, {120, 70}, {136, 58}};
    PenBoard a;
    a.attach(kScreen, 1);
    a.begin(pencil(pts, 3, 0, {0.05}));
    PenBoard b;
    b.attach(kScreen, 1);
    b.begin(pencil(pts, 3, 0, {0.05, 1, 1}));
    EXPECT_EQ(ink(a), ink(b));
    EXPECT_FALSE(isBlank(ink(a)));
}

TEST(PenBoard, AShapeReleasedBeforeMovingIsDiscarded)
{
    PenBoard board;
    board.attach(kScreen, 1);
    board.begin(shape(PenTool::rect, {110, 70}));
    // While held, the recording shows the press point as a dot.
    const auto held = board.snapshotForCompositor();
    ASSERT_TRUE(held);
    EXPECT_FALSE(held->hasInk);
    EXPECT_FALSE(held->ink);
    ASSERT_TRUE(held->shape);
    EXPECT_EQ(held->shape->pts.size(), 1u);

    const uint64_t v = board.version();
    board.finish();
    EXPECT_EQ(board.version(), v + 1);
    EXPECT_FALSE(board.hasInk());
    EXPECT_TRUE(isBlank(ink(board)));
    EXPECT_FALSE(board.snapshotForCompositor());
    EXPECT_EQ(board.strokes(), 1);
}

TEST(PenBoard, AShapeStaysAVectorUntilFinished)
{
    PenBoard board;
    board.attach(kScreen, 1);
    board.begin(shape(PenTool::line, {105, 65}));
    board.extend({120, 70}, 0.3);
    board.extend({135, 65}, 0.3); // moves the end, adds no point
    auto s = board.snapshotForCompositor();
    ASSERT_TRUE(s && s->shape);
    EXPECT_EQ(s->shape->pts, (std::vector<GlobalPoint>{{105, 65}, {135, 65}}));
    EXPECT_TRUE(isBlank(ink(board))); // not burnt in yet
    EXPECT_FALSE(board.hasInk());
    EXPECT_TRUE(board.hasInkOrShape());

    board.finish();
    EXPECT_TRUE(board.hasInk());
    s = board.snapshotForCompositor();
    ASSERT_TRUE(s && s->ink);
    EXPECT_FALSE(s->shape);
    EXPECT_EQ(qAlpha(s->ink->pixel(20, 15)), 255);
    EXPECT_EQ(qAlpha(s->ink->pixel(20, 5)), 0);

    // A new shape replaces one still in progress.
    board.begin(shape(PenTool::rect, {101, 51}));
    board.begin(shape(PenTool::ellipse, {110, 60}));
    EXPECT_EQ(board.snapshotForCompositor()->shape->tool, PenTool::ellipse);
}

TEST(PenBoard, ErasingClearsPixelsButTheBoardStillHasInk)
{
    PenBoard board;
    board.attach(kScreen, 1);
    board.begin(pencil({{100, 65}, {140, 65}}, 20)); // a thick band across the screen
    board.finish();
    ASSERT_EQ(qAlpha(ink(board).pixel(20, 15)), 255);

    const uint64_t v = board.version();
    board.erase({120, 65}, {120, 65}, 5); // a disc of radius 5 around the pixel corner (20, 15)
    EXPECT_EQ(board.version(), v + 1);
    const QImage img = ink(board);
    EXPECT_EQ(qAlpha(img.pixel(20, 15)), 0);
    EXPECT_EQ(qAlpha(img.pixel(22, 17)), 0);   // centre 3.5 px away on each axis: 4.9 px
    EXPECT_EQ(qAlpha(img.pixel(26, 15)), 255); // 6.5 px away
    EXPECT_EQ(qAlpha(img.pixel(20, 21)), 255);

    board.erase({90, 65}, {150, 65}, 20); // everything
    EXPECT_TRUE(isBlank(ink(board)));
    EXPECT_TRUE(board.hasInk());
    const auto s = board.snapshotForCompositor();
    ASSERT_TRUE(s && s->ink);
    EXPECT_TRUE(isBlank(*s->ink));

    // A radius that is not positive erases nothing.
    const uint64_t v2 = board.version();
    board.erase({120, 65}, {120, 65}, 0);
    board.erase({120, 65}, {120, 65}, std::nan(""));
    EXPECT_EQ(board.version(), v2);
}

TEST(PenBoard, FinishWithNothingInProgressStillRaisesTheVersion)
{
    PenBoard board;
    board.attach(kScreen, 1);
    const uint64_t v = board.version();
    board.finish();
    EXPECT_EQ(board.version(), v + 1);
}

TEST(PenBoard, CountersAndTheActiveFlagThroughAttachAndDetach)
{
    PenBoard board;
    board.setActive(true);
    board.attach(kScreen, 1);
    EXPECT_TRUE(board.active());
    board.begin(pencil({{110, 60}}));
    board.finish();
    board.begin(shape(PenTool::arrow, {110, 60}));
    board.finish();
    board.begin(pencil({})); // no points: not a stroke
    EXPECT_EQ(board.strokes(), 2);

    board.attach(kScreen, 1); // a new screen discards the ink
    EXPECT_EQ(board.strokes(), 0);
    EXPECT_FALSE(board.hasInk());
    EXPECT_TRUE(board.active());

    board.begin(pencil({{110, 60}}));
    const uint64_t v = board.version();
    board.detach();
    EXPECT_GT(board.version(), v);
    EXPECT_FALSE(board.active());
    EXPECT_FALSE(board.hasInk());
    EXPECT_EQ(board.strokes(), 0);
    EXPECT_FALSE(board.inkSurface());
    board.extend({120, 70}, 1); // the pencil stroke went with the bitmap
    EXPECT_FALSE(board.hasInkOrShape());
}

TEST(PenBoard, PointsThatAreNotFiniteAreIgnored)
{
    PenBoard board;
    board.attach(kScreen, 1);
    const double inf = std::numeric_limits<double>::infinity();
    board.begin(pencil({{110, 60}, {inf, 60}}));
    EXPECT_EQ(board.strokes(), 0);
    board.begin(pencil({{110, 60}}));
    const uint64_t v = board.version();
    board.extend({std::nan(""), 60}, 1);
    EXPECT_EQ(board.version(), v);
    board.erase({110, 60}, {inf, inf}, 4);
    EXPECT_EQ(board.version(), v);
}

TEST(PenBoard, ColourIndicesOutsideThePaletteAreClamped)
{
    PenBoard board;
    board.attach(kScreen, 1);
    board.begin(pencil({{110, 75}}, 4, 40));
    EXPECT_EQ(ink(board).pixel(10, 5), qRgba(0, 0, 0, 255));
    board.begin(pencil({{130, 75}}, 4, -3));
    EXPECT_EQ(ink(board).pixel(30, 5), qRgba(255, 59, 48, 255));
}

// A snapshot is the ink as it was: later strokes, a detach or a new attach do not
// change or free it.
TEST(PenBoard, ASnapshotNeverChangesWhileHeld)
{
    PenBoard board;
    board.attach(kScreen, 1);
    board.begin(pencil({{105, 60}, {135, 60}}));
    board.finish();
    const auto held = board.snapshotForCompositor();
    ASSERT_TRUE(held && held->ink);
    const QImage expected = held->ink->copy();

    board.begin(pencil({{105, 70}, {135, 70}}, 4, 3));
    board.erase({120, 60}, {120, 60}, 4);
    const auto next = board.snapshotForCompositor();
    ASSERT_TRUE(next && next->ink);
    EXPECT_NE(next->ink, held->ink);
    EXPECT_NE(*next->ink, expected);
    EXPECT_GT(next->version, held->version);

    board.begin(pencil({{110, 55}}, 8, 5));
    board.detach();
    board.attach(kScreen, 2);
    EXPECT_EQ(*held->ink, expected);
    EXPECT_EQ(held->ink->size(), QSize(40, 30));
}

// However snapshots are taken and held, each one equals the ink drawn so far.
TEST(PenBoard, PublishedCopiesMatchTheInkUnderAnyInterleaving)
{
    std::mt19937 random(1234);
    std::uniform_real_distribution<double> x(95, 145), y(45, 85), width(1, 9), pressure(0.05, 1);
    std::uniform_int_distribution<int> op(0, 9);

    PenBoard board;
    PenBoard reference;
    board.attach(kScreen, 2);
    reference.attach(kScreen, 2);
    std::vector<std::shared_ptr<const QImage>> kept;
    for (int step = 0; step < 300; ++step) {
        const int o = op(random);
        if (o < 4) {
            const PenStroke s = pencil({{x(random), y(random)}}, width(random), step % 12, {pressure(random)});
            board.begin(s);
            reference.begin(s);
            for (int i = 0; i < 3; ++i) {
                const GlobalPoint p = GlobalPoint::fromYUp(QPointF(x(random), y(random)));
                const double pr = pressure(random);
                board.extend(p, pr);
                reference.extend(p, pr);
            }
            board.finish();
            reference.finish();
        } else if (o < 6) {
            const PenStroke s = shape(PenTool(1 + step % 4), {x(random), y(random)}, width(random));
            const GlobalPoint end = GlobalPoint::fromYUp(QPointF(x(random), y(random)));
            for (PenBoard* b : {&board, &reference}) {
                b->begin(s);
                b->extend(end, 1);
                b->finish();
            }
        } else if (o < 7) {
            const GlobalPoint a = GlobalPoint::fromYUp(QPointF(x(random), y(random)));
            const GlobalPoint b = GlobalPoint::fromYUp(QPointF(x(random), y(random)));
            const double r = width(random);
            board.erase(a, b, r);
            reference.erase(a, b, r);
        } else if (o < 8) {
            if (auto s = board.snapshotForCompositor(); s && s->ink)
                kept.push_back(s->ink); // held on, so the board must work around it
        } else if (o < 9) {
            if (!kept.empty())
                kept.erase(kept.begin());
        } else {
            const auto s = board.snapshotForCompositor();
            if (s && s->ink) {
                ASSERT_EQ(*s->ink, ink(reference)) << "step " << step;
            }
        }
    }
    EXPECT_EQ(ink(board), ink(reference));
}

// The engine queue takes snapshots while the main thread draws: a snapshot must
// never change while it is held, and each must be a state the ink really had.
TEST(PenBoard, ConcurrentDrawingNeverTouchesAHeldSnapshot)
{
    PenBoard board;
    board.attach(kScreen, 2);
    board.begin(pencil({{100, 50}}));
    std::atomic<bool> done{false};
    std::atomic<int> changed{0};
    std::atomic<int> taken{0};

    std::thread compositor([&] {
        while (!done) {
            const auto s = board.snapshotForCompositor();
            if (!s || !s->ink)
                continue;
            const QImage before = s->ink->copy();
            std::this_thread::yield();
            if (*s->ink != before)
                ++changed;
            ++taken;
        }
    });
    for (int i = 0; i < 400; ++i) {
        const double t = i * 0.1;
        board.begin(pencil({{100 + std::fmod(t * 7, 40), 50 + std::fmod(t * 3, 30)}}, 3, i % 12));
        board.extend({100 + std::fmod(t * 11, 40), 50 + std::fmod(t * 5, 30)}, 1);
        board.finish();
        if (i % 10 == 0)
            board.erase({120, 65}, {125, 70}, 3);
        if (i % 50 == 0)
            (void)board.inkSurface(); // the overlay repaints too
    }
    // On a busy machine the compositor thread may not have run yet.
    for (int i = 0; i < 3000 && taken == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    done = true;
    compositor.join();
    EXPECT_EQ(changed, 0);
    EXPECT_GT(taken, 0);
}

TEST(PenBoard, SharedIsOneBoard)
{
    EXPECT_EQ(&PenBoard::shared(), &PenBoard::shared());
}
