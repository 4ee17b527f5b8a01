#include "tools/MagnifierPanel.h"

#include "platform/FloatingSurfaces.h"
#include "prefs/Prefs.h"
#include "toolbar/FloatingWindow.h"
#include "tools/MagnifierPanelView.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainterPath>
#include <QScreen>

#include <algorithm>
#include <cmath>
#include <utility>

namespace corvessa {

MagnifierPanel::MagnifierPanel(Setup setup) : m_setup(std::move(setup))
{
    if (!m_setup.prefs)
        m_setup.prefs = &Prefs::shared();
}

MagnifierPanel::~MagnifierPanel()
{
    dismiss();
}

QRect MagnifierPanel::visibleFrameFor(const QRect& anchor)
{
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen->geometry().intersects(anchor))
            return screen->availableGeometry();
    }
    QScreen* primary = QGuiApplication::primaryScreen();
    return primary ? primary->availableGeometry() : QRect();
}

QPoint MagnifierPanel::placedOrigin(const QRect& visible, const QRect& anchor, const QSize& size)
{
    const int margin = MagnifierPanelView::margin;
    const int w = size.width();
    const int h = size.height();
    const int top = visible.y();
    const int bottom = visible.y() + visible.height();
    const int roomAbove = anchor.y() - top;
    const int roomBelow = bottom - (anchor.y() + anchor.height());
    const bool above = h + gap <= roomAbove || roomBelow <= roomAbove;
    // The card's visible edge keeps `gap` from the anchor; the margin is transparent.
    int y = above ? anchor.y() - gap - h + margin : anchor.y() + anchor.height() + gap - margin;
    int x = int(std::lround(anchor.x() + anchor.width() / 2.0 - w / 2.0));
    // Kept inside the usable area; the lower bound wins when the card is larger.
    const int lowX = visible.x() + gap - margin;
    const int highX = std::max(lowX, visible.x() + visible.width() - w - gap + margin);
    const int lowY = top + gap - margin;
    const int highY = std::max(lowY, bottom - h - gap + margin);
    x = std::clamp(x, lowX, highX);
    y = std::clamp(y, lowY, highY);
    return {x, y};
}

bool MagnifierPanel::reopenBlocked(const QRect& anchor) const
{
    return m_closed.blocks(m_setup.clock->now(), QRectF(anchor));
}

void MagnifierPanel::show(const QRect& anchor, std::function<void(int mode)> setFocusMode)
{
    if (reopenBlocked(anchor))
        return;
    dismiss();
    m_anchor = anchor;
    m_openedAt = m_setup.clock->now();

    auto* view = new MagnifierPanelView(*m_setup.prefs, std::move(setFocusMode));
    if (m_setup.surfaces)
        m_setup.surfaces->prepare(view, {SurfaceLevel::popUpMenu, true, false});
    m_view = view;
    place();
    // The region shortcut line comes and goes with the mode: the card is placed anew.
    connect(m_setup.prefs, &Prefs::changed, view, [this] { place(); });
    FloatingWindow::present(view, m_setup.surfaces, m_setup.registerWindow);

    qApp->installEventFilter(this);
    if (m_setup.clicks) {
        QPointer<MagnifierPanel> self(this);
        m_subscription = m_setup.clicks->observe([self](const QPointF& position, int button) {
            // Wheel steps are no presses.
            if (self && button >= 1 && button <= 3)
                self->pressed(position, true);
        });
    }
}

void MagnifierPanel::place()
{
    MagnifierPanelView* view = m_view;
    if (!view)
        return;
    view->adjustSize();
    const QSize size = view->size();
    view->setGeometry(QRect(placedOrigin(visibleFrameFor(m_anchor), m_anchor, size), size));
    if (m_setup.surfaces) {
        QPainterPath card;
        card.addRoundedRect(view->cardRect(), MagnifierPanelView::cornerRadius, MagnifierPanelView::cornerRadius);
        m_setup.surfaces->setVisibleRegion(view, QRegion(card.toFillPolygon().toPolygon()));
    }
}

void MagnifierPanel::dismiss()
{
    m_subscription.reset();
    if (qApp)
        qApp->removeEventFilter(this);
    if (MagnifierPanelView* view = m_view) {
        m_view = nullptr;
        view->hide();
        // Deferred: the press that closes the card may be inside one of its controls.
        view->deleteLater();
    }
}

void MagnifierPanel::pressed(const QPointF& position, bool fromMonitor)
{
    if (!m_view || m_view->frameGeometry().contains(position.toPoint()))
        return;
    // The monitor's late report of the press that opened the card.
    const double since = m_setup.clock->now() - m_openedAt;
    if (fromMonitor && since >= 0 && since < echoWindow && m_anchor.contains(position.toPoint()))
        return;
    m_closed.closedByOutsideClick(m_setup.clock->now(), QRectF(m_anchor));
    dismiss();
}

bool MagnifierPanel::eventFilter(QObject*, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress && m_view)
        pressed(static_cast<QMouseEvent*>(event)->globalPosition(), false);
    return false;
}

} // namespace corvessa
