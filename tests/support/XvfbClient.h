#pragma once

#include <QColor>
#include <QPoint>
#include <QRect>
#include <QString>

#include <cstdint>

struct _XDisplay;

namespace corvessa::test {

// A plain X client for tests that need something on the server's screen:
// windows, cursors on them, and the pointer put somewhere. No window manager
// runs under Xvfb, so a mapped window is where it was created.
class XvfbClient {
public:
    explicit XvfbClient(const QString& display);
    ~XvfbClient();
    XvfbClient(const XvfbClient&) = delete;
    XvfbClient& operator=(const XvfbClient&) = delete;

    bool isOpen() const { return m_display != nullptr; }

    // A mapped top-level window at `geometry` (root pixels, inside the border).
    uint32_t createWindow(const QRect& geometry, int borderWidth = 0);
    void destroyWindow(uint32_t window);
    // Shows a size x size cursor over the window: `colour` in the top half, clear
    // in the bottom half, hot spot `hot`, XFixes name `name` (none when empty).
    void setCursor(uint32_t window, const QString& name, const QPoint& hot, const QColor& colour, int size = 16);
    // Moves the pointer to a root-window pixel.
    void warpPointer(const QPoint& rootPixel);
    // Waits until the server has handled everything sent so far.
    void sync();

private:
    _XDisplay* m_display = nullptr;
};

} // namespace corvessa::test
