#include "platform/x11/X11GlobalHotKeys.h"

#include "platform/core/KeyCodeMap.h"
#include "platform/x11/X11ErrorTrap.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QSocketNotifier>

namespace corvessa {
// Named before the X headers, whose Status macro would hide it.
using HotKeyStatus = GlobalHotKeys::Status;
} // namespace corvessa

// X11 last: its macros (None, Bool, Status, Success) clash with names in Qt.
#include "platform/x11/X11Handles.h"

#include <X11/XKBlib.h>
#include <X11/keysym.h>

namespace corvessa {

namespace {

// Which modifier bit Num Lock sets on this server; Mod2 on nearly every setup,
// taken as such when the modifier map does not say.
unsigned findNumLockMask(Display* display)
{
    unsigned mask = Mod2Mask;
    const KeyCode numLock = XKeysymToKeycode(display, XK_Num_Lock);
    const XModifierKeymapPtr map(XGetModifierMapping(display));
    if (!map)
        return mask;
    if (numLock != 0) {
        for (int mod = 0; mod < 8; ++mod) {
            for (int k = 0; k < map->max_keypermod; ++k) {
                if (map->modifiermap[mod * map->max_keypermod + k] == numLock)
                    mask = 1u << mod;
            }
        }
    }
    return mask;
}

constexpr unsigned kCombinationMask = ShiftMask | ControlMask | Mod1Mask | Mod4Mask;

} // namespace

// Closing the connection releases its grabs.
struct X11GlobalHotKeys::Connection {
    X11DisplayPtr display;
};

X11GlobalHotKeys::X11GlobalHotKeys(const QString& displayName)
{
    X11DisplayPtr display = openX11Display(displayName);
    if (!display)
        return;
    Display* dpy = display.get();
    m_connection = std::make_unique<Connection>(Connection{std::move(display)});
    m_root = DefaultRootWindow(dpy);
    m_numLockMask = findNumLockMask(dpy);
    // Held keys then repeat as presses alone, which tells a repeat from a new press.
    Bool supported = False;
    XkbSetDetectableAutoRepeat(dpy, True, &supported);
    XFlush(dpy);

    // Without an event loop nothing could read the presses; registrations still work.
    if (QCoreApplication::instance()) {
        m_notifier = std::make_unique<QSocketNotifier>(ConnectionNumber(dpy), QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(),
                         [this] { processPendingEvents(); });
    }
}

X11GlobalHotKeys::~X11GlobalHotKeys()
{
    // The notifier watches the connection's socket: it goes first.
    m_notifier.reset();
}

_XDisplay* X11GlobalHotKeys::display() const
{
    return m_connection ? m_connection->display.get() : nullptr;
}

std::set<unsigned> X11GlobalHotKeys::lockVariants() const
{
    return {0u, unsigned(LockMask), m_numLockMask, LockMask | m_numLockMask};
}

unsigned X11GlobalHotKeys::relevantModifiers(unsigned state) const
{
    return state & kCombinationMask & ~(LockMask | m_numLockMask);
}

int X11GlobalHotKeys::grab(const Grab& g)
{
    int error = 0;
    {
        X11ErrorTrap trap(display());
        for (unsigned lock : lockVariants())
            XGrabKey(display(), int(g.keycode), g.modifiers | lock, m_root, False, GrabModeAsync, GrabModeAsync);
        error = trap.sync();
    }
    if (error != 0)
        ungrab(g); // the variants that were granted
    scheduleProcessing();
    return error;
}

void X11GlobalHotKeys::ungrab(const Grab& g)
{
    if (display()) {
        // Ungrabbing a combination we do not hold is harmless; the trap is for a
        // keycode the server has stopped knowing.
        X11ErrorTrap trap(display());
        for (unsigned lock : lockVariants())
            XUngrabKey(display(), int(g.keycode), g.modifiers | lock, m_root);
    }
    m_held.erase(g.keycode);
    scheduleProcessing();
}

HotKeyStatus X11GlobalHotKeys::registerKey(int id, qint64 keyCode, qint64 modifiers)
{
    unregisterKey(id);
    if (!checkConnection())
        return HotKeyStatus::unavailable;
    const std::optional<quint32> sym = KeyCodeMap::keysym(keyCode);
    if (!sym)
        return HotKeyStatus::unmappable;
    const KeyCode keycode = XKeysymToKeycode(display(), KeySym(*sym));
    if (keycode == 0)
        return HotKeyStatus::unmappable;

    const Grab g{keycode, relevantModifiers(KeyCodeMap::x11Modifiers(modifiers))};
    // The server lets a client grab the same combination twice; the second grab
    // silently replaces the first, so our own clashes are caught here.
    for (const auto& [other, held] : m_grabs) {
        if (held.keycode == g.keycode && held.modifiers == g.modifiers)
            return HotKeyStatus::duplicate;
    }
    const int error = grab(g);
    if (!checkConnection())
        return HotKeyStatus::unavailable;
    if (error != 0)
        return HotKeyStatus::taken;
    m_grabs[id] = g;
    return HotKeyStatus::registered;
}

void X11GlobalHotKeys::unregisterKey(int id)
{
    auto it = m_grabs.find(id);
    if (it == m_grabs.end())
        return;
    const Grab g = it->second;
    m_grabs.erase(it);
    ungrab(g);
}

bool X11GlobalHotKeys::isRegistered(int id) const
{
    return m_grabs.contains(id);
}

int X11GlobalHotKeys::registrationCount() const
{
    return int(m_grabs.size());
}

void X11GlobalHotKeys::scheduleProcessing()
{
    if (m_notifier)
        QMetaObject::invokeMethod(m_notifier.get(), [this] { processPendingEvents(); }, Qt::QueuedConnection);
}

void X11GlobalHotKeys::processPendingEvents()
{
    if (!checkConnection())
        return;
    while (XPending(display()) > 0) {
        XEvent event;
        XNextEvent(display(), &event);
        switch (event.type) {
        case KeyPress: {
            const unsigned keycode = event.xkey.keycode;
            const unsigned modifiers = relevantModifiers(event.xkey.state);
            // Only an exact match is ours: anything else is left alone, never
            // taken for some default action.
            for (const auto& [id, g] : m_grabs) {
                if (g.keycode == keycode && g.modifiers == modifiers) {
                    if (m_held.insert(keycode).second)
                        pressed(id);
                    break;
                }
            }
            break;
        }
        case KeyRelease:
            m_held.erase(event.xkey.keycode);
            break;
        case MappingNotify:
            XRefreshKeyboardMapping(&event.xmapping);
            break;
        default:
            break;
        }
    }
    checkConnection(); // XPending may have found the server gone
}

bool X11GlobalHotKeys::isConnected() const
{
    return display() && !X11ConnectionLoss::isLost(display());
}

bool X11GlobalHotKeys::checkConnection()
{
    if (display() && X11ConnectionLoss::isLost(display())) {
        // The socket stays readable at its end: the notifier would fire for
        // ever. Disabled before the socket closes; it may be the sender of this
        // very call, so it stays until we go.
        if (m_notifier)
            m_notifier->setEnabled(false);
        m_connection.reset(); // the grabs went with the server
        m_grabs.clear();
        m_held.clear();
    }
    return display() != nullptr;
}

} // namespace corvessa
