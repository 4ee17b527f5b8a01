#include "model/LensHint.h"

#include "engine/compositor/FocusState.h"
#include "model/RecorderModel.h"
#include "platform/DisplayList.h"
#include "prefs/Prefs.h"

#include <algorithm>

namespace corvessa {

namespace {

// The lens moves once the mouse comes within this share of the lens of an
// edge, and then only half of the way per tick, so it glides.
constexpr double kLensMargin = 0.14;
constexpr double kLensGlide = 0.5;

} // namespace

using Phase = RecorderPhase;

LensHint::LensHint(RecorderModel& model) : m_model(model) {}

GlobalRect LensHint::lensRect(const GlobalRect& area, const GlobalPoint& centre, double frac)
{
    const double w = frac * area.width();
    const double h = frac * area.height();
    const double cx = std::min(std::max(centre.x, area.left() + w / 2), area.right() - w / 2);
    const double cy = std::min(std::max(centre.y, area.bottom() + h / 2), area.top() - h / 2);
    return GlobalRect(cx - w / 2, cy - h / 2, w, h);
}

void LensHint::update()
{
    const Phase& phase = m_model.phase();
    const bool applies = m_model.focusOn()
        && (phase.is(Phase::Kind::saved) || phase.is(Phase::Kind::failed) || phase.is(Phase::Kind::ready)
            || phase.is(Phase::Kind::paused));
    if (applies) {
        if (m_timer)
            return;
        if (phase.is(Phase::Kind::paused) && !m_center && m_lastLensRect)
            m_center = m_lastLensRect->center();
        m_timer = m_model.m_scheduler.every(RecorderModel::lensHintInterval, RecorderModel::lensHintTolerance,
                                            m_model.guarded([this] { tick(); }));
        return;
    }
    m_timer.reset();
    m_center.reset();
    if (!phase.is(Phase::Kind::recording))
        m_model.m_deps.tools->hideLensOutline();
}

void LensHint::previewSize()
{
    RecorderModel& m = m_model;
    if (m.phase().is(Phase::Kind::recording))
        return;
    if (m.focusOn() && m_timer)
        return;
    // The outline shows the zoom's share of the recorded area, centred.
    GlobalRect area;
    if (const auto region = m.finalRegionRect())
        area = *region;
    else if (const auto primary = m.m_deps.displays->primary())
        area = primary->frame;
    const GlobalRect lens = lensRect(area, area.center(), m.m_deps.prefs->focusFrac());
    m.m_deps.tools->showLensOutline(lens, m.phase().is(Phase::Kind::paused));
    m_previewEnd = m.m_scheduler.after(RecorderModel::lensPreviewSeconds, m.guarded([this] {
        if (!(m_model.focusOn() && m_timer))
            m_model.m_deps.tools->hideLensOutline();
    }));
}

void LensHint::tick()
{
    const RecorderModel& m = m_model;
    const Prefs& prefs = *m.m_deps.prefs;
    ToolsFacade& tools = *m.m_deps.tools;
    const auto r = m.finalRegionRect();
    const double frac = prefs.focusFrac();
    if (prefs.focusMode() == 1) {
        const auto anchor = m.focus()->anchor();
        if (prefs.focusLive() && r && anchor) {
            const GlobalPoint centre{r->left() + anchor->x() * r->width(), r->top() - anchor->y() * r->height()};
            tools.showLensOutline(lensRect(*r, centre, frac), true);
        } else {
            tools.hideLensOutline();
        }
        return;
    }
    const auto mouse = m.m_deps.mouseLocation ? m.m_deps.mouseLocation() : std::nullopt;
    if (!prefs.focusLive() || !r || !mouse || !r->contains(*mouse)) {
        tools.hideLensOutline();
        m_center.reset();
        return;
    }
    const double w = r->width() * frac;
    const double h = r->height() * frac;
    const GlobalPoint p = *mouse;
    const GlobalPoint c = m_center.value_or(p);
    // Moves only when the mouse nears an edge, just far enough to keep it at the margin.
    const auto target = [](double at, double from, double size) {
        const double margin = kLensMargin * size;
        if (at < from - size / 2 + margin)
            return at + size / 2 - margin;
        if (at > from + size / 2 - margin)
            return at - size / 2 + margin;
        return from;
    };
    GlobalPoint n = c + (GlobalPoint{target(p.x, c.x, w), target(p.y, c.y, h)} - c) * kLensGlide;
    n.x = std::min(std::max(n.x, r->left() + w / 2), r->right() - w / 2);
    n.y = std::min(std::max(n.y, r->bottom() + h / 2), r->top() - h / 2);
    m_center = n;
    tools.showLensOutline(GlobalRect(n.x - w / 2, n.y - h / 2, w, h), m.phase().is(Phase::Kind::paused));
}

std::function<void(std::optional<GlobalRect>)> LensHint::sink()
{
    return [self = std::weak_ptr<RecorderModel*>(m_model.m_self), gate = m_gate, hop = m_model.hopper(),
            lens = this](std::optional<GlobalRect> rect) {
        if (!self.lock())
            return;
        if (rect) {
            std::lock_guard lock(gate->lensLock);
            if (gate->lensInFlight)
                return;
            gate->lensInFlight = true;
        }
        // The hop runs only while the model lives.
        hop([lens, gate, rect] {
            lens->receive(rect);
            std::lock_guard lock(gate->lensLock);
            gate->lensInFlight = false;
        });
    };
}

void LensHint::receive(const std::optional<GlobalRect>& rect)
{
    m_lastLensRect = rect;
    if (rect && m_model.m_deps.prefs->focusLive())
        m_model.m_deps.tools->showLensOutline(*rect, false);
    else
        m_model.m_deps.tools->hideLensOutline();
}

} // namespace corvessa
