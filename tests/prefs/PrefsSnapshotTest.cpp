#include "platform/GlobalHotKeys.h"
#include "platform/core/UserDefaults.h"
#include "platform/synthetic/SyntheticGlobalHotKeys.h"
#include "prefs/HotKeyBindings.h"
#include "prefs/HotKeyCenter.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"
#include "prefs/TeleprompterServices.h"
#include "support/English.h"
#include "support/ServiceScope.h"
#include "support/TempHome.h"
#include "PrefsRows.h"

#include <QJsonArray>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace corvessa;
using namespace Qt::StringLiterals;
using corvessa::test::PrefsRows;

namespace {

using Row = PrefsTable::Row;

// A teleprompter that records what it is given.
class FakeTeleprompter : public TeleprompterServices {
public:
    double speedValue = 55, opacityValue = 0.6, fontValue = 30;
    int assignments = 0;
    double speed() const override { return speedValue; }
    void setSpeed(double v) override { speedValue = v; ++assignments; }
    double opacity() const override { return opacityValue; }
    void setOpacity(double v) override { opacityValue = v; ++assignments; }
    double fontSize() const override { return fontValue; }
    void setFontSize(double v) override { fontValue = v; ++assignments; }
};

class PrefsSnapshotTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        GlobalHotKeys::setCurrent(std::make_shared<SyntheticGlobalHotKeys>());
        test::useEnglish();
        Prefs::resetShared();
    }

    static Prefs& prefs() { return Prefs::shared(); }

    // Every setting in a profile set to one of two in-range values, then
    // applied once so that camera size and resolution (and frame rate and fps)
    // agree, with shortcuts of its own for the first.
    static void setEverything(Prefs& p, bool first)
    {
        for (const Row& row : PrefsTable::rows()) {
            if (row.inProfile)
                row.assign(p, PrefsRows::pick(row, first));
        }
        KeyBindingMap bindings = HotKeyBindings::defaults();
        if (first) {
            bindings[HotKeyAction::pen] = KeyBinding{35, KeyBinding::command | KeyBinding::shift};
            bindings[HotKeyAction::prompter] = KeyBinding{17, KeyBinding::control | KeyBinding::shift};
        }
        p.setBindings(bindings);
        p.apply(p.snapshot());
    }

    test::TempHome m_home;
};

const QStringList kSnapshotKeys = {
    u"fps"_s, u"qualityTier"_s, u"customMbps"_s, u"outputSize"_s, u"countdown"_s, u"cursorTheme"_s,
    u"cursorArt"_s, u"cursorArrow"_s, u"cursorSize"_s, u"cursorSizeSys"_s, u"shadowUp"_s, u"shadowDown"_s,
    u"focusFrac"_s, u"focusLive"_s, u"focusCrisp"_s, u"focusSpeed"_s, u"focusMode"_s, u"penTool"_s,
    u"penWidth"_s, u"penColor"_s, u"cameraRes"_s, u"cameraFPS"_s, u"cameraSizeID"_s, u"cameraFrameRate"_s,
    u"cameraBurn"_s, u"cameraMirrored"_s, u"cameraShape"_s, u"cameraRadius"_s, u"cameraPreviewW"_s,
    u"soundTick"_s, u"soundStart"_s, u"soundEnd"_s, u"compactRecordingBar"_s, u"prompterSpeed"_s,
    u"prompterOpacity"_s, u"prompterFont"_s, u"hotkeys"_s,
};

TEST_F(PrefsSnapshotTest, SnapshotHoldsExactlyTheProfileKeysWithTheirTypes)
{
    const QJsonObject s = prefs().snapshot();
    QStringList keys = s.keys();
    QStringList expected = kSnapshotKeys;
    keys.sort();
    expected.sort();
    EXPECT_EQ(keys, expected);
    EXPECT_EQ(s.size(), 37);
    // Never in a profile.
    for (const QString& key : {u"saveFolder"_s, u"showShortcutHints"_s, u"soundPause"_s, u"soundLaunch"_s,
                              u"hotkeyMessage"_s, u"isRecording"_s, u"outputShort"_s, u"previewW"_s})
        EXPECT_FALSE(s.contains(key)) << key.toStdString();

    EXPECT_EQ(s[u"fps"_s], QJsonValue(30));
    EXPECT_EQ(s[u"outputSize"_s], QJsonValue(1080));
    EXPECT_EQ(s[u"focusFrac"_s], QJsonValue(0.29));
    EXPECT_EQ(s[u"cameraPreviewW"_s], QJsonValue(250));
    EXPECT_EQ(s[u"cameraSizeID"_s], QJsonValue(u"1280x720"_s));
    EXPECT_TRUE(s[u"countdown"_s].isBool());
    // The teleprompter's defaults while no teleprompter exists.
    EXPECT_EQ(s[u"prompterSpeed"_s], QJsonValue(40));
    EXPECT_EQ(s[u"prompterOpacity"_s], QJsonValue(0.85));
    EXPECT_EQ(s[u"prompterFont"_s], QJsonValue(26));
    // The shortcuts as stored: action name -> {"keyCode", "modifiers"}.
    EXPECT_EQ(s[u"hotkeys"_s].toObject(), HotKeyBindings::toJson(prefs().bindings()));
    EXPECT_EQ(s[u"hotkeys"_s].toObject().size(), 15);
}

TEST_F(PrefsSnapshotTest, ApplyOfSnapshotIsARoundTripOverEveryField)
{
    Prefs& p = prefs();
    setEverything(p, true);
    const QJsonObject before = p.snapshot();

    setEverything(p, false);
    const QJsonObject changed = p.snapshot();
    for (const QString& key : kSnapshotKeys)
        EXPECT_NE(changed[key], before[key]) << "test values must differ: " << key.toStdString();

    p.apply(before);
    const QJsonObject after = p.snapshot();
    for (const QString& key : kSnapshotKeys)
        EXPECT_EQ(after[key], before[key]) << key.toStdString();

    // Every value went through its setter into the store: a fresh start reads the same.
    Prefs::resetShared();
    EXPECT_EQ(Prefs::shared().snapshot(), before);
}

TEST_F(PrefsSnapshotTest, RoundTripExceptionsFollowTheSizeAndRate)
{
    Prefs& p = prefs();
    p.setCameraRes(1080);
    p.setCameraSizeID(u"1280x720"_s);
    p.setCameraFPS(30);
    p.setCameraFrameRate(12.4);
    p.setCursorSize(3);
    p.setQualityTier(7);
    p.apply(p.snapshot());
    EXPECT_EQ(p.cameraSizeID(), u"1280x720"_s);
    EXPECT_EQ(p.cameraRes(), 720);
    EXPECT_EQ(p.cameraFrameRate(), 12.4);
    EXPECT_EQ(p.cameraFPS(), 12);
    EXPECT_EQ(p.cursorSize(), 2);
    EXPECT_EQ(p.qualityTier(), 7); // out of range: skipped, so it stays
}

TEST_F(PrefsSnapshotTest, ApplyRefusesIntegersOutOfRangeAndClampsNumbers)
{
    Prefs& p = prefs();
    for (const Row& row : PrefsTable::rows()) {
        if (!row.inProfile || row.customProfile || std::holds_alternative<bool>(row.fallback))
            continue;
        const QString name = row.name();
        const auto applied = [&](double v) {
            p.apply(QJsonObject{{name, v}});
            return row.current(p);
        };
        if (std::holds_alternative<int>(row.fallback)) {
            const QJsonValue before = row.current(p);
            for (const double out : {row.lo - 1, row.hi + 1, 1e300, -1e300})
                EXPECT_EQ(applied(out), before) << row.storeKey << " " << out;
            // The edges, with fractions cut off before the check.
            EXPECT_EQ(applied(row.hi + 0.9), QJsonValue(int(row.hi))) << row.storeKey;
            EXPECT_EQ(applied(row.lo), QJsonValue(int(row.lo))) << row.storeKey;
        } else {
            EXPECT_EQ(applied(row.lo - 1), QJsonValue(row.lo)) << row.storeKey;
            EXPECT_EQ(applied(row.hi + 1), QJsonValue(row.hi)) << row.storeKey;
        }
    }
    // The walk follows each row's range; these check the ranges themselves.
    const struct {
        const char* name;
        double given;
        double expected; // NaN: refused
    } cases[] = {
        {"fps", 0, NAN}, {"fps", 120.9, 120}, {"fps", 1e300, NAN}, {"cameraFPS", -1e300, NAN},
        {"cursorTheme", 3, NAN}, {"cursorTheme", 2, 2}, {"cursorArt", 9, NAN}, {"cursorArrow", -1, NAN},
        {"cursorArrow", 9, 9}, {"focusSpeed", 3, NAN}, {"focusMode", 2, NAN}, {"focusMode", 1, 1},
        {"penTool", 6, NAN}, {"penTool", 5, 5}, {"penColor", 12, NAN}, {"penColor", 11, 11},
        {"cameraShape", 3, NAN}, {"cameraShape", 0, 0}, {"penWidth", 40, 24}, {"focusFrac", 0.05, 0.15},
        {"prompterSpeed", 500, 200}, {"prompterOpacity", 0, 0.3}, {"prompterFont", 100, 72},
        {"customMbps", 0.2, 1}, {"cursorSizeSys", 9, 5}, {"shadowUp", -1, 0}, {"shadowDown", 3, 1},
        {"cameraRadius", 2, 0.5}, {"cameraPreviewW", 50, 120}, {"cursorSize", 0.1, 0.5},
    };
    for (const auto& c : cases) {
        const auto row = std::ranges::find_if(PrefsTable::rows(), [&](const Row& r) { return r.name() == c.name; });
        ASSERT_NE(row, PrefsTable::rows().end()) << c.name;
        // Refusals start from the middle, where neither clamp would land.
        if (std::isnan(c.expected))
            p.apply(QJsonObject{{QString::fromLatin1(c.name), (row->lo + row->hi) / 2}});
        const QJsonValue before = row->current(p);
        p.apply(QJsonObject{{QString::fromLatin1(c.name), c.given}});
        EXPECT_EQ(row->current(p).toDouble(), std::isnan(c.expected) ? before.toDouble() : c.expected)
            << c.name << " " << c.given;
    }
    // 0 is native size; other sizes start at 120.
    p.apply(QJsonObject{{u"outputSize"_s, 0}});
    EXPECT_EQ(p.outputSize(), 0);
    p.apply(QJsonObject{{u"outputSize"_s, 100}});
    p.apply(QJsonObject{{u"outputSize"_s, 4321}});
    EXPECT_EQ(p.outputSize(), 0);
    p.apply(QJsonObject{{u"outputSize"_s, 120}});
    EXPECT_EQ(p.outputSize(), 120);

    // What apply stored is what a fresh start reads.
    p.apply(QJsonObject{{u"penWidth"_s, 40}, {u"prompterSpeed"_s, 500}});
    Prefs::resetShared();
    EXPECT_EQ(Prefs::shared().penWidth(), 24);
    EXPECT_EQ(UserDefaults::standard().doubleValue(u"prompterSpeed"_s), 200.0);
}

TEST_F(PrefsSnapshotTest, ApplySkipsValuesOfTheWrongTypeOneByOne)
{
    Prefs& p = prefs();
    const QJsonObject before = p.snapshot();
    QJsonObject wrong{{u"hotkeys"_s, 5}, {u"cameraFrameRate"_s, QJsonValue::Null}};
    for (const Row& row : PrefsTable::rows()) {
        // A text for a flag or a number, a number for a text.
        if (row.inProfile && !wrong.contains(row.name()))
            wrong.insert(row.name(), std::holds_alternative<QString>(row.fallback) ? QJsonValue(1920)
                                                                                  : QJsonValue(u"1"_s));
    }
    wrong.insert(u"soundEnd"_s, false);
    p.apply(wrong);
    QJsonObject expected = before;
    expected.insert(u"soundEnd"_s, false); // the good value among them still applies
    EXPECT_EQ(p.snapshot(), expected);
}

TEST_F(PrefsSnapshotTest, QualityFallsBackOnTheLegacyKey)
{
    Prefs& p = prefs();
    p.apply(QJsonObject{{u"qualityTier"_s, 5}, {u"quality"_s, 1}});
    EXPECT_EQ(p.qualityTier(), 1);
    p.apply(QJsonObject{{u"quality"_s, 0}});
    EXPECT_EQ(p.qualityTier(), 0);
    p.apply(QJsonObject{{u"quality"_s, 2}});
    EXPECT_EQ(p.qualityTier(), 0);
    p.apply(QJsonObject{{u"qualityTier"_s, 3}, {u"quality"_s, 1}});
    EXPECT_EQ(p.qualityTier(), 3);
}

TEST_F(PrefsSnapshotTest, CameraSizeAndResolutionGoTogether)
{
    Prefs& p = prefs();
    p.apply(QJsonObject{{u"cameraRes"_s, 1080}});
    EXPECT_EQ(p.cameraSizeID(), u"1920x1080"_s);
    EXPECT_EQ(p.cameraRes(), 1080);

    p.apply(QJsonObject{{u"cameraRes"_s, 360}});
    EXPECT_EQ(p.cameraSizeID(), u"640x480"_s);
    EXPECT_EQ(p.cameraRes(), 360);

    p.apply(QJsonObject{{u"cameraRes"_s, 1080}, {u"cameraSizeID"_s, u"1280x720"_s}});
    EXPECT_EQ(p.cameraSizeID(), u"1280x720"_s);
    EXPECT_EQ(p.cameraRes(), 720);

    // Too large for a camera, or not a size at all: ignored.
    p.apply(QJsonObject{{u"cameraSizeID"_s, u"5120x2880"_s}});
    p.apply(QJsonObject{{u"cameraSizeID"_s, u"2880x2880"_s}});
    p.apply(QJsonObject{{u"cameraSizeID"_s, u"big"_s}});
    EXPECT_EQ(p.cameraSizeID(), u"1280x720"_s);
    // The largest accepted, portrait too; the short side becomes the resolution.
    p.apply(QJsonObject{{u"cameraSizeID"_s, u"2160x4096"_s}});
    EXPECT_EQ(p.cameraSizeID(), u"2160x4096"_s);
    EXPECT_EQ(p.cameraRes(), 2160);
    // Stored exactly as given; only the next start-up brings it to its plain form.
    p.apply(QJsonObject{{u"cameraSizeID"_s, u"1920xx1080"_s}});
    EXPECT_EQ(p.cameraSizeID(), u"1920xx1080"_s);
    EXPECT_EQ(p.cameraRes(), 1080);
    EXPECT_EQ(UserDefaults::standard().string(u"cameraSizeID"_s), u"1920xx1080"_s);
}

TEST_F(PrefsSnapshotTest, CameraFrameRateWinsOverFps)
{
    Prefs& p = prefs();
    p.apply(QJsonObject{{u"cameraFPS"_s, 30}, {u"cameraFrameRate"_s, 29.97}});
    EXPECT_EQ(p.cameraFrameRate(), 29.97);
    EXPECT_EQ(p.cameraFPS(), 30);

    p.apply(QJsonObject{{u"cameraFrameRate"_s, 0.2}});
    EXPECT_EQ(p.cameraFPS(), 1);
    EXPECT_EQ(p.cameraFrameRate(), 0.2);

    p.apply(QJsonObject{{u"cameraFPS"_s, 60}});
    EXPECT_EQ(p.cameraFPS(), 60);
    EXPECT_EQ(p.cameraFrameRate(), 60.0);

    p.apply(QJsonObject{{u"cameraFrameRate"_s, 500}, {u"cameraFPS"_s, 0}});
    EXPECT_EQ(p.cameraFrameRate(), 120);
    EXPECT_EQ(p.cameraFPS(), 120);

    p.apply(QJsonObject{{u"cameraFrameRate"_s, 14.5}});
    EXPECT_EQ(p.cameraFPS(), 15); // halves away from zero
}

TEST_F(PrefsSnapshotTest, ShortcutsReplaceOnlyTheActionsNamedAndAreRegisteredAgain)
{
    Prefs& p = prefs();
    const KeyBindingMap before = p.bindings();
    const KeyBinding penKey{35, KeyBinding::command | KeyBinding::shift}; // Shift+Super+P
    p.apply(QJsonObject{{u"hotkeys"_s, QJsonObject{{u"pen"_s, penKey.toJson()}, {u"noSuchAction"_s, penKey.toJson()}}}});
    KeyBindingMap expected = before;
    expected[HotKeyAction::pen] = penKey;
    EXPECT_EQ(p.bindings(), expected);
    EXPECT_EQ(HotKeyBindings::load(), expected); // stored under "hotkeys"
    EXPECT_TRUE(HotKeyCenter::shared().isRegistered(HotKeyAction::pen));
    EXPECT_TRUE(HotKeyCenter::shared().isRegistered(HotKeyAction::start));

    // One malformed entry spoils the whole object.
    p.apply(QJsonObject{{u"hotkeys"_s, QJsonObject{{u"start"_s, KeyBinding{1, KeyBinding::command}.toJson()},
                                                   {u"stop"_s, QJsonObject{{u"keyCode"_s, u"x"_s}}}}}});
    EXPECT_EQ(p.bindings(), expected);
    // An array is not a map of bindings.
    p.apply(QJsonObject{{u"hotkeys"_s, QJsonArray{1, 2}}});
    EXPECT_EQ(p.bindings(), expected);

    // A shortcut without command or control would swallow typing everywhere:
    // that entry keeps the current binding, the others apply.
    p.apply(QJsonObject{{u"hotkeys"_s, QJsonObject{{u"stop"_s, KeyBinding{0, 0}.toJson()},
                                                   {u"cancel"_s, KeyBinding{0, KeyBinding::shift}.toJson()},
                                                   {u"start"_s, KeyBinding{1, KeyBinding::control}.toJson()}}}});
    expected[HotKeyAction::start] = KeyBinding{1, KeyBinding::control};
    EXPECT_EQ(p.bindings(), expected);
}

TEST_F(PrefsSnapshotTest, TeleprompterValuesGoThroughTheRegisteredTeleprompter)
{
    FakeTeleprompter prompter;
    test::ServiceScope services{&prompter};
    Prefs& p = prefs();
    QJsonObject s = p.snapshot();
    EXPECT_EQ(s[u"prompterSpeed"_s], QJsonValue(55));
    EXPECT_EQ(s[u"prompterOpacity"_s], QJsonValue(0.6));
    EXPECT_EQ(s[u"prompterFont"_s], QJsonValue(30));

    p.apply(QJsonObject{{u"prompterSpeed"_s, 5}, {u"prompterOpacity"_s, 0.75}, {u"prompterFont"_s, u"big"_s}});
    EXPECT_EQ(prompter.speedValue, 10);
    EXPECT_EQ(prompter.opacityValue, 0.75);
    EXPECT_EQ(prompter.fontValue, 30);
    EXPECT_EQ(prompter.assignments, 2);
    // The teleprompter stores its own values; nothing is written behind its back.
    EXPECT_FALSE(UserDefaults::standard().contains(u"prompterSpeed"_s));
}

TEST_F(PrefsSnapshotTest, ApplyAnnouncesEachAssignedSetting)
{
    Prefs& p = prefs();
    std::vector<Prefs::Key> keys;
    QObject::connect(&p, &Prefs::changed, [&](Prefs::Key key) { keys.push_back(key); });
    p.apply(QJsonObject{{u"fps"_s, 60}, {u"cameraRes"_s, 1080}});
    EXPECT_EQ(keys, (std::vector{Prefs::Key::fps, Prefs::Key::cameraRes, Prefs::Key::cameraSizeID}));
}

} // namespace
