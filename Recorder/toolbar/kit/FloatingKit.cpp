#include "toolbar/kit/FloatingKit.h"

#include "toolbar/kit/FloatingWindow.h"

#include <QPainterPath>
#include <QRegion>
#include <QWidget>

namespace corvessa {

FloatingKit::FloatingKit()
    : FloatingKit(nullptr)
{
}

FloatingKit::FloatingKit(std::shared_ptr<FloatingSurfaces> surfaces, std::function<void(QWindow*)> registerWindow)
    : m_surfaces(surfaces ? std::move(surfaces) : FloatingSurfaces::twin())
    , m_registerWindow(std::move(registerWindow))
{
}

FloatingKit FloatingKit::platform(std::function<void(QWindow*)> registerWindow)
{
    return FloatingKit(FloatingSurfaces::current(), std::move(registerWindow));
}

void FloatingKit::prepare(QWidget* window, const FloatingSurfaces::Options& options) const
{
    m_surfaces->prepare(window, options);
}

void FloatingKit::track(QWidget* window) const
{
    FloatingWindow::track(window, m_registerWindow);
}

void FloatingKit::present(QWidget* window) const
{
    track(window);
    showOnTop(window);
}

void FloatingKit::showOnTop(QWidget* window) const
{
    window->show();
    m_surfaces->raise(window);
}

void FloatingKit::showOnlyCard(QWidget* window, const QRectF& card, double cornerRadius) const
{
    QPainterPath path;
    path.addRoundedRect(card, cornerRadius, cornerRadius);
    m_surfaces->setVisibleRegion(window, QRegion(path.toFillPolygon().toPolygon()));
}

} // namespace corvessa
