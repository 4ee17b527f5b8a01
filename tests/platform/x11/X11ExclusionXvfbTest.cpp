#include "platform/x11/X11ScreenSourceFixture.h"

#include <QScopeGuard>

#include <thread>

#include <X11/extensions/Xcomposite.h>
#include <X11/extensions/shape.h>

namespace {

// The program's windows are left out of what the stream delivers: what lies
// below them is rebuilt, and nothing else.
class X11ExclusionXvfb : public X11ScreenSourceXvfb {
protected:
    void shadowsLeaveNoTrace(const QString& program);
};

} // namespace

TEST_F(X11ExclusionXvfb, ChangesHiddenUnderAnExcludedWindowStillMakeFrames)
{
    // The red window lies wholly under the excluded one: its changes never reach the screen.
    const Window red = painter->window(QRect(200, 200, 100, 100), kRed);
    const Window toolbar = painter->window(QRect(150, 150, 300, 200), kGreen);
    ScreenFilter filter = displayFilter();
    filter.excludedWindows = {uint32_t(toolbar)};
    startStream(filter, screenConfig());
    ASSERT_TRUE(collector.waitForFrame([](const PixelBuffer& b) { return near(pixel(b, 250, 250), kRed); }));
    EXPECT_EQ(count(*collector.last(), kGreen), 0);
    painter->recolour(red, kBlue);
    EXPECT_TRUE(collector.waitForFrame([](const PixelBuffer& b) { return near(pixel(b, 250, 250), kBlue); }, 2000));
}

// A background published nowhere (a tile set on the root, as xsetroot -bitmap
// does) shows under excluded windows as the desktop shows it: where the screen
// showed it before, and where it never did (a window of ours there from the
// first frame on), never a blend of what lies around.
TEST_F(X11ExclusionXvfb, UnderExcludedWindowsTheBackgroundTheDesktopShows)
{
    Display* dpy = painter->display();
    const Window root = DefaultRootWindow(dpy);
    const RootBackground restore{dpy};
    // Squares of 32 pixels, yellow and cyan: across a window of ours the
    // colours above and below differ, and their blend is a green of its own.
    const auto square = [](int x, int y) { return (x / 32 + y / 32) % 2 ? kCyan : kYellow; };
    const Pixmap tile = XCreatePixmap(dpy, root, 64, 64, unsigned(DefaultDepth(dpy, DefaultScreen(dpy))));
    const GC gc = XCreateGC(dpy, tile, 0, nullptr);
    for (int y = 0; y < 64; y += 32)
        for (int x = 0; x < 64; x += 32) {
            XSetForeground(dpy, gc, square(x, y));
            XFillRectangle(dpy, tile, gc, x, y, 32, 32);
        }
    XFreeGC(dpy, gc);
    XSetWindowBackgroundPixmap(dpy, root, tile);
    XClearWindow(dpy, root);
    XFreePixmap(dpy, tile);
    const QRect earlyRect(100, 500, 200, 100);
    const QRect lateRect(600, 300, 200, 100);
    const Window early = painter->window(earlyRect, kGreen); // there before the first frame
    const Window marker = painter->window(QRect(100, 100, 300, 200), kRed);
    ScreenFilter filter = displayFilter();
    const Window late = painter->window(lateRect, kGreen);
    XUnmapWindow(dpy, late);
    painter->sync();
    filter.excludedWindows = {uint32_t(early), uint32_t(late)};
    startStream(filter, screenConfig());
    ASSERT_TRUE(collector.waitForFrame([](const PixelBuffer& b) { return near(pixel(b, 150, 150), kRed); }));
    painter->map(late);
    painter->recolour(marker, kBlue); // a frame that shows this came after the map
    ASSERT_TRUE(collector.waitForFrame([](const PixelBuffer& b) { return near(pixel(b, 150, 150), kBlue); }));
    const PixelBufferRef frame = collector.last();
    keepArtifact(imageOf(*frame), QStringLiteral("background-under-ours.png"));
    EXPECT_EQ(count(*frame, kGreen), 0);
    for (const QRect& r : {lateRect, earlyRect}) {
        int wrong = 0;
        for (int y = r.top(); y <= r.bottom(); y += 3)
            for (int x = r.left(); x <= r.right(); x += 3)
                wrong += near(pixel(*frame, x, y), square(x, y)) ? 0 : 1;
        EXPECT_EQ(wrong, 0) << "under the window at " << r.x() << "," << r.y();
    }
}

// On a desktop of one colour (xsetroot -solid, a bare window manager's), a
// card of ours in a corner from the first frame on, between windows that hide
// the desktop on its every row and column, shows that colour in every frame,
// never black.
TEST_F(X11ExclusionXvfb, WhereTheBackgroundWasNeverSeenTheNearestContinues)
{
    constexpr uint32_t kDesktop = 0x3465a4;
    Display* dpy = painter->display();
    const RootBackground restore{dpy};
    XSetWindowBackground(dpy, DefaultRootWindow(dpy), kDesktop);
    XClearWindow(dpy, DefaultRootWindow(dpy));
    const QRect cardRect(0, 700, 400, 100);
    painter->window(QRect(0, 400, 400, 300), kRed);    // above the card
    painter->window(QRect(400, 650, 880, 150), kGrey); // beside it, to the screen's edge
    const Window card = painter->window(cardRect, kGreen);
    const Window marker = painter->window(QRect(800, 100, 40, 40), kBlue);
    ScreenFilter filter = displayFilter();
    filter.excludedWindows = {uint32_t(card)};
    std::atomic<int> frames{0};
    std::atomic<int> wrong{0};
    collector.inspect = [&](const PixelBuffer& b) {
        ++frames;
        for (int y = cardRect.top(); y <= cardRect.bottom(); y += 3)
            for (int x = cardRect.left(); x <= cardRect.right(); x += 3)
                wrong += near(pixel(b, x, y), kDesktop, 8) ? 0 : 1;
    };
    startStream(filter, screenConfig());
    ASSERT_TRUE(collector.waitForFrame([](const PixelBuffer& b) { return near(pixel(b, 820, 120), kBlue); }));
    painter->recolour(marker, kCyan);
    ASSERT_TRUE(collector.waitForFrame([](const PixelBuffer& b) { return near(pixel(b, 820, 120), kCyan); }));
    keepArtifact(imageOf(*collector.last()), QStringLiteral("never-seen-background.png"));
    EXPECT_GE(frames.load(), 2);
    EXPECT_EQ(wrong.load(), 0);
}

TEST_F(X11ExclusionXvfb, AClientReparentedIntoAFrameTakesTheFrameOut)
{
    const Window frame = painter->window(QRect(300, 300, 220, 160), kGrey);
    const Window client = painter->window(QRect(600, 100, 200, 120), kCyan);
    painter->setPid(client, getpid());
    ScreenFilter filter = displayFilter();
    filter.excludedPids = {int64_t(getpid())};
    startStream(filter, bgraConfig(640, 400));
    ASSERT_TRUE(collector.waitForFrame([](const PixelBuffer& b) { return count(b, kGrey) > 0; }));
    EXPECT_EQ(count(*collector.last(), kCyan), 0);

    // As a window manager does when it takes the client in.
    XReparentWindow(painter->display(), client, frame, 10, 30);
    painter->sync();
    EXPECT_TRUE(collector.waitForFrame([](const PixelBuffer& b) { return count(b, kGrey) == 0; }, 2000));
    EXPECT_EQ(count(*collector.last(), kCyan), 0);
}

TEST_F(X11ExclusionXvfb, TranslucentWindowsAreRebuiltAsTheScreenShowsThem)
{
    Display* dpy = painter->display();
    painter->window(QRect(100, 100, 300, 300), kRed);
    // Half-transparent grey (premultiplied) over the red window's right part.
    const Window glass = translucentWindow(dpy, QRect(250, 100, 300, 300), 0x80808080);
    if (!glass)
        GTEST_SKIP() << "no 32-bit visual";
    XMapWindow(dpy, glass);
    const Window toolbar = painter->window(QRect(0, 150, 800, 50), kGreen);
    ScreenFilter filter = displayFilter();
    filter.excludedWindows = {uint32_t(toolbar)};
    startStream(filter, screenConfig());
    ASSERT_TRUE(collector.waitForFrame([](const PixelBuffer& b) { return near(pixel(b, 150, 120), kRed); }));
    PixelBufferRef f = collector.last();
    EXPECT_EQ(count(*f, kGreen), 0);
    // Without a compositing manager the server shows such a window's colour as
    // it is; under the toolbar the rebuild does the same.
    EXPECT_TRUE(near(pixel(*f, 150, 175), kRed));
    EXPECT_TRUE(near(pixel(*f, 300, 175), pixel(*f, 300, 120), 2));
    EXPECT_TRUE(near(pixel(*f, 500, 175), pixel(*f, 500, 120), 2));
    EXPECT_TRUE(near(pixel(*f, 700, 175), kBlack));

    // Once a compositing manager announces itself, the rebuild blends: half
    // grey over red, and over the black root.
    const Window manager = painter->window(QRect(0, 0, 1, 1), kBlack);
    XSetSelectionOwner(dpy, XInternAtom(dpy, "_NET_WM_CM_S0", False), manager, CurrentTime);
    painter->sync();
    ASSERT_TRUE(collector.waitForFrame([](const PixelBuffer& b) { return near(pixel(b, 300, 175), 0xff8080, 3); }));
    f = collector.last();
    EXPECT_TRUE(near(pixel(*f, 500, 175), 0x808080, 3));
    EXPECT_TRUE(near(pixel(*f, 150, 175), kRed));
}

// A compositing manager may still show what came before the capture opened
// (a window of ours just closed, with its shadow): the first frame waits until
// the manager, asked to paint, has caught up. This manager paints only when
// asked, and then takes the stale picture away; no frame shows it.
TEST_F(X11ExclusionXvfb, TheFirstFrameWaitsForTheManagerToCatchUp)
{
    Display* dpy = painter->display();
    const Window root = DefaultRootWindow(dpy);
    const RootBackground restore{dpy};
    Display* manager = XOpenDisplay(s_xvfb->display().toLocal8Bit().constData());
    ASSERT_NE(manager, nullptr);
    const auto closeManager = qScopeGuard([&] { XCloseDisplay(manager); });
    const Window owner = XCreateSimpleWindow(manager, root, 0, 0, 1, 1, 0, 0, 0);
    XSetSelectionOwner(manager, XInternAtom(manager, "_NET_WM_CM_S0", False), owner, CurrentTime);
    XSelectInput(manager, root, ExposureMask);
    const QRect stale(300, 300, 200, 100);
    const GC gc = XCreateGC(manager, root, 0, nullptr);
    XSetForeground(manager, gc, kRed);
    XFillRectangle(manager, root, gc, stale.x(), stale.y(), unsigned(stale.width()), unsigned(stale.height()));
    XFreeGC(manager, gc);
    XSync(manager, False);
    std::atomic<bool> asked{false};
    std::thread paints([&] {
        QElapsedTimer waited;
        waited.start();
        XEvent e;
        while (waited.elapsed() < 3000 && !asked) {
            while (XPending(manager) > 0) {
                XNextEvent(manager, &e);
                asked = asked || (e.type == Expose && e.xexpose.window == root);
            }
            QThread::msleep(10);
        }
        // Caught up: the stale picture goes first, then what was asked for.
        XClearArea(manager, root, stale.x(), stale.y(), unsigned(stale.width()), unsigned(stale.height()), False);
        if (asked)
            XClearArea(manager, root, e.xexpose.x, e.xexpose.y, unsigned(e.xexpose.width),
                       unsigned(e.xexpose.height), False);
        XSync(manager, False);
    });
    std::atomic<int> staleFrames{0};
    collector.inspect = [&](const PixelBuffer& b) {
        staleFrames += near(pixel(b, stale.center().x(), stale.center().y()), kRed) ? 1 : 0;
    };
    startStream(displayFilter(), screenConfig());
    const bool caughtUp = collector.waitForFrame(
        [&](const PixelBuffer& b) { return near(pixel(b, stale.center().x(), stale.center().y()), kBlack); });
    paints.join();
    stream->stop();
    EXPECT_TRUE(asked.load());
    EXPECT_TRUE(caughtUp);
    EXPECT_EQ(staleFrames.load(), 0);
}

// A compositing manager on a busy machine may show a window of ours where it
// stood for a long while after it moved, while frames keep coming for other
// reasons: its old place is rebuilt until the manager has painted since. This
// manager composites the windows itself and paints nothing after the move.
TEST_F(X11ExclusionXvfb, AManagerThatLagsNeverShowsWhereOurWindowStood)
{
    Display* dpy = painter->display();
    const Window root = DefaultRootWindow(dpy);
    Display* manager = XOpenDisplay(s_xvfb->display().toLocal8Bit().constData());
    ASSERT_NE(manager, nullptr);
    const auto closeManager = qScopeGuard([&] { XCloseDisplay(manager); });
    XCompositeRedirectSubwindows(manager, root, CompositeRedirectManual);
    const Window owner = XCreateSimpleWindow(manager, root, 0, 0, 1, 1, 0, 0, 0);
    XSetSelectionOwner(manager, XInternAtom(manager, "_NET_WM_CM_S0", False), owner, CurrentTime);
    XSync(manager, False);
    const QRect before(200, 200, 160, 120);
    const Window ours = painter->window(before, kGreen);
    // The manager's one paint: our window where it stands now.
    const Pixmap picture = XCompositeNameWindowPixmap(manager, ours);
    const GC gc = XCreateGC(manager, root, 0, nullptr);
    XCopyArea(manager, picture, root, gc, 0, 0, unsigned(before.width()), unsigned(before.height()), before.x(),
              before.y());
    XFreeGC(manager, gc);
    XFreePixmap(manager, picture);
    XSync(manager, False);
    std::atomic<int> shown{0};
    collector.inspect = [&](const PixelBuffer& b) {
        shown += near(pixel(b, before.center().x(), before.center().y()), kGreen) ? 1 : 0;
    };
    ScreenFilter filter = displayFilter();
    filter.excludedWindows = {uint32_t(ours)};
    const ScreenStreamConfig config = screenConfig();
    startStream(filter, config);
    ASSERT_TRUE(collector.waitFor([&] { return collector.frames > 0; }));
    XMoveWindow(dpy, ours, 700, 400);
    painter->sync();
    // Frames that come without a paint: a new configuration each.
    for (int i = 0; i < 8; ++i) {
        const int frames = collector.frameCount();
        stream->updateConfiguration(config);
        ASSERT_TRUE(collector.waitFor([&] { return collector.frames > frames; })) << i;
    }
    stream->stop();
    XCompositeUnredirectSubwindows(manager, root, CompositeRedirectManual);
    XSync(manager, False);
    EXPECT_EQ(shown.load(), 0);
}

// A compositing manager that draws shadows darkens the screen around the
// program's windows; the shadow is theirs and goes with them. Frames with the
// program's windows on the screen (an opaque square as the camera bubble's, a
// translucent card) match, block by block, a frame of the same screen without
// them. The foreign windows stand where their own shadows fall clear of ours:
// the rebuild draws windows without shadows.
void X11ExclusionXvfb::shadowsLeaveNoTrace(const QString& program)
{
    Display* dpy = painter->display();
    QString why;
    const auto compositor =
        test::WindowManager::startCompositor(dpy, &why, program, test::WindowManager::shadowArguments(program));
    if (!compositor)
        GTEST_SKIP() << why.toStdString();
    painter->window(QRect(100, 100, 520, 420), kRed); // the bubble and its shadow lie on it
    const QRect markerRect(40, 700, 40, 40);
    const Window marker = painter->window(markerRect, kBlue);
    const QRect bubbleRect(260, 220, 160, 160);
    const Window bubble = painter->window(bubbleRect, kGreen, 0, false);
    const Window card = translucentWindow(dpy, QRect(760, 520, 320, 120), 0xc0202020);
    ScreenFilter filter = displayFilter();
    filter.excludedWindows = {uint32_t(bubble), uint32_t(card)};
    startStream(filter, screenConfig());
    // The manager paints a while after it took the screen: once the red
    // window's shadow shows below it, the marker's changes are frames taken
    // after what came before was painted.
    ASSERT_TRUE(collector.waitForFrame(
        [](const PixelBuffer& b) { return near(pixel(b, 150, 150), kRed) && pixel(b, 360, 525) != pixel(b, 900, 700); },
        15000));
    painter->recolour(marker, kCyan);
    ASSERT_TRUE(collector.waitForFrame([](const PixelBuffer& b) { return near(pixel(b, 60, 720), kCyan); }));
    const QImage reference = imageOf(*collector.last());
    const QRect skip = markerRect.adjusted(-40, -40, 40, 40); // the marker and its shadow
    std::mutex mutex;
    QRegion traces;
    int compared = 0;
    collector.inspect = [&](const PixelBuffer& b) {
        const QRegion d = differingBlocks(imageOf(b), reference, skip);
        std::lock_guard lock(mutex);
        traces += d;
        ++compared;
    };
    painter->map(bubble);
    if (card)
        painter->map(card);
    // The screen shows the bubble's shadow: it darkens the red window below it.
    const auto shadowShows = [&] {
        XImage* screen = XGetImage(dpy, DefaultRootWindow(dpy), bubbleRect.center().x(), bubbleRect.bottom() + 4, 1,
                                   1, AllPlanes, ZPixmap);
        const unsigned long below = screen ? XGetPixel(screen, 0, 0) : 0xff0000;
        if (screen)
            XDestroyImage(screen);
        return ((below >> 16) & 0xff) < 0xf0;
    };
    QElapsedTimer waited;
    waited.start();
    while (!shadowShows() && waited.elapsed() < 15000)
        QThread::msleep(50);
    ASSERT_TRUE(shadowShows()) << program.toStdString() << " draws no shadow";
    QThread::msleep(300); // and the card's, where it draws one
    painter->recolour(marker, kYellow);
    ASSERT_TRUE(collector.waitForFrame([](const PixelBuffer& b) { return near(pixel(b, 60, 720), kYellow); }));
    const QImage last = imageOf(*collector.last());
    stream->stop();
    keepArtifact(reference, QStringLiteral("shadows-%1-without.png").arg(program));
    keepArtifact(last, QStringLiteral("shadows-%1-with.png").arg(program));
    std::lock_guard lock(mutex);
    EXPECT_GT(compared, 0);
    EXPECT_TRUE(traces.isEmpty()) << "traces at " << traces.boundingRect().x() << "," << traces.boundingRect().y()
                                  << " " << traces.boundingRect().width() << "x" << traces.boundingRect().height();
}

TEST_F(X11ExclusionXvfb, ShadowsOfExcludedWindowsLeaveNoTraceUnderXcompmgr)
{
    shadowsLeaveNoTrace(QStringLiteral("xcompmgr"));
}

TEST_F(X11ExclusionXvfb, ShadowsOfExcludedWindowsLeaveNoTraceUnderPicom)
{
    shadowsLeaveNoTrace(QStringLiteral("picom"));
}

// A window of ours shaped to a thin ring (the frame that marks an area without
// a compositor) covers only its ring: the desktop inside keeps the colour the
// root paints (xsetroot -solid), and a foreign window there shows as it is,
// whether the ring lies around the area or crosses it.
TEST_F(X11ExclusionXvfb, AShapedWindowOfOursHidesOnlyWhatItsShapeCovers)
{
    constexpr uint32_t kDesktop = 0xc04020;
    constexpr uint32_t kRing = 0xff00ff;
    const QRect area(200, 150, 800, 500);
    const QRect foreign(300, 250, 200, 150);
    const QRect markerRect(220, 170, 20, 20);
    const struct {
        const char* name;
        QRect hole; // the ring's inside, 4 pixels wide around it
    } cases[] = {{"around", area}, {"across", QRect(600, 100, 300, 300)}};
    Display* dpy = painter->display();
    const RootBackground restore{dpy};
    XSetWindowBackground(dpy, DefaultRootWindow(dpy), kDesktop);
    XClearWindow(dpy, DefaultRootWindow(dpy));
    painter->window(foreign, kGreen);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Window ring = painter->window(QRect(0, 0, kScreenWidth, kScreenHeight), kRing, 0, false);
        std::vector<XRectangle> rects;
        for (const QRect& r : QRegion(c.hole.adjusted(-4, -4, 4, 4)) - QRegion(c.hole))
            rects.push_back({short(r.x()), short(r.y()), ushort(r.width()), ushort(r.height())});
        XShapeCombineRectangles(dpy, ring, ShapeBounding, 0, 0, rects.data(), int(rects.size()), ShapeSet, YXBanded);
        painter->map(ring);
        const Window marker = painter->window(markerRect, kBlue);
        std::atomic<int> frames{0};
        std::atomic<int> worstDesktop{INT_MAX};
        std::atomic<int> worstForeign{INT_MAX};
        std::atomic<int> ringShown{0};
        collector.inspect = [&](const PixelBuffer& b) {
            int desktop = 0;
            int green = 0;
            for (int y = 0; y < b.height(); ++y)
                for (int x = 0; x < b.width(); ++x) {
                    const QPoint p = area.topLeft() + QPoint(x, y);
                    const uint32_t v = pixel(b, x, y);
                    ringShown += near(v, kRing) ? 1 : 0;
                    if (foreign.contains(p))
                        green += near(v, kGreen) ? 1 : 0;
                    else if (!markerRect.contains(p))
                        desktop += near(v, kDesktop) ? 1 : 0;
                }
            ++frames;
            worstDesktop = std::min(worstDesktop.load(), desktop);
            worstForeign = std::min(worstForeign.load(), green);
        };
        ScreenFilter filter = displayFilter();
        filter.excludedWindows = {uint32_t(ring)};
        ScreenStreamConfig config = bgraConfig(area.width(), area.height());
        config.sourceRect = area;
        startStream(filter, config);
        const QPoint m = markerRect.topLeft() - area.topLeft();
        ASSERT_TRUE(collector.waitForFrame([&](const PixelBuffer& b) { return near(pixel(b, m.x(), m.y()), kBlue); }));
        painter->recolour(marker, kCyan);
        ASSERT_TRUE(collector.waitForFrame([&](const PixelBuffer& b) { return near(pixel(b, m.x(), m.y()), kCyan); }));
        keepArtifact(imageOf(*collector.last()), QStringLiteral("shaped-ring-%1.png").arg(c.name));
        stream->stop();
        stream.reset();
        collector.inspect = nullptr;
        const int desktopPixels = area.width() * area.height() - foreign.width() * foreign.height() -
                                  markerRect.width() * markerRect.height();
        EXPECT_GE(frames.load(), 2);
        EXPECT_GE(worstDesktop.load(), desktopPixels * 995 / 1000) << "of " << desktopPixels;
        EXPECT_EQ(worstForeign.load(), foreign.width() * foreign.height());
        EXPECT_EQ(ringShown.load(), 0);
        painter->destroy(marker);
        painter->destroy(ring);
    }
}
