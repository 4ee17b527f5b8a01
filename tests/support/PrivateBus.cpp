#include "support/PrivateBus.h"

#include <QFile>
#include <QStandardPaths>
#include <QUuid>

namespace corvessa::test {

namespace {

// A session bus that anyone of this user may use and that starts nothing.
constexpr char kConfig[] = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

} // namespace

PrivateBus::PrivateBus()
{
    const QString exe = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (exe.isEmpty() || !m_dir.isValid())
        return;
    const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)
        || file.write(QString::fromLatin1(kConfig).arg(m_dir.filePath(QStringLiteral("bus"))).toUtf8()) < 0)
        return;
    file.close();
    m_daemon.start(exe, {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                         QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")});
    if (!m_daemon.waitForStarted(5000) || !m_daemon.waitForReadyRead(10000))
        return;
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
}

PrivateBus::~PrivateBus()
{
    for (const QString& name : m_names)
        QDBusConnection::disconnectFromBus(name);
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.kill();
        m_daemon.waitForFinished(5000);
    }
}

QDBusConnection PrivateBus::connect()
{
    const QString name = QStringLiteral("private-bus-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    m_names << name;
    return QDBusConnection::connectToBus(m_address, name);
}

QDBusConnection PrivateBus::nowhere()
{
    return QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/corvessa-bus"), QStringLiteral("nowhere"));
}

} // namespace corvessa::test
