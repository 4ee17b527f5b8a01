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
    // Asks for the frame of a dialog: a border without a title bar, so no
    // minimise or maximise button (openbox and others offer both on every
    // titled dialog, whatever the window asks), and of the window's functions
    // only moving, closing and, when `resizable`, resizing. Call after the
    // window's Qt flags are final: Qt rewrites the frame hints whenever they change.
    virtual void dialogFrame(QWindow* window, bool resizable) = 0;
};

} // namespace corvessa
