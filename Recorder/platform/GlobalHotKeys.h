#pragma once

#include <QtGlobal>

#include <functional>
#include <memory>

namespace corvessa {

// System-wide hot keys: a key combination, given as a stored key code and the
// stored modifier bits (see KeyCodeMap), is claimed under an identifier chosen by
// the caller, and each press of it is reported with that identifier. Backends:
// X11GlobalHotKeys (grabs on the X server) and SyntheticGlobalHotKeys (presses
// made by tests, for machines without X).
//
// Main thread only; presses are reported on the main thread.
class GlobalHotKeys {
public:
    enum class Status {
        registered,
        // Another program holds the combination.
        taken,
        // Another of our own identifiers already holds it.
        duplicate,
        // The key has no keysym in our table or no key on this keyboard.
        unmappable,
        // No connection to the window system.
        unavailable,
    };

    using PressHandler = std::function<void(int id)>;

    virtual ~GlobalHotKeys() = default;

    // Claims the combination for id, first giving up what id held before. Only
    // the Control, Option, Shift and Command bits count; others are ignored, as
    // they are when a binding is shown.
    virtual Status registerKey(int id, qint64 keyCode, qint64 modifiers) = 0;
    // Gives up what id holds; nothing happens when it holds nothing.
    virtual void unregisterKey(int id) = 0;
    virtual bool isRegistered(int id) const = 0;
    // How many identifiers hold a combination now.
    virtual int registrationCount() const = 0;

    // Called once for each press of a registered combination (a key held down
    // reports one press, not its auto-repeat).
    void setPressHandler(PressHandler handler) { m_pressHandler = std::move(handler); }

    // The process-wide service. Unless one was installed, the first call picks the
    // X server's when it can be reached, else a synthetic one, so the program still
    // runs without X.
    static std::shared_ptr<GlobalHotKeys> current();
    // Installs the process-wide service; null goes back to the automatic choice.
    static void setCurrent(std::shared_ptr<GlobalHotKeys> service);

protected:
    void pressed(int id) const
    {
        if (m_pressHandler)
            m_pressHandler(id);
    }

private:
    PressHandler m_pressHandler;
};

} // namespace corvessa
