#pragma once

#include "prefs/HotKeyAction.h"

#include <QWidget>

class QLabel;

namespace corvessa {

class HotKeyCenter;
class Prefs;
class ShortcutCapture;
class ShortcutKeyFilter;

// The shortcut list: the hints switch, one row per action with its capture and
// reset buttons, the capture's last message and how to type a shortcut. A new
// message is scrolled into view. While
// the pane is on screen it takes the keys of its window for the capture; when
// it leaves the screen (another tab, the window hidden) a capture ends.
// Main thread; preferences and hot-key center outlive it.
class ShortcutsPane : public QWidget {
    Q_OBJECT
public:
    ShortcutsPane(Prefs& prefs, HotKeyCenter& center, QWidget* parent = nullptr);
    ~ShortcutsPane() override;

    ShortcutCapture& capture() { return *m_capture; }
    // Gives the action its default combination with Ctrl+Alt, checked like a typed one.
    void reset(HotKeyAction action);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    Prefs& m_prefs;
    ShortcutCapture* m_capture = nullptr;
    ShortcutKeyFilter* m_filter = nullptr;
    QLabel* m_message = nullptr;
};

} // namespace corvessa
