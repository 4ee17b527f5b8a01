#include "tools/PenOverlay.h"

#include "engine/compositor/PenBoard.h"
#include "platform/FloatingSurfaces.h"
#include "platform/QtScreenLayout.h"
#include "platform/core/ScreenCoordinates.h"
#include "tools/PenView.h"

#include <utility>

namespace corvessa {

PenOverlay::PenOverlay(std::shared_ptr<FloatingSurfaces> surfaces, PenBoard* board)
    : m_kit(surfaces ? std::move(surfaces) : FloatingSurfaces::current())
    , m_board(board ? *board : PenBoard::shared())
    , m_input(m_board)
{
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

    m_board.attach(display);
    auto* view = new PenView(m_board, m_input, display.frame, coordinates);
    FloatingSurfaces::Options options;
    options.level = SurfaceLevel::dim;
    // Full screen: the window manager must not fit it between its panels.
    options.overrideRedirect = true;
    options.canvas = true;
    m_kit.prepare(view, options);
    view->setGeometry(placed);
    followCompositing(view);
    // Left unregistered, the canvas is never captured, recording or not.
    view->winId();
    m_kit.showOnTop(view);
    m_view = view;
    m_board.setActive(true);
}

void PenOverlay::followCompositing(PenView* view)
{
    const auto shape = [view, kit = m_kit] {
        if (kit.compositing()) {
            view->setPaintedSink({});
        } else {
            view->setPaintedSink([view, kit](const QRect& area, const QRegion& painted) {
                kit.surfaces().setPaintedRegion(view, area, painted);
            });
        }
    };
    shape();
    // The surfaces have shaped the canvas for the change and asked it to
    // repaint whole by then; it paints for the change too.
    m_kit.surfaces().watchCompositing(view, shape);
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
