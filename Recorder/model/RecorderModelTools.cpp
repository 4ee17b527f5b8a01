// The tools the user switches on around a recording: the magnifier (zoom),
// the pen and the teleprompter, and what Esc undoes of them.
#include "model/RecorderModel.h"

#include "engine/compositor/FocusState.h"
#include "model/EngineControl.h"
#include "platform/DisplayList.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"

#include <QLocale>

#include <algorithm>
#include <array>

namespace corvessa {

namespace {

// Zoom steps: one press multiplies or divides the zoom factor by 1.25.
constexpr double kZoomInStep = 1.25;
constexpr double kZoomOutStep = 0.8;

double clampFrac(double frac)
{
    return std::clamp(frac, RecorderModel::minFocusFrac, RecorderModel::maxFocusFrac);
}

} // namespace

bool RecorderModel::toolPhase() const
{
    return m_phase.is(Phase::Kind::ready) || m_phase.is(Phase::Kind::recording) || m_phase.is(Phase::Kind::paused);
}

// ---- Modes ----

void RecorderModel::updatePenForPhase()
{
    if (!m_penOn)
        return;
    if (m_phase.is(Phase::Kind::saved) || m_phase.is(Phase::Kind::failed) || m_phase.is(Phase::Kind::finishing)) {
        m_deps.tools->hidePenOverlay();
        setPenOn(false);
    }
}

void RecorderModel::endRecordingTools(const Phase& old)
{
    if (!old.isLive() || m_phase.isLive())
        return;
    exitCameraFullScreen();
    if (m_focusOn) {
        setFocusOn(false);
        m_focus->set(false);
        updateLensHint();
    }
    if (m_penOn) {
        m_deps.tools->hidePenOverlay();
        setPenOn(false);
    }
}

void RecorderModel::noteMode(ToolMode mode, bool on)
{
    const auto it = std::find(m_modeOrder.begin(), m_modeOrder.end(), mode);
    const bool listed = it != m_modeOrder.end();
    if (on && !listed)
        m_modeOrder.push_back(mode);
    else if (!on && listed)
        m_modeOrder.erase(it);
    refreshEscape();
    // Switching off what is off (Esc, menus, a window's own close) changes nothing to show.
    if (on != listed)
        emit changed(Field::modeOrder);
}

void RecorderModel::refreshEscape()
{
    if (m_deps.setEscape)
        m_deps.setEscape(!m_modeOrder.empty() || m_deps.tools->isRegionPickOpen());
}

void RecorderModel::setFocusOn(bool on)
{
    publish(m_focusOn, on, Field::focusOn);
    noteMode(ToolMode::focus, on);
}

void RecorderModel::setPenOn(bool on)
{
    publish(m_penOn, on, Field::penOn);
    noteMode(ToolMode::pen, on);
}

// ---- Esc ----

void RecorderModel::escapePressed()
{
    if (m_deps.tools->isRegionPickOpen()) {
        m_deps.tools->cancelRegionPick();
        return;
    }
    if (m_modeOrder.empty())
        return;
    // Each press undoes the newest mode; it leaves modeOrder through its own switch.
    switch (m_modeOrder.back()) {
    case ToolMode::focus:
        setFocusOn(false);
        applyFocusState();
        break;
    case ToolMode::pen:
        m_deps.tools->hidePenOverlay();
        setPenOn(false);
        break;
    case ToolMode::prompter:
        m_deps.tools->hideTeleprompter();
        setPrompterShown(false);
        break;
    case ToolMode::cameraFullScreen:
        exitCameraFullScreen();
        break;
    }
}

// ---- Recorded area ----

std::optional<GlobalRect> RecorderModel::finalRegionRect() const
{
    // One reading of the displays serves the whole answer: this runs on every
    // tick of the lens hint.
    const std::vector<DisplayInfo> displays = m_deps.displays->displays();
    const DisplayInfo* primary = DisplayList::primaryOf(displays);
    switch (m_rangeMode) {
    case RangeMode::window: {
        if (!m_windowPick)
            return std::nullopt;
        const auto window = listedWindow(m_windowPick->id);
        if (!window)
            return std::nullopt;
        // Window frames count y down from the primary display's top; the
        // recorded size hangs from the window's top-left corner.
        const double top = (primary ? primary->frame.height() : 0) - window->frame.top();
        const QSizeF size = m_windowPick->size;
        return GlobalRect(window->frame.left(), top - size.height(), size.width(), size.height());
    }
    case RangeMode::area: {
        if (!m_areaPick)
            return std::nullopt;
        const DisplayInfo* display = DisplayList::find(displays, m_areaPick->display);
        if (!display)
            return std::nullopt;
        // The picked rectangle counts y down from the display's top.
        const GlobalRect& s = display->frame;
        const QRectF& a = m_areaPick->rect;
        return GlobalRect(s.left() + a.left(), s.top() - a.bottom(), a.width(), a.height());
    }
    case RangeMode::display:
        break;
    }
    // The chosen display while it is there, else the primary one.
    if (const DisplayInfo* display = DisplayList::find(displays, m_displayID))
        return display->frame;
    if (primary)
        return primary->frame;
    return std::nullopt;
}

// ---- Magnifier ----

void RecorderModel::showZoomFactor(const std::optional<GlobalRect>& near)
{
    // Digits in the C locale whatever the interface language.
    const QString text = QLocale::c().toString(1 / m_deps.prefs->focusFrac(), 'f', 1) + QChar(0x00D7);
    m_deps.tools->showZoomHUD(text, near);
}

void RecorderModel::setFocusMode(int mode)
{
    // Stored values above 0 read back as 1; keep what we store readable as-is.
    mode = mode > 0 ? 1 : 0;
    Prefs& prefs = *m_deps.prefs;
    if (prefs.focusMode() == mode)
        return;
    if (m_focusOn) {
        setFocusOn(false);
        applyFocusState();
    }
    prefs.setFocusMode(mode);
    m_deps.tools->showZoomHUD(Loc::text(mode == 1 ? QStringLiteral("Select Region") : QStringLiteral("Follow Cursor")),
                              finalRegionRect());
}

void RecorderModel::toggleFocus()
{
    // In region mode the magnifier only comes on through a pick.
    if (m_deps.prefs->focusMode() == 1 && !m_focusOn) {
        beginRegionPick();
        return;
    }
    setFocusOn(!m_focusOn);
    applyFocusState();
}

void RecorderModel::tapMagnifier()
{
    if (m_deps.prefs->focusMode() != 1) {
        toggleFocus();
    } else if (m_deps.tools->isRegionPickOpen()) {
        m_deps.tools->cancelRegionPick();
    } else if (!m_focusOn) {
        beginRegionPick();
    } else {
        setFocusOn(false);
        applyFocusState();
    }
}

void RecorderModel::beginRegionPick()
{
    if (!toolPhase() || m_deps.tools->isRegionPickOpen())
        return;
    const auto region = finalRegionRect();
    if (!region)
        return;
    m_deps.tools->dismissFloatingMenu();
    m_deps.tools->dismissMagnifierPanel();
    // The clicks of the pick are not the user's clicks in the recording.
    if (m_phase.isLive())
        m_deps.engine->setMouseForceDown(false);
    refreshEscape();
    m_deps.tools->pickRegion(*region, m_deps.prefs->focusFrac(),
                             [self = std::weak_ptr<RecorderModel*>(m_self), r = *region](std::optional<GlobalRect> picked) {
                                 if (const auto alive = self.lock())
                                     (**alive).regionPicked(r, picked);
                             });
}

void RecorderModel::regionPicked(const GlobalRect& r, const std::optional<GlobalRect>& p)
{
    m_deps.engine->setMouseForceDown(std::nullopt);
    refreshEscape();
    // A cancelled pick, or an area that has no size, changes nothing.
    if (!p || !(r.width() > 0) || !(r.height() > 0))
        return;
    m_focus->setAnchor(QPointF((p->center().x - r.left()) / r.width(), (r.top() - p->center().y) / r.height()),
                       m_scheduler.now());
    m_deps.prefs->setFocusFrac(clampFrac(p->width() / r.width()));
    setFocusOn(true);
    applyFocusState();
    showZoomFactor(r);
}

void RecorderModel::zoomFocus(int direction)
{
    Prefs& prefs = *m_deps.prefs;
    // Zooming in with the magnifier off turns it on, in follow-cursor mode only.
    if (!m_focusOn && prefs.focusMode() == 0 && direction > 0 && toolPhase()) {
        setFocusOn(true);
        applyFocusState();
    }
    const double factor = (direction > 0 ? kZoomInStep : kZoomOutStep) / prefs.focusFrac();
    prefs.setFocusFrac(clampFrac(1 / factor));
    showZoomFactor(finalRegionRect());
}

void RecorderModel::primeFocus()
{
    const Prefs& prefs = *m_deps.prefs;
    m_focus->setFrac(clampFrac(prefs.focusFrac()));
    m_focus->setTouch(m_scheduler.now());
    m_focus->setSpeed(std::clamp(prefs.focusSpeed(), 0, 2));
    m_focus->setMode(prefs.focusMode() == 1 ? 1 : 0);
}

void RecorderModel::applyFocusState()
{
    // While paused the resume adds the edge (prepareFocusForResume).
    if (!m_phase.is(Phase::Kind::paused))
        m_focus->set(m_focusOn);
    updateLensHint();
}

void RecorderModel::prepareFocusForResume()
{
    std::optional<QPointF> seed;
    const auto r = finalRegionRect();
    // The follow-cursor lens starts where the hint showed it during the pause.
    if (m_focusOn && m_deps.prefs->focusMode() == 0 && hintCenter() && r && r->width() > 0 && r->height() > 0)
        seed = QPointF((hintCenter()->x - r->left()) / r->width(), (r->top() - hintCenter()->y) / r->height());
    m_focus->setSeed(seed);
    m_focus->set(m_focusOn);
}

// ---- Pen ----

void RecorderModel::setPen(bool on)
{
    if (!on) {
        m_deps.tools->hidePenOverlay();
        setPenOn(false);
        return;
    }
    if (!toolPhase() || m_penOn)
        return;
    // The display under the recorded area's centre, else the primary one.
    const auto area = finalRegionRect();
    auto screen = area ? displayAt(area->center()) : std::nullopt;
    if (!screen)
        screen = m_deps.displays->primary();
    if (!screen)
        return;
    m_deps.tools->showPenOverlay(*screen);
    setPenOn(true);
}

MenuRows RecorderModel::penMenu() const
{
    // In the order of the pen tools' numbers: pencil, line, arrow, rect, ellipse, eraser.
    static const std::array<const char*, 6> titles{"Pencil", "Line", "Arrow", "Rectangle", "Ellipse", "Eraser"};
    Prefs* prefs = m_deps.prefs;
    MenuRows rows;
    rows.push_back(MenuRow::note(Loc::text(QStringLiteral("Pen Tool"))));
    for (int tool = 0; tool < int(titles.size()); ++tool) {
        rows.push_back(MenuRow::item(Loc::text(QString::fromLatin1(titles[size_t(tool)])), prefs->penTool() == tool,
                                     true, false, [prefs, tool] { prefs->setPenTool(tool); }));
    }
    return rows;
}

void RecorderModel::showPenMenu(const GlobalRect& anchor)
{
    m_deps.tools->showMenu(penMenu(), anchor);
}

// ---- Teleprompter ----

bool RecorderModel::prompterShown() const
{
    return std::find(m_modeOrder.begin(), m_modeOrder.end(), ToolMode::prompter) != m_modeOrder.end();
}

void RecorderModel::setPrompterShown(bool shown)
{
    noteMode(ToolMode::prompter, shown);
}

void RecorderModel::togglePrompter()
{
    if (m_deps.tools->isTeleprompterShown())
        m_deps.tools->hideTeleprompter();
    else
        m_deps.tools->showTeleprompter();
    // The window reports its state too; this keeps the mode right without it.
    setPrompterShown(m_deps.tools->isTeleprompterShown());
}

} // namespace corvessa
