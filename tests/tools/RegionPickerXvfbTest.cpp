// The region picker on a real X server with openbox: a click gives the default
// fraction of the area centred there, Esc cancels, and both end with the
// "[region]" log lines. Beside it the magnifier's card: a click on its controls
// keeps it open, one outside closes it. The test program's own Qt runs offscreen, so the checks
// run in a second run of the program on the private server (the disabled test).
#include "platform/core/ScreenCoordinates.h"
#include "prefs/Prefs.h"
#include "support/DrivenTest.h"
#include "support/OnServerTest.h"
#include "support/ServiceScope.h"
#include "support/TempHome.h"
#include "support/WindowManager.h"
#include "support/XvfbTest.h"
#include "tools/MagnifierPanel.h"
#include "tools/ProgramTools.h"
#include "tools/RegionPicker.h"
#include "tools/RegionRules.h"

#include <QGuiApplication>
#include <QAbstractButton>
#include <QScreen>
#include <QWindow>

#include <gtest/gtest.h>

#include <X11/keysym.h>

namespace corvessa::test {
namespace {

class RegionPickerXvfbTest : public XvfbTest {};

TEST_F(RegionPickerXvfbTest, ClickPicksAndEscCancelsOnTheServer) { runOnServer("RegionPickerOnX.DISABLED_Picks"); }
TEST_F(RegionPickerXvfbTest, MagnifierCardOnTheServer) { runOnServer("RegionPickerOnX.DISABLED_MagnifierCard"); }

class RegionPickerOnX : public OnServerTest {
protected:
    bool opened(RegionPicker& picker)
    {
        return waitFor([&] {
            return picker.view() && picker.view()->windowHandle() && picker.view()->windowHandle()->isExposed()
                   && !keyboardFree();
        });
    }

};

ON_SERVER_TEST_F(RegionPickerOnX, Picks)
{
    QStringList lines;
    ProgramTools tools({}, [&](const QString& line) { lines << line; });
    const QRectF primary(QGuiApplication::primaryScreen()->geometry());
    const ScreenCoordinates coords(primary);
    // A window recording: the area is part of the screen.
    const GlobalRect area(100, 120, 800, 500);
    std::optional<std::optional<GlobalRect>> result;
    tools.pickRegion(area, 0.3, [&](std::optional<GlobalRect> r) { result = r; });
    ASSERT_TRUE(opened(tools.regionPicker())) << "veil shown, keyboard held";
    EXPECT_TRUE(tools.isRegionPickOpen());

    const GlobalPoint click = coords.toGlobalPoint(QPointF(300, 500));
    ASSERT_TRUE(area.contains(click));
    move(QPoint(300, 500));
    screenshot(QStringLiteral("region-picker.png"));
    button(true);
    button(false);
    ASSERT_TRUE(waitFor([&] { return result.has_value(); }));
    ASSERT_TRUE(*result);
    const GlobalRect expected = RegionRules::fitted(area, click, 0.3);
    EXPECT_EQ(**result, expected);
    EXPECT_TRUE(waitFor([&] { return keyboardFree(); })) << "the keyboard is let go";
    EXPECT_FALSE(tools.isRegionPickOpen());
    ASSERT_EQ(lines.size(), 2) << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("[region] pick start region=(100.0, 120.0, 800.0, 500.0) screen=%1")
                            .arg(RegionRules::describe(coords.toGlobalRect(primary))));
    EXPECT_EQ(lines[1], QStringLiteral("[region] finish rect=") + RegionRules::describe(expected));

    // Esc cancels.
    result.reset();
    tools.pickRegion(area, 0.3, [&](std::optional<GlobalRect> r) { result = r; });
    ASSERT_TRUE(opened(tools.regionPicker()));
    key(XK_Escape);
    ASSERT_TRUE(waitFor([&] { return result.has_value(); }));
    EXPECT_FALSE(*result);
    EXPECT_EQ(lines.last(), QStringLiteral("[region] finish rect=nil"));
    EXPECT_TRUE(waitFor([&] { return keyboardFree(); }));
}

ON_SERVER_TEST_F(RegionPickerOnX, MagnifierCard)
{
    TempHome home;
    ServiceScope freshPrefs{Prefs::resetShared};
    {
        ProgramTools tools;
        const QRect anchor(600, 700, 24, 24);
        std::vector<int> asked;
        tools.openMagnifierPanel(anchor, [&](int mode) { asked.push_back(mode); });
        MagnifierPanel& panel = tools.magnifierPanel();
        ASSERT_TRUE(waitFor([&] {
            return panel.view() && panel.view()->windowHandle() && panel.view()->windowHandle()->isExposed();
        }));
        EXPECT_LT(panel.view()->geometry().bottom() - MagnifierPanelView::margin, anchor.top()) << "above the button";
        WindowManager::keepScreenshot(QStringLiteral("magnifier-card.png"));

        QAbstractButton* region = panel.view()->modeButton(1);
        click(region->mapToGlobal(region->rect().center()));
        ASSERT_TRUE(waitFor([&] { return !asked.empty(); }));
        EXPECT_EQ(asked, std::vector<int>{1});
        EXPECT_TRUE(panel.isOpen()) << "a click on the card keeps it";

        click(QPoint(100, 100));
        ASSERT_TRUE(waitFor([&] { return !panel.isOpen(); }));
        EXPECT_EQ(panel.outsideClose().closedAnchor(), QRectF(anchor));
    }
}

} // namespace
} // namespace corvessa::test
