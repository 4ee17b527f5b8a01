#include "tools/TargetPicker.h"

#include "platform/DisplayInfo.h"
#include "platform/FloatingSurfaces.h"
#include "toolbar/kit/FloatingWindow.h"
#include "tools/TargetPickerView.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>
#include <utility>

namespace corvessa {

TargetPicker::TargetPicker(FloatingKit kit, std::function<std::vector<WindowInfo>()> windows)
    : m_kit(std::move(kit))
    , m_windows(std::move(windows))
{
}

TargetPicker::~TargetPicker()
{
    finish(std::nullopt);
}

std::vector<TargetPickerView*> TargetPicker::views() const
{
    std::vector<TargetPickerView*> open;
    for (const auto& view : m_views) {
        if (view)
            open.push_back(view);
    }
    return open;
}

void TargetPicker::pick(RangeMode mode, ToolsFacade::PickCompletion completion)
{
    finish(std::nullopt);
    m_mode = mode;
    m_completion = std::move(completion);
    m_hover.reset();
    m_dragStart.reset();
    m_dragRect.reset();
    m_candidates.clear();
    m_screens.clear();

    const QList<QScreen*> screens = QGuiApplication::screens();
    if (mode == RangeMode::window && m_windows) {
        // Window frames count from the primary screen's top left.
        QScreen* primary = QGuiApplication::primaryScreen();
        const QPointF origin = primary ? QPointF(primary->geometry().topLeft()) : QPointF();
        for (const WindowInfo& w : m_windows())
            m_candidates.push_back({w.id, w.frame.translated(origin), w.title});
    }

    // Without a compositing manager a translucent veil shows black: paint the
    // screens as they are now beneath it instead.
    const bool compositing = m_kit.compositing();
    std::vector<QPixmap> backdrops;
    for (QScreen* screen : screens) {
        // The RandR output name, as the display list names displays.
        m_screens.push_back({DisplayInfo::idForName(screen->name()), QRectF(screen->geometry())});
        backdrops.push_back(compositing ? QPixmap() : screen->grabWindow(0));
    }

    for (size_t i = 0; i < m_screens.size(); ++i) {
        auto* view = new TargetPickerView(*this, m_screens[i].frame, backdrops[i]);
        m_kit.prepare(view, {SurfaceLevel::overlay, true, false});
        view->setGeometry(m_screens[i].frame.toRect());
        m_kit.present(view);
        m_views.emplace_back(view);
    }
    // Past the window manager nothing gets focus: take the keyboard for Esc.
    if (!m_views.empty())
        m_views.back()->grabKeyboard();
}

void TargetPicker::finish(std::optional<Selection> selection)
{
    if (m_views.empty() && !m_completion)
        return;
    // Every veil lets go of the keyboard before it goes, whatever ended the pick.
    for (const auto& view : std::exchange(m_views, {})) {
        if (!view)
            continue;
        view->releaseKeyboard();
        view->hide();
        // It may be the one whose event ends the pick.
        view->deleteLater();
    }
    m_hover.reset();
    m_dragStart.reset();
    m_dragRect.reset();
    m_candidates.clear();
    if (auto completion = std::exchange(m_completion, {}))
        completion(std::move(selection));
}

void TargetPicker::redraw()
{
    for (const auto& view : m_views) {
        if (view)
            view->update();
    }
}

void TargetPicker::hoverAt(const QPointF& point)
{
    if (m_mode != RangeMode::window)
        return;
    // Front to back: the front-most window under the pointer wins.
    std::optional<Candidate> found;
    for (const Candidate& c : m_candidates) {
        if (c.frame.contains(point)) {
            found = c;
            break;
        }
    }
    if (found && m_hover && m_hover->id == found->id)
        return;
    if (!found && !m_hover)
        return;
    m_hover = found;
    redraw();
}

void TargetPicker::press(const QPointF& point)
{
    if (m_mode == RangeMode::area) {
        m_dragStart = point;
        m_dragRect.reset();
        return;
    }
    hoverAt(point);
    if (m_hover) {
        const Candidate picked = *m_hover;
        finish(Selection{Selection::Kind::window, picked.id, picked.title, picked.frame.size(), 0, {}});
    }
}

void TargetPicker::drag(const QPointF& point)
{
    if (m_mode != RangeMode::area || !m_dragStart)
        return;
    m_dragRect = QRectF(*m_dragStart, point).normalized();
    redraw();
}

void TargetPicker::endDrag()
{
    if (m_mode != RangeMode::area)
        return;
    m_dragStart.reset();
    if (m_dragRect) {
        if (auto selection = areaSelection(*m_dragRect, m_screens)) {
            finish(std::move(selection));
            return;
        }
    }
    // Too small or off every screen: the user drags again.
    m_dragRect.reset();
    redraw();
}

std::vector<WindowInfo> TargetPicker::pickable(const std::vector<WindowInfo>& windows, int64_t ownPid)
{
    std::vector<WindowInfo> result;
    for (const WindowInfo& w : windows) {
        // Minimised windows and those on another desktop are unmapped, so not
        // on screen; docks, panels, menus and kept-above windows have a layer.
        if (!w.onScreen || w.layer != 0 || w.id == 0)
            continue;
        if (ownPid != 0 && w.ownerPid == ownPid)
            continue;
        // Windows made (almost) invisible are not offered.
        if (w.alpha && !(*w.alpha > minimumAlpha))
            continue;
        if (w.frame.width() < minimumWindowWidth || w.frame.height() < minimumWindowHeight)
            continue;
        WindowInfo offered = w;
        if (w.appName.isEmpty())
            offered.title = w.title;
        else if (!w.title.isEmpty())
            offered.title = w.appName + QStringLiteral(" — ") + w.title;
        else
            offered.title = w.appName;
        result.push_back(std::move(offered));
    }
    return result;
}

std::optional<TargetPicker::Selection> TargetPicker::areaSelection(const QRectF& drag,
                                                                   const std::vector<Screen>& screens)
{
    const QRectF rect = drag.normalized();
    // QRectF::contains takes a NaN point for inside.
    if (!std::isfinite(rect.x()) || !std::isfinite(rect.y()) || !std::isfinite(rect.width())
        || !std::isfinite(rect.height()))
        return std::nullopt;
    if (rect.width() < minimumWidth || rect.height() < minimumHeight)
        return std::nullopt;
    // A drag across screens keeps the part on the screen holding its centre.
    const QPointF centre = rect.center();
    for (const Screen& screen : screens) {
        if (!screen.frame.contains(centre))
            continue;
        const QRectF part = rect.intersected(screen.frame);
        Selection selection;
        selection.kind = Selection::Kind::area;
        selection.display = screen.display;
        selection.rect = part.translated(-screen.frame.topLeft());
        return selection;
    }
    return std::nullopt;
}

} // namespace corvessa
