#include "platform/ScreenStreamConfig.h"
#include "platform/x11/X11WindowProperties.h"

#include <cstring>

// Last: X11's macros clash with names in Qt.
#include "platform/x11/X11WindowTarget.h"

namespace corvessa {

namespace {

// Whether the window exists; the trap is synced either way.
bool exists(Display* dpy, X11ErrorTrap& trap, Window w, XWindowAttributes& a)
{
    std::memset(&a, 0, sizeof a);
    const bool found = XGetWindowAttributes(dpy, w, &a);
    return trap.sync() == 0 && found;
}

} // namespace

X11WindowTarget::X11WindowTarget(const X11CaptureDisplay& display, unsigned long window)
    : m_display(display), m_dpy(display.get()), m_client(Window(window))
{
}

std::optional<RecorderError> X11WindowTarget::open(X11ErrorTrap& trap)
{
    XWindowAttributes a;
    if (m_client == 0 || m_client == m_display.root() || !exists(m_dpy, trap, m_client, a))
        return windowMissingError();
    XSelectInput(m_dpy, m_client, StructureNotifyMask);
    if (!resolveTop(trap))
        return windowMissingError();
    return std::nullopt;
}

// Finds the top-level holding the client (its frame under a reparenting
// window manager) and watches it.
bool X11WindowTarget::resolveTop(X11ErrorTrap& trap)
{
    const Window top = X11WindowProperties::topLevel(m_dpy, m_client, m_display.root());
    if (trap.sync() != 0 || top == 0)
        return false;
    m_pixmap.reset();
    if (m_damage) {
        m_damage.reset(); // fails when the old frame is gone
        trap.sync();
    }
    m_top = top;
    if (top != m_client)
        XSelectInput(m_dpy, top, StructureNotifyMask);
    XWindowAttributes a;
    if (!exists(m_dpy, trap, top, a))
        return false;
    m_topViewable = a.map_state == IsViewable;
    m_topVisual = a.visual;
    m_damage = DamageHandle(m_dpy, XDamageCreate(m_dpy, top, XDamageReportNonEmpty));
    return trap.sync() == 0;
}

bool X11WindowTarget::handleDamage(X11ErrorTrap& trap, const XDamageNotifyEvent& e)
{
    if (!m_damage || e.damage != m_damage.get())
        return false;
    XDamageSubtract(m_dpy, e.damage, None, None);
    trap.sync(); // the window may be gone already; its end comes as an event
    return true;
}

bool X11WindowTarget::handleEvent(X11ErrorTrap& trap, const XEvent& e)
{
    switch (e.type) {
    case DestroyNotify: {
        const Window w = e.xdestroywindow.window;
        if (w == m_client) {
            m_lost = true;
        } else if (w == m_top) {
            // The frame went; the client may live on elsewhere (a window manager restart).
            m_damage = DamageHandle();
            m_pixmap = PixmapHandle();
            trap.sync(); // the frame's damage went with it
            m_top = 0;
            m_topViewable = false;
            if (!resolveTop(trap))
                m_lost = true;
            return true;
        }
        return false;
    }
    case ReparentNotify:
        if (e.xreparent.window != m_client)
            return false;
        if (!resolveTop(trap))
            m_lost = true;
        return true;
    case MapNotify:
        if (e.xmap.window != m_top)
            return false;
        m_topViewable = true;
        m_pixmap.reset();
        return true;
    case UnmapNotify:
        if (e.xunmap.window == m_top) {
            m_topViewable = false;
            m_pixmap.reset();
        }
        return false;
    case ConfigureNotify: {
        if (e.xconfigure.window != m_top)
            return false;
        const QSize size(e.xconfigure.width + 2 * e.xconfigure.border_width,
                         e.xconfigure.height + 2 * e.xconfigure.border_width);
        if (size != m_pixmapSize)
            m_pixmap.reset();
        return true;
    }
    default:
        return false;
    }
}

X11PixelView X11WindowTarget::grab(X11ErrorTrap& trap, X11PixelReader& reader)
{
    if (!m_top || !m_topViewable)
        return {};
    if (!m_pixmap) {
        m_pixmap = PixmapHandle(m_dpy, XCompositeNameWindowPixmap(m_dpy, m_top));
        const bool named = trap.sync() == 0;
        const auto geometry = named ? X11PixelReader::geometry(trap, m_dpy, m_pixmap.get()) : std::nullopt;
        if (!geometry) {
            m_pixmap = PixmapHandle();
            checkClient(trap);
            return {};
        }
        m_pixmapSize = geometry->size;
        m_pixmapDepth = geometry->depth;
    }
    if (m_pixmapDepth != m_display.rootDepth() && m_pixmapDepth != 32)
        return {};
    const X11PixelView view =
        reader.read(trap, m_pixmap.get(), m_topVisual, m_pixmapDepth, QRect(QPoint(0, 0), m_pixmapSize));
    if (!view)
        checkClient(trap);
    return view;
}

void X11WindowTarget::checkClient(X11ErrorTrap& trap)
{
    XWindowAttributes a;
    if (!exists(m_dpy, trap, m_client, a))
        m_lost = true;
}

} // namespace corvessa
