// The floating-surface kit and the outside-click monitor on a real X server
// with openbox. The test program's own Qt runs offscreen, so each check runs in
// a second run of the program on the private server (the disabled tests below).
#include "platform/FloatingSurfaces.h"
#include "platform/OutsideClickMonitor.h"
#include "platform/PlatformLoader.h"
#include "platform/x11/X11ConnectionLoss.h"
#include "platform/x11/X11OutsideClickMonitor.h"
#include "support/ChildProcess.h"
#include "support/DrivenTest.h"
#include "support/XvfbTest.h"

#include <QGuiApplication>
#include <QPushButton>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/shape.h>

using namespace corvessa;

namespace {

class FloatingSurfacesXvfb : public test::XvfbTest {
protected:
    void runOnServer(const char* name)
    {
        XvfbTest::runOnServer(QStringLiteral("FloatingSurfacesOnX.DISABLED_") + QLatin1String(name));
    }
};

// A surface that counts the presses it gets.
class Surface : public QWidget {
public:
    explicit Surface(const QRect& geometry) { setGeometry(geometry); }
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent*) override { ++presses; }
};

class FloatingSurfacesOnX : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
        m_x = XOpenDisplay(nullptr);
        ASSERT_TRUE(m_x);
        m_wm = test::ChildProcess::start(QStringLiteral("openbox"), {});
        if (!m_wm)
            GTEST_SKIP() << "openbox is not installed";
        ASSERT_TRUE(QTest::qWaitFor([&] { return managerRuns(); }, 30000));
        // It announces itself before it takes windows on, and drops a map
        // request that comes while it starts: one it has framed says it is ready.
        XSetWindowAttributes attributes{};
        attributes.event_mask = StructureNotifyMask;
        const Window probe = XCreateWindow(m_x, DefaultRootWindow(m_x), 0, 0, 10, 10, 0, CopyFromParent, InputOutput,
                                           CopyFromParent, CWEventMask, &attributes);
        bool framed = false;
        for (int attempt = 0; attempt < 60 && !framed; ++attempt) {
            XMapWindow(m_x, probe);
            XSync(m_x, False);
            XEvent event;
            framed = QTest::qWaitFor([&] { return XCheckTypedWindowEvent(m_x, probe, ReparentNotify, &event); }, 500);
        }
        ASSERT_TRUE(framed) << "openbox never took a window on";
        XDestroyWindow(m_x, probe);
        XSync(m_x, False);
    }
    void TearDown() override
    {
        if (m_x)
            XCloseDisplay(m_x);
        m_wm.reset();
    }

    bool managerRuns()
    {
        return property(DefaultRootWindow(m_x), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW).has_value();
    }

    std::optional<unsigned long> property(Window window, const char* name, Atom type)
    {
        Atom actual = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        XGetWindowProperty(m_x, window, XInternAtom(m_x, name, False), 0, 1, False, type, &actual, &format, &count,
                           &after, &data);
        std::optional<unsigned long> value;
        if (data && count == 1 && format == 32)
            value = *reinterpret_cast<unsigned long*>(data);
        if (data)
            XFree(data);
        return value;
    }

    // Position of the window (or of the frame holding it) among the root's
    // children, bottom first; -1 when it is not there.
    int stackIndex(const QWidget& widget)
    {
        Window window = Window(widget.winId());
        Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        while (XQueryTree(m_x, window, &root, &parent, &children, &count) && parent != root) {
            XFree(children);
            window = parent;
        }
        XFree(children);
        XQueryTree(m_x, root, &root, &parent, &children, &count);
        int index = -1;
        for (unsigned i = 0; i < count; ++i)
            if (children[i] == window)
                index = int(i);
        XFree(children);
        return index;
    }

    void click(const QPoint& rootPixel, unsigned button = 1)
    {
        XTestFakeMotionEvent(m_x, -1, rootPixel.x(), rootPixel.y(), CurrentTime);
        XSync(m_x, False);
        // Let the pointer's arrival be handled before the press, however busy the machine.
        QTest::qWait(200);
        XTestFakeButtonEvent(m_x, button, True, CurrentTime);
        XTestFakeButtonEvent(m_x, button, False, CurrentTime);
        XSync(m_x, False);
    }

    static void showAndWait(QWidget& w)
    {
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    }

    Display* m_x = nullptr;
    std::unique_ptr<test::ChildProcess> m_wm;
};

} // namespace

// Levels hold whatever order the windows came in, for managed and
// override-redirect surfaces alike, and the managed ones are on every desktop.
TEST_F(FloatingSurfacesXvfb, StackingKeepsLevels) { runOnServer("Stacking"); }
ON_SERVER_TEST_F(FloatingSurfacesOnX, Stacking)
{
    const auto kit = PlatformLoader::loadFloatingSurfaces();
    const QRect area(100, 100, 300, 200);
    Surface floating(area), menu(area.translated(20, 20)), overlay(area.translated(40, 40));
    kit->prepare(&floating, {SurfaceLevel::floating, false, false});
    kit->prepare(&menu, {SurfaceLevel::popUpMenu, true, false});
    kit->prepare(&overlay, {SurfaceLevel::overlay, false, false});
    for (Surface* w : {&overlay, &menu, &floating})
        showAndWait(*w);
    ASSERT_FALSE(HasFatalFailure());

    auto inLevelOrder = [&] {
        const int f = stackIndex(floating), m = stackIndex(menu), o = stackIndex(overlay);
        return f >= 0 && f < m && m < o;
    };
    // Raising the lowest must not lift it over the others; the manager answers
    // its requests in its own time.
    for (Surface* w : {&floating, &menu, &overlay}) {
        kit->raise(w);
        EXPECT_TRUE(QTest::qWaitFor(inLevelOrder, 10000))
            << "raised the one at " << w->geometry().x() << ", stack " << stackIndex(floating) << ' '
            << stackIndex(menu) << ' ' << stackIndex(overlay);
    }
    EXPECT_EQ(uint32_t(property(Window(floating.winId()), "_NET_WM_DESKTOP", XA_CARDINAL).value_or(0)), 0xFFFFFFFFu);
}

// An empty input shape lets a click through to the window beneath; turned off,
// the surface takes clicks again.
TEST_F(FloatingSurfacesXvfb, ClickThrough) { runOnServer("ClickThrough"); }
ON_SERVER_TEST_F(FloatingSurfacesOnX, ClickThrough)
{
    const auto kit = PlatformLoader::loadFloatingSurfaces();
    const QRect area(300, 200, 200, 120);
    QPushButton beneath;
    beneath.setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    beneath.setGeometry(area);
    int presses = 0;
    QObject::connect(&beneath, &QPushButton::pressed, [&] { ++presses; });
    showAndWait(beneath);
    Surface tip(area);
    kit->prepare(&tip, {SurfaceLevel::status, true, true});
    showAndWait(tip);
    ASSERT_FALSE(HasFatalFailure());
    kit->raise(&tip);
    ASSERT_TRUE(QTest::qWaitFor([&] { return stackIndex(tip) > stackIndex(beneath); }, 10000));

    click(area.center());
    EXPECT_TRUE(QTest::qWaitFor([&] { return presses == 1; }, 30000));
    EXPECT_EQ(tip.presses, 0);

    kit->setClickThrough(&tip, false);
    click(area.center());
    EXPECT_TRUE(QTest::qWaitFor([&] { return tip.presses == 1; }, 30000));
    EXPECT_EQ(presses, 1);
}

// A press in another program's window is told with its place and button, and
// still reaches that window; wheel steps are not presses.
TEST_F(FloatingSurfacesXvfb, OutsideClicks) { runOnServer("OutsideClicks"); }
ON_SERVER_TEST_F(FloatingSurfacesOnX, OutsideClicks)
{
    const auto monitor = PlatformLoader::loadOutsideClickMonitor();
    std::vector<std::pair<QPointF, int>> seen;
    const auto subscription = monitor->observe([&](const QPointF& p, int button) { seen.emplace_back(p, button); });
    ASSERT_TRUE(subscription) << "XInput2 on Xvfb";

    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.event_mask = ButtonPressMask;
    const Window other = XCreateWindow(m_x, DefaultRootWindow(m_x), 600, 300, 200, 150, 0, CopyFromParent, InputOutput,
                                       CopyFromParent, CWOverrideRedirect | CWEventMask, &attributes);
    XMapRaised(m_x, other);
    XSync(m_x, False);
    auto otherPressed = [&] {
        XEvent event;
        return XCheckTypedWindowEvent(m_x, other, ButtonPress, &event) == True;
    };

    click(QPoint(650, 340));
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() == 1; }, 30000));
    EXPECT_EQ(seen[0], std::make_pair(QPointF(650, 340), 1));
    EXPECT_TRUE(QTest::qWaitFor(otherPressed, 30000)) << "the press is observed, not taken";

    click(QPoint(700, 400), 4);
    click(QPoint(700, 400), 3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() >= 2; }, 30000));
    QTest::qWait(100);
    ASSERT_EQ(seen.size(), 2u) << "the wheel step was told";
    EXPECT_EQ(seen[1], std::make_pair(QPointF(700, 400), 3));
    XDestroyWindow(m_x, other);
}

// Without a compositing manager the visible region becomes the window's shape,
// so transparent margins neither show black nor take clicks; with one the
// window keeps its whole shape.
TEST_F(FloatingSurfacesXvfb, VisibleRegionShapesOnlyWithoutCompositor) { runOnServer("VisibleRegion"); }
ON_SERVER_TEST_F(FloatingSurfacesOnX, VisibleRegion)
{
    const auto kit = PlatformLoader::loadFloatingSurfaces();
    Surface card(QRect(200, 150, 240, 160));
    kit->prepare(&card, {SurfaceLevel::floating, true, false});
    showAndWait(card);
    ASSERT_FALSE(HasFatalFailure());
    const Window window = Window(card.winId());
    auto shape = [&](int kind) {
        int count = 0, ordering = 0;
        XRectangle* rects = XShapeGetRectangles(m_x, window, kind, &count, &ordering);
        QRegion region;
        for (int i = 0; i < count; ++i)
            region += QRect(rects[i].x, rects[i].y, rects[i].width, rects[i].height);
        XFree(rects);
        return region;
    };
    const QRegion round = QRegion(QRect(0, 0, 240, 160), QRegion::Ellipse);

    ASSERT_FALSE(kit->compositing());
    kit->setVisibleRegion(&card, round);
    EXPECT_EQ(shape(ShapeBounding), round);
    EXPECT_EQ(shape(ShapeInput), round);
    kit->setVisibleRegion(&card, {});
    EXPECT_EQ(shape(ShapeBounding), QRegion(0, 0, 240, 160)) << "an empty region clears the shape";

    const auto compositor = test::ChildProcess::start(QStringLiteral("xcompmgr"), {});
    if (!compositor)
        GTEST_SKIP() << "xcompmgr is not installed";
    ASSERT_TRUE(QTest::qWaitFor([&] { return kit->compositing(); }, 30000));
    kit->setVisibleRegion(&card, round);
    EXPECT_EQ(shape(ShapeBounding), QRegion(0, 0, 240, 160));
}

// The monitor's connection outlives its server: no exit, and no more observing.
TEST_F(FloatingSurfacesXvfb, OutsideClickMonitorOutlivesTheServer)
{
    if (IsSkipped() || HasFatalFailure())
        return;
    if (!X11ConnectionLoss::isSurvivable())
        GTEST_SKIP() << "this libX11 (before 1.7) always ends the program on a lost connection";
    X11OutsideClickMonitor monitor(s_xvfb->display());
    auto subscription = monitor.observe([](const QPointF&, int) {});
    ASSERT_TRUE(subscription);
    s_xvfb->kill();
    EXPECT_TRUE(QTest::qWaitFor([&] {
        monitor.processPendingEvents();
        return !monitor.isAvailable();
    }, 30000));
    EXPECT_FALSE(monitor.observe([](const QPointF&, int) {}));
    startServer(); // for the tests after this one
}
