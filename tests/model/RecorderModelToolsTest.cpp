#include "engine/compositor/FocusState.h"
#include "support/ModelHarness.h"

namespace corvessa::test {
namespace {

using Tools = ModelHarness;
const GlobalRect kScreen(0, 0, 1920, 1080); // the harness's one display

// Esc undoes the newest tool first and lets go of the key once none is left.
TEST_F(Tools, EscUndoesNewestFirst)
{
    RecorderModel& m = make();
    m.setPen(true);
    m.toggleFocus();
    m.setPen(true);
    ASSERT_EQ(m.modeOrder(), (std::vector<ToolMode>{ToolMode::pen, ToolMode::focus}));
    m.escapePressed();
    EXPECT_FALSE(m.focusOn());
    EXPECT_TRUE(m.penOn());
    m.escapePressed();
    EXPECT_FALSE(m.penOn());
    EXPECT_TRUE(m.modeOrder().empty());
    EXPECT_EQ(journal.back(), "escape(off)");
}

// Esc during a region pick cancels the pick and nothing else.
TEST_F(Tools, EscDuringRegionPickOnlyCancels)
{
    RecorderModel& m = make();
    prefs().setFocusMode(1);
    prefs().setFocusFrac(0.5);
    m.setPen(true);
    m.toggleFocus();
    ASSERT_TRUE(tools->isRegionPickOpen());
    m.escapePressed();
    EXPECT_FALSE(tools->isRegionPickOpen());
    EXPECT_FALSE(m.focusOn());
    EXPECT_TRUE(m.penOn());
    EXPECT_EQ(prefs().focusFrac(), 0.5);
    EXPECT_EQ(journal.back(), "escape(on)") << "the pen still holds Esc";
}

TEST_F(Tools, ZoomStepsStayInBounds)
{
    RecorderModel& m = make();
    prefs().setFocusMode(1);
    for (auto [from, direction, to] : {std::tuple{0.5, 1, 0.4}, {0.5, -1, 0.625}, {0.96, -1, 0.97}, {0.16, 1, 0.15}}) {
        prefs().setFocusFrac(from);
        m.zoomFocus(direction);
        EXPECT_NEAR(prefs().focusFrac(), to, 1e-9) << from << " " << direction;
    }
    EXPECT_FALSE(m.focusOn()) << "region mode: zooming never turns the magnifier on";
    EXPECT_EQ(tools->hud, QString::fromUtf8("6.7×"));
}

// A picked region sets the zoom to its share of the recorded width, clamped.
TEST_F(Tools, RegionPickSetsAnchorAndFraction)
{
    RecorderModel& m = make();
    prefs().setFocusMode(1);
    for (auto [width, frac, hud] : {std::tuple{960.0, 0.5, "2.0×"}, {100.0, 0.15, "6.7×"}, {1900.0, 0.97, "1.0×"}}) {
        m.setFocusOn(false);
        m.beginRegionPick();
        tools->finishRegion(GlobalRect(0, 1080 - 540, width, 540)); // top-left quarter's height
        EXPECT_TRUE(m.focusOn());
        EXPECT_NEAR(prefs().focusFrac(), frac, 1e-9);
        EXPECT_EQ(tools->hud, QString::fromUtf8(hud));
        EXPECT_NEAR(m.focus()->anchor()->x(), width / 2 / 1920, 1e-9);
        EXPECT_NEAR(m.focus()->anchor()->y(), 0.25, 1e-9) << "fractions count y from the top";
    }
}

TEST_F(Tools, LensRectStaysInsideArea)
{
    for (GlobalPoint c : {GlobalPoint{-500, -500}, GlobalPoint{5000, 5000}, GlobalPoint{960, 540}}) {
        const GlobalRect lens = RecorderModel::lensRect(kScreen, c, 0.5);
        EXPECT_TRUE(kScreen.contains(lens)) << c.x;
        EXPECT_EQ(lens.size(), QSizeF(960, 540));
    }
    EXPECT_EQ(RecorderModel::lensRect(kScreen, GlobalPoint{5000, -9}, 0.5).bottomRight(), (GlobalPoint{1920, 0}));
}

// The outline follows the mouse only once it nears an edge, and hides outside.
TEST_F(Tools, LensHintMovesOnlyNearItsEdge)
{
    RecorderModel& m = make();
    prefs().setFocusFrac(0.5);
    mouse = GlobalPoint{960, 540};
    m.toggleFocus();
    scheduler.advance(0.1);
    ASSERT_EQ(tools->lens, GlobalRect(480, 270, 960, 540));
    mouse = GlobalPoint{960 + 0.36 * 960 - 1, 540 - 0.36 * 540 + 1}; // inside the inner 72 %
    scheduler.advance(0.1);
    EXPECT_EQ(tools->lens, GlobalRect(480, 270, 960, 540));
    mouse = GlobalPoint{1500, 540};
    scheduler.advance(1.0 / 30);
    EXPECT_GT(m.hintCenter()->x, 960);
    scheduler.advance(1);
    EXPECT_NEAR(tools->lens->right() - 1500, 0.14 * 960, 1) << "the mouse rests at the margin";
    mouse = GlobalPoint{-10, 540};
    scheduler.advance(0.1);
    EXPECT_FALSE(tools->lens);
    EXPECT_FALSE(m.hintCenter());
}

// A slow main thread gets at most one queued zoom rectangle; a nil is never dropped.
TEST_F(Tools, LensSinkQueuesOneRectangle)
{
    RecorderModel& m = make();
    const auto sink = m.lensSink();
    sink(GlobalRect(1, 1, 10, 10));
    sink(GlobalRect(2, 2, 10, 10));
    scheduler.runPosted();
    EXPECT_EQ(m.lastLensRect(), GlobalRect(1, 1, 10, 10));
    sink(GlobalRect(3, 3, 10, 10));
    sink(std::nullopt);
    scheduler.runPosted();
    EXPECT_FALSE(m.lastLensRect());
    EXPECT_FALSE(tools->lens);
}

} // namespace
} // namespace corvessa::test
