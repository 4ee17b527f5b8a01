#pragma once

// Xlib's connection type, declared here so callers need no X header.
struct _XDisplay;

namespace corvessa {

// Qt's own X connection, for requests that must reach the server in order with
// Qt's (a property before Qt maps the window). Main thread.
class X11QtConnection {
public:
    X11QtConnection() = delete;

    // Null off X (the offscreen platform of the tests).
    static _XDisplay* display();
};

} // namespace corvessa
