#pragma once

// Xlib's connection type, declared here so callers need no X header.
struct _XDisplay;

#include <functional>

namespace corvessa {

// Keeps the program alive when the X server goes away. Xlib reports a broken
// connection to one process-wide I/O error handler and then, by default, exits
// the program. On the connections we open (openX11Display) the loss is recorded
// instead and Xlib is told to return (libX11 1.7 or later); from then on every
// call on that connection fails at once without touching the socket; such a
// connection is never closed (see X11Free). Owners ask isLost() after their calls and
// stop using the connection. Connections we did not open (the toolkit's) go on
// to the handler installed before ours. Callable from any thread.
class X11ConnectionLoss {
public:
    // Starts watching a connection just opened; installs the handler the first time.
    static void watch(_XDisplay* display);
    // Stops watching a connection just closed.
    static void forget(_XDisplay* display);
    // Whether the server went away under a watched connection.
    static bool isLost(_XDisplay* display);
    // Whether this libX11 lets a broken connection return instead of exiting.
    static bool isSurvivable();
    // Runs `handler` once when the toolkit's own connection breaks, before the
    // toolkit ends the program with exit(): on Qt's warning about the broken
    // connection, or on Xlib's I/O error for a connection we did not open.
    // The exit itself cannot be stopped; this lets the owner finish its work
    // while every thread still runs and nothing has been destroyed yet.
    static void onToolkitLoss(std::function<void()> handler);
};

} // namespace corvessa
