// The pen overlay on a real X server with openbox, with and without a
// compositing manager: an XTest drag over the canvas leaves ink on the board
// the recording reads and on the screen, and closing the canvas drops it. The
// checks run in a second run of the program on the private server.
#include "engine/compositor/PenBoard.h"
#include "engine/compositor/PenPalette.h"
#include "platform/DisplayList.h"
#include "prefs/Prefs.h"
#include "support/ChildProcess.h"
#include "support/TempHome.h"
#include "support/WindowManager.h"
#include "support/XvfbTest.h"
#include "tools/PenOverlay.h"
#include "tools/ProgramTools.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace corvessa::test {
namespace {

class PenOverlayXvfbTest : public XvfbTest {};

TEST_F(PenOverlayXvfbTest, ADragLeavesInkOnTheBoardAndTheScreen) { runOnServer("PenOverlayOnX.DISABLED_Draws"); }
TEST_F(PenOverlayXvfbTest, ADragLeavesInkWithACompositingManager)
{
    runOnServer("PenOverlayOnX.DISABLED_Draws", {QStringLiteral("PEN_TEST_COMPOSITOR=1")});
}

class PenOverlayOnX : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "runs only on the private X server";
        m_x = XOpenDisplay(nullptr);
        ASSERT_TRUE(m_x);
        QString why;
        m_wm = WindowManager::startOpenbox(m_x, &why);
        if (m_wm && qEnvironmentVariableIsSet("PEN_TEST_COMPOSITOR"))
            m_compositor = WindowManager::startCompositor(m_x, &why);
        if (!m_wm || (qEnvironmentVariableIsSet("PEN_TEST_COMPOSITOR") && !m_compositor))
            GTEST_SKIP() << why.toStdString();
    }

    void TearDown() override
    {
        m_compositor.reset();
        m_wm.reset();
        if (m_x)
            XCloseDisplay(m_x);
    }

    void move(const QPoint& p)
    {
        XTestFakeMotionEvent(m_x, -1, p.x(), p.y(), CurrentTime);
        XFlush(m_x);
        WindowManager::spin(20);
    }
    void button(bool down)
    {
        XTestFakeButtonEvent(m_x, 1, down ? True : False, CurrentTime);
        XFlush(m_x);
        WindowManager::spin(20);
    }

    Display* m_x = nullptr;
    std::unique_ptr<ChildProcess> m_wm;
    std::unique_ptr<ChildProcess> m_compositor;
};

TEST_F(PenOverlayOnX, DISABLED_Draws)
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
    const Window other = XCreateSimpleWindow(m_x, DefaultRootWindow(m_x), 700, 450, 400, 250, 0, 0, blue);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    XChangeWindowAttributes(m_x, other, CWOverrideRedirect, &attributes);
    XMapWindow(m_x, other);
    XSync(m_x, False);
    const auto screenAt = [](const QPoint& p) { return QGuiApplication::primaryScreen()->grabWindow(0).toImage().pixel(p); };
    ASSERT_TRUE(WindowManager::waitFor([&] { return (screenAt({900, 575}) & 0xffffff) == blue; }));

    tools.showPenOverlay(*display);
    ASSERT_TRUE(tools.penOverlay());
    PenView* view = tools.penOverlay()->view();
    ASSERT_TRUE(view);
    ASSERT_TRUE(WindowManager::waitFor([&] { return view->windowHandle() && view->windowHandle()->isExposed(); }));
    EXPECT_TRUE(board.active());
    EXPECT_EQ(view->geometry(), QGuiApplication::primaryScreen()->geometry());

    // Qt's points are the screen's pixels here (scale 1); global y is up.
    move({300, 300});
    button(true);
    for (int x = 320; x <= 600; x += 20)
        move({x, 300 + (x - 300) / 3});
    button(false);
    ASSERT_TRUE(WindowManager::waitFor([&] { return board.strokes() == 1 && board.hasInk() && !view->isStroking(); }));

    const auto snap = board.snapshotForCompositor();
    ASSERT_TRUE(snap && snap->ink);
    const QColor drawn = snap->ink->pixelColor(450, 350);
    EXPECT_EQ(drawn.rgb(), ink.rgb()) << "the board holds the pen colour where the pointer went";
    EXPECT_EQ(snap->ink->pixelColor(450, 600).alpha(), 0) << "and nothing elsewhere";

    WindowManager::spin(200); // the canvas painted, for the picture
    WindowManager::keepScreenshot(m_compositor ? QStringLiteral("pen-overlay-composited.png")
                                               : QStringLiteral("pen-overlay.png"));
    const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    const QColor shown = screen.pixelColor(450, 350);
    EXPECT_LE(std::abs(shown.red() - ink.red()) + std::abs(shown.green() - ink.green())
                  + std::abs(shown.blue() - ink.blue()),
              12)
        << "the ink shows on the screen";

    EXPECT_EQ(screen.pixel(900, 575) & 0xffffff, blue) << "the desktop shows through the canvas";

    tools.hidePenOverlay();
    EXPECT_FALSE(board.active());
    EXPECT_FALSE(board.hasInk());
    EXPECT_FALSE(tools.penOverlay()->isOpen());
}

} // namespace
} // namespace corvessa::test
