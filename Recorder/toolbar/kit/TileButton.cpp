#include "toolbar/kit/TileButton.h"

#include <QChildEvent>
#include <QMouseEvent>

namespace corvessa {

TileButton::TileButton(IconPainter icon, int width, std::function<void()> action, QWidget* parent)
    : IconTile(std::move(icon), width, parent)
    , m_action(std::move(action))
{
}

bool TileButton::click()
{
    if (!isEnabled() || !m_action)
        return false;
    // The action may rebuild the row that holds this button.
    auto action = m_action;
    action();
    return true;
}

void TileButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    m_pressed = true;
    update();
    event->accept();
}

void TileButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_pressed) {
        event->ignore();
        return;
    }
    m_pressed = false;
    update();
    event->accept();
    if (rect().contains(event->position().toPoint()))
        click();
}

void TileButton::childEvent(QChildEvent* event)
{
    if (event->added() && event->child()->isWidgetType())
        static_cast<QWidget*>(event->child())->setAttribute(Qt::WA_TransparentForMouseEvents);
    IconTile::childEvent(event);
}

} // namespace corvessa
