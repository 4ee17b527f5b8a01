#include "toolbar/TipModifier.h"

#include "toolbar/TipWindow.h"

#include <QEvent>
#include <QWidget>

namespace corvessa {

TipModifier::TipModifier(QWidget* control, TipWindow& tips, const QString& name, std::optional<HotKeyAction> action)
    : QObject(control)
    , m_control(control)
    , m_tips(&tips)
    , m_name(name)
    , m_action(action)
{
    if (control)
        control->installEventFilter(this);
}

TipModifier* TipModifier::attach(QWidget* control, TipWindow& tips, const QString& name,
                                 std::optional<HotKeyAction> action)
{
    return new TipModifier(control, tips, name, action);
}

bool TipModifier::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_control || !m_tips)
        return false;
    switch (event->type()) {
    case QEvent::Enter: {
        // Asked when the tip is due and while it shows: a control gone by
        // then has no tip.
        QPointer<QWidget> control = m_control;
        m_tips->schedule(m_name, m_action, [control]() -> std::optional<QRect> {
            if (!control || !control->isVisible() || !control->window()->windowHandle())
                return std::nullopt;
            return QRect(control->mapToGlobal(QPoint(0, 0)), control->size());
        });
        break;
    }
    case QEvent::Leave:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        m_tips->hide();
        break;
    default:
        break;
    }
    return false;
}

} // namespace corvessa
