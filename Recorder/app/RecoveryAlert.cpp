#include "app/RecoveryAlert.h"

#include "platform/DialogPlacement.h"
#include "platform/FileReveal.h"
#include "prefs/Loc.h"

#include <QDir>
#include <QMessageBox>
#include <QTimer>
#include <QUrl>

namespace corvessa {

std::unique_ptr<QMessageBox> RecoveryAlert::make(const RecoveryJournal::Announcement& announcement)
{
    // Nothing is wrong any more: the alert only tells what happened.
    auto box = std::make_unique<QMessageBox>(QMessageBox::Information, announcement.title, announcement.message);
    for (const QString& title : announcement.buttons)
        box->addButton(title, QMessageBox::AcceptRole);
    return box;
}

void RecoveryAlert::run(const RecoveryJournal::Announcement& announcement)
{
    const auto box = make(announcement);
    box->winId();
    DialogPlacement::present(box->windowHandle());
    box->exec();
    const auto buttons = box->buttons();
    // Only the recovered alert offers to show the files, as its first of two buttons.
    if (announcement.kind != RecoveryJournal::Announcement::Kind::Recovered || buttons.size() < 2
        || box->clickedButton() != buttons.first())
        return;
    RecoveryJournal::reveal(announcement, [announcement](bool shown) {
        // Shown again once the opener's answer has been handled.
        if (!shown)
            QTimer::singleShot(0, [again = afterFailedReveal(announcement)] { run(again); });
    });
}

RecoveryJournal::Announcement RecoveryAlert::afterFailedReveal(const RecoveryJournal::Announcement& announcement)
{
    RecoveryJournal::Announcement again = announcement;
    QStringList folders;
    for (const QUrl& folder : FileReveal::folders(announcement.playablePaths))
        folders << QDir::toNativeSeparators(folder.toLocalFile());
    again.message += QStringLiteral("\n\n")
                     + Loc::fill(Loc::text(QStringLiteral("The folder could not be opened: %@")), folders.join(QStringLiteral(", ")));
    again.buttons = {Loc::text(QStringLiteral("OK"))};
    return again;
}

} // namespace corvessa
