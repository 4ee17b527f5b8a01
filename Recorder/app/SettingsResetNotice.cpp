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

QMessageBox* SettingsResetNotice::showIfPending(UserDefaults& defaults)
{
    const std::optional<QString> keptAs = defaults.takeSetAside();
    if (!keptAs)
        return nullptr;
    RecorderLog::write(QStringLiteral("[app] told the user the settings were reset; the old file is %1").arg(*keptAs));
    auto* box = new QMessageBox(QMessageBox::Information, title(), message(*keptAs), QMessageBox::Ok);
    box->setObjectName(QStringLiteral("settingsResetNotice"));
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
