#include "toolbar/PopupMenuArea.h"

#include "toolbar/MenuPresenter.h"

#include <QMouseEvent>

namespace corvessa {

PopupMenuArea::PopupMenuArea(MenuPresenter& menu, Scheduler& clock, Open open, const QString& accessibleName,
                             QWidget* parent)
    : QWidget(parent)
    , m_menu(menu)
    , m_clock(clock)
    , m_open(std::move(open))
{
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_TranslucentBackground);
    setAccessibleName(accessibleName);
}

QRect PopupMenuArea::globalRect() const
{
    return QRect(mapToGlobal(QPoint(0, 0)), size());
}

bool PopupMenuArea::openMenu()
{
    QWidget* top = window();
    if (!top->windowHandle())
        return false;
    const QRect anchor = globalRect();
    if (m_menu.dismissIfShowing(anchor))
        return true;
    if (m_menu.outsideClose().blocks(m_clock.now(), anchor))
        return true;
    if (m_open) {
        const QRect avoiding = top->frameGeometry().adjusted(avoidInset, avoidInset, -avoidInset, -avoidInset);
        auto open = m_open;
        open(anchor, avoiding);
    }
    return true;
}

void PopupMenuArea::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() == Qt::LeftButton)
        openMenu();
}

} // namespace corvessa
