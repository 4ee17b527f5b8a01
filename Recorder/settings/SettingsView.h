#pragma once

#include "settings/SettingsPane.h"
#include "settings/SettingsServices.h"

#include <QWidget>

class QLabel;
class QScrollArea;

namespace corvessa {

class Prefs;

// One pane of the settings window: its rows in a scrolling column of the
// shared width and 480 points high. The recording, cursor and camera panes are
// locked while a recording runs: a banner says why and the rows are disabled
// and drawn faint. Main thread.
class SettingsView : public QWidget {
    Q_OBJECT
public:
    SettingsView(SettingsPane pane, Prefs& prefs, const SettingsServices& services, QWidget* parent = nullptr);

    SettingsPane pane() const { return m_pane; }
    // The pane's rows (the widget inside the scrolling column).
    QWidget* content() const { return m_content; }
    bool isLocked() const;
    // Keeps the page within `most` (what the screen leaves it); what is taller
    // or wider than the page then scrolls.
    void limitPage(const QSize& most);
    QSize pageSize() const;

private:
    QWidget* makeContent(const SettingsServices& services);
    void refreshLock();

    SettingsPane m_pane;
    Prefs& m_prefs;
    QScrollArea* m_scroll = nullptr;
    QWidget* m_banner = nullptr;
    QWidget* m_content = nullptr;
};

} // namespace corvessa
