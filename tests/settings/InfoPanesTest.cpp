#include "platform/core/UserDefaults.h"
#include "platform/synthetic/SyntheticCameraService.h"
#include "platform/synthetic/SyntheticPermissions.h"
#include "prefs/Prefs.h"
#include "settings/AboutPane.h"
#include "settings/CameraControlsDialog.h"
#include "settings/CameraPane.h"
#include "settings/PermissionsPane.h"
#include "settings/SettingRow.h"
#include "settings/SettingsFixture.h"

#include <QLabel>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QSlider>

#include <gtest/gtest.h>

using namespace corvessa;
using namespace Qt::StringLiterals;

namespace {

class InfoPanesTest : public test::SettingsFixture {};

TEST_F(InfoPanesTest, AboutShowsTheBuildsVersionAndTheWholeGuide)
{
    QList<QUrl> opened;
    AboutPane::openGuideNext = false;
    AboutPane pane(LinkActions([&opened](const QUrl& url) {
        opened << url;
        return true;
    }));
    EXPECT_EQ(pane.page(), AboutPane::Page::about);
    EXPECT_EQ(pane.findChild<QLabel*>(u"version"_s)->text(), u"Version dev (0)"_s);
    EXPECT_EQ(AboutPane::nameText(), u"Corvessa"_s);

    const auto sections = AboutPane::guideSections();
    ASSERT_EQ(sections.size(), 5u);
    size_t items = 0;
    for (const auto& section : sections) {
        items += section.items.size();
        // Only the pause levels carry a note and tinted icons.
        const bool paused = section.title == u"While Paused"_s;
        EXPECT_EQ(!section.note.isEmpty(), paused) << section.title.toStdString();
        for (const auto& item : section.items)
            EXPECT_EQ(item.tint.isValid(), paused) << item.title.toStdString();
    }
    EXPECT_EQ(items, 20u);

    for (QPushButton* button : pane.findChildren<QPushButton*>())
        if (button->text() == u"Website"_s || button->text() == u"GitHub"_s)
            button->click();
    EXPECT_EQ(opened.size(), 2);
    EXPECT_TRUE(opened.contains(QUrl(u"https://corvessa.app/"_s)));

    // The Guide command turns the open pane to the guide and makes every later
    // pane start on it; the About command then turns both back to the about
    // page, so a pane rebuilt in a new language does not open on the guide.
    AboutPane::show(AboutPane::Page::usage);
    EXPECT_EQ(pane.page(), AboutPane::Page::usage);
    EXPECT_EQ(AboutPane().page(), AboutPane::Page::usage);
    AboutPane::show(AboutPane::Page::about);
    EXPECT_EQ(pane.page(), AboutPane::Page::about);
    EXPECT_EQ(AboutPane().page(), AboutPane::Page::about);
    EXPECT_FALSE(AboutPane::openGuideNext);
}

TEST_F(InfoPanesTest, PermissionRowsFollowTheServicesStates)
{
    using Kind = Permissions::Kind;
    using Access = Permissions::Access;
    auto service = std::make_shared<SyntheticPermissions>();
    service->setAccess(Kind::screen, Access::denied);
    service->setAccess(Kind::microphone, Access::denied);
    service->setAccess(Kind::camera, Access::granted);
    PermissionsPane pane(service, nullptr, QString());
    const auto status = [&](const char* kind) { return pane.findChild<QLabel*>(u"status-"_s + QLatin1String(kind))->text(); };
    const auto button = [&](const char* kind) {
        return pane.findChild<QPushButton*>(u"button-"_s + QLatin1String(kind));
    };

    // A refused screen can only be asked for again; without a settings program
    // the settings button cannot do anything.
    EXPECT_EQ(status("screen"), u"Not Granted"_s);
    EXPECT_EQ(button("screen")->text(), u"Grant Access"_s);
    EXPECT_EQ(status("microphone"), u"Not Granted"_s);
    EXPECT_EQ(button("microphone")->text(), u"Open Desktop Settings"_s);
    EXPECT_FALSE(button("microphone")->isEnabled());
    EXPECT_EQ(status("camera"), u"Granted"_s);
    EXPECT_EQ(button("camera")->text(), u"Open Desktop Settings"_s);

    button("screen")->click();
    EXPECT_EQ(service->requestCount(Kind::screen), 1);

    service->setAccess(Kind::microphone, Access::notDetermined);
    service->setAccess(Kind::camera, Access::denied);
    pane.refresh();
    EXPECT_EQ(button("microphone")->text(), u"Grant Access"_s);
    EXPECT_TRUE(button("microphone")->isEnabled());
    EXPECT_EQ(status("camera"), u"Not Granted"_s);
    EXPECT_TRUE(pane.findChild<QLabel*>(u"detail-camera"_s)->text().contains(u"\"video\""_s));

    PermissionsPane withProgram(service, nullptr, u"/usr/bin/true"_s);
    withProgram.findChild<QPushButton*>(u"button-camera"_s)->click();
    EXPECT_EQ(service->openedPanes(), QStringList{u"Privacy_Camera"_s});
}

TEST_F(InfoPanesTest, CameraCornersFollowTheShape)
{
    for (const auto& [radius, text] : {std::pair{0.12, "24%"}, std::pair{0.0, "0%"}, std::pair{0.5, "100%"}})
        EXPECT_EQ(CameraPane::radiusText(radius, 1), QLatin1String(text));
    EXPECT_EQ(CameraPane::radiusText(0.3, 2), u"—"_s);

    CameraPane pane(*prefs, nullptr, {});
    QSlider* radius = nullptr;
    for (QSlider* slider : pane.findChildren<QSlider*>())
        if (slider->accessibleName() == u"cameraRadius"_s)
            radius = slider;
    ASSERT_TRUE(radius);
    const auto descs = [&] {
        QStringList all;
        for (SettingRow* row : pane.findChildren<SettingRow*>())
            all << row->desc();
        return all;
    };
    prefs->setCameraRadius(0.2);
    prefs->setCameraShape(2);
    EXPECT_FALSE(radius->isEnabled());
    EXPECT_TRUE(descs().contains(u"Circle shape has no adjustable corners."_s));
    EXPECT_DOUBLE_EQ(prefs->cameraRadius(), 0.2);
    prefs->setCameraShape(1);
    EXPECT_TRUE(radius->isEnabled());
    EXPECT_EQ(radius->value(), 200);

    prefs->setCameraBurn(false);
    EXPECT_TRUE(descs().contains(u"Camera and screen are saved as separate files for editing later."_s));
    // Without a model: no format or preview rows; without a controls dialog the button waits.
    EXPECT_EQ(pane.findChildren<SettingRow*>().size(), 5);
    EXPECT_FALSE(pane.findChild<QPushButton*>(u"videoEffects"_s)->isEnabled());
}

TEST_F(InfoPanesTest, CameraControlsReachTheCamera)
{
    using Kind = CameraPictureControl::Kind;
    auto service = std::make_shared<SyntheticCameraService>();
    const QString id = SyntheticCameraService::defaultDevice().id;
    const auto value = [&](Kind kind) {
        for (const auto& c : service->controls(id))
            if (c.kind == kind)
                return c.value;
        return -1;
    };
    CameraControlsDialog dialog(service, id);
    QSlider* brightness = nullptr;
    for (QSlider* slider : dialog.findChildren<QSlider*>())
        if (slider->accessibleName() == u"Brightness"_s)
            brightness = slider;
    ASSERT_TRUE(brightness);
    brightness->setValue(200);
    EXPECT_EQ(value(Kind::brightness), 200);
    dialog.findChild<QCheckBox*>()->setChecked(true);
    EXPECT_EQ(value(Kind::backlightCompensation), 1);

    for (QAbstractButton* button : dialog.findChild<QDialogButtonBox*>()->buttons())
        if (button->text() == u"Restore Defaults"_s)
            button->click();
    EXPECT_EQ(value(Kind::brightness), 128);
    EXPECT_EQ(value(Kind::backlightCompensation), 0);

    // Nonsense: an unknown camera has no controls and takes none.
    EXPECT_TRUE(service->controls(u"nothing"_s).empty());
    EXPECT_FALSE(service->setControl(u"nothing"_s, Kind::brightness, 1));
    CameraControlsDialog none(service, u"nothing"_s);
    EXPECT_TRUE(none.findChild<QLabel*>(u"none"_s));
}

} // namespace
