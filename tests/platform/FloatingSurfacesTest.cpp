#include "platform/PlatformLoader.h"
#include "platform/synthetic/SyntheticFloatingSurfaces.h"
#include "platform/synthetic/SyntheticOutsideClickMonitor.h"
#include "platform/x11/X11FloatingSurfaces.h"

#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

using namespace corvessa;

// Levels first, then the latest raise within a level; hidden and destroyed
// surfaces drop out. Only override-redirect surfaces bypass the manager.
TEST(SyntheticFloatingSurfaces, StacksByLevelThenByRaise)
{
    SyntheticFloatingSurfaces kit;
    QWidget toolbar, card, menu, tip;
    auto gone = std::make_unique<QWidget>();
    kit.prepare(&toolbar, {SurfaceLevel::floating, false, false});
    kit.prepare(&card, {SurfaceLevel::floating, false, false});
    kit.prepare(&menu, {SurfaceLevel::popUpMenu, true, false});
    kit.prepare(&tip, {SurfaceLevel::status, true, true});
    kit.prepare(gone.get(), {SurfaceLevel::overlay, true, false});
    for (QWidget* w : {&tip, &menu, &card, &toolbar, gone.get()})
        w->show();

    kit.raise(&card);
    kit.raise(&toolbar);
    EXPECT_EQ(kit.stackingOrder(), (std::vector<QWidget*>{&card, &toolbar, &menu, &tip, gone.get()}));
    kit.raise(&card);
    gone.reset();
    tip.hide();
    EXPECT_EQ(kit.stackingOrder(), (std::vector<QWidget*>{&toolbar, &card, &menu}));

    for (QWidget* w : {&toolbar, &menu}) {
        const Qt::WindowFlags flags = w->windowFlags();
        EXPECT_TRUE(flags.testFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus));
        EXPECT_EQ(flags.testFlag(Qt::X11BypassWindowManagerHint), w == &menu);
        EXPECT_TRUE(w->testAttribute(Qt::WA_TranslucentBackground) && w->testAttribute(Qt::WA_ShowWithoutActivating));
    }
}

// Unprepared and null windows are ignored rather than half-handled; what a
// surface asked for is kept.
TEST(SyntheticFloatingSurfaces, RemembersRequestsOfPreparedSurfacesOnly)
{
    SyntheticFloatingSurfaces kit;
    QWidget stranger, bubble;
    for (QWidget* w : {static_cast<QWidget*>(nullptr), &stranger}) {
        kit.raise(w);
        kit.setClickThrough(w, true);
        kit.setVisibleRegion(w, QRegion(0, 0, 5, 5));
        EXPECT_EQ(kit.surface(w), nullptr);
    }
    kit.prepare(nullptr, {});
    kit.prepare(&bubble, {});
    kit.setClickThrough(&bubble, true);
    kit.setVisibleRegion(&bubble, QRegion(0, 0, 40, 40, QRegion::Ellipse));
    ASSERT_TRUE(kit.surface(&bubble));
    EXPECT_TRUE(kit.surface(&bubble)->options.clickThrough);
    EXPECT_EQ(kit.surface(&bubble)->visible, QRegion(0, 0, 40, 40, QRegion::Ellipse));
}

// A handler may drop its own subscription while told, and a subscription may
// outlive its monitor.
TEST(SyntheticOutsideClickMonitor, SubscriptionsComeAndGoSafely)
{
    auto monitor = std::make_unique<SyntheticOutsideClickMonitor>();
    int kept = 0, once = 0;
    auto keep = monitor->observe([&](const QPointF& p, int button) {
        EXPECT_EQ(p, QPointF(10, 20));
        EXPECT_EQ(button, 3);
        ++kept;
    });
    std::unique_ptr<OutsideClickMonitor::Subscription> single;
    single = monitor->observe([&](const QPointF&, int) {
        ++once;
        single.reset();
    });
    monitor->press(QPointF(10, 20), 3);
    monitor->press(QPointF(10, 20), 3);
    EXPECT_EQ(kept, 2);
    EXPECT_EQ(once, 1);
    EXPECT_EQ(monitor->observerCount(), 1);
    monitor.reset();
    keep.reset();
}

// Off X (these tests' offscreen platform) the loader hands out the twins, and
// the X11 kit sets its flags and touches nothing else.
TEST(PlatformLoader, FloatingSurfacesOffX)
{
    EXPECT_TRUE(std::dynamic_pointer_cast<SyntheticFloatingSurfaces>(PlatformLoader::loadFloatingSurfaces()));
    EXPECT_EQ(PlatformLoader::loadFloatingSurfaces(), PlatformLoader::loadFloatingSurfaces());
    EXPECT_TRUE(std::dynamic_pointer_cast<SyntheticOutsideClickMonitor>(PlatformLoader::loadOutsideClickMonitor()));

    X11FloatingSurfaces kit;
    QWidget menu;
    kit.prepare(&menu, {SurfaceLevel::popUpMenu, true, true});
    menu.show();
    kit.raise(&menu);
    kit.setClickThrough(&menu, false);
    kit.setVisibleRegion(&menu, QRegion(0, 0, 10, 10));
    EXPECT_FALSE(kit.compositing());
    EXPECT_TRUE(menu.windowFlags().testFlag(Qt::X11BypassWindowManagerHint));
}
