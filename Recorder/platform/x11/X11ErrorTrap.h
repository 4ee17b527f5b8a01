#pragma once

// Xlib's connection type, declared here so callers need no X header.
struct _XDisplay;

namespace corvessa {

// Xlib reports protocol errors through one process-wide handler whose default
// exits the program. While a trap lives, errors on its own connection are
// recorded instead; errors on other connections go on to the handler that was
// installed before. One trap at a time in the whole process (they share a lock),
// so handlers are always restored in the order they were set.
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
};

} // namespace corvessa
