#include "tools/MagnifierPanel.h"

#include "platform/FloatingSurfaces.h"
#include "prefs/Prefs.h"
#include "toolbar/FloatingMenu.h"
#include "toolbar/kit/FloatingWindow.h"
#include "tools/MagnifierPanelView.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMouseEvent>
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

QPoint MagnifierPanel::placedOrigin(const QRect& visible, const QRect& anchor, const QSize& size)
{
    return PenPalettePanel::placedOrigin(visible, anchor, size, MagnifierPanelView::margin);
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
    m_setup.kit.prepare(view, {SurfaceLevel::popUpMenu, true, false});
    m_view = view;
    m_placedSize = QSize();
    place();
    // The region shortcut line comes and goes with the mode: the card is placed anew.
    connect(m_setup.prefs, &Prefs::changed, view, [this] { place(); });
    m_setup.kit.present(view);

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
    // Most preference changes leave the card as it is: only a new size moves it.
    if (size == m_placedSize)
        return;
    m_placedSize = size;
    view->setGeometry(QRect(placedOrigin(FloatingMenu::visibleFrameFor(m_anchor), m_anchor, size), size));
    m_setup.kit.showOnlyCard(view, view->cardRect(), MagnifierPanelView::cornerRadius);
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
