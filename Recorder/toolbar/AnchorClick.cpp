#include "toolbar/AnchorClick.h"

#include <QMouseEvent>

namespace corvessa {

AnchorClick::AnchorClick(Click onClick, QWidget* parent)
    : QWidget(parent)
    , m_onClick(std::move(onClick))
{
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_TranslucentBackground);
}

QRect AnchorClick::globalRect() const
{
    return QRect(mapToGlobal(QPoint(0, 0)), size());
}

void AnchorClick::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() != Qt::LeftButton || !m_onClick || !window()->windowHandle())
        return;
    auto onClick = m_onClick;
    onClick(globalRect());
}

} // namespace corvessa
