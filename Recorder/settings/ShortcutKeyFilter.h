#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

namespace corvessa {

class ShortcutCapture;

// While a new shortcut is being captured, takes every key press meant for a
// widget of one window before anything else sees it: before the window's and
// the menus' shortcuts (their override request is answered here) and before the
// focused widget, so Tab, Space and Return go to the capture too. Installed on
// the application while the shortcut list is on screen. Main thread.
class ShortcutKeyFilter : public QObject {
    Q_OBJECT
public:
    ShortcutKeyFilter(ShortcutCapture& capture, QWidget* window, QObject* parent = nullptr);
    ~ShortcutKeyFilter() override;

    // Installs on, or removes from, the application.
    void setActive(bool active);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    ShortcutCapture& m_capture;
    QPointer<QWidget> m_window;
    bool m_active = false;
};

} // namespace corvessa
