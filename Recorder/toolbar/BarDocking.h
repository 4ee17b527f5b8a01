#pragma once

#include "platform/DisplayInfo.h"
#include "platform/core/Scheduler.h"
#include "toolbar/BarPlacement.h"
#include "toolbar/ToolbarMagnet.h"

#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace corvessa {

class UserDefaults;

// Keeps the toolbar's panel where the user put it. A drag of the panel (a move
// with the left button down) frees the bar at once; 0.25 s after the last move,
// once the button is up, the bar snaps into a cell of its screen or floats
// where it was dropped, kept on screen, and the placement is saved for the next
// launch. Size changes of the bar and display changes re-place it from the
// saved anchor and cell. Main thread.
class BarDocking {
public:
    // How long after the last move of a drag the bar settles.
    static constexpr double settleDelay = 0.25;
    // While the button stays down past that, how often the settle looks again.
    static constexpr double retryDelay = 0.2;
    // After each model change the bar is placed once more this much later, when
    // the bar's content has finished resizing.
    static constexpr double replaceDelay = 0.15;
    // Size drift (points) between the panel and its content that re-places the bar.
    static constexpr double sizeTolerance = 1;

    // The window that hosts the bar. Its frame includes the transparent margin
    // of BarPlacement::panelInset on every side.
    class Panel {
    public:
        virtual ~Panel() = default;
        virtual GlobalRect frame() const = 0;
        // Reports the resulting moves through BarDocking::panelMoved.
        virtual void setFrame(const GlobalRect& frame, bool animate) = 0;
        virtual bool isVisible() const = 0;
        // The content's preferred size with the margin on every side.
        virtual QSizeF fittingSize() const = 0;
    };

    struct Hooks {
        // Every display in list order; read afresh at each decision.
        std::function<std::vector<DisplayInfo>()> displays;
        // Whether the left mouse button is down now (asked of the X server, not
        // of Qt's cached state, which misses presses outside our windows).
        std::function<bool()> leftButtonDown;
        // Closes the open floating menu when a drag begins.
        std::function<void()> dismissMenu;
        // After every placeBar, whether or not the panel moved.
        std::function<void()> afterPlace;
    };

    BarDocking(Panel& panel, UserDefaults& defaults, Scheduler& scheduler, Hooks hooks);
    BarDocking(const BarDocking&) = delete;
    BarDocking& operator=(const BarDocking&) = delete;

    // Takes the saved placement (or the default one) and places the panel.
    void restore();
    // Puts the panel where the anchor and the cell say; saves nothing.
    void placeBar(bool animate);
    // The panel's move handler: every move of the panel, ours included.
    void panelMoved();
    // Ends a drag: snaps or floats, saves and places animated.
    void settleBar();
    // Follows the phase: returns the panel's opacity, 0 during the countdown
    // (the bar is not placed then), else 1 after placing it.
    double sync(bool countdown);
    // The throttled reaction to a model change: re-places the bar when its
    // content's size drifted from the panel, and once more replaceDelay later.
    void modelChanged();

    // The bar's rectangle: the panel frame less its margin.
    GlobalRect barRect() const { return BarPlacement::barOf(m_panel.frame()); }
    const std::optional<GlobalPoint>& barAnchor() const { return m_anchor; }
    const std::optional<ToolbarMagnet::Dock>& barDock() const { return m_dock; }
    const std::optional<uint32_t>& barDockDisplay() const { return m_dockDisplay; }
    bool barDragging() const { return m_dragging; }
    bool settlePending() const { return bool(m_settle); }
    bool placingBar() const { return m_placing; }

private:
    BarPlacement::Placement placement() const;
    // The bar's size: the content's fitting size less the panel's margin.
    QSizeF barSize() const;
    void endDrag();

    Panel& m_panel;
    UserDefaults& m_defaults;
    Scheduler& m_scheduler;
    Hooks m_hooks;

    std::optional<GlobalPoint> m_anchor;
    std::optional<ToolbarMagnet::Dock> m_dock;
    std::optional<uint32_t> m_dockDisplay;
    bool m_dragging = false;
    Scheduler::TimerRef m_settle;
    Scheduler::TimerRef m_retry;
    bool m_placing = false;
    // The delayed re-places, with the time each falls due.
    std::deque<std::pair<double, Scheduler::TimerRef>> m_replaces;
};

} // namespace corvessa
