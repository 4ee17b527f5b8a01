#include "app/AppShortcuts.h"

#include <QCoreApplication>
#include <QKeyEvent>

#include <utility>

namespace corvessa {

AppShortcuts::AppShortcuts(std::function<void()> showSettings, std::function<void()> quit, QObject* parent)
    : QObject(parent)
    , m_showSettings(std::move(showSettings))
    , m_quit(std::move(quit))
{
    QCoreApplication::instance()->installEventFilter(this);
}

AppShortcuts::~AppShortcuts()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
}

bool AppShortcuts::eventFilter(QObject* watched, QEvent* event)
{
    // A key press reaches the window and then its widget: only the widget's
    // delivery counts, so the command runs once.
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    if (mods != Qt::ControlModifier || key->isAutoRepeat())
        return false;
    if (key->key() == Qt::Key_Comma && m_showSettings) {
        m_showSettings();
        return true;
    }
    if (key->key() == Qt::Key_Q && m_quit) {
        m_quit();
        return true;
    }
    return false;
}

} // namespace corvessa
