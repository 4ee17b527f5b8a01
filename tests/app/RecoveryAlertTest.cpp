#include "app/RecoveryAlert.h"

#include <QAbstractButton>
#include <QMessageBox>

#include <gtest/gtest.h>

using namespace corvessa;

// Whether the recording was kept or was too short to keep, nothing is wrong
// any more: the alert is informational, never a warning, with the
// announcement's buttons in order.
TEST(RecoveryAlert, IsInformationalWithTheAnnouncementsButtons)
{
    const auto recovered = RecoveryJournal::announcement({{QStringLiteral("/m/Rec.mov"), 45.0, true}});
    const auto interrupted = RecoveryJournal::announcement({{QStringLiteral("/m/Rec.mov"), 0.2, false}});
    ASSERT_TRUE(recovered && interrupted);
    for (const auto& announcement : {*recovered, *interrupted}) {
        const auto box = RecoveryAlert::make(announcement);
        EXPECT_EQ(box->icon(), QMessageBox::Information) << announcement.title.toStdString();
        EXPECT_EQ(box->windowTitle(), announcement.title);
        EXPECT_EQ(box->text(), announcement.message);
        QStringList shown;
        for (QAbstractButton* button : box->buttons())
            shown << button->text();
        EXPECT_EQ(shown, announcement.buttons);
    }
}

// When nothing could show the recovered files, the alert comes back saying so,
// with "OK" alone (it must not offer the same failure again).
TEST(RecoveryAlert, SaysWhenTheFilesCouldNotBeShown)
{
    const auto recovered = RecoveryJournal::announcement(
        {{QStringLiteral("/m/Rec.mov"), 45.0, true}, {QStringLiteral("/m/Rec Camera.mov"), 45.0, true}});
    ASSERT_TRUE(recovered);
    const auto again = RecoveryAlert::afterFailedReveal(*recovered);
    EXPECT_EQ(again.title, recovered->title);
    EXPECT_EQ(again.message, recovered->message + QStringLiteral("\n\nThe folder could not be opened: /m"));
    EXPECT_EQ(again.buttons, QStringList{QStringLiteral("OK")});
    const auto box = RecoveryAlert::make(again);
    EXPECT_EQ(box->text(), again.message);
    EXPECT_EQ(box->buttons().size(), 1);
}
