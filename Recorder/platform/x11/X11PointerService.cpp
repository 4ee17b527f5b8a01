#include "platform/x11/X11PointerService.h"

#include "platform/core/ScreenCoordinates.h"
#include "platform/x11/X11ErrorTrap.h"
#include "platform/x11/XRandRDisplayList.h"

#include <cstring>

// X11 last: its macros (None, Bool, Status, Success) clash with names in Qt.
#include "platform/x11/X11Handles.h"

namespace corvessa {

namespace {

// Opening fails fast when there is no server, but not every 16 ms.
constexpr std::chrono::seconds kReopenDelay(2);

} // namespace

struct X11PointerService::Connection {
    X11DisplayPtr display;
    Window root = 0;
    bool randr = false;
    int randrEventBase = 0;
    bool xfixes = false;
    bool cursorNames = false; // XFixes 2 reports the cursor's name
    bool layoutStale = true;
    ScreenCoordinates coords;
    std::optional<CursorImage> lastCursor;
    double lastCursorScale = 1;
};

X11PointerService::X11PointerService(QString displayName) : m_displayName(std::move(displayName)) {}

X11PointerService::~X11PointerService() = default;

bool X11PointerService::isAvailable(const QString& displayName)
{
    return XRandRDisplayList::isAvailable(displayName);
}

X11PointerService::Connection* X11PointerService::connection()
{
    const auto now = std::chrono::steady_clock::now();
    if (m_connection && X11ConnectionLoss::isLost(m_connection->display.get())) {
        // The server went away: answer nothing, and look for a new one now and then.
        m_connection.reset();
        m_nextOpen = now + kReopenDelay;
    }
    if (m_connection)
        return m_connection.get();
    if (now < m_nextOpen)
        return nullptr;
    X11DisplayPtr connection = openX11Display(m_displayName);
    if (!connection) {
        m_nextOpen = now + kReopenDelay;
        return nullptr;
    }
    Display* display = connection.get();
    auto c = std::make_unique<Connection>();
    c->display = std::move(connection);
    c->root = DefaultRootWindow(display);

    int errorBase = 0;
    int major = 0;
    int minor = 0;
    if (XRRQueryExtension(display, &c->randrEventBase, &errorBase) && XRRQueryVersion(display, &major, &minor) &&
        (major > 1 || (major == 1 && minor >= 2))) {
        c->randr = true;
        XRRSelectInput(display, c->root, RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
    }
    int fixesEvent = 0;
    int fixesError = 0;
    if (XFixesQueryExtension(display, &fixesEvent, &fixesError)) {
        // The version must be negotiated before any XFixes request.
        int fixesMajor = 6;
        int fixesMinor = 0;
        if (XFixesQueryVersion(display, &fixesMajor, &fixesMinor)) {
            c->xfixes = fixesMajor >= 1;
            c->cursorNames = fixesMajor >= 2;
        }
    }
    m_connection = std::move(c);
    return m_connection.get();
}

void X11PointerService::refreshLayout(Connection& c)
{
    // Layout changes come as RandR events; nothing else is selected on this connection.
    Display* dpy = c.display.get();
    while (XPending(dpy) > 0) {
        XEvent event;
        XNextEvent(dpy, &event);
        if (c.randr && event.type >= c.randrEventBase && event.type < c.randrEventBase + RRNumberEvents) {
            XRRUpdateConfiguration(&event);
            c.layoutStale = true;
        }
    }
    if (!c.layoutStale)
        return;
    c.layoutStale = false;
    const auto outputs = XRandRDisplayList(m_displayName).outputs();
    if (!outputs.empty()) {
        c.coords = XRandRDisplayList::coordinates(outputs);
    } else {
        const int screen = DefaultScreen(dpy);
        c.coords = ScreenCoordinates(QRectF(0, 0, DisplayWidth(dpy, screen), DisplayHeight(dpy, screen)));
    }
}

std::optional<PointerState> X11PointerService::state()
{
    std::lock_guard lock(m_mutex);
    Connection* c = connection();
    if (!c)
        return std::nullopt;
    refreshLayout(*c);
    Window rootReturn = 0;
    Window child = 0;
    int rootX = 0;
    int rootY = 0;
    int winX = 0;
    int winY = 0;
    unsigned int mask = 0;
    // False: the pointer is on another X screen of this display, or the server went away.
    if (!XQueryPointer(c->display.get(), c->root, &rootReturn, &child, &rootX, &rootY, &winX, &winY, &mask))
        return std::nullopt;
    // Button 1 is the logical primary button; a left-handed mapping already swapped it.
    return PointerState{c->coords.globalFromPixel(QPointF(rootX, rootY)), (mask & Button1Mask) != 0};
}

std::optional<CursorImage> X11PointerService::cursorImage()
{
    std::lock_guard lock(m_mutex);
    Connection* c = connection();
    if (!c || !c->xfixes)
        return std::nullopt;
    refreshLayout(*c);
    XFreed<XFixesCursorImage> raw(XFixesGetCursorImage(c->display.get()));
    if (!raw)
        return std::nullopt;
    // Cursor images are device pixels; the screen under the pointer gives their size in points.
    const double scale = c->coords.scaleAtPixel(QPointF(raw->x, raw->y));
    if (c->lastCursor && c->lastCursor->serial == raw->cursor_serial && c->lastCursorScale == scale)
        return c->lastCursor;

    CursorImage cursor;
    cursor.serial = raw->cursor_serial;
    if (c->cursorNames && raw->name)
        cursor.name = QString::fromUtf8(raw->name);
    const int width = raw->width;
    const int height = raw->height;
    if (width > 0 && height > 0) {
        QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
        if (!image.isNull()) {
            // XFixes hands premultiplied ARGB, one pixel in the low 32 bits of each long.
            const unsigned long* src = raw->pixels;
            for (int y = 0; y < height; ++y) {
                auto* row = reinterpret_cast<uint32_t*>(image.scanLine(y));
                for (int x = 0; x < width; ++x)
                    row[x] = uint32_t(src[size_t(y) * size_t(width) + size_t(x)]);
            }
            cursor.image = std::move(image);
        }
    }
    cursor.size = QSizeF(width / scale, height / scale);
    cursor.hot = QPointF(raw->xhot / scale, raw->yhot / scale);
    c->lastCursor = cursor;
    c->lastCursorScale = scale;
    return cursor;
}

std::optional<QRectF> X11PointerService::windowFrame(uint32_t windowId)
{
    if (windowId == 0)
        return std::nullopt;
    std::lock_guard lock(m_mutex);
    Connection* c = connection();
    if (!c)
        return std::nullopt;
    refreshLayout(*c);
    QRectF pixels;
    {
        // The window may be gone: its errors must not reach the default handler, which exits.
        Display* dpy = c->display.get();
        X11ErrorTrap trap(dpy);
        XWindowAttributes attributes;
        std::memset(&attributes, 0, sizeof attributes);
        if (!XGetWindowAttributes(dpy, Window(windowId), &attributes) || trap.sync() != 0)
            return std::nullopt;
        int x = 0;
        int y = 0;
        Window child = 0;
        if (!XTranslateCoordinates(dpy, Window(windowId), c->root, 0, 0, &x, &y, &child) || trap.sync() != 0)
            return std::nullopt;
        // (x, y) is inside the border; the window's picture includes it.
        const int border = attributes.border_width;
        pixels = QRectF(x - border, y - border, attributes.width + 2 * border, attributes.height + 2 * border);
    }
    return c->coords.toWindowServer(c->coords.pointsFromPixels(pixels));
}

} // namespace corvessa
