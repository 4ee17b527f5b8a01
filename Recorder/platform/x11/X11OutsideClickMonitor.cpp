#include "platform/x11/X11OutsideClickMonitor.h"

#include "platform/QtScreenLayout.h"

#include <QCoreApplication>
#include <QSocketNotifier>

// X11 last: its macros (None, Bool, Status, Success) clash with names in Qt.
#include "platform/x11/X11Handles.h"

#include <X11/extensions/XInput2.h>

namespace corvessa {

namespace {

// Buttons 4 to 7 are the wheel's steps up, down, left and right.
bool isWheel(int button)
{
    return button >= 4 && button <= 7;
}

} // namespace

struct X11OutsideClickMonitor::Connection {
    X11DisplayPtr display;
};

X11OutsideClickMonitor::X11OutsideClickMonitor(const QString& displayName)
{
    X11DisplayPtr display = openX11Display(displayName);
    if (!display)
        return;
    Display* dpy = display.get();
    int event = 0, error = 0;
    if (!XQueryExtension(dpy, "XInputExtension", &m_opcode, &event, &error))
        return;
    // 2.1 and later deliver raw events during another client's grab too (a
    // menu of another program holds one while open); 2.0 still serves.
    int major = 2, minor = 2;
    if (XIQueryVersion(dpy, &major, &minor) != Success || major < 2)
        return;
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawButtonPress);
    XIEventMask mask{XIAllMasterDevices, int(sizeof bits), bits};
    XISelectEvents(dpy, DefaultRootWindow(dpy), &mask, 1);
    XFlush(dpy);
    m_connection = std::make_unique<Connection>(Connection{std::move(display)});

    if (QCoreApplication::instance()) {
        m_notifier = std::make_unique<QSocketNotifier>(ConnectionNumber(dpy), QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(),
                         [this] { processPendingEvents(); });
    }
}

X11OutsideClickMonitor::~X11OutsideClickMonitor()
{
    // The notifier watches the connection's socket: it goes first.
    m_notifier.reset();
}

_XDisplay* X11OutsideClickMonitor::display() const
{
    return m_connection ? m_connection->display.get() : nullptr;
}

bool X11OutsideClickMonitor::isAvailable()
{
    return checkConnection();
}

std::unique_ptr<OutsideClickMonitor::Subscription> X11OutsideClickMonitor::observe(Handler handler)
{
    if (!checkConnection() || !m_notifier)
        return nullptr;
    return m_observers.add(std::move(handler));
}

void X11OutsideClickMonitor::processPendingEvents()
{
    if (!checkConnection())
        return;
    Display* dpy = display();
    while (XPending(dpy) > 0) {
        XEvent event;
        XNextEvent(dpy, &event);
        XGenericEventCookie* cookie = &event.xcookie;
        if (cookie->type != GenericEvent || cookie->extension != m_opcode || !XGetEventData(dpy, cookie))
            continue;
        unsigned button = 0;
        if (cookie->evtype == XI_RawButtonPress)
            button = unsigned(static_cast<const XIRawEvent*>(cookie->data)->detail);
        XFreeEventData(dpy, cookie);
        if (button != 0)
            tell(button);
        if (!checkConnection()) // a handler's wait, or our query, may have found the server gone
            return;
    }
    checkConnection();
}

void X11OutsideClickMonitor::tell(unsigned physicalButton)
{
    Display* dpy = display();
    // Raw events carry the button before the user's mapping (a left-handed
    // mouse swaps 1 and 3).
    unsigned char map[256] = {};
    const int mapped = XGetPointerMapping(dpy, map, int(sizeof map));
    const int button = physicalButton <= unsigned(mapped) ? map[physicalButton - 1] : int(physicalButton);
    if (button == 0 || isWheel(button) || m_observers.count() == 0)
        return; // 0: the button is switched off
    ::Window root = 0, child = 0;
    int rootX = 0, rootY = 0, x = 0, y = 0;
    unsigned state = 0;
    if (!XQueryPointer(dpy, DefaultRootWindow(dpy), &root, &child, &rootX, &rootY, &x, &y, &state))
        return; // the pointer is on another X screen
    m_observers.notify(QtScreenLayout::current().pointFromPixel(QPointF(rootX, rootY)), button);
}

bool X11OutsideClickMonitor::checkConnection()
{
    if (display() && X11ConnectionLoss::isLost(display())) {
        // The socket stays readable at its end: the notifier would fire for
        // ever. Disabled before the socket closes; it may be the sender of this
        // very call, so it stays until we go.
        if (m_notifier)
            m_notifier->setEnabled(false);
        m_connection.reset();
    }
    return display() != nullptr;
}

} // namespace corvessa
