#include "platform/x11/X11BoundingShape.h"
#include "platform/x11/X11WindowProperties.h"

#include <algorithm>
#include <cstring>

// Last: X11's macros clash with names in Qt.
#include "platform/x11/X11WindowStack.h"

#include <X11/extensions/shape.h>

namespace corvessa {

namespace {

// An excluded window that moved or vanished may leave its picture on the screen
// until the server repaints there; its old place is rebuilt for a few frames.
constexpr int kGhostFrames = 3;
// Windows looked at for an excluded pid or id: the top-level, the client inside
// a window manager's frame and a wrapper between them; more is never needed.
// A frame holds many windows of its own (openbox's has two dozen: title,
// buttons, grips, edges), so ids are matched on the whole family, and pids,
// which cost a round trip each, on its first kPidLookups windows.
constexpr int kFamilyDepth = 2;
constexpr size_t kFamilyMax = 512;
constexpr size_t kPidLookups = 64;

} // namespace

X11WindowStack::X11WindowStack(const X11CaptureDisplay& display, ScreenFilter filter)
    : m_display(display), m_dpy(display.get()), m_filter(std::move(filter))
{
}

void X11WindowStack::open(X11ErrorTrap& trap)
{
    // Property changes on the root are the background's (X11ExclusionRepair).
    XSelectInput(m_dpy, m_display.root(), SubstructureNotifyMask | PropertyChangeMask);
    m_region = RegionHandle(m_dpy, XFixesCreateRegion(m_dpy, nullptr, 0));
    m_rootDamage = DamageHandle(m_dpy, XDamageCreate(m_dpy, m_display.root(), XDamageReportNonEmpty));
    for (Window w : X11WindowProperties::children(m_dpy, m_display.root())) {
        TopLevel t;
        t.id = w;
        watchShape(w);
        if (!readAttributes(trap, t))
            continue;
        if (t.shows())
            t.excluded = isExcluded(trap, w);
        m_stack.push_back(std::move(t));
    }
}

void X11WindowStack::watchShape(Window w)
{
    // Answered (or refused, for a window gone already) by the next sync.
    if (m_display.hasShape())
        X11BoundingShape::watch(m_dpy, w);
}

bool X11WindowStack::readAttributes(X11ErrorTrap& trap, TopLevel& t)
{
    t.shapeKnown = false;
    XWindowAttributes a;
    std::memset(&a, 0, sizeof a);
    // Sync either way, so that a failure is not left for the next check.
    const bool exists = XGetWindowAttributes(m_dpy, t.id, &a);
    if (trap.sync() != 0 || !exists)
        return false;
    t.outer = QRect(a.x, a.y, a.width + 2 * a.border_width, a.height + 2 * a.border_width);
    t.border = a.border_width;
    t.viewable = a.map_state == IsViewable;
    t.inputOnly = a.c_class == InputOnly;
    t.depth = a.depth;
    t.visual = a.visual;
    t.known = true;
    return true;
}

bool X11WindowStack::isExcluded(X11ErrorTrap& trap, Window topLevel)
{
    if (m_filter.excludedPids.empty() && m_filter.excludedWindows.empty())
        return false;
    std::vector<X11WindowProperties::WindowId> family = X11WindowProperties::family(m_dpy, topLevel, kFamilyDepth);
    if (family.size() > kFamilyMax)
        family.resize(kFamilyMax);
    const auto& windows = m_filter.excludedWindows;
    const auto& pids = m_filter.excludedPids;
    bool excluded = std::any_of(family.begin(), family.end(), [&](auto w) {
        return std::find(windows.begin(), windows.end(), uint32_t(w)) != windows.end();
    });
    for (size_t i = 0; !excluded && !pids.empty() && i < std::min(family.size(), kPidLookups); ++i) {
        const int64_t pid = X11WindowProperties::pid(m_dpy, family[i]);
        excluded = pid != 0 && std::find(pids.begin(), pids.end(), pid) != pids.end();
    }
    trap.sync(); // a child that vanished midway is no error of ours
    return excluded;
}

std::vector<X11WindowStack::TopLevel>::iterator X11WindowStack::position(Window id)
{
    return std::find_if(m_stack.begin(), m_stack.end(), [&](const TopLevel& t) { return t.id == id; });
}

X11WindowStack::TopLevel* X11WindowStack::find(Window id)
{
    const auto it = position(id);
    return it == m_stack.end() ? nullptr : &*it;
}

void X11WindowStack::moveAbove(Window id, Window sibling)
{
    const auto it = position(id);
    if (it == m_stack.end())
        return;
    TopLevel moved = std::move(*it);
    m_stack.erase(it);
    const auto below = position(sibling);
    m_stack.insert(sibling == None || below == m_stack.end() ? m_stack.begin() : below + 1, std::move(moved));
}

void X11WindowStack::leaveGhost(const TopLevel& t)
{
    if (!t.excluded || !t.shows())
        return;
    const QRegion covered = t.shapeKnown && t.shape ? t.shape->translated(t.outer.topLeft()) : QRegion(t.outer);
    m_ghosts.push_back({t.outer, covered, kGhostFrames});
}

void X11WindowStack::forget(X11ErrorTrap& trap, TopLevel& t)
{
    leaveGhost(t);
    t.pixmap.reset();
    if (t.damage) {
        // Fails when the window (and with it the damage) is already gone;
        // the error must not count against the next request.
        t.damage.reset();
        trap.sync();
    }
}

bool X11WindowStack::remove(X11ErrorTrap& trap, Window id, const QRect& area)
{
    const auto it = position(id);
    if (it == m_stack.end())
        return false;
    const bool shown = it->shows() && it->outer.intersects(area);
    forget(trap, *it);
    m_stack.erase(it);
    return shown;
}

bool X11WindowStack::handleDamage(X11ErrorTrap& trap, const XDamageNotifyEvent& e, const QRect& area,
                                  std::optional<QRect>* changed)
{
    if (m_rootDamage && e.damage == m_rootDamage.get()) {
        // Changes elsewhere on the root (another display, outside the area) make no frame.
        XDamageSubtract(m_dpy, e.damage, None, m_region.get());
        int count = 0;
        XRectangle bounds{};
        XFreed<XRectangle> rects(XFixesFetchRegionAndBounds(m_dpy, m_region.get(), &count, &bounds));
        if (trap.sync() != 0)
            return true;
        const QRect damaged(bounds.x, bounds.y, bounds.width, bounds.height);
        if (changed)
            *changed = damaged;
        return damaged.intersects(area);
    }
    // A window rebuilt under an excluded one: its changes there never reach the screen.
    for (TopLevel& t : m_stack) {
        if (t.damage && t.damage.get() == e.damage) {
            XDamageSubtract(m_dpy, e.damage, None, None);
            trap.sync();
            const QRect hidden = excludedRegion(trap, area).intersected(t.outer).boundingRect();
            if (changed)
                *changed = hidden;
            return !hidden.isEmpty();
        }
    }
    return false;
}

bool X11WindowStack::handleEvent(X11ErrorTrap& trap, const XEvent& e, const QRect& area)
{
    const Window root = m_display.root();
    switch (e.type) {
    case CreateNotify: {
        const XCreateWindowEvent& c = e.xcreatewindow;
        if (c.parent != root || find(c.window))
            return false;
        TopLevel t;
        t.id = c.window;
        t.outer = QRect(c.x, c.y, c.width + 2 * c.border_width, c.height + 2 * c.border_width);
        t.border = c.border_width;
        m_stack.push_back(std::move(t)); // new windows start on top
        return false;
    }
    case DestroyNotify: {
        const XDestroyWindowEvent& d = e.xdestroywindow;
        return d.event == root && remove(trap, d.window, area);
    }
    case ReparentNotify: {
        const XReparentEvent& r = e.xreparent;
        if (r.event != root)
            return false;
        if (r.parent == root) {
            if (find(r.window))
                return false;
            TopLevel t;
            t.id = r.window;
            watchShape(t.id);
            if (!readAttributes(trap, t))
                return false;
            if (t.shows())
                t.excluded = isExcluded(trap, t.id);
            const bool shown = t.outer.intersects(area);
            m_stack.push_back(std::move(t));
            return shown;
        }
        const bool shown = remove(trap, r.window, area);
        // A client moved into a frame: the frame now carries its pid and id.
        if (TopLevel* frame = find(r.parent); frame && frame->shows())
            frame->excluded = isExcluded(trap, frame->id);
        return shown;
    }
    case ConfigureNotify: {
        const XConfigureEvent& c = e.xconfigure;
        TopLevel* t = c.event == root ? find(c.window) : nullptr;
        if (!t)
            return false;
        const QRect before = t->outer;
        const QRect after(c.x, c.y, c.width + 2 * c.border_width, c.height + 2 * c.border_width);
        if (before != after)
            leaveGhost(*t);
        if (before.size() != after.size()) {
            t->pixmap.reset(); // a resized window has a new pixmap
            t->shapeKnown = false; // and, unshaped, a new rectangle to show in
        }
        t->outer = after;
        t->border = c.border_width;
        const bool shown = t->shows() && (before.intersects(area) || after.intersects(area));
        moveAbove(c.window, c.above);
        return shown;
    }
    case MapNotify: {
        TopLevel* t = e.xmap.event == root ? find(e.xmap.window) : nullptr;
        if (!t)
            return false;
        t->pixmap.reset();
        watchShape(t->id);
        if (!readAttributes(trap, *t))
            return false; // already gone again
        t->viewable = true;
        if (!t->inputOnly)
            t->excluded = isExcluded(trap, t->id);
        return t->outer.intersects(area);
    }
    case UnmapNotify: {
        TopLevel* t = e.xunmap.event == root ? find(e.xunmap.window) : nullptr;
        if (!t)
            return false;
        const bool shown = t->shows() && t->outer.intersects(area);
        forget(trap, *t);
        t->viewable = false;
        return shown;
    }
    case CirculateNotify: {
        const XCirculateEvent& c = e.xcirculate;
        if (c.event != root)
            return false;
        const auto it = position(c.window);
        if (it == m_stack.end())
            return false;
        TopLevel moved = std::move(*it);
        m_stack.erase(it);
        const bool shown = moved.outer.intersects(area);
        if (c.place == PlaceOnTop)
            m_stack.push_back(std::move(moved));
        else
            m_stack.insert(m_stack.begin(), std::move(moved));
        return shown;
    }
    default:
        if (m_display.shapeEvent() >= 0 && e.type == m_display.shapeEvent() + ShapeNotify) {
            const auto& s = reinterpret_cast<const XShapeEvent&>(e);
            TopLevel* t = s.kind == ShapeBounding ? find(s.window) : nullptr;
            if (!t)
                return false;
            leaveGhost(*t); // what it showed before may be left on the screen for a moment
            t->shapeKnown = false;
            return t->shows() && t->outer.intersects(area);
        }
        return false;
    }
}

QRegion X11WindowStack::excludedRegion(X11ErrorTrap& trap, const QRect& area)
{
    QRegion region;
    for (TopLevel& t : m_stack) {
        if (!t.excluded || !t.shows() || !t.outer.marginsAdded(m_reach).intersects(area))
            continue;
        region += (m_reach.isNull() ? covered(trap, t) : QRegion(t.outer.marginsAdded(m_reach))) & area;
    }
    for (const Ghost& ghost : m_ghosts)
        region += (m_reach.isNull() ? ghost.covered : QRegion(ghost.outer.marginsAdded(m_reach))) & area;
    return region;
}

QRegion X11WindowStack::covered(X11ErrorTrap& trap, TopLevel& t)
{
    if (!t.shapeKnown) {
        t.shape = m_display.hasShape() ? X11BoundingShape::read(m_dpy, trap, t.id) : std::nullopt;
        if (t.shape) // relative to the window's origin, inside its border
            t.shape->translate(t.border, t.border);
        t.shapeKnown = true;
    }
    return t.shape ? t.shape->translated(t.outer.topLeft()) : QRegion(t.outer);
}

QRegion X11WindowStack::windowRegion(const QRect& area) const
{
    QRegion region;
    for (const TopLevel& t : m_stack) {
        if (!t.excluded && t.shows())
            region += t.outer & area;
    }
    return region;
}

void X11WindowStack::ageGhosts()
{
    for (Ghost& ghost : m_ghosts)
        --ghost.frames;
    std::erase_if(m_ghosts, [](const Ghost& g) { return g.frames <= 0; });
}

bool X11WindowStack::ensurePixmap(X11ErrorTrap& trap, TopLevel& t)
{
    if (t.pixmap)
        return true;
    t.pixmap = PixmapHandle(m_dpy, XCompositeNameWindowPixmap(m_dpy, t.id));
    if (trap.sync() != 0) {
        t.pixmap = PixmapHandle();
        return false;
    }
    return true;
}

bool X11WindowStack::watch(X11ErrorTrap& trap, TopLevel& t)
{
    if (t.damage)
        return true;
    t.damage = DamageHandle(m_dpy, XDamageCreate(m_dpy, t.id, XDamageReportNonEmpty));
    return trap.sync() == 0;
}

} // namespace corvessa
