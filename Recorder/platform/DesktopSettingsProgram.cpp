#include "platform/DesktopSettingsProgram.h"

#include "platform/core/RecorderLog.h"

#include <QProcess>
#include <QStandardPaths>

namespace corvessa {

QStringList DesktopSettingsProgram::candidates()
{
    return {QStringLiteral("gnome-control-center"), QStringLiteral("systemsettings"),
            QStringLiteral("systemsettings5"),      QStringLiteral("xfce4-settings-manager"),
            QStringLiteral("cinnamon-settings"),    QStringLiteral("mate-control-center"),
            QStringLiteral("lxqt-config")};
}

QString DesktopSettingsProgram::find()
{
    for (const QString& name : candidates()) {
        const QString path = QStandardPaths::findExecutable(name);
        if (!path.isEmpty())
            return path;
    }
    return {};
}

bool DesktopSettingsProgram::start(const QString& program)
{
    if (program.isEmpty())
        return false;
    const bool started = QProcess::startDetached(program, {});
    if (!started)
        RecorderLog::write(QStringLiteral("[perm] could not start ") + program);
    return started;
}

} // namespace corvessa
