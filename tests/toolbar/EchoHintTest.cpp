#include "toolbar/EchoHintController.h"
#include "toolbar/HintView.h"
#include "toolbar/ToolbarPanel.h"

#include <QLabel>

#include <gtest/gtest.h>

namespace corvessa {
namespace {

// A 1280 × 775 visible frame above a 25 pt panel.
const GlobalRect visible(0, 25, 1280, 775);
const QSizeF card(300, 40);

TEST(EchoHintPlacement, AboveTheBarElseBelowAndInsideTheScreen)
{
    const GlobalRect bar(500, 200, 280, 56);
    GlobalPoint o = EchoHintController::placedOrigin(bar, card, visible);
    EXPECT_EQ(o.y, bar.top() + EchoHintController::gap);
    EXPECT_EQ(o.x + card.width() / 2, bar.center().x);

    // Docked at the top: no room above.
    const GlobalRect top(500, visible.top() - 16 - 56, 280, 56);
    o = EchoHintController::placedOrigin(top, card, visible);
    EXPECT_EQ(o.y + card.height() + EchoHintController::gap, top.bottom());

    // Near the left edge: 8 pt inside; wider than the screen: the right inset wins.
    EXPECT_EQ(EchoHintController::placedOrigin(GlobalRect(0, 200, 100, 56), card, visible).x, visible.left() + 8);
    const QSizeF wide(2000, 40);
    EXPECT_EQ(EchoHintController::placedOrigin(bar, wide, visible).x, visible.right() - wide.width() - 8);
}

TEST(HintViewLayout, PaddingAloneWhenEmptyAndOneRowPerHint)
{
    const HintView empty({});
    const int frame = 2 * HintView::margin;
    EXPECT_EQ(empty.size(), QSize(frame + 2 * HintView::padX, frame + 2 * HintView::padY));

    const std::vector<Hint> hints = {{QStringLiteral("headphones"), QStringLiteral("Same text")},
                                     {QStringLiteral("mic.slash"), QStringLiteral("Same text")}};
    const HintView view(hints);
    const auto texts = view.findChildren<QLabel*>(QStringLiteral("hintText"));
    ASSERT_EQ(texts.size(), 2) << "a different icon makes a different row";
    EXPECT_GE(view.width(), frame + 2 * HintView::padX + texts[0]->sizeHint().width());
    EXPECT_LT(texts[0]->geometry().bottom(), texts[1]->geometry().top());
    EXPECT_EQ(texts[0]->x(), texts[1]->x()) << "leading-aligned";
}

TEST(EchoHintController, ShowsWhileAllowedAndRebuildsOnlyOnChange)
{
    ToolbarPanel panel(new QWidget, nullptr);
    panel.resize(400, 120);
    EchoHintController echo(panel, {});
    const std::vector<Hint> hints = {{QStringLiteral("headphones"), QStringLiteral("Echo")}};

    echo.update({}, true, false);
    EXPECT_FALSE(echo.card()) << "no card for an empty list";
    echo.update(hints, true, false);
    ASSERT_TRUE(echo.card());
    EXPECT_TRUE(echo.card()->isVisible());
    echo.update(hints, true, false);
    EXPECT_EQ(echo.builds(), 1);

    echo.update(hints, false, false);
    EXPECT_FALSE(echo.card()->isVisible());
    echo.update(hints, true, true);
    EXPECT_FALSE(echo.card()->isVisible()) << "hidden while a confirmation is open";
    echo.update(hints, true, false);
    EXPECT_TRUE(echo.card()->isVisible());
    EXPECT_EQ(echo.builds(), 1);

    echo.update({{QStringLiteral("mic.slash"), QStringLiteral("Echo")}}, true, false);
    EXPECT_EQ(echo.builds(), 2);
    EXPECT_EQ(echo.hintShown().front().icon, QStringLiteral("mic.slash"));
}

} // namespace
} // namespace corvessa
