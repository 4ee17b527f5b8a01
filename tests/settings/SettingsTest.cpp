#include "platform/core/UserDefaults.h"
#include "platform/synthetic/SyntheticGlobalHotKeys.h"
#include "prefs/HotKeyCenter.h"
#include "prefs/Prefs.h"
#include "prefs/ShortcutCapture.h"
#include "prefs/widgets/KeyRecorderButton.h"
#include "settings/GatedSegmented.h"
#include "settings/RecordingEstimate.h"
#include "settings/RecordingPane.h"
#include "settings/SettingsLayout.h"
#include "settings/SettingsView.h"
#include "settings/SettingsWindow.h"
#include "settings/ShortcutsPane.h"
#include "settings/SettingsFixture.h"

#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QVBoxLayout>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <algorithm>

using namespace corvessa;
using namespace Qt::StringLiterals;

namespace {

class SettingsTest : public test::SettingsFixture {
protected:
    void SetUp() override
    {
        SettingsFixture::SetUp();
        center = std::make_unique<HotKeyCenter>(service);
        center->apply(prefs->bindings());
    }
    void TearDown() override
    {
        center.reset();
        SettingsFixture::TearDown();
    }

    std::shared_ptr<SyntheticGlobalHotKeys> service = std::make_shared<SyntheticGlobalHotKeys>();
    std::unique_ptr<HotKeyCenter> center;
};

TEST_F(SettingsTest, EstimatesTenMinutesPerTier)
{
    struct Case {
        int tier;
        double custom;
        int fps;
        const char* text;
    };
    // 1920 x 1080; Custom ignores size and rate; a tier out of range is shown
    // as the writer records it.
    for (const Case& c : {Case{0, 7.5, 30, "90 MB – 230 MB"}, Case{1, 7.5, 30, "170 MB – 440 MB"},
                          Case{2, 7.5, 30, "330 MB – 870 MB"}, Case{3, 7.5, 60, "210 MB – 550 MB"},
                          Case{9, 7.5, 30, "210 MB – 550 MB"}, Case{-4, 7.5, 30, "90 MB – 230 MB"},
                          Case{2, 7.5, 120, "910 MB – 2.4 GB"}})
        EXPECT_EQ(RecordingEstimate::rangeText(RecordingEstimate::forTier(c.tier, c.custom, 1920, 1080, c.fps)),
                  QString::fromUtf8(c.text))
            << c.tier << " at " << c.fps;
    const QString sentence = RecordingEstimate::explanation(9, 7.5, 1920, 1080, 30);
    EXPECT_TRUE(sentence.startsWith(u"1920×1080 at 30 frames per second, Custom tier."_s)) << sentence.toStdString();
    EXPECT_TRUE(sentence.endsWith(u"Low 90 MB – 230 MB　·　Medium 170 MB – 440 MB　·　High 330 MB – 870 MB"_s));
}

TEST_F(SettingsTest, StoredTierOutsideTheRangeShowsCustomOrLow)
{
    for (const auto& [stored, shown] : {std::pair{7, 3}, std::pair{-2, 0}, std::pair{1, 1}}) {
        prefs->setQualityTier(stored);
        RecordingPane pane(*prefs, nullptr);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(pane.tierPicker()->isChosen(i), i == shown) << stored;
        EXPECT_FALSE(pane.estimateText().isEmpty());
    }
    // A click stores the cell's value.
    RecordingPane pane(*prefs, nullptr);
    pane.tierPicker()->resize(380, 26);
    QTest::mouseClick(pane.tierPicker(), Qt::LeftButton, {}, pane.tierPicker()->cellRect(2).center());
    EXPECT_EQ(prefs->qualityTier(), 2);
}

// A language change builds the settings window anew; the shortcut message
// shown before it comes back in the new language, the other action's title too.
TEST_F(SettingsTest, ShortcutMessageFollowsTheLanguage)
{
    const auto shows = [](const ShortcutsPane& pane, const QString& text) {
        const QList<QLabel*> labels = pane.findChildren<QLabel*>();
        return std::any_of(labels.begin(), labels.end(), [&](const QLabel* label) { return label->text() == text; });
    };
    prefs->setBinding(HotKeyAction::stop, {15, 0x1800});
    {
        ShortcutsPane pane(*prefs, *center);
        pane.reset(HotKeyAction::start);
        EXPECT_TRUE(shows(pane, u"Ctrl+Alt+R is already used for “Stop Recording”. Please choose a different one."_s));
    }
    ASSERT_TRUE(Loc::choose(u"de"_s));
    ShortcutsPane rebuilt(*prefs, *center);
    EXPECT_TRUE(shows(rebuilt, u"Ctrl+Alt+R wird bereits für „Aufnahme beenden“ verwendet. Bitte ein anderes wählen."_s))
        << prefs->hotkeyMessage().value_or(QString()).toStdString();
    Loc::choose(u"en"_s);
}

TEST_F(SettingsTest, CaptureTakesKeysBeforeTheWindowsShortcuts)
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* field = new QLineEdit(&window);
    auto* pane = new ShortcutsPane(*prefs, *center, &window);
    layout->addWidget(field);
    layout->addWidget(pane);
    int fired = 0;
    auto* shortcut = new QShortcut(QKeySequence(u"Ctrl+Shift+K"_s), &window);
    QObject::connect(shortcut, &QShortcut::activated, [&] { ++fired; });
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    field->setFocus();

    pane->capture().setRecording(HotKeyAction::start);
    EXPECT_EQ(service->registrationCount(), 0) << "our grabs would take the keys being typed";
    QTest::keyClick(field, Qt::Key_K, Qt::AltModifier | Qt::ShiftModifier);
    EXPECT_EQ(prefs->hotkeyMessage(), u"Include Ctrl or Super, or the shortcut won't work."_s);
    QTest::keyClick(field, Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(fired, 0);
    EXPECT_TRUE(field->text().isEmpty());
    EXPECT_EQ(prefs->bindings().at(HotKeyAction::start), (KeyBinding{40, 0x1200}));
    EXPECT_EQ(service->registrationCount(), 15);

    // Without a capture the keys go where they always do.
    QTest::keyClick(field, Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(fired, 1);

    // Reset comes back with ⌃⌥, unless another action has taken that meanwhile.
    prefs->setBinding(HotKeyAction::stop, {15, 0x1800});
    pane->reset(HotKeyAction::start);
    EXPECT_EQ(prefs->hotkeyMessage(), u"Ctrl+Alt+R is already used for “Stop Recording”. Please choose a different one."_s);
    pane->reset(HotKeyAction::stop);
    pane->reset(HotKeyAction::start);
    EXPECT_EQ(prefs->bindings().at(HotKeyAction::start), KeyBinding::defaultFor(HotKeyAction::start));
    EXPECT_EQ(prefs->hotkeyMessage(), std::nullopt);

    // Leaving the screen ends a capture.
    pane->capture().setRecording(HotKeyAction::pen);
    window.hide();
    EXPECT_EQ(pane->capture().recording(), std::nullopt);
}

// The capture's message is the line under the fifteenth row, past the bottom
// of the 480-point page while the user works on a row near the top: a refused
// combination said why where nobody could see it.
TEST_F(SettingsTest, RefusedShortcutSaysWhyInView)
{
    SettingsServices services;
    services.hotKeys = center.get();
    SettingsView view(SettingsPane::shortcuts, *prefs, services);
    view.show();
    view.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    auto* scroll = view.findChild<QScrollArea*>();
    ASSERT_TRUE(scroll);
    ASSERT_GT(scroll->verticalScrollBar()->maximum(), 0) << "the pane must scroll for this to show anything";
    KeyRecorderButton* pause = nullptr;
    for (KeyRecorderButton* button : view.findChildren<KeyRecorderButton*>())
        if (button->action() == HotKeyAction::pause)
            pause = button;
    ASSERT_TRUE(pause);

    // Ctrl+Alt+K, free among our actions, is held by another program.
    service->holdExternally(40, KeyBinding::control | KeyBinding::option);
    struct Case {
        Qt::Key key;
        const char* message;
    };
    for (const Case& c : {Case{Qt::Key_S, "Ctrl+Alt+S is already used for “Stop Recording”. Please choose a different one."},
                          Case{Qt::Key_K, "Ctrl+Alt+K is used by another app. Please choose a different one."}}) {
        scroll->verticalScrollBar()->setValue(0);
        QTest::mouseClick(pause, Qt::LeftButton);
        ASSERT_TRUE(pause->isCapturing());
        QTest::keyClick(pause, c.key, Qt::ControlModifier | Qt::AltModifier);

        const QString expected = QString::fromUtf8(c.message);
        EXPECT_EQ(prefs->hotkeyMessage(), expected);
        EXPECT_FALSE(pause->isCapturing());
        EXPECT_EQ(prefs->bindings().at(HotKeyAction::pause), KeyBinding::defaultFor(HotKeyAction::pause));
        EXPECT_EQ(pause->text(), u"Ctrl+Alt+P"_s);
        QLabel* shown = nullptr;
        for (QLabel* label : view.content()->findChildren<QLabel*>())
            if (label->isVisible() && label->text() == expected)
                shown = label;
        ASSERT_TRUE(shown) << c.message;
        const QRect place(shown->mapTo(scroll->viewport(), QPoint(0, 0)), shown->size());
        EXPECT_TRUE(scroll->viewport()->rect().contains(place))
            << c.message << " at y " << place.y() << ", page " << scroll->viewport()->height() << " high";
    }
}

TEST_F(SettingsTest, PlacementKeepsCentreAndTopInsideTheScreen)
{
    // A 1280 x 800 screen with a 30-point panel at its top.
    const SettingsWindow::Screen screen{{0, 0, 1280, 800}, {0, 0, 1280, 770}};
    const QSizeF size(760, 540);
    EXPECT_EQ(SettingsWindow::placedOrigin(size, {640, 700}, {screen}, screen), (GlobalPoint{260, 160}));
    EXPECT_EQ(SettingsWindow::placedOrigin(size, {100, 790}, {screen}, screen), (GlobalPoint{0, 230}));
    EXPECT_EQ(SettingsWindow::placedOrigin(QSizeF(1500, 540), {640, 700}, {screen}, screen), (GlobalPoint{0, 160}));
    // A top on no screen falls back to the main one; with none, unclamped.
    EXPECT_EQ(SettingsWindow::placedOrigin(size, {5000, 700}, {screen}, screen), (GlobalPoint{520, 160}));
    EXPECT_EQ(SettingsWindow::placedOrigin(size, {5000, 700}, {}, std::nullopt), (GlobalPoint{4620, 160}));

    EXPECT_EQ(SettingsWindow::frameText({412, 300.5, 760, 1e-3}), u"(412.0, 300.5, 760.0, 0.001)"_s);
    EXPECT_EQ(SettingsLayout::widthFor(std::vector<double>(10, 1.0)), 680);
    EXPECT_EQ(SettingsLayout::widthFor(std::vector<double>(10, 80.5)), 1170);
}

} // namespace
