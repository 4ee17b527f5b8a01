// The pen overlay on a real X server with openbox, with and without a
// compositing manager: an XTest drag over the canvas leaves ink on the board
// the recording reads and on the screen, and closing the canvas drops it; the
// desktop beneath stays live while the pen is on. The checks run in a second
// run of the program on the private server.
#include "engine/RecorderEngine.h"
#include "engine/compositor/PenBoard.h"
#include "engine/compositor/PenPalette.h"
#include "model/Stealth.h"
#include "platform/DisplayList.h"
#include "platform/MovieTestSupport.h"
#include "platform/synthetic/SyntheticAudioInput.h"
#include "platform/synthetic/SyntheticPowerControl.h"
#include "platform/x11/X11PointerService.h"
#include "platform/x11/X11ScreenSource.h"
#include "prefs/PerfCounters.h"
#include "prefs/Prefs.h"
#include "support/DrivenTest.h"
#include "support/MoviePictures.h"
#include "support/OnServerTest.h"
#include "support/TempHome.h"
#include "support/WindowManager.h"
#include "support/XvfbTest.h"
#include "toolbar/kit/FloatingKit.h"
#include "tools/PenOverlay.h"
#include "tools/ProgramTools.h"

#include <QGuiApplication>
#include <QStandardPaths>
#include <QScreen>
#include <QPainter>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>


namespace corvessa::test {
namespace {

class PenOverlayXvfbTest : public XvfbTest {
protected:
    void run(const char* name, bool compositor)
    {
        runOnServer(QStringLiteral("PenOverlayOnX.DISABLED_") + QLatin1String(name),
                    {QStringLiteral("CORVESSA_TEST_COMPOSITOR=") + (compositor ? QLatin1String("1") : QLatin1String("0"))});
    }
};

TEST_F(PenOverlayXvfbTest, ADragLeavesInkOnTheBoardAndTheScreen) { run("Draws", false); }
TEST_F(PenOverlayXvfbTest, ADragLeavesInkWithACompositingManager) { run("Draws", true); }
TEST_F(PenOverlayXvfbTest, InkDrawnDuringARecordingIsInItsFrames) { run("Records", false); }
// Without a compositing manager the canvas once showed a still picture of the
// screen for as long as the pen was on.
TEST_F(PenOverlayXvfbTest, TheDesktopBeneathStaysLive) { run("Live", false); }
TEST_F(PenOverlayXvfbTest, TheDesktopBeneathStaysLiveWithACompositingManager) { run("Live", true); }
// Qt reads the pointer from core events where XInput 2 is turned off.
TEST_F(PenOverlayXvfbTest, TheDesktopBeneathStaysLiveWithCorePointerEvents)
{
    runOnServer(QStringLiteral("PenOverlayOnX.DISABLED_Live"),
                {QStringLiteral("CORVESSA_TEST_COMPOSITOR=0"), QStringLiteral("QT_XCB_NO_XI2=1")});
}
// A compositing manager that stops or starts while the pen is on: the canvas
// is shaped to its ink (or whole again) at once and still takes every stroke.
TEST_F(PenOverlayXvfbTest, ACompositingManagerThatComesOrGoesLeavesTheCanvasWorking) { run("CompositorChange", false); }

class PenOverlayOnX : public OnServerTest {
protected:
    // Opens the canvas over the primary display and waits until it is shown.
    PenView* openCanvas(ProgramTools& tools, const DisplayInfo& display)
    {
        tools.showPenOverlay(display);
        PenView* view = tools.penOverlay() ? tools.penOverlay()->view() : nullptr;
        const bool shown = view && waitFor([&] { return view->windowHandle() && view->windowHandle()->isExposed(); });
        return shown ? view : nullptr;
    }

    // The pencil at `width`, in a home of the test's own; its colour.
    static QColor pencil(double width)
    {
        Prefs::shared().setPenTool(0);
        Prefs::shared().setPenWidth(width);
        return PenPalette::color(Prefs::shared().penColor());
    }

    void drag(const QPoint& from, const QPoint& to)
    {
        move(from);
        button(true);
        for (int i = 1; i <= 15; ++i)
            move(from + (to - from) * i / 15);
        button(false);
    }

    TempHome m_home;
};

ON_SERVER_TEST_F(PenOverlayOnX, Draws)
{
    const auto display = DisplayList::current()->primary();
    ASSERT_TRUE(display);
    const QColor ink = pencil(6);
    PenBoard& board = PenBoard::shared();
    ProgramTools tools;

    // Another program's window, which must stay in sight under the canvas.
    const unsigned long blue = 0x3060c0;
    foreignWindow(QRect(700, 450, 400, 250), blue, false);
    const auto screenAt = [](const QPoint& p) { return QGuiApplication::primaryScreen()->grabWindow(0).toImage().pixel(p); };
    ASSERT_TRUE(waitFor([&] { return (screenAt({900, 575}) & 0xffffff) == blue; }));

    PenView* view = openCanvas(tools, *display);
    ASSERT_TRUE(view);
    EXPECT_TRUE(board.active());
    EXPECT_EQ(view->geometry(), QGuiApplication::primaryScreen()->geometry());

    // Qt's points are the screen's pixels here (scale 1); global y is up.
    PerfCounters::shared().drain();
    drag({300, 300}, {600, 400});
    ASSERT_TRUE(waitFor([&] { return board.strokes() == 1 && board.hasInk() && !view->isStroking(); }));

    EXPECT_GT(PerfCounters::shared().drain().pen.n, 0) << "the strokes' latency is timed";
    const auto snap = board.snapshotForCompositor();
    ASSERT_TRUE(snap && snap->ink);
    const QColor drawn = snap->ink->pixelColor(450, 350);
    EXPECT_EQ(drawn.rgb(), ink.rgb()) << "the board holds the pen colour where the pointer went";
    EXPECT_EQ(snap->ink->pixelColor(450, 600).alpha(), 0) << "and nothing elsewhere";

    // The canvas painted, for the picture.
    const QImage screen =
        screenshot(m_compositor ? QStringLiteral("pen-overlay-composited.png") : QStringLiteral("pen-overlay.png"));
    EXPECT_LE(MoviePictures::distance(screen.pixelColor(450, 350), ink), 12) << "the ink shows on the screen";
    EXPECT_EQ(screen.pixel(900, 575) & 0xffffff, blue) << "the desktop shows through the canvas";

    tools.hidePenOverlay();
    EXPECT_FALSE(board.active());
    EXPECT_FALSE(board.hasInk());
    EXPECT_FALSE(tools.penOverlay()->isOpen());
}

// A plain strip of ours in one colour, as the shortcut hints above the toolbar.
class Strip : public QWidget {
public:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), QColor(0x20c040)); }
};

ON_SERVER_TEST_F(PenOverlayOnX, Live)
{
    const auto display = DisplayList::current()->primary();
    ASSERT_TRUE(display);
    const QColor ink = pencil(6);
    PenBoard& board = PenBoard::shared();
    ProgramTools tools;
    const auto screenNow = [] { return QGuiApplication::primaryScreen()->grabWindow(0).toImage(); };
    const auto rgb = [](const QImage& image, QPoint p) { return image.pixel(p) & 0xffffff; };

    // Another program's window under everything, over the whole screen, that
    // changes colour while the pen is on, as a clock's digits change.
    const unsigned long before = 0x3060c0, after = 0xc08030;
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const unsigned long desk = foreignWindow(screen, before, true);
    // A strip of ours, as the shortcut hints: 60 points narrower at each end
    // once the pen is on.
    Strip strip;
    const FloatingKit kit = FloatingKit::platform();
    kit.prepare(&strip, {});
    strip.setGeometry(400, 700, 480, 40);
    kit.showOnTop(&strip);
    ASSERT_TRUE(waitFor([&] { return rgb(screenNow(), {420, 720}) == 0x20c040; }));

    PenView* view = openCanvas(tools, *display);
    ASSERT_TRUE(view);
    // The pencil shows over the whole canvas, ink or not.
    move({640, 300});
    EXPECT_TRUE(waitFor([&] {
        XFixesCursorImage* cursor = XFixesGetCursorImage(m_x);
        const bool pencil = cursor && cursor->width == 32 && cursor->xhot == 4 && cursor->yhot == 28;
        if (cursor)
            XFree(cursor);
        return pencil;
    }, 10000)) << "the pen's cursor";
    strip.setGeometry(460, 700, 360, 40);
    XSetWindowBackground(m_x, desk, after);
    XClearWindow(m_x, desk);
    XSync(m_x, False);
    const bool live = waitFor([&] { return rgb(screenNow(), {100, 100}) == after; }, 5000);
    QImage shot = screenshot(QStringLiteral("desktop-changed.png"));
    EXPECT_TRUE(live) << "the desktop's change shows through the canvas";
    for (const QPoint p : {QPoint(100, 100), QPoint(1200, 150), QPoint(640, 400), QPoint(200, 750)})
        EXPECT_EQ(rgb(shot, p), after) << p.x() << "," << p.y();
    int stuck = 0; // the strip's old ends, left on the screen
    for (int x = 400; x < 880; ++x) {
        if (x < 460 || x >= 820)
            stuck += rgb(shot, {x, 720}) != after ? 1 : 0;
    }
    EXPECT_EQ(stuck, 0) << "the strip's old ends show the desktop again";
    EXPECT_EQ(rgb(shot, {640, 720}), 0x20c040u) << "and the strip itself still shows";

    // The canvas takes the pointer everywhere on its screen, though it shows only its ink.
    drag({300, 300}, {600, 400});
    ASSERT_TRUE(waitFor([&] { return board.strokes() == 1 && !view->isStroking(); }));
    drag({1100, 100}, {1200, 700});
    ASSERT_TRUE(waitFor([&] { return board.strokes() == 2 && !view->isStroking(); }));
    const auto inked = [&](const QImage& image, QPoint p) { return MoviePictures::distance(image.pixelColor(p), ink) <= 12; };
    ASSERT_TRUE(waitFor([&] {
        const QImage now = screenNow();
        return inked(now, {450, 350}) && inked(now, {1150, 400});
    }, 10000)) << "the strokes show on the screen";
    shot = screenshot(QStringLiteral("drawn.png"));
    EXPECT_EQ(rgb(shot, {450, 600}), after) << "and nothing else of the canvas";
    EXPECT_EQ(rgb(shot, {300, 650}), after);

    // Closing the canvas leaves the pointer to the desktop again.
    tools.hidePenOverlay();
    XSelectInput(m_x, desk, ButtonPressMask);
    XSync(m_x, False);
    click({100, 600});
    bool pressed = false;
    EXPECT_TRUE(waitFor([&] {
        while (XPending(m_x) > 0) {
            XEvent e;
            XNextEvent(m_x, &e);
            pressed |= e.type == ButtonPress && e.xbutton.window == desk;
        }
        return pressed;
    }, 10000)) << "a click reaches the window beneath once the pen is off";
}

ON_SERVER_TEST_F(PenOverlayOnX, CompositorChange)
{
    const auto display = DisplayList::current()->primary();
    ASSERT_TRUE(display);
    const QColor ink = pencil(6);
    PenBoard& board = PenBoard::shared();
    const unsigned long desk = 0x3060c0;
    foreignWindow(QGuiApplication::primaryScreen()->geometry(), desk, true);
    QString why;
    auto compositor = WindowManager::startCompositor(m_x, &why);
    if (!compositor)
        GTEST_SKIP() << why.toStdString();
    ProgramTools tools;
    PenView* view = openCanvas(tools, *display);
    ASSERT_TRUE(view);

    // Each stroke shows, and the desktop shows around it.
    const auto screenShows = [&](QPoint inked) {
        return waitFor([&] {
            const QImage now = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
            return MoviePictures::distance(now.pixelColor(inked), ink) <= 12 && (now.pixel(640, 600) & 0xffffff) == desk
                && (now.pixel(inked + QPoint(0, 60)) & 0xffffff) == desk;
        }, 20000);
    };
    const QPoint starts[] = {{200, 200}, {500, 200}, {800, 200}};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        if (i == 1)
            compositor->terminate();
        if (i == 2)
            ASSERT_TRUE(compositor = WindowManager::startCompositor(m_x, &why)) << why.toStdString();
        drag(starts[i], starts[i] + QPoint(200, 0));
        ASSERT_TRUE(waitFor([&] { return board.strokes() == i + 1 && !view->isStroking(); })) << "the stroke is taken";
        for (int j = 0; j <= i; ++j)
            EXPECT_TRUE(screenShows(starts[j] + QPoint(100, 0))) << "stroke " << j;
    }
    screenshot(QStringLiteral("compositor-back.png"));
    tools.hidePenOverlay();
}

ON_SERVER_TEST_F(PenOverlayOnX, Records)
{
    if (QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty())
        GTEST_SKIP() << "ffmpeg is needed";
    Prefs::shared().setPenTool(0);
    Prefs::shared().setPenWidth(8);
    Prefs::shared().setPenColor(3);
    const QColor ink = PenPalette::color(3);
    const auto display = DisplayList::current()->primary();
    ASSERT_TRUE(display);

    auto source = std::make_shared<X11ScreenSource>();
    auto engine = RecorderEngine::create();
    engine->setScreenSource(source);
    engine->setAudioInput(std::make_shared<SyntheticAudioInput>());
    engine->setPowerControl(std::make_shared<SyntheticPowerControl>());
    engine->setPointerService(std::make_shared<X11PointerService>());
    const MovieFolder folder(QStringLiteral("PenOverlayXvfb"));
    Stealth stealth; // tracks nothing: every window of ours stays out
    RecorderEngine::Config c;
    c.target = RecorderEngine::Target::display(display->id);
    c.fps = 12;
    c.cursorTheme = CursorTheme::hidden;
    c.outputURL = folder.file(QStringLiteral("Pen ink.mov"));
    c.excludedWindows = [&stealth] { return stealth.excludedWindowIds(); };

    ProgramTools tools;
    PenView* view = openCanvas(tools, *display);
    ASSERT_TRUE(view);
    ASSERT_FALSE(engine->startInner(c));
    spin(500);
    // Another program's window opens beneath the canvas: the recording shows
    // it, since the canvas is left out of it.
    foreignWindow(QRect(800, 550, 300, 200), 0x3060c0, true);
    drag({200, 200}, {700, 500});
    ASSERT_TRUE(waitFor([&] { return PenBoard::shared().hasInk() && !view->isStroking(); }));
    spin(1000);
    const auto movie = engine->stop();
    tools.hidePenOverlay();
    ASSERT_TRUE(movie);

    const QImage last = MoviePictures::last(*movie, display->pixelSize());
    ASSERT_FALSE(last.isNull());
    // Along the stroke, the pen's green (the codec moves plain colours a little).
    int inked = 0;
    for (int i = 1; i < 10; ++i) {
        const QPoint p = QPoint(200, 200) + (QPoint(700, 500) - QPoint(200, 200)) * i / 10;
        inked += MoviePictures::distance(last.pixelColor(p), ink) <= 60 ? 1 : 0;
    }
    EXPECT_GE(inked, 8) << "the ink is in the recording";
    EXPECT_GT(MoviePictures::distance(last.pixelColor(200, 600), ink), 60) << "and only where it was drawn";
    EXPECT_LE(MoviePictures::distance(last.pixelColor(950, 650), QColor(0x3060c0)), 60) << "the canvas is not in the recording";
}

} // namespace
} // namespace corvessa::test
