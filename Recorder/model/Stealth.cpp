#include "model/Stealth.h"

#include <QGuiApplication>
#include <QVariant>

#include <algorithm>

namespace corvessa {

void Stealth::setActive(bool active)
{
    m_active = active;
    refresh();
}

void Stealth::track(QWindow* window)
{
    if (!window)
        return;
    m_tracked.removeIf([](const QPointer<QWindow>& w) { return w.isNull(); });
    if (!m_tracked.contains(window))
        m_tracked.append(window);
    apply(window);
}

void Stealth::refresh()
{
    m_tracked.removeIf([](const QPointer<QWindow>& w) { return w.isNull(); });
    for (const QPointer<QWindow>& window : m_tracked)
        apply(window);
}

void Stealth::apply(QWindow* window) const
{
    window->setProperty(sharingProperty, int(m_active ? Sharing::none : Sharing::readOnly));
}

Stealth::Sharing Stealth::sharing(const QWindow* window)
{
    const QVariant value = window ? window->property(sharingProperty) : QVariant();
    return value.isValid() && value.toInt() == int(Sharing::readOnly) ? Sharing::readOnly : Sharing::none;
}

std::vector<uint32_t> Stealth::excludedWindowIds() const
{
    std::vector<uint32_t> ids;
    if (!qGuiApp)
        return ids;
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
        // Only windows that exist on the server have an id worth naming.
        if (window->handle() && sharing(window) == Sharing::none)
            ids.push_back(uint32_t(window->winId()));
    }
    return ids;
}

} // namespace corvessa
