#include "support/ProgramSession.h"

#include <QDir>
#include <QFile>
#include <QProcess>

namespace corvessa::test {

ProgramSession::ProgramSession(Bus bus)
    : m_busKind(bus)
{
    QDir().mkpath(runtimeDir());
    QFile::setPermissions(runtimeDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (bus == Bus::session) {
        m_bus = std::make_unique<PrivateBus>();
        if (!m_bus->available())
            m_why = QStringLiteral("dbus-daemon cannot start here");
    }
}

QStringList ProgramSession::environment(const QStringList& extra) const
{
    // What points into the caller's session goes; so does what would make the
    // program behave differently from one test machine to the next.
    static const QStringList dropped{QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("DBUS_STARTER_ADDRESS"),
                                     QStringLiteral("DBUS_STARTER_BUS_TYPE"),    QStringLiteral("XDG_RUNTIME_DIR"),
                                     QStringLiteral("XDG_SESSION_TYPE"),         QStringLiteral("WAYLAND_DISPLAY"),
                                     QStringLiteral("QT_QPA_PLATFORM"),          QStringLiteral("SESSION_MANAGER")};
    QStringList env = QProcess::systemEnvironment();
    env.removeIf([](const QString& v) { return dropped.contains(v.section(QLatin1Char('='), 0, 0)); });
    env << QStringLiteral("XDG_RUNTIME_DIR=") + runtimeDir()
        << QStringLiteral("DBUS_SESSION_BUS_ADDRESS=") + (m_bus ? m_bus->address() : PrivateBus::noBusAddress())
        << QStringLiteral("QT_QPA_PLATFORM=xcb");
    return env + extra;
}

void PrintTo(ProgramSession::Bus bus, std::ostream* out)
{
    *out << (bus == ProgramSession::Bus::session ? "a private session bus" : "no bus");
}

} // namespace corvessa::test
