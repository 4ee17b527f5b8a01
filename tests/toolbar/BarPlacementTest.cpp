#include "platform/core/UserDefaults.h"
#include "toolbar/BarPlacement.h"
#include "toolbar/ToolbarMagnet.h"
#include "toolbar/DisplayLayouts.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corvessa;
using namespace corvessa::test;
using Dock = ToolbarMagnet::Dock;

namespace {

const QSizeF bar(400, 60);
const GlobalRect visible(0, 0, 1920, 1055);

GlobalRect at(const GlobalPoint& origin, const QSizeF& size = bar)
{
    return GlobalRect(origin, size);
}

bool inside(const GlobalRect& r, const GlobalRect& v, double inset)
{
    return v.adjusted(inset, inset, -inset, -inset).contains(r);
}

// The bar with its bottom-left corner at `origin`.
GlobalRect barAt(const GlobalPoint& origin, const QSizeF& size = bar)
{
    return GlobalRect(origin, size);
}

} // namespace

TEST(ToolbarMagnet, EveryCellSnapsWithin110PointsInclusiveAndNotAt111)
{
    for (const Dock cell : ToolbarMagnet::all) {
        const GlobalPoint origin = ToolbarMagnet::cellOrigin(cell, bar, visible, BarPlacement::margin);
        EXPECT_TRUE(inside(at(origin), visible, BarPlacement::margin)) << int(cell);
        EXPECT_EQ(ToolbarMagnet::fromRaw(int(cell)), cell);
        for (const GlobalPoint offset :
             {GlobalPoint{110, 0}, GlobalPoint{-110, 110}, GlobalPoint{0, -110}, GlobalPoint{0, 0}})
            EXPECT_EQ(ToolbarMagnet::nearest(at(origin + offset), visible, 16, 110), cell) << int(cell);
        for (const GlobalPoint offset : {GlobalPoint{111, 0}, GlobalPoint{0, -111}, GlobalPoint{111, 111}})
            EXPECT_EQ(ToolbarMagnet::nearest(at(origin + offset), visible, 16, 110), std::nullopt) << int(cell);
    }
    // Between two cells the nearer one wins.
    const GlobalPoint left = ToolbarMagnet::cellOrigin(Dock::bottomLeft, bar, visible, 16);
    EXPECT_EQ(ToolbarMagnet::nearest(at(left + GlobalPoint{100, 0}), visible, 16, 110), Dock::bottomLeft);
    EXPECT_EQ(ToolbarMagnet::fromRaw(9), std::nullopt);
    EXPECT_EQ(ToolbarMagnet::fromRaw(-1), std::nullopt);
}

TEST(ToolbarMagnet, CellsThatCoincideOnATooSmallScreenGoToTheLowerRawValue)
{
    // Narrower than the bar: the three columns share one x.
    const GlobalRect narrow(0, 0, 300, 1000);
    const GlobalPoint bottom = ToolbarMagnet::cellOrigin(Dock::bottomRight, bar, narrow, 16);
    EXPECT_EQ(bottom, ToolbarMagnet::cellOrigin(Dock::bottomLeft, bar, narrow, 16));
    EXPECT_EQ(ToolbarMagnet::nearest(at(bottom), narrow, 16, 110), Dock::bottomLeft);
    const GlobalPoint middle = ToolbarMagnet::cellOrigin(Dock::center, bar, narrow, 16);
    EXPECT_EQ(ToolbarMagnet::nearest(at(middle), narrow, 16, 110), Dock::middleLeft);
    // Smaller both ways: all nine coincide, bottom left wins.
    const GlobalRect tiny(0, 0, 100, 40);
    EXPECT_EQ(ToolbarMagnet::nearest(at(ToolbarMagnet::cellOrigin(Dock::topRight, bar, tiny, 16)), tiny, 16, 110),
              Dock::bottomLeft);
}

TEST(BarPlacement, ScreenIsTheOneHoldingTheLargerPartElseTheNearestCentre)
{
    const auto displays = twoDisplays();
    EXPECT_EQ(BarPlacement::barScreen(displays, barAt({1600, 500}))->id, 11u); // 320 of 400 on the primary
    EXPECT_EQ(BarPlacement::barScreen(displays, barAt({1800, 500}))->id, 22u); // 280 on the second
    EXPECT_EQ(BarPlacement::barScreen(displays, barAt({1720, 500}))->id, 11u); // equal parts: the earlier
    EXPECT_EQ(BarPlacement::barScreen(displays, barAt({3400, 900}))->id, 22u); // beyond the right edge
    EXPECT_EQ(BarPlacement::barScreen(displays, barAt({-900, -400}))->id, 11u);
    EXPECT_EQ(BarPlacement::barScreen({}, barAt({0, 0})), nullptr);
}

TEST(BarPlacement, OnScreenKeepsTheBar16PointsInsideAndTheLeftAndBottomWinWhenTooBig)
{
    const auto displays = twoDisplays();
    const GlobalRect v = displays[0].visibleFrame;
    EXPECT_EQ(BarPlacement::onScreen(displays, barAt({500, 500})), barAt({500, 500})); // already inside
    const GlobalRect pulled = BarPlacement::onScreen(displays, barAt({1700, 1040}));
    EXPECT_EQ(pulled, barAt({v.right() - 16 - bar.width(), v.top() - 16 - bar.height()}));
    EXPECT_TRUE(v.adjusted(16, 16, -16, -16).contains(BarPlacement::onScreen(displays, barAt({-300, -50}))));
    const GlobalRect huge = BarPlacement::onScreen(displays, barAt({-10, -10}, QSizeF(3000, 2000)));
    EXPECT_EQ(huge.bottomLeft(), (GlobalPoint{16, 16}));
    EXPECT_EQ(huge.size(), QSizeF(3000, 2000));
    EXPECT_EQ(BarPlacement::onScreen({}, barAt({-5000, 9000})), barAt({-5000, 9000}));
}

TEST(BarPlacement, RestoreTrustsOnlyAnchorsOnADisplayAndWholeCells)
{
    QTemporaryDir dir;
    UserDefaults d(dir.filePath(QStringLiteral("defaults.json")));
    auto displays = twoDisplays();
    const GlobalPoint standard{960, 180};
    EXPECT_EQ(BarPlacement::restore(d, displays), (BarPlacement::Placement{standard, {}, {}}));
    EXPECT_EQ(BarPlacement::restore(d, {}).anchor, (GlobalPoint{640, 180}));
    std::swap(displays[0], displays[1]); // the primary need not come first
    EXPECT_EQ(BarPlacement::restore(d, displays).anchor, standard);

    d.setDouble(QStringLiteral("barMidX"), 2500);
    d.setDouble(QStringLiteral("barTop"), 1040); // 10 below lies above the second display
    EXPECT_EQ(BarPlacement::restore(d, displays).anchor, standard);
    d.setDouble(QStringLiteral("barTop"), 1020);
    EXPECT_EQ(BarPlacement::restore(d, displays).anchor, (GlobalPoint{2500, 1020}));

    d.setInteger(QStringLiteral("barDockDisplay"), 22);
    for (const QJsonValue& bad : {QJsonValue(9), QJsonValue(-1), QJsonValue(2.5), QJsonValue(QStringLiteral("3"))}) {
        if (bad.isString())
            d.setString(QStringLiteral("barDock"), bad.toString());
        else
            d.setDouble(QStringLiteral("barDock"), bad.toDouble());
        const auto p = BarPlacement::restore(d, displays);
        EXPECT_EQ(p.dock, std::nullopt) << bad.toVariant().toString().toStdString();
        EXPECT_EQ(p.dockDisplay, std::nullopt);
    }
    d.setInteger(QStringLiteral("barDock"), 4);
    EXPECT_EQ(BarPlacement::restore(d, displays), (BarPlacement::Placement{{2500, 1020}, Dock::center, 22u}));
}
