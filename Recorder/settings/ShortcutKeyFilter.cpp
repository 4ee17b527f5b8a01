#include "settings/ShortcutKeyFilter.h"

#include "prefs/ShortcutCapture.h"

#include <QCoreApplication>
#include <QKeyEvent>

namespace corvessa {

ShortcutKeyFilter::ShortcutKeyFilter(ShortcutCapture& capture, QWidget* window, QObject* parent)
    : QObject(parent)
    , m_capture(capture)
    , m_window(window)
{
}

ShortcutKeyFilter::~ShortcutKeyFilter()
{
    setActive(false);
}

void ShortcutKeyFilter::setActive(bool active)
{
    if (active == m_active || !QCoreApplication::instance())
        return;
    m_active = active;
    if (active)
        QCoreApplication::instance()->installEventFilter(this);
    else
        QCoreApplication::instance()->removeEventFilter(this);
}

bool ShortcutKeyFilter::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if ((type != QEvent::ShortcutOverride && type != QEvent::KeyPress) || !m_capture.recording())
        return false;
    // The window itself gets the key first and hands it to its focus widget;
    // taking it at the widget takes it once.
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || !m_window || widget->window() != m_window->window())
        return false;
    if (type == QEvent::ShortcutOverride) {
        event->accept();
        return true;
    }
    return m_capture.handle(*static_cast<QKeyEvent*>(event));
}

} // namespace corvessa
