#include "platform/x11/X11WindowHints.h"

#include "platform/x11/X11QtConnection.h"

#include <QWindow>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace corvessa {

void X11WindowHints::showOnAllDesktops(QWindow* window)
{
    // Qt's own connection, so the property lands before Qt maps the window.
    Display* display = X11QtConnection::display();
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
