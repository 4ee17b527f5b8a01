// The dim overlay on a real X server, with and without a compositing manager:
// the veil lets clicks through to the window beneath it, leaves the followed
// window clear and never blacks out the desktop. The test program's own Qt
// runs offscreen, so the check runs in a second run of it on the private
// server (the disabled test below).
#include "platform/PlatformLoader.h"
#include "support/ChildProcess.h"
#include "support/XvfbTest.h"
#include "tools/DimView.h"
#include "tools/RangeDimOverlay.h"

#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace corvessa::test {
namespace {

class RangeDimOverlayXvfb : public XvfbTest, public ::testing::WithParamInterface<bool> {};

TEST_P(RangeDimOverlayXvfb, ClickThroughAndFollowsTheWindow)
{
    runOnServer(QStringLiteral("RangeDimOverlayOnX.DISABLED_Veil"),
                {QStringLiteral("CORVESSA_TEST_COMPOSITOR=") + (GetParam() ? QLatin1String("1") : QLatin1String("0"))});
}
INSTANTIATE_TEST_SUITE_P(Compositor, RangeDimOverlayXvfb, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "WithCompositor" : "WithoutCompositor"; });

Display* qtDisplay()
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->display() : nullptr;
}

// A plain coloured window past any window manager.
void place(QWidget& w, const QRect& geometry, const QColor& colour)
{
    w.setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    w.setStyleSheet(QStringLiteral("background: %1; border: none;").arg(colour.name()));
    w.setGeometry(geometry);
    w.show();
}

QColor pixel(const QPoint& p)
{
    return QGuiApplication::primaryScreen()->grabWindow(0, p.x(), p.y(), 1, 1).toImage().pixelColor(0, 0);
}

TEST(RangeDimOverlayOnX, DISABLED_Veil)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "runs only on the private X server";
    Display* x = qtDisplay();
    ASSERT_TRUE(x);
    const bool compositor = qEnvironmentVariable("CORVESSA_TEST_COMPOSITOR") == QLatin1String("1");
    std::unique_ptr<ChildProcess> cm;
    if (compositor) {
        cm = ChildProcess::start(QStringLiteral("xcompmgr"), {});
        if (!cm)
            GTEST_SKIP() << "xcompmgr is not installed";
        ASSERT_TRUE(QTest::qWaitFor([&] { return PlatformLoader::compositingActive(); }, 15000));
    }

    QPushButton beneath;
    place(beneath, QRect(100, 450, 300, 200), QColor(240, 240, 240));
    int presses = 0;
    QObject::connect(&beneath, &QPushButton::pressed, [&] { ++presses; });
    QWidget target;
    place(target, QRect(600, 100, 400, 250), QColor(250, 250, 250));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&beneath) && QTest::qWaitForWindowExposed(&target));
    QTest::qWait(300);
    const QPoint onBeneath(130, 480);
    const QColor before = pixel(onBeneath);

    RangeDimOverlay overlay({PlatformLoader::loadFloatingSurfaces(), {}, {}, {}});
    overlay.set(DimTarget::window(uint32_t(target.winId()), QSizeF(target.size())));
    ASSERT_TRUE(overlay.following());
    DimView* view = nullptr;
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* d = dynamic_cast<DimView*>(w); d && d->isVisible() && d->hole())
                    view = d;
            return view != nullptr;
        },
        15000));
    EXPECT_EQ(view->veiled(), compositor);
    EXPECT_EQ(view->hole(), QRectF(QRect(600, 100, 400, 250).translated(-screen.topLeft())));
    QTest::qWait(300);

    // A click on the veil reaches the window beneath.
    XTestFakeMotionEvent(x, -1, onBeneath.x() + 20, onBeneath.y() + 20, CurrentTime);
    XSync(x, False);
    QTest::qWait(200);
    XTestFakeButtonEvent(x, 1, True, CurrentTime);
    XTestFakeButtonEvent(x, 1, False, CurrentTime);
    XFlush(x);
    EXPECT_TRUE(QTest::qWaitFor([&] { return presses > 0; }, 30000));

    // With a compositor the surroundings are darkened; without one the desktop
    // shows as it was and only the frame around the hole is drawn.
    const QColor after = pixel(onBeneath);
    if (compositor)
        EXPECT_LT(after.lightness(), before.lightness() - 60) << after.name().toStdString();
    else
        EXPECT_NEAR(after.lightness(), before.lightness(), 8) << after.name().toStdString();
    const QColor inside = pixel(QPoint(800, 225));
    EXPECT_GT(inside.lightness(), 230) << "the target stays clear";
    if (!compositor)
        EXPECT_GT(pixel(QPoint(598, 225)).lightness(), 150) << "the frame around the hole shows";

    if (const QString dir = qEnvironmentVariable("CORVESSA_TEST_ARTIFACTS"); !dir.isEmpty()) {
        QDir().mkpath(dir);
        QGuiApplication::primaryScreen()->grabWindow(0).save(dir + QStringLiteral("/dim-window") + (compositor ? "-cm" : "")
                                                             + QStringLiteral(".png"));
    }

    // The hole follows the window.
    target.move(500, 150);
    const QRectF moved = QRectF(QRect(500, 150, 400, 250).translated(-screen.topLeft()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return view->hole() == moved; }, 15000));
    overlay.set({});
    EXPECT_FALSE(overlay.view(0));
}

} // namespace
} // namespace corvessa::test
