#pragma once

#include <QString>

#include <memory>

namespace corvessa {

// Hears, on a connection of its own, every notice the X server sends when the
// display layout may have changed: RandR's screen, CRTC, output and output
// property notices, and a new work area or current desktop on the root window.
// Asking costs no round trip to the server: what has arrived is read without
// waiting, so a busy server never holds up the caller. Not thread-safe; its
// owner serialises the calls.
class XRandRChangeWatch {
public:
    // displayName: the X display to watch, e.g. ":1"; empty means $DISPLAY.
    explicit XRandRChangeWatch(const QString& displayName);
    ~XRandRChangeWatch();
    XRandRChangeWatch(const XRandRChangeWatch&) = delete;
    XRandRChangeWatch& operator=(const XRandRChangeWatch&) = delete;

    // Whether the server can tell of changes: the display opened with RandR
    // 1.2 or later, and the connection still stands.
    bool isListening() const;
    // Whether a notice arrived since the last call (or since the watch began);
    // reads every notice that has arrived.
    bool changed();

private:
    struct Connection;
    std::unique_ptr<Connection> m_connection;
};

} // namespace corvessa
