#pragma once

#include "prefs/KeyBinding.h"

#include <QObject>

#include <optional>

class QKeyEvent;

namespace corvessa {

class HotKeyCenter;
class Prefs;

// Recording a new shortcut: which action is waiting for one (shared by every
// KeyRecorderButton of the shortcut list, at most one at a time), what a key
// press does meanwhile, and storing and registering the result. While an action
// waits, the hot keys are paused so the keys reach us instead of their grabs.
//
// Main thread only. The preferences and the hot-key center must outlive it.
class ShortcutCapture : public QObject {
    Q_OBJECT
public:
    ShortcutCapture(Prefs& prefs, HotKeyCenter& center, QObject* parent = nullptr);
    // Ends a capture still running, so the hot keys come back.
    ~ShortcutCapture() override;

    // The action waiting for a new shortcut, none when nothing is captured.
    const std::optional<HotKeyAction>& recording() const { return m_recording; }
    void setRecording(std::optional<HotKeyAction> action);

    // A key press while something may be captured. Returns false, leaving the
    // event alone, when nothing is; otherwise takes the event: Escape ends the
    // capture without a change, a key with Command or Control (and a key code
    // of ours) becomes the shortcut, anything else keeps capturing and says why
    // in the preferences' hotkeyMessage. Modifier keys alone wait for the rest.
    bool handle(const QKeyEvent& event);

    // Gives the action a new shortcut, unless another action has it already;
    // when another program holds it, the old shortcut is put back. The outcome
    // is reported in the preferences' hotkeyMessage.
    void set(HotKeyAction action, qint64 keyCode, qint64 modifiers);

signals:
    void recordingChanged();

private:
    Prefs& m_prefs;
    HotKeyCenter& m_center;
    std::optional<HotKeyAction> m_recording;
};

} // namespace corvessa
