#include "app/SettingsResetNotice.h"

#include "platform/DialogPlacement.h"
#include "platform/core/RecorderLog.h"
#include "platform/core/UserDefaults.h"
#include "prefs/Loc.h"

#include <QDir>
#include <QMessageBox>

namespace corvessa {

QString SettingsResetNotice::title()
{
    return Loc::text(QStringLiteral("Your settings were reset"));
}

QString SettingsResetNotice::message(const QString& keptAs)
{
    return Loc::fill(Loc::text(QStringLiteral("Corvessa couldn't read its settings file, so every setting, the recordings "
                                              "folder included, is back to its default. The old file was kept as:\n%@")),
                     QDir::toNativeSeparators(keptAs));
}

QString SettingsResetNotice::stuckTitle()
{
    return Loc::text(QStringLiteral("Your settings could not be read"));
}

QString SettingsResetNotice::stuckMessage(const QString& path)
{
    return Loc::fill(Loc::text(QStringLiteral("Corvessa couldn't read its settings file and can't move it aside, so "
                                              "every setting is at its default and no change will be kept. Repair or "
                                              "remove the file:\n%@")),
                     QDir::toNativeSeparators(path));
}

QMessageBox* SettingsResetNotice::showIfPending(UserDefaults& defaults)
{
    QString title;
    QString message;
    if (const std::optional<QString> keptAs = defaults.takeSetAside()) {
        RecorderLog::write(QStringLiteral("[app] told the user the settings were reset; the old file is %1").arg(*keptAs));
        title = SettingsResetNotice::title();
        message = SettingsResetNotice::message(*keptAs);
    } else if (const std::optional<QString> stuck = defaults.stuckFile()) {
        RecorderLog::write(QStringLiteral("[app] told the user the settings file %1 can be neither read nor set aside; "
                                          "running on defaults").arg(*stuck));
        title = stuckTitle();
        message = stuckMessage(*stuck);
    } else {
        return nullptr;
    }
    return present(title, message, QStringLiteral("settingsResetNotice"));
}

QMessageBox* SettingsResetNotice::present(const QString& title, const QString& message, const QString& objectName)
{
    auto* box = new QMessageBox(QMessageBox::Information, title, message, QMessageBox::Ok);
    box->setObjectName(objectName);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // It holds nothing up: the program is usable while it is read.
    box->setWindowModality(Qt::NonModal);
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    box->winId();
    DialogPlacement::present(box->windowHandle());
    box->show();
    return box;
}

} // namespace corvessa
