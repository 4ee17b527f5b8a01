#include "tools/RangeDimOverlay.h"

#include "platform/DisplayList.h"
#include "platform/FloatingSurfaces.h"
#include "platform/QtScreenChanges.h"
#include "platform/ScreenSource.h"
#include "platform/core/ScreenCoordinates.h"
#include "toolbar/kit/FloatingWindow.h"
#include "tools/DimView.h"
#include "tools/TargetPicker.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

#include <unistd.h>

#include <cmath>
#include <utility>

namespace corvessa {

namespace {

QRectF primaryQtFrame()
{
    QScreen* primary = QGuiApplication::primaryScreen();
    return primary ? QRectF(primary->geometry()) : QRectF();
}

std::vector<RangeDimOverlay::Screen> platformScreens()
{
    const ScreenCoordinates coords(primaryQtFrame());
    std::vector<RangeDimOverlay::Screen> screens;
    for (const DisplayInfo& d : DisplayList::current()->displays())
        screens.push_back({d.id, coords.fromGlobal(d.frame)});
    return screens;
}

std::optional<QRectF> platformWindowFrame(uint32_t window)
{
    // The window as the target picker offers it: with the window manager's
    // frame (title bar included), and only while it is listed and mapped, so a
    // minimised window leaves no empty hole behind.
    const auto content = ScreenSource::current()->content();
    if (!content)
        return std::nullopt;
    for (const WindowInfo& w : TargetPicker::pickable(content->windows, ::getpid())) {
        // Window-server space is Qt space shifted to the primary display's corner.
        if (w.id == window)
            return w.frame.translated(primaryQtFrame().topLeft());
    }
    return std::nullopt;
}

std::optional<QRectF> entry(const std::map<uint32_t, std::optional<QRectF>>& map, uint32_t id)
{
    const auto it = map.find(id);
    return it == map.end() ? std::nullopt : it->second;
}

} // namespace

RangeDimOverlay::RangeDimOverlay(Setup setup) : m_setup(std::move(setup)), m_timer(new QTimer(this))
{
    if (!m_setup.screens)
        m_setup.screens = &platformScreens;
    if (!m_setup.windowFrame)
        m_setup.windowFrame = &platformWindowFrame;
    m_timer->setInterval(followIntervalMs);
    // A coarse timer may fire up to 5 % late; well inside the tolerance.
    m_timer->setTimerType(Qt::CoarseTimer);
    connect(m_timer, &QTimer::timeout, this, &RangeDimOverlay::refresh);
    // A display that moves, changes its mode, comes or goes takes its part of
    // the veil, and an area its hole, along.
    QtScreenChanges::follow(this, [this] { refresh(); });
}

RangeDimOverlay::~RangeDimOverlay()
{
    for (auto& [id, view] : m_overlays)
        delete view;
}

bool RangeDimOverlay::following() const
{
    return m_timer->isActive();
}

DimView* RangeDimOverlay::view(uint32_t display) const
{
    const auto it = m_overlays.find(display);
    return it == m_overlays.end() ? nullptr : it->second;
}

void RangeDimOverlay::set(const Target& target)
{
    if (target.isNone()) {
        if (m_target.isNone())
            return;
        m_target = {};
        m_lastWindowOrigin.reset();
        hide();
        return;
    }
    if (target == m_target && !m_overlays.empty())
        return;
    m_target = target;
    m_lastWindowOrigin.reset();
    refresh();
    m_timer->stop();
    if (target.kind == Target::Kind::window)
        m_timer->start();
}

void RangeDimOverlay::hide()
{
    m_timer->stop();
    for (auto& [id, view] : m_overlays) {
        view->hide();
        delete view;
    }
    m_overlays.clear();
    m_lastHole.clear();
    m_lastVeiled.clear();
}

void RangeDimOverlay::orderOutAll()
{
    for (auto& [id, view] : m_overlays)
        view->hide();
}

QPointF RangeDimOverlay::followedOrigin(const std::optional<QPointF>& last, const QPointF& now)
{
    if (last && std::abs(last->x() - now.x()) < jitter && std::abs(last->y() - now.y()) < jitter)
        return *last;
    return now;
}

RangeDimOverlay::Holes RangeDimOverlay::holesFor(const Target& target, const std::vector<Screen>& screens,
                                                 const std::optional<QRectF>& window)
{
    Holes out;
    switch (target.kind) {
    case Target::Kind::none:
        return out;
    case Target::Kind::window:
        out.radius = windowRadius;
        for (const Screen& s : screens)
            out.holes[s.id] = window && window->intersects(s.frame) ? window : std::nullopt;
        return out;
    case Target::Kind::area:
        out.radius = areaRadius;
        for (const Screen& s : screens)
            out.holes[s.id] = s.id == target.id ? std::optional(target.rect.translated(s.frame.topLeft())) : std::nullopt;
        return out;
    case Target::Kind::display:
        out.radius = displayRadius;
        for (const Screen& s : screens)
            out.holes[s.id] = s.id == target.id ? std::optional(s.frame) : std::nullopt;
        return out;
    }
    return out;
}

void RangeDimOverlay::refresh()
{
    if (m_target.isNone())
        return;
    std::optional<QRectF> window;
    if (m_target.kind == Target::Kind::window) {
        const auto frame = m_setup.windowFrame(m_target.id);
        if (!frame) {
            // Closed, minimised or elsewhere: nothing to frame until it is back.
            orderOutAll();
            return;
        }
        const QPointF origin = followedOrigin(m_lastWindowOrigin, frame->topLeft());
        m_lastWindowOrigin = origin;
        window = QRectF(origin, m_target.size);
    }
    const std::vector<Screen> screens = m_setup.screens();
    const Holes holes = holesFor(m_target, screens, window);
    // Without a compositing manager a translucent veil shows black over the
    // desktop: only the frame around the hole is drawn then.
    const bool veiled = m_setup.kit.compositing();
    for (auto& [id, view] : m_overlays) {
        // A display that went away leaves no veil where it was.
        if (!holes.holes.count(id) && view->isVisible())
            view->hide();
    }
    for (const Screen& screen : screens) {
        const auto it = holes.holes.find(screen.id);
        if (it == holes.holes.end())
            continue;
        DimView* view = viewFor(screen);
        const QRect frame = screen.frame.toAlignedRect();
        if (view->geometry() != frame)
            view->setGeometry(frame);
        const std::optional<QRectF> hole = it->second ? std::optional(it->second->translated(-screen.frame.topLeft())) : std::nullopt;
        const bool changed = hole != entry(m_lastHole, screen.id) || m_lastVeiled[screen.id] != veiled;
        if (changed || !view->isVisible()) {
            view->setHole(hole, holes.radius);
            view->setVeiled(veiled);
            m_setup.kit.surfaces().setVisibleRegion(view, veiled ? QRegion() : DimView::frameRegion(frame.size(), hole));
            if (hole)
                m_lastHole[screen.id] = hole;
            else
                m_lastHole.erase(screen.id);
            m_lastVeiled[screen.id] = veiled;
            ++m_redraws;
        }
        if (!veiled && DimView::frameRegion(frame.size(), hole).isEmpty()) {
            // Nothing to draw, and an empty shape would be the whole window.
            view->hide();
            continue;
        }
        if (!view->isVisible())
            m_setup.kit.showOnTop(view);
    }
}

DimView* RangeDimOverlay::viewFor(const Screen& screen)
{
    if (DimView* existing = view(screen.id))
        return existing;
    auto* view = new DimView;
    view->setGeometry(screen.frame.toAlignedRect());
    FloatingSurfaces::Options options;
    options.level = SurfaceLevel::dim;
    // A full-screen window the window manager must not fit between its panels.
    options.overrideRedirect = true;
    options.clickThrough = true;
    m_setup.kit.prepare(view, options);
    m_setup.kit.track(view);
    m_overlays[screen.id] = view;
    return view;
}

} // namespace corvessa
