#pragma once

// Xlib's connection type, declared here so callers need no X header.
struct _XDisplay;

namespace corvessa {

// Xlib reports protocol errors through one process-wide handler whose default
// exits the program. While a trap lives, errors on its own connection are
// recorded instead; errors on other connections go on to the handler that was
// installed before. Traps on different connections are independent: each
// thread traps its own connection without waiting for another thread's round
// trips (a capture thread reading a whole screen must not hold up the main
// thread, nor the other way round). On one connection the innermost trap
// takes the errors. A trap is used on the thread that owns its connection.
class X11ErrorTrap {
public:
    explicit X11ErrorTrap(_XDisplay* display);
    // Syncs, so late errors of our requests are still caught, then lets go.
    ~X11ErrorTrap();
    X11ErrorTrap(const X11ErrorTrap&) = delete;
    X11ErrorTrap& operator=(const X11ErrorTrap&) = delete;

    // Waits for the server to answer every request sent so far and returns the
    // error code of the first one that failed since the last call (0 for none).
    int sync();
    // Errors seen on the connection since the trap was set.
    int errorCount() const;

private:
    friend struct X11ErrorTraps;

    _XDisplay* m_display;
    X11ErrorTrap* m_outer = nullptr; // an enclosing trap on the same connection
    int m_firstError = 0;
    int m_errors = 0;
};

} // namespace corvessa
