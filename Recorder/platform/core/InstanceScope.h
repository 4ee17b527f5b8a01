#pragma once

#include <QString>

namespace corvessa {

// What one running program stands for: one per user and X display. A second
// X session of the same user (a remote desktop on another display) runs its
// own program, while launches on the same display reach the one there.
class InstanceScope {
public:
    // A name part for the display in DISPLAY ("display_0" for ":0" and
    // ":0.1", "display_host_10" for "host:10"): letters, digits and '_' only,
    // so it fits a bus name and a file name. Empty without a display.
    static QString current();
    static QString forDisplay(const QString& display);
};

} // namespace corvessa
