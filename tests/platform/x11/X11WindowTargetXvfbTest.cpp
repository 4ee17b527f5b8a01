// A window target under a real window manager (openbox): what the capture
// delivers while the window is minimised or on another workspace, and after it
// is back.
#include "platform/core/PixelBuffer.h"
#include "support/Artifacts.h"
#include "support/ChildProcess.h"
#include "support/WindowManager.h"

#include <QStandardPaths>

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <ostream>
#include <vector>

// X11 last: its macros clash with names in Qt and GoogleTest.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
// After gtest: Xlib defines macros (None, Bool) that clash with it.
#include "platform/x11/ScreenStreamXvfbTest.h"

using namespace corvessa;
using namespace corvessa::test;

namespace {

// What openbox does to the window, and how the window comes back.
struct Away {
    const char* name;
    QStringList leave; // xdotool's arguments, the window's id written "%w"
    QStringList back;
};

void PrintTo(const Away& a, std::ostream* os)
{
    *os << a.name;
}

// xdotool's `arguments` about window `w`, written "%w".
bool xdotool(QStringList arguments, Window w)
{
    for (QString& a : arguments)
        a.replace(QStringLiteral("%w"), QString::number(w));
    return WindowManager::xdotool(arguments);
}

// A picture in which more than a tenth of the pixels are black: the window's
// contents read while it is away.
bool dark(const PixelBuffer& b)
{
    int black = 0;
    for (int y = 0; y < b.height(); y += 2)
        for (int x = 0; x < b.width(); x += 2)
            black += near(pixel(b, x, y), 0, 24) ? 1 : 0;
    return black * 40 > b.width() * b.height();
}

// A window target read into frames of `size`, whose dark pictures are kept.
class WindowTargetXvfb : public ScreenStreamXvfbTest {
protected:
    void SetUp() override
    {
        ScreenStreamXvfbTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        collector.inspect = [this](const PixelBuffer& b) {
            if (dark(b)) {
                std::lock_guard lock(darkMutex);
                darkPictures.push_back(imageOf(b));
            }
        };
    }
    // The colour at `p` of the last frame comes to be `colour`.
    bool shows(const QPoint& p, uint32_t colour)
    {
        return collector.waitForFrame([&](const PixelBuffer& b) { return near(pixel(b, p.x(), p.y()), colour); });
    }
    // No frame delivered so far was dark; the first few are kept for a reviewer.
    void expectNoDarkPicture()
    {
        std::lock_guard lock(darkMutex);
        EXPECT_TRUE(darkPictures.empty()) << darkPictures.size() << " dark pictures";
        for (size_t i = 0; i < darkPictures.size() && i < 4; ++i) {
            if (const QString kept = Artifacts::path(QStringLiteral("dark-%1.png").arg(i)); !kept.isEmpty())
                darkPictures[i].save(kept);
        }
    }

    std::mutex darkMutex;
    std::vector<QImage> darkPictures;
};

class X11WindowTargetXvfb : public WindowTargetXvfb, public ::testing::WithParamInterface<Away> {
protected:
    void SetUp() override
    {
        WindowTargetXvfb::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            GTEST_SKIP() << "xdotool is not installed";
        QString why;
        wm = WindowManager::startOpenbox(painter->display(), &why);
        if (!wm)
            GTEST_SKIP() << why.toStdString();
    }
    void TearDown() override
    {
        ScreenStreamXvfbTest::TearDown();
        wm.reset();
    }

    std::unique_ptr<ChildProcess> wm;
};

} // namespace

// A frame that shrinks over its window (a window manager animating a minimise
// or a restore, or shading the window to its title bar) shows only a part of
// it: no picture until the frame holds the whole window again.
TEST_F(WindowTargetXvfb, AFrameThatCutsItsWindowGivesNoPicture)
{
    Display* dpy = painter->display();
    const Window frame = painter->window(QRect(100, 100, 220, 160), kGrey);
    const Window client = painter->window(QRect(10, 30, 200, 120), kRed, frame);
    painter->setWmState(client);
    startStream(windowFilter(client), bgraConfig(220, 160));
    const QPoint middle(110, 90);
    ASSERT_TRUE(shows(middle, kRed));

    // A while in each state, time enough for frames to come were they made.
    XResizeWindow(dpy, frame, 220, 30); // the title bar alone
    painter->recolour(client, kYellow);
    WindowManager::spin(200);
    XResizeWindow(dpy, frame, 220, 100); // the window's top
    painter->recolour(client, kCyan);
    WindowManager::spin(200);
    XResizeWindow(dpy, frame, 220, 160);
    painter->recolour(client, kBlue);
    // The frames come in order: every picture of the cut window came before this one.
    ASSERT_TRUE(shows(middle, kBlue));
    expectNoDarkPicture();
}

// A window away from the screen has no picture to read: its contents read
// black, and openbox's iconify animation keeps the frame up for a moment after
// the window inside it is gone. The capture sends nothing new meanwhile, so a
// recording holds the last picture, and it is live again once the window is back.
TEST_P(X11WindowTargetXvfb, AWindowAwayGivesNoPictureAndComesBackLive)
{
    Display* dpy = painter->display();
    const Window client = painter->window(QRect(200, 150, 320, 200), kRed);
    ASSERT_TRUE(WindowManager::waitFor([&] { return painter->topLevel(client) != client && painter->viewable(client); }));
    const Window frame = painter->topLevel(client);
    XWindowAttributes a;
    ASSERT_TRUE(XGetWindowAttributes(dpy, frame, &a));
    // The picture is the frame's, at its own size: the client's middle is here.
    int cx = 0, cy = 0;
    Window child = 0;
    XTranslateCoordinates(dpy, client, frame, 160, 100, &cx, &cy, &child);
    const QPoint middle(cx, cy);
    startStream(windowFilter(client), bgraConfig(a.width, a.height));
    ASSERT_TRUE(shows(middle, kRed));

    const Away& away = GetParam();
    ASSERT_TRUE(xdotool(away.leave, client));
    // Gone once the frame is down too, after any animation.
    ASSERT_TRUE(WindowManager::waitFor([&] { return !painter->viewable(frame) && !painter->viewable(client); }));
    const int whileAway = collector.frameCount();
    WindowManager::spin(1000);
    EXPECT_EQ(collector.frameCount(), whileAway) << "pictures of a window that is not shown";

    ASSERT_TRUE(xdotool(away.back, client));
    ASSERT_TRUE(WindowManager::waitFor([&] { return painter->viewable(client); }));
    painter->recolour(client, kBlue);
    EXPECT_TRUE(shows(middle, kBlue));
    EXPECT_EQ(collector.stopCount(), 0);
    expectNoDarkPicture();
}

INSTANTIATE_TEST_SUITE_P(
    Openbox, X11WindowTargetXvfb,
    ::testing::Values(Away{"Minimised",
                           {QStringLiteral("windowminimize"), QStringLiteral("%w")},
                           {QStringLiteral("windowactivate"), QStringLiteral("%w")}},
                      Away{"OnAnotherWorkspace",
                           {QStringLiteral("set_desktop_for_window"), QStringLiteral("%w"), QStringLiteral("1")},
                           {QStringLiteral("set_desktop_for_window"), QStringLiteral("%w"), QStringLiteral("0")}}),
    [](const ::testing::TestParamInfo<Away>& info) { return std::string(info.param.name); });
