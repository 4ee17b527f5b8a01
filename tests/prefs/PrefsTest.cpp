#include "platform/DisplayList.h"
#include "platform/synthetic/SyntheticDisplayList.h"
#include "platform/core/UserDefaults.h"
#include "platform/core/XdgPaths.h"
#include "prefs/HotKeyBindings.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"
#include "prefs/RecorderModelServices.h"
#include "prefs/SecurityScope.h"
#include "prefs/VideoQuality.h"
#include "support/ServiceScope.h"
#include "support/TempHome.h"

#include <QDir>
#include <QJsonObject>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <limits>

using namespace corvessa;
using namespace Qt::StringLiterals;

namespace {

UserDefaults& store()
{
    return UserDefaults::standard();
}

// Each test has a private home; prefs() reads a fresh shared instance from it.
class PrefsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Loc::setTableDirectory(u":/lang"_s);
        store().setString(u"language"_s, u"en"_s);
        Loc::load();
    }

    static Prefs& prefs()
    {
        Prefs::resetShared();
        return Prefs::shared();
    }

    QString makeFolder(const QString& relative)
    {
        const QString path = QDir::cleanPath(m_home.file(relative));
        EXPECT_TRUE(QDir().mkpath(path));
        return path;
    }

    test::TempHome m_home;
};

TEST_F(PrefsTest, FreshInstallDefaults)
{
    Prefs& p = prefs();
    EXPECT_EQ(p.saveFolder(), u""_s);
    EXPECT_EQ(p.fps(), 30);
    EXPECT_EQ(p.qualityTier(), 2);
    EXPECT_EQ(p.customMbps(), 7.5);
    EXPECT_EQ(p.outputSize(), 1080);
    EXPECT_EQ(p.cameraRes(), 720);
    EXPECT_EQ(p.cameraSizeID(), u"1280x720"_s);
    EXPECT_EQ(p.cameraFrameRate(), 15.0);
    EXPECT_TRUE(p.cameraBurn());
    EXPECT_FALSE(p.cameraMirrored());
    EXPECT_EQ(p.cameraShape(), 2);
    EXPECT_EQ(p.cameraRadius(), 0.12);
    EXPECT_EQ(p.cameraPreviewW(), 250);
    EXPECT_EQ(p.cameraFPS(), 15);
    EXPECT_EQ(p.cursorArrow(), 0);
    EXPECT_EQ(p.cursorTheme(), 1);
    EXPECT_EQ(p.cursorArt(), 0);
    EXPECT_EQ(p.shadowUp(), 0.58);
    EXPECT_EQ(p.shadowDown(), 0.7);
    EXPECT_EQ(p.cursorSizeSys(), 3.0);
    EXPECT_EQ(p.cursorSize(), 1.0);
    EXPECT_EQ(p.focusFrac(), 0.29);
    EXPECT_TRUE(p.showShortcutHints());
    EXPECT_EQ(p.focusMode(), 0);
    EXPECT_TRUE(p.focusLive());
    EXPECT_FALSE(p.focusCrisp());
    EXPECT_EQ(p.focusSpeed(), 0);
    EXPECT_EQ(p.penTool(), 0);
    EXPECT_EQ(p.penWidth(), 13);
    EXPECT_EQ(p.penColor(), 0);
    EXPECT_TRUE(p.countdown());
    EXPECT_TRUE(p.soundTick());
    EXPECT_TRUE(p.soundStart());
    EXPECT_TRUE(p.soundEnd());
    EXPECT_TRUE(p.soundPause());
    EXPECT_TRUE(p.soundLaunch());
    EXPECT_FALSE(p.compactRecordingBar());
    EXPECT_EQ(p.bindings(), HotKeyBindings::defaults());
    EXPECT_EQ(p.hotkeyMessage(), std::nullopt);
    EXPECT_FALSE(p.isRecording());
    EXPECT_EQ(p.maxShortSide(), 1080);
    EXPECT_EQ(p.saveFolderDisplay(), u"Not Configured"_s);

    // Start-up writes only the art layout migration; the bindings are not written back.
    EXPECT_EQ(store().integer(u"cursorArtLayout"_s), 2);
    EXPECT_EQ(store().integer(u"cursorArt"_s), 0);
    EXPECT_FALSE(store().contains(u"hotkeys"_s));
    EXPECT_FALSE(store().contains(u"fps"_s));
    EXPECT_FALSE(store().contains(u"saveFolder"_s));
}

TEST_F(PrefsTest, IntegerSettingsOutOfRangeFallBack)
{
    store().setInteger(u"fps"_s, 0);
    store().setInteger(u"cameraRes"_s, 100);
    store().setInteger(u"cameraFPS"_s, 0);
    EXPECT_EQ(prefs().fps(), 30);
    EXPECT_EQ(prefs().cameraRes(), 720);
    EXPECT_EQ(prefs().cameraFPS(), 15);
    EXPECT_EQ(prefs().cameraFrameRate(), 15.0); // absent: follows the camera rate

    store().setInteger(u"fps"_s, 121);
    store().setInteger(u"cameraRes"_s, 2161);
    store().setInteger(u"cameraFPS"_s, 121);
    EXPECT_EQ(prefs().fps(), 30);
    EXPECT_EQ(prefs().cameraRes(), 720);
    EXPECT_EQ(prefs().cameraFPS(), 15);

    store().setInteger(u"fps"_s, 120);
    store().setInteger(u"cameraRes"_s, 2160);
    store().setInteger(u"cameraFPS"_s, 24);
    EXPECT_EQ(prefs().fps(), 120);
    EXPECT_EQ(prefs().cameraRes(), 2160);
    EXPECT_EQ(prefs().cameraFPS(), 24);
    EXPECT_EQ(prefs().cameraFrameRate(), 24.0);

    store().setInteger(u"fps"_s, 1);
    store().setInteger(u"cameraRes"_s, 120);
    EXPECT_EQ(prefs().fps(), 1);
    EXPECT_EQ(prefs().cameraRes(), 120);
}

TEST_F(PrefsTest, ClampedSettings)
{
    store().setDouble(u"previewW"_s, 100);
    store().setDouble(u"penWidth"_s, 1);
    store().setDouble(u"focusFrac2"_s, 0.9);
    store().setDouble(u"cursorSize"_s, 9);
    store().setDouble(u"customMbps"_s, 0.5);
    store().setDouble(u"cursorSizeSys"_s, 0.1);
    store().setDouble(u"shadowUp"_s, -1);
    store().setDouble(u"shadowDown"_s, 2);
    store().setDouble(u"cameraRadius"_s, -0.2);
    store().setInteger(u"cameraShape"_s, 7);
    store().setInteger(u"cursorArrow"_s, 12);
    store().setInteger(u"focusSpeed"_s, 5);
    store().setInteger(u"penTool"_s, 9);
    store().setInteger(u"penColor"_s, -3);
    Prefs& p = prefs();
    EXPECT_EQ(p.cameraPreviewW(), 250);
    EXPECT_EQ(p.penWidth(), 2);
    EXPECT_EQ(p.focusFrac(), 0.7);
    EXPECT_EQ(p.cursorSize(), 9); // kept as stored
    EXPECT_EQ(p.customMbps(), 1);
    EXPECT_EQ(p.cursorSizeSys(), 0.5);
    EXPECT_EQ(p.shadowUp(), 0);
    EXPECT_EQ(p.shadowDown(), 1);
    EXPECT_EQ(p.cameraRadius(), 0);
    EXPECT_EQ(p.cameraShape(), 2);
    EXPECT_EQ(p.cursorArrow(), 9);
    EXPECT_EQ(p.focusSpeed(), 2);
    EXPECT_EQ(p.penTool(), 5);
    EXPECT_EQ(p.penColor(), 0);

    store().setDouble(u"previewW"_s, 600);
    store().setDouble(u"penWidth"_s, 30);
    store().setDouble(u"focusFrac2"_s, 0.01);
    store().setDouble(u"customMbps"_s, 100);
    store().setDouble(u"cameraRadius"_s, 0.9);
    store().setInteger(u"cameraShape"_s, -1);
    store().setInteger(u"cursorArrow"_s, -4);
    store().setInteger(u"penColor"_s, 20);
    Prefs& q = prefs();
    EXPECT_EQ(q.cameraPreviewW(), 480);
    EXPECT_EQ(q.penWidth(), 24);
    EXPECT_EQ(q.focusFrac(), 0.15);
    EXPECT_EQ(q.customMbps(), 40);
    EXPECT_EQ(q.cameraRadius(), 0.5);
    EXPECT_EQ(q.cameraShape(), 0);
    EXPECT_EQ(q.cursorArrow(), 0);
    EXPECT_EQ(q.penColor(), 11);
}

TEST_F(PrefsTest, CameraFrameRateMustBeUsable)
{
    store().setInteger(u"cameraFPS"_s, 30);
    store().setDouble(u"cameraFrameRate"_s, 29.97);
    EXPECT_EQ(prefs().cameraFrameRate(), 29.97);
    store().setDouble(u"cameraFrameRate"_s, 0.05);
    EXPECT_EQ(prefs().cameraFrameRate(), 30.0);
    store().setDouble(u"cameraFrameRate"_s, 240);
    EXPECT_EQ(prefs().cameraFrameRate(), 30.0);
    store().setString(u"cameraFrameRate"_s, u"25"_s);
    EXPECT_EQ(prefs().cameraFrameRate(), 30.0);
}

TEST_F(PrefsTest, WrongTypesReadAsAbsent)
{
    store().setString(u"fps"_s, u"60"_s);
    store().setDouble(u"cameraRes"_s, 1080.5);    // not a whole number
    store().setInteger(u"countdown"_s, 0);        // a number, not a flag
    store().setString(u"compactRecordingBar"_s, u"yes"_s);
    store().setBool(u"penWidth"_s, true);
    store().setString(u"outputShort"_s, u"720"_s);
    store().setInteger(u"cameraSizeID"_s, 1080);
    store().setBool(u"showShortcutHints2"_s, false); // right type, for contrast
    Prefs& p = prefs();
    EXPECT_EQ(p.fps(), 30);
    EXPECT_EQ(p.cameraRes(), 720);
    EXPECT_TRUE(p.countdown());
    EXPECT_FALSE(p.compactRecordingBar());
    EXPECT_EQ(p.penWidth(), 13);
    EXPECT_EQ(p.outputSize(), 1080);
    EXPECT_EQ(p.cameraSizeID(), u"1280x720"_s);
    EXPECT_FALSE(p.showShortcutHints());

    // Whole numbers stored as doubles are integers; integers are doubles.
    store().setDouble(u"fps"_s, 60.0);
    store().setInteger(u"penWidth"_s, 20);
    EXPECT_EQ(prefs().fps(), 60);
    EXPECT_EQ(prefs().penWidth(), 20);
}

TEST_F(PrefsTest, KeysThatDifferFromTheirPropertyNames)
{
    // The property names under their own keys are not read...
    store().setInteger(u"outputSize"_s, 720);
    store().setDouble(u"focusFrac"_s, 0.5);
    store().setDouble(u"cameraPreviewW"_s, 300);
    store().setBool(u"showShortcutHints"_s, false);
    Prefs& p = prefs();
    EXPECT_EQ(p.outputSize(), 1080);
    EXPECT_EQ(p.focusFrac(), 0.29);
    EXPECT_EQ(p.cameraPreviewW(), 250);
    EXPECT_TRUE(p.showShortcutHints());

    // ...the user-defaults keys are.
    store().setInteger(u"outputShort"_s, 720);
    store().setDouble(u"focusFrac2"_s, 0.5);
    store().setDouble(u"previewW"_s, 300);
    store().setBool(u"showShortcutHints2"_s, false);
    Prefs& q = prefs();
    EXPECT_EQ(q.outputSize(), 720);
    EXPECT_EQ(q.focusFrac(), 0.5);
    EXPECT_EQ(q.cameraPreviewW(), 300);
    EXPECT_FALSE(q.showShortcutHints());
}

TEST_F(PrefsTest, OutputSizeKeptAsStored)
{
    store().setInteger(u"outputShort"_s, 0);
    EXPECT_EQ(prefs().outputSize(), 0);
    EXPECT_EQ(prefs().maxShortSide(), std::nullopt);
    store().setInteger(u"outputShort"_s, -5);
    EXPECT_EQ(prefs().maxShortSide(), std::nullopt);
    store().setInteger(u"outputShort"_s, 1);
    EXPECT_EQ(prefs().maxShortSide(), 1);
    store().setInteger(u"outputShort"_s, 1440);
    EXPECT_EQ(prefs().maxShortSide(), 1440);
}

TEST_F(PrefsTest, FocusModeIsZeroOrOne)
{
    store().setInteger(u"focusMode"_s, 5);
    EXPECT_EQ(prefs().focusMode(), 1);
    store().setInteger(u"focusMode"_s, -1);
    EXPECT_EQ(prefs().focusMode(), 0);
    store().setDouble(u"focusMode"_s, 0.5);
    EXPECT_EQ(prefs().focusMode(), 0);
}

TEST_F(PrefsTest, QualityTierAndTheLegacyQualityKey)
{
    EXPECT_EQ(prefs().qualityTier(), 2); // neither key

    store().setInteger(u"quality"_s, 1);
    EXPECT_EQ(prefs().qualityTier(), 2);
    store().setInteger(u"quality"_s, 0);
    EXPECT_EQ(prefs().qualityTier(), 1);
    store().setString(u"quality"_s, u"high"_s); // any other value
    EXPECT_EQ(prefs().qualityTier(), 1);
    EXPECT_TRUE(store().contains(u"quality"_s)); // the legacy key is only read

    store().setInteger(u"qualityTier"_s, 0);
    EXPECT_EQ(prefs().qualityTier(), 0); // the tier wins over the legacy key
    store().setString(u"qualityTier"_s, u"3"_s);
    EXPECT_EQ(prefs().qualityTier(), 1); // not an integer: falls back to "quality"

    // Stored as is, but never used to index past the tier list.
    store().setInteger(u"qualityTier"_s, 7);
    Prefs& p = prefs();
    EXPECT_EQ(p.qualityTier(), 7);
    EXPECT_EQ(VideoQuality::name(p.qualityTier()), u"Custom"_s);
    EXPECT_EQ(p.bitRateMbps(), 7.5);

    store().setInteger(u"qualityTier"_s, qint64(1) << 40);
    EXPECT_EQ(prefs().qualityTier(), std::numeric_limits<int>::max());
    EXPECT_EQ(VideoQuality::index(prefs().qualityTier()), VideoQuality::custom);
}

TEST_F(PrefsTest, CursorArtLayoutMigration)
{
    const std::pair<int, int> cases[] = {{0, 1}, {5, 6}, {6, 0}, {7, 7}, {-2, -1}};
    for (const auto& [stored, migrated] : cases) {
        store().remove(u"cursorArtLayout"_s);
        store().setInteger(u"cursorArt"_s, stored);
        EXPECT_EQ(prefs().cursorArt(), migrated) << stored;
        EXPECT_EQ(store().integer(u"cursorArt"_s), migrated) << stored;
        EXPECT_EQ(store().integer(u"cursorArtLayout"_s), 2) << stored;
    }
    // A second start leaves the art alone.
    store().setInteger(u"cursorArt"_s, 3);
    EXPECT_EQ(prefs().cursorArt(), 3);
    EXPECT_EQ(store().integer(u"cursorArt"_s), 3);

    // Layout 1 still migrates.
    store().setInteger(u"cursorArtLayout"_s, 1);
    store().setInteger(u"cursorArt"_s, 3);
    EXPECT_EQ(prefs().cursorArt(), 4);
}

TEST_F(PrefsTest, CursorThemeThreeFallsBackWithoutRewritingTheStore)
{
    store().setInteger(u"cursorArtLayout"_s, 2);
    store().setInteger(u"cursorTheme"_s, 3);
    store().setInteger(u"cursorArt"_s, 4);
    Prefs& p = prefs();
    EXPECT_EQ(p.cursorTheme(), 1);
    EXPECT_EQ(p.cursorArt(), 0);
    EXPECT_EQ(store().integer(u"cursorTheme"_s), 3);
    EXPECT_EQ(store().integer(u"cursorArt"_s), 4);

    store().setInteger(u"cursorTheme"_s, 2);
    EXPECT_EQ(prefs().cursorTheme(), 2);
    EXPECT_EQ(prefs().cursorArt(), 4);
}

TEST_F(PrefsTest, CameraSizeIdIsParsedOrDerived)
{
    store().setString(u"cameraSizeID"_s, u"1920x1080"_s);
    EXPECT_EQ(prefs().cameraSizeID(), u"1920x1080"_s);
    store().setString(u"cameraSizeID"_s, u"1920xx1080"_s);
    EXPECT_EQ(prefs().cameraSizeID(), u"1920x1080"_s); // normalised

    store().setString(u"cameraSizeID"_s, u"big"_s);
    store().setInteger(u"cameraRes"_s, 1080);
    EXPECT_EQ(prefs().cameraSizeID(), u"1920x1080"_s);
    store().setInteger(u"cameraRes"_s, 480);
    EXPECT_EQ(prefs().cameraSizeID(), u"640x480"_s);
    store().setInteger(u"cameraRes"_s, 481);
    EXPECT_EQ(prefs().cameraSizeID(), u"855x481"_s);
    store().setInteger(u"cameraRes"_s, 5000); // out of range: 720
    EXPECT_EQ(prefs().cameraSizeID(), u"1280x720"_s);
}

TEST_F(PrefsTest, SettersStoreExactlyWhatTheyAreGiven)
{
    Prefs& p = prefs();
    QSignalSpy spy(&p, &Prefs::changed);

    p.setFps(500);
    p.setOutputSize(-3);
    p.setFocusFrac(0.95);
    p.setCameraPreviewW(20);
    p.setShowShortcutHints(false);
    p.setCameraSizeID(u"nonsense"_s);
    p.setQualityTier(9);
    p.setCursorSize(9);

    EXPECT_EQ(p.fps(), 500);
    EXPECT_EQ(store().integer(u"fps"_s), 500);
    EXPECT_EQ(store().integer(u"outputShort"_s), -3);
    EXPECT_EQ(store().doubleValue(u"focusFrac2"_s), 0.95);
    EXPECT_EQ(store().doubleValue(u"previewW"_s), 20);
    EXPECT_EQ(store().boolValue(u"showShortcutHints2"_s), false);
    EXPECT_EQ(store().string(u"cameraSizeID"_s), u"nonsense"_s);
    EXPECT_EQ(store().integer(u"qualityTier"_s), 9);
    EXPECT_FALSE(store().contains(u"outputSize"_s));

    const QStringList names = [&] {
        QStringList out;
        for (const auto& args : spy)
            out << args.at(0).toString();
        return out;
    }();
    EXPECT_EQ(names, (QStringList{u"fps"_s, u"outputSize"_s, u"focusFrac"_s, u"cameraPreviewW"_s,
                                  u"showShortcutHints"_s, u"cameraSizeID"_s, u"qualityTier"_s, u"cursorSize"_s}));

    // Checked where it would break something now; back in range at the next start.
    EXPECT_EQ(p.engineFps(), 30);
    EXPECT_EQ(p.maxShortSide(), std::nullopt);
    Prefs& q = prefs();
    EXPECT_EQ(q.fps(), 30);
    EXPECT_EQ(q.focusFrac(), 0.7);
    EXPECT_EQ(q.cameraPreviewW(), 250);
    EXPECT_EQ(q.cameraSizeID(), u"1280x720"_s);
    EXPECT_EQ(q.cursorSize(), 9);
}

TEST_F(PrefsTest, EngineFrameRateIsAlwaysUsable)
{
    Prefs& p = prefs();
    for (const int fps : {0, -1, 121, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()}) {
        p.setFps(fps);
        EXPECT_EQ(p.engineFps(), 30) << fps;
    }
    for (const int fps : {1, 24, 60, 120}) {
        p.setFps(fps);
        EXPECT_EQ(p.engineFps(), fps);
    }
}

TEST_F(PrefsTest, BitRateFollowsTheTier)
{
    Prefs& p = prefs();
    p.setQualityTier(0);
    EXPECT_EQ(p.bitRateMbps(), 3);
    p.setQualityTier(3);
    p.setCustomMbps(22);
    EXPECT_EQ(p.bitRateMbps(), 22);
    p.setCustomMbps(-4); // stored as given, but the writer never sees it
    EXPECT_EQ(p.customMbps(), -4);
    EXPECT_EQ(p.bitRateMbps(), 1);
}

TEST_F(PrefsTest, EverySetterRoundTripsThroughTheStore)
{
    Prefs& p = prefs();
    p.setFps(24);
    p.setQualityTier(0);
    p.setCustomMbps(12.5);
    p.setOutputSize(720);
    p.setCameraRes(1080);
    p.setCameraSizeID(u"1920x1080"_s);
    p.setCameraFrameRate(29.97);
    p.setCameraBurn(false);
    p.setCameraMirrored(true);
    p.setCameraShape(1);
    p.setCameraRadius(0.3);
    p.setCameraPreviewW(300);
    p.setCameraFPS(30);
    p.setCursorArrow(4);
    p.setCursorTheme(2);
    p.setCursorArt(5);
    p.setShadowUp(0.2);
    p.setShadowDown(0.3);
    p.setCursorSizeSys(2);
    p.setCursorSize(1.5);
    p.setFocusFrac(0.4);
    p.setShowShortcutHints(false);
    p.setFocusMode(1);
    p.setFocusLive(false);
    p.setFocusCrisp(true);
    p.setFocusSpeed(2);
    p.setPenTool(3);
    p.setPenWidth(8);
    p.setPenColor(7);
    p.setCountdown(false);
    p.setSoundTick(false);
    p.setSoundStart(false);
    p.setSoundEnd(false);
    p.setSoundPause(false);
    p.setSoundLaunch(false);
    p.setCompactRecordingBar(true);
    p.setHotkeyMessage(u"never stored"_s);
    p.setIsRecording(true);

    Prefs& q = prefs();
    EXPECT_EQ(q.fps(), 24);
    EXPECT_EQ(q.qualityTier(), 0);
    EXPECT_EQ(q.customMbps(), 12.5);
    EXPECT_EQ(q.outputSize(), 720);
    EXPECT_EQ(q.cameraRes(), 1080);
    EXPECT_EQ(q.cameraSizeID(), u"1920x1080"_s);
    EXPECT_EQ(q.cameraFrameRate(), 29.97);
    EXPECT_FALSE(q.cameraBurn());
    EXPECT_TRUE(q.cameraMirrored());
    EXPECT_EQ(q.cameraShape(), 1);
    EXPECT_EQ(q.cameraRadius(), 0.3);
    EXPECT_EQ(q.cameraPreviewW(), 300);
    EXPECT_EQ(q.cameraFPS(), 30);
    EXPECT_EQ(q.cursorArrow(), 4);
    EXPECT_EQ(q.cursorTheme(), 2);
    EXPECT_EQ(q.cursorArt(), 5);
    EXPECT_EQ(q.shadowUp(), 0.2);
    EXPECT_EQ(q.shadowDown(), 0.3);
    EXPECT_EQ(q.cursorSizeSys(), 2);
    EXPECT_EQ(q.cursorSize(), 1.5);
    EXPECT_EQ(q.focusFrac(), 0.4);
    EXPECT_FALSE(q.showShortcutHints());
    EXPECT_EQ(q.focusMode(), 1);
    EXPECT_FALSE(q.focusLive());
    EXPECT_TRUE(q.focusCrisp());
    EXPECT_EQ(q.focusSpeed(), 2);
    EXPECT_EQ(q.penTool(), 3);
    EXPECT_EQ(q.penWidth(), 8);
    EXPECT_EQ(q.penColor(), 7);
    EXPECT_FALSE(q.countdown());
    EXPECT_FALSE(q.soundTick());
    EXPECT_FALSE(q.soundStart());
    EXPECT_FALSE(q.soundEnd());
    EXPECT_FALSE(q.soundPause());
    EXPECT_FALSE(q.soundLaunch());
    EXPECT_TRUE(q.compactRecordingBar());
    EXPECT_EQ(q.hotkeyMessage(), std::nullopt);
    EXPECT_FALSE(q.isRecording());
    EXPECT_FALSE(store().contains(u"hotkeyMessage"_s));
    EXPECT_FALSE(store().contains(u"isRecording"_s));
}

TEST_F(PrefsTest, BindingsAreStoredWholeOnEveryChange)
{
    Prefs& p = prefs();
    QSignalSpy spy(&p, &Prefs::changed);
    const KeyBinding penKey{2, 0x1100};
    p.setBinding(HotKeyAction::pen, penKey);
    ASSERT_TRUE(store().data(u"hotkeys"_s).has_value());
    const auto stored = HotKeyBindings::decode(*store().data(u"hotkeys"_s));
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->size(), 15u);
    EXPECT_EQ(stored->at(HotKeyAction::pen), penKey);
    EXPECT_EQ(prefs().bindings().at(HotKeyAction::pen), penKey);

    Prefs& q = Prefs::shared();
    q.removeBinding(HotKeyAction::stop);
    EXPECT_EQ(HotKeyBindings::decode(*store().data(u"hotkeys"_s))->count(HotKeyAction::stop), 0u);
    // A missing action gets its default again at the next start.
    EXPECT_EQ(prefs().bindings().at(HotKeyAction::stop), KeyBinding::defaultFor(HotKeyAction::stop));
    ASSERT_GE(spy.size(), 1);
    EXPECT_EQ(spy.at(0).at(0).toString(), u"bindings"_s);
}

TEST_F(PrefsTest, RunTimeValuesAnnounceTheirChanges)
{
    Prefs& p = prefs();
    QSignalSpy spy(&p, &Prefs::changed);
    p.setHotkeyMessage(u"taken"_s);
    p.setIsRecording(true);
    p.setHotkeyMessage(std::nullopt);
    ASSERT_EQ(spy.size(), 3);
    EXPECT_EQ(spy.at(0).at(0).toString(), u"hotkeyMessage"_s);
    EXPECT_EQ(spy.at(1).at(0).toString(), u"isRecording"_s);
    EXPECT_TRUE(p.isRecording());
    EXPECT_EQ(p.hotkeyMessage(), std::nullopt);
}

TEST_F(PrefsTest, ShortcutsTakenMessage)
{
    EXPECT_EQ(Prefs::shortcutsTakenMessage({u"Start Recording"_s, u"Toggle Pen"_s}),
              u"These shortcuts are used by other apps:Start Recording、Toggle Pen. Please change them in Settings."_s);
}

// ---- Recordings folder ----

TEST_F(PrefsTest, SaveFolderComesFromItsBookmark)
{
    const QString folder = makeFolder(u"Videos"_s);
    ASSERT_TRUE(SecurityScope::save(folder, u"saveFolder"_s));
    store().setString(u"saveFolder"_s, u"/somewhere/else"_s);
    Prefs& p = prefs();
    EXPECT_EQ(p.saveFolder(), folder);
    EXPECT_TRUE(p.hasValidSaveFolder());
    // The plain key is only a mirror: start-up does not rewrite it.
    EXPECT_EQ(store().string(u"saveFolder"_s), u"/somewhere/else"_s);
    EXPECT_EQ(p.saveFolderDisplay(), u"~/Videos"_s);
}

TEST_F(PrefsTest, LostFolderEmptiesTheSetting)
{
    const QString folder = makeFolder(u"Gone"_s);
    Prefs& p = prefs();
    ASSERT_TRUE(p.setSaveFolder(folder));
    ASSERT_EQ(store().string(u"saveFolder"_s), folder);
    ASSERT_TRUE(QDir(folder).removeRecursively());

    Prefs& q = prefs();
    EXPECT_EQ(q.saveFolder(), u""_s);
    EXPECT_FALSE(store().contains(u"saveFolder"_s));
    EXPECT_FALSE(store().contains(u"saveFolderBookmark"_s));
    EXPECT_FALSE(q.hasValidSaveFolder());
    EXPECT_EQ(q.saveFolderDisplay(), u"Not Configured"_s);
}

TEST_F(PrefsTest, FolderLostWhileRunning)
{
    const QString folder = makeFolder(u"Gone"_s);
    Prefs& p = prefs();
    ASSERT_TRUE(p.setSaveFolder(folder));
    ASSERT_TRUE(QDir(folder).removeRecursively());
    QSignalSpy spy(&p, &Prefs::changed);
    EXPECT_FALSE(p.hasValidSaveFolder());
    EXPECT_EQ(p.saveFolder(), u""_s);
    EXPECT_FALSE(store().contains(u"saveFolder"_s));
    ASSERT_EQ(spy.size(), 1);
    EXPECT_EQ(spy.at(0).at(0).toString(), u"saveFolder"_s);
    EXPECT_FALSE(p.hasValidSaveFolder());
    EXPECT_EQ(spy.size(), 1); // nothing more to change
}

TEST_F(PrefsTest, ChoosingAFolder)
{
    const QString first = makeFolder(u"first"_s);
    const QString second = makeFolder(u"second"_s);
    Prefs& p = prefs();
    EXPECT_TRUE(p.setSaveFolder(first + u"/"_s));
    EXPECT_EQ(p.saveFolder(), first);
    EXPECT_TRUE(p.setSaveFolder(second));
    EXPECT_EQ(p.saveFolder(), second);
    EXPECT_EQ(store().string(u"saveFolder"_s), second);
    EXPECT_EQ(store().data(u"saveFolderBookmark"_s), second.toUtf8());

    // A folder that cannot be used keeps the previous choice.
    EXPECT_FALSE(p.setSaveFolder(m_home.file(u"missing"_s)));
    EXPECT_EQ(p.saveFolder(), second);
    EXPECT_TRUE(p.hasValidSaveFolder());
}

TEST_F(PrefsTest, ChoosingAnUnusableFolderFirstLeavesNothingConfigured)
{
    Prefs& p = prefs();
    EXPECT_FALSE(p.setSaveFolder(m_home.file(u"missing"_s)));
    EXPECT_EQ(p.saveFolder(), u""_s);
    EXPECT_FALSE(store().contains(u"saveFolder"_s));
    EXPECT_FALSE(p.hasValidSaveFolder());
}

TEST_F(PrefsTest, FolderDisplayShortensOnlyTheHomeFolder)
{
    const QString outside = QDir::cleanPath(m_home.file(u"alice/Videos"_s));
    ASSERT_TRUE(QDir().mkpath(outside));
    ASSERT_TRUE(QDir().mkpath(m_home.file(u"al"_s)));
    Prefs& p = prefs();
    ASSERT_TRUE(p.setSaveFolder(outside));

    // A home folder whose name is a prefix of another folder's name.
    qputenv("HOME", QDir::cleanPath(m_home.file(u"al"_s)).toLocal8Bit());
    EXPECT_EQ(p.saveFolderDisplay(), outside);
    qputenv("HOME", QDir::cleanPath(m_home.file(u"alice"_s)).toLocal8Bit());
    EXPECT_EQ(p.saveFolderDisplay(), u"~/Videos"_s);
    ASSERT_TRUE(p.setSaveFolder(m_home.file(u"alice"_s)));
    EXPECT_EQ(p.saveFolderDisplay(), u"~"_s);
    qputenv("HOME", QDir::cleanPath(m_home.path()).toLocal8Bit());
}

TEST_F(PrefsTest, FolderChooserStart)
{
    Prefs& p = prefs();
    EXPECT_EQ(p.folderChooserStart(), QDir::cleanPath(m_home.path())); // no videos folder yet
    const QString videos = makeFolder(u"Videos"_s);
    EXPECT_EQ(p.folderChooserStart(), videos);
    const QString chosen = makeFolder(u"Recordings"_s);
    ASSERT_TRUE(p.setSaveFolder(chosen));
    EXPECT_EQ(p.folderChooserStart(), chosen);
}

// ---- Output pixels ----

class FakeModel : public RecorderModelServices {
public:
    std::optional<ScreenVideoCapabilities> caps;
    std::optional<ScreenVideoCapabilities> screenCapabilities() const override { return caps; }
};

// Installs a display list and a model for one test, and removes them afterwards.
class OutputPixelsTest : public ::testing::Test {
protected:
    void useDisplays(std::vector<DisplayInfo> displays)
    {
        m_displays.emplace(std::make_shared<SyntheticDisplayList>(std::move(displays)));
    }

    std::optional<test::ServiceScope> m_displays;
};

TEST_F(OutputPixelsTest, RecordedDisplayComesFirst)
{
    useDisplays({SyntheticDisplayList::makeDisplay(u"A"_s, QRectF(0, 0, 800, 600), 1, 60, true)});
    FakeModel model;
    model.caps = ScreenVideoCapabilities{{1728, 1117}, 60};
    test::ServiceScope services{&model};
    EXPECT_EQ(Prefs::outputPixels(720), (VideoDimensions{1114, 720}));
    EXPECT_EQ(Prefs::outputPixels(0), (VideoDimensions{1728, 1116}));

    // A model that does not know its display yet: the primary display.
    model.caps.reset();
    EXPECT_EQ(Prefs::outputPixels(0), (VideoDimensions{800, 600}));
}

TEST_F(OutputPixelsTest, PrimaryDisplayAtItsScale)
{
    useDisplays({
        SyntheticDisplayList::makeDisplay(u"SIDE"_s, QRectF(-1920, 0, 1920, 1080), 1, 60, false),
        SyntheticDisplayList::makeDisplay(u"MAIN"_s, QRectF(0, 0, 1512, 982), 2, 120, true),
    });
    EXPECT_EQ(Prefs::outputPixels(1080), (VideoDimensions{1662, 1080}));
    EXPECT_EQ(Prefs::outputPixels(0), (VideoDimensions{3024, 1964}));
    EXPECT_EQ(Prefs::outputPixels(4000), (VideoDimensions{3024, 1964})); // never upscaled
}

TEST_F(OutputPixelsTest, NoScreenAtAll)
{
    useDisplays({});
    EXPECT_EQ(Prefs::outputPixels(1080), (VideoDimensions{1728, 1080}));
    EXPECT_EQ(Prefs::outputPixels(0), (VideoDimensions{1728, 1080}));
    // The stand-in screen scales like a real one.
    EXPECT_EQ(Prefs::outputPixels(720), (VideoDimensions{1152, 720}));
}

TEST(ScreenOutputPixels, EvenSidesAndExactShortSide)
{
    EXPECT_EQ(Prefs::screenOutputPixels(1001, 601, 0), (VideoDimensions{1000, 600}));
    EXPECT_EQ(Prefs::screenOutputPixels(3024, 1964, 1080), (VideoDimensions{1662, 1080}));
    EXPECT_EQ(Prefs::screenOutputPixels(1964, 3024, 1080), (VideoDimensions{1080, 1662})); // portrait
    EXPECT_EQ(Prefs::screenOutputPixels(2560, 1440, 1440), (VideoDimensions{2560, 1440}));
    EXPECT_EQ(Prefs::screenOutputPixels(0, 0, 0), (VideoDimensions{1728, 1080}));
    EXPECT_EQ(Prefs::screenOutputPixels(std::nan(""), 900, 0), (VideoDimensions{1728, 1080}));
}

} // namespace
