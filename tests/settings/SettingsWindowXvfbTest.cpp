// The settings window on a real X server with openbox: opened from nothing on
// General with its ten tabs, each built pane kept as a screenshot, the lock of
// the Recording pane during a recording, shortcut capture from real key
// presses (including a combination another X client holds), a language switch
// that keeps the pane, and Esc hiding it. The checks run in a second run of
// the program on the private server (the disabled test below).
#include "model/Stealth.h"
#include "platform/core/UserDefaults.h"
#include "platform/synthetic/SyntheticCameraService.h"
#include "platform/x11/X11GlobalHotKeys.h"
#include "prefs/HotKeyCenter.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"
#include "prefs/ShortcutCapture.h"
#include "settings/AboutPane.h"
#include "settings/CameraControlsDialog.h"
#include "settings/SettingRow.h"
#include "settings/SettingsFrameWindow.h"
#include "settings/SettingsView.h"
#include "settings/SettingsWindow.h"
#include "settings/ShortcutsPane.h"
#include "support/DrivenTest.h"
#include "support/English.h"
#include "support/OnServerTest.h"
#include "support/ServiceScope.h"
#include "support/TempHome.h"
#include "support/WindowManager.h"
#include "support/XvfbTest.h"

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolBar>
#include <QWindow>

#include <gtest/gtest.h>


#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace corvessa::test {
namespace {

using namespace Qt::StringLiterals;

class SettingsWindowXvfbTest : public XvfbTest {};

TEST_F(SettingsWindowXvfbTest, OpensCapturesSwitchesLanguageAndHides)
{
    runOnServer("SettingsWindowOnX.DISABLED_Works");
}

// At twice the scale the 1280×800 screen is 640×400 points: less than the
// window's natural size.
TEST_F(SettingsWindowXvfbTest, FitsASmallScreenAtTwiceTheScale)
{
    runOnServer("SettingsWindowOnX.DISABLED_FitsTheScreen", {u"QT_SCALE_FACTOR=2"_s});
}

class SettingsWindowOnX : public OnServerTest {
protected:
    void SetUp() override
    {
        OnServerTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        home = std::make_unique<TempHome>();
        useEnglish();
        Prefs::resetShared();
        prefs = &Prefs::shared();
        center = std::make_unique<HotKeyCenter>(std::make_shared<X11GlobalHotKeys>());
        center->apply(prefs->bindings());
        SettingsWindow::configure({nullptr, center.get(), nullptr, [this](QWindow* w) { stealth.track(w); }, {}, {}});
    }

    void TearDown() override
    {
        SettingsWindow::discard();
        spin(50);
        center.reset();
        Prefs::resetShared();
        home.reset();
        OnServerTest::TearDown();
    }

    SettingsFrameWindow* window() const { return SettingsWindow::window(); }

    bool focused()
    {
        return waitFor([this] {
            if (QApplication::activeWindow() != window())
                window()->activateWindow();
            return QApplication::activeWindow() == window();
        }, 15000);
    }

    QStringList tabTitles() const
    {
        QStringList titles;
        for (QAction* tab : window()->tabBar()->actions())
            titles << tab->text();
        return titles;
    }

    std::unique_ptr<TempHome> home;
    Prefs* prefs = nullptr;
    std::unique_ptr<HotKeyCenter> center;
    Stealth stealth;
};

ON_SERVER_TEST_F(SettingsWindowOnX, Works)
{
    SettingsWindow::show();
    ASSERT_TRUE(window());
    ASSERT_TRUE(waitFor([this] { return window()->isVisible() && window()->windowHandle()->isExposed(); }));
    EXPECT_EQ(window()->windowTitle(), u"General"_s);
    EXPECT_EQ(tabTitles(), (QStringList{u"General"_s, u"Recording"_s, u"Audio"_s, u"Cursor"_s, u"Magnifier"_s,
                                        u"Pen"_s, u"Camera"_s, u"Permissions"_s, u"Shortcuts"_s, u"About"_s}));
    EXPECT_EQ(Stealth::sharing(window()->windowHandle()), Stealth::Sharing::readOnly) << "registered, not hidden";
    stealth.setActive(true);
    EXPECT_EQ(Stealth::sharing(window()->windowHandle()), Stealth::Sharing::none);
    stealth.setActive(false);

    for (SettingsPane pane : SettingsPanes::allCases) {
        if (pane == SettingsPane::audio)
            continue; // this window has no model: the audio pane is shot by its own test
        SettingsWindow::show(pane);
        EXPECT_EQ(window()->windowTitle(), SettingsPanes::title(pane));
        spin(300);
        WindowManager::keepScreenshot(u"settings-"_s + SettingsPanes::rawValue(pane) + u".png"_s);
    }

    auto* about = qobject_cast<AboutPane*>(window()->view(SettingsPane::about)->content());
    ASSERT_TRUE(about);
    about->setPage(AboutPane::Page::usage);
    spin(300);
    WindowManager::keepScreenshot(u"settings-about-guide.png"_s);

    // The camera's own controls, of the synthetic camera.
    std::optional<ServiceScope> camera{std::in_place, std::make_shared<SyntheticCameraService>()};
    SettingsWindow::show(SettingsPane::camera);
    window()->view(SettingsPane::camera)->content()->findChild<QPushButton*>(u"videoEffects"_s)->click();
    auto* effects = window()->findChild<CameraControlsDialog*>();
    ASSERT_TRUE(effects);
    spin(300);
    WindowManager::keepScreenshot(u"settings-camera-controls.png"_s);
    effects->close();
    camera.reset();

    // The Recording pane is locked while a recording runs.
    SettingsWindow::show(SettingsPane::recording);
    prefs->setIsRecording(true);
    EXPECT_TRUE(window()->view(SettingsPane::recording)->isLocked());
    EXPECT_FALSE(window()->view(SettingsPane::recording)->content()->isEnabled());
    EXPECT_TRUE(window()->view(SettingsPane::focus)->content()->isEnabled());
    spin(300);
    WindowManager::keepScreenshot(u"settings-recording-locked.png"_s);
    prefs->setIsRecording(false);
    EXPECT_TRUE(window()->view(SettingsPane::recording)->content()->isEnabled());

    // Shortcuts typed on the keyboard.
    SettingsWindow::show(SettingsPane::shortcuts);
    ASSERT_TRUE(focused());
    auto* pane = window()->view(SettingsPane::shortcuts)->content()->findChild<ShortcutsPane*>();
    if (!pane)
        pane = qobject_cast<ShortcutsPane*>(window()->view(SettingsPane::shortcuts)->content());
    ASSERT_TRUE(pane);
    ShortcutCapture& capture = pane->capture();

    capture.setRecording(HotKeyAction::start);
    chord({XK_Alt_L, XK_Shift_L, XK_k});
    EXPECT_TRUE(waitFor([&] { return prefs->hotkeyMessage() == u"Include Ctrl or Super, or the shortcut won't work."_s; }));
    EXPECT_EQ(capture.recording(), HotKeyAction::start);

    chord({XK_Control_L, XK_Alt_L, XK_s});
    EXPECT_TRUE(waitFor([&] {
        return prefs->hotkeyMessage() == u"Ctrl+Alt+S is already used for “Stop Recording”. Please choose a different one."_s;
    })) << prefs->hotkeyMessage().value_or(QString()).toStdString();

    capture.setRecording(HotKeyAction::start);
    chord({XK_Control_L, XK_Shift_L, XK_j});
    EXPECT_TRUE(waitFor([&] { return prefs->bindings().at(HotKeyAction::start) == KeyBinding{38, 0x1200}; }));
    EXPECT_TRUE(center->isRegistered(HotKeyAction::start));
    // Another X client holds Ctrl+Shift+K: the old shortcut and its stored data stay.
    const QByteArray before = UserDefaults::standard().data(u"hotkeys"_s).value_or(QByteArray());
    XGrabKey(m_x, XKeysymToKeycode(m_x, XK_k), ControlMask | ShiftMask, DefaultRootWindow(m_x), False, GrabModeAsync,
             GrabModeAsync);
    XSync(m_x, False);
    capture.setRecording(HotKeyAction::start);
    // The grab takes the keys of our window too: the press is typed as the
    // other program's, so the capture sees nothing; set() is what the capture
    // would call with it.
    capture.set(HotKeyAction::start, 40, 0x1200);
    EXPECT_EQ(prefs->hotkeyMessage(), u"Ctrl+Shift+K is used by another app. Please choose a different one."_s);
    EXPECT_EQ(UserDefaults::standard().data(u"hotkeys"_s).value_or(QByteArray()), before);
    EXPECT_EQ(prefs->bindings().at(HotKeyAction::start), (KeyBinding{38, 0x1200}));
    EXPECT_FALSE(before.isEmpty());
    capture.setRecording(std::nullopt);
    EXPECT_TRUE(center->isRegistered(HotKeyAction::start)) << "the old shortcut is held again";
    XUngrabKey(m_x, XKeysymToKeycode(m_x, XK_k), ControlMask | ShiftMask, DefaultRootWindow(m_x));
    XSync(m_x, False);

    pane->reset(HotKeyAction::start);
    EXPECT_EQ(prefs->bindings().at(HotKeyAction::start), (KeyBinding{15, 0x1800}));

    // Esc during a capture ends it and leaves the window up.
    capture.setRecording(HotKeyAction::pen);
    key(XK_Escape);
    EXPECT_TRUE(waitFor([&] { return !capture.recording(); }));
    EXPECT_TRUE(window()->isVisible());

    // A new language rebuilds the window on the same pane.
    SettingsFrameWindow* old = window();
    const QRectF oldFrame = QRectF(old->frameGeometry());
    Loc::choose(u"de"_s);
    ASSERT_TRUE(waitFor([&] { return window() && window() != old && window()->isVisible(); }));
    EXPECT_EQ(window()->selectedPane(), SettingsPane::shortcuts);
    EXPECT_EQ(window()->windowTitle(), Loc::text(u"Shortcuts"_s));
    EXPECT_EQ(Loc::code(), u"de"_s);
    bool translatedRow = false;
    for (SettingRow* row : window()->findChildren<SettingRow*>())
        translatedRow = translatedRow || (row->title() == HotKeyActions::title(HotKeyAction::start) &&
                                          row->title() != u"Start Recording"_s);
    EXPECT_TRUE(translatedRow) << "the rows are in German";
    EXPECT_EQ(tabTitles().first(), Loc::text(u"General"_s));
    ASSERT_TRUE(waitFor([&] { return window()->windowOpacity() == 1.0; }));
    spin(500);
    const QRectF frame = QRectF(window()->frameGeometry());
    EXPECT_NEAR(frame.center().x(), oldFrame.center().x(), 2);
    EXPECT_NEAR(frame.top(), oldFrame.top(), 40);
    WindowManager::keepScreenshot(u"settings-shortcuts-de.png"_s);

    // Esc hides it; the next show brings back the same window.
    ASSERT_TRUE(focused());
    SettingsFrameWindow* kept = window();
    key(XK_Escape);
    EXPECT_TRUE(waitFor([&] { return !kept->isVisible(); }));
    SettingsWindow::show();
    EXPECT_EQ(window(), kept);
    EXPECT_TRUE(waitFor([&] { return kept->isVisible(); }));
    Loc::choose(u"en"_s);
}

ON_SERVER_TEST_F(SettingsWindowOnX, FitsTheScreen)
{
    SettingsWindow::show();
    ASSERT_TRUE(window());
    ASSERT_TRUE(waitFor([this] { return window()->windowHandle()->isExposed() && window()->windowOpacity() == 1.0; }));
    spin(300);
    QScreen* screen = window()->screen();
    ASSERT_TRUE(screen);
    ASSERT_EQ(screen->devicePixelRatio(), 2);
    const QRect room = screen->availableGeometry();
    const QRect frame = window()->frameGeometry();
    EXPECT_FALSE(window()->windowHandle()->frameMargins().isNull()) << "framed by the window manager";
    EXPECT_TRUE(room.contains(frame)) << "frame " << frame.x() << "," << frame.y() << " " << frame.width() << "×"
                                      << frame.height() << " on " << room.width() << "×" << room.height();
    WindowManager::keepScreenshot(u"settings-scale-2.png"_s);
    // What no longer fits scrolls, on every pane.
    for (SettingsPane pane : {SettingsPane::general, SettingsPane::shortcuts}) {
        SettingsWindow::show(pane);
        spin(100);
        auto* scroll = window()->view(pane)->findChild<QScrollArea*>();
        ASSERT_TRUE(scroll);
        EXPECT_GT(scroll->verticalScrollBar()->maximum(), 0) << SettingsPanes::rawValue(pane).toStdString();
        EXPECT_TRUE(room.contains(window()->frameGeometry())) << "the window keeps its size across tabs";
    }
}

} // namespace
} // namespace corvessa::test
