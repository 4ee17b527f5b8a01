#include "tools/ZoomHUD.h"

#include "platform/FloatingSurfaces.h"
#include "platform/QtScreenLayout.h"
#include "toolbar/kit/FloatingWindow.h"
#include "tools/ZoomBadge.h"


#include <algorithm>
#include <utility>

namespace corvessa {

namespace {

// Fade steps: smooth at 60 Hz, and a late step only shortens the fade.
constexpr double kFadeStep = 1.0 / 60;

} // namespace

ZoomHUD::ZoomHUD(Scheduler& clock, FloatingKit kit, std::function<ScreenCoordinates()> layout)
    : m_clock(clock)
    , m_kit(std::move(kit))
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

GlobalRect ZoomHUD::frameFor(double textWidth, const std::optional<GlobalRect>& near, const GlobalRect& screen)
{
    const double w = std::max(textWidth + 2 * padding, minimumWidth);
    const GlobalRect anchor = near ? near->normalized() : screen;
    const double x = anchor.center().x - w / 2;
    const double y = std::min(screen.top() - 90, anchor.top() - 70);
    return {x, y, w, height};
}

void ZoomHUD::show(const QString& text, const std::optional<GlobalRect>& near)
{
    const ScreenCoordinates layout = m_layout();
    const auto screen = layout.globalScreenAt(near ? std::optional(near->center()) : std::nullopt);
    if (!screen)
        return;

    if (!m_badge) {
        m_badge = std::make_unique<ZoomBadge>();
        m_kit.prepare(m_badge.get(), {SurfaceLevel::popUpMenu, true, true});
        m_badge->setAttribute(Qt::WA_TransparentForMouseEvents);
        m_kit.track(m_badge.get());
    }

    m_badge->setText(text);
    const double textWidth = m_badge->textWidth(text);
    const QRect frame = layout.fromGlobal(frameFor(textWidth, near, *screen)).toAlignedRect();
    m_badge->setGeometry(frame);
    m_kit.showOnlyCard(m_badge.get(), QRectF(QPointF(0, 0), frame.size()), ZoomBadge::cornerRadius);

    // A new message stops a fade under way: it must be read, not faded.
    m_fade.reset();
    setOpacity(1);
    if (!m_badge->isVisible())
        m_kit.showOnTop(m_badge.get());
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
