#include "toolbar/DragHandle.h"

#include <QMouseEvent>
#include <QWidget>

namespace corvessa {

DragHandle::DragHandle(QWidget* window, Grabbable grabbable, std::function<void()> began)
    : QObject(window)
    , m_window(window)
    , m_grabbable(std::move(grabbable))
    , m_began(std::move(began))
{
    window->installEventFilter(this);
}

bool DragHandle::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_window)
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (e->button() != Qt::LeftButton || (m_grabbable && !m_grabbable(e->position().toPoint())))
            return false;
        m_dragging = true;
        if (m_began)
            m_began();
        m_pressCursor = e->globalPosition();
        m_pressWindow = m_window->pos();
        return true;
    }
    case QEvent::MouseMove: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (!m_dragging)
            return false;
        if (!(e->buttons() & Qt::LeftButton)) {
            // The release went elsewhere (a grab by another window).
            m_dragging = false;
            return false;
        }
        const QPoint target = m_pressWindow + (e->globalPosition() - m_pressCursor).toPoint();
        if (target != m_window->pos())
            m_window->move(target);
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (!m_dragging || static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton)
            return false;
        m_dragging = false;
        return true;
    default:
        return false;
    }
}

} // namespace corvessa
