#include "support/OnServerTest.h"

#include "support/WindowManager.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <iterator>
#include <optional>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace corvessa::test {

void OnServerTest::SetUp()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "runs only on the private X server";
    m_x = XOpenDisplay(nullptr);
    ASSERT_TRUE(m_x);
    const QString compositor = qEnvironmentVariable("CORVESSA_TEST_COMPOSITOR");
    const bool shadows = compositor == QLatin1String("picom");
    m_compositor = compositor == QLatin1String("1") || shadows;
    QString why;
    m_wm = WindowManager::startOpenbox(m_x, &why);
    if (!m_wm)
        GTEST_SKIP() << why.toStdString();
    if (m_compositor
        && !(m_cm = shadows ? WindowManager::startCompositor(m_x, &why, compositor,
                                                             WindowManager::shadowArguments(compositor))
                            : WindowManager::startCompositor(m_x, &why)))
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
    chord({keysym});
}

void OnServerTest::chord(std::initializer_list<unsigned long> keysyms)
{
    for (const unsigned long k : keysyms)
        XTestFakeKeyEvent(m_x, XKeysymToKeycode(m_x, k), True, CurrentTime);
    for (auto it = std::rbegin(keysyms); it != std::rend(keysyms); ++it)
        XTestFakeKeyEvent(m_x, XKeysymToKeycode(m_x, *it), False, CurrentTime);
    XFlush(m_x);
    spin(30);
}

namespace {

std::optional<QRect> onServer(Display* x, QWidget* window)
{
    int rx = 0, ry = 0, wx = 0, wy = 0;
    ::Window child = 0, root = 0;
    unsigned width = 0, height = 0, border = 0, depth = 0;
    const auto id = ::Window(window->winId());
    if (!XTranslateCoordinates(x, id, DefaultRootWindow(x), 0, 0, &rx, &ry, &child)
        || !XGetGeometry(x, id, &root, &wx, &wy, &width, &height, &border, &depth))
        return std::nullopt;
    return QRect(rx, ry, int(width), int(height));
}

} // namespace

bool OnServerTest::settledOnServer(QWidget* window)
{
    return onServer(m_x, window) == QRect(window->mapToGlobal(QPoint(0, 0)), window->size());
}

std::string OnServerTest::serverGeometry(QWidget* window)
{
    const auto text = [](const QRect& r) {
        return std::to_string(r.x()) + "," + std::to_string(r.y()) + " " + std::to_string(r.width()) + "x"
            + std::to_string(r.height());
    };
    const auto server = onServer(m_x, window);
    return "server " + (server ? text(*server) : std::string("none")) + ", Qt "
        + text(QRect(window->mapToGlobal(QPoint(0, 0)), window->size()));
}

bool OnServerTest::keyboardFree()
{
    const int result = XGrabKeyboard(m_x, DefaultRootWindow(m_x), False, GrabModeAsync, GrabModeAsync, CurrentTime);
    if (result == GrabSuccess)
        XUngrabKeyboard(m_x, CurrentTime);
    XSync(m_x, False);
    return result == GrabSuccess;
}

unsigned long OnServerTest::foreignWindow(const QRect& r, unsigned long rgb, bool lowered)
{
    const Window w = XCreateSimpleWindow(m_x, DefaultRootWindow(m_x), r.x(), r.y(), unsigned(r.width()),
                                         unsigned(r.height()), 0, 0, rgb);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    XChangeWindowAttributes(m_x, w, CWOverrideRedirect, &attributes);
    XMapWindow(m_x, w);
    if (lowered)
        XLowerWindow(m_x, w);
    XSync(m_x, False);
    return w;
}

std::vector<unsigned long> OnServerTest::listProperty(_XDisplay* x, unsigned long window, const char* name,
                                                     unsigned long type)
{
    Atom actual = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned long> out;
    if (XGetWindowProperty(x, Window(window), XInternAtom(x, name, False), 0, 64, False, Atom(type), &actual, &format,
                           &count, &after, &data)
            == Success
        && data && format == 32) {
        const auto* values = reinterpret_cast<const unsigned long*>(data);
        out.assign(values, values + count);
    }
    if (data)
        XFree(data);
    return out;
}

bool OnServerTest::hasAtom(_XDisplay* x, const std::vector<unsigned long>& atoms, const char* name)
{
    return std::find(atoms.begin(), atoms.end(), XInternAtom(x, name, False)) != atoms.end();
}

QImage OnServerTest::screenshot(const QString& name)
{
    spin(200);
    WindowManager::keepScreenshot(name);
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage();
}

} // namespace corvessa::test
