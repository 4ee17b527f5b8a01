#include "platform/GlobalHotKeys.h"
#include "platform/core/UserDefaults.h"
#include "platform/core/XdgPaths.h"
#include "platform/synthetic/SyntheticGlobalHotKeys.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"
#include "prefs/ProfileStore.h"
#include "prefs/RecorderModelServices.h"
#include "prefs/SecurityScope.h"
#include "support/English.h"
#include "support/ServiceScope.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using namespace corvessa;
using namespace Qt::StringLiterals;

namespace {

// A recorder model that records what a profile does to it.
class FakeModel : public RecorderModelServices {
public:
    bool idle = true;
    double mic = 6, sys = -6;
    bool mute = false, system = true;
    QStringList calls;

    std::optional<ScreenVideoCapabilities> screenCapabilities() const override { return std::nullopt; }
    bool isIdle() const override { return idle; }
    double micGainDB() const override { return mic; }
    void setMicGainDB(double v) override { mic = v; calls << u"mic"_s; }
    double sysGainDB() const override { return sys; }
    void setSysGainDB(double v) override { sys = v; calls << u"sys"_s; }
    void gainChanged() override { calls << u"gainChanged"_s; }
    bool muteSpeakers() const override { return mute; }
    void setMuteSpeakers(bool v) override { mute = v; calls << u"mute"_s; }
    bool systemAudio() const override { return system; }
    void setSystemAudio(bool v) override { system = v; calls << u"system"_s; }
    void applyProfileVideoChoices() override { calls << u"applyProfileVideoChoices"_s; }
    void restoreScreenChoice() override { calls << u"restoreScreenChoice"_s; }
    void restoreCameraChoice() override { calls << u"restoreCameraChoice"_s; }
};

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

QJsonObject readJson(const QString& path)
{
    return QJsonDocument::fromJson(readAll(path)).object();
}

class ProfileStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        GlobalHotKeys::setCurrent(std::make_shared<SyntheticGlobalHotKeys>());
        test::useEnglish();
        Prefs::resetShared();
        ProfileStore::resetShared();
    }

    static ProfileStore& profiles() { return ProfileStore::shared(); }
    static Prefs& prefs() { return Prefs::shared(); }

    static QString fileOf(const QString& name) { return profiles().folder() + u'/' + name + u".json"_s; }

    QString makeFolder(const QString& relative)
    {
        const QString path = QDir::cleanPath(m_home.file(relative));
        EXPECT_TRUE(QDir().mkpath(path));
        return path;
    }

    test::TempHome m_home;
};

// ---- Names ----

TEST_F(ProfileStoreTest, CleanMakesSafeFileNames)
{
    EXPECT_EQ(ProfileStore::clean(u"  a/b:c  "_s), u"a-b-c"_s);
    EXPECT_EQ(ProfileStore::clean(u"a\r\nb"_s), u"a--b"_s);
    EXPECT_EQ(ProfileStore::clean(u"a\\b\tc"_s), u"a-b-c"_s);
    EXPECT_EQ(ProfileStore::clean(u"\t name \t"_s), u"- name -"_s);
    EXPECT_EQ(ProfileStore::clean(u"  name\u3000"_s), u"name"_s);
    // Other control characters never reach a file name either.
    EXPECT_EQ(ProfileStore::clean(u"x\u0001y\u001Bz\u007F"_s), u"x-y-z-"_s);
    EXPECT_EQ(ProfileStore::clean(u"a"_s + QChar(u'\0') + u"b"_s), u"a-b"_s);
    EXPECT_EQ(ProfileStore::clean(u"a\u2028b"_s), u"a-b"_s);
    // Full stops inside a name are harmless: ".json" is always appended.
    EXPECT_EQ(ProfileStore::clean(u"a..b"_s), u"a..b"_s);
    EXPECT_EQ(ProfileStore::clean(u"/.."_s), u"-.."_s);

    EXPECT_EQ(ProfileStore::clean(u".hidden"_s), std::nullopt);
    EXPECT_EQ(ProfileStore::clean(u".."_s), std::nullopt);
    EXPECT_EQ(ProfileStore::clean(u"  .x"_s), std::nullopt);
    EXPECT_EQ(ProfileStore::clean(u"    "_s), std::nullopt);
    EXPECT_EQ(ProfileStore::clean(QString()), std::nullopt);
}

TEST_F(ProfileStoreTest, CleanKeepsSixtyCharactersAsTheUserSeesThem)
{
    EXPECT_EQ(ProfileStore::clean(QString(70, u'x')), QString(60, u'x'));
    EXPECT_EQ(ProfileStore::clean(QString(60, u'x')), QString(60, u'x'));
    // An accent and a flag each count as one character and are never split.
    const QString accented = QString(59, u'a') + u"e\u0301"_s + u"zz"_s;
    EXPECT_EQ(ProfileStore::clean(accented), QString(59, u'a') + u"e\u0301"_s);
    const QString flags = QString(59, u'a') + u"\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7"_s;
    EXPECT_EQ(ProfileStore::clean(flags), QString(59, u'a') + u"\U0001F1E9\U0001F1EA"_s);
}

TEST_F(ProfileStoreTest, FilePathStaysInTheFolder)
{
    EXPECT_EQ(profiles().filePath(u"Work"_s), profiles().folder() + u"/Work.json"_s);
    EXPECT_EQ(profiles().filePath(u"../evil"_s), std::nullopt);
    EXPECT_EQ(profiles().filePath(QString()), std::nullopt);
    EXPECT_EQ(profiles().filePath(u"a"_s + QChar(u'\0')), std::nullopt);
    // ".." + ".json" is a file in the folder.
    EXPECT_EQ(profiles().filePath(u".."_s), profiles().folder() + u"/...json"_s);
}

// ---- Folder and listing ----

TEST_F(ProfileStoreTest, DefaultFolderIsCreatedUnderTheDataHome)
{
    EXPECT_EQ(profiles().folder(), XdgPaths::profilesDir());
    EXPECT_EQ(profiles().folder(), QDir::cleanPath(m_home.file(u".local/share/Recorder/Profiles"_s)));
    EXPECT_TRUE(QFileInfo(profiles().folder()).isDir());
    EXPECT_TRUE(profiles().names().isEmpty());
}

TEST_F(ProfileStoreTest, ListsJsonFilesInTheFileManagersOrder)
{
    const QString dir = profiles().folder();
    for (const QString& file : {u"Profile 10.json"_s, u"B.json"_s, u"a.json"_s, u"Profile 2.json"_s,
                               u"Caps.JSON"_s, u"notes.txt"_s, u".json"_s, u"Profile 1.json.bak"_s})
        ASSERT_TRUE(writeFile(dir + u'/' + file, "{}"));
    ASSERT_TRUE(QDir().mkpath(dir + u"/folder.json"_s));
    profiles().reload();
    EXPECT_EQ(profiles().names(), (QStringList{u"a"_s, u"B"_s, u"Profile 2"_s, u"Profile 10"_s}));
}

TEST_F(ProfileStoreTest, ReloadDropsMarksWhoseFileHasGone)
{
    profiles().create(u"One"_s);
    profiles().create(u"Two"_s);
    profiles().setDefaultName(u"One"_s);
    ASSERT_EQ(profiles().activeName(), u"Two"_s);
    ASSERT_TRUE(QFile::remove(fileOf(u"One"_s)));
    ASSERT_TRUE(QFile::remove(fileOf(u"Two"_s)));
    profiles().reload();
    EXPECT_EQ(profiles().defaultName(), std::nullopt);
    EXPECT_EQ(profiles().activeName(), std::nullopt);
    EXPECT_FALSE(UserDefaults::standard().contains(u"defaultProfile"_s));
    EXPECT_FALSE(UserDefaults::standard().contains(u"activeProfile"_s));
}

// ---- Saving ----

TEST_F(ProfileStoreTest, CreateWritesTheProfileFileFormat)
{
    prefs().setFps(48);
    QSignalSpy names(&profiles(), &ProfileStore::namesChanged);
    profiles().create(u"  Work  "_s);

    const QString path = fileOf(u"Work"_s);
    ASSERT_TRUE(QFileInfo::exists(path));
    EXPECT_EQ(profiles().names(), QStringList{u"Work"_s});
    EXPECT_GE(names.count(), 1);
    EXPECT_EQ(profiles().activeName(), u"Work"_s);
    EXPECT_EQ(UserDefaults::standard().string(u"activeProfile"_s), u"Work"_s);
    EXPECT_EQ(profiles().message(), std::nullopt);

    const QByteArray text = readAll(path);
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError);
    const QJsonObject top = doc.object();
    EXPECT_EQ(top.keys(), (QStringList{u"app"_s, u"name"_s, u"settings"_s, u"version"_s}));
    EXPECT_EQ(top[u"app"_s], QJsonValue(u"Recorder"_s));
    EXPECT_EQ(top[u"version"_s], QJsonValue(1));
    EXPECT_EQ(top[u"name"_s], QJsonValue(u"Work"_s));
    // Without a recorder model the settings are the preferences' snapshot alone.
    EXPECT_EQ(top[u"settings"_s].toObject(), prefs().snapshot());
    EXPECT_EQ(top[u"settings"_s][u"fps"_s], QJsonValue(48));

    // Pretty-printed UTF-8 with sorted keys at every level.
    EXPECT_TRUE(text.startsWith("{\n    \"app\": \"Recorder\",\n    \"name\": \"Work\",\n    \"settings\": {\n"));
    EXPECT_TRUE(text.endsWith("    \"version\": 1\n}\n"));
    EXPECT_LT(text.indexOf("\"cameraBurn\""), text.indexOf("\"cameraFPS\""));
    EXPECT_LT(text.indexOf("\"focus\": {"), text.indexOf("\"muteMic\": {"));
}

TEST_F(ProfileStoreTest, TheModelsFourValuesTravelWithAProfile)
{
    FakeModel model;
    model.mic = 3.5;
    model.sys = -12;
    model.mute = true;
    model.system = false;
    test::ServiceScope services{&model};
    profiles().create(u"Loud"_s);
    const QJsonObject settings = readJson(fileOf(u"Loud"_s))[u"settings"_s].toObject();
    EXPECT_EQ(settings.size(), 41);
    EXPECT_EQ(settings[u"micGainDB"_s], QJsonValue(3.5));
    EXPECT_EQ(settings[u"sysGainDB"_s], QJsonValue(-12));
    EXPECT_EQ(settings[u"muteSpeakers"_s], QJsonValue(true));
    EXPECT_EQ(settings[u"systemAudio"_s], QJsonValue(false));
}

TEST_F(ProfileStoreTest, CreateNeverOverwritesAndRefusesEmptyNames)
{
    profiles().create(u"Work"_s);
    const QByteArray original = readAll(fileOf(u"Work"_s));
    prefs().setFps(12);

    profiles().create(u" Work "_s);
    EXPECT_EQ(profiles().message(), u"You already have a profile named “Work”. Please choose a different name."_s);
    EXPECT_EQ(readAll(fileOf(u"Work"_s)), original);

    profiles().create(u"  "_s);
    EXPECT_EQ(profiles().message(), u"The name can't be empty."_s);
    profiles().create(u".secret"_s);
    EXPECT_EQ(profiles().message(), u"The name can't be empty."_s);
    EXPECT_EQ(profiles().names(), QStringList{u"Work"_s});
}

TEST_F(ProfileStoreTest, FailedWriteKeepsTheOldFileAndSaysWhy)
{
    profiles().create(u"Work"_s);
    profiles().setMessage(std::nullopt);
    // A folder where the file would go: the atomic replacement cannot happen.
    ASSERT_TRUE(QDir().mkpath(fileOf(u"Blocked"_s)));
    ASSERT_TRUE(writeFile(fileOf(u"Blocked"_s) + u"/keep"_s, "x"));
    EXPECT_FALSE(profiles().write(u"Blocked"_s));
    ASSERT_TRUE(profiles().message().has_value());
    EXPECT_TRUE(profiles().message()->startsWith(u"Save failed: "_s)) << profiles().message()->toStdString();
    EXPECT_EQ(readAll(fileOf(u"Blocked"_s) + u"/keep"_s), "x");

    // A name that would leave the folder is refused before anything is written.
    EXPECT_FALSE(profiles().write(u"../Escaped"_s));
    EXPECT_EQ(profiles().message(), u"Save failed: Invalid file name"_s);
    EXPECT_FALSE(QFileInfo::exists(profiles().folder() + u"/../Escaped.json"_s));
    EXPECT_EQ(profiles().names(), QStringList{u"Work"_s});
}

// ---- Loading ----

TEST_F(ProfileStoreTest, LoadBringsTheSettingsBack)
{
    prefs().setFps(48);
    prefs().setPenWidth(7);
    profiles().create(u"Work"_s);
    prefs().setFps(10);
    prefs().setPenWidth(20);
    profiles().setActiveName(std::nullopt);

    EXPECT_TRUE(profiles().load(u"Work"_s, true));
    EXPECT_EQ(prefs().fps(), 48);
    EXPECT_EQ(prefs().penWidth(), 7);
    EXPECT_EQ(profiles().activeName(), u"Work"_s);
    EXPECT_EQ(profiles().message(), u"Loaded “Work”."_s);
}

TEST_F(ProfileStoreTest, LoadSetsTheModelsValuesWhileItIsIdle)
{
    FakeModel model;
    test::ServiceScope services{&model};
    const QString path = fileOf(u"Gains"_s);
    QJsonObject settings{{u"micGainDB"_s, 30}, {u"sysGainDB"_s, -100}, {u"muteSpeakers"_s, true},
                         {u"systemAudio"_s, false}};
    ASSERT_TRUE(writeFile(path, QJsonDocument(QJsonObject{{u"app"_s, u"Recorder"_s}, {u"version"_s, 1},
                                                         {u"name"_s, u"Gains"_s}, {u"settings"_s, settings}})
                                    .toJson()));
    profiles().reload();

    EXPECT_TRUE(profiles().load(u"Gains"_s, true));
    EXPECT_EQ(model.mic, 12);
    EXPECT_EQ(model.sys, -48);
    EXPECT_TRUE(model.mute);
    EXPECT_FALSE(model.system);
    EXPECT_EQ(model.calls, (QStringList{u"applyProfileVideoChoices"_s, u"mic"_s, u"gainChanged"_s, u"sys"_s,
                                        u"gainChanged"_s, u"mute"_s, u"system"_s}));

    // At launch the remembered per-device formats win over the profile's.
    model.calls.clear();
    EXPECT_TRUE(profiles().load(u"Gains"_s, false));
    EXPECT_EQ(model.calls.mid(0, 2), (QStringList{u"restoreCameraChoice"_s, u"restoreScreenChoice"_s}));

    // Values of the wrong type are skipped.
    settings = QJsonObject{{u"micGainDB"_s, u"loud"_s}, {u"muteSpeakers"_s, 1}, {u"fps"_s, 25}};
    ASSERT_TRUE(writeFile(path, QJsonDocument(QJsonObject{{u"app"_s, u"Recorder"_s}, {u"version"_s, 1},
                                                         {u"settings"_s, settings}})
                                    .toJson()));
    model.calls.clear();
    EXPECT_TRUE(profiles().load(u"Gains"_s, true));
    EXPECT_EQ(model.calls, QStringList{u"applyProfileVideoChoices"_s});
    EXPECT_EQ(prefs().fps(), 25);

    // While the model is busy only the preferences change.
    model.idle = false;
    model.calls.clear();
    settings = QJsonObject{{u"micGainDB"_s, 0}, {u"fps"_s, 50}};
    ASSERT_TRUE(writeFile(path, QJsonDocument(QJsonObject{{u"app"_s, u"Recorder"_s}, {u"version"_s, 1},
                                                         {u"settings"_s, settings}})
                                    .toJson()));
    EXPECT_TRUE(profiles().load(u"Gains"_s, true));
    EXPECT_TRUE(model.calls.isEmpty());
    EXPECT_EQ(model.mic, 12);
    EXPECT_EQ(prefs().fps(), 50);
}

TEST_F(ProfileStoreTest, LoadIsRefusedWhileRecording)
{
    prefs().setFps(48);
    profiles().create(u"Work"_s);
    profiles().setActiveName(std::nullopt);
    prefs().setFps(10);
    prefs().setIsRecording(true);
    EXPECT_FALSE(profiles().load(u"Work"_s, true));
    EXPECT_EQ(profiles().message(), u"Can't switch profiles while recording. Finish recording first."_s);
    EXPECT_EQ(prefs().fps(), 10);
    EXPECT_EQ(profiles().activeName(), std::nullopt);
}

// Each of these is refused with the same line, and nothing changes: not the
// preferences, not the stored defaults, not the model, not the active mark.
TEST_F(ProfileStoreTest, FilesThatAreNotProfilesOfOursChangeNothing)
{
    FakeModel model;
    test::ServiceScope services{&model};
    profiles().create(u"Good"_s);
    const QJsonObject good = readJson(fileOf(u"Good"_s));
    QJsonObject settings = good[u"settings"_s].toObject();
    settings[u"fps"_s] = 99;
    settings[u"micGainDB"_s] = -20;

    const auto withTop = [&](const std::function<void(QJsonObject&)>& change) {
        QJsonObject top = good;
        top[u"settings"_s] = settings;
        change(top);
        return QJsonDocument(top).toJson();
    };
    const std::vector<std::pair<const char*, QByteArray>> cases = {
        {"not JSON", "{\"app\": \"Recorder\", \"version\": 1, \"settings\": {\"fps\": 99"},
        {"empty", ""},
        {"binary", QByteArray("\x00\xff\xfe\x01", 4)},
        {"an array", "[{\"app\": \"Recorder\"}]"},
        {"no settings", withTop([](QJsonObject& t) { t.remove(u"settings"_s); })},
        {"settings not an object", withTop([](QJsonObject& t) { t[u"settings"_s] = QJsonArray{1}; })},
        {"far too large", QByteArray(2 << 20, ' ') + withTop([](QJsonObject&) {})},
    };

    const QString path = fileOf(u"Bad"_s);
    for (const auto& [what, content] : cases) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(writeFile(path, content));
        profiles().setActiveName(u"Good"_s);
        profiles().setMessage(std::nullopt);
        const QJsonObject before = prefs().snapshot();
        const QByteArray storedBefore = readAll(UserDefaults::standard().path());
        model.calls.clear();

        EXPECT_FALSE(profiles().load(u"Bad"_s, true));
        EXPECT_EQ(profiles().message(), u"Can't read “Bad”. The file may be corrupted."_s);
        EXPECT_EQ(prefs().snapshot(), before);
        EXPECT_EQ(readAll(UserDefaults::standard().path()), storedBefore);
        EXPECT_TRUE(model.calls.isEmpty());
        EXPECT_EQ(profiles().activeName(), u"Good"_s);
    }

    // The same file with the right top level loads.
    ASSERT_TRUE(writeFile(path, withTop([](QJsonObject&) {})));
    EXPECT_TRUE(profiles().load(u"Bad"_s, true));
    EXPECT_EQ(prefs().fps(), 99);
    EXPECT_EQ(model.mic, -20);
}

// Only "settings" is read: "app", "version" and "name" say what wrote the file,
// and whatever they hold the settings load.
TEST_F(ProfileStoreTest, OnlyTheSettingsObjectIsRead)
{
    profiles().create(u"Good"_s);
    const QJsonObject good = readJson(fileOf(u"Good"_s));
    const std::vector<std::pair<const char*, std::function<void(QJsonObject&)>>> cases = {
        {"another app", [](QJsonObject& t) { t[u"app"_s] = u"Other"_s; }},
        {"another version", [](QJsonObject& t) { t[u"version"_s] = 2; }},
        {"version as text", [](QJsonObject& t) { t[u"version"_s] = u"1"_s; }},
        {"another name", [](QJsonObject& t) { t[u"name"_s] = QJsonArray{}; }},
        {"settings alone", [](QJsonObject& t) { t = QJsonObject{{u"settings"_s, t[u"settings"_s]}}; }},
    };
    int fps = 11;
    for (const auto& [what, change] : cases) {
        SCOPED_TRACE(what);
        QJsonObject top = good;
        QJsonObject settings = top[u"settings"_s].toObject();
        settings[u"fps"_s] = ++fps;
        top[u"settings"_s] = settings;
        change(top);
        ASSERT_TRUE(writeFile(fileOf(u"Other"_s), QJsonDocument(top).toJson()));
        EXPECT_TRUE(profiles().load(u"Other"_s, true));
        EXPECT_EQ(prefs().fps(), fps);
    }
}

TEST_F(ProfileStoreTest, UnreadableOrMissingFilesChangeNothing)
{
    profiles().create(u"Good"_s);
    const QByteArray content = readAll(fileOf(u"Good"_s));
    const QJsonObject before = prefs().snapshot();

    // Missing, a folder in the file's place, a dangling link, a FIFO (which
    // must not block), an endless device, a name that would leave the folder.
    ASSERT_TRUE(QDir().mkpath(fileOf(u"Folder"_s)));
    ASSERT_TRUE(QFile::link(profiles().folder() + u"/nowhere"_s, fileOf(u"Dangling"_s)));
    ASSERT_EQ(mkfifo(QFile::encodeName(fileOf(u"Fifo"_s)).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(u"/dev/zero"_s, fileOf(u"Zero"_s)));
    ASSERT_TRUE(writeFile(profiles().folder() + u"/../Outside.json"_s, content));
    for (const QString& name : {u"Missing"_s, u"Folder"_s, u"Dangling"_s, u"Fifo"_s, u"Zero"_s, u"../Outside"_s}) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_FALSE(profiles().load(name, true));
        EXPECT_EQ(profiles().message(), Loc::fill(u"Can't read “%@”. The file may be corrupted."_s, name));
        EXPECT_EQ(prefs().snapshot(), before);
        EXPECT_EQ(profiles().activeName(), u"Good"_s);
    }

    // Without read permission (root reads everything, so only for other users).
    if (::geteuid() != 0) {
        ASSERT_TRUE(writeFile(fileOf(u"Locked"_s), content));
        ASSERT_TRUE(QFile::setPermissions(fileOf(u"Locked"_s), QFileDevice::WriteOwner));
        EXPECT_FALSE(profiles().load(u"Locked"_s, true));
        EXPECT_EQ(profiles().message(), u"Can't read “Locked”. The file may be corrupted."_s);
    }
}

// ---- Renaming, marks, deleting ----

TEST_F(ProfileStoreTest, RenameMovesTheFileTheInnerNameAndTheMarks)
{
    profiles().create(u"Old"_s);
    profiles().setDefaultName(u"Old"_s);
    profiles().setMessage(u"stale"_s);

    profiles().rename(u"Old"_s, u" New/One "_s);
    EXPECT_FALSE(QFileInfo::exists(fileOf(u"Old"_s)));
    ASSERT_TRUE(QFileInfo::exists(fileOf(u"New-One"_s)));
    EXPECT_EQ(readJson(fileOf(u"New-One"_s))[u"name"_s], QJsonValue(u"New-One"_s));
    EXPECT_EQ(profiles().names(), QStringList{u"New-One"_s});
    EXPECT_EQ(profiles().defaultName(), u"New-One"_s);
    EXPECT_EQ(profiles().activeName(), u"New-One"_s);
    EXPECT_EQ(UserDefaults::standard().string(u"defaultProfile"_s), u"New-One"_s);
    EXPECT_EQ(UserDefaults::standard().string(u"activeProfile"_s), u"New-One"_s);
    EXPECT_EQ(profiles().message(), std::nullopt);
}

TEST_F(ProfileStoreTest, RenameRefusalsChangeNothing)
{
    profiles().create(u"A"_s);
    profiles().create(u"B"_s);
    const QByteArray a = readAll(fileOf(u"A"_s));
    const QByteArray b = readAll(fileOf(u"B"_s));
    profiles().setMessage(std::nullopt);

    // The same name, or one that cleans to nothing: silently nothing.
    profiles().rename(u"A"_s, u" A "_s);
    profiles().rename(u"A"_s, u"  "_s);
    profiles().rename(u"A"_s, u".x"_s);
    EXPECT_EQ(profiles().message(), std::nullopt);

    profiles().rename(u"A"_s, u"B"_s);
    EXPECT_EQ(profiles().message(), u"You already have a profile named “B”. Please choose a different name."_s);
    EXPECT_EQ(readAll(fileOf(u"A"_s)), a);
    EXPECT_EQ(readAll(fileOf(u"B"_s)), b);

    // A file the list does not know about is not replaced either.
    ASSERT_TRUE(writeFile(fileOf(u"Hidden"_s), "keep"));
    profiles().rename(u"A"_s, u"Hidden"_s);
    EXPECT_TRUE(profiles().message()->startsWith(u"Rename failed: "_s)) << profiles().message()->toStdString();
    EXPECT_EQ(readAll(fileOf(u"Hidden"_s)), "keep");
    EXPECT_EQ(readAll(fileOf(u"A"_s)), a);

    profiles().rename(u"Gone"_s, u"C"_s);
    EXPECT_TRUE(profiles().message()->startsWith(u"Rename failed: "_s));
    EXPECT_FALSE(QFileInfo::exists(fileOf(u"C"_s)));
    EXPECT_EQ(profiles().names(), (QStringList{u"A"_s, u"B"_s}));
}

TEST_F(ProfileStoreTest, RenameOfAMalformedFileStillMovesIt)
{
    ASSERT_TRUE(writeFile(fileOf(u"Broken"_s), "not json"));
    profiles().reload();
    profiles().rename(u"Broken"_s, u"Fixed"_s);
    EXPECT_EQ(readAll(fileOf(u"Fixed"_s)), "not json");
    EXPECT_EQ(profiles().names(), QStringList{u"Fixed"_s});
    EXPECT_EQ(profiles().message(), std::nullopt);
}

TEST_F(ProfileStoreTest, MarksAreStoredAtOnce)
{
    profiles().create(u"Work"_s);
    QSignalSpy defaults(&profiles(), &ProfileStore::defaultNameChanged);
    profiles().setDefaultName(u"Work"_s);
    EXPECT_EQ(defaults.count(), 1);
    EXPECT_EQ(UserDefaults::standard().string(u"defaultProfile"_s), u"Work"_s);
    profiles().setDefaultName(std::nullopt);
    EXPECT_FALSE(UserDefaults::standard().contains(u"defaultProfile"_s));

    profiles().setDefaultName(u"Work"_s);
    ProfileStore::resetShared();
    EXPECT_EQ(profiles().defaultName(), u"Work"_s);
    EXPECT_EQ(profiles().activeName(), u"Work"_s);
}

TEST_F(ProfileStoreTest, DeleteMovesTheFileToTheTrash)
{
    profiles().create(u"Work"_s);
    profiles().create(u"Other"_s);
    profiles().setDefaultName(u"Work"_s);
    profiles().load(u"Work"_s, true);
    const QByteArray content = readAll(fileOf(u"Work"_s));

    profiles().remove(u"Work"_s);
    EXPECT_FALSE(QFileInfo::exists(fileOf(u"Work"_s)));
    EXPECT_EQ(profiles().names(), QStringList{u"Other"_s});
    const QString trash = XdgPaths::dataHome() + u"/Trash"_s;
    EXPECT_EQ(readAll(trash + u"/files/Work.json"_s), content);
    const QByteArray info = readAll(trash + u"/info/Work.json.trashinfo"_s);
    EXPECT_TRUE(info.startsWith("[Trash Info]\n")) << info.constData();
    EXPECT_TRUE(info.contains("Path=")) << info.constData();
    // The marks went with it, in memory and in the store.
    EXPECT_EQ(profiles().defaultName(), std::nullopt);
    EXPECT_EQ(profiles().activeName(), std::nullopt);
    EXPECT_FALSE(UserDefaults::standard().contains(u"defaultProfile"_s));
    EXPECT_FALSE(UserDefaults::standard().contains(u"activeProfile"_s));
    // Success leaves the message as it was.
    EXPECT_EQ(profiles().message(), u"Loaded “Work”."_s);
}

TEST_F(ProfileStoreTest, DeleteThatCannotReachTheTrashKeepsTheFileAndSaysSo)
{
    profiles().create(u"Work"_s);
    profiles().setDefaultName(u"Work"_s);
    // A plain file where the Trash folder should be.
    ASSERT_TRUE(QDir().mkpath(XdgPaths::dataHome()));
    ASSERT_TRUE(writeFile(XdgPaths::dataHome() + u"/Trash"_s, "not a folder"));

    profiles().remove(u"Work"_s);
    EXPECT_TRUE(QFileInfo::exists(fileOf(u"Work"_s)));
    ASSERT_TRUE(profiles().message().has_value());
    EXPECT_EQ(profiles().message(), u"Couldn't move “Work” to the Trash: The Trash folder is not available."_s);
    // Nothing was put anywhere else either.
    EXPECT_FALSE(QFileInfo::exists(QDir::currentPath() + u"/files/Work.json"_s));
    EXPECT_EQ(profiles().names(), QStringList{u"Work"_s});
    EXPECT_EQ(profiles().defaultName(), u"Work"_s);
}

// ---- Folder choice and launch ----

TEST_F(ProfileStoreTest, SetFolderSwitchesAndIsRememberedAcrossLaunches)
{
    profiles().create(u"Home"_s);
    profiles().setDefaultName(u"Home"_s);
    const QString other = makeFolder(u"Elsewhere"_s);
    ASSERT_TRUE(writeFile(other + u"/Travel.json"_s, "{}"));

    QSignalSpy folder(&profiles(), &ProfileStore::folderChanged);
    profiles().setFolder(other);
    EXPECT_EQ(folder.count(), 1);
    EXPECT_EQ(profiles().folder(), other);
    EXPECT_EQ(profiles().names(), QStringList{u"Travel"_s});
    // The old folder's profiles stay where they were; their marks are cleared.
    EXPECT_TRUE(QFileInfo::exists(XdgPaths::profilesDir() + u"/Home.json"_s));
    EXPECT_EQ(profiles().defaultName(), std::nullopt);
    EXPECT_EQ(UserDefaults::standard().string(u"profilesFolder"_s), other);
    EXPECT_EQ(SecurityScope::resolve(u"profilesFolder"_s), other);

    ProfileStore::resetShared();
    EXPECT_EQ(profiles().folder(), other);

    // A folder that does not exist yet is made, and bookmarked like any other.
    const QString fresh = QDir::cleanPath(m_home.file(u"New/Deep"_s));
    profiles().setFolder(fresh);
    EXPECT_TRUE(QFileInfo(fresh).isDir());
    EXPECT_EQ(SecurityScope::resolve(u"profilesFolder"_s), fresh);
    ProfileStore::resetShared();
    EXPECT_EQ(profiles().folder(), fresh);
}

TEST_F(ProfileStoreTest, PlainFolderPathIsUsedWhenTheBookmarkIsGone)
{
    const QString other = makeFolder(u"Plain"_s);
    UserDefaults::standard().setString(u"profilesFolder"_s, other);
    ProfileStore::resetShared();
    EXPECT_EQ(profiles().folder(), other);
}

TEST_F(ProfileStoreTest, DefaultProfileIsAppliedAtLaunchWithoutAMessage)
{
    FakeModel model;
    test::ServiceScope services{&model};
    prefs().setFps(48);
    profiles().create(u"Start"_s);
    profiles().setDefaultName(u"Start"_s);
    prefs().setFps(10);

    ProfileStore::resetShared();
    model.calls.clear();
    profiles().applyDefaultAtLaunch();
    EXPECT_EQ(prefs().fps(), 48);
    EXPECT_EQ(profiles().message(), std::nullopt);
    EXPECT_EQ(profiles().activeName(), u"Start"_s);
    EXPECT_EQ(model.calls.mid(0, 2), (QStringList{u"restoreCameraChoice"_s, u"restoreScreenChoice"_s}));

    // A default whose file has gone is cleared when the store starts; nothing loads.
    ASSERT_TRUE(QFile::remove(fileOf(u"Start"_s)));
    prefs().setFps(10);
    ProfileStore::resetShared();
    EXPECT_EQ(profiles().defaultName(), std::nullopt);
    profiles().applyDefaultAtLaunch();
    EXPECT_EQ(prefs().fps(), 10);
    EXPECT_EQ(profiles().message(), std::nullopt);
}

TEST_F(ProfileStoreTest, MessageChangesAreAnnounced)
{
    QSignalSpy spy(&profiles(), &ProfileStore::messageChanged);
    profiles().create(QString());
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(profiles().message(), u"The name can't be empty."_s);
}

} // namespace
