#pragma once

namespace corvessa {

// Whether a compositing manager draws the screen, so that the transparent
// parts of a translucent window show what lies beneath rather than black.
// EWMH: the manager owns the selection _NET_WM_CM_S<screen>. Asked on Qt's own
// X connection. Main thread.
class X11Compositing {
public:
    X11Compositing() = delete;

    // False off X (the offscreen platform of the tests) and without a manager.
    static bool isActive();
};

} // namespace corvessa
