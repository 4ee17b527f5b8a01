#pragma once

#include "platform/ScreenStreamConfig.h"
#include "platform/x11/X11PixelView.h"
#include "platform/x11/XRandRDisplayList.h"

#include <QRect>
#include <QRegion>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

// Last: X11's macros clash with names in Qt.
#include "platform/x11/X11CaptureDisplay.h"

namespace corvessa {

// Everything a capture stream has on the X server: its connection, the
// redirection of the top-level windows and, by target, the window stack with
// the exclusion repair (a display or an area) or the window target. Turns the
// server's events into "a new frame is due" and reads that frame. Owned by the
// capture thread.
class X11CaptureSession {
public:
    X11CaptureSession(ScreenFilter filter, ScreenStreamConfig config);
    ~X11CaptureSession();
    X11CaptureSession(const X11CaptureSession&) = delete;
    X11CaptureSession& operator=(const X11CaptureSession&) = delete;

    // Connects, redirects the windows and watches the target; an error when
    // the server or the target cannot be captured.
    std::optional<RecorderError> open(const QString& displayName);
    // Frees what lives on the server, then closes the connection; after the
    // server went away only our side is freed.
    void close();

    // From now on a display or window that goes away is lost, not missing.
    void setRunning() { m_running = true; }
    // A new configuration; the next frame is due at once.
    void reconfigure(const ScreenStreamConfig& config);
    // The layout decides what a display or an area covers on the root.
    void applyLayout(std::vector<XRandRDisplayList::Output> layout);
    // A RandR event or a new area asks for the layout again.
    bool layoutPending() const { return m_layoutChanged; }
    // How often an area's display moved on the root while running, the area with it.
    uint64_t areaMoves() const { return m_areaMoves; }

    // Handles the events already read, or every one the server has sent.
    void handleEvents(X11ErrorTrap& trap, bool queuedOnly);
    // Whether events wait in the client's queues, where poll() on the socket cannot see them.
    bool hasQueuedEvents() const;
    bool isDirty() const { return m_dirty; }
    // A compositing manager draws the screen and may still show what came
    // before the session opened (a window of ours that was just moved or
    // closed, with its shadow): the first frame waits until the manager has
    // painted after the session asked it to, which it does only once it has
    // handled everything before.
    bool awaitingManager() const { return m_awaitingManager; }
    // Pictures that can be held at once: each reader keeps its last one until it reads again.
    static constexpr int kReaders = 2;
    // Reads the next picture with reader `reader` (below kReaders) and marks the
    // screen as captured, unless changes came while reading; an empty view when
    // there is none to make now. The view stays valid until that reader reads again.
    X11PixelView frame(X11ErrorTrap& trap, int reader);
    // The rows of the last frame's picture that may differ from the picture
    // before it (top inclusive, bottom exclusive): where the server reported
    // damage, excluded windows were painted over, or, when any other change
    // came, the whole picture. Damage reported a moment late is counted with the
    // next frame, so a picture is only known apart from the one before it by the
    // changes of both.
    std::pair<int, int> changedRows() const { return m_changedRows; }

    // Why the stream must end: the target went away.
    const std::optional<RecorderError>& lost() const { return m_lost; }
    // The server went away: nothing more comes from it.
    bool serverLost() const { return m_display.isLost(); }
    bool isWindowTarget() const { return m_filter.kind == ScreenFilter::Kind::Window; }
    Display* display() const { return m_display.get(); }
    // Frames in which excluded windows were painted over.
    uint64_t repairs() const;

private:
    struct Parts;
    void handle(X11ErrorTrap& trap, XEvent& e);
    void markLost(RecorderError error);
    void checkWindowLost();
    // The picture, with the rectangle (root pixels) where excluded windows were
    // painted over; `changed` (root pixels) is what may differ from the picture before.
    X11PixelView grab(X11ErrorTrap& trap, int reader, const QRegion& changed, bool painted, QRect* repaired);
    // Something changed on the root: within `rect` (root pixels), or anywhere.
    void noteChange(const std::optional<QRect>& rect);
    // Asks the compositing manager to paint one pixel of the root.
    void askManagerToPaint();
    // Whether the damage `e` is the manager's answer to that request.
    bool answersAsk(const XEvent& e, const std::optional<QRect>& bounds) const;

    const ScreenFilter m_filter;
    ScreenStreamConfig m_config;
    bool m_running = false;
    X11CaptureDisplay m_display;
    std::unique_ptr<Parts> m_parts; // freed under a trap before the connection closes

    QRect m_area; // root pixels captured (display and area targets)
    std::optional<QPoint> m_displayOrigin; // root pixels: where the target's display began at the last layout
    uint64_t m_areaMoves = 0;
    // The display is there but not wholly on the root yet (a mode or position
    // change under way): no picture until it is, the last one stands meanwhile.
    bool m_outsideRoot = false;
    bool m_dirty = true; // the first frame is always made
    QRect m_changed;           // root pixels changed since the last frame
    bool m_changedAll = true;  // or anything at all
    std::pair<int, int> m_changedRows{0, 0};
    bool m_layoutChanged = false;
    bool m_readAgain = false; // the window left and came back while it was read
    bool m_awaitingManager = false;
    bool m_painted = true; // something was drawn on the screen since the last frame
    unsigned long m_askSerial = 0; // of the request to paint, once sent
    std::optional<RecorderError> m_lost;
};

} // namespace corvessa
