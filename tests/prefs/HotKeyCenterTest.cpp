#include "platform/core/KeyCodeMap.h"
#include "platform/core/UserDefaults.h"
#include "platform/core/XdgPaths.h"
#include "platform/synthetic/SyntheticGlobalHotKeys.h"
#include "prefs/HotKeyBindings.h"
#include "prefs/HotKeyCenter.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"
#include "support/English.h"
#include "support/ServiceScope.h"
#include "support/TempHome.h"

#include <QCoreApplication>
#include <QFile>

#include <gtest/gtest.h>

#include <memory>

using namespace corvessa;
using namespace Qt::StringLiterals;

namespace {

constexpr qint64 kCtrlOpt = 0x1800;

using Actions = std::vector<HotKeyAction>;

// A center on a synthetic service, with a private home for the log and the
// defaults, and every action counting its runs.
class HotKeyCenterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::useEnglish();
        for (HotKeyAction a : HotKeyActions::allCases())
            center->handlers[a] = [this, a] { ++runs[a]; };
        center->onEscape = [this] { ++escapes; };
    }

    static void runMainQueue()
    {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }

    static QString log()
    {
        QFile f(XdgPaths::logFile());
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    // Presses an action's default combination.
    bool pressDefault(HotKeyAction a)
    {
        return service->press(HotKeyActions::defaultKeyCode(a), kCtrlOpt);
    }

    test::TempHome home;
    std::shared_ptr<SyntheticGlobalHotKeys> service = std::make_shared<SyntheticGlobalHotKeys>();
    std::unique_ptr<HotKeyCenter> center = std::make_unique<HotKeyCenter>(service);
    std::map<HotKeyAction, int> runs;
    int escapes = 0;
};

TEST_F(HotKeyCenterTest, DefaultsRegisterAndEachPressRunsItsOwnHandlerLater)
{
    EXPECT_EQ(center->apply(HotKeyBindings::defaults()), Actions{});
    EXPECT_EQ(service->registrationCount(), 15);
    for (HotKeyAction a : HotKeyActions::allCases())
        EXPECT_TRUE(center->isRegistered(a));

    ASSERT_TRUE(pressDefault(HotKeyAction::stop));
    // Never inside the platform's callback.
    EXPECT_TRUE(runs.empty());
    runMainQueue();
    EXPECT_EQ(runs, (std::map<HotKeyAction, int>{{HotKeyAction::stop, 1}}));

    // A combination of nobody's does nothing at all.
    EXPECT_FALSE(service->press(15, 0x1900));
    runMainQueue();
    EXPECT_EQ(runs.size(), 1u);
}

TEST_F(HotKeyCenterTest, MissingHandlerAndUnknownIdentifiersDoNothing)
{
    center->apply(HotKeyBindings::defaults());
    center->handlers.erase(HotKeyAction::stop);
    pressDefault(HotKeyAction::stop);
    // Identifiers past the fifteen, negative ones and Escape without an action.
    center->onEscape = nullptr;
    for (int id : {15, 16, 998, 1000, -1, HotKeyCenter::escapeIdentifier})
        service->deliver(id);
    runMainQueue();
    EXPECT_TRUE(runs.empty()) << "no stray event may fall back to the first action";
}

TEST_F(HotKeyCenterTest, ApplyReplacesRegistrationsWithoutLeaks)
{
    center->apply(HotKeyBindings::defaults());
    center->apply(HotKeyBindings::defaults());
    EXPECT_EQ(service->registrationCount(), 15);

    KeyBindingMap withoutPen = HotKeyBindings::defaults();
    withoutPen.erase(HotKeyAction::pen);
    EXPECT_EQ(center->apply(withoutPen), Actions{}) << "an unbound action is not a failure";
    EXPECT_EQ(service->registrationCount(), 14);
    EXPECT_FALSE(center->isRegistered(HotKeyAction::pen));

    // A moved binding no longer answers on its old combination.
    KeyBindingMap moved = HotKeyBindings::defaults();
    moved[HotKeyAction::start] = {0, 0x1100}; // Ctrl+Super+A
    center->apply(moved);
    EXPECT_FALSE(pressDefault(HotKeyAction::start));
    EXPECT_TRUE(service->press(0, 0x1100));
    runMainQueue();
    EXPECT_EQ(runs[HotKeyAction::start], 1);

    EXPECT_EQ(center->apply({}), Actions{});
    EXPECT_EQ(service->registrationCount(), 0);
}

TEST_F(HotKeyCenterTest, FailuresComeBackInIndexOrder)
{
    service->holdExternally(HotKeyActions::defaultKeyCode(HotKeyAction::prompter), kCtrlOpt);
    service->holdExternally(HotKeyActions::defaultKeyCode(HotKeyAction::start), kCtrlOpt);
    KeyBindingMap b = HotKeyBindings::defaults();
    // Our own clash: the later action loses, as it would to another program.
    b[HotKeyAction::cancel] = b[HotKeyAction::pause];
    // A key code with no key behind it.
    b[HotKeyAction::zoomIn] = {4000, kCtrlOpt};

    const Actions expected{HotKeyAction::start, HotKeyAction::zoomIn, HotKeyAction::cancel, HotKeyAction::prompter};
    EXPECT_EQ(center->apply(b), expected);
    EXPECT_EQ(center->failures(), expected);
    EXPECT_EQ(service->registrationCount(), 11);
    EXPECT_TRUE(center->isRegistered(HotKeyAction::pause));

    // The pause key still runs pause, not cancel.
    pressDefault(HotKeyAction::pause);
    runMainQueue();
    EXPECT_EQ(runs, (std::map<HotKeyAction, int>{{HotKeyAction::pause, 1}}));

    // Once the other program lets go, a new apply gets it.
    service->releaseExternally(HotKeyActions::defaultKeyCode(HotKeyAction::start), kCtrlOpt);
    EXPECT_EQ(center->apply(b), (Actions{HotKeyAction::zoomIn, HotKeyAction::cancel, HotKeyAction::prompter}));
}

TEST_F(HotKeyCenterTest, ModifierBitsBeyondTheFourAreIgnored)
{
    KeyBindingMap b;
    b[HotKeyAction::start] = {15, 0x1800 | 0x10000 | 0x1};
    EXPECT_EQ(center->apply(b), Actions{});
    EXPECT_TRUE(pressDefault(HotKeyAction::start));
}

TEST_F(HotKeyCenterTest, EscapeIsIndependentOfTheShortcuts)
{
    center->setEscape(true);
    center->setEscape(true);
    EXPECT_TRUE(center->isEscapeRegistered());
    EXPECT_EQ(service->registrationCount(), 1) << "registered once";

    center->apply(HotKeyBindings::defaults());
    center->apply({});
    EXPECT_TRUE(center->isEscapeRegistered()) << "survives re-registration";
    EXPECT_TRUE(service->press(KeyCodeMap::escapeKeyCode, 0));
    runMainQueue();
    EXPECT_EQ(escapes, 1);
    EXPECT_TRUE(runs.empty());

    center->setEscape(false);
    center->setEscape(false);
    EXPECT_FALSE(center->isEscapeRegistered());
    EXPECT_EQ(service->registrationCount(), 0);
    EXPECT_FALSE(service->press(KeyCodeMap::escapeKeyCode, 0));
}

// A pop-up menu never has the keyboard focus: while one is open Escape is
// held for it, closes it alone (the tools' Escape waits for the next press),
// and stays held for the tools after the menu closed.
TEST_F(HotKeyCenterTest, EscapeClosesAnOpenMenuFirst)
{
    int closes = 0;
    center->setMenuEscape([&] { ++closes; });
    EXPECT_TRUE(center->isEscapeRegistered()) << "held with no tool on";
    EXPECT_TRUE(service->press(KeyCodeMap::escapeKeyCode, 0));
    runMainQueue();
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(escapes, 0);

    center->setEscape(true);
    center->setEscape(false); // a tool went off while the menu was open
    EXPECT_TRUE(center->isEscapeRegistered());
    center->setEscape(true);
    center->setMenuEscape({});
    EXPECT_TRUE(center->isEscapeRegistered()) << "the tool still wants it";
    EXPECT_TRUE(service->press(KeyCodeMap::escapeKeyCode, 0));
    runMainQueue();
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(escapes, 1);

    center->setEscape(false);
    EXPECT_FALSE(center->isEscapeRegistered());
    // Paused for a shortcut being typed, then back with the menu's hold.
    center->setMenuEscape([&] { ++closes; });
    center->setPaused(true);
    EXPECT_FALSE(center->isEscapeRegistered());
    center->setPaused(false);
    EXPECT_TRUE(center->isEscapeRegistered());
}

TEST_F(HotKeyCenterTest, RefusedEscapeIsLoggedAndRetriedOnTheNextRequest)
{
    service->holdExternally(KeyCodeMap::escapeKeyCode, 0);
    center->setEscape(true);
    EXPECT_FALSE(center->isEscapeRegistered());
    EXPECT_TRUE(log().contains(u" [hotkeys] Esc could not be registered\n"_s)) << log().toStdString();

    service->releaseExternally(KeyCodeMap::escapeKeyCode, 0);
    center->setEscape(true);
    EXPECT_TRUE(center->isEscapeRegistered());
}

TEST_F(HotKeyCenterTest, ActionsMayRegisterAgainWhileTheyRun)
{
    center->apply(HotKeyBindings::defaults());
    center->handlers[HotKeyAction::pen] = [this] {
        center->setEscape(true);
        center->apply({});
    };
    pressDefault(HotKeyAction::pen);
    runMainQueue();
    EXPECT_TRUE(center->isEscapeRegistered());
    EXPECT_EQ(service->registrationCount(), 1);
}

TEST_F(HotKeyCenterTest, DestroyedCenterGivesUpItsKeysAndDropsQueuedPresses)
{
    center->apply(HotKeyBindings::defaults());
    center->setEscape(true);
    pressDefault(HotKeyAction::start);
    center.reset();
    EXPECT_EQ(service->registrationCount(), 0);
    runMainQueue(); // the queued press finds no center
    EXPECT_TRUE(runs.empty());
}

TEST_F(HotKeyCenterTest, PauseGivesUpEverythingAndResumeTakesTheLatestBack)
{
    center->apply(HotKeyBindings::defaults());
    center->setEscape(true);
    center->setPaused(true);
    EXPECT_EQ(service->registrationCount(), 0);
    EXPECT_FALSE(center->isEscapeRegistered());

    // Still a truthful answer while paused, and still nothing held.
    service->holdExternally(0, 0x1100);
    KeyBindingMap b = HotKeyBindings::defaults();
    b[HotKeyAction::focus] = {0, 0x1100};
    EXPECT_EQ(center->apply(b), Actions{HotKeyAction::focus});
    EXPECT_EQ(service->registrationCount(), 0);
    center->setEscape(false);
    center->setEscape(true);
    EXPECT_EQ(service->registrationCount(), 0);

    service->releaseExternally(0, 0x1100);
    center->setPaused(false);
    EXPECT_EQ(service->registrationCount(), 16);
    EXPECT_TRUE(center->isEscapeRegistered());
    EXPECT_TRUE(center->isRegistered(HotKeyAction::focus));
    EXPECT_EQ(center->failures(), Actions{});
}

TEST_F(HotKeyCenterTest, KeyTakenDuringPauseIsLoggedOnResume)
{
    center->apply(HotKeyBindings::defaults());
    center->setPaused(true);
    service->holdExternally(HotKeyActions::defaultKeyCode(HotKeyAction::muteMic), kCtrlOpt);
    center->setPaused(false);
    EXPECT_EQ(center->failures(), Actions{HotKeyAction::muteMic});
    EXPECT_TRUE(log().contains(u"[hotkeys] not registered again after shortcut capture: Mute Microphone\n"_s));
}

TEST_F(HotKeyCenterTest, LaunchLogLineAndMessage)
{
    test::ServiceScope freshPrefs{Prefs::resetShared};
    Prefs& prefs = Prefs::shared();

    EXPECT_EQ(center->registerAtLaunch(prefs), Actions{});
    EXPECT_TRUE(log().endsWith(u" [hotkeys] registered 15, failed 0\n"_s)) << log().toStdString();
    EXPECT_EQ(prefs.hotkeyMessage(), std::nullopt);

    service->holdExternally(HotKeyActions::defaultKeyCode(HotKeyAction::stop), kCtrlOpt);
    service->holdExternally(HotKeyActions::defaultKeyCode(HotKeyAction::start), kCtrlOpt);
    prefs.removeBinding(HotKeyAction::pen);
    EXPECT_EQ(center->registerAtLaunch(prefs), (Actions{HotKeyAction::start, HotKeyAction::stop}));
    EXPECT_TRUE(log().endsWith(u" [hotkeys] registered 14, failed 2：Start Recording、Stop Recording\n"_s))
        << log().toStdString();
    EXPECT_EQ(prefs.hotkeyMessage(), u"These shortcuts are used by other apps:Start Recording、Stop Recording. "
                                     u"Please change them in Settings."_s);
}

TEST(HotKeyCenterLogLine, ShowsTitlesOnlyWhenSomeFailed)
{
    EXPECT_EQ(HotKeyCenter::launchLogLine(0, {}), u"[hotkeys] registered 0, failed 0"_s);
    EXPECT_EQ(HotKeyCenter::launchLogLine(15, {HotKeyAction::cameraFullScreen}),
              u"[hotkeys] registered 15, failed 1：Toggle Full-Screen Camera"_s);
}

} // namespace
