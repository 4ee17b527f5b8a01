#include "tools/DimTarget.h"
#include "tools/DimView.h"
#include "tools/RangeDimOverlay.h"

#include <QGuiApplication>
#include <QScreen>

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace corvessa {
namespace {

using P = RecorderPhase::Kind;

DimTarget::Inputs twoScreensDisplay(P phase, bool barVisible)
{
    DimTarget::Inputs in;
    in.phase = phase;
    in.barVisible = barVisible;
    in.display = 7;
    in.screenCount = 2;
    return in;
}

TEST(DimTarget, WantedWhileLiveOrBeforeTheStartWithTheBarShowing)
{
    struct Row {
        P phase;
        bool withBar;
        bool withoutBar;
    };
    const Row rows[] = {
        {P::ready, true, false},      {P::countdown, true, false}, {P::recording, true, true},
        {P::paused, true, true},      {P::saved, false, false},    {P::failed, false, false},
        {P::finishing, false, false},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(!DimTarget::forInputs(twoScreensDisplay(r.phase, true)).isNone(), r.withBar) << int(r.phase);
        EXPECT_EQ(!DimTarget::forInputs(twoScreensDisplay(r.phase, false)).isNone(), r.withoutBar) << int(r.phase);
    }
}

TEST(DimTarget, ByRangeMode)
{
    DimTarget::Inputs in = twoScreensDisplay(P::recording, false);
    EXPECT_EQ(DimTarget::forInputs(in), DimTarget::display(7));
    in.screenCount = 1;
    EXPECT_TRUE(DimTarget::forInputs(in).isNone()) << "one screen: nothing to set apart";

    in.mode = RangeMode::window;
    EXPECT_TRUE(DimTarget::forInputs(in).isNone()) << "no window picked";
    in.windowID = 42;
    in.windowSize = QSizeF(640, 480);
    EXPECT_EQ(DimTarget::forInputs(in), DimTarget::window(42, QSizeF(640, 480)));

    in.mode = RangeMode::area;
    EXPECT_TRUE(DimTarget::forInputs(in).isNone()) << "no area picked";
    in.areaDisplay = 3;
    in.areaRect = QRectF(10, 20, 150, 80);
    EXPECT_EQ(DimTarget::forInputs(in), DimTarget::area(3, QRectF(10, 20, 150, 80)));
}

const std::vector<RangeDimOverlay::Screen> twoScreens = {{1, QRectF(0, 0, 1280, 800)}, {2, QRectF(1280, -100, 1024, 768)}};

TEST(RangeDimOverlayHoles, EveryScreenGetsAnEntryAndOnlyTheTargetsScreenAHole)
{
    auto holes = RangeDimOverlay::holesFor(DimTarget::area(2, QRectF(10, 20, 150, 80)), twoScreens, std::nullopt);
    EXPECT_EQ(holes.radius, RangeDimOverlay::areaRadius);
    ASSERT_EQ(holes.holes.size(), 2u);
    EXPECT_FALSE(holes.holes[1]);
    EXPECT_EQ(holes.holes[2], QRectF(1290, -80, 150, 80));

    holes = RangeDimOverlay::holesFor(DimTarget::display(1), twoScreens, std::nullopt);
    EXPECT_EQ(holes.radius, 0);
    EXPECT_EQ(holes.holes[1], twoScreens[0].frame);
    EXPECT_FALSE(holes.holes[2]);

    // A window straddling both displays is a hole on each.
    const QRectF straddling(1200, 100, 200, 100);
    holes = RangeDimOverlay::holesFor(DimTarget::window(9, straddling.size()), twoScreens, straddling);
    EXPECT_EQ(holes.holes[1], straddling);
    EXPECT_EQ(holes.holes[2], straddling);

    EXPECT_TRUE(RangeDimOverlay::holesFor({}, twoScreens, std::nullopt).holes.empty());
}

TEST(RangeDimOverlayHoles, SmallMovesAreJitter)
{
    const QPointF last(100, 100);
    EXPECT_EQ(RangeDimOverlay::followedOrigin(std::nullopt, QPointF(3, 4)), QPointF(3, 4));
    EXPECT_EQ(RangeDimOverlay::followedOrigin(last, QPointF(101, 99)), last);
    EXPECT_EQ(RangeDimOverlay::followedOrigin(last, QPointF(102, 100)), QPointF(102, 100));
    EXPECT_EQ(RangeDimOverlay::followedOrigin(last, QPointF(100, 98)), QPointF(100, 98));
}

// The overlay over fake displays and a fake window, on Qt's offscreen platform.
class RangeDimOverlayTest : public ::testing::Test {
protected:
    RangeDimOverlay overlay{{FloatingKit(), [this] { return screens; }, [this](uint32_t) { return window; }}};
    std::vector<RangeDimOverlay::Screen> screens = twoScreens;
    std::optional<QRectF> window = QRectF(100, 100, 400, 300);
};

TEST_F(RangeDimOverlayTest, FollowsTheWindowAndRedrawsOnlyOnChange)
{
    const DimTarget target = DimTarget::window(5, QSizeF(400, 300));
    overlay.set(target);
    EXPECT_TRUE(overlay.following());
    ASSERT_TRUE(overlay.view(1) && overlay.view(2));
    EXPECT_TRUE(overlay.view(1)->isVisible());
    EXPECT_EQ(overlay.view(1)->hole(), QRectF(100, 100, 400, 300));
    EXPECT_FALSE(overlay.view(2)->hole());
    const int first = overlay.redraws();

    overlay.set(target);
    window->translate(1, 1);
    overlay.refresh();
    EXPECT_EQ(overlay.redraws(), first) << "same target, jitter: nothing redrawn";

    window->translate(1, 0);
    overlay.refresh();
    EXPECT_EQ(overlay.view(1)->hole(), QRectF(102, 101, 400, 300));

    // Gone: every veil off; back: they return.
    window.reset();
    overlay.refresh();
    EXPECT_FALSE(overlay.view(1)->isVisible() || overlay.view(2)->isVisible());
    window = QRectF(300, 300, 50, 50); // its frame now; the hole keeps the recorded size
    overlay.refresh();
    EXPECT_TRUE(overlay.view(1)->isVisible() && overlay.view(2)->isVisible());
    EXPECT_EQ(overlay.view(1)->hole(), QRectF(300, 300, 400, 300));

    overlay.set(DimTarget::display(2));
    EXPECT_FALSE(overlay.following());
    EXPECT_FALSE(overlay.view(1)->hole());
    EXPECT_EQ(overlay.view(2)->hole(), QRectF(0, 0, 1024, 768));

    overlay.set({});
    EXPECT_FALSE(overlay.view(1) || overlay.view(2));
    overlay.set({});
    EXPECT_TRUE(overlay.target().isNone());
}

// The layout changes under an area: its display moves, then the other one goes.
// The veils and the hole go along as soon as the toolkit says the screens changed.
TEST_F(RangeDimOverlayTest, AnAreaAndTheVeilsFollowTheLayout)
{
    overlay.set(DimTarget::area(2, QRectF(10, 20, 300, 200)));
    ASSERT_TRUE(overlay.view(2));
    const QRectF before = screens[1].frame;
    EXPECT_EQ(overlay.view(2)->geometry(), before.toAlignedRect());
    EXPECT_EQ(overlay.view(2)->hole(), QRectF(10, 20, 300, 200));

    screens[1].frame.moveTopLeft(QPointF(0, 900));
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_TRUE(screen);
    emit screen->geometryChanged(screen->geometry());
    EXPECT_EQ(overlay.view(2)->geometry(), screens[1].frame.toAlignedRect());
    EXPECT_EQ(overlay.view(2)->hole(), QRectF(10, 20, 300, 200)) << "the hole stays where it was on its display";

    screens.erase(screens.begin());
    emit screen->geometryChanged(screen->geometry());
    EXPECT_FALSE(overlay.view(1)->isVisible()) << "the veil of a display that went away stays";
    EXPECT_TRUE(overlay.view(2)->isVisible());
}

} // namespace
} // namespace corvessa
