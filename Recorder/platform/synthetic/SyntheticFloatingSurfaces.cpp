#include "platform/synthetic/SyntheticFloatingSurfaces.h"

namespace corvessa {

void SyntheticFloatingSurfaces::prepare(QWidget* window, const Options& options)
{
    if (!window)
        return;
    m_stack.prepare(window, options);
    // Click-through the only way Qt alone has.
    if (options.clickThrough)
        window->setWindowFlag(Qt::WindowTransparentForInput);
}

void SyntheticFloatingSurfaces::raise(QWidget* window)
{
    m_stack.raise(window);
}

void SyntheticFloatingSurfaces::setClickThrough(QWidget* window, bool clickThrough)
{
    if (SurfaceStack::Entry* e = m_stack.find(window))
        e->options.clickThrough = clickThrough;
}

void SyntheticFloatingSurfaces::setVisibleRegion(QWidget* window, const QRegion& visible)
{
    if (SurfaceStack::Entry* e = m_stack.find(window))
        e->visible = visible;
}

void SyntheticFloatingSurfaces::setPaintedRegion(QWidget* window, const QRect& area, const QRegion& painted)
{
    if (SurfaceStack::Entry* e = m_stack.find(window))
        e->painted = (e->painted - QRegion(area)) + (painted & area);
}

void SyntheticFloatingSurfaces::watchCompositing(QObject* context, std::function<void()> changed)
{
    m_stack.watchCompositing(context, std::move(changed));
}

void SyntheticFloatingSurfaces::setCompositing(bool compositing)
{
    if (compositing == m_compositing)
        return;
    m_compositing = compositing;
    m_stack.compositingChanged();
}

std::vector<QWidget*> SyntheticFloatingSurfaces::stackingOrder()
{
    std::vector<QWidget*> order;
    for (const SurfaceStack::Entry* e : m_stack.visibleOrder())
        order.push_back(e->window);
    return order;
}

} // namespace corvessa
