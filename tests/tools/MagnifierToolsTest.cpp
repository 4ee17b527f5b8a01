#include "platform/synthetic/SyntheticFloatingSurfaces.h"
#include "prefs/Prefs.h"
#include "support/TempHome.h"
#include "support/VirtualScheduler.h"
#include "tools/LensOutlineView.h"
#include "tools/LensOverlay.h"
#include "tools/MagnifierPanel.h"
#include "tools/RegionRules.h"
#include "tools/ZoomHUD.h"

#include <QAbstractButton>
#include <QLabel>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace corvessa;

namespace {

const GlobalRect kArea(100, 50, 1440, 900);

// Every picked rectangle keeps the area's aspect ratio and lies inside it.
void expectFits(const GlobalRect& r)
{
    EXPECT_NEAR(r.width() / r.height(), kArea.width() / kArea.height(), 1e-9);
    EXPECT_TRUE(kArea.adjusted(-1e-9, -1e-9, 1e-9, 1e-9).contains(r)) << RegionRules::describe(r).toStdString();
}

} // namespace

TEST(RegionRules, ClickGivesTheDefaultFractionCentredAndPushedInside)
{
    struct Case {
        GlobalPoint press, release, centre;
    } const cases[] = {
        {{820, 500}, {823, 503}, {820, 500}},           // moved under 6 points: still a click
        {{101, 949}, {101, 949}, {100 + 720 * 0.3, 950 - 450 * 0.3}}, // corner: pushed in
    };
    for (const Case& c : cases) {
        const auto r = RegionRules::release(kArea, c.press, c.release, 0.3);
        ASSERT_TRUE(r);
        EXPECT_DOUBLE_EQ(r->width(), kArea.width() * 0.3);
        EXPECT_NEAR(r->center().x, c.centre.x, 1e-9);
        EXPECT_NEAR(r->center().y, c.centre.y, 1e-9);
        expectFits(*r);
    }
}

TEST(RegionRules, DragKeepsTheAspectAndHoldsTheFraction)
{
    struct Case {
        GlobalPoint from, to;
        double fraction;
    } const cases[] = {
        {{0, 0}, {2000, 2000}, RegionRules::maximumFraction},      // the whole area: never 1
        {{500, 400}, {524, 424}, RegionRules::minimumFraction},    // 24 x 24: at least 0.15
        {{200, 400}, {920, 440}, 0.5},                             // wide and flat: the width wins
        {{300, 100}, {340, 550}, 0.5},                             // tall and narrow: the height wins
    };
    for (const Case& c : cases) {
        const auto r = RegionRules::release(kArea, c.from, c.to, 0.3);
        ASSERT_TRUE(r);
        EXPECT_NEAR(r->width() / kArea.width(), c.fraction, 1e-9);
        expectFits(*r);
    }
    EXPECT_FALSE(RegionRules::release(kArea, {500, 400}, {540, 410}, 0.3)) << "too flat, but no click";
}

TEST(RegionRules, NonsenseNeverGivesARectangleOutsideTheArea)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(RegionRules::release(kArea, {500, 400}, {nan, nan}, 0.3));
    EXPECT_FALSE(RegionRules::accepts(kArea, {nan, 400}));
    EXPECT_FALSE(RegionRules::accepts(kArea, {99, 400}));
    for (double fraction : {nan, -1.0, 0.0, 5.0}) {
        const auto r = RegionRules::release(kArea, {500, 400}, {500, 400}, fraction);
        ASSERT_TRUE(r);
        expectFits(*r);
    }
    EXPECT_EQ(RegionRules::describe(GlobalRect(0, 0, 1440, 900)), QStringLiteral("(0.0, 0.0, 1440.0, 900.0)"));
    EXPECT_EQ(RegionRules::describe(GlobalRect(0.5, -2, 417.6, 1)), QStringLiteral("(0.5, -2.0, 417.6, 1.0)"));
    EXPECT_EQ(RegionRules::describe(std::nullopt), QStringLiteral("nil"));
}

TEST(ZoomHUD, BadgeFitsItsTextAndSitsNearTheTopOfTheAnchor)
{
    const GlobalRect screen(0, 0, 1280, 800);
    const GlobalRect small = ZoomHUD::frameFor(10, std::nullopt, screen);
    const GlobalRect wide = ZoomHUD::frameFor(200, GlobalRect(100, 100, 400, 300), screen);
    EXPECT_EQ(small.width(), ZoomHUD::minimumWidth);
    EXPECT_EQ(wide.width(), 200 + 2 * ZoomHUD::padding);
    EXPECT_EQ(small.bottom(), 800 - 90) << "never closer than 90 points to the screen's top";
    EXPECT_EQ(wide.bottom(), 400 - 70);
    EXPECT_EQ(wide.center().x, 300);
}

// The fault: a new message arriving while the badge fades was faded out with it.
TEST(ZoomHUD, ShowDuringTheFadeKeepsTheNewTextUp)
{
    VirtualScheduler clock;
    ZoomHUD hud(clock, FloatingKit(), [] { return ScreenCoordinates(QRectF(0, 0, 1280, 800), {{{0, 0, 1280, 800}, {0, 0, 1280, 800}}}); });
    hud.show(QStringLiteral("2.0×"), std::nullopt);
    ASSERT_TRUE(hud.isVisible());
    clock.advance(ZoomHUD::holdTime + ZoomHUD::fadeTime / 2);
    ASSERT_TRUE(hud.isFading());
    EXPECT_LT(hud.opacity(), 1);

    hud.show(QStringLiteral("2.5×"), std::nullopt);
    EXPECT_FALSE(hud.isFading());
    EXPECT_EQ(hud.opacity(), 1);
    clock.advance(ZoomHUD::fadeTime * 2);
    EXPECT_TRUE(hud.isVisible()) << "the old fade's end does not take the new text away";
    EXPECT_EQ(hud.text(), QStringLiteral("2.5×"));
    EXPECT_EQ(hud.opacity(), 1);

    clock.advance(ZoomHUD::holdTime + ZoomHUD::fadeTime + 0.1);
    EXPECT_FALSE(hud.isVisible());
}

// The badge sits with the floating menus, under the question dialogs' level.
TEST(ZoomHUD, BadgeSitsAtTheMenusLevel)
{
    VirtualScheduler clock;
    auto surfaces = std::make_shared<SyntheticFloatingSurfaces>();
    ZoomHUD hud(clock, FloatingKit(surfaces), [] { return ScreenCoordinates(QRectF(0, 0, 1280, 800), {{{0, 0, 1280, 800}, {0, 0, 1280, 800}}}); });
    hud.show(QStringLiteral("2.0×"), std::nullopt);
    const std::vector<QWidget*> shown = surfaces->stackingOrder();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(surfaces->surface(shown.front())->options.level, SurfaceLevel::popUpMenu);
}

TEST(LensOverlay, OutlineFollowsTheRectangleFlippedAndHidesWhenTooNarrow)
{
    // The primary display 1280 x 800; a second one left of it, higher up.
    const ScreenCoordinates coords(QRectF(0, 100, 1280, 800));
    EXPECT_FALSE(LensOverlay::windowFrame(GlobalRect(10, 10, 4, 50), coords));
    EXPECT_EQ(LensOverlay::windowFrame(GlobalRect(10, 10, 4.5, 50), coords)->width(), 5);
    EXPECT_EQ(LensOverlay::windowFrame(GlobalRect(-300, 700, 200, 100), coords), QRect(-300, 100, 200, 100));
    EXPECT_FALSE(LensOverlay::windowFrame(GlobalRect(std::nan(""), 0, 100, 100), coords));

    LensOverlay lens(FloatingKit(), [] { return ScreenCoordinates(QRectF(0, 0, 1280, 800)); });
    lens.update(GlobalRect(100, 100, 300, 200), false);
    ASSERT_TRUE(lens.isVisible());
    EXPECT_EQ(lens.view()->geometry(), QRect(100, 500, 300, 200));
    lens.update(GlobalRect(100, 100, 300, 200), true);
    lens.update(GlobalRect(120, 100, 300, 200), true);
    EXPECT_EQ(lens.view()->recolours(), 1) << "the same look again costs nothing";
    lens.update(std::nullopt, true);
    EXPECT_FALSE(lens.isVisible());
}

TEST(MagnifierPanel, CardOpensAboveOrBelowTheButtonAndStaysInside)
{
    const QRect visible(0, 0, 1280, 800);
    const QSize size(330, 300); // card plus its transparent margin
    const int m = MagnifierPanelView::margin, gap = MagnifierPanel::gap;
    struct Case {
        QRect anchor;
        QPoint origin;
    } const cases[] = {
        {{600, 740, 24, 24}, {612 - 165, 740 - gap - 300 + m}}, // bar at the bottom: above
        {{600, 4, 24, 24}, {612 - 165, 28 + gap - m}},          // bar at the very top: below
        {{2, 740, 24, 24}, {gap - m, 740 - gap - 300 + m}},     // near the left edge: pushed in
    };
    for (const Case& c : cases)
        EXPECT_EQ(MagnifierPanel::placedOrigin(visible, c.anchor, size), c.origin);
}

TEST(MagnifierPanel, ModeGoesThroughTheModelAndTheRegionLineFollowsIt)
{
    {
        test::TempHome home;
        Prefs::resetShared();
        Prefs& prefs = Prefs::shared();
        prefs.setFocusMode(0);
        std::vector<int> asked;
        MagnifierPanelView view(prefs, [&](int mode) { asked.push_back(mode); });
        EXPECT_FALSE(view.regionShortcut()->isVisibleTo(&view));
        view.modeButton(1)->click();
        EXPECT_EQ(asked, std::vector<int>{1});
        EXPECT_EQ(prefs.focusMode(), 0) << "the model decides";
        prefs.setFocusMode(1);
        EXPECT_TRUE(view.regionShortcut()->isVisibleTo(&view));
        EXPECT_EQ(MagnifierPanelView::factorText(0.15), QStringLiteral("6.7×"));
    }
    // The next test reads the real defaults again.
    Prefs::resetShared();
}
