#include "app/RecoveryAlert.h"

#include "platform/DialogPlacement.h"

#include <QMessageBox>

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
    if (announcement.kind == RecoveryJournal::Announcement::Kind::Recovered && !buttons.isEmpty()
        && box->clickedButton() == buttons.first())
        RecoveryJournal::reveal(announcement);
}

} // namespace corvessa
