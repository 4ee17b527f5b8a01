#include "support/WindowManager.h"

#include "support/Artifacts.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace corvessa::test {

namespace {

bool owned(Display* x, const char* selection)
{
    return XGetSelectionOwner(x, XInternAtom(x, selection, False)) != None;
}

bool rootHas(Display* x, const char* property)
{
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    XGetWindowProperty(x, DefaultRootWindow(x), XInternAtom(x, property, False), 0, 1, False, AnyPropertyType, &type,
                       &format, &count, &after, &data);
    if (data)
        XFree(data);
    return type != None;
}

} // namespace

std::unique_ptr<ChildProcess> WindowManager::startOpenbox(Display* x, QString* why)
{
    auto wm = ChildProcess::start(QStringLiteral("openbox"), {});
    if (!wm) {
        *why = QStringLiteral("openbox is not installed");
        return nullptr;
    }
    // It owns the selection before it watches the root: a window mapped in
    // between is never managed. The check window comes after.
    if (!waitFor([&] { return owned(x, "WM_S0") && rootHas(x, "_NET_SUPPORTING_WM_CHECK"); })) {
        *why = QStringLiteral("openbox never got ready");
        return nullptr;
    }
    // Even then it may not watch the root yet: a window mapped before it does
    // is never managed. It is ready once a probe window gets a frame; a probe
    // mapped too early is dropped and another one tried.
    bool framed = false;
    for (int attempt = 0; attempt < 30 && !framed; ++attempt) {
        const Window probe = XCreateSimpleWindow(x, DefaultRootWindow(x), 0, 0, 10, 10, 0, 0, 0);
        XMapWindow(x, probe);
        XSync(x, False);
        framed = waitFor(
            [&] {
                Window root = 0, parent = 0, *children = nullptr;
                unsigned int count = 0;
                XQueryTree(x, probe, &root, &parent, &children, &count);
                if (children)
                    XFree(children);
                return parent != root;
            },
            500);
        XDestroyWindow(x, probe);
        XSync(x, False);
    }
    if (!framed) {
        *why = QStringLiteral("openbox never managed a window");
        return nullptr;
    }
    return wm;
}

std::unique_ptr<ChildProcess> WindowManager::startCompositor(Display* x, QString* why, const QString& program,
                                                            const QStringList& arguments)
{
    auto cm = ChildProcess::start(program, arguments);
    if (!cm) {
        *why = program + QStringLiteral(" is not installed");
        return nullptr;
    }
    if (!waitFor([&] { return owned(x, "_NET_WM_CM_S0"); })) {
        *why = program + QStringLiteral(" never started");
        return nullptr;
    }
    return cm;
}

QStringList WindowManager::shadowArguments(const QString& program)
{
    if (program == QLatin1String("picom")) // without a configuration of the user's, and without OpenGL
        return {QStringLiteral("--shadow"), QStringLiteral("--backend"), QStringLiteral("xrender"),
                QStringLiteral("--config"), QStringLiteral("/dev/null")};
    return {QStringLiteral("-c")};
}

std::unique_ptr<ChildProcess> WindowManager::startTray(Display* x, QString* why)
{
    auto tray = ChildProcess::start(QStringLiteral("trayer"),
                                    {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                                     QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("pixel"),
                                     QStringLiteral("--width"), QStringLiteral("120"), QStringLiteral("--height"),
                                     QStringLiteral("28"), QStringLiteral("--SetDockType"), QStringLiteral("true")});
    if (!tray) {
        *why = QStringLiteral("trayer is not installed");
        return nullptr;
    }
    if (!waitFor([&] { return owned(x, "_NET_SYSTEM_TRAY_S0"); }, 20000)) {
        *why = QStringLiteral("trayer never took the tray selection");
        return nullptr;
    }
    return tray;
}

bool WindowManager::xdotool(const QStringList& arguments)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    return !program.isEmpty() && QProcess::execute(program, arguments) == 0;
}

bool WindowManager::waitFor(const std::function<bool()>& done, int ms)
{
    return QTest::qWaitFor(done, ms);
}

void WindowManager::spin(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

void WindowManager::keepScreenshot(const QString& name)
{
    const QString kept = Artifacts::path(name);
    if (kept.isEmpty() || !QGuiApplication::primaryScreen())
        return;
    QGuiApplication::primaryScreen()->grabWindow(0).save(kept);
}

} // namespace corvessa::test
