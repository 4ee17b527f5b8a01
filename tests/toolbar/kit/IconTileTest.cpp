#include "toolbar/kit/IconTile.h"
#include "toolbar/ToolbarGrab.h"

#include <QPainter>

#include <gtest/gtest.h>

using namespace corvessa;

namespace {
// A filled square in the icon frame, so its colour is easy to read back.
IconTile::IconPainter square()
{
    return [](QPainter& p, const QRectF& box, const QColor& c) { p.fillRect(box.adjusted(6, 6, -6, -6), c); };
}
} // namespace

TEST(IconTile, ActiveIconIsOrangeIdleIsDimTextAndSelectionShowsTheCard)
{
    IconTile tile(square(), 28);
    EXPECT_EQ(tile.size(), QSize(28, IconTile::height));
    const QPointF centre(14, 18);
    const QPointF corner(3, 18); // outside the icon frame, on the card

    const QImage idle = test::grabKept(tile, QStringLiteral("icontile-idle"));
    tile.setActive(true);
    const QImage active = test::grabKept(tile, QStringLiteral("icontile-active"));
    EXPECT_EQ(test::hueName(test::pixelAt(active, centre)), QStringLiteral("orange"));
    EXPECT_EQ(test::hueName(test::pixelAt(idle, centre)), QStringLiteral("unlit"));
    EXPECT_NE(test::pixelAt(idle, centre), test::pixelAt(idle, corner)) << "the idle icon is drawn";

    tile.setSelected(true);
    const QImage selected = test::grabKept(tile, QStringLiteral("icontile-selected"));
    EXPECT_NE(test::pixelAt(selected, corner), test::pixelAt(idle, corner));
    EXPECT_DOUBLE_EQ(tile.cardOpacity(), IconTile::selectedOpacity);
    tile.setSelected(false);
    EXPECT_DOUBLE_EQ(tile.cardOpacity(), 0.0) << "no card at rest";
}
