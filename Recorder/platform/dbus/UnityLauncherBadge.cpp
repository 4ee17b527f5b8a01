#include "platform/dbus/UnityLauncherBadge.h"

#include "platform/core/RecorderLog.h"

#include <QDBusMessage>

namespace corvessa {

UnityLauncherBadge::UnityLauncherBadge(QDBusConnection bus)
    : m_bus(std::move(bus))
{
}

void UnityLauncherBadge::setLabel(const QString& label)
{
    m_label = label;
    send();
}

void UnityLauncherBadge::clear()
{
    m_label.reset();
    send();
}

QVariantMap UnityLauncherBadge::properties(const std::optional<QString>& label)
{
    QVariantMap p;
    p.insert(QStringLiteral("count"), qint64(label ? 1 : 0));
    p.insert(QStringLiteral("count-visible"), label.has_value());
    p.insert(QStringLiteral("label"), label.value_or(QString()));
    return p;
}

void UnityLauncherBadge::send()
{
    QDBusMessage signal = QDBusMessage::createSignal(path, interface, QStringLiteral("Update"));
    signal << appUri << properties(m_label);
    if (!m_bus.isConnected() || !m_bus.send(signal))
        RecorderLog::write(QStringLiteral("[badge] the launcher badge could not be sent: no session bus"));
}

} // namespace corvessa
