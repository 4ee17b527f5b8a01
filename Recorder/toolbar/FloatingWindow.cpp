#include "toolbar/FloatingWindow.h"

#include "platform/FloatingSurfaces.h"

#include <QWidget>
#include <QWindow>

namespace corvessa {

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

} // namespace corvessa
