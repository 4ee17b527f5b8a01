#pragma once

#include "settings/SettingsPane.h"
#include "settings/SettingsServices.h"

#include <QMainWindow>

#include <vector>

class QActionGroup;
class QStackedWidget;
class QToolBar;

namespace corvessa {

class Prefs;
class SettingsView;

// The settings window itself: a tool bar of ten tabs over the page of the
// chosen pane, titled after it. Esc and the close button only hide it. It is
// built whole, in the interface language of the moment; a language change
// replaces it (SettingsWindow). Every pane has the same size, so the window
// keeps its size while the tabs change. Main thread.
class SettingsFrameWindow : public QMainWindow {
    Q_OBJECT
public:
    SettingsFrameWindow(Prefs& prefs, const SettingsServices& services, QWidget* parent = nullptr);

    void selectPane(SettingsPane pane);
    SettingsPane selectedPane() const;
    int selectedIndex() const;
    QToolBar* tabBar() const { return m_tabs; }
    SettingsView* view(SettingsPane pane) const { return m_views[SettingsPanes::index(pane)]; }
    // Sizes the window to fit `room` (the screen's free area less the window
    // manager's frame): the pages give up what is missing, and scroll.
    void fitInto(const QSize& room);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QToolBar* m_tabs = nullptr;
    QActionGroup* m_group = nullptr;
    QStackedWidget* m_pages = nullptr;
    std::vector<SettingsView*> m_views;
};

} // namespace corvessa
