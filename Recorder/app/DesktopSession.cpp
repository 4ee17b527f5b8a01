#include "app/DesktopSession.h"

#include "prefs/Loc.h"

namespace corvessa {

bool DesktopSession::isWayland(const QProcessEnvironment& environment)
{
    return environment.value(QStringLiteral("XDG_SESSION_TYPE")).compare(QLatin1String("wayland"), Qt::CaseInsensitive) == 0
        || !environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty();
}

QString DesktopSession::forcedPlatform(const QProcessEnvironment& environment)
{
    if (!isWayland(environment))
        return {};
    // Desktops set "wayland" (or "wayland;xcb") for every Qt program.
    const QString asked = environment.value(QStringLiteral("QT_QPA_PLATFORM"));
    if (!asked.isEmpty() && !asked.startsWith(QLatin1String("wayland"), Qt::CaseInsensitive))
        return {};
    return QStringLiteral("xcb");
}

void DesktopSession::chooseInterfacePlatform()
{
    const QString platform = forcedPlatform(QProcessEnvironment::systemEnvironment());
    if (!platform.isEmpty())
        qputenv("QT_QPA_PLATFORM", platform.toUtf8());
}

QString DesktopSession::waylandNotice()
{
    return Loc::text(QStringLiteral("This is a Wayland session: recordings show only X11 windows."));
}

} // namespace corvessa
