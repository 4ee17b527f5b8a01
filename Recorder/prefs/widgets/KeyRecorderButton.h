#pragma once

#include "prefs/HotKeyAction.h"

#include <QPushButton>

namespace corvessa {

class Prefs;
class ShortcutCapture;

// The button beside an action in the shortcut list: shows the action's shortcut
// and, when clicked, starts (or, clicked again, cancels) capturing a new one for
// it. While anything is captured, key presses that reach the button go to the
// capture, so the shortcut can be typed right after the click.
//
// The preferences and the capture must outlive the button. Main thread.
class KeyRecorderButton : public QPushButton {
    Q_OBJECT
public:
    // The width of the button, in points.
    static constexpr int buttonWidth = 130;
    // Room beside the text inside the button's frame.
    static constexpr int textMargins = 24;

    KeyRecorderButton(HotKeyAction action, Prefs& prefs, ShortcutCapture& capture, QWidget* parent = nullptr);

    HotKeyAction action() const { return m_action; }
    // Whether this button's action is the one being captured.
    bool isCapturing() const;

protected:
    bool event(QEvent* event) override;

private:
    void toggleCapture();
    void refresh();

    HotKeyAction m_action;
    Prefs& m_prefs;
    ShortcutCapture& m_capture;
};

} // namespace corvessa
