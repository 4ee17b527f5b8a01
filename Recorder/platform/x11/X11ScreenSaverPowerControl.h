#pragma once

#include "platform/PowerControl.h"

#include <QString>

#include <functional>
#include <mutex>
#include <set>

// Xlib's connection type, declared here so callers need no X header.
struct _XDisplay;

namespace corvessa {

// Holds the display awake on desktops with no screen saver service (a bare
// window manager, where xss-lock or xautolock follow the X server's own saver):
// suspends the server's screen saver and display power management with the
// MIT-SCREEN-SAVER extension on a connection of its own, open while a hold
// lasts. The server lifts the suspension when that connection closes, so a
// crash leaves nothing behind. Callable from any thread.
class X11ScreenSaverPowerControl : public PowerControl {
public:
    using Log = std::function<void(const QString& line)>;

    // `displayName`: $DISPLAY when empty.
    explicit X11ScreenSaverPowerControl(Log log, QString displayName = {});
    ~X11ScreenSaverPowerControl() override;
    X11ScreenSaverPowerControl(const X11ScreenSaverPowerControl&) = delete;
    X11ScreenSaverPowerControl& operator=(const X11ScreenSaverPowerControl&) = delete;

    uint32_t holdDisplayAwake(const QString& reason) override;
    void release(uint32_t id) override;

private:
    void close();

    const Log m_log;
    const QString m_displayName;
    std::mutex m_mutex;
    _XDisplay* m_connection = nullptr; // ours, while any hold lasts
    std::set<uint32_t> m_holds;
    uint32_t m_next = 1;
};

} // namespace corvessa
