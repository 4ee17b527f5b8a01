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

void X11WindowHints::dialogFrame(QWindow* window, bool resizable)
{
    Display* display = X11QtConnection::display();
    if (!display || !window)
        return;
    // The Motif hints every window manager reads: flags, functions,
    // decorations, input mode, status.
    constexpr unsigned long functionsFlag = 1ul << 0, decorationsFlag = 1ul << 1;
    constexpr unsigned long resizeFunction = 1ul << 1, moveFunction = 1ul << 2, closeFunction = 1ul << 5;
    constexpr unsigned long borderDecoration = 1ul << 1;
    const unsigned long functions = moveFunction | closeFunction | (resizable ? resizeFunction : 0);
    const unsigned long hints[5] = {functionsFlag | decorationsFlag, functions, borderDecoration, 0, 0};
    const Atom motif = XInternAtom(display, "_MOTIF_WM_HINTS", False);
    XChangeProperty(display, Window(window->winId()), motif, motif, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(hints), 5);
    XFlush(display);
}

} // namespace corvessa
