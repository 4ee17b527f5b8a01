// The dim overlay on a real X server under openbox, with and without a
// compositing manager: the veil lets clicks through to the window beneath it,
// leaves the followed window clear with its title bar, follows it, comes down
// while it is minimised and never blacks out the desktop. The test program's
// own Qt runs offscreen, so the check runs in a second run of it on the
// private server (the disabled test below).
#include "platform/PlatformLoader.h"
#include "platform/ScreenSource.h"
#include "support/DrivenTest.h"
#include "support/OnServerTest.h"
#include "support/XvfbTest.h"
#include "tools/DimView.h"
#include "tools/RangeDimOverlay.h"
#include "tools/TargetPicker.h"

#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
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

class RangeDimOverlayOnX : public OnServerTest {
protected:
    // Another program's window that openbox decorates, with a title bar.
    unsigned long decorated(const QRect& r, unsigned long rgb)
    {
        const Window w = XCreateSimpleWindow(m_x, DefaultRootWindow(m_x), r.x(), r.y(), unsigned(r.width()),
                                             unsigned(r.height()), 0, 0, rgb);
        XStoreName(m_x, w, "Decorated");
        XSizeHints hints{};
        hints.flags = USPosition | PPosition;
        hints.x = r.x();
        hints.y = r.y();
        XSetWMNormalHints(m_x, w, &hints);
        XMapRaised(m_x, w);
        XSync(m_x, False);
        return w;
    }
    // The window as the target picker lists it (Qt points), if it is listed.
    static std::optional<QRectF> listed(unsigned long window)
    {
        const auto content = ScreenSource::current()->content();
        for (const WindowInfo& w : TargetPicker::pickable(content ? content->windows : std::vector<WindowInfo>{}, 0))
            if (w.id == window)
                return w.frame.translated(QGuiApplication::primaryScreen()->geometry().topLeft());
        return std::nullopt;
    }
    // Where the client area is on the server.
    QRect client(unsigned long window)
    {
        XWindowAttributes a{};
        XGetWindowAttributes(m_x, window, &a);
        int x = 0, y = 0;
        Window child = 0;
        XTranslateCoordinates(m_x, window, DefaultRootWindow(m_x), 0, 0, &x, &y, &child);
        return QRect(x, y, a.width, a.height);
    }
};

ON_SERVER_TEST_F(RangeDimOverlayOnX, Veil)
{
    QPushButton beneath;
    place(beneath, QRect(100, 450, 300, 200), QColor(240, 240, 240));
    int presses = 0;
    QObject::connect(&beneath, &QPushButton::pressed, [&] { ++presses; });
    // A light backdrop around the target, so dimming shows right below it.
    foreignWindow(QRect(450, 40, 700, 500), 0xe0e0e0, true);
    const unsigned long target = decorated(QRect(600, 100, 400, 250), 0xfafafa);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&beneath));
    // Decorated: the listed frame reaches above the client area (the title bar).
    std::optional<QRectF> frame;
    ASSERT_TRUE(waitFor([&] {
        frame = listed(target);
        return frame && frame->top() < client(target).top() - 4;
    })) << "never listed with a title bar";
    spin(300);
    const QPoint onBeneath(130, 480);
    const QColor before = pixel(onBeneath);
    const QPoint titleBar(int(frame->center().x()), client(target).top() - 6);
    const QColor titleBefore = pixel(titleBar);
    const QPoint belowFrame(int(frame->center().x()), int(frame->bottom()) + 8);
    const QColor belowBefore = pixel(belowFrame);

    RangeDimOverlay overlay({FloatingKit(PlatformLoader::loadFloatingSurfaces()), {}, {}});
    overlay.set(DimTarget::window(uint32_t(target), frame->size()));
    ASSERT_TRUE(overlay.following());
    DimView* view = nullptr;
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    ASSERT_TRUE(waitFor(
        [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* d = dynamic_cast<DimView*>(w); d && d->isVisible() && d->hole())
                    view = d;
            return view != nullptr;
        },
        15000));
    EXPECT_EQ(view->veiled(), m_compositor);
    // The hole is the listed frame, title bar included.
    EXPECT_EQ(view->hole(), frame->translated(-QPointF(screen.topLeft())));
    spin(300);

    // A click on the veil reaches the window beneath.
    click(onBeneath + QPoint(20, 20));
    EXPECT_TRUE(waitFor([&] { return presses > 0; }));

    // With a compositor the surroundings are darkened (right below the window
    // too) and the title bar is not; without one the desktop shows as it was
    // and only the frame around the hole is drawn.
    const QColor after = pixel(onBeneath);
    if (m_compositor) {
        EXPECT_LT(after.lightness(), before.lightness() - 60) << after.name().toStdString();
        EXPECT_LT(pixel(belowFrame).lightness(), belowBefore.lightness() - 20) << "the strip below the window is dimmed";
        EXPECT_NEAR(pixel(titleBar).lightness(), titleBefore.lightness(), 8) << "the title bar stays clear";
    } else {
        EXPECT_NEAR(after.lightness(), before.lightness(), 8) << after.name().toStdString();
    }
    const QPoint inside = client(target).center();
    EXPECT_GT(pixel(inside).lightness(), 230) << "the target stays clear";
    screenshot(QStringLiteral("dim-window") + (m_compositor ? "-cm" : "") + QStringLiteral(".png"));

    // The hole follows the window.
    XMoveWindow(m_x, target, 500, 150);
    XSync(m_x, False);
    ASSERT_TRUE(waitFor([&] {
        frame = listed(target);
        return frame && view->hole() == frame->translated(-QPointF(screen.topLeft())) && frame->left() < 560;
    })) << "the hole stayed at " << view->hole().value_or(QRectF()).x();

    // Minimised, it leaves no empty hole: the veils come down, and return with it.
    XIconifyWindow(m_x, target, DefaultScreen(m_x));
    XSync(m_x, False);
    EXPECT_TRUE(waitFor([&] { return !view->isVisible(); })) << "the veil stayed up for a minimised window";
    screenshot(QStringLiteral("dim-window-minimised") + (m_compositor ? "-cm" : "") + QStringLiteral(".png"));
    XMapWindow(m_x, target);
    XSync(m_x, False);
    EXPECT_TRUE(waitFor([&] { return view->isVisible() && view->hole(); }));

    overlay.set({});
    EXPECT_FALSE(overlay.view(0));
    XDestroyWindow(m_x, target);
}

} // namespace
} // namespace corvessa::test
