#pragma once

// Xlib's connection type, declared here so callers need no X header.
struct _XDisplay;

namespace corvessa {

// Xlib reports protocol errors through one process-wide handler whose default
// exits the program. While a trap lives, errors on its own connection are
// recorded instead; errors on other connections go on to the handler that was
// installed before. One trap at a time per connection; traps on different
// connections (the capture thread's and the main thread's) never wait for
// each other, so a slow server answer on one thread holds up no other.
// A trap is used by the thread that made it.
class X11ErrorTrap {
public:
    explicit X11ErrorTrap(_XDisplay* display);
    // Syncs, so late errors of our requests are still caught, then restores.
    ~X11ErrorTrap();
    X11ErrorTrap(const X11ErrorTrap&) = delete;
    X11ErrorTrap& operator=(const X11ErrorTrap&) = delete;

    // Waits for the server to answer every request sent so far and returns the
    // error code of the first one that failed since the last call (0 for none).
    int sync();
    // Errors seen on the connection since the trap was set.
    int errorCount() const;

private:
    friend int recordTrappedError(_XDisplay* display, int code);
    _XDisplay* const m_display;
    // Written by the error handler on this trap's thread, under the traps' lock.
    int m_firstError = 0;
    int m_errors = 0;
};

} // namespace corvessa
