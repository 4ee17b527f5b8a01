#pragma once

#include "prefs/KeyBinding.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <vector>

namespace corvessa {

class GlobalHotKeys;
class Prefs;

// Registers the fifteen shortcuts as system-wide hot keys and runs the action
// attached to each when it is pressed; also owns the bare Escape hot key, which
// is held only while something on screen can be dismissed with it.
//
// Presses are handled on the main queue after the platform's callback returns,
// so an action may itself call apply() or setEscape().
//
// One shared instance; main thread only.
class HotKeyCenter {
public:
    // The identifier under which Escape is registered; the shortcuts use their index.
    static constexpr int escapeIdentifier = 999;

    // Created on first use with the process-wide hot-key service.
    static HotKeyCenter& shared();

    explicit HotKeyCenter(std::shared_ptr<GlobalHotKeys> service);
    // Gives up every hot key this center holds.
    ~HotKeyCenter();
    HotKeyCenter(const HotKeyCenter&) = delete;
    HotKeyCenter& operator=(const HotKeyCenter&) = delete;

    // The action of each shortcut, attached by the application at launch.
    std::map<HotKeyAction, std::function<void()>> handlers;
    // Run when the Escape hot key is pressed.
    std::function<void()> onEscape;

    // Replaces all fifteen registrations by those of bindings and returns the
    // actions that could not be registered, in index order. Actions without a
    // binding are neither registered nor failures. Escape is left as it is.
    std::vector<HotKeyAction> apply(const KeyBindingMap& bindings);
    // The result of the latest apply().
    const std::vector<HotKeyAction>& failures() const { return m_failures; }
    // Whether the action's hot key is held now.
    bool isRegistered(HotKeyAction action) const { return m_refs.contains(action); }

    // Registers or gives up the Escape hot key. A refusal is logged, and Escape
    // does nothing globally until a later setEscape(true) succeeds.
    void setEscape(bool on);
    bool isEscapeRegistered() const { return m_escapeRegistered; }
    // While a pop-up menu is open, Escape closes it and does nothing else: a
    // `close` holds the Escape hot key and takes its presses until an empty
    // one is given. The menu never takes the keyboard focus, so without it the
    // key would go to the window beneath.
    void setMenuEscape(std::function<void()> close);

    // Launch: registers the preferences' bindings, logs
    // "[hotkeys] registered <count>, failed <count>[：<titles>]" and, when some
    // failed, puts the message naming them into the preferences' hotkeyMessage.
    std::vector<HotKeyAction> registerAtLaunch(Prefs& prefs);
    static QString launchLogLine(std::size_t bindingCount, const std::vector<HotKeyAction>& failures);

    // While a new shortcut is being typed, our grabs would take its keys before
    // the settings window sees them: pausing gives up every hot key (Escape
    // too) and resuming takes back the latest bindings and Escape if it is
    // wanted. apply() while paused still tries each binding, so its answer
    // holds, and then gives them up again.
    void setPaused(bool paused);
    bool isPaused() const { return m_paused; }

private:
    void registerBindings();
    void releaseBindings();
    // Takes or gives up Escape as the tools and the menu want it.
    void updateEscape();
    void registerEscape();
    void releaseEscape();
    void dispatch(int id);
    static QStringList titles(const std::vector<HotKeyAction>& actions);

    std::shared_ptr<GlobalHotKeys> m_service;
    KeyBindingMap m_bindings;
    std::set<HotKeyAction> m_refs;
    std::vector<HotKeyAction> m_failures;
    bool m_escapeWanted = false;
    std::function<void()> m_menuClose;
    bool m_escapeRegistered = false;
    bool m_paused = false;
    // Queued presses check it, so none runs on a destroyed center.
    std::shared_ptr<HotKeyCenter*> m_self;
};

} // namespace corvessa
