#include "platform/core/UserDefaults.h"
#include "support/VirtualScheduler.h"
#include "toolbar/BarDocking.h"
#include "toolbar/DisplayLayouts.h"
#include "toolbar/ToolbarPanel.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corvessa;
using namespace corvessa::test;
using Dock = ToolbarMagnet::Dock;

namespace {

// A panel that moves at once and reports each move, ours or the user's.
struct FakePanel : BarDocking::Panel {
    GlobalRect current{0, 0, 460, 120};
    QSizeF fit{460, 120}; // a 400x60 bar
    bool visible = true;
    int sets = 0;
    bool animated = false;
    std::function<void()> moved;

    GlobalRect frame() const override { return current; }
    void setFrame(const GlobalRect& f, bool animate) override
    {
        ++sets;
        animated = animate;
        current = f;
        moved();
    }
    bool isVisible() const override { return visible; }
    QSizeF fittingSize() const override { return fit; }
};

// Docking over a fake panel on two displays, with a virtual clock and a mouse
// button the test holds and releases.
struct Rig {
    QTemporaryDir dir;
    UserDefaults defaults{dir.filePath(QStringLiteral("defaults.json"))};
    VirtualScheduler clock;
    FakePanel panel;
    std::vector<DisplayInfo> displays = twoDisplays();
    bool button = false;
    int dismissed = 0;
    int placed = 0;
    BarDocking docking{panel, defaults, clock,
                       {[this] { return displays; }, [this] { return button; }, [this] { ++dismissed; },
                        [this] { ++placed; }}};

    Rig() { panel.moved = [this] { docking.panelMoved(); }; }

    // The user drags the bar's lower-left corner to `to`, button held.
    void dragTo(const GlobalPoint& to)
    {
        button = true;
        panel.current = panel.current.movedTo(to - GlobalPoint{BarPlacement::panelInset, BarPlacement::panelInset});
        panel.moved();
    }
    GlobalRect cell(Dock d, int display, QSizeF bar = {400, 60}) const
    {
        return {ToolbarMagnet::cellOrigin(d, bar, displays[display].visibleFrame, 16), bar};
    }
};

} // namespace

TEST(BarDocking, DragFreesTheBarAtOnceAndSettlesOnlyAfterTheButtonIsUp)
{
    Rig r;
    r.defaults.setInteger(QStringLiteral("barDock"), int(Dock::topLeft));
    r.docking.restore();
    ASSERT_EQ(r.docking.barRect(), r.cell(Dock::topLeft, 0));
    r.dragTo({300, 300});
    EXPECT_EQ(r.docking.barDock(), std::nullopt);
    EXPECT_TRUE(r.docking.barDragging());
    EXPECT_EQ(r.dismissed, 1);
    EXPECT_EQ(r.docking.barAnchor(), (GlobalPoint{500, 360}));
    // Held still well past the settle: nothing is decided, in 0.2 s steps.
    for (int i = 0; i < 5; ++i)
        r.clock.advance(BarDocking::retryDelay + 0.05);
    EXPECT_TRUE(r.docking.barDragging());
    EXPECT_FALSE(r.defaults.contains(QStringLiteral("barMidX")));
    r.button = false;
    r.clock.advance(BarDocking::retryDelay + 0.01);
    EXPECT_FALSE(r.docking.barDragging());
    EXPECT_EQ(r.docking.barDock(), std::nullopt); // far from every cell
    EXPECT_EQ(r.defaults.doubleValue(QStringLiteral("barMidX")), 500.0);
}

TEST(BarDocking, SettleSnapsNearACellAnimatedOrFloatsInsideAndSavesTheKeys)
{
    Rig r;
    r.docking.restore();
    // Near the second display's top right corner.
    r.dragTo(r.cell(Dock::topRight, 1).bottomLeft() + GlobalPoint{-90, 100});
    r.clock.advance(BarDocking::settleDelay / 2);
    r.dragTo(r.cell(Dock::topRight, 1).bottomLeft() + GlobalPoint{-100, 105}); // pushes the settle back
    r.button = false;
    r.clock.advance(BarDocking::settleDelay - 0.01);
    EXPECT_TRUE(r.docking.barDragging());
    const int sets = r.panel.sets;
    r.clock.advance(0.02);
    EXPECT_EQ(r.docking.barDock(), Dock::topRight);
    EXPECT_EQ(r.docking.barDockDisplay(), 22u);
    EXPECT_EQ(r.docking.barRect(), r.cell(Dock::topRight, 1));
    EXPECT_EQ(r.panel.sets, sets + 1);
    EXPECT_TRUE(r.panel.animated);
    EXPECT_EQ(r.defaults.integer(QStringLiteral("barDock")), 8);
    EXPECT_EQ(r.defaults.integer(QStringLiteral("barDockDisplay")), 22);
    EXPECT_EQ(r.defaults.doubleValue(QStringLiteral("barTop")), r.cell(Dock::topRight, 1).top());

    // 111 pt off the nearest cell it floats, pulled inside only as far as needed.
    const GlobalPoint off = r.cell(Dock::bottomLeft, 0).bottomLeft() + GlobalPoint{111, -140};
    r.dragTo(off);
    r.button = false;
    r.clock.advance(BarDocking::settleDelay);
    EXPECT_EQ(r.docking.barDock(), std::nullopt);
    EXPECT_EQ(r.docking.barRect(), GlobalRect(GlobalPoint{off.x, 16}, QSizeF(400, 60)));
    EXPECT_FALSE(r.defaults.contains(QStringLiteral("barDock")));
    EXPECT_FALSE(r.defaults.contains(QStringLiteral("barDockDisplay")));

    // The next launch comes back to the same place.
    FakePanel again;
    BarDocking next(again, r.defaults, r.clock, {[&] { return r.displays; }, {}, {}, {}});
    again.moved = [&] { next.panelMoved(); };
    next.restore();
    EXPECT_EQ(again.frame(), r.panel.frame());
}

TEST(BarDocking, OwnMovesNeverStartADragNorClearTheCell)
{
    Rig r;
    r.defaults.setInteger(QStringLiteral("barDock"), int(Dock::bottomCenter));
    r.defaults.setInteger(QStringLiteral("barDockDisplay"), 22);
    r.docking.restore();
    EXPECT_EQ(r.docking.barRect(), r.cell(Dock::bottomCenter, 1));
    // The bar grows while the user holds the button somewhere else.
    r.button = true;
    r.panel.fit = QSizeF(660, 120);
    EXPECT_EQ(r.docking.sync(false), 1.0);
    EXPECT_EQ(r.docking.sync(true), 0.0);
    EXPECT_EQ(r.docking.barDock(), Dock::bottomCenter);
    EXPECT_FALSE(r.docking.barDragging());
    EXPECT_FALSE(r.docking.settlePending());
    EXPECT_EQ(r.docking.barRect().width(), 600);
    // A move nobody drags (the window manager) leaves the placement alone.
    r.button = false;
    r.panel.current = r.panel.current.movedTo(r.panel.current.bottomLeft() + GlobalPoint{5, 5});
    r.panel.moved();
    EXPECT_FALSE(r.docking.settlePending());
    EXPECT_EQ(r.docking.barDock(), Dock::bottomCenter);
    // The docked display goes: same cell on the screen the bar is on; it comes back: home again.
    const DisplayInfo second = r.displays[1];
    r.displays.pop_back();
    r.docking.placeBar(false);
    EXPECT_EQ(r.docking.barRect(), r.cell(Dock::bottomCenter, 0, {600, 60}));
    r.displays.push_back(second);
    r.docking.placeBar(false);
    EXPECT_EQ(r.docking.barRect(), r.cell(Dock::bottomCenter, 1, {600, 60}));
    EXPECT_EQ(r.docking.barDockDisplay(), 22u);
}

TEST(BarDocking, SettleOfAHiddenPanelEndsTheDrag)
{
    Rig r;
    r.docking.restore();
    r.dragTo({700, 500});
    r.button = false;
    r.panel.visible = false;
    r.clock.advance(BarDocking::settleDelay);
    EXPECT_FALSE(r.docking.barDragging());
    EXPECT_FALSE(r.docking.settlePending());
    EXPECT_FALSE(r.defaults.contains(QStringLiteral("barMidX")));
    // Shown again and moved by the program: no drag end is taken from it.
    r.panel.visible = true;
    r.panel.current = r.panel.current.movedTo(r.panel.current.bottomLeft() + GlobalPoint{0, 40});
    r.panel.moved();
    EXPECT_FALSE(r.docking.settlePending());
    EXPECT_EQ(r.clock.timerCount(), 0u);
}

TEST(BarDocking, RestorePullsASavedBarInsideAndTracksTheContentSize)
{
    Rig r;
    // The saved point lies on the primary display, the bar hanging from it does not.
    r.defaults.setDouble(QStringLiteral("barMidX"), 1900);
    r.defaults.setDouble(QStringLiteral("barTop"), 1078);
    r.docking.restore();
    const GlobalRect v = r.displays[0].visibleFrame.adjusted(16, 16, -16, -16);
    EXPECT_TRUE(v.contains(r.docking.barRect()));
    EXPECT_EQ(*r.docking.barAnchor(), BarPlacement::anchorOf(r.docking.barRect()));
    EXPECT_EQ(r.docking.barRect().topRight(), v.topRight()); // only as far as needed

    // A model change re-places at once only on a real size drift, and always 0.15 s later.
    const int placed = r.placed;
    r.docking.modelChanged();
    EXPECT_EQ(r.placed, placed);
    r.clock.advance(BarDocking::replaceDelay);
    EXPECT_EQ(r.placed, placed + 1);
    r.panel.fit.rwidth() += 2;
    r.docking.modelChanged();
    EXPECT_EQ(r.placed, placed + 2);
    EXPECT_EQ(r.panel.frame().size(), r.panel.fit);
}

// The real panel under the offscreen platform: frames in global points, and
// drags only from the bar's background.
TEST(ToolbarPanel, DragsFromTheBackgroundOnlyAndReportsOnlyMovesItDidNotMake)
{
    // The content draws a 400 × 60 bar inside its 30 pt margin.
    auto* content = new QWidget;
    content->setFixedSize(460, 120);
    auto* button = new QPushButton(QStringLiteral("x"), content);
    button->setGeometry(330, 40, 40, 40);
    ToolbarPanel panel(content, nullptr);
    panel.setWindowFlags(Qt::Tool | Qt::FramelessWindowHint); // what the surface kit would set
    int moves = 0;
    panel.setOnMoved([&] { ++moves; });
    EXPECT_EQ(panel.fittingSize(), QSizeF(460, 120));

    const GlobalRect frame(100, 200, 460, 120);
    panel.setFrame(frame, false);
    panel.show();
    EXPECT_EQ(panel.frame(), frame);
    EXPECT_EQ(content->geometry(), QRect(0, 0, 460, 120));
    EXPECT_EQ(moves, 0);

    auto send = [](QWidget* to, QEvent::Type type, QPoint local, QPoint global, Qt::MouseButtons buttons) {
        QMouseEvent e(type, local, global, type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                      Qt::NoModifier);
        QApplication::sendEvent(to, &e);
    };
    const QPoint start = panel.pos();
    const QPoint grab = start + QPoint(60, 60);
    // On the bar's background (the content takes no press): the window follows the cursor.
    send(content, QEvent::MouseButtonPress, {60, 60}, grab, Qt::LeftButton);
    send(&panel, QEvent::MouseMove, {60, 60}, grab + QPoint(50, -20), Qt::LeftButton);
    send(&panel, QEvent::MouseButtonRelease, {60, 60}, grab + QPoint(50, -20), Qt::NoButton);
    EXPECT_EQ(panel.pos(), start + QPoint(50, -20));
    EXPECT_EQ(moves, 1);
    EXPECT_FALSE(panel.dragging());
    // On a control, or on the transparent margin: no drag.
    for (QWidget* to : {static_cast<QWidget*>(button), content}) {
        send(to, QEvent::MouseButtonPress, {5, 5}, grab, Qt::LeftButton);
        send(&panel, QEvent::MouseMove, {60, 60}, grab + QPoint(80, 80), Qt::LeftButton);
        send(&panel, QEvent::MouseButtonRelease, {60, 60}, grab + QPoint(80, 80), Qt::NoButton);
    }
    EXPECT_EQ(panel.pos(), start + QPoint(50, -20));
    EXPECT_EQ(moves, 1);
}
