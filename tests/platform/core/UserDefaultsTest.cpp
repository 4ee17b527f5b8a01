#include "platform/core/UserDefaults.h"
#include "platform/core/XdgPaths.h"
#include "support/Immutable.h"
#include "support/TempHome.h"
#include "support/Unprivileged.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QScopeGuard>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace corvessa;
using corvessa::test::setImmutable;

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QStringList asideFiles(const QString& path)
{
    return QDir(QFileInfo(path).absolutePath())
        .entryList({QFileInfo(path).fileName() + ".corrupt-*"}, QDir::AllEntries | QDir::System | QDir::Hidden);
}

QByteArray logText()
{
    QFile f(XdgPaths::logFile());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(cannot be read)");
}

} // namespace

TEST(UserDefaults, TypedValuesSurviveAReopen)
{
    test::TempHome home;
    const QString path = XdgPaths::defaultsFile();
    {
        UserDefaults d(path);
        d.setBool("b", true);
        d.setInteger("i", -9007199254740993LL); // not representable as a double
        d.setDouble("d", 0.1);
        d.setString("s", QStringLiteral("Grüße %@"));
        d.setData("data", QByteArray("\x00\xff\x10 raw", 8));
        d.setArray("a", QJsonArray{1, "two"});
        d.setDictionary("o", QJsonObject{{"k", 3}});
        d.setStringArray("langs", {"de", "fr"});
        EXPECT_TRUE(d.lastError().isEmpty());
    }
    UserDefaults d(path);
    EXPECT_EQ(d.boolValue("b"), true);
    EXPECT_EQ(d.integer("i"), -9007199254740993LL);
    EXPECT_EQ(d.doubleValue("d"), 0.1);
    EXPECT_EQ(d.string("s"), QStringLiteral("Grüße %@"));
    EXPECT_EQ(d.data("data"), QByteArray("\x00\xff\x10 raw", 8));
    EXPECT_EQ(d.array("a"), (QJsonArray{1, "two"}));
    EXPECT_EQ(d.dictionary("o"), (QJsonObject{{"k", 3}}));
    EXPECT_EQ(d.stringArray("langs"), (QStringList{"de", "fr"}));
}

TEST(UserDefaults, WrongTypeReadsAsAbsent)
{
    test::TempHome home;
    UserDefaults d(XdgPaths::defaultsFile());
    d.setString("s", "yes");
    d.setBool("b", true);
    d.setDouble("frac", 2.5);
    d.setInteger("n", 7);
    d.setData("data", "xyz");
    d.setArray("mixed", QJsonArray{"a", 1});

    EXPECT_FALSE(d.boolValue("s"));
    EXPECT_FALSE(d.integer("s"));
    EXPECT_FALSE(d.integer("b"));       // a bool is not a number
    EXPECT_FALSE(d.string("b"));
    EXPECT_FALSE(d.integer("frac"));    // a fraction is not an integer
    EXPECT_EQ(d.doubleValue("n"), 7.0); // an integer is also a double
    EXPECT_FALSE(d.dictionary("data")); // data is not a dictionary
    EXPECT_FALSE(d.data("s"));
    EXPECT_FALSE(d.stringArray("mixed"));
    EXPECT_TRUE(d.array("mixed"));
    EXPECT_FALSE(d.string("missing"));
    EXPECT_FALSE(d.contains("missing"));
}

TEST(UserDefaults, RemoveAndChangeSignal)
{
    test::TempHome home;
    UserDefaults d(XdgPaths::defaultsFile());
    QSignalSpy spy(&d, &UserDefaults::valueChanged);
    d.setInteger("k", 1);
    d.remove("k");
    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(spy.at(1).at(0).toString(), QStringLiteral("k"));
    EXPECT_FALSE(d.contains("k"));
    EXPECT_FALSE(UserDefaults(XdgPaths::defaultsFile()).contains("k"));
}

TEST(UserDefaults, CorruptFileIsKeptAsideNotOverwritten)
{
    test::TempHome home;
    const QString path = XdgPaths::defaultsFile();
    writeFile(path, "{ \"a\": 1, broken");
    UserDefaults d(path);
    EXPECT_FALSE(d.contains("a"));
    EXPECT_FALSE(d.lastError().isEmpty());
    d.setInteger("b", 2);

    const QStringList aside = QDir(QFileInfo(path).absolutePath()).entryList({"defaults.json.corrupt-*"});
    ASSERT_EQ(aside.size(), 1);
    QFile kept(QFileInfo(path).absolutePath() + "/" + aside.first());
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("{ \"a\": 1, broken"));
    EXPECT_EQ(UserDefaults(path).integer("b"), 2);
}

// Each of these would have hung the start (a FIFO), run out of memory (an endless
// device) or cost several times its size: kept aside like a corrupt file, and
// said in the log.
TEST(UserDefaults, WhatIsNotARegularFileOfSaneSizeIsKeptAside)
{
    const QByteArray oversized = "{\"a\": \"" + QByteArray(UserDefaults::maximumFileBytes, 'x') + "\"}";
    const std::vector<std::pair<const char*, std::function<void(const QString&)>>> cases = {
        {"a link to an endless device", [](const QString& p) { ASSERT_TRUE(QFile::link("/dev/zero", p)); }},
        {"a FIFO", [](const QString& p) { ASSERT_EQ(mkfifo(QFile::encodeName(p).constData(), 0600), 0); }},
        {"a folder", [](const QString& p) { ASSERT_TRUE(QDir().mkpath(p)); }},
        {"valid JSON over the limit", [&](const QString& p) { writeFile(p, oversized); }},
    };
    for (const auto& [what, make] : cases) {
        SCOPED_TRACE(what);
        test::TempHome home;
        const QString path = XdgPaths::defaultsFile();
        QDir().mkpath(QFileInfo(path).absolutePath());
        make(path);
        UserDefaults d(path);
        EXPECT_FALSE(d.contains("a"));
        EXPECT_FALSE(d.lastError().isEmpty());
        const QStringList aside = asideFiles(path);
        ASSERT_EQ(aside.size(), 1);
        EXPECT_TRUE(QFileInfo(path).isFile() && !QFileInfo(path).isSymLink()) << "moved aside, a new store in its place";
        EXPECT_TRUE(logText().contains("[defaults] " + d.lastError().toUtf8()));
        d.setInteger("b", 2);
        EXPECT_EQ(UserDefaults(path).integer("b"), 2);
        EXPECT_EQ(asideFiles(path), aside) << "what was kept aside is left alone";
    }
}

TEST(UserDefaults, ALinkToASettingsFileIsFollowed)
{
    test::TempHome home;
    const QString path = XdgPaths::defaultsFile();
    writeFile(home.file("dotfiles/defaults.json"), R"({"a": 1})");
    QDir().mkpath(QFileInfo(path).absolutePath());
    ASSERT_TRUE(QFile::link(home.file("dotfiles/defaults.json"), path));
    EXPECT_EQ(UserDefaults(path).integer("a"), 1);
    EXPECT_TRUE(asideFiles(path).isEmpty());
}

TEST(UserDefaults, CorruptFileIsSaidInTheLog)
{
    test::TempHome home;
    const QString path = XdgPaths::defaultsFile();
    writeFile(path, "{ broken");
    UserDefaults d(path);
    EXPECT_TRUE(d.lastError().contains(asideFiles(path).value(0, "<none>")));
    EXPECT_TRUE(logText().contains("[defaults] " + d.lastError().toUtf8()));
}

TEST(UserDefaults, TopLevelThatIsNotAnObjectIsCorrupt)
{
    test::TempHome home;
    const QString path = XdgPaths::defaultsFile();
    writeFile(path, "[1,2,3]");
    UserDefaults d(path);
    EXPECT_FALSE(d.lastError().isEmpty());
    EXPECT_EQ(asideFiles(path).size(), 1);
}

// However it could not be read, the old file is set aside and the mark of
// where it went is kept in the new store (the process that found it may be a
// second launch that ends at once) until the program takes it to tell the
// user, once.
TEST(UserDefaults, AFileSetAsideIsMarkedUntilTheUserIsTold)
{
    test::TempHome home;
    const QString path = XdgPaths::defaultsFile();
    writeFile(path, "{ broken");
    {
        UserDefaults found(path);
        ASSERT_EQ(asideFiles(path).size(), 1);
    }
    UserDefaults d(path);
    const QString kept = QFileInfo(path).absolutePath() + "/" + asideFiles(path).value(0);
    EXPECT_EQ(d.takeSetAside(), kept);
    EXPECT_EQ(d.takeSetAside(), std::nullopt);
    EXPECT_FALSE(UserDefaults(path).contains(UserDefaults::setAsideKey));

    // A file that cannot be read (its permissions) goes the same way, rather
    // than being replaced unseen by the next change.
    test::TempHome other;
    const QString locked = XdgPaths::defaultsFile();
    writeFile(locked, R"({"a": 1})");
    const QByteArray folder = QFile::encodeName(QFileInfo(locked).absolutePath());
    ASSERT_EQ(chmod(QFile::encodeName(other.path()).constData(), 0755), 0);
    ASSERT_EQ(chmod(folder.constData(), 0777), 0);
    ASSERT_EQ(chmod(QFile::encodeName(locked).constData(), 0200), 0);
    test::runUnprivileged([&] {
        UserDefaults d(locked);
        EXPECT_FALSE(d.contains("a"));
        EXPECT_TRUE(d.takeSetAside());
    });
    ASSERT_EQ(asideFiles(locked).size(), 1);
    QFile old(QFileInfo(locked).absolutePath() + "/" + asideFiles(locked).value(0));
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray(R"({"a": 1})"));

    // One that can be neither read nor moved is never written over.
    test::TempHome third;
    const QString stuck = XdgPaths::defaultsFile();
    writeFile(stuck, "{ broken");
    const QByteArray stuckFolder = QFile::encodeName(QFileInfo(stuck).absolutePath());
    ASSERT_EQ(chmod(QFile::encodeName(third.path()).constData(), 0755), 0);
    ASSERT_EQ(chmod(QFile::encodeName(stuck).constData(), 0666), 0);
    ASSERT_EQ(chmod(stuckFolder.constData(), 0555), 0);
    test::runUnprivileged([&] {
        UserDefaults d(stuck);
        d.setString("s", "in memory");
        EXPECT_EQ(d.string("s"), QStringLiteral("in memory"));
        EXPECT_FALSE(d.lastError().isEmpty());
    });
    ASSERT_EQ(chmod(stuckFolder.constData(), 0755), 0);
    QFile same(stuck);
    ASSERT_TRUE(same.open(QIODevice::ReadOnly));
    EXPECT_EQ(same.readAll(), QByteArray("{ broken"));
}

TEST(UserDefaults, InvalidDataWrapperReadsAsAbsent)
{
    test::TempHome home;
    const QString path = XdgPaths::defaultsFile();
    writeFile(path, R"({"d": {"$data": "***not base64***"}})");
    EXPECT_FALSE(UserDefaults(path).data("d"));
}

TEST(UserDefaults, UnwritableFolderReportsAndKeepsValuesInMemory)
{
    test::TempHome home;
    const QString blocker = home.file("blocked");
    writeFile(blocker, "a file where a folder should be");
    UserDefaults d(blocker + "/Recorder/defaults.json");
    d.setString("s", "kept");
    EXPECT_FALSE(d.lastError().isEmpty());
    EXPECT_EQ(d.string("s"), QStringLiteral("kept"));
}

TEST(UserDefaults, NonFiniteDoubleIsNotStored)
{
    test::TempHome home;
    UserDefaults d(XdgPaths::defaultsFile());
    d.setDouble("x", 1.0);
    d.setDouble("x", std::numeric_limits<double>::infinity());
    EXPECT_FALSE(d.contains("x"));
}

TEST(UserDefaults, StandardFollowsHome)
{
    test::TempHome home;
    UserDefaults::standard().setString("where", "first");
    EXPECT_TRUE(QFile::exists(home.file(".config/Recorder/defaults.json")));
    {
        test::TempHome other;
        EXPECT_FALSE(UserDefaults::standard().contains("where"));
    }
    EXPECT_EQ(UserDefaults::standard().string("where"), QStringLiteral("first"));
}

// A settings file the program may not write, in each way a user meets one:
// the store keeps changes in memory, says once per load which file cannot be
// written and why in the system's words (known at loading, else found by the
// first change), and never touches the file that is there.
TEST(UserDefaults, ASettingsFileThatCannotBeWrittenIsReportedOnceAndLeftAsItIs)
{
    struct Way {
        const char* name;
        int error;
        bool permissionBits; // root is not stopped by these: run as nobody
        std::function<bool(const QString& file)> lock;
        std::function<void(const QString& file)> unlock;
    };
    const auto folderOf = [](const QString& file) { return QFileInfo(file).absolutePath(); };
    const auto mode = [](const QString& path, mode_t m) { return chmod(QFile::encodeName(path).constData(), m) == 0; };
    const std::vector<Way> ways = {
        {"read-only folder", EACCES, true, [&](const QString& f) { return mode(folderOf(f), 0555); },
         [&](const QString& f) { mode(folderOf(f), 0755); }},
        {"read-only file of another", EACCES, true, [&](const QString& f) { return mode(f, 0444); },
         [&](const QString& f) { mode(f, 0644); }},
        {"immutable folder", EPERM, false, [&](const QString& f) { return setImmutable(folderOf(f), true); },
         [&](const QString& f) { setImmutable(folderOf(f), false); }},
        {"folder replaced by a file", ENOTDIR, false,
         [&](const QString& f) {
             const QString parent = folderOf(folderOf(f));
             if (!QDir().rename(parent, parent + ".away"))
                 return false;
             QFile blocker(parent);
             return blocker.open(QIODevice::WriteOnly) && blocker.write("not a folder") > 0;
         },
         [&](const QString& f) {
             const QString parent = folderOf(folderOf(f));
             QFile::remove(parent);
             QDir().rename(parent + ".away", parent);
         }},
    };
    const QByteArray kept = "{\n    \"saveFolder\": \"/home/someone/Movies\",\n    \"micOn\": true\n}\n";
    int tried = 0;
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        test::TempHome home;
        const QString path = XdgPaths::defaultsFile();
        writeFile(path, kept);
        const bool asNobody = way.permissionBits && geteuid() == 0;
        if (asNobody) {
            // Nobody's own files under a home it may cross.
            for (QString dir = folderOf(path); dir.startsWith(home.path()); dir = folderOf(dir))
                ASSERT_EQ(chmod(QFile::encodeName(dir).constData(), 0755), 0);
            for (const QString& p : {path, folderOf(path)})
                ASSERT_EQ(chown(QFile::encodeName(p).constData(), 65534, 65534), 0);
        }
        bool locked = false;
        const auto undo = qScopeGuard([&] {
            if (locked)
                way.unlock(path);
        });
        const QString reason = QString::fromLocal8Bit(std::strerror(way.error));
        bool lockable = true;
        const auto work = [&] {
            UserDefaults d(path);
            EXPECT_EQ(d.writeFailure(), std::nullopt) << "a writable file at loading";
            QSignalSpy failed(&d, &UserDefaults::writeFailed);
            locked = way.lock(path);
            if (!locked) {
                lockable = false;
                return;
            }
            d.setString("saveFolder", "/elsewhere");
            d.setBool("micOn", false);
            d.remove("micOn");
            ASSERT_EQ(failed.size(), 1) << "said at the first failed write only";
            EXPECT_EQ(failed.at(0).at(0).toString(), path);
            EXPECT_EQ(failed.at(0).at(1).toString(), reason);
            EXPECT_EQ(d.writeFailure(), (UserDefaults::WriteFailure{path, reason}));
            EXPECT_TRUE(d.lastError().contains(reason)) << d.lastError().toStdString();
            EXPECT_EQ(d.string("saveFolder"), QStringLiteral("/elsewhere")) << "kept in memory";

            // The next start knows at loading, before any change.
            UserDefaults next(path);
            EXPECT_EQ(next.writeFailure(), (UserDefaults::WriteFailure{path, reason}));
            QSignalSpy again(&next, &UserDefaults::writeFailed);
            next.setString("saveFolder", "/again");
            EXPECT_EQ(again.size(), 0) << "known already";
            way.unlock(path);
            locked = false;
        };
        if (asNobody)
            test::runUnprivileged(work);
        else
            work();
        if (!lockable)
            continue;
        ++tried;
        EXPECT_EQ(fileBytes(path), kept) << "the file there is left byte for byte";
        // Written again, the store is told nothing.
        UserDefaults writable(path);
        EXPECT_EQ(writable.writeFailure(), std::nullopt);
        QSignalSpy failed(&writable, &UserDefaults::writeFailed);
        writable.setString("saveFolder", "/fine");
        EXPECT_EQ(failed.size(), 0);
        EXPECT_TRUE(writable.lastError().isEmpty()) << writable.lastError().toStdString();
    }
    if (tried < 2)
        GTEST_SKIP() << "only " << tried << " of the ways to stop a write work here";
}
