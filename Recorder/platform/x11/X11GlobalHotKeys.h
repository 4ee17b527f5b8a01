#pragma once

#include "platform/GlobalHotKeys.h"

#include <QString>

#include <map>
#include <memory>
#include <set>

struct _XDisplay;
class QSocketNotifier;

namespace corvessa {

// Global hot keys on the X server: each combination is a passive key grab on the
// root window, made on a connection of our own, so the toolkit's connection and
// its event handling are left alone. Each grab is made four times, with and
// without Num Lock and Caps Lock, since the server matches the lock state too.
// A grab the server refuses (another client holds it) fails the registration.
// Presses arrive on our connection and are read on the main thread's event loop.
// When the server goes away, reading stops and every registration is refused.
//
// The keyboard mapping is read when a combination is registered; a later layout
// change does not move existing grabs.
class X11GlobalHotKeys : public GlobalHotKeys {
public:
    // displayName: the X display, e.g. ":1"; empty means $DISPLAY.
    explicit X11GlobalHotKeys(const QString& displayName = {});
    ~X11GlobalHotKeys() override;
    X11GlobalHotKeys(const X11GlobalHotKeys&) = delete;
    X11GlobalHotKeys& operator=(const X11GlobalHotKeys&) = delete;

    // Whether the display could be opened and is still there; without it every
    // registration is refused as unavailable.
    bool isConnected() const;

    Status registerKey(int id, qint64 keyCode, qint64 modifiers) override;
    void unregisterKey(int id) override;
    bool isRegistered(int id) const override;
    int registrationCount() const override;

    // Reads and handles every event that has arrived; the event loop does this
    // when the connection becomes readable.
    void processPendingEvents();

private:
    struct Grab {
        unsigned keycode = 0;
        unsigned modifiers = 0; // X11 mask without the lock bits
    };

    // The lock-state combinations each grab is repeated for.
    std::set<unsigned> lockVariants() const;
    // Grabs every lock variant; on a refusal, undoes them all and returns the
    // X error code.
    int grab(const Grab& g);
    void ungrab(const Grab& g);
    // The lock bits are not part of a combination.
    unsigned relevantModifiers(unsigned state) const;
    // Events may have been read into Xlib's queue by a sync, where the socket
    // notifier will not see them.
    void scheduleProcessing();
    // Whether the connection is usable; one whose server went away is closed,
    // its notifier stopped and its grabs forgotten.
    bool checkConnection();

    struct Connection; // X types stay in the .cpp: Xlib's macros clash with Qt
    _XDisplay* display() const;

    std::unique_ptr<Connection> m_connection; // null without a display
    unsigned long m_root = 0;
    unsigned m_numLockMask = 0;
    std::map<int, Grab> m_grabs;
    // Keys of ours held down, so auto-repeat does not fire the action again.
    std::set<unsigned> m_held;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace corvessa
