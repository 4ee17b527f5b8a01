#include "platform/x11/X11WindowHints.h"

#include <QGuiApplication>
#include <QWindow>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace corvessa {

namespace {

// Qt's own connection, so the property lands before Qt maps the window; none
// off X (the offscreen platform of the tests).
Display* qtDisplay()
{
    if (!qGuiApp || QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->display() : nullptr;
}

} // namespace

void X11WindowHints::showOnAllDesktops(QWindow* window)
{
    Display* display = qtDisplay();
    if (!display || !window)
        return;
    // EWMH: a window on desktop 0xFFFFFFFF shows on every virtual desktop.
    const Atom desktop = XInternAtom(display, "_NET_WM_DESKTOP", False);
    const unsigned long all = 0xFFFFFFFFul;
    XChangeProperty(display, Window(window->winId()), desktop, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&all), 1);
    XFlush(display);
}

} // namespace corvessa
