#pragma once

#include <QRect>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

// Xlib's connection type, declared here so callers need no X header.
struct _XDisplay;

namespace corvessa {

// What clients and the window manager publish on X windows, read the same way
// by the window list and the capture stream. Any window may be gone by the time
// it is asked about: callers hold an X11ErrorTrap, and a failed read gives the
// empty answer.
class X11WindowProperties {
public:
    using WindowId = unsigned long; // an X window id (XID)

    // _NET_WM_PID; 0 when unset.
    static int64_t pid(_XDisplay* display, WindowId window);
    // _NET_WM_WINDOW_OPACITY as 0 … 1; nothing when unset.
    static std::optional<double> opacity(_XDisplay* display, WindowId window);
    // _NET_WM_NAME (UTF-8), else WM_NAME in whatever encoding it carries.
    static QString title(_XDisplay* display, WindowId window);
    // The class part of WM_CLASS ("Firefox" of "Navigator", "Firefox").
    static QString className(_XDisplay* display, WindowId window);
    // The window manager's _NET_CLIENT_LIST_STACKING, bottom to top; `present`
    // says whether a window manager publishes it at all.
    static std::vector<WindowId> stackingClients(_XDisplay* display, WindowId root, bool* present = nullptr);
    // The direct children of a window, bottom to top.
    static std::vector<WindowId> children(_XDisplay* display, WindowId window);
    // The ancestor of `window` whose parent is the root (under a reparenting
    // window manager: the frame); the window itself when it is a top-level; 0
    // when the window is gone or is the root.
    static WindowId topLevel(_XDisplay* display, WindowId window, WindowId root);
    // The client window inside a top-level: the one carrying WM_STATE, the
    // top-level itself or a descendant up to `depth` levels down; the top-level
    // when none carries it (no window manager).
    static WindowId clientWindow(_XDisplay* display, WindowId topLevel, int depth = 3);
    // The window and its descendants up to `depth` levels down.
    static std::vector<WindowId> family(_XDisplay* display, WindowId window, int depth = 2);
    // Stacking layer for the window list: 0 normal, above-normal windows higher
    // (kept above 3, docks 20, popups and override-redirect windows 101), the
    // desktop and kept-below windows lower.
    static int layer(_XDisplay* display, WindowId client, bool overrideRedirect);
    // The wallpaper pixmap desktops publish on the root (_XROOTPMAP_ID or
    // ESETROOT_PMAP_ID); 0 when none.
    static unsigned long rootPixmap(_XDisplay* display, WindowId root);
    // The window manager's _NET_WORKAREA for the current desktop (root pixels,
    // y down): the screen less its panels and docks; empty when none is published.
    static QRect workArea(_XDisplay* display, WindowId root);
};

} // namespace corvessa
