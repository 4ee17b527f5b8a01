#include "tools/PenOverlay.h"

#include "engine/compositor/PenBoard.h"
#include "platform/FloatingSurfaces.h"
#include "platform/QtScreenLayout.h"
#include "platform/core/ScreenCoordinates.h"
#include "tools/PenView.h"

#include <QGuiApplication>
#include <QScreen>

#include <utility>

namespace corvessa {

PenOverlay::PenOverlay(std::shared_ptr<FloatingSurfaces> surfaces, PenBoard* board, std::function<bool()> compositing)
    : m_kit(surfaces ? std::move(surfaces) : FloatingSurfaces::current())
    , m_board(board ? *board : PenBoard::shared())
    , m_compositing(std::move(compositing))
    , m_input(m_board)
{
    if (!m_compositing) {
        m_compositing = [kit = m_kit] { return kit.compositing(); };
    }
}

PenOverlay::~PenOverlay()
{
    hide();
}

void PenOverlay::show(const DisplayInfo& display)
{
    hide();
    const ScreenCoordinates coordinates = QtScreenLayout::current();
    const QRect placed = coordinates.fromGlobal(display.frame).toAlignedRect();

    // Without a compositing manager a clear window shows black: the canvas
    // then shows the screen as it is now, grabbed before it covers it.
    QPixmap backdrop;
    if (!m_compositing()) {
        for (QScreen* screen : QGuiApplication::screens()) {
            if (screen->geometry().contains(placed.center())) {
                backdrop = screen->grabWindow(0);
                break;
            }
        }
    }

    m_board.attach(display);
    auto* view = new PenView(m_board, m_input, display.frame, coordinates, std::move(backdrop));
    FloatingSurfaces::Options options;
    options.level = SurfaceLevel::dim;
    // Full screen: the window manager must not fit it between its panels.
    options.overrideRedirect = true;
    m_kit.prepare(view, options);
    view->setGeometry(placed);
    // Left unregistered, the canvas is never captured, recording or not.
    view->winId();
    m_kit.showOnTop(view);
    m_view = view;
    m_board.setActive(true);
}

void PenOverlay::hide()
{
    m_board.setActive(false);
    if (PenView* view = m_view) {
        m_view = nullptr;
        view->hide();
        // Its own event may be the one that closes it.
        view->deleteLater();
    }
    // A stroke cut short by the close ends here, so the next canvas starts afresh.
    m_input.release();
    m_board.detach();
}

} // namespace corvessa
