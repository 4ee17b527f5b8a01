#include "platform/x11/X11WindowProperties.h"

#include <QByteArray>
#include <QList>

// X11 last: its macros (None, Bool, Status, Success) clash with names in Qt.
#include "platform/x11/X11Handles.h"

#include <X11/Xatom.h>

namespace corvessa {

namespace {

using XData = XFreed<unsigned char>;

// Xlib caches interned atoms per connection, so asking again costs no round trip.
Atom atom(Display* display, const char* name)
{
    return XInternAtom(display, name, False);
}

struct Property {
    XData data;
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
};

// Up to `longs` 32-bit units of a property; an empty result when unset or gone.
Property readProperty(Display* display, Window window, Atom property, Atom type, long longs = 1024)
{
    Property p;
    unsigned long after = 0;
    unsigned char* raw = nullptr;
    if (XGetWindowProperty(display, window, property, 0, longs, False, type, &p.type, &p.format, &p.count, &after,
                           &raw) != Success) {
        return {};
    }
    p.data.reset(raw);
    if (!p.data || p.type == 0)
        return {};
    return p;
}

// Format-32 properties arrive as longs on the client side, whatever the platform's width.
std::vector<unsigned long> longs(const Property& p)
{
    if (!p.data || p.format != 32)
        return {};
    const auto* values = reinterpret_cast<const unsigned long*>(p.data.get());
    return std::vector<unsigned long>(values, values + p.count);
}

QString decodeText(Display* display, const Property& p)
{
    if (!p.data || p.format != 8 || p.count == 0)
        return {};
    const auto* bytes = reinterpret_cast<const char*>(p.data.get());
    const auto length = qsizetype(p.count);
    if (p.type == atom(display, "UTF8_STRING"))
        return QString::fromUtf8(bytes, length);
    if (p.type == XA_STRING)
        return QString::fromLatin1(bytes, length);
    // COMPOUND_TEXT and the like: let Xlib convert.
    XTextProperty text;
    text.value = p.data.get();
    text.encoding = p.type;
    text.format = p.format;
    text.nitems = p.count;
    char** raw = nullptr;
    int n = 0;
    const int status = Xutf8TextPropertyToTextList(display, &text, &raw, &n);
    const XStringListPtr list(raw);
    if (status < Success || !list)
        return QString::fromLatin1(bytes, length);
    return n > 0 && list.get()[0] ? QString::fromUtf8(list.get()[0]) : QString();
}

} // namespace

int64_t X11WindowProperties::pid(_XDisplay* display, WindowId window)
{
    const auto values = longs(readProperty(display, window, atom(display, "_NET_WM_PID"), XA_CARDINAL, 1));
    return values.empty() ? 0 : int64_t(uint32_t(values.front()));
}

std::optional<double> X11WindowProperties::opacity(_XDisplay* display, WindowId window)
{
    const auto values = longs(readProperty(display, window, atom(display, "_NET_WM_WINDOW_OPACITY"), XA_CARDINAL, 1));
    if (values.empty())
        return std::nullopt;
    return double(uint32_t(values.front())) / double(0xffffffffu);
}

QString X11WindowProperties::title(_XDisplay* display, WindowId window)
{
    QString name = decodeText(display, readProperty(display, window, atom(display, "_NET_WM_NAME"),
                                                    atom(display, "UTF8_STRING")));
    if (name.isEmpty())
        name = decodeText(display, readProperty(display, window, XA_WM_NAME, AnyPropertyType));
    return name;
}

QString X11WindowProperties::className(_XDisplay* display, WindowId window)
{
    const Property p = readProperty(display, window, XA_WM_CLASS, XA_STRING);
    if (!p.data || p.format != 8)
        return {};
    // Two NUL-terminated strings: instance, then class.
    const QByteArray raw(reinterpret_cast<const char*>(p.data.get()), qsizetype(p.count));
    const QList<QByteArray> parts = raw.split('\0');
    if (parts.size() >= 2 && !parts[1].isEmpty())
        return QString::fromLatin1(parts[1]);
    return parts.isEmpty() ? QString() : QString::fromLatin1(parts[0]);
}

std::vector<X11WindowProperties::WindowId> X11WindowProperties::stackingClients(_XDisplay* display, WindowId root,
                                                                               bool* present)
{
    const Property p = readProperty(display, root, atom(display, "_NET_CLIENT_LIST_STACKING"), XA_WINDOW, 1 << 16);
    if (present)
        *present = p.data != nullptr;
    const auto values = longs(p);
    return std::vector<WindowId>(values.begin(), values.end());
}

std::vector<X11WindowProperties::WindowId> X11WindowProperties::children(_XDisplay* display, WindowId window)
{
    Window root = 0;
    Window parent = 0;
    Window* kids = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, window, &root, &parent, &kids, &count))
        return {};
    const XFreed<Window> owned(kids);
    return std::vector<WindowId>(kids, kids + count);
}

X11WindowProperties::WindowId X11WindowProperties::topLevel(_XDisplay* display, WindowId window, WindowId root)
{
    WindowId current = window;
    // Real trees are a few levels deep; the bound only guards against a broken reply.
    for (int depth = 0; depth < 64 && current != 0 && current != root; ++depth) {
        Window rootReturn = 0;
        Window parent = 0;
        Window* kids = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display, current, &rootReturn, &parent, &kids, &count))
            return 0;
        const XFreed<Window> owned(kids);
        if (parent == root)
            return current;
        current = parent;
    }
    return 0;
}

X11WindowProperties::WindowId X11WindowProperties::clientWindow(_XDisplay* display, WindowId topLevel, int depth)
{
    const Atom wmState = atom(display, "WM_STATE");
    // Breadth first: the client is usually the frame's direct child.
    std::vector<WindowId> level{topLevel};
    for (int d = 0; d <= depth && !level.empty(); ++d) {
        std::vector<WindowId> next;
        for (WindowId w : level) {
            if (readProperty(display, w, wmState, AnyPropertyType, 1).data)
                return w;
            if (d < depth) {
                const auto kids = children(display, w);
                next.insert(next.end(), kids.begin(), kids.end());
            }
        }
        level = std::move(next);
    }
    return topLevel;
}

std::vector<X11WindowProperties::WindowId> X11WindowProperties::family(_XDisplay* display, WindowId window, int depth)
{
    std::vector<WindowId> all{window};
    std::vector<WindowId> level{window};
    for (int d = 0; d < depth && !level.empty(); ++d) {
        std::vector<WindowId> next;
        for (WindowId w : level) {
            const auto kids = children(display, w);
            next.insert(next.end(), kids.begin(), kids.end());
        }
        all.insert(all.end(), next.begin(), next.end());
        level = std::move(next);
    }
    return all;
}

int X11WindowProperties::layer(_XDisplay* display, WindowId client, bool overrideRedirect)
{
    // The levels mirror the usual window levels of desktop systems, so that a
    // picker can keep to normal windows with `layer == 0`.
    constexpr int kDesktop = -1000;
    constexpr int kBelow = -1;
    constexpr int kAbove = 3;
    constexpr int kDock = 20;
    constexpr int kPopup = 101;
    if (overrideRedirect)
        return kPopup;
    for (unsigned long type : longs(readProperty(display, client, atom(display, "_NET_WM_WINDOW_TYPE"), XA_ATOM))) {
        if (type == atom(display, "_NET_WM_WINDOW_TYPE_DESKTOP"))
            return kDesktop;
        if (type == atom(display, "_NET_WM_WINDOW_TYPE_DOCK"))
            return kDock;
        for (const char* popup : {"_NET_WM_WINDOW_TYPE_DROPDOWN_MENU", "_NET_WM_WINDOW_TYPE_POPUP_MENU",
                                  "_NET_WM_WINDOW_TYPE_TOOLTIP", "_NET_WM_WINDOW_TYPE_NOTIFICATION",
                                  "_NET_WM_WINDOW_TYPE_MENU"}) {
            if (type == atom(display, popup))
                return kPopup;
        }
    }
    for (unsigned long state : longs(readProperty(display, client, atom(display, "_NET_WM_STATE"), XA_ATOM))) {
        if (state == atom(display, "_NET_WM_STATE_ABOVE"))
            return kAbove;
        if (state == atom(display, "_NET_WM_STATE_BELOW"))
            return kBelow;
    }
    return 0;
}

unsigned long X11WindowProperties::rootPixmap(_XDisplay* display, WindowId root)
{
    for (const char* name : {"_XROOTPMAP_ID", "ESETROOT_PMAP_ID"}) {
        const Atom a = XInternAtom(display, name, True);
        if (a == None)
            continue;
        const auto values = longs(readProperty(display, root, a, XA_PIXMAP, 1));
        if (!values.empty() && values.front() != 0)
            return values.front();
    }
    return 0;
}

QRect X11WindowProperties::workArea(_XDisplay* display, WindowId root)
{
    const Atom area = XInternAtom(display, "_NET_WORKAREA", True);
    if (area == None)
        return {};
    // Four values per desktop; the current one's, else the first.
    const auto values = longs(readProperty(display, root, area, XA_CARDINAL));
    const Atom current = XInternAtom(display, "_NET_CURRENT_DESKTOP", True);
    const auto desktop = current == None ? std::vector<unsigned long>{}
                                         : longs(readProperty(display, root, current, XA_CARDINAL, 1));
    size_t at = desktop.empty() ? 0 : size_t(desktop.front()) * 4;
    if (at + 4 > values.size())
        at = 0;
    if (values.size() < 4)
        return {};
    return QRect(int(long(values[at])), int(long(values[at + 1])), int(values[at + 2]), int(values[at + 3]));
}

} // namespace corvessa
