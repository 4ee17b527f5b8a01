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
    // Asks for the frame of a question: a border without a title bar, so no
    // minimise or maximise button (some window managers offer both on every
    // titled dialog), and of the window's functions only moving and closing.
    // Call after the window's Qt flags are final: Qt rewrites the frame hints
    // whenever they change.
    virtual void questionFrame(QWindow* window) = 0;
};

} // namespace corvessa
