#include "support/OnServerTest.h"

#include "support/WindowManager.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace corvessa::test {

void OnServerTest::SetUp()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "runs only on the private X server";
    m_x = XOpenDisplay(nullptr);
    ASSERT_TRUE(m_x);
    m_compositor = qEnvironmentVariable("CORVESSA_TEST_COMPOSITOR") == QLatin1String("1");
    QString why;
    m_wm = WindowManager::startOpenbox(m_x, &why);
    if (!m_wm)
        GTEST_SKIP() << why.toStdString();
    if (m_compositor && !(m_cm = WindowManager::startCompositor(m_x, &why)))
        GTEST_SKIP() << why.toStdString();
}

void OnServerTest::TearDown()
{
    if (m_x)
        XCloseDisplay(m_x);
    m_x = nullptr;
    m_cm.reset();
    m_wm.reset();
}

bool OnServerTest::waitFor(const std::function<bool()>& done, int ms)
{
    return WindowManager::waitFor(done, ms);
}

void OnServerTest::spin(int ms)
{
    WindowManager::spin(ms);
}

void OnServerTest::move(QPoint p)
{
    XTestFakeMotionEvent(m_x, -1, p.x(), p.y(), CurrentTime);
    XFlush(m_x);
    spin(30);
}

void OnServerTest::button(bool down)
{
    XTestFakeButtonEvent(m_x, 1, down ? True : False, CurrentTime);
    XFlush(m_x);
    spin(30);
}

void OnServerTest::click(QPoint p)
{
    move(p);
    button(true);
    button(false);
    spin(150);
}

void OnServerTest::key(unsigned long keysym)
{
    const KeyCode code = XKeysymToKeycode(m_x, keysym);
    XTestFakeKeyEvent(m_x, code, True, CurrentTime);
    XTestFakeKeyEvent(m_x, code, False, CurrentTime);
    XFlush(m_x);
    spin(30);
}

bool OnServerTest::settledOnServer(QWidget* window)
{
    int x = 0, y = 0;
    ::Window child = 0, root = 0;
    unsigned width = 0, height = 0, border = 0, depth = 0;
    const auto id = ::Window(window->winId());
    if (!XTranslateCoordinates(m_x, id, DefaultRootWindow(m_x), 0, 0, &x, &y, &child))
        return false;
    int wx = 0, wy = 0;
    XGetGeometry(m_x, id, &root, &wx, &wy, &width, &height, &border, &depth);
    return QPoint(x, y) == window->mapToGlobal(QPoint(0, 0)) && QSize(int(width), int(height)) == window->size();
}

bool OnServerTest::keyboardFree()
{
    const int result = XGrabKeyboard(m_x, DefaultRootWindow(m_x), False, GrabModeAsync, GrabModeAsync, CurrentTime);
    if (result == GrabSuccess)
        XUngrabKeyboard(m_x, CurrentTime);
    XSync(m_x, False);
    return result == GrabSuccess;
}

QImage OnServerTest::screenshot(const QString& name)
{
    spin(200);
    WindowManager::keepScreenshot(name);
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage();
}

} // namespace corvessa::test
