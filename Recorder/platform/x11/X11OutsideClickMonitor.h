#pragma once

#include "platform/ClickObservers.h"
#include "platform/OutsideClickMonitor.h"

#include <QString>

#include <memory>

class QSocketNotifier;
struct _XDisplay;

namespace corvessa {

// Presses anywhere on the X server, seen as XInput2 raw button events on the
// root window of a connection of our own. Raw events are copies: the press
// still goes to the window under the pointer, grabs included. The position is
// the pointer's when the event is read (XQueryPointer), turned into Qt points
// by the screens Qt knows. Wheel steps (buttons 4 to 7) are not presses. Events
// are read on the main thread's event loop; when the server goes away, reading
// stops and observe() answers null from then on. Main thread.
class X11OutsideClickMonitor : public OutsideClickMonitor {
public:
    // displayName: the X display, e.g. ":1"; empty means $DISPLAY.
    explicit X11OutsideClickMonitor(const QString& displayName = {});
    ~X11OutsideClickMonitor() override;
    X11OutsideClickMonitor(const X11OutsideClickMonitor&) = delete;
    X11OutsideClickMonitor& operator=(const X11OutsideClickMonitor&) = delete;

    // Whether presses can be seen: a display with XInput2, still there.
    bool isAvailable();

    std::unique_ptr<Subscription> observe(Handler handler) override;

    // Reads and tells every event that has arrived; the event loop does this
    // when the connection becomes readable.
    void processPendingEvents();

private:
    struct Connection; // X types stay in the .cpp: Xlib's macros clash with Qt
    _XDisplay* display() const;
    // Whether the connection is usable; one whose server went away is closed.
    bool checkConnection();
    void tell(unsigned physicalButton);

    std::unique_ptr<Connection> m_connection; // null without a display or XInput2
    int m_opcode = 0; // XInput's major opcode
    std::unique_ptr<QSocketNotifier> m_notifier;
    ClickObservers m_observers;
};

} // namespace corvessa
