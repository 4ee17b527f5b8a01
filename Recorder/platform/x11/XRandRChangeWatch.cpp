#include "platform/x11/XRandRChangeWatch.h"

// X11 last: its macros (None, Bool, Status, Success) clash with names in Qt.
#include "platform/x11/X11Handles.h"

namespace corvessa {

struct XRandRChangeWatch::Connection {
    X11DisplayPtr display;
    int randrEventBase = 0;
    Atom workArea = None;
    Atom currentDesktop = None;
};

XRandRChangeWatch::XRandRChangeWatch(const QString& displayName)
{
    X11DisplayPtr display = openX11Display(displayName);
    if (!display)
        return;
    Display* dpy = display.get();
    auto connection = std::make_unique<Connection>();
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    if (!XRRQueryExtension(dpy, &connection->randrEventBase, &errorBase) || !XRRQueryVersion(dpy, &major, &minor) ||
        (major == 1 && minor < 2))
        return;
    const Window root = DefaultRootWindow(dpy);
    XRRSelectInput(dpy, root,
                   RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask |
                       RROutputPropertyNotifyMask);
    // Only this connection's interest in the root: other clients' masks stay.
    XSelectInput(dpy, root, PropertyChangeMask);
    connection->workArea = XInternAtom(dpy, "_NET_WORKAREA", False);
    connection->currentDesktop = XInternAtom(dpy, "_NET_CURRENT_DESKTOP", False);
    // Selected before the first read of the layout, so nothing after it is missed.
    XSync(dpy, False);
    if (X11ConnectionLoss::isLost(dpy))
        return;
    connection->display = std::move(display);
    m_connection = std::move(connection);
}

XRandRChangeWatch::~XRandRChangeWatch() = default;

bool XRandRChangeWatch::isListening() const
{
    return m_connection && !X11ConnectionLoss::isLost(m_connection->display.get());
}

bool XRandRChangeWatch::changed()
{
    if (!isListening())
        return true;
    Display* dpy = m_connection->display.get();
    bool changed = false;
    // QueuedAfterReading reads what the socket holds without blocking.
    while (XEventsQueued(dpy, QueuedAfterReading) > 0) {
        XEvent event;
        XNextEvent(dpy, &event);
        if (event.type == PropertyNotify) {
            const Atom atom = event.xproperty.atom;
            changed = changed || atom == m_connection->workArea || atom == m_connection->currentDesktop;
        } else if (event.type >= m_connection->randrEventBase &&
                   event.type <= m_connection->randrEventBase + RRNotify) {
            // Keeps Xlib's idea of the screen size current.
            XRRUpdateConfiguration(&event);
            changed = true;
        }
    }
    return changed || X11ConnectionLoss::isLost(dpy);
}

} // namespace corvessa
