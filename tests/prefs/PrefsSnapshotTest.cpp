#include "platform/GlobalHotKeys.h"
#include "platform/core/UserDefaults.h"
#include "platform/synthetic/SyntheticGlobalHotKeys.h"
#include "prefs/HotKeyBindings.h"
#include "prefs/HotKeyCenter.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"
#include "prefs/TeleprompterServices.h"
#include "support/English.h"
#include "support/TempHome.h"

#include <QJsonArray>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace corvessa;
using namespace Qt::StringLiterals;

namespace {

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
    void TearDown() override { TeleprompterServices::setShared(nullptr); }

    static Prefs& prefs() { return Prefs::shared(); }

    // Every setting in a profile set to an in-range value that differs from its
    // default, with camera size and resolution (and frame rate and fps) agreeing.
    static void setEverything(Prefs& p)
    {
        p.setFps(48);
        p.setQualityTier(3);
        p.setCustomMbps(12.5);
        p.setOutputSize(1440);
        p.setCountdown(false);
        p.setCursorTheme(2);
        p.setCursorArt(7);
        p.setCursorArrow(4);
        p.setCursorSize(1.75);
        p.setCursorSizeSys(2.25);
        p.setShadowUp(0.3);
        p.setShadowDown(0.45);
        p.setFocusFrac(0.5);
        p.setFocusLive(false);
        p.setFocusCrisp(true);
        p.setFocusSpeed(2);
        p.setFocusMode(1);
        p.setPenTool(3);
        p.setPenWidth(7.5);
        p.setPenColor(9);
        p.setCameraRes(1080);
        p.setCameraFPS(24);
        p.setCameraSizeID(u"1920x1080"_s);
        p.setCameraFrameRate(24);
        p.setCameraBurn(false);
        p.setCameraMirrored(true);
        p.setCameraShape(1);
        p.setCameraRadius(0.3);
        p.setCameraPreviewW(333);
        p.setSoundTick(false);
        p.setSoundStart(false);
        p.setSoundEnd(false);
        p.setCompactRecordingBar(true);
        TeleprompterServices::assignSpeed(120);
        TeleprompterServices::assignOpacity(0.5);
        TeleprompterServices::assignFontSize(48);
        KeyBindingMap bindings = HotKeyBindings::defaults();
        bindings[HotKeyAction::pen] = KeyBinding{35, KeyBinding::command | KeyBinding::shift};
        bindings[HotKeyAction::prompter] = KeyBinding{17, KeyBinding::control | KeyBinding::shift};
        p.setBindings(bindings);
    }

    // Other in-range values for every setting, so an apply that skips a key shows.
    static void setOtherValues(Prefs& p)
    {
        p.setFps(10);
        p.setQualityTier(0);
        p.setCustomMbps(3);
        p.setOutputSize(0);
        p.setCountdown(true);
        p.setCursorTheme(0);
        p.setCursorArt(1);
        p.setCursorArrow(8);
        p.setCursorSize(0.6);
        p.setCursorSizeSys(4);
        p.setShadowUp(0.9);
        p.setShadowDown(0.1);
        p.setFocusFrac(0.2);
        p.setFocusLive(true);
        p.setFocusCrisp(false);
        p.setFocusSpeed(1);
        p.setFocusMode(0);
        p.setPenTool(1);
        p.setPenWidth(20);
        p.setPenColor(2);
        p.setCameraRes(480);
        p.setCameraFPS(5);
        p.setCameraSizeID(u"640x480"_s);
        p.setCameraFrameRate(5);
        p.setCameraBurn(true);
        p.setCameraMirrored(false);
        p.setCameraShape(0);
        p.setCameraRadius(0.05);
        p.setCameraPreviewW(150);
        p.setSoundTick(true);
        p.setSoundStart(true);
        p.setSoundEnd(true);
        p.setCompactRecordingBar(false);
        TeleprompterServices::assignSpeed(20);
        TeleprompterServices::assignOpacity(0.9);
        TeleprompterServices::assignFontSize(16);
        p.setBindings(HotKeyBindings::defaults());
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
    setEverything(p);
    const QJsonObject before = p.snapshot();

    setOtherValues(p);
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
    p.apply(QJsonObject{{u"fps"_s, 0}, {u"outputSize"_s, 100}, {u"cursorArt"_s, 9}, {u"penWidth"_s, 40},
                        {u"focusFrac"_s, 0.05}, {u"prompterSpeed"_s, 500}, {u"prompterOpacity"_s, 0},
                        {u"prompterFont"_s, 100}, {u"customMbps"_s, 0.2}, {u"cursorSizeSys"_s, 9},
                        {u"shadowUp"_s, -1}, {u"shadowDown"_s, 3}, {u"cameraRadius"_s, 2},
                        {u"cameraPreviewW"_s, 50}, {u"cursorSize"_s, 0.1}});
    EXPECT_EQ(p.fps(), 30);
    EXPECT_EQ(p.outputSize(), 1080);
    EXPECT_EQ(p.cursorArt(), 0);
    EXPECT_EQ(p.penWidth(), 24);
    EXPECT_EQ(p.focusFrac(), 0.15);
    EXPECT_EQ(TeleprompterServices::currentSpeed(), 200);
    EXPECT_EQ(TeleprompterServices::currentOpacity(), 0.3);
    EXPECT_EQ(TeleprompterServices::currentFontSize(), 72);
    EXPECT_EQ(p.customMbps(), 1);
    EXPECT_EQ(p.cursorSizeSys(), 5);
    EXPECT_EQ(p.shadowUp(), 0);
    EXPECT_EQ(p.shadowDown(), 1);
    EXPECT_EQ(p.cameraRadius(), 0.5);
    EXPECT_EQ(p.cameraPreviewW(), 120);
    EXPECT_EQ(p.cursorSize(), 0.5);

    // The edges of each integer range, and fractions cut off before the check.
    p.apply(QJsonObject{{u"fps"_s, 120.9}, {u"outputSize"_s, 0}, {u"cursorTheme"_s, 2}, {u"cursorArrow"_s, 9},
                        {u"focusSpeed"_s, 2}, {u"focusMode"_s, 1}, {u"penTool"_s, 5}, {u"penColor"_s, 11},
                        {u"cameraShape"_s, 0}});
    EXPECT_EQ(p.fps(), 120);
    EXPECT_EQ(p.outputSize(), 0); // native size
    EXPECT_EQ(p.cursorTheme(), 2);
    EXPECT_EQ(p.cursorArrow(), 9);
    EXPECT_EQ(p.focusSpeed(), 2);
    EXPECT_EQ(p.focusMode(), 1);
    EXPECT_EQ(p.penTool(), 5);
    EXPECT_EQ(p.penColor(), 11);
    EXPECT_EQ(p.cameraShape(), 0);

    p.apply(QJsonObject{{u"outputSize"_s, 4321}, {u"cursorTheme"_s, 3}, {u"cursorArrow"_s, -1},
                        {u"focusSpeed"_s, 3}, {u"focusMode"_s, 2}, {u"penTool"_s, 6}, {u"penColor"_s, 12},
                        {u"cameraShape"_s, 3}, {u"fps"_s, 1e300}, {u"cameraFPS"_s, -1e300}});
    EXPECT_EQ(p.outputSize(), 0);
    EXPECT_EQ(p.cursorTheme(), 2);
    EXPECT_EQ(p.cursorArrow(), 9);
    EXPECT_EQ(p.focusSpeed(), 2);
    EXPECT_EQ(p.focusMode(), 1);
    EXPECT_EQ(p.penTool(), 5);
    EXPECT_EQ(p.penColor(), 11);
    EXPECT_EQ(p.cameraShape(), 0);
    EXPECT_EQ(p.fps(), 120);
    EXPECT_EQ(p.cameraFPS(), 15);

    // What apply stored is what a fresh start reads.
    Prefs::resetShared();
    EXPECT_EQ(Prefs::shared().penWidth(), 24);
    EXPECT_EQ(UserDefaults::standard().doubleValue(u"prompterSpeed"_s), 200.0);
}

TEST_F(PrefsSnapshotTest, ApplySkipsValuesOfTheWrongTypeOneByOne)
{
    Prefs& p = prefs();
    p.apply(QJsonObject{{u"countdown"_s, u"false"_s}, {u"fps"_s, u"60"_s}, {u"penWidth"_s, true},
                        {u"focusLive"_s, 0}, {u"cameraSizeID"_s, 1920}, {u"hotkeys"_s, 5},
                        {u"cameraFrameRate"_s, QJsonValue::Null}, {u"soundEnd"_s, false}});
    EXPECT_TRUE(p.countdown());
    EXPECT_EQ(p.fps(), 30);
    EXPECT_EQ(p.penWidth(), 13);
    EXPECT_TRUE(p.focusLive());
    EXPECT_EQ(p.cameraSizeID(), u"1280x720"_s);
    EXPECT_EQ(p.bindings(), HotKeyBindings::defaults());
    EXPECT_EQ(p.cameraFrameRate(), 15);
    EXPECT_FALSE(p.soundEnd()); // the good value next to them still applies
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
    TeleprompterServices::setShared(&prompter);
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
    QStringList names;
    QObject::connect(&p, &Prefs::changed, [&](const QString& name) { names << name; });
    p.apply(QJsonObject{{u"fps"_s, 60}, {u"cameraRes"_s, 1080}});
    EXPECT_EQ(names, (QStringList{u"fps"_s, u"cameraRes"_s, u"cameraSizeID"_s}));
}

} // namespace
