#include "tools/ZoomHUD.h"

#include "platform/FloatingSurfaces.h"
#include "platform/QtScreenLayout.h"
#include "toolbar/FloatingWindow.h"
#include "tools/ZoomBadge.h"

#include <QGuiApplication>
#include <QPainterPath>
#include <QScreen>

#include <algorithm>
#include <cmath>
#include <utility>

namespace corvessa {

namespace {

// Fade steps: smooth at 60 Hz, and a late step only shortens the fade.
constexpr double kFadeStep = 1.0 / 60;

} // namespace

ZoomHUD::ZoomHUD(Scheduler& clock, std::shared_ptr<FloatingSurfaces> surfaces,
                 std::function<void(QWindow*)> registerWindow, std::function<ScreenCoordinates()> layout)
    : m_clock(clock)
    , m_surfaces(std::move(surfaces))
    , m_registerWindow(std::move(registerWindow))
    , m_layout(layout ? std::move(layout) : &QtScreenLayout::current)
{
}

ZoomHUD::~ZoomHUD() = default;

bool ZoomHUD::isVisible() const
{
    return m_badge && m_badge->isVisible();
}

QString ZoomHUD::text() const
{
    return m_badge ? m_badge->text() : QString();
}

std::optional<QRectF> ZoomHUD::screenFor(const std::optional<QRectF>& near, const std::vector<QRectF>& screens,
                                         const std::optional<QRectF>& primary)
{
    if (near) {
        const QPointF centre = near->center();
        for (const QRectF& screen : screens) {
            if (screen.contains(centre))
                return screen;
        }
    }
    return primary;
}

QRectF ZoomHUD::frameFor(double textWidth, const std::optional<QRectF>& near, const QRectF& screen)
{
    const double w = std::max(textWidth + 2 * padding, minimumWidth);
    const QRectF anchor = near ? near->normalized() : screen;
    const double x = anchor.center().x() - w / 2;
    const double y = std::min(screen.bottom() - 90, anchor.bottom() - 70);
    return {x, y, w, height};
}

void ZoomHUD::show(const QString& text, const std::optional<QRectF>& near)
{
    const ScreenCoordinates layout = m_layout();
    std::vector<QRectF> screens;
    for (const ScreenCoordinates::Screen& s : layout.screens())
        screens.push_back(layout.toGlobal(s.points));
    const auto screen = screenFor(near, screens,
                                  layout.primary().isEmpty() ? std::nullopt
                                                             : std::optional(layout.toGlobal(layout.primary())));
    if (!screen)
        return;

    if (!m_badge) {
        m_badge = std::make_unique<ZoomBadge>();
        if (m_surfaces) {
            m_surfaces->prepare(m_badge.get(), {SurfaceLevel::status, true, true});
        } else {
            m_badge->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                                    | Qt::X11BypassWindowManagerHint | Qt::WindowDoesNotAcceptFocus
                                    | Qt::WindowTransparentForInput);
            m_badge->setAttribute(Qt::WA_ShowWithoutActivating);
        }
        m_badge->setAttribute(Qt::WA_TransparentForMouseEvents);
        FloatingWindow::track(m_badge.get(), m_registerWindow);
    }

    m_badge->setText(text);
    const double textWidth = m_badge->textWidth(text);
    const QRect frame = layout.fromGlobal(frameFor(textWidth, near, *screen)).toAlignedRect();
    m_badge->setGeometry(frame);
    if (m_surfaces) {
        QPainterPath card;
        card.addRoundedRect(QRectF(QPointF(0, 0), frame.size()), ZoomBadge::cornerRadius, ZoomBadge::cornerRadius);
        m_surfaces->setVisibleRegion(m_badge.get(), QRegion(card.toFillPolygon().toPolygon()));
    }

    // A new message stops a fade under way: it must be read, not faded.
    m_fade.reset();
    setOpacity(1);
    if (!m_badge->isVisible()) {
        m_badge->show();
        if (m_surfaces)
            m_surfaces->raise(m_badge.get());
        else
            m_badge->raise();
    }
    m_hold = m_clock.after(holdTime, [this] { startFade(); });
}

void ZoomHUD::startFade()
{
    m_hold.reset();
    m_fadeStart = m_clock.now();
    m_fade = m_clock.every(kFadeStep, 0, [this] {
        const double progress = (m_clock.now() - m_fadeStart) / fadeTime;
        if (progress < 1) {
            setOpacity(1 - progress);
            return;
        }
        setOpacity(0);
        if (m_badge)
            m_badge->hide();
        m_fade.reset();
    });
}

void ZoomHUD::setOpacity(double opacity)
{
    m_opacity = std::clamp(opacity, 0.0, 1.0);
    if (m_badge)
        m_badge->setWindowOpacity(m_opacity);
}

} // namespace corvessa
