#pragma once

#include <QObject>

#include <functional>

namespace corvessa {

// "Settings…" (Ctrl+,) and "Quit Corvessa" (Ctrl+Q) from every window of
// ours, also those without a menu bar: an application-wide event filter that
// takes these two key presses before the focused widget sees them. A window
// whose menu bar carries the same shortcut handles it there first, so nothing
// runs twice. Main thread.
class AppShortcuts : public QObject {
    Q_OBJECT
public:
    // Installs itself on the application; removed when destroyed.
    AppShortcuts(std::function<void()> showSettings, std::function<void()> quit, QObject* parent = nullptr);
    ~AppShortcuts() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void()> m_showSettings;
    std::function<void()> m_quit;
};

} // namespace corvessa
