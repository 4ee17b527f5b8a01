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
