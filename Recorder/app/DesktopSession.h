#pragma once

#include <QProcessEnvironment>
#include <QString>

namespace corvessa {

// The desktop session the program runs in. It captures through X11: in a
// Wayland session the X server it reaches is XWayland, whose screen shows only
// the X11 programs, so its interface runs there too (Qt's xcb platform) for its
// floating windows, hot keys and exclusion from recordings to keep working.
class DesktopSession {
public:
    DesktopSession() = delete;

    // XDG_SESSION_TYPE says "wayland", or WAYLAND_DISPLAY is set.
    static bool isWayland(const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());
    // The Qt platform the interface must use in this environment; empty when
    // Qt's own choice stands (not a Wayland session, or a platform other than
    // Wayland asked for, such as the offscreen one of tests).
    static QString forcedPlatform(const QProcessEnvironment& environment);
    // Before the application object exists: applies forcedPlatform() to this process.
    static void chooseInterfacePlatform();
    // What the user is told once at start in a Wayland session, translated.
    static QString waylandNotice();
};

} // namespace corvessa
