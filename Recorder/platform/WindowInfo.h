#pragma once

#include <QRectF>
#include <QString>

#include <cstdint>
#include <optional>

namespace corvessa {

// One top-level window of the desktop.
struct WindowInfo {
    uint32_t id = 0;     // the X window id of the client's top-level window
    int64_t ownerPid = 0; // _NET_WM_PID; 0 when unknown
    QString title;
    QString appName;     // WM_CLASS class name where set
    QRectF frame;        // window-server space: points, origin top left of the primary display, y down
    int layer = 0;       // 0 for normal windows; above-normal (docks, panels, always-on-top) higher
    bool onScreen = true; // mapped and viewable
    uint32_t displayId = 0; // the display holding most of the window
    std::optional<double> alpha; // the window's opacity (0 … 1) where it says one

    bool operator==(const WindowInfo&) const = default;
};

} // namespace corvessa
