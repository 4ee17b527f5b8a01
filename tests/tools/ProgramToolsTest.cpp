#include "tools/CountdownDigit.h"
#include "tools/ProgramTools.h"

#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <algorithm>

using namespace corvessa;

TEST(CountdownOverlay, CentresOnTheDisplayFlippingY)
{
    const QRectF primary(0, 0, 1920, 1080);
    EXPECT_EQ(CountdownOverlay::origin(GlobalRect(0, 0, 1920, 1080), primary), QPoint(780, 360));
    // Right of the primary and reaching above it: global y up, so its top sits
    // 144 points above the primary's top in Qt's coordinates.
    EXPECT_EQ(CountdownOverlay::origin(GlobalRect(1920, 200, 1280, 1024), primary), QPoint(2380, 188));
    // Below the primary (negative global y).
    EXPECT_EQ(CountdownOverlay::origin(GlobalRect(0, -768, 1366, 768), primary), QPoint(503, 1284));
}

TEST(CountdownOverlay, SpringOvershootsSlightlyAndSettles)
{
    double peak = 0;
    for (double t = 0; t <= CountdownDigit::settleSeconds; t += 0.005)
        peak = std::max(peak, CountdownDigit::spring(t));
    EXPECT_EQ(CountdownDigit::spring(0), 0);
    EXPECT_GT(peak, 1.0);
    EXPECT_LT(peak, 1.1);
    EXPECT_NEAR(CountdownDigit::spring(CountdownDigit::settleSeconds), 1.0, 0.001);
}

TEST(ProgramTools, CountdownReusesItsWindowReplaysThePopAndHideDropsIt)
{
    QStringList log;
    ProgramTools tools({}, [&](const QString& line) { log << line; }, [] { return false; });
    DisplayInfo display;
    display.frame = GlobalRect(0, 0, 1280, 800);

    tools.showCountdown(3, display);
    CountdownDigit* window = tools.countdown().window();
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->windowFlags() & Qt::WindowTransparentForInput);
    EXPECT_TRUE(window->testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_TRUE(window->isShaped()) << "no compositing manager";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->isPopping(); }, 10000));
    EXPECT_EQ(window->popProgress(), 1.0);
    EXPECT_FALSE(window->mask().isEmpty()) << "the settled digit keeps its inked pixels";

    tools.showCountdown(2, display);
    EXPECT_EQ(tools.countdown().window(), window) << "one window, step after step";
    EXPECT_EQ(window->number(), 2);
    EXPECT_TRUE(window->isPopping()) << "each number pops in afresh";
    EXPECT_LT(window->popProgress(), 1.0);

    tools.hideCountdown();
    EXPECT_FALSE(tools.countdown().window());

}
