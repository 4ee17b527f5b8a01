// Last: X11's macros clash with names in Qt.
#include "platform/x11/X11RootBackground.h"

#include <X11/extensions/shape.h>

namespace corvessa {

Pixmap X11RootBackground::pixmap(X11ErrorTrap& trap, const QRect& area)
{
    if (area != m_area) {
        forget();
        m_area = area;
        if (!area.isEmpty())
            read(trap, area);
    }
    return m_pixmap.get();
}

void X11RootBackground::forget()
{
    m_pixmap.reset();
    m_area = QRect();
}

void X11RootBackground::read(X11ErrorTrap& trap, const QRect& area)
{
    Display* dpy = m_display.get();
    XSetWindowAttributes a{};
    a.background_pixmap = ParentRelative; // the root's tile, aligned as the root shows it
    a.override_redirect = True;           // no window manager takes it in
    a.event_mask = NoEventMask;
    const Window probe = XCreateWindow(dpy, m_display.root(), area.x(), area.y(), unsigned(area.width()),
                                       unsigned(area.height()), 0, CopyFromParent, InputOutput, CopyFromParent,
                                       CWBackPixmap | CWOverrideRedirect | CWEventMask, &a);
    // Manual redirection: the server paints it into its own pixmap and never
    // on the screen. Refused when another client redirects it already.
    XCompositeRedirectWindow(dpy, probe, CompositeRedirectManual);
    if (trap.sync() != 0) {
        XDestroyWindow(dpy, probe);
        trap.sync();
        return;
    }
    if (m_display.hasShape())
        XShapeCombineRectangles(dpy, probe, ShapeInput, 0, 0, nullptr, 0, ShapeSet, Unsorted);
    XLowerWindow(dpy, probe);
    XMapWindow(dpy, probe); // paints its background, into its pixmap
    // The pixmap stays ours after the window is gone.
    const Pixmap named = XCompositeNameWindowPixmap(dpy, probe);
    const bool ok = trap.sync() == 0;
    XDestroyWindow(dpy, probe);
    trap.sync();
    if (ok)
        m_pixmap = PixmapHandle(dpy, named);
}

} // namespace corvessa
