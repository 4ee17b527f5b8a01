#pragma once

class QWindow;

namespace corvessa {

// What the program asks of the window system for its own windows beyond what
// Qt offers. Backend: X11WindowHints (EWMH properties on the X server), which
// does nothing where the windows are not on an X server. Main thread.
class WindowHints {
public:
    virtual ~WindowHints() = default;

    // Keeps the window on every virtual desktop, so it follows the user.
    virtual void showOnAllDesktops(QWindow* window) = 0;
};

} // namespace corvessa
