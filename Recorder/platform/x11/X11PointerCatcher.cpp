#include "platform/x11/X11PointerCatcher.h"

#include "platform/x11/X11QtConnection.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QWidget>
#include <QWindow>

#include <cstdint>
#include <cstring>
#include <vector>

// X11 last: its macros (None, Bool, Status, Success) clash with names in Qt.
#include "platform/x11/X11Handles.h"

#include <X11/extensions/XInput2.h>
#include <xcb/xcb.h>

namespace corvessa {

namespace {

// Where the event's window lies in the wire form Qt's filters see: core
// pointer and crossing events carry it at byte 12; XInput 2's device and
// crossing events, after their generic header, at byte 24.
constexpr size_t kCoreWindowOffset = 12;
constexpr size_t kXIWindowOffset = 24;

// Rewrites the window of every pointer event on a catcher to its canvas's,
// before Qt looks the window up. Installed on the application once.
class Redirect : public QAbstractNativeEventFilter {
public:
    static Redirect& shared()
    {
        static Redirect redirect;
        if (redirect.m_installedOn != QCoreApplication::instance()) {
            redirect.m_installedOn = QCoreApplication::instance();
            if (redirect.m_installedOn)
                redirect.m_installedOn->installNativeEventFilter(&redirect);
        }
        return redirect;
    }

    void add(uint32_t catcher, uint32_t canvas, int xiOpcode)
    {
        m_routes.push_back({catcher, canvas});
        m_xiOpcode = xiOpcode;
    }
    void remove(uint32_t catcher)
    {
        std::erase_if(m_routes, [&](const Route& r) { return r.catcher == catcher; });
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override
    {
        if (m_routes.empty() || type != "xcb_generic_event_t")
            return false;
        auto* bytes = static_cast<uint8_t*>(message);
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        size_t offset = 0;
        switch (event->response_type & 0x7f) {
        case XCB_BUTTON_PRESS:
        case XCB_BUTTON_RELEASE:
        case XCB_MOTION_NOTIFY:
        case XCB_ENTER_NOTIFY:
        case XCB_LEAVE_NOTIFY:
            offset = kCoreWindowOffset;
            break;
        case XCB_GE_GENERIC: {
            const auto* ge = static_cast<const xcb_ge_generic_event_t*>(message);
            if (m_xiOpcode < 0 || ge->extension != m_xiOpcode)
                return false;
            switch (ge->event_type) {
            case XI_ButtonPress:
            case XI_ButtonRelease:
            case XI_Motion:
            case XI_Enter:
            case XI_Leave:
            case XI_TouchBegin:
            case XI_TouchUpdate:
            case XI_TouchEnd:
                offset = kXIWindowOffset;
                break;
            default:
                return false;
            }
            break;
        }
        default:
            return false;
        }
        uint32_t window = 0;
        std::memcpy(&window, bytes + offset, sizeof window);
        for (const Route& r : m_routes) {
            if (r.catcher == window) {
                std::memcpy(bytes + offset, &r.canvas, sizeof r.canvas);
                break;
            }
        }
        return false; // Qt goes on with it, now the canvas's
    }

private:
    struct Route {
        uint32_t catcher;
        uint32_t canvas;
    };
    QCoreApplication* m_installedOn = nullptr;
    std::vector<Route> m_routes;
    int m_xiOpcode = -1;
};

// Selects on Qt's connection, for the catcher, the pointer events Qt selected
// on the canvas: XInput 2 ones and core ones, as Qt chose (core ones only where
// XInput 2 is off). The server hands a client XInput 2 events in place of core
// ones for the same window, as for the canvas itself.
void selectPointerEvents(Display* qt, ::Window canvas, ::Window catcher)
{
    constexpr long pointerEvents = ButtonPressMask | ButtonReleaseMask | PointerMotionMask | ButtonMotionMask
        | Button1MotionMask | Button2MotionMask | Button3MotionMask | Button4MotionMask | Button5MotionMask
        | EnterWindowMask | LeaveWindowMask;
    X11ErrorTrap trap(qt);
    XWindowAttributes a{};
    if (XGetWindowAttributes(qt, canvas, &a))
        XSelectInput(qt, catcher, a.your_event_mask & pointerEvents);
    int count = 0;
    XIEventMask* masks = XIGetSelectedEvents(qt, canvas, &count);
    if (masks && count > 0)
        XISelectEvents(qt, catcher, masks, count);
    if (masks)
        XFree(masks);
}

int xiOpcode(Display* qt)
{
    int opcode = 0, event = 0, error = 0;
    return XQueryExtension(qt, "XInputExtension", &opcode, &event, &error) ? opcode : -1;
}

} // namespace

X11PointerCatcher::X11PointerCatcher(_XDisplay* own, QWidget* canvas)
    : m_own(own)
    , m_canvasWindow(canvas ? ::Window(canvas->internalWinId()) : 0)
{
    Display* qt = X11QtConnection::display();
    if (!own || !qt || !m_canvasWindow)
        return;
    XSetWindowAttributes attributes{};
    // Past the window manager, like the canvas beneath it.
    attributes.override_redirect = True;
    ::Window window = 0;
    {
        X11ErrorTrap trap(own); // its sync also puts the window on the server before Qt's requests on it
        window = XCreateWindow(own, DefaultRootWindow(own), 0, 0, 1, 1, 0, 0, InputOnly, CopyFromParent,
                               CWOverrideRedirect, &attributes);
        if (trap.sync() != 0)
            return;
    }
    m_window = window;
    selectPointerEvents(qt, m_canvasWindow, window);
    Redirect::shared().add(uint32_t(window), uint32_t(m_canvasWindow), xiOpcode(qt));
    // Qt sets the canvas's own cursor on it, as on a window of its own.
    m_cursorHolder.reset(QWindow::fromWinId(WId(window)));
    if (m_cursorHolder)
        m_cursorHolder->setCursor(canvas->cursor());
}

X11PointerCatcher::~X11PointerCatcher()
{
    if (!m_window)
        return;
    Redirect::shared().remove(uint32_t(m_window));
    m_cursorHolder.reset();
    if (!X11ConnectionLoss::isLost(m_own)) {
        X11ErrorTrap trap(m_own);
        XDestroyWindow(m_own, m_window);
    }
}

void X11PointerCatcher::cover(unsigned long top)
{
    if (!m_window)
        return;
    X11ErrorTrap trap(m_own); // the canvas may be gone already
    XWindowAttributes a{};
    ::Window child = 0;
    int x = 0, y = 0;
    if (!XGetWindowAttributes(m_own, m_canvasWindow, &a)
        || !XTranslateCoordinates(m_own, m_canvasWindow, DefaultRootWindow(m_own), 0, 0, &x, &y, &child)
        || a.width <= 0 || a.height <= 0)
        return;
    XMoveResizeWindow(m_own, m_window, x, y, unsigned(a.width), unsigned(a.height));
    XMapWindow(m_own, m_window);
    XWindowChanges changes{};
    changes.sibling = top;
    changes.stack_mode = Above;
    XConfigureWindow(m_own, m_window, CWSibling | CWStackMode, &changes);
}

} // namespace corvessa
