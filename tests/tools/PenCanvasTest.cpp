// Without a compositing manager the pen's canvas is shaped to what it paints:
// it must paint nothing half clear (the server would show it darkened) and
// report exactly its ink, so the desktop around it stays in sight.
#include "engine/compositor/PenBoard.h"
#include "platform/synthetic/SyntheticFloatingSurfaces.h"
#include "prefs/Prefs.h"
#include "support/TempHome.h"
#include "tools/PenOverlay.h"
#include "tools/PenView.h"
#include "tools/SolidPaint.h"

#include <QCoreApplication>
#include <QImage>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace corvessa;

TEST(SolidPaint, KeepsPixelsFromAQuarterCoverageInTheirFullColour)
{
    const QRgb colour = qRgba(200, 100, 40, 255);
    const struct {
        int alpha;
        bool kept;
    } cases[] = {{0, false}, {SolidPaint::kThreshold - 1, false}, {SolidPaint::kThreshold, true}, {128, true}, {255, true}};
    QImage image(int(std::size(cases)), 2, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    for (int x = 0; x < image.width(); ++x)
        image.setPixel(x, 0, qPremultiply(qRgba(200, 100, 40, cases[x].alpha)));
    image.setPixel(0, 1, colour);

    const QRegion solid = SolidPaint::solidify(image, {10, 20});
    EXPECT_EQ(solid, QRegion(12, 20, 3, 1) + QRegion(10, 21, 1, 1));
    for (int x = 0; x < image.width(); ++x) {
        SCOPED_TRACE(cases[x].alpha);
        const QRgb p = image.pixel(x, 0);
        if (!cases[x].kept) {
            EXPECT_EQ(p, 0u);
            continue;
        }
        EXPECT_EQ(qAlpha(p), 255);
        // Within the rounding of the premultiplied form.
        EXPECT_LE(std::abs(qRed(p) - 200) + std::abs(qGreen(p) - 100) + std::abs(qBlue(p) - 40), 12);
    }
}

TEST(PenCanvas, WithoutACompositingManagerPaintsAndReportsOnlyItsInk)
{
    test::TempHome home;
    Prefs::shared().setPenTool(0);
    Prefs::shared().setPenWidth(6);
    auto surfaces = std::make_shared<SyntheticFloatingSurfaces>();
    surfaces->setCompositing(false);
    PenBoard board;
    PenOverlay overlay(surfaces, &board);
    DisplayInfo display;
    display.frame = GlobalRect(0, 0, 800, 600);
    overlay.show(display);
    PenView* view = overlay.view();
    ASSERT_TRUE(view);
    ASSERT_TRUE(surfaces->surface(view) && surfaces->surface(view)->options.canvas);

    // Points in the view; Qt's global ones are offset by where it stands.
    const auto send = [&](QEvent::Type type, QPointF p, Qt::MouseButton button, Qt::MouseButtons buttons) {
        QMouseEvent e(type, p, p + view->geometry().topLeft(), button, buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(view, &e);
    };
    send(QEvent::MouseButtonPress, {100, 100}, Qt::LeftButton, Qt::LeftButton);
    for (int i = 1; i <= 20; ++i)
        send(QEvent::MouseMove, QPointF(100, 100) + QPointF(10, 5) * i, Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, {300, 200}, Qt::LeftButton, Qt::NoButton);
    view->grab(); // paints it, as on the screen

    const QRegion painted = surfaces->surface(view)->painted;
    for (const QPoint p : {QPoint(100, 100), QPoint(200, 150), QPoint(300, 200)})
        EXPECT_TRUE(painted.contains(p)) << p.x() << "," << p.y();
    EXPECT_TRUE(QRect(90, 90, 221, 121).contains(painted.boundingRect())) << "nothing but the stroke";
    // Half-covered edge pixels would show darkened on a server without alpha.
    const auto halfClear = [&] {
        const QImage shown = view->grab().toImage().convertToFormat(QImage::Format_ARGB32);
        int n = 0;
        for (int y = 80; y < 220; ++y) {
            for (int x = 80; x < 320; ++x)
                n += qAlpha(shown.pixel(x, y)) % 255 != 0 ? 1 : 0;
        }
        return n;
    };
    EXPECT_EQ(halfClear(), 0);

    // A manager came: the canvas is whole again and its edges blend.
    surfaces->setCompositing(true);
    EXPECT_GT(halfClear(), 0);
    overlay.hide();
}
