#include "platform/dbus/ScreenSaverPowerControl.h"

#include <QDBusMessage>

namespace corvessa {

namespace {

// A desktop that answers at all answers at once; a hung one must not stall the engine.
constexpr int kCallTimeoutMs = 2000;

} // namespace

ScreenSaverPowerControl::ScreenSaverPowerControl(Log log, std::optional<QDBusConnection> bus, QString applicationName)
    : m_log(std::move(log))
    , m_bus(std::move(bus))
    , m_applicationName(std::move(applicationName))
{
}

QDBusConnection ScreenSaverPowerControl::connection() const
{
    return m_bus ? *m_bus : QDBusConnection::sessionBus();
}

uint32_t ScreenSaverPowerControl::holdDisplayAwake(const QString& reason)
{
    const QDBusConnection bus = connection();
    if (!bus.isConnected()) {
        if (m_log)
            m_log(QStringLiteral("[power] no session bus, the display may sleep while recording"));
        return 0;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Inhibit"));
    call << m_applicationName << reason;
    const QDBusMessage reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        if (m_log)
            m_log(QStringLiteral("[power] screen saver inhibit failed (%1), the display may sleep while recording")
                      .arg(reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage()));
        return 0;
    }
    const uint32_t cookie = reply.arguments().constFirst().toUInt();
    std::lock_guard lock(m_mutex);
    const uint32_t id = m_next++;
    if (m_next == 0)
        m_next = 1;
    m_cookies[id] = cookie;
    return id;
}

void ScreenSaverPowerControl::release(uint32_t id)
{
    uint32_t cookie = 0;
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_cookies.find(id);
        if (it == m_cookies.end())
            return;
        cookie = it->second;
        m_cookies.erase(it);
    }
    const QDBusConnection bus = connection();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("UnInhibit"));
    call << cookie;
    bus.call(call, QDBus::Block, kCallTimeoutMs); // a failure leaves nothing to do
}

} // namespace corvessa
