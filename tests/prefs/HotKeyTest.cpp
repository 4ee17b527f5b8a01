#include "platform/core/KeyCodeMap.h"
#include "platform/core/UserDefaults.h"
#include "platform/core/XdgPaths.h"
#include "prefs/HotKeyAction.h"
#include "prefs/HotKeyBindings.h"
#include "prefs/KeyBinding.h"
#include "prefs/Loc.h"
#include "support/English.h"
#include "support/TempHome.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

using namespace corvessa;
using namespace Qt::StringLiterals;

namespace {

constexpr qint64 kCtrlOpt = 0x1800;

// A private home with its own defaults file, English texts unless a test loads
// a table.
class HotKeyTest : public ::testing::Test {
protected:
    void SetUp() override { test::useEnglish(); }
    void TearDown() override { test::useEnglish(); }

    // Switches the interface to a made-up German table.
    void useGerman(const QJsonObject& table)
    {
        const QString dir = m_home.file(u"lang"_s);
        ASSERT_TRUE(QDir().mkpath(dir));
        QFile f(dir + u"/de.json"_s);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QJsonDocument(table).toJson());
        f.close();
        Loc::setTableDirectory(dir);
        UserDefaults::standard().setString(u"language"_s, u"de"_s);
        Loc::load();
        ASSERT_EQ(Loc::code(), u"de"_s);
    }

    static void store(const QByteArray& json) { UserDefaults::standard().setData(u"hotkeys"_s, json); }

    static KeyBindingMap withDefaults(std::initializer_list<std::pair<HotKeyAction, KeyBinding>> changes)
    {
        KeyBindingMap m = HotKeyBindings::defaults();
        for (const auto& [action, binding] : changes)
            m[action] = binding;
        return m;
    }

    test::TempHome m_home;
};

// The one stored binding {"<name>": {"keyCode": code, "modifiers": mods}}.
QByteArray one(const char* name, qint64 code, qint64 mods)
{
    return QJsonDocument(QJsonObject{{QString::fromLatin1(name), QJsonObject{{"keyCode", code}, {"modifiers", mods}}}})
        .toJson(QJsonDocument::Compact);
}

} // namespace

// --- Actions ---------------------------------------------------------------

TEST_F(HotKeyTest, FifteenActionsInIndexOrderWithNamesTitlesAndDefaultKeys)
{
    struct Row {
        HotKeyAction action;
        const char* raw;
        const char* title;
        qint64 keyCode;
        const char* shown;
    };
    const Row rows[] = {
        {HotKeyAction::start, "start", "Start Recording", 15, "Ctrl+Alt+R"},
        {HotKeyAction::pause, "pause", "Pause / Resume", 35, "Ctrl+Alt+P"},
        {HotKeyAction::stop, "stop", "Stop Recording", 1, "Ctrl+Alt+S"},
        {HotKeyAction::muteMic, "muteMic", "Mute Microphone", 46, "Ctrl+Alt+M"},
        {HotKeyAction::toggleBar, "toggleBar", "Show / Hide Toolbar", 4, "Ctrl+Alt+H"},
        {HotKeyAction::focus, "focus", "Toggle Magnifier", 3, "Ctrl+Alt+F"},
        {HotKeyAction::zoomIn, "zoomIn", "Zoom In", 30, "Ctrl+Alt+]"},
        {HotKeyAction::zoomOut, "zoomOut", "Zoom Out", 33, "Ctrl+Alt+["},
        {HotKeyAction::focusMode, "focusMode", "Switch Magnifier Mode", 5, "Ctrl+Alt+G"},
        {HotKeyAction::focusReselect, "focusReselect", "Re-select Magnifier Region", 14, "Ctrl+Alt+E"},
        {HotKeyAction::pen, "pen", "Toggle Pen", 2, "Ctrl+Alt+D"},
        {HotKeyAction::restart, "restart", "Restart Recording", 45, "Ctrl+Alt+N"},
        {HotKeyAction::cancel, "cancel", "Cancel Recording", 8, "Ctrl+Alt+C"},
        {HotKeyAction::prompter, "prompter", "Show / Hide Teleprompter", 17, "Ctrl+Alt+T"},
        {HotKeyAction::cameraFullScreen, "cameraFullScreen", "Toggle Full-Screen Camera", 9, "Ctrl+Alt+V"},
    };
    const auto& all = HotKeyActions::allCases();
    ASSERT_EQ(all.size(), std::size(rows));
    for (std::size_t i = 0; i < all.size(); ++i) {
        const Row& r = rows[i];
        SCOPED_TRACE(r.raw);
        EXPECT_EQ(all[i], r.action);
        EXPECT_EQ(HotKeyActions::index(r.action), int(i));
        EXPECT_EQ(HotKeyActions::fromIndex(qint64(i)), r.action);
        EXPECT_EQ(HotKeyActions::rawValue(r.action), QString::fromLatin1(r.raw));
        EXPECT_EQ(HotKeyActions::fromRawValue(QString::fromLatin1(r.raw)), r.action);
        EXPECT_EQ(HotKeyActions::title(r.action), QString::fromUtf8(r.title));
        EXPECT_EQ(HotKeyActions::defaultKeyCode(r.action), r.keyCode);
        EXPECT_EQ(KeyBinding::defaultFor(r.action), (KeyBinding{r.keyCode, kCtrlOpt}));
        EXPECT_EQ(KeyBinding::defaultFor(r.action).display(), QString::fromUtf8(r.shown));
    }
}

TEST_F(HotKeyTest, ActionsAreFoundOnlyByTheirExactName)
{
    EXPECT_EQ(HotKeyActions::fromRawValue(u"Start"_s), std::nullopt);
    EXPECT_EQ(HotKeyActions::fromRawValue(u"record"_s), std::nullopt);
    EXPECT_EQ(HotKeyActions::fromRawValue(u""_s), std::nullopt);
    EXPECT_EQ(HotKeyActions::fromIndex(-1), std::nullopt);
    EXPECT_EQ(HotKeyActions::fromIndex(15), std::nullopt);
    EXPECT_EQ(HotKeyActions::fromIndex(999), std::nullopt);
}

TEST_F(HotKeyTest, TitlesAndKeyNamesFollowTheInterfaceLanguage)
{
    useGerman({{"Start Recording", "Aufnahme starten"}, {"Space", "Leertaste"}, {"Return", "Eingabetaste"},
               {"Key %@", "Taste %@"}});
    EXPECT_EQ(HotKeyActions::title(HotKeyAction::start), u"Aufnahme starten"_s);
    EXPECT_EQ(HotKeyActions::englishTitle(HotKeyAction::start), u"Start Recording"_s);
    EXPECT_EQ(HotKeyActions::title(HotKeyAction::stop), u"Stop Recording"_s); // no entry: English
    EXPECT_EQ(KeyBinding::keyName(49), u"Leertaste"_s);
    EXPECT_EQ(KeyBinding::keyName(36), u"Eingabetaste"_s);
    EXPECT_EQ(KeyBinding::keyName(53), u"Taste 53"_s);
    EXPECT_EQ((KeyBinding{49, 0x1100}).display(), u"Ctrl+Super+Leertaste"_s);
    EXPECT_EQ(KeyBinding::keyName(0), u"A"_s);
}

// --- Key names and display -------------------------------------------------

TEST_F(HotKeyTest, SixtyFourNamedKeys)
{
    const auto names = KeyBinding::names();
    EXPECT_EQ(names.size(), 64u);
    std::set<QString> distinct;
    for (const auto& [code, name] : names)
        distinct.insert(name);
    EXPECT_EQ(distinct.size(), 64u);

    EXPECT_EQ(KeyBinding::keyName(6), u"Z"_s);
    EXPECT_EQ(KeyBinding::keyName(29), u"0"_s);
    EXPECT_EQ(KeyBinding::keyName(49), u"Space"_s);
    EXPECT_EQ(KeyBinding::keyName(36), u"Return"_s);
    EXPECT_EQ(KeyBinding::keyName(123), u"\u2190"_s);
    EXPECT_EQ(KeyBinding::keyName(124), u"\u2192"_s);
    EXPECT_EQ(KeyBinding::keyName(126), u"\u2191"_s);
    EXPECT_EQ(KeyBinding::keyName(125), u"\u2193"_s);
    EXPECT_EQ(KeyBinding::keyName(122), u"F1"_s);
    EXPECT_EQ(KeyBinding::keyName(111), u"F12"_s);
    EXPECT_EQ(KeyBinding::keyName(42), u"\\"_s);
    EXPECT_EQ(KeyBinding::keyName(39), u"'"_s);
}

TEST_F(HotKeyTest, KeysWithoutANameShowTheirNumber)
{
    EXPECT_EQ(KeyBinding::keyName(53), u"Key 53"_s);
    EXPECT_EQ(KeyBinding::keyName(-5), u"Key -5"_s);
    EXPECT_EQ(KeyBinding::keyName(1LL << 40), u"Key 1099511627776"_s);
}

TEST_F(HotKeyTest, DisplayNamesTheModifiersInFixedOrderBeforeTheKey)
{
    EXPECT_EQ((KeyBinding{0, 0x1B00}).display(), u"Ctrl+Alt+Shift+Super+A"_s);
    EXPECT_EQ((KeyBinding{53, 0x1000}).display(), u"Ctrl+Key 53"_s);
    EXPECT_EQ((KeyBinding{35, 0x1800}).display(), u"Ctrl+Alt+P"_s);
    EXPECT_EQ((KeyBinding{1, 0x300}).display(), u"Shift+Super+S"_s);
    EXPECT_EQ((KeyBinding{49, 0}).display(), u"Space"_s);
    // Bits without a name show nothing.
    EXPECT_EQ((KeyBinding{15, 0x10000 | 0x400 | 0x100}).display(), u"Super+R"_s);
}

// The texts written with the other platform's symbols read in Linux words: a
// run before a key joins it with "+", a modifier named on its own stays alone.
TEST_F(HotKeyTest, LinuxFormRewritesSymbolRuns)
{
    EXPECT_EQ(KeyBinding::linuxForm(u"Press ⌃⌥T to show"_s), u"Press Ctrl+Alt+T to show"_s);
    EXPECT_EQ(KeyBinding::linuxForm(u"Include ⌘ or ⌃, or else"_s), u"Include Super or Ctrl, or else"_s);
    EXPECT_EQ(KeyBinding::linuxForm(u"⌃⌥] と ⌃⌥[ で、⌘ または ⌃。"_s), u"Ctrl+Alt+] と Ctrl+Alt+[ で、Super または Ctrl。"_s);
    EXPECT_EQ(KeyBinding::linuxForm(u"⌘ 또는 ⌃를"_s), u"Super 또는 Ctrl를"_s);
    EXPECT_EQ(KeyBinding::linuxForm(u"⇧⌘"_s), u"Shift+Super"_s);
    EXPECT_EQ(KeyBinding::linuxForm(u"No keys here."_s), u"No keys here."_s);

    // The menus' key column: Qt calls the Super key "Meta".
    EXPECT_EQ(KeyBinding::menuText(u"Meta+Shift+p"_s), u"Shift+Super+P"_s);
    EXPECT_EQ(KeyBinding::menuText(u"Ctrl+,"_s), u"Ctrl+,"_s);
    EXPECT_TRUE(KeyBinding::menuText(QString()).isEmpty());
    QAction action;
    KeyBinding::setMenuKey(action, u"Pen"_s, u"Ctrl+Alt+d"_s);
    EXPECT_EQ(action.text(), u"Pen"_s) << "Qt writes it as we do";
    EXPECT_EQ(action.shortcut(), QKeySequence(u"Ctrl+Alt+D"_s));
    KeyBinding::setMenuKey(action, u"Pen"_s, u"Meta+d"_s);
    EXPECT_EQ(action.text(), u"Pen\tSuper+D"_s);
    EXPECT_EQ(action.shortcut(), QKeySequence(u"Meta+D"_s));
}

// No text a user reads holds the other platform's key symbols: any binding's
// text and menu key, under every modifier set, and every text of the tables
// in every language.
TEST_F(HotKeyTest, NoTextShownHoldsTheOtherPlatformsKeySymbols)
{
    const QString symbols = u"\u2303\u2325\u21E7\u2318"_s;
    const auto clean = [&](const QString& text) {
        return std::none_of(text.begin(), text.end(), [&](QChar c) { return symbols.contains(c); });
    };
    const qint64 bits[] = {KeyBinding::control, KeyBinding::option, KeyBinding::shift, KeyBinding::command};
    for (const auto& [code, name] : KeyBinding::names()) {
        for (int set = 0; set < 16; ++set) {
            KeyBinding binding{code, 0};
            for (int i = 0; i < 4; ++i)
                binding.modifiers |= set & (1 << i) ? bits[i] : 0;
            EXPECT_TRUE(clean(binding.display())) << binding.display().toStdString();
            EXPECT_TRUE(clean(KeyBinding::menuText(binding.keyEquivalent()))) << binding.display().toStdString();
        }
    }

    UserDefaults::standard().setString(u"language"_s, u"de"_s);
    Loc::load();
    const QList<QString> keys = Loc::table().keys();
    ASSERT_GT(keys.size(), 400);
    for (const Loc::Lang& language : Loc::available()) {
        UserDefaults::standard().setString(u"language"_s, language.code);
        Loc::load();
        for (const QString& key : keys)
            EXPECT_TRUE(clean(Loc::text(key))) << language.code.toStdString() << ": " << Loc::text(key).toStdString();
    }
}

TEST_F(HotKeyTest, EveryNamedKeyCanBeGrabbedOnX11)
{
    for (const auto& [code, name] : KeyBinding::names())
        EXPECT_TRUE(KeyCodeMap::keysym(code).has_value()) << name.toStdString();
    for (HotKeyAction action : HotKeyActions::allCases()) {
        const KeyBinding b = KeyBinding::defaultFor(action);
        EXPECT_TRUE(KeyCodeMap::keysym(b.keyCode).has_value());
        EXPECT_EQ(KeyCodeMap::x11Modifiers(b.modifiers), 4u | 8u); // ControlMask | Mod1Mask
    }
}

TEST_F(HotKeyTest, CarbonKeepsOnlyTheFourModifiers)
{
    EXPECT_EQ(KeyBinding::carbon(Qt::ControlModifier | Qt::MetaModifier), 0x1100);
    EXPECT_EQ(KeyBinding::carbon(Qt::AltModifier), 0x800);
    EXPECT_EQ(KeyBinding::carbon(Qt::ShiftModifier), 0x200);
    // Qt has no Caps Lock flag; the keypad and group-switch flags stand in for
    // "other flags".
    EXPECT_EQ(KeyBinding::carbon(Qt::KeypadModifier), 0);
    EXPECT_EQ(KeyBinding::carbon(Qt::GroupSwitchModifier | Qt::KeypadModifier), 0);
}

// --- A binding's JSON ------------------------------------------------------

TEST_F(HotKeyTest, BindingJsonHasBothIntegerMembers)
{
    EXPECT_EQ(QJsonDocument((KeyBinding{15, 6144}).toJson()).toJson(QJsonDocument::Compact),
              R"({"keyCode":15,"modifiers":6144})");
    EXPECT_EQ(KeyBinding::fromJson(QJsonObject{{"keyCode", 15}, {"modifiers", 6144}, {"extra", "x"}}),
              (KeyBinding{15, 6144}));
    EXPECT_EQ(KeyBinding::fromJson(QJsonObject{{"keyCode", 15.0}, {"modifiers", 6144}}), (KeyBinding{15, 6144}));
    EXPECT_EQ(KeyBinding::fromJson(QJsonObject{{"keyCode", -1}, {"modifiers", qint64(1) << 40}}),
              (KeyBinding{-1, qint64(1) << 40}));

    const QJsonValue bad[] = {
        QJsonObject{{"keyCode", 15}},
        QJsonObject{{"modifiers", 6144}},
        QJsonObject{{"keyCode", "15"}, {"modifiers", 6144}},
        QJsonObject{{"keyCode", 15}, {"modifiers", true}},
        QJsonObject{{"keyCode", 15}, {"modifiers", QJsonValue::Null}},
        QJsonObject{{"keyCode", 1.5}, {"modifiers", 6144}},
        QJsonObject{{"keyCode", 1e30}, {"modifiers", 6144}},
        QJsonArray{15, 6144},
        QJsonValue(15),
    };
    for (const QJsonValue& v : bad)
        EXPECT_EQ(KeyBinding::fromJson(v), std::nullopt) << QJsonDocument(QJsonObject{{"v", v}}).toJson().toStdString();
}

// --- Stored bindings -------------------------------------------------------

TEST_F(HotKeyTest, WithoutStoredBindingsEveryActionHasItsDefault)
{
    const KeyBindingMap m = HotKeyBindings::load();
    ASSERT_EQ(m.size(), 15u);
    for (const auto& [action, binding] : m) {
        EXPECT_EQ(binding, KeyBinding::defaultFor(action));
        EXPECT_EQ(binding.modifiers, kCtrlOpt);
    }
    EXPECT_FALSE(UserDefaults::standard().contains(u"hotkeys"_s));
}

TEST_F(HotKeyTest, BindingsAreStoredAsCompactJsonData)
{
    HotKeyBindings::save({{HotKeyAction::start, {15, 6144}}});
    const auto data = UserDefaults::standard().data(u"hotkeys"_s);
    ASSERT_TRUE(data.has_value());
    EXPECT_EQ(*data, R"({"start":{"keyCode":15,"modifiers":6144}})");
    EXPECT_EQ(UserDefaults::standard().dictionary(u"hotkeys"_s), std::nullopt);
}

TEST_F(HotKeyTest, StoredBindingsSurviveAReopen)
{
    const KeyBindingMap changed = withDefaults({{HotKeyAction::pen, {2, 0x1100}},
                                                {HotKeyAction::stop, {122, 0x1300}},
                                                {HotKeyAction::focus, {49, 0x100}}});
    HotKeyBindings::save(changed);
    UserDefaults::reopenStandard();
    EXPECT_EQ(HotKeyBindings::load(), changed);
    EXPECT_EQ(HotKeyBindings::decode(HotKeyBindings::encode(changed)), changed);
    EXPECT_EQ(HotKeyBindings::fromJson(HotKeyBindings::toJson(changed)), changed);
}

TEST_F(HotKeyTest, AStoredBindingForOneActionKeepsTheOthersAtTheirDefaults)
{
    store(one("pen", 2, 0x1100));
    EXPECT_EQ(HotKeyBindings::load(), withDefaults({{HotKeyAction::pen, {2, 0x1100}}}));
}

TEST_F(HotKeyTest, UnreadableStoredBindingsGiveAllDefaultsAndAreKept)
{
    const QByteArray bad[] = {
        R"({"start":{"keyCode":15,"modifiers":6144},"pen":{"keyCode":2}})", // one lacks "modifiers"
        R"({"pen":{"keyCode":"2","modifiers":4352}})",                      // text, not a number
        R"({"pen":{"keyCode":2.5,"modifiers":4352}})",                      // not an integer
        R"({"pen":{"keyCode":2,"modifiers":4352},"record":7})",             // a bad unknown member spoils all
        R"({"pen":{"keyCode":2,"modifiers":4352})",                         // truncated
        R"([{"keyCode":2,"modifiers":4352}])",                              // not an object
        R"("pen")",
        "",
        "\xff\xfe{}",
    };
    for (const QByteArray& json : bad) {
        SCOPED_TRACE(json.toStdString());
        store(json);
        EXPECT_EQ(HotKeyBindings::load(), HotKeyBindings::defaults());
        EXPECT_EQ(UserDefaults::standard().data(u"hotkeys"_s), json); // not overwritten
    }
    QFile log(XdgPaths::logFile());
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(log.readAll().contains("[hotkeys] stored shortcuts unreadable"));
}

TEST_F(HotKeyTest, StoredBindingsOfAnotherTypeReadAsAbsent)
{
    UserDefaults::standard().setDictionary(u"hotkeys"_s,
                                           QJsonObject{{"pen", QJsonObject{{"keyCode", 2}, {"modifiers", 0x1100}}}});
    EXPECT_EQ(HotKeyBindings::load(), HotKeyBindings::defaults());
}

TEST_F(HotKeyTest, MembersNamingNoActionAreDropped)
{
    store(R"({"record":{"keyCode":0,"modifiers":4096},"pen":{"keyCode":2,"modifiers":4352},"Pen":{"keyCode":3,"modifiers":4352}})");
    EXPECT_EQ(HotKeyBindings::load(), withDefaults({{HotKeyAction::pen, {2, 0x1100}}}));
}

TEST_F(HotKeyTest, BindingsFromAProfileMustBeAnObject)
{
    EXPECT_EQ(HotKeyBindings::fromJson(QJsonValue(5)), std::nullopt);
    EXPECT_EQ(HotKeyBindings::fromJson(QJsonValue(u"pen"_s)), std::nullopt);
    EXPECT_EQ(HotKeyBindings::fromJson(QJsonArray{}), std::nullopt);
    // Only the actions named; no defaults and no repairs.
    EXPECT_EQ(HotKeyBindings::fromJson(QJsonObject{{"pen", QJsonObject{{"keyCode", 2}, {"modifiers", 0x800}}}}),
              (KeyBindingMap{{HotKeyAction::pen, {2, 0x800}}}));
}

// --- Repairs ---------------------------------------------------------------

TEST_F(HotKeyTest, FormerZoomKeysMoveToTheBrackets)
{
    store(one("zoomIn", 24, 0x100));
    EXPECT_EQ(HotKeyBindings::load().at(HotKeyAction::zoomIn), (KeyBinding{30, kCtrlOpt}));

    store(one("zoomOut", 27, 0x1200));
    EXPECT_EQ(HotKeyBindings::load().at(HotKeyAction::zoomOut), (KeyBinding{33, kCtrlOpt}));

    // Only zoom's own former keys move.
    store(one("zoomIn", 27, 0x100));
    EXPECT_EQ(HotKeyBindings::load().at(HotKeyAction::zoomIn), (KeyBinding{27, 0x100}));
    store(one("pen", 24, 0x100));
    EXPECT_EQ(HotKeyBindings::load().at(HotKeyAction::pen), (KeyBinding{24, 0x100}));
}

TEST_F(HotKeyTest, FormerDefaultModifiersOnADefaultKeyBecomeControlOption)
{
    store(one("stop", 1, 0x900));
    EXPECT_EQ(HotKeyBindings::load().at(HotKeyAction::stop), (KeyBinding{1, kCtrlOpt}));

    store(one("stop", 2, 0x900)); // not stop's default key
    EXPECT_EQ(HotKeyBindings::load().at(HotKeyAction::stop), (KeyBinding{2, 0x900}));

    store(one("stop", 1, 0x1900)); // not exactly option + command
    EXPECT_EQ(HotKeyBindings::load().at(HotKeyAction::stop), (KeyBinding{1, 0x1900}));
}

TEST_F(HotKeyTest, ShortcutsWithoutCommandOrControlAreReset)
{
    for (qint64 mods : {0x800LL, 0x200LL, 0x0LL, 0xA00LL, 0x400LL}) {
        store(one("pause", 2, mods));
        EXPECT_EQ(HotKeyBindings::load().at(HotKeyAction::pause), (KeyBinding{35, kCtrlOpt})) << mods;
    }
    for (qint64 mods : {0x1200LL, 0x100LL, 0x1000LL}) {
        store(one("pause", 2, mods));
        EXPECT_EQ(HotKeyBindings::load().at(HotKeyAction::pause), (KeyBinding{2, mods})) << mods;
    }
}

TEST_F(HotKeyTest, RepairsRunInOrder)
{
    // The zoom key moves with new modifiers before the modifier check, so the
    // binding survives with control + option rather than being reset.
    EXPECT_EQ(HotKeyBindings::repaired({{HotKeyAction::zoomIn, {24, 0x800}}}).at(HotKeyAction::zoomIn),
              (KeyBinding{30, kCtrlOpt}));
    // Defaults are filled before any rule, and every action comes out bound.
    const KeyBindingMap all = HotKeyBindings::repaired({});
    EXPECT_EQ(all, HotKeyBindings::defaults());
}

TEST_F(HotKeyTest, RepairsAreNotWrittenBack)
{
    const QByteArray stored = one("zoomIn", 24, 0x100);
    store(stored);
    EXPECT_EQ(HotKeyBindings::load().at(HotKeyAction::zoomIn), (KeyBinding{30, kCtrlOpt}));
    EXPECT_EQ(UserDefaults::standard().data(u"hotkeys"_s), stored);
}
