#include "platform/dbus/LogindPowerOffNotice.h"

#include "platform/core/RecorderLog.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QThread>

namespace corvessa {

namespace {

// logind answers at once; a hung bus must not freeze the program at the start of a recording.
constexpr int kCallTimeoutMs = 2000;

} // namespace

LogindPowerOffNotice::LogindPowerOffNotice(QDBusConnection bus, Log log)
    : m_bus(std::move(bus))
{
    // Signals reach a receiver on its own thread; the handler belongs on the main one.
    if (auto* app = QCoreApplication::instance(); app && thread() != app->thread())
        moveToThread(app->thread());
    m_watching = m_bus.isConnected() && m_bus.interface() && m_bus.interface()->isServiceRegistered(service).value();
    if (!m_watching) {
        const QString line = QStringLiteral("[power] no logind on the system bus: power-off is not watched");
        log ? log(line) : RecorderLog::write(line);
        return;
    }
    for (const char* name : {"PrepareForShutdown", "PrepareForSleep"})
        m_bus.connect(service, path, interface, QString::fromLatin1(name), this, SLOT(prepare(bool)));
}

void LogindPowerOffNotice::setOnPowerOff(std::function<void()> handler)
{
    m_onPowerOff = std::move(handler);
}

bool LogindPowerOffNotice::inhibit()
{
    if (m_hold.isValid())
        return true;
    if (!m_watching)
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Inhibit"));
    call << QStringLiteral("shutdown:sleep") << QStringLiteral("Corvessa") << QStringLiteral("Saving the recording")
         << QStringLiteral("delay");
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
        m_hold = reply.arguments().constFirst().value<QDBusUnixFileDescriptor>();
    return m_hold.isValid();
}

void LogindPowerOffNotice::release()
{
    // The descriptor is shared by value; the last copy closes it, and this is the last.
    m_hold = QDBusUnixFileDescriptor();
}

void LogindPowerOffNotice::prepare(bool start)
{
    // false comes after waking up (or a cancelled shutdown): nothing to do then.
    if (!start || !m_onPowerOff)
        return;
    const auto handler = m_onPowerOff; // it may replace itself
    handler();
}

} // namespace corvessa
