#include "platform/dbus/SessionBusSingleInstance.h"

#include "platform/core/RecorderLog.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace corvessa {

namespace {

// The holder answers from its event loop; a hung one must not keep a new launch waiting long.
constexpr int kCallTimeoutMs = 5000;

} // namespace

QString SessionBusSingleInstance::serviceFor(const QString& scope)
{
    const QString base = QStringLiteral("io.corvessa.Corvessa");
    return scope.isEmpty() ? base : base + QLatin1Char('.') + scope;
}

SessionBusSingleInstance::SessionBusSingleInstance(QDBusConnection bus, const QString& scope)
    : m_bus(std::move(bus))
    , m_service(serviceFor(scope))
{
}

SessionBusSingleInstance::~SessionBusSingleInstance()
{
    if (m_claimed && m_bus.isConnected()) {
        m_bus.unregisterService(m_service);
        m_bus.unregisterObject(path);
    }
}

bool SessionBusSingleInstance::isAvailable()
{
    return QDBusConnection::sessionBus().isConnected();
}

bool SessionBusSingleInstance::claim(OnMessage onMessage)
{
    m_onMessage = std::move(onMessage);
    if (m_claimed)
        return true;
    QDBusConnectionInterface* bus = m_bus.isConnected() ? m_bus.interface() : nullptr;
    // The object first, so a launch that finds the name can always call it.
    if (!bus || !m_bus.registerObject(path, this, QDBusConnection::ExportScriptableSlots)) {
        RecorderLog::write(QStringLiteral("[instance] no session bus: other launches are not noticed"));
        return true;
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        bus->registerService(m_service, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
        m_claimed = true;
        return true;
    }
    m_bus.unregisterObject(path);
    if (reply.isValid())
        return false; // another instance holds the name
    RecorderLog::write(QStringLiteral("[instance] could not claim %1 (%2): other launches are not noticed")
                           .arg(m_service, reply.error().message()));
    return true;
}

bool SessionBusSingleInstance::send(const QString& message)
{
    if (!m_bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(m_service, path, interface, QStringLiteral("Message"));
    call << message;
    // Waiting in a local event loop lets a holder in this same process answer.
    const QDBus::CallMode mode = QCoreApplication::instance() ? QDBus::BlockWithGui : QDBus::Block;
    return m_bus.call(call, mode, kCallTimeoutMs).type() == QDBusMessage::ReplyMessage;
}

void SessionBusSingleInstance::Message(const QString& message)
{
    if (const auto handler = m_onMessage) // it may replace itself
        handler(message);
}

} // namespace corvessa
