#pragma once

#include "model/MenuRow.h"
#include "model/RecorderPhase.h"

#include <QElapsedTimer>
#include <QObject>
#include <QRect>
#include <QSystemTrayIcon>
#include <QTimer>

#include <functional>
#include <memory>

class QMenu;
class QWindow;

namespace corvessa {

class FloatingMenu;
class Scheduler;

// The program's icon in the system tray. While no recording is busy it shows
// the idle glyph and a click opens the status menu, filled afresh each time it
// opens; from a countdown until the movie is written it shows the red glyph and
// a click opens the floating status menu instead (a second click closes it).
// Where no tray host runs it logs one line and the program carries on.
// Main thread.
class StatusItem : public QObject {
public:
    struct Setup {
        // The floating menu's clock (required).
        Scheduler* clock = nullptr;
        // The floating menu; null: FloatingMenu::shared() at click time.
        FloatingMenu* floatingMenu = nullptr;
        // The rows of the floating status menu, built at each click.
        std::function<MenuRows()> floatingRows;
        // Fills the emptied status menu just before it opens.
        std::function<void(QMenu&)> fillStatusMenu;
        // Keeps the status menu out of recordings.
        std::function<void(QWindow*)> registerWindow;
    };

    explicit StatusItem(Setup setup);
    ~StatusItem() override;
    StatusItem(const StatusItem&) = delete;
    StatusItem& operator=(const StatusItem&) = delete;

    // Puts the idle item in the tray; false (after one log line) when no tray
    // host runs now.
    bool show();
    // Brings glyph, tool tip and click mode in line with `phase`; changes only
    // what differs, so it is safe to call on every change.
    void configure(const RecorderPhase& phase);

    QSystemTrayIcon& trayIcon() { return *m_icon; }
    QMenu& statusMenu() { return *m_menu; }
    // A click on the icon, as the tray reports it (either button).
    void clicked();
    // Where the icon is (global, y down): its tray geometry, or a small square
    // at the pointer where the tray tells none.
    QRect anchor() const;

protected:
    // Sees the release of the press that asked for the menu.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void activated(QSystemTrayIcon::ActivationReason reason);
    void popUpMenu();
    void fillMenu();
    FloatingMenu* floating() const;

    Setup m_setup;
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_icon;
    QElapsedTimer m_menuClosed;
    // Opens the menu should the release of its press never be seen.
    QTimer m_releaseWait;
    bool m_busy = false;
};

} // namespace corvessa
