#include "platform/DialogPlacement.h"

#include "platform/WindowHints.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include <cmath>
#include <mutex>

namespace corvessa {

namespace {

DialogPlacement::Registrar& registrar()
{
    static DialogPlacement::Registrar r;
    return r;
}

std::shared_ptr<WindowHints>& windowHints()
{
    static std::shared_ptr<WindowHints> hints;
    return hints;
}

} // namespace

void DialogPlacement::setRegistrar(Registrar r)
{
    registrar() = std::move(r);
}

void DialogPlacement::setWindowHints(std::shared_ptr<WindowHints> hints)
{
    windowHints() = std::move(hints);
}

int DialogPlacement::screenIndex(const QPoint& pointer, const QList<QRect>& screens, int focused, int primary)
{
    for (int i = 0; i < screens.size(); ++i) {
        if (screens[i].contains(pointer))
            return i;
    }
    if (focused >= 0 && focused < screens.size())
        return focused;
    if (primary >= 0 && primary < screens.size())
        return primary;
    return -1;
}

int DialogPlacement::windowScreenIndex(const QRect& frame, const QList<QRect>& screens, int assigned)
{
    for (int i = 0; i < screens.size(); ++i) {
        if (screens[i].contains(frame.center()))
            return i;
    }
    return assigned;
}

QScreen* DialogPlacement::currentScreen()
{
    if (!qGuiApp)
        return nullptr;
    const QList<QScreen*> screens = QGuiApplication::screens();
    QList<QRect> areas;
    for (QScreen* s : screens)
        areas << s->geometry();
    QWindow* focus = QGuiApplication::focusWindow();
    const int focused =
        focus ? windowScreenIndex(focus->frameGeometry(), areas, int(screens.indexOf(focus->screen()))) : -1;
    const int i = screenIndex(QCursor::pos(), areas, focused, int(screens.indexOf(QGuiApplication::primaryScreen())));
    return i >= 0 ? screens[i] : nullptr;
}

QPoint DialogPlacement::placedOrigin(const QRect& available, const QSize& size)
{
    const double midX = available.x() + available.width() / 2.0;
    const double midY = available.y() + available.height() / 2.0;
    // y grows downwards here, so raising means subtracting.
    return {int(std::lround(midX - size.width() / 2.0)),
            int(std::lround(midY - size.height() / 2.0 - available.height() * raise))};
}

void DialogPlacement::present(QWindow* window)
{
    if (!window)
        return;
    if (registrar())
        registrar()(window);
    // Above full-screen windows, and on whichever desktop the user is.
    window->setFlag(Qt::WindowStaysOnTopHint, true);
    if (const auto& hints = windowHints())
        hints->showOnAllDesktops(window);
    QScreen* screen = currentScreen();
    if (!screen)
        return; // the window manager centres it
    window->setScreen(screen);
    const QSize size = window->isVisible() ? window->frameGeometry().size() : window->size();
    window->setFramePosition(placedOrigin(screen->availableGeometry(), size));
}

void DialogPlacement::frame(QWindow* window)
{
    const auto& hints = windowHints();
    if (!hints || !window)
        return;
    hints->dialogFrame(window, window->minimumSize() != window->maximumSize());
}

} // namespace corvessa
