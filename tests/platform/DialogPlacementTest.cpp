#include "platform/DialogPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include <gtest/gtest.h>

using namespace corvessa;

TEST(DialogPlacement, CentresALittleAboveTheMiddle)
{
    // 1920x1080 usable: centre (960, 540), raised by 4 % of 1080 = 43.2.
    EXPECT_EQ(DialogPlacement::placedOrigin(QRect(0, 0, 1920, 1080), QSize(400, 200)), QPoint(760, 397));
    // Odd sizes land on whole pixels, halves away from zero: 960 - 200.5 = 759.5.
    EXPECT_EQ(DialogPlacement::placedOrigin(QRect(0, 0, 1920, 1080), QSize(401, 201)), QPoint(760, 396));
    // A screen left of and above the primary one, with a panel taking its top 32 pixels.
    EXPECT_EQ(DialogPlacement::placedOrigin(QRect(-1280, -992, 1280, 992), QSize(401, 200)), QPoint(-841, -636));
    // A dialog larger than the screen still centres (and overhangs).
    EXPECT_EQ(DialogPlacement::placedOrigin(QRect(0, 0, 800, 600), QSize(1000, 700)), QPoint(-100, -74));
}

TEST(DialogPlacement, PicksTheScreenUnderThePointer)
{
    // Primary at the origin, a second screen to its left and higher, a gap between them.
    const QList<QRect> screens{QRect(0, 0, 1920, 1080), QRect(-1300, -200, 1280, 1024)};
    EXPECT_EQ(DialogPlacement::screenIndex(QPoint(100, 100), screens, -1, 0), 0);
    EXPECT_EQ(DialogPlacement::screenIndex(QPoint(-1300, -200), screens, -1, 0), 1);
    EXPECT_EQ(DialogPlacement::screenIndex(QPoint(-10, 500), screens, 1, 0), 1) << "in the gap: the focused window's screen";
    EXPECT_EQ(DialogPlacement::screenIndex(QPoint(-10, 500), screens, -1, 0), 0) << "else the primary";
    EXPECT_EQ(DialogPlacement::screenIndex(QPoint(5000, 5000), {}, -1, -1), -1);
}

TEST(DialogPlacement, AFocusedWindowIsOnTheScreenItStandsOn)
{
    // A display that went away and came back: the toolkit still says the bar is on the primary.
    const QList<QRect> screens{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
    EXPECT_EQ(DialogPlacement::windowScreenIndex(QRect(2200, 900, 600, 60), screens, 0), 1);
    EXPECT_EQ(DialogPlacement::windowScreenIndex(QRect(1900, 500, 10, 10), screens, 1), 0) << "by its centre";
    EXPECT_EQ(DialogPlacement::windowScreenIndex(QRect(5000, 5000, 10, 10), screens, 1), 1) << "off every screen";
}

TEST(DialogPlacement, PresentRegistersKeepsOnTopAndPlaces)
{
    QList<QWindow*> registered;
    DialogPlacement::setRegistrar([&](QWindow* w) { registered << w; });
    QWindow window;
    window.resize(301, 151);
    DialogPlacement::present(&window);
    DialogPlacement::setRegistrar({});

    EXPECT_EQ(registered, QList<QWindow*>{&window});
    EXPECT_TRUE(window.flags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(window.isVisible()) << "the owner shows it";
    QScreen* screen = DialogPlacement::currentScreen();
    ASSERT_TRUE(screen);
    EXPECT_EQ(window.screen(), screen);
    EXPECT_EQ(window.framePosition(), DialogPlacement::placedOrigin(screen->availableGeometry(), QSize(301, 151)));

    DialogPlacement::present(nullptr); // harmless
}
