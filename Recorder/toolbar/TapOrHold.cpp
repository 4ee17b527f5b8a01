#include "toolbar/TapOrHold.h"

#include <QMouseEvent>

namespace corvessa {

TapOrHold::TapOrHold(Scheduler& scheduler, Tap onTap, Hold onHold, QWidget* parent)
    : QWidget(parent)
    , m_scheduler(scheduler)
    , m_onTap(std::move(onTap))
    , m_onHold(std::move(onHold))
{
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_TranslucentBackground);
}

void TapOrHold::setCallbacks(Tap onTap, Hold onHold)
{
    m_onTap = std::move(onTap);
    m_onHold = std::move(onHold);
}

QRect TapOrHold::globalRect() const
{
    return QRect(mapToGlobal(QPoint(0, 0)), size());
}

void TapOrHold::mousePressEvent(QMouseEvent* event)
{
    // Accepted, so the press never reaches a window-moving parent.
    event->accept();
    if (event->button() != Qt::LeftButton)
        return;
    m_fired = false;
    // The timer dies with this widget, so the hold never outlives it.
    m_timer = m_scheduler.after(holdDelay, [this] {
        m_fired = true;
        auto onHold = m_onHold;
        if (onHold && window()->windowHandle())
            onHold(globalRect());
    });
}

void TapOrHold::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
}

void TapOrHold::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() != Qt::LeftButton)
        return;
    m_timer.reset();
    if (m_fired)
        return;
    if (rect().contains(event->position().toPoint()) && m_onTap) {
        auto onTap = m_onTap;
        onTap();
    }
}

} // namespace corvessa
