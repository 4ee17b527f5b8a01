#include "toolbar/kit/FloatingWindow.h"

#include <QWidget>
#include <QWindow>

namespace corvessa {

void FloatingWindow::track(QWidget* window, const std::function<void(QWindow*)>& registerWindow)
{
    window->winId();
    if (registerWindow && window->windowHandle())
        registerWindow(window->windowHandle());
}

} // namespace corvessa
