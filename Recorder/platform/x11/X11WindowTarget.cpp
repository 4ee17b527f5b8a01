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
    m_clientMapped = a.map_state != IsUnmapped;
    if (!resolveTop(trap))
        return windowMissingError();
    return std::nullopt;
}

bool X11WindowTarget::isShown() const
{
    // A window in a frame shows only what lies inside the frame's border.
    return m_clientMapped && m_topViewable &&
           (m_top == m_client || QRect(QPoint(0, 0), m_topSize).contains(m_clientRect));
}

void X11WindowTarget::noteChange(bool wasShown)
{
    if (wasShown && !isShown())
        ++m_departures;
}

// Finds the top-level holding the client (its frame under a reparenting
// window manager) and watches it.
bool X11WindowTarget::resolveTop(X11ErrorTrap& trap)
{
    const bool wasShown = isShown();
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
    m_topSize = QSize(a.width, a.height);
    m_topVisual = a.visual;
    measureClient(trap);
    noteChange(wasShown);
    m_damage = DamageHandle(m_dpy, XDamageCreate(m_dpy, top, XDamageReportNonEmpty));
    return trap.sync() == 0;
}

void X11WindowTarget::measureClient(X11ErrorTrap& trap)
{
    if (m_top == m_client)
        return;
    XWindowAttributes a;
    if (!exists(m_dpy, trap, m_client, a))
        return; // its end comes as an event
    int x = 0, y = 0;
    Window child = 0;
    const bool translated = XTranslateCoordinates(m_dpy, m_client, m_top, 0, 0, &x, &y, &child);
    if (trap.sync() != 0 || !translated)
        return;
    // The window's origin lies inside its border.
    m_clientRect = QRect(x - a.border_width, y - a.border_width, a.width + 2 * a.border_width,
                         a.height + 2 * a.border_width);
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
    const bool wasShown = isShown();
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
            noteChange(wasShown);
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
    case UnmapNotify: {
        // Back on the screen, the window is read afresh.
        const bool mapped = e.type == MapNotify;
        const Window w = mapped ? e.xmap.window : e.xunmap.window;
        if (w != m_client && w != m_top)
            return false;
        if (w == m_client)
            m_clientMapped = mapped;
        if (w == m_top) {
            m_topViewable = mapped;
            m_pixmap.reset();
        }
        noteChange(wasShown);
        return mapped;
    }
    case ConfigureNotify: {
        const Window w = e.xconfigure.window;
        if (w != m_top && w != m_client)
            return false;
        if (w == m_top) {
            m_topSize = QSize(e.xconfigure.width, e.xconfigure.height);
            if (m_topSize + QSize(2 * e.xconfigure.border_width, 2 * e.xconfigure.border_width) != m_pixmapSize)
                m_pixmap.reset();
        }
        measureClient(trap);
        noteChange(wasShown);
        return true;
    }
    default:
        return false;
    }
}

X11PixelView X11WindowTarget::grab(X11ErrorTrap& trap, X11PixelReader& reader)
{
    if (!m_top || !isShown())
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
