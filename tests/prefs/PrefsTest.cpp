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
#include "PrefsRows.h"

#include <QDir>
#include <QJsonObject>
#include <QMap>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <limits>

using namespace corvessa;
using namespace Qt::StringLiterals;
using corvessa::test::PrefsRows;

namespace {

using Row = PrefsTable::Row;
using Read = PrefsTable::Read;

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

// Stored files rely on the keys: four differ from their property names.
TEST_F(PrefsTest, StoredKeysAreThePropertyNamesButFour)
{
    const QMap<QString, QString> differing{{u"outputSize"_s, u"outputShort"_s},
                                          {u"focusFrac"_s, u"focusFrac2"_s},
                                          {u"cameraPreviewW"_s, u"previewW"_s},
                                          {u"showShortcutHints"_s, u"showShortcutHints2"_s}};
    for (const Row& row : PrefsTable::rows())
        EXPECT_EQ(QString::fromLatin1(row.storeKey), differing.value(row.name(), row.name()));
}

TEST_F(PrefsTest, EveryStoredSettingRoundTripsUnderItsOwnKey)
{
    Prefs& p = prefs();
    QSignalSpy spy(&p, &Prefs::changed);
    std::vector<Prefs::Key> keys;
    for (const Row& row : PrefsTable::rows()) {
        if (!row.key)
            continue;
        const Prefs::Value v = PrefsRows::pick(row, true);
        ASSERT_NE(v, row.fallback) << row.storeKey;
        p.set(*row.key, v);
        keys.push_back(*row.key);
        EXPECT_EQ(row.stored(), v) << row.storeKey;
        // Where the key differs from the property name, nothing goes under the name.
        if (row.name() != QLatin1String(row.storeKey)) {
            EXPECT_FALSE(store().contains(row.name())) << row.storeKey;
        }
    }
    ASSERT_EQ(spy.size(), qsizetype(keys.size()));
    // Each stored setting has one row, in the order of the keys.
    for (size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(keys[i], Prefs::Key(i));
        EXPECT_EQ(spy.at(qsizetype(i)).at(0).value<Prefs::Key>(), keys[i]);
    }
    EXPECT_EQ(keys.size(), size_t(Prefs::storedCount));

    Prefs& q = prefs();
    for (const Row& row : PrefsTable::rows()) {
        if (row.key) {
            EXPECT_EQ(q.value(*row.key), PrefsRows::pick(row, true)) << row.storeKey;
        }
    }
}

TEST_F(PrefsTest, SettersStoreExactlyWhatTheyAreGivenAndStartUpBringsItIntoRange)
{
    for (const Row& row : PrefsTable::rows()) {
        if (!row.key || std::holds_alternative<bool>(row.fallback) || row.read == Read::custom)
            continue;
        for (const double wild : {row.lo - 1, row.hi + 1}) {
            const Prefs::Value v = PrefsRows::typed(row, wild);
            Prefs& p = Prefs::shared();
            p.set(*row.key, v);
            EXPECT_EQ(p.value(*row.key), v) << row.storeKey;
            EXPECT_EQ(row.stored(), v) << row.storeKey;
            Prefs::Value expected = v; // Read::asStored
            if (row.read == Read::clamped)
                expected = PrefsRows::typed(row, std::clamp(wild, row.lo, row.hi));
            else if (row.read == Read::inRange || (row.read == Read::atLeastLow && wild < row.lo))
                expected = row.fallback;
            else if (row.read == Read::atLeastLow)
                expected = PrefsRows::typed(row, row.hi);
            EXPECT_EQ(prefs().value(*row.key), expected) << row.storeKey << " " << wild;
        }
    }
}

// The walk above follows each row's rule; these check the rules themselves.
TEST_F(PrefsTest, StartUpRangesAndFallbacks)
{
    using K = Prefs::Key;
    const struct {
        const char* key;
        double stored;
        Prefs::Key setting;
        Prefs::Value expected;
    } cases[] = {
        {"fps", 0, K::fps, 30},
        {"fps", 121, K::fps, 30},
        {"fps", 1, K::fps, 1},
        {"cameraRes", 100, K::cameraRes, 720},
        {"cameraRes", 2161, K::cameraRes, 720},
        {"cameraRes", 120, K::cameraRes, 120},
        {"cameraFPS", 0, K::cameraFPS, 15},
        {"cameraFPS", 121, K::cameraFPS, 15},
        {"previewW", 100, K::cameraPreviewW, 250.0},
        {"previewW", 600, K::cameraPreviewW, 480.0},
        {"penWidth", 1, K::penWidth, 2.0},
        {"penWidth", 30, K::penWidth, 24.0},
        {"focusFrac2", 0.9, K::focusFrac, 0.7},
        {"focusFrac2", 0.01, K::focusFrac, 0.15},
        {"cursorSize", 9, K::cursorSize, 9.0},
        {"focusMode", 5, K::focusMode, 1},
        {"focusMode", -1, K::focusMode, 0},
        {"customMbps", 0.5, K::customMbps, 1.0},
        {"customMbps", 100, K::customMbps, 40.0},
        {"cursorSizeSys", 0.1, K::cursorSizeSys, 0.5},
        {"cursorSizeSys", 9, K::cursorSizeSys, 5.0},
        {"shadowUp", -1, K::shadowUp, 0.0},
        {"shadowDown", 2, K::shadowDown, 1.0},
        {"cameraRadius", -0.2, K::cameraRadius, 0.0},
        {"cameraRadius", 0.9, K::cameraRadius, 0.5},
        {"cameraShape", 7, K::cameraShape, 2},
        {"cameraShape", -1, K::cameraShape, 0},
        {"cursorArrow", 12, K::cursorArrow, 9},
        {"cursorArrow", -4, K::cursorArrow, 0},
        {"focusSpeed", 5, K::focusSpeed, 2},
        {"penTool", 9, K::penTool, 5},
        {"penColor", -3, K::penColor, 0},
        {"penColor", 20, K::penColor, 11},
        {"outputShort", -5, K::outputSize, -5},
    };
    for (const auto& c : cases) {
        store().setDouble(QString::fromLatin1(c.key), c.stored);
        EXPECT_EQ(prefs().value(c.setting), c.expected) << c.key << " " << c.stored;
    }
}

TEST_F(PrefsTest, ValuesOfAnotherTypeReadAsAbsent)
{
    store().setInteger(u"cursorArtLayout"_s, 2);
    for (const Row& row : PrefsTable::rows()) {
        if (!row.key)
            continue;
        const QString key = QString::fromLatin1(row.storeKey);
        // A number for a flag or a text, a flag for a number, a fraction for an integer.
        if (std::holds_alternative<bool>(row.fallback) || std::holds_alternative<QString>(row.fallback))
            store().setInteger(key, 0);
        else if (std::holds_alternative<int>(row.fallback))
            store().setDouble(key, 0.5);
        else
            store().setBool(key, true);
        // The property name where it differs from the key is not read either.
        if (row.name() != key) {
            const QByteArray name = row.name().toLatin1();
            const Row under{.key = std::nullopt, .storeKey = name.constData(), .fallback = row.fallback};
            under.write(PrefsRows::pick(row, true));
        }
    }
    store().setString(u"fps"_s, u"60"_s);
    Prefs& p = prefs();
    for (const Row& row : PrefsTable::rows()) {
        if (row.key) {
            EXPECT_EQ(p.value(*row.key), row.fallback) << row.storeKey;
        }
    }

    // Whole numbers stored as doubles are integers; integers are doubles.
    store().setDouble(u"fps"_s, 60.0);
    store().setInteger(u"penWidth"_s, 20);
    EXPECT_EQ(prefs().fps(), 60);
    EXPECT_EQ(prefs().penWidth(), 20);
}

TEST_F(PrefsTest, CameraFrameRateMustBeUsable)
{
    store().setInteger(u"cameraFPS"_s, 0);
    EXPECT_EQ(prefs().cameraFrameRate(), 15.0); // absent: the camera's (default) rate
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
    EXPECT_EQ(spy.at(0).at(0).value<Prefs::Key>(), Prefs::Key::bindings);
}

TEST_F(PrefsTest, RunTimeValuesAnnounceTheirChanges)
{
    Prefs& p = prefs();
    QSignalSpy spy(&p, &Prefs::changed);
    p.setHotkeyMessage(u"taken"_s);
    p.setIsRecording(true);
    p.setHotkeyMessage(std::nullopt);
    ASSERT_EQ(spy.size(), 3);
    EXPECT_EQ(spy.at(0).at(0).value<Prefs::Key>(), Prefs::Key::hotkeyMessage);
    EXPECT_EQ(spy.at(1).at(0).value<Prefs::Key>(), Prefs::Key::isRecording);
    EXPECT_TRUE(p.isRecording());
    EXPECT_EQ(p.hotkeyMessage(), std::nullopt);
    // Never stored.
    p.setHotkeyMessage(u"never stored"_s);
    EXPECT_FALSE(store().contains(u"hotkeyMessage"_s));
    EXPECT_FALSE(store().contains(u"isRecording"_s));
    EXPECT_EQ(prefs().hotkeyMessage(), std::nullopt);
    EXPECT_FALSE(prefs().isRecording());
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
    EXPECT_EQ(q.unusableSaveFolder(), folder) << "kept to be named when another one is asked for";
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
    EXPECT_EQ(p.unusableSaveFolder(), folder);
    EXPECT_FALSE(store().contains(u"saveFolder"_s));
    ASSERT_EQ(spy.size(), 1);
    EXPECT_EQ(spy.at(0).at(0).value<Prefs::Key>(), Prefs::Key::saveFolder);
    EXPECT_FALSE(p.hasValidSaveFolder());
    EXPECT_EQ(spy.size(), 1); // nothing more to change
    EXPECT_EQ(p.unusableSaveFolder(), folder);
    ASSERT_TRUE(p.setSaveFolder(makeFolder(u"Found"_s)));
    EXPECT_EQ(p.unusableSaveFolder(), u""_s);
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
    useDisplays({SyntheticDisplayList::makeDisplay(u"A"_s, GlobalRect(0, 0, 800, 600), 1, 60, true)});
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
        SyntheticDisplayList::makeDisplay(u"SIDE"_s, GlobalRect(-1920, 0, 1920, 1080), 1, 60, false),
        SyntheticDisplayList::makeDisplay(u"MAIN"_s, GlobalRect(0, 0, 1512, 982), 2, 120, true),
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
