#include "platform/synthetic/SyntheticFloatingSurfaces.h"
#include "platform/synthetic/SyntheticOutsideClickMonitor.h"
#include "tools/PaletteView.h"
#include "tools/PenPalettePanel.h"

#include <QtTest/QTest>

#include <gtest/gtest.h>

using namespace corvessa;

TEST(PenPalettePanel, TheCardOpensBesideTheSwatchAndStaysOnTheScreen)
{
    const QRect visible(0, 0, 1280, 800);
    const QSize size = PaletteView::fittingSize();
    const int m = PaletteView::margin;
    const int gap = PenPalettePanel::gap;
    // Swatch at the bottom: the card's visible edge sits `gap` above it.
    const QRect bottom(600, 760, 20, 20);
    EXPECT_EQ(PenPalettePanel::placedOrigin(visible, bottom, size, m).y() + size.height() - m, bottom.y() - gap);
    // Little room above and more below: it opens below.
    const QRect top(600, 40, 20, 20);
    EXPECT_EQ(PenPalettePanel::placedOrigin(visible, top, size, m).y() + m, top.y() + top.height() + gap);
    // At the right edge the card keeps `gap` from it.
    const QPoint right = PenPalettePanel::placedOrigin(visible, QRect(1270, 400, 10, 10), size, m);
    EXPECT_EQ(right.x() + size.width() - m, visible.width() - gap);
}

TEST(PenPalettePanel, OutsidePressesCloseItWithoutReopeningAndAChoiceIsTaken)
{
    double now = 100;
    int chosen = -1;
    auto clicks = std::make_shared<SyntheticOutsideClickMonitor>();
    PenPalettePanel palette(std::make_shared<SyntheticFloatingSurfaces>(), clicks, [&] { return now; },
                            [&](int i) { chosen = i; });
    const QRect swatch(600, 760, 20, 20);

    palette.open(swatch);
    ASSERT_TRUE(palette.isOpen());
    clicks->press(swatch.center());
    EXPECT_TRUE(palette.isOpen()) << "the late report of the opening press";

    now += 1;
    // Under the card's transparent margin, which takes no clicks.
    clicks->press(swatch.center());
    EXPECT_FALSE(palette.isOpen());
    palette.open(swatch);
    EXPECT_FALSE(palette.isOpen()) << "the press that closed it does not reopen it";
    now += 0.2;
    palette.open(swatch);
    ASSERT_TRUE(palette.isOpen());

    QWidget* window = palette.window();
    QTest::mouseClick(window, Qt::LeftButton, {}, PaletteView::cellRect(7).center());
    EXPECT_EQ(chosen, 7);
    EXPECT_FALSE(palette.isOpen());
}
