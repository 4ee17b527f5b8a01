#include "toolbar/kit/FloatingWindow.h"

#include "platform/FloatingSurfaces.h"

#include <QPainterPath>
#include <QRegion>
#include <QWidget>
#include <QWindow>

namespace corvessa {

void FloatingWindow::prepare(QWidget* window, const std::shared_ptr<FloatingSurfaces>& surfaces,
                             const FloatingSurfaces::Options& options)
{
    if (surfaces) {
        surfaces->prepare(window, options);
        return;
    }
    Qt::WindowFlags flags = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus;
    if (options.overrideRedirect)
        flags |= Qt::X11BypassWindowManagerHint;
    if (options.clickThrough)
        flags |= Qt::WindowTransparentForInput;
    window->setWindowFlags(flags);
    window->setAttribute(Qt::WA_ShowWithoutActivating);
}

void FloatingWindow::track(QWidget* window, const std::function<void(QWindow*)>& registerWindow)
{
    window->winId();
    if (registerWindow && window->windowHandle())
        registerWindow(window->windowHandle());
}

void FloatingWindow::present(QWidget* window, const std::shared_ptr<FloatingSurfaces>& surfaces,
                             const std::function<void(QWindow*)>& registerWindow)
{
    track(window, registerWindow);
    window->show();
    if (surfaces)
        surfaces->raise(window);
    else
        window->raise();
}

void FloatingWindow::showOnlyCard(QWidget* window, const std::shared_ptr<FloatingSurfaces>& surfaces,
                                  const QRectF& card, double cornerRadius)
{
    if (!surfaces)
        return;
    QPainterPath path;
    path.addRoundedRect(card, cornerRadius, cornerRadius);
    surfaces->setVisibleRegion(window, QRegion(path.toFillPolygon().toPolygon()));
}

} // namespace corvessa
