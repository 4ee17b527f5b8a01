// The pen overlay on a real X server with openbox, with and without a
// compositing manager: an XTest drag over the canvas leaves ink on the board
// the recording reads and on the screen, and closing the canvas drops it. The
// checks run in a second run of the program on the private server.
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
#include "support/XvfbTest.h"
#include "tools/PenOverlay.h"
#include "tools/ProgramTools.h"

#include <QGuiApplication>
#include <QStandardPaths>
#include <QScreen>
#include <QWindow>

#include <gtest/gtest.h>


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

    void drag(const QPoint& from, const QPoint& to)
    {
        move(from);
        button(true);
        for (int i = 1; i <= 15; ++i)
            move(from + (to - from) * i / 15);
        button(false);
    }
};

ON_SERVER_TEST_F(PenOverlayOnX, Draws)
{
    TempHome home;
    const auto display = DisplayList::current()->primary();
    ASSERT_TRUE(display);
    Prefs::shared().setPenTool(0);
    Prefs::shared().setPenWidth(6);
    const QColor ink = PenPalette::color(Prefs::shared().penColor());
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

ON_SERVER_TEST_F(PenOverlayOnX, Records)
{
    if (QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty())
        GTEST_SKIP() << "ffmpeg is needed";
    TempHome home;
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
