#include "support/VirtualScheduler.h"
#include "toolbar/AnchorClick.h"
#include "toolbar/MenuPresenter.h"
#include "toolbar/PopupMenuArea.h"
#include "toolbar/ReopenGuard.h"
#include "toolbar/TapOrHold.h"

#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using namespace corvessa;

TEST(TapOrHold, ReleaseTimeAndPlaceDecideBetweenTapHoldAndNeither)
{
    const struct {
        double releasedAfter;
        bool inside;
        int taps;
        int holds;
    } cases[] = {
        {0.3, true, 1, 0},  // short click
        {0.5, true, 0, 1},  // held: the menu opened at the hold, no tap follows
        {0.3, false, 0, 0}, // dragged off before the hold: nothing
        {0.5, false, 0, 1}, // the hold happened while still on the control
        {TapOrHold::holdDelay - 0.001, true, 1, 0},
    };
    for (const auto& c : cases) {
        VirtualScheduler clock;
        int taps = 0;
        std::vector<QRect> holds;
        TapOrHold w(clock, [&] { ++taps; }, [&](const QRect& r) { holds.push_back(r); });
        w.setGeometry(200, 300, 24, 36);
        w.show();
        QTest::mousePress(&w, Qt::LeftButton, {}, QPoint(10, 10));
        clock.advance(c.releasedAfter);
        QTest::mouseRelease(&w, Qt::LeftButton, {}, c.inside ? QPoint(12, 12) : QPoint(-40, 12));
        clock.advance(5);
        SCOPED_TRACE(testing::Message() << c.releasedAfter << (c.inside ? " inside" : " outside"));
        EXPECT_EQ(taps, c.taps);
        ASSERT_EQ(int(holds.size()), c.holds);
        if (!holds.empty())
            EXPECT_EQ(holds.front(), w.globalRect());
        EXPECT_FALSE(w.isTiming());
    }
}

TEST(AnchorClick, ReportsTheControlsRectangleOnThePress)
{
    std::vector<QRect> clicks;
    AnchorClick w([&](const QRect& r) { clicks.push_back(r); });
    w.setGeometry(50, 60, 28, 36);
    w.show();
    QTest::mousePress(&w, Qt::LeftButton, {}, QPoint(3, 3));
    ASSERT_EQ(clicks.size(), 1u) << "on the press, before any release";
    EXPECT_EQ(clicks.front(), w.globalRect());
}

TEST(ReopenGuard, OnlyAPressSoonAfterAnOutsideCloseOnTheSameControlIsIgnored)
{
    const QRectF control(100, 100, 24, 36);
    const struct {
        double since;
        QRectF anchor;
        bool blocks;
    } cases[] = {
        {0.0, control, true},
        {0.1, control, true},
        {ReopenGuard::window, control, false},
        {0.2, control, false},
        {0.05, control.translated(40, 0), false}, // another control
        {0.05, control.translated(10, 0), true},  // overlapping
        {-0.05, control, false},                  // closed "in the future"
    };
    for (const auto& c : cases) {
        ReopenGuard guard;
        guard.closedByOutsideClick(10.0, control);
        EXPECT_EQ(guard.blocks(10.0 + c.since, c.anchor), c.blocks) << c.since << " " << c.anchor.x();
    }
    ReopenGuard never;
    EXPECT_FALSE(never.blocks(0, control)) << "nothing was closed yet";
    ReopenGuard nonsense;
    nonsense.closedByOutsideClick(std::numeric_limits<double>::quiet_NaN(), control);
    EXPECT_FALSE(nonsense.blocks(0, control));
    EXPECT_FALSE(nonsense.blocks(std::numeric_limits<double>::quiet_NaN(), control));
}

namespace {
// A menu that is open for one anchor at a time and remembers its outside close.
struct FakeMenu final : MenuPresenter {
    std::optional<QRect> open;
    ReopenGuard guard;
    bool isShowingFor(const QRect& anchor) const override { return open == anchor; }
    bool dismissIfShowing(const QRect& anchor) override
    {
        if (open != anchor)
            return false;
        open.reset();
        return true;
    }
    ReopenGuard outsideClose() const override { return guard; }
};
} // namespace

TEST(PopupMenuArea, SecondPressClosesAndThePressThatClosedItOutsideDoesNotReopen)
{
    VirtualScheduler clock(100);
    FakeMenu menu;
    int opens = 0;
    QRect avoided;
    PopupMenuArea area(menu, clock, [&](const QRect& anchor, const QRect& avoiding) {
        ++opens;
        avoided = avoiding;
        menu.open = anchor;
    }, QStringLiteral("Microphone"));
    EXPECT_FALSE(area.openMenu()) << "no window yet";
    area.setGeometry(400, 500, 24, 36);
    area.show();

    QTest::mousePress(&area, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(opens, 1);
    EXPECT_EQ(avoided, area.frameGeometry().adjusted(30, 30, -30, -30));
    QTest::mousePress(&area, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(opens, 1);
    EXPECT_FALSE(menu.open) << "the second press closed it";

    // The same mouse-down closed the menu as an outside click first.
    menu.guard.closedByOutsideClick(clock.now(), area.globalRect());
    clock.advance(0.05);
    EXPECT_TRUE(area.openMenu());
    EXPECT_EQ(opens, 1);
    clock.advance(0.2);
    EXPECT_TRUE(area.openMenu());
    EXPECT_EQ(opens, 2) << "a deliberate later press opens again";
}
