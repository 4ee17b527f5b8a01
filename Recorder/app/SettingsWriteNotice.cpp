#include "app/SettingsWriteNotice.h"

#include "app/SettingsResetNotice.h"
#include "platform/core/RecorderLog.h"
#include "platform/core/UserDefaults.h"
#include "prefs/Loc.h"

#include <QDir>
#include <QMessageBox>

namespace corvessa {

SettingsWriteNotice::SettingsWriteNotice(UserDefaults& defaults, QObject* parent)
    : QObject(parent)
{
    if (defaults.stuckFile())
        return;
    // Listening first: a write on another thread between the two is not missed.
    connect(&defaults, &UserDefaults::writeFailed, this, &SettingsWriteNotice::tell);
    if (const std::optional<UserDefaults::WriteFailure> failure = defaults.writeFailure())
        tell(failure->path, failure->reason);
}

QMessageBox* SettingsWriteNotice::box() const
{
    return m_box;
}

QString SettingsWriteNotice::title()
{
    return Loc::text(QStringLiteral("Your settings can't be kept"));
}

QString SettingsWriteNotice::message(const QString& path, const QString& reason)
{
    return Loc::fill(Loc::text(QStringLiteral("Corvessa can't save its settings file (%@), so the changes you make "
                                              "now are lost when it quits. Make the file and its folder writable:\n%@")),
                     reason, QDir::toNativeSeparators(path));
}

void SettingsWriteNotice::tell(const QString& path, const QString& reason)
{
    if (m_told)
        return;
    m_told = true;
    RecorderLog::write(QStringLiteral("[app] told the user changes to the settings cannot be kept: cannot write %1: %2")
                           .arg(path, reason));
    m_box = SettingsResetNotice::present(title(), message(path, reason), QStringLiteral("settingsWriteNotice"));
}

} // namespace corvessa
