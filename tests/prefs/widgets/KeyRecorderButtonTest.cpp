#include "platform/core/UserDefaults.h"
#include "platform/synthetic/SyntheticGlobalHotKeys.h"
#include "prefs/HotKeyBindings.h"
#include "prefs/HotKeyCenter.h"
#include "prefs/widgets/KeyRecorderButton.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"
#include "prefs/ShortcutCapture.h"
#include "support/ChildProcess.h"
#include "support/English.h"
#include "support/ServiceScope.h"
#include "support/TempHome.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QWidget>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <memory>

#include <sys/wait.h>

using namespace corvessa;
using namespace Qt::StringLiterals;

namespace {

constexpr qint64 kCtrlOpt = 0x1800;
const Qt::KeyboardModifiers kCtrlAlt = Qt::ControlModifier | Qt::AltModifier;

// The shortcut list as the settings window builds it: one button per action
// sharing one capture, over a synthetic hot-key service holding the defaults.
class KeyRecorderButtonTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::useEnglish();
        freshPrefs.emplace(Prefs::resetShared);
        prefs = &Prefs::shared();
        center = std::make_unique<HotKeyCenter>(service);
        center->apply(prefs->bindings());
        capture = std::make_unique<ShortcutCapture>(*prefs, *center);
        window = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window.get());
        for (HotKeyAction a : HotKeyActions::allCases()) {
            buttons[a] = new KeyRecorderButton(a, *prefs, *capture, window.get());
            layout->addWidget(buttons[a]);
        }
        window->show();
    }

    void TearDown() override
    {
        window.reset();
        capture.reset();
        center.reset();
    }

    KeyRecorderButton& button(HotKeyAction a) { return *buttons.at(a); }
    void click(HotKeyAction a) { QTest::mouseClick(&button(a), Qt::LeftButton); }
    void type(HotKeyAction a, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(&button(a), key, modifiers);
    }
    KeyBinding binding(HotKeyAction a) const { return prefs->bindings().at(a); }

    test::TempHome home;
    std::optional<test::ServiceScope> freshPrefs;
    std::shared_ptr<SyntheticGlobalHotKeys> service = std::make_shared<SyntheticGlobalHotKeys>();
    Prefs* prefs = nullptr;
    std::unique_ptr<HotKeyCenter> center;
    std::unique_ptr<ShortcutCapture> capture;
    std::unique_ptr<QWidget> window;
    std::map<HotKeyAction, KeyRecorderButton*> buttons;
};

TEST_F(KeyRecorderButtonTest, ShowsTheShortcutInAMonospacedFaceAt130Points)
{
    prefs->setBinding(HotKeyAction::pause, {35, kCtrlOpt});
    prefs->removeBinding(HotKeyAction::pen);
    EXPECT_EQ(button(HotKeyAction::pause).text(), u"Ctrl+Alt+P"_s);
    EXPECT_EQ(button(HotKeyAction::pen).text(), u"Not Set"_s);
    EXPECT_EQ(button(HotKeyAction::start).width(), 130);
    const QFont face = button(HotKeyAction::start).font();
    EXPECT_TRUE(QFontInfo(face).fixedPitch()) << QFontInfo(face).family().toStdString();
    EXPECT_EQ(QFontMetricsF(face).horizontalAdvance(u"iiii"_s), QFontMetricsF(face).horizontalAdvance(u"WWWW"_s));
    EXPECT_EQ(button(HotKeyAction::start).font().pointSizeF(), QApplication::font().pointSizeF());
    EXPECT_FALSE(button(HotKeyAction::start).grab().isNull()) << "renders offscreen";
}

// A machine whose "monospace" names a proportional face (fonts installed
// later, a user's alias): the same test in a child whose font configuration
// says so, as it is read once per process.
TEST(KeyRecorderButtonFonts, StaysMonospacedWhenTheMonospaceAliasIsProportional)
{
    QString proportional;
    bool anyFixed = false;
    for (const QString& family : QFontDatabase::families()) {
        const bool fixed = QFontDatabase::isFixedPitch(family);
        anyFixed = anyFixed || fixed;
        if (!fixed && proportional.isEmpty() && !QFontDatabase::isPrivateFamily(family))
            proportional = family;
    }
    if (!anyFixed || proportional.isEmpty() || !QFile::exists(u"/etc/fonts/fonts.conf"_s))
        GTEST_SKIP() << "needs a fixed-pitch and a proportional font and the system's font configuration";
    QTemporaryDir dir;
    QFile conf(dir.filePath(u"fonts.conf"_s));
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write(u"<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n<fontconfig>\n"
               "  <include ignore_missing=\"yes\">/etc/fonts/fonts.conf</include>\n"
               "  <match target=\"pattern\">\n"
               "    <test name=\"family\"><string>monospace</string></test>\n"
               "    <edit name=\"family\" mode=\"prepend\" binding=\"strong\"><string>%1</string></edit>\n"
               "  </match>\n</fontconfig>\n"_s.arg(proportional.toHtmlEscaped())
                   .toUtf8());
    conf.close();
    QStringList environment = QProcess::systemEnvironment();
    environment << u"FONTCONFIG_FILE="_s + conf.fileName();
    const QString log = dir.filePath(u"child.log"_s);
    auto child = corvessa::test::ChildProcess::start(
        QFileInfo(u"/proc/self/exe"_s).canonicalFilePath(),
        {u"--gtest_filter=KeyRecorderButtonTest.ShowsTheShortcutInAMonospacedFaceAt130Points"_s}, environment, log);
    ASSERT_TRUE(child);
    ASSERT_TRUE(child->waitFinished(60000));
    QFile output(log);
    output.open(QIODevice::ReadOnly);
    ASSERT_TRUE(child->status() && WIFEXITED(*child->status()) && WEXITSTATUS(*child->status()) == 0)
        << output.readAll().right(2000).toStdString();
}

TEST_F(KeyRecorderButtonTest, ClicksStartMoveAndCancelCapture)
{
    const QColor idle = button(HotKeyAction::start).palette().color(QPalette::Button);
    prefs->setHotkeyMessage(u"left over"_s);

    click(HotKeyAction::start);
    EXPECT_EQ(capture->recording(), HotKeyAction::start);
    EXPECT_EQ(button(HotKeyAction::start).text(), u"Press New Shortcut…"_s);
    EXPECT_EQ(button(HotKeyAction::start).palette().color(QPalette::Button), QColor(255, 149, 0));
    EXPECT_EQ(prefs->hotkeyMessage(), std::nullopt);
    EXPECT_EQ(service->registrationCount(), 0) << "our grabs would swallow the keys being typed";

    click(HotKeyAction::stop);
    EXPECT_EQ(capture->recording(), HotKeyAction::stop);
    EXPECT_EQ(button(HotKeyAction::start).text(), u"Ctrl+Alt+R"_s);
    EXPECT_EQ(button(HotKeyAction::start).palette().color(QPalette::Button), idle);
    EXPECT_EQ(button(HotKeyAction::stop).text(), u"Press New Shortcut…"_s);

    prefs->setHotkeyMessage(u"left over"_s);
    click(HotKeyAction::stop);
    EXPECT_EQ(capture->recording(), std::nullopt);
    EXPECT_EQ(button(HotKeyAction::stop).text(), u"Ctrl+Alt+S"_s);
    EXPECT_EQ(prefs->hotkeyMessage(), std::nullopt);
    EXPECT_EQ(service->registrationCount(), 15);
}

TEST_F(KeyRecorderButtonTest, SpaceOnAFocusedButtonStartsCapture)
{
    type(HotKeyAction::zoomIn, Qt::Key_Space);
    EXPECT_EQ(capture->recording(), HotKeyAction::zoomIn);
}

TEST_F(KeyRecorderButtonTest, TypedShortcutIsStoredRegisteredAndShown)
{
    click(HotKeyAction::start);
    type(HotKeyAction::start, Qt::Key_Control, Qt::ControlModifier); // the modifier comes first
    EXPECT_EQ(capture->recording(), HotKeyAction::start);
    type(HotKeyAction::start, Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);

    EXPECT_EQ(capture->recording(), std::nullopt);
    EXPECT_EQ(binding(HotKeyAction::start), (KeyBinding{40, 0x1200}));
    EXPECT_EQ(button(HotKeyAction::start).text(), u"Ctrl+Shift+K"_s);
    EXPECT_EQ(prefs->hotkeyMessage(), std::nullopt);
    EXPECT_EQ(service->registrationCount(), 15);
    EXPECT_EQ(service->combination(0), (std::pair<qint64, qint64>{40, 0x1200}));
    EXPECT_FALSE(service->press(15, kCtrlOpt)) << "the old combination is given up";
    const auto stored = HotKeyBindings::decode(*UserDefaults::standard().data(u"hotkeys"_s));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->at(HotKeyAction::start), (KeyBinding{40, 0x1200}));
}

TEST_F(KeyRecorderButtonTest, KeysThatQtWouldTakeForItselfAreCaptured)
{
    // Tab would move the focus, Shift+1 arrives as "!" and Super as Meta.
    click(HotKeyAction::pen);
    type(HotKeyAction::pen, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(binding(HotKeyAction::pen), (KeyBinding{48, 0x1000}));

    click(HotKeyAction::pen);
    type(HotKeyAction::pen, Qt::Key_Exclam, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(binding(HotKeyAction::pen), (KeyBinding{18, 0x1200}));

    click(HotKeyAction::pen);
    type(HotKeyAction::pen, Qt::Key_F5, Qt::MetaModifier);
    EXPECT_EQ(binding(HotKeyAction::pen), (KeyBinding{96, 0x100}));
}

TEST_F(KeyRecorderButtonTest, EscapeEndsCaptureWithoutAChange)
{
    click(HotKeyAction::pause);
    type(HotKeyAction::pause, Qt::Key_Escape);
    EXPECT_EQ(capture->recording(), std::nullopt);
    EXPECT_EQ(binding(HotKeyAction::pause), KeyBinding::defaultFor(HotKeyAction::pause));
    EXPECT_EQ(service->registrationCount(), 15);
}

TEST_F(KeyRecorderButtonTest, KeysThatCannotWorkKeepCapturingAndSayWhy)
{
    click(HotKeyAction::pause);
    type(HotKeyAction::pause, Qt::Key_P, Qt::AltModifier | Qt::ShiftModifier);
    EXPECT_EQ(capture->recording(), HotKeyAction::pause);
    EXPECT_EQ(prefs->hotkeyMessage(), u"Include Ctrl or Super, or the shortcut won't work."_s);

    type(HotKeyAction::pause, Qt::Key_Adiaeresis, Qt::ControlModifier);
    EXPECT_EQ(capture->recording(), HotKeyAction::pause);
    EXPECT_EQ(prefs->hotkeyMessage(), u"This key can't be used for a shortcut. Please choose a different one."_s);
    EXPECT_EQ(binding(HotKeyAction::pause), KeyBinding::defaultFor(HotKeyAction::pause));
    EXPECT_EQ(service->registrationCount(), 0);
}

TEST_F(KeyRecorderButtonTest, ShortcutOfAnotherActionIsRefused)
{
    click(HotKeyAction::pause);
    type(HotKeyAction::pause, Qt::Key_R, kCtrlAlt);
    EXPECT_EQ(capture->recording(), std::nullopt);
    EXPECT_EQ(prefs->hotkeyMessage(), u"Ctrl+Alt+R is already used for “Start Recording”. Please choose a different one."_s);
    EXPECT_EQ(binding(HotKeyAction::pause), KeyBinding::defaultFor(HotKeyAction::pause));
    EXPECT_EQ(service->registrationCount(), 15);
}

TEST_F(KeyRecorderButtonTest, ShortcutHeldByAnotherProgramPutsTheOldOneBack)
{
    service->holdExternally(40, 0x1200);
    click(HotKeyAction::start);
    type(HotKeyAction::start, Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(prefs->hotkeyMessage(), u"Ctrl+Shift+K is used by another app. Please choose a different one."_s);
    EXPECT_EQ(binding(HotKeyAction::start), KeyBinding::defaultFor(HotKeyAction::start));
    EXPECT_EQ(button(HotKeyAction::start).text(), u"Ctrl+Alt+R"_s);
    EXPECT_TRUE(service->press(15, kCtrlOpt)) << "the old shortcut works again";

    // An action that had no shortcut has none again.
    prefs->removeBinding(HotKeyAction::pen);
    click(HotKeyAction::pen);
    type(HotKeyAction::pen, Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_FALSE(prefs->bindings().contains(HotKeyAction::pen));
    EXPECT_EQ(button(HotKeyAction::pen).text(), u"Not Set"_s);
}

TEST_F(KeyRecorderButtonTest, ClosingTheListMidCaptureBringsTheHotKeysBack)
{
    center->setEscape(true);
    click(HotKeyAction::focus);
    EXPECT_EQ(service->registrationCount(), 0);
    window.reset();
    capture.reset();
    EXPECT_EQ(service->registrationCount(), 16);
}

TEST_F(KeyRecorderButtonTest, NothingIsTakenWhenNothingIsCaptured)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_R, kCtrlAlt);
    EXPECT_FALSE(capture->handle(press));
    EXPECT_EQ(prefs->hotkeyMessage(), std::nullopt);
}

} // namespace
