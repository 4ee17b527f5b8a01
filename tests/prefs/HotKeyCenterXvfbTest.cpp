#include "platform/core/UserDefaults.h"
#include "platform/core/XdgPaths.h"
#include "platform/x11/X11ErrorTrap.h"
#include "platform/x11/X11GlobalHotKeys.h"
#include "prefs/HotKeyBindings.h"
#include "prefs/HotKeyCenter.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"
#include "support/English.h"
#include "support/ServiceScope.h"
#include "support/TempHome.h"
#include "support/XvfbTest.h"

#include <QFile>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <vector>

// X11 last: its macros clash with names in Qt.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

using namespace corvessa;
using namespace Qt::StringLiterals;

namespace {

using Actions = std::vector<HotKeyAction>;

constexpr int kWaitMs = 5000;

// Another X client: types through XTest, and grabs keys for itself the way
// another program holding a shortcut would.
class OtherClient {
public:
    explicit OtherClient(const QString& display)
        : m_display(XOpenDisplay(display.toLocal8Bit().constData()))
    {
    }
    ~OtherClient()
    {
        if (m_display)
            XCloseDisplay(m_display);
    }
    OtherClient(const OtherClient&) = delete;
    OtherClient& operator=(const OtherClient&) = delete;

    bool isOpen() const { return m_display != nullptr; }

    // Presses the keys in order and releases them in reverse.
    void chord(std::initializer_list<KeySym> keys)
    {
        for (KeySym k : keys)
            key(k, true);
        for (auto it = std::rbegin(keys); it != std::rend(keys); ++it)
            key(*it, false);
        XSync(m_display, False);
    }
    void key(KeySym sym, bool down)
    {
        XTestFakeKeyEvent(m_display, XKeysymToKeycode(m_display, sym), down ? True : False, CurrentTime);
        XSync(m_display, False);
    }
    // The locked modifiers (Caps Lock, Num Lock) of the core keyboard.
    unsigned lockedModifiers()
    {
        XkbStateRec state{};
        XkbGetState(m_display, XkbUseCoreKbd, &state);
        return state.locked_mods;
    }

    // Whether the server grants this client the combination.
    bool grab(KeySym sym, unsigned modifiers)
    {
        X11ErrorTrap trap(m_display);
        XGrabKey(m_display, XKeysymToKeycode(m_display, sym), modifiers, DefaultRootWindow(m_display), False,
                 GrabModeAsync, GrabModeAsync);
        return trap.sync() == 0;
    }
    void ungrab(KeySym sym, unsigned modifiers)
    {
        XUngrabKey(m_display, XKeysymToKeycode(m_display, sym), modifiers, DefaultRootWindow(m_display));
        XSync(m_display, False);
    }

private:
    Display* m_display;
};

class HotKeyCenterXvfb : public test::XvfbTest {
protected:
    void SetUp() override
    {
        XvfbTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        test::useEnglish();

        other = std::make_unique<OtherClient>(s_xvfb->display());
        ASSERT_TRUE(other->isOpen());
        service = std::make_shared<X11GlobalHotKeys>(s_xvfb->display());
        ASSERT_TRUE(service->isConnected());
        center = std::make_unique<HotKeyCenter>(service);
        for (HotKeyAction a : HotKeyActions::allCases())
            center->handlers[a] = [this, a] { ++runs[a]; };
        center->onEscape = [this] { ++escapes; };
    }

    void TearDown() override
    {
        center.reset();
        service.reset();
        other.reset();
    }

    void pressCtrlAlt(KeySym key) { other->chord({XK_Control_L, XK_Alt_L, key}); }

    // Presses are ordered on our connection: once the stop shortcut has run,
    // anything pressed before it has been handled too.
    void settle()
    {
        const int before = runs[HotKeyAction::stop];
        ASSERT_TRUE(center->isRegistered(HotKeyAction::stop));
        pressCtrlAlt(XK_s);
        ASSERT_TRUE(QTest::qWaitFor([&] { return runs[HotKeyAction::stop] > before; }, kWaitMs));
        runs[HotKeyAction::stop] = before;
    }

    static QString log()
    {
        QFile f(XdgPaths::logFile());
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    test::TempHome home;
    std::unique_ptr<OtherClient> other;
    std::shared_ptr<X11GlobalHotKeys> service;
    std::unique_ptr<HotKeyCenter> center;
    std::map<HotKeyAction, int> runs;
    int escapes = 0;
};

} // namespace

TEST_F(HotKeyCenterXvfb, CtrlAltRRunsTheStartAction)
{
    ASSERT_EQ(center->apply(HotKeyBindings::defaults()), Actions{});
    pressCtrlAlt(XK_r);
    ASSERT_TRUE(QTest::qWaitFor([&] { return runs[HotKeyAction::start] == 1; }, kWaitMs));

    // Other combinations of the same key are nobody's.
    other->chord({XK_Control_L, XK_Alt_L, XK_Shift_L, XK_r});
    other->chord({XK_Control_L, XK_r});
    settle();
    EXPECT_EQ(runs, (std::map<HotKeyAction, int>{{HotKeyAction::start, 1}, {HotKeyAction::stop, 0}}));
}

TEST_F(HotKeyCenterXvfb, NumLockAndCapsLockStillTrigger)
{
    ASSERT_EQ(center->apply(HotKeyBindings::defaults()), Actions{});
    other->chord({XK_Num_Lock});
    ASSERT_NE(other->lockedModifiers() & Mod2Mask, 0u);
    pressCtrlAlt(XK_r);
    EXPECT_TRUE(QTest::qWaitFor([&] { return runs[HotKeyAction::start] == 1; }, kWaitMs));

    other->chord({XK_Caps_Lock});
    ASSERT_NE(other->lockedModifiers() & LockMask, 0u);
    pressCtrlAlt(XK_r);
    EXPECT_TRUE(QTest::qWaitFor([&] { return runs[HotKeyAction::start] == 2; }, kWaitMs));

    other->chord({XK_Num_Lock});
    pressCtrlAlt(XK_r);
    EXPECT_TRUE(QTest::qWaitFor([&] { return runs[HotKeyAction::start] == 3; }, kWaitMs));
    other->chord({XK_Caps_Lock});
    EXPECT_EQ(other->lockedModifiers() & (LockMask | Mod2Mask), 0u);
}

TEST_F(HotKeyCenterXvfb, AHeldShortcutRunsOnce)
{
    ASSERT_EQ(center->apply(HotKeyBindings::defaults()), Actions{});
    other->key(XK_Control_L, true);
    other->key(XK_Alt_L, true);
    other->key(XK_p, true);
    QTest::qWait(1200); // past the server's auto-repeat delay
    other->key(XK_p, false);
    other->key(XK_Alt_L, false);
    other->key(XK_Control_L, false);
    settle();
    EXPECT_EQ(runs[HotKeyAction::pause], 1);
}

TEST_F(HotKeyCenterXvfb, CombinationHeldByAnotherClientFailsAtLaunch)
{
    ASSERT_TRUE(other->grab(XK_r, ControlMask | Mod1Mask));
    test::ServiceScope freshPrefs{Prefs::resetShared};
    Prefs& prefs = Prefs::shared();

    EXPECT_EQ(center->registerAtLaunch(prefs), Actions{HotKeyAction::start});
    EXPECT_FALSE(center->isRegistered(HotKeyAction::start));
    EXPECT_TRUE(log().endsWith(u" [hotkeys] registered 15, failed 1：Start Recording\n"_s)) << log().toStdString();
    EXPECT_EQ(prefs.hotkeyMessage(),
              u"These shortcuts are used by other apps:Start Recording. Please change them in Settings."_s);

    // The lock variants granted before the refusal were given back.
    EXPECT_TRUE(other->grab(XK_r, ControlMask | Mod1Mask | LockMask));
    EXPECT_TRUE(other->grab(XK_r, ControlMask | Mod1Mask | Mod2Mask));
    pressCtrlAlt(XK_r);
    settle();
    EXPECT_EQ(runs[HotKeyAction::start], 0);

    // Once the other program lets go, registering again succeeds.
    for (unsigned lock : {0u, unsigned(LockMask), unsigned(Mod2Mask)})
        other->ungrab(XK_r, ControlMask | Mod1Mask | lock);
    EXPECT_EQ(center->apply(prefs.bindings()), Actions{});
    pressCtrlAlt(XK_r);
    EXPECT_TRUE(QTest::qWaitFor([&] { return runs[HotKeyAction::start] == 1; }, kWaitMs));
}

TEST_F(HotKeyCenterXvfb, TwoOfOurActionsCannotShareAKey)
{
    // The server would let the second grab replace the first without a word.
    KeyBindingMap b = HotKeyBindings::defaults();
    b[HotKeyAction::cancel] = b[HotKeyAction::pause];
    EXPECT_EQ(center->apply(b), Actions{HotKeyAction::cancel});
    pressCtrlAlt(XK_p);
    settle();
    EXPECT_EQ(runs[HotKeyAction::pause], 1);
    EXPECT_EQ(runs[HotKeyAction::cancel], 0);
}

TEST_F(HotKeyCenterXvfb, EscapeRegistersAndUnregistersOnDemand)
{
    ASSERT_EQ(center->apply(HotKeyBindings::defaults()), Actions{});
    center->setEscape(true);
    ASSERT_TRUE(center->isEscapeRegistered());
    EXPECT_FALSE(other->grab(XK_Escape, 0)) << "the server holds it for us";
    other->chord({XK_Escape});
    EXPECT_TRUE(QTest::qWaitFor([&] { return escapes == 1; }, kWaitMs));

    center->setEscape(false);
    EXPECT_FALSE(center->isEscapeRegistered());
    EXPECT_TRUE(other->grab(XK_Escape, 0));
    other->ungrab(XK_Escape, 0);
    other->chord({XK_Escape});
    settle();
    EXPECT_EQ(escapes, 1);
    EXPECT_TRUE(runs[HotKeyAction::start] == 0);
}

TEST_F(HotKeyCenterXvfb, EscapeHeldByAnotherClientIsLogged)
{
    ASSERT_TRUE(other->grab(XK_Escape, 0));
    center->setEscape(true);
    EXPECT_FALSE(center->isEscapeRegistered());
    EXPECT_TRUE(log().contains(u" [hotkeys] Esc could not be registered\n"_s));
}

TEST_F(HotKeyCenterXvfb, PausedCenterLeavesTheKeysToOthers)
{
    ASSERT_EQ(center->apply(HotKeyBindings::defaults()), Actions{});
    center->setPaused(true);
    EXPECT_TRUE(other->grab(XK_r, ControlMask | Mod1Mask));
    other->ungrab(XK_r, ControlMask | Mod1Mask);
    center->setPaused(false);
    EXPECT_FALSE(other->grab(XK_r, ControlMask | Mod1Mask));
    pressCtrlAlt(XK_r);
    EXPECT_TRUE(QTest::qWaitFor([&] { return runs[HotKeyAction::start] == 1; }, kWaitMs));
}
