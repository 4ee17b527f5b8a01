#pragma once

#include <QString>
#include <QStringList>

namespace corvessa {

// The desktop's own settings program (GNOME, KDE, Xfce, Cinnamon, MATE, LXQt),
// the nearest Linux has to a privacy settings page. Stateless; any thread.
class DesktopSettingsProgram {
public:
    DesktopSettingsProgram() = delete;

    // The programs tried, in order.
    static QStringList candidates();
    // The first candidate found on PATH, as a full path; empty when none is.
    static QString find();
    // Starts `program` on its own; false when it could not be started.
    static bool start(const QString& program);
};

} // namespace corvessa
