#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QUuid>

namespace corvessa::test {

// A D-Bus daemon of the test's own, so bus clients can be tested without a
// desktop session. available() is false where dbus-daemon is missing.
class PrivateBus {
public:
    PrivateBus()
    {
        const QString exe = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (exe.isEmpty())
            return;
        m_daemon.start(exe, {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                             QStringLiteral("--print-address=1")});
        if (!m_daemon.waitForStarted(5000) || !m_daemon.waitForReadyRead(5000))
            return;
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        for (const QString& name : m_names)
            QDBusConnection::disconnectFromBus(name);
        if (m_daemon.state() != QProcess::NotRunning) {
            m_daemon.kill();
            m_daemon.waitForFinished(5000);
        }
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool available() const { return !m_address.isEmpty(); }
    QString address() const { return m_address; }

    // A new connection to the bus, closed with the bus.
    QDBusConnection connect()
    {
        const QString name = QStringLiteral("private-bus-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
        m_names << name;
        return QDBusConnection::connectToBus(m_address, name);
    }

    // A connection that never reaches a bus.
    static QDBusConnection nowhere()
    {
        return QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/corvessa-bus"), QStringLiteral("nowhere"));
    }

private:
    QProcess m_daemon;
    QString m_address;
    QStringList m_names;
};

} // namespace corvessa::test
