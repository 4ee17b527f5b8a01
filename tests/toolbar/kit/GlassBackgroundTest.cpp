#include "toolbar/kit/GlassBackground.h"
#include "toolbar/kit/GlassPanel.h"
#include "toolbar/ToolbarGrab.h"
#include "support/Artifacts.h"
#include "support/ImageCoverage.h"

#include <QPainter>

#include <gtest/gtest.h>

#include <limits>

using namespace corvessa;

namespace {

constexpr int margin = 26;

QImage card(double radius, QRectF rect = QRectF(margin, margin, 160, 80))
{
    QImage img(212, 132, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    GlassBackground::paint(p, rect, radius);
    return img;
}

} // namespace

TEST(GlassBackground, CardIsNearlyOpaqueRoundedAndItsShadowStaysInTheMargin)
{
    const QImage round = card(24);
    const QImage square = card(0);
    if (const QString kept = test::Artifacts::path(QStringLiteral("glass-24.png")); !kept.isEmpty())
        round.save(kept);

    // The card's body carries the base colour at its opacity.
    EXPECT_GT(qAlpha(round.pixel(106, 66)), 200);
    // Radius 0 fills the corner; a rounded card leaves it to the shadow.
    EXPECT_GT(qAlpha(square.pixel(margin + 1, margin + 1)), 200);
    EXPECT_LT(qAlpha(round.pixel(margin + 1, margin + 1)), 100);

    // The shadow shows just outside the card, below more than above, and never
    // beyond its reach.
    const int below = margin + 80 + 2, above = margin - 3;
    EXPECT_GT(qAlpha(round.pixel(106, below)), 0);
    EXPECT_GT(qAlpha(round.pixel(106, below)), qAlpha(round.pixel(106, above)));
    const int reach = int(GlassBackground::shadowExtent + GlassBackground::shadowOffsetY) + 1;
    EXPECT_EQ(qAlpha(round.pixel(106, margin + 80 + reach)), 0);
    EXPECT_EQ(qAlpha(round.pixel(0, 0)), 0);

    // A panel keeps its children on the card.
    GlassPanel panel(14, margin);
    EXPECT_EQ(panel.contentsMargins(), QMargins(margin, margin, margin, margin));
    panel.resize(200, 100);
    EXPECT_EQ(panel.cardRect(), QRectF(margin, margin, 200 - 2 * margin, 100 - 2 * margin));
}

TEST(GlassBackground, NonsenseRadiiAndRectsAreHeldOrPaintNothing)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const QRectF r(0, 0, 100, 40);
    EXPECT_EQ(GlassBackground::usableRadius(r, nan), 0);
    EXPECT_EQ(GlassBackground::usableRadius(r, -5), 0);
    EXPECT_EQ(GlassBackground::usableRadius(r, 1000), 20);
    EXPECT_EQ(card(nan).pixel(margin + 1, margin + 1), card(0).pixel(margin + 1, margin + 1));
    for (const QRectF& bad : {QRectF(), QRectF(10, 10, -5, 20), QRectF(10, 10, nan, 20)})
        EXPECT_TRUE(corvessa::test::touched(card(8, bad)).isEmpty());
}
