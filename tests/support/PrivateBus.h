#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace corvessa::test {

// A session bus of the test's own (dbus-daemon with a configuration of ours:
// a socket in a private folder, no services started on demand, so no file
// manager or notification daemon of the machine ever answers), so bus clients
// and the program are tested without the caller's desktop session.
// available() is false where dbus-daemon is missing.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool available() const { return !m_address.isEmpty(); }
    // For DBUS_SESSION_BUS_ADDRESS.
    QString address() const { return m_address; }

    // A new connection to the bus, closed with the bus.
    QDBusConnection connect();

    // A connection that never reaches a bus.
    static QDBusConnection nowhere();
    // DBUS_SESSION_BUS_ADDRESS for a program that must find no bus at all (and
    // must not start one of its own through X11 autolaunch).
    static QString noBusAddress() { return QStringLiteral("disabled:"); }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
    QStringList m_names;
};

} // namespace corvessa::test
