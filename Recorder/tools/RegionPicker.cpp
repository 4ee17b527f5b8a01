#include "tools/RegionPicker.h"

#include "platform/FloatingSurfaces.h"
#include "platform/QtScreenLayout.h"
#include "toolbar/kit/FloatingWindow.h"
#include "tools/RegionPickerView.h"
#include "tools/RegionRules.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>
#include <utility>

namespace corvessa {

RegionPicker::RegionPicker(FloatingKit kit, std::function<void(const QString&)> log)
    : m_kit(std::move(kit))
    , m_log(std::move(log))
{
}

RegionPicker::~RegionPicker()
{
    finish(std::nullopt);
}

void RegionPicker::pick(const GlobalRect& area, double defaultFraction, Completion completion)
{
    finish(std::nullopt);

    const GlobalRect region = area.normalized();
    const ScreenCoordinates coords = QtScreenLayout::current();
    const auto screen = coords.globalScreenAt(region.center());
    // An empty area has nothing to magnify; its fractions would be nonsense.
    const bool usable = std::isfinite(region.x()) && std::isfinite(region.y()) && std::isfinite(region.width())
                        && std::isfinite(region.height()) && region.width() > 0 && region.height() > 0;
    if (!screen || !usable) {
        if (completion)
            completion(std::nullopt);
        return;
    }

    m_completion = std::move(completion);
    m_region = region;
    m_defaultFraction = defaultFraction;
    m_start.reset();
    m_current = GlobalPoint();
    if (m_log) {
        m_log(QStringLiteral("[region] pick start region=%1 screen=%2")
                  .arg(RegionRules::describe(region), RegionRules::describe(*screen)));
    }

    const QRectF screenQt = coords.fromGlobal(*screen);
    // Without a compositing manager a translucent veil shows black: paint the
    // screen as it is now beneath it instead.
    QPixmap backdrop;
    if (!m_kit.compositing()) {
        for (QScreen* s : QGuiApplication::screens()) {
            if (QRectF(s->geometry()) == screenQt)
                backdrop = s->grabWindow(0);
        }
    }
    auto* view = new RegionPickerView(*this, coords, screenQt, backdrop);
    // Below the toolbar, so its magnifier button can still end the pick.
    m_kit.prepare(view, {SurfaceLevel::dim, true, false});
    view->setGeometry(screenQt.toAlignedRect());
    m_kit.present(view);
    m_view = view;
    // Past the window manager nothing gets focus: take the keyboard for Esc.
    view->grabKeyboard();
}

void RegionPicker::finish(std::optional<GlobalRect> rect)
{
    if (!m_view && !m_completion)
        return;
    if (m_log)
        m_log(QStringLiteral("[region] finish rect=%1").arg(RegionRules::describe(rect)));
    if (RegionPickerView* view = m_view) {
        m_view = nullptr;
        view->releaseKeyboard();
        view->hide();
        // It may be the one whose event ends the pick.
        view->deleteLater();
    }
    m_start.reset();
    if (auto completion = std::exchange(m_completion, {}))
        completion(rect);
}

void RegionPicker::redraw()
{
    if (m_view)
        m_view->update();
}

void RegionPicker::press(const GlobalPoint& point)
{
    if (!isOpen() || !RegionRules::accepts(m_region, point))
        return;
    m_start = point;
    m_current = point;
    redraw();
}

void RegionPicker::drag(const GlobalPoint& point)
{
    m_current = point;
    redraw();
}

void RegionPicker::release(const GlobalPoint& point)
{
    if (!m_start)
        return;
    m_current = point;
    const GlobalPoint start = *std::exchange(m_start, std::nullopt);
    if (const auto rect = RegionRules::release(m_region, start, point, m_defaultFraction)) {
        finish(rect);
        return;
    }
    // A drag too small to count: the user tries again.
    redraw();
}

} // namespace corvessa
