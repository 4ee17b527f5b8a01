#pragma once

#include "toolbar/BarView.h"
#include "toolbar/kit/FloatingKit.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class QTimer;
class QWindow;

namespace corvessa {

class BarDocking;
class FloatingMenu;
class FloatingSurfaces;
class OutsideClickMonitor;
class Prefs;
class RecorderModel;
class TipWindow;
class ToolbarPanel;

// The floating toolbar as the program hosts it: the bar in its panel, the one
// floating menu and hover tip, the panel's placement and docking, all kept
// out of recordings. Follows the model: hidden for the countdown, re-placed as
// the bar changes size, the open menu refreshed at most every 80 ms. Main
// thread.
class ToolbarHost : public QObject {
public:
    // What the host needs beyond the model. `bar` carries the services of the
    // bar's controls that belong to the shell (settings, reveal, confirmation,
    // tools); the host fills in the scheduler, tips, menu and registrar.
    struct Setup {
        // The floating windows' surfaces and Stealth::track, which keeps them out of recordings.
        FloatingKit kit;
        std::shared_ptr<OutsideClickMonitor> clicks;
        BarView::Services bar;
    };

    ToolbarHost(RecorderModel& model, Prefs& prefs, Setup setup);
    ~ToolbarHost() override;

    bool isVisible() const;
    // Shows or hides the panel; the caller tells the model.
    void setVisible(bool visible);
    // Brings the panel above the program's other floating windows.
    void raise();
    // The countdown hides a visible bar (true) and brings it back when the
    // start ends (false); a bar the user had hidden stays hidden. Returns
    // whether the visibility changed.
    bool countdown(bool starting);

    // Runs after each throttled model change, once the bar has followed it,
    // for the shell's other windows (camera bubble, dim overlay).
    std::function<void()> onModelSettled;

    ToolbarPanel& panel() { return *m_panel; }
    BarView& bar() { return *m_bar; }
    FloatingMenu& menu() { return *m_menu; }
    TipWindow& tips() { return *m_tips; }
    BarDocking& docking() { return *m_docking; }

private:
    // Follows the phase: invisible during the countdown, else placed and shown.
    void sync();
    void modelSettled();

    RecorderModel& m_model;
    FloatingKit m_kit;
    std::unique_ptr<TipWindow> m_tips;
    std::unique_ptr<FloatingMenu> m_menu;
    std::unique_ptr<ToolbarPanel> m_panel;
    QPointer<BarView> m_bar;
    std::unique_ptr<BarDocking> m_docking;
    QTimer* m_throttle;
    bool m_hiddenForCountdown = false;
};

} // namespace corvessa
