#include "platform/x11/X11FloatingSurfaces.h"

#include "platform/x11/X11Compositing.h"
#include "platform/x11/X11PointerCatcher.h"
#include "platform/x11/X11QtConnection.h"
#include "platform/x11/X11WindowHints.h"

#include <QEvent>
#include <QMetaObject>
#include <QSocketNotifier>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <vector>

// X11 last: its macros (None, Bool, Status, Success) clash with names in Qt.
#include "platform/x11/X11Handles.h"

#include <X11/Xatom.h>
#include <X11/extensions/shape.h>

namespace corvessa {

namespace {

// A region in widget points as rectangles of the window's pixels, grown
// outwards to whole pixels so nothing drawn is cut.
std::vector<XRectangle> pixelRectangles(const QRegion& region, double ratio)
{
    std::vector<XRectangle> rects;
    for (const QRect& r : region) {
        const int x0 = int(std::floor(r.x() * ratio));
        const int y0 = int(std::floor(r.y() * ratio));
        const int x1 = int(std::ceil((r.x() + r.width()) * ratio));
        const int y1 = int(std::ceil((r.y() + r.height()) * ratio));
        rects.push_back(XRectangle{short(x0), short(y0), (unsigned short)(x1 - x0), (unsigned short)(y1 - y0)});
    }
    return rects;
}

// The child of the root that holds the window: the window itself, or the frame
// a window manager put it in. 0 when the window is gone.
::Window topLevel(Display* dpy, ::Window window)
{
    for (;;) {
        ::Window root = 0, parent = 0;
        ::Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(dpy, window, &root, &parent, &children, &count))
            return 0;
        XFreed<::Window> free(children);
        if (parent == root || parent == 0)
            return window;
        window = parent;
    }
}

} // namespace

struct X11FloatingSurfaces::Connection {
    X11DisplayPtr display;
    bool shape = false; // the Shape extension is there
    int fixesEvent = -1; // XFixes' first event, where the extension is there
    Atom noShadow = 0;   // _COMPTON_SHADOW
    // Our client windows watched for the frame a window manager puts them in.
    std::set<::Window> clients;
};

X11FloatingSurfaces::X11FloatingSurfaces() = default;

X11FloatingSurfaces::~X11FloatingSurfaces()
{
    // The notifier watches the connection's socket: it goes first.
    m_notifier.reset();
}

_XDisplay* X11FloatingSurfaces::display()
{
    Display* qt = X11QtConnection::display();
    if (!m_opened && qt) {
        m_opened = true;
        if (X11DisplayPtr d = openX11Display(QString::fromLocal8Bit(DisplayString(qt)))) {
            Display* dpy = d.get();
            int event = 0, error = 0;
            const bool shape = XShapeQueryExtension(dpy, &event, &error);
            m_connection = std::make_unique<Connection>();
            m_connection->display = std::move(d);
            m_connection->shape = shape;
            m_connection->noShadow = XInternAtom(dpy, "_COMPTON_SHADOW", False);
            if (XFixesQueryExtension(dpy, &event, &error)) {
                // The manager's selection changes hands when one starts, and
                // is dropped when its window or its connection goes.
                m_connection->fixesEvent = event;
                const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(DefaultScreen(dpy));
                XFixesSelectSelectionInput(dpy, DefaultRootWindow(dpy), XInternAtom(dpy, name.constData(), False),
                                           XFixesSetSelectionOwnerNotifyMask | XFixesSelectionWindowDestroyNotifyMask
                                               | XFixesSelectionClientCloseNotifyMask);
                XFlush(dpy);
            }
            m_notifier = std::make_unique<QSocketNotifier>(ConnectionNumber(dpy), QSocketNotifier::Read);
            connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { processPendingEvents(); });
        }
    }
    if (m_connection && X11ConnectionLoss::isLost(m_connection->display.get())) {
        // The socket stays readable at its end; the notifier may be the
        // sender of this very call, so it is only stopped.
        m_notifier->setEnabled(false);
        m_catchers.clear(); // their windows went with the server
        m_connection.reset();
        m_frames.clear();
    }
    if (!m_connection || !qt)
        return nullptr;
    // A round trip on Qt's connection sends what Qt queued: the window we are
    // about to shape or stack exists on the server then.
    XSync(qt, False);
    return m_connection->display.get();
}

void X11FloatingSurfaces::prepare(QWidget* window, const Options& options)
{
    if (!window)
        return;
    SurfaceStack::Entry& entry = m_stack.prepare(window, options);
    window->removeEventFilter(this);
    window->installEventFilter(this);
    if (options.canvas) {
        // Its catcher must never outlive it: it would take the pointer from the whole screen.
        // Once per canvas, however often it is prepared (a functor cannot be a unique connection).
        disconnect(window, &QObject::destroyed, this, nullptr);
        connect(window, &QObject::destroyed, this, [this, window] { dropCatcher(window); });
    }
    if (window->internalWinId())
        applyShapes(entry);
}

bool X11FloatingSurfaces::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Hide) {
        // A hidden canvas leaves the pointer to the desktop again.
        dropCatcher(qobject_cast<QWidget*>(watched));
    } else if (event->type() == QEvent::Show || event->type() == QEvent::WinIdChange) {
        auto* window = qobject_cast<QWidget*>(watched);
        SurfaceStack::Entry* entry = m_stack.find(window);
        // A new native window needs a catcher of its own.
        if (event->type() == QEvent::WinIdChange)
            dropCatcher(window);
        if (entry && window->internalWinId()) {
            // Before Qt maps it: the manager reads the desktop at the map.
            if (event->type() == QEvent::Show && !entry->options.overrideRedirect)
                X11WindowHints().showOnAllDesktops(window->windowHandle());
            applyShapes(*entry);
        }
    }
    return QObject::eventFilter(watched, event);
}

void X11FloatingSurfaces::raise(QWidget* window)
{
    if (!m_stack.find(window))
        return;
    m_stack.raise(window);
    restack(true);
}

void X11FloatingSurfaces::setClickThrough(QWidget* window, bool clickThrough)
{
    if (SurfaceStack::Entry* entry = m_stack.find(window)) {
        entry->options.clickThrough = clickThrough;
        applyShapes(*entry);
    }
}

void X11FloatingSurfaces::setVisibleRegion(QWidget* window, const QRegion& visible)
{
    if (SurfaceStack::Entry* entry = m_stack.find(window)) {
        entry->visible = visible;
        applyShapes(*entry);
    }
}

void X11FloatingSurfaces::setPaintedRegion(QWidget* window, const QRect& area, const QRegion& painted)
{
    SurfaceStack::Entry* entry = m_stack.find(window);
    // Only a shaped canvas has a catcher; with a manager it keeps its full shape.
    if (!entry || !entry->options.canvas || !catcherOf(window) || !m_connection || !m_connection->shape)
        return;
    Display* dpy = m_connection->display.get();
    const ::Window id = ::Window(window->internalWinId());
    if (X11ConnectionLoss::isLost(dpy) || !id)
        return;
    // Sent at once, without a round trip: the canvas asks from its paint, so
    // its window is there, and the shape reaches the server about when Qt's
    // pixels do. Ink that lands outside the old shape is exposed and sent again
    // by Qt; ink erased leaves the shape before its clear pixels could show.
    const double ratio = window->devicePixelRatioF();
    std::vector<XRectangle> cut = pixelRectangles(QRegion(area), ratio);
    std::vector<XRectangle> kept = pixelRectangles(painted & area, ratio);
    XShapeCombineRectangles(dpy, id, ShapeBounding, 0, 0, cut.data(), int(cut.size()), ShapeSubtract, YXBanded);
    if (!kept.empty())
        XShapeCombineRectangles(dpy, id, ShapeBounding, 0, 0, kept.data(), int(kept.size()), ShapeUnion, YXBanded);
    XFlush(dpy);
}

bool X11FloatingSurfaces::compositing() const
{
    return X11Compositing::isActive();
}

void X11FloatingSurfaces::watchCompositing(QObject* context, std::function<void()> changed)
{
    m_stack.watchCompositing(context, std::move(changed));
    display(); // the selection is watched from now on
}

void X11FloatingSurfaces::applyShapes(SurfaceStack::Entry& entry)
{
    const ::Window window = entry.window ? ::Window(entry.window->internalWinId()) : 0;
    Display* dpy = window ? display() : nullptr;
    if (!dpy)
        return;
    {
        X11ErrorTrap trap(dpy); // Qt may have destroyed the window meanwhile
        refuseShadow(dpy, window);
        // Its ReparentNotify names the frame a window manager puts it in.
        if (m_connection->clients.insert(window).second)
            XSelectInput(dpy, window, StructureNotifyMask);
    }
    if (m_connection->shape && entry.options.canvas)
        writeCanvasShapes(dpy, window, entry);
    else if (m_connection->shape)
        writeShapes(dpy, window, entry);
    readQueuedLater();
}

void X11FloatingSurfaces::refuseShadow(_XDisplay* dpy, unsigned long window)
{
    const long none = 0;
    XChangeProperty(dpy, window, m_connection->noShadow, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&none), 1);
}

void X11FloatingSurfaces::compositorChanged()
{
    for (SurfaceStack::Entry* e : m_stack.visibleOrder()) {
        applyShapes(*e);
        // The server shows the window's pixels as they are now, alpha or not:
        // Qt paints them anew on the new shape.
        e->window->update();
    }
    m_stack.compositingChanged();
}

void X11FloatingSurfaces::writeShapes(_XDisplay* dpy, unsigned long window, const SurfaceStack::Entry& entry)
{
    // A manager draws the transparent margins as such; without one they show
    // black unless cut away. Either way they never take clicks: a menu's margin
    // must not swallow a press meant for the toolbar control beneath it.
    const bool hasRegion = !entry.visible.isEmpty();
    const bool shaped = hasRegion && !compositing();
    std::vector<XRectangle> rects = pixelRectangles(entry.visible, entry.window->devicePixelRatioF());
    X11ErrorTrap trap(dpy); // Qt may have destroyed the window meanwhile
    if (shaped)
        XShapeCombineRectangles(dpy, window, ShapeBounding, 0, 0, rects.data(), int(rects.size()), ShapeSet, Unsorted);
    else
        XShapeCombineMask(dpy, window, ShapeBounding, 0, 0, None, ShapeSet);
    if (entry.options.clickThrough)
        XShapeCombineRectangles(dpy, window, ShapeInput, 0, 0, nullptr, 0, ShapeSet, Unsorted);
    else if (hasRegion)
        XShapeCombineRectangles(dpy, window, ShapeInput, 0, 0, rects.data(), int(rects.size()), ShapeSet, Unsorted);
    else
        XShapeCombineMask(dpy, window, ShapeInput, 0, 0, None, ShapeSet); // the whole window again
}

void X11FloatingSurfaces::writeCanvasShapes(_XDisplay* dpy, unsigned long window, const SurfaceStack::Entry& entry)
{
    QWidget* canvas = entry.window;
    const bool shaped = !compositing();
    ::Window top = 0;
    {
        X11ErrorTrap trap(dpy); // Qt may have destroyed the window meanwhile
        if (shaped) {
            // Nothing shows until the canvas paints, and it takes no pointer itself.
            XShapeCombineRectangles(dpy, window, ShapeBounding, 0, 0, nullptr, 0, ShapeSet, Unsorted);
            XShapeCombineRectangles(dpy, window, ShapeInput, 0, 0, nullptr, 0, ShapeSet, Unsorted);
            top = canvas->isVisible() ? topLevel(dpy, window) : 0;
        } else {
            XShapeCombineMask(dpy, window, ShapeBounding, 0, 0, None, ShapeSet);
            XShapeCombineMask(dpy, window, ShapeInput, 0, 0, None, ShapeSet);
        }
    }
    if (top) {
        X11PointerCatcher* catcher = catcherOf(canvas);
        if (!catcher) {
            m_catchers.push_back({canvas, std::make_unique<X11PointerCatcher>(dpy, canvas)});
            catcher = m_catchers.back().catcher.get();
        }
        catcher->cover(top);
    } else {
        dropCatcher(canvas);
    }
    // Its paint reports what it shows on the new shape.
    canvas->update();
}

X11PointerCatcher* X11FloatingSurfaces::catcherOf(const QWidget* canvas)
{
    const auto it = std::find_if(m_catchers.begin(), m_catchers.end(),
                                 [&](const Caught& c) { return c.canvas && c.canvas == canvas; });
    return it == m_catchers.end() ? nullptr : it->catcher.get();
}

void X11FloatingSurfaces::dropCatcher(const QWidget* canvas)
{
    std::erase_if(m_catchers, [&](const Caught& c) { return !c.canvas || (canvas && c.canvas == canvas); });
}

void X11FloatingSurfaces::restack(bool askManager)
{
    placeSurfaces(askManager);
    readQueuedLater();
}

void X11FloatingSurfaces::readQueuedLater()
{
    // The error traps' syncs may have read events (the manager's answers)
    // into the client's queues, where the socket notifier will not see them.
    if (m_connection && XEventsQueued(m_connection->display.get(), QueuedAfterReading) > 0)
        QMetaObject::invokeMethod(this, &X11FloatingSurfaces::processPendingEvents, Qt::QueuedConnection);
}

void X11FloatingSurfaces::placeSurfaces(bool askManager)
{
    Display* dpy = display();
    if (!dpy)
        return;
    std::vector<Placed> order; // bottom to top
    X11ErrorTrap trap(dpy); // windows may go at any time
    for (const SurfaceStack::Entry* e : m_stack.visibleOrder()) {
        const ::Window window = ::Window(e->window->internalWinId());
        const ::Window top = window ? topLevel(dpy, window) : 0;
        if (top)
            order.push_back({window, top, !e->options.overrideRedirect});
    }
    // Watched before anything moves, so no restacking of the manager's goes unseen.
    for (const Placed& p : order) {
        if (p.managed && p.top != p.window && m_frames.insert(p.top).second) {
            XSelectInput(dpy, p.top, StructureNotifyMask);
            refuseShadow(dpy, p.top);
        }
    }
    if (askManager) {
        // The manager owns the frames: a raise of the window is a request it
        // answers by raising the frame within its layer.
        for (const Placed& p : order) {
            if (p.managed)
                XRaiseWindow(dpy, p.window);
        }
    } else if (inOrder(dpy, order)) {
        return; // a frame moved, or moved on the spot: nothing to mend
    }
    ::Window above = 0;
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        if (!it->managed) {
            if (above == 0) {
                XRaiseWindow(dpy, it->top);
            } else {
                XWindowChanges changes{};
                changes.sibling = above;
                changes.stack_mode = Below;
                XConfigureWindow(dpy, it->top, CWSibling | CWStackMode, &changes);
            }
        }
        above = it->top;
        // A canvas's catcher lies right above it.
        const auto caught = std::find_if(m_catchers.begin(), m_catchers.end(), [&](const Caught& c) {
            return c.canvas && ::Window(c.canvas->internalWinId()) == it->window && c.catcher->window();
        });
        if (caught != m_catchers.end()) {
            XWindowChanges changes{};
            changes.sibling = it->top;
            changes.stack_mode = Above;
            XConfigureWindow(dpy, caught->catcher->window(), CWSibling | CWStackMode, &changes);
        }
    }
}

bool X11FloatingSurfaces::inOrder(_XDisplay* dpy, const std::vector<Placed>& order)
{
    ::Window root = 0, parent = 0;
    ::Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &children, &count))
        return true; // nothing to go by
    XFreed<::Window> free(children);
    unsigned next = 0;
    for (const Placed& p : order) {
        while (next < count && children[next] != p.top)
            ++next;
        if (next == count)
            return false;
    }
    return true;
}

void X11FloatingSurfaces::processPendingEvents()
{
    if (!m_connection || X11ConnectionLoss::isLost(m_connection->display.get())) {
        display(); // closes a lost connection
        return;
    }
    Display* dpy = m_connection->display.get();
    bool frameChanged = false;
    bool compositor = false;
    std::vector<::Window> newParents;
    while (XPending(dpy) > 0) {
        XEvent event;
        XNextEvent(dpy, &event);
        if (event.type == ConfigureNotify) {
            frameChanged |= m_frames.contains(event.xconfigure.window);
        } else if (event.type == DestroyNotify) {
            m_frames.erase(event.xdestroywindow.window);
            m_connection->clients.erase(event.xdestroywindow.window);
        } else if (event.type == ReparentNotify) {
            if (m_connection->clients.contains(event.xreparent.window))
                newParents.push_back(event.xreparent.parent);
        } else if (m_connection->fixesEvent >= 0 && event.type == m_connection->fixesEvent + XFixesSelectionNotify) {
            compositor = true;
        }
    }
    // A window manager framed one of ours: its frame is what picom shadows.
    if (!newParents.empty()) {
        X11ErrorTrap trap(dpy); // the frame may be gone already
        for (const ::Window parent : newParents) {
            if (const ::Window top = topLevel(dpy, parent); top && top != DefaultRootWindow(dpy))
                refuseShadow(dpy, top);
        }
    }
    if (compositor)
        compositorChanged();
    // The manager may have restacked one of our frames (our raise request, or
    // its own doing): the override-redirect surfaces go back around it.
    if (frameChanged)
        restack(false);
}

} // namespace corvessa
