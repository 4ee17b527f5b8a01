#include "platform/PlatformLoader.h"
#include "support/Artifacts.h"
#include "support/DrivenTest.h"
#include "support/XvfbTest.h"
#include "tools/CountdownDigit.h"
#include "tools/CountdownOverlay.h"

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

using namespace corvessa;

namespace {

Display* qtDisplay()
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->display() : nullptr;
}

} // namespace

// The test program's own Qt runs offscreen; the windows are checked in a
// second run of it on the private X server (the disabled test below).
class CountdownOverlayXvfbTest : public test::XvfbTest {};

TEST_F(CountdownOverlayXvfbTest, CentredClickThroughAndDrawnWithoutCompositing)
{
    if (IsSkipped() || HasFatalFailure())
        return;
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_also_run_disabled_tests"),
                 QStringLiteral("--gtest_filter=CountdownOverlayOnX.DISABLED_*")});
    ASSERT_TRUE(child.waitForFinished(120000));
    const QByteArray output = child.readAll();
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
}

ON_SERVER_TEST(CountdownOverlayOnX, OnTheServer)
{
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    Display* display = qtDisplay();
    ASSERT_TRUE(display);

    // Bare Xvfb: no manager, until someone holds the manager's selection.
    EXPECT_FALSE(PlatformLoader::compositingActive());
    Display* other = XOpenDisplay(nullptr);
    ASSERT_TRUE(other);
    XSetSelectionOwner(other, XInternAtom(other, "_NET_WM_CM_S0", False), DefaultRootWindow(other), CurrentTime);
    XSync(other, False);
    EXPECT_TRUE(PlatformLoader::compositingActive());
    XCloseDisplay(other);
    EXPECT_FALSE(PlatformLoader::compositingActive()) << "the selection goes with its owner";

    // A display in the lower right of the 1280x800 screen: global y up.
    DisplayInfo info;
    info.frame = GlobalRect(480, 0, 800, 500);
    const QRect qtFrame(480, 300, 800, 500);
    QPushButton beneath;
    beneath.setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    beneath.setGeometry(qtFrame);
    int presses = 0;
    QObject::connect(&beneath, &QPushButton::pressed, [&] { ++presses; });
    beneath.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&beneath));

    CountdownOverlay overlay;
    overlay.show(3, info);
    CountdownDigit* window = overlay.window();
    ASSERT_TRUE(window);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->isPopping(); }, 10000));
    EXPECT_TRUE(window->isShaped());

    // Where the X server has it: centred on the display.
    int x = 0, y = 0;
    ::Window child = 0;
    XTranslateCoordinates(display, Window(window->winId()), DefaultRootWindow(display), 0, 0, &x, &y, &child);
    EXPECT_EQ(QRect(x, y, CountdownDigit::side, CountdownDigit::side).center(), qtFrame.center());

    // A click on the digit's ink lands on the window beneath.
    const QImage own = window->grab().toImage();
    QPoint ink(-1, -1);
    for (int i = 0; i < own.width() && ink.x() < 0; ++i)
        if (qAlpha(own.pixel(i, own.height() / 2)) > 200 && qGray(own.pixel(i, own.height() / 2)) > 150)
            ink = QPoint(i, own.height() / 2);
    ASSERT_GE(ink.x(), 0) << "the digit was drawn";
    const QPoint rootInk = QPoint(x, y) + ink;
    XTestFakeMotionEvent(display, -1, rootInk.x(), rootInk.y(), CurrentTime);
    XSync(display, False);
    // Let the pointer's arrival be handled before the press, however busy the machine.
    QTest::qWait(200);
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    XFlush(display);
    EXPECT_TRUE(QTest::qWaitFor([&] { return presses > 0; }, 30000));

    // And the screen shows the digit there, not black.
    const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0, qtFrame.x(), qtFrame.y(), qtFrame.width(), qtFrame.height()).toImage();
    EXPECT_GT(qGray(shot.pixel(rootInk - qtFrame.topLeft())), 150);
    if (const QString kept = test::Artifacts::path(QStringLiteral("countdown-3.png")); !kept.isEmpty())
        shot.save(kept);
}
