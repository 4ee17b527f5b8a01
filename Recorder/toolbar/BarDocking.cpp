#include "toolbar/BarDocking.h"

#include "platform/core/UserDefaults.h"

#include <algorithm>
#include <cmath>

namespace corvessa {

BarDocking::BarDocking(Panel& panel, UserDefaults& defaults, Scheduler& scheduler, Hooks hooks)
    : m_panel(panel)
    , m_defaults(defaults)
    , m_scheduler(scheduler)
    , m_hooks(std::move(hooks))
{
    if (!m_hooks.displays)
        m_hooks.displays = [] { return std::vector<DisplayInfo>(); };
    if (!m_hooks.leftButtonDown)
        m_hooks.leftButtonDown = [] { return false; };
}

BarPlacement::Placement BarDocking::placement() const
{
    return {m_anchor.value_or(GlobalPoint()), m_dock, m_dockDisplay};
}

QSizeF BarDocking::barSize() const
{
    const QSizeF fit = m_panel.fittingSize();
    return {std::max(fit.width() - 2 * BarPlacement::panelInset, 0.0),
            std::max(fit.height() - 2 * BarPlacement::panelInset, 0.0)};
}

void BarDocking::restore()
{
    const std::vector<DisplayInfo> displays = m_hooks.displays();
    BarPlacement::Placement saved = BarPlacement::restore(m_defaults, displays);
    if (!saved.dock) {
        // A saved point may lie on a display while the bar hanging from it
        // does not: take the anchor of the bar pulled inside, so the bar starts
        // on screen and later size changes start from there.
        saved.anchor = BarPlacement::anchorOf(BarPlacement::barRect(displays, saved, barSize()));
    }
    m_anchor = saved.anchor;
    m_dock = saved.dock;
    m_dockDisplay = saved.dockDisplay;
    placeBar(false);
}

void BarDocking::placeBar(bool animate)
{
    if (m_anchor) {
        const GlobalRect frame = BarPlacement::panelOf(BarPlacement::barRect(m_hooks.displays(), placement(), barSize()));
        if (!(frame == m_panel.frame())) {
            // Our own move must not read as a drag.
            m_placing = true;
            m_panel.setFrame(frame, animate);
            m_placing = false;
        }
    }
    if (m_hooks.afterPlace)
        m_hooks.afterPlace();
}

void BarDocking::panelMoved()
{
    if (m_placing)
        return;
    if (m_hooks.leftButtonDown()) {
        m_dragging = true;
        m_dock.reset();
        m_dockDisplay.reset();
        m_anchor = BarPlacement::anchorOf(barRect());
        if (m_hooks.dismissMenu)
            m_hooks.dismissMenu();
    } else if (!m_dragging) {
        // Not a drag (the window manager, a display change): the placement stays.
        return;
    }
    // Replacing the handle cancels the settle armed by the previous move.
    m_settle = m_scheduler.after(settleDelay, [this] { settleBar(); });
}

void BarDocking::endDrag()
{
    m_settle.reset();
    m_retry.reset();
    m_dragging = false;
}

void BarDocking::settleBar()
{
    if (!m_panel.isVisible()) {
        // Hidden mid-drag: the drag is over all the same, or the next move the
        // program makes would be taken for its end.
        endDrag();
        return;
    }
    if (m_hooks.leftButtonDown()) {
        // Held still past the settle: look again until the button is up. New
        // moves do not cancel this; they arm their own settle.
        m_retry = m_scheduler.after(retryDelay, [this] { settleBar(); });
        return;
    }
    endDrag();
    const BarPlacement::Settled settled = BarPlacement::settle(m_hooks.displays(), barRect());
    m_anchor = settled.placement.anchor;
    m_dock = settled.placement.dock;
    m_dockDisplay = settled.placement.dockDisplay;
    BarPlacement::store(m_defaults, settled.placement);
    placeBar(true);
}

double BarDocking::sync(bool countdown)
{
    if (countdown)
        return 0;
    placeBar(false);
    return 1;
}

void BarDocking::modelChanged()
{
    const QSizeF fit = m_panel.fittingSize();
    const GlobalRect frame = m_panel.frame();
    if (std::abs(fit.width() - frame.width()) > sizeTolerance || std::abs(fit.height() - frame.height()) > sizeTolerance)
        placeBar(false);
    // Handles of re-places long since run are dropped; a pending one is never cut short.
    const double now = m_scheduler.now();
    while (!m_replaces.empty() && m_replaces.front().first + 1.0 < now)
        m_replaces.pop_front();
    m_replaces.emplace_back(now + replaceDelay, m_scheduler.after(replaceDelay, [this] { placeBar(false); }));
}

} // namespace corvessa
