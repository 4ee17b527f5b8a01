#pragma once

#include "platform/PointerService.h"

#include <QString>

#include <chrono>
#include <memory>
#include <mutex>

namespace corvessa {

// The X server's pointer: position and buttons by XQueryPointer, the cursor
// image, hot spot and name by XFixes (converted once per cursor serial), window
// frames from the window's own geometry. One connection of its own, opened on
// first use and kept until its server goes away; without a display every call
// answers nothing, and opening is retried at most every two seconds. Screen layout changes arrive as RandR
// events on that connection and refresh the pixel-to-point conversion.
class X11PointerService : public PointerService {
public:
    // displayName: the X display to use, e.g. ":1"; empty means $DISPLAY.
    explicit X11PointerService(QString displayName = {});
    ~X11PointerService() override;
    X11PointerService(const X11PointerService&) = delete;
    X11PointerService& operator=(const X11PointerService&) = delete;

    std::optional<PointerState> state() override;
    std::optional<CursorImage> cursorImage() override;
    std::optional<QRectF> windowFrame(uint32_t windowId) override;

    // Whether the X display can be opened.
    static bool isAvailable(const QString& displayName = {});

private:
    struct Connection; // X types stay in the .cpp: Xlib's macros clash with Qt

    Connection* connection();
    void refreshLayout(Connection& c);

    std::mutex m_mutex;
    QString m_displayName;
    std::unique_ptr<Connection> m_connection;
    std::chrono::steady_clock::time_point m_nextOpen{};
};

} // namespace corvessa
