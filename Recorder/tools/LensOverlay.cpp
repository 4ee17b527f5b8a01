#include "tools/LensOverlay.h"

#include "platform/FloatingSurfaces.h"
#include "platform/QtScreenLayout.h"
#include "toolbar/kit/FloatingWindow.h"
#include "tools/LensOutlineView.h"

#include <cmath>
#include <utility>

namespace corvessa {

LensOverlay::LensOverlay(FloatingKit kit, std::function<ScreenCoordinates()> coords)
    : m_kit(std::move(kit))
    , m_coords(coords ? std::move(coords) : &QtScreenLayout::current)
{
}

LensOverlay::~LensOverlay() = default;

std::optional<QRect> LensOverlay::windowFrame(const std::optional<GlobalRect>& rect, const ScreenCoordinates& coords)
{
    if (!rect)
        return std::nullopt;
    const GlobalRect r = rect->normalized();
    if (!std::isfinite(r.x()) || !std::isfinite(r.y()) || !std::isfinite(r.width()) || !std::isfinite(r.height()))
        return std::nullopt;
    if (r.width() <= minimumWidth || r.height() <= 0)
        return std::nullopt;
    return coords.fromGlobal(r).toAlignedRect();
}

QRegion LensOverlay::rimRegion(const QSize& size)
{
    const QRect all(QPoint(0, 0), size);
    return QRegion(all).subtracted(QRegion(all.adjusted(rimBand, rimBand, -rimBand, -rimBand)));
}

bool LensOverlay::isVisible() const
{
    return m_view && m_view->isVisible();
}

void LensOverlay::hide()
{
    if (m_view)
        m_view->hide();
}

void LensOverlay::update(const std::optional<GlobalRect>& rect, bool armed)
{
    const auto frame = windowFrame(rect, m_coords());
    if (!frame) {
        hide();
        return;
    }
    if (!m_view) {
        m_view = std::make_unique<LensOutlineView>();
        m_kit.prepare(m_view.get(), {SurfaceLevel::popUpMenu, true, true});
        m_view->setAttribute(Qt::WA_TransparentForMouseEvents);
        m_view->setGeometry(*frame);
        m_kit.track(m_view.get());
    }
    m_view->setArmed(armed);
    const bool moved = m_view->geometry() != *frame;
    if (moved)
        m_view->setGeometry(*frame);
    if (moved || !m_view->isVisible())
        m_kit.surfaces().setVisibleRegion(m_view.get(), m_kit.compositing() ? QRegion() : rimRegion(frame->size()));
    if (!m_view->isVisible())
        m_kit.showOnTop(m_view.get());
}

} // namespace corvessa
