#include "platform/core/UserDefaults.h"
#include "prefs/SecurityScope.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace corvessa;
using namespace Qt::StringLiterals;

namespace {

class SecurityScopeTest : public ::testing::Test {
protected:
    QString makeFolder(const QString& name)
    {
        const QString path = QDir::cleanPath(m_home.file(name));
        EXPECT_TRUE(QDir().mkpath(path));
        return path;
    }

    static std::optional<QByteArray> bookmark(const QString& key)
    {
        return UserDefaults::standard().data(SecurityScope::bookmarkKey(key));
    }

    test::TempHome m_home;
};

TEST_F(SecurityScopeTest, BookmarkIsTheFolderPathInUtf8)
{
    const QString folder = makeFolder(u"Aufnahmen – Über"_s);
    EXPECT_TRUE(SecurityScope::save(folder, u"saveFolder"_s));
    EXPECT_EQ(bookmark(u"saveFolder"_s), folder.toUtf8());
    EXPECT_TRUE(UserDefaults::standard().contains(u"saveFolderBookmark"_s));
    EXPECT_EQ(SecurityScope::resolve(u"saveFolder"_s), folder);
    // A second resolve gives the same folder and keeps the bookmark.
    EXPECT_EQ(SecurityScope::resolve(u"saveFolder"_s), folder);
    EXPECT_EQ(bookmark(u"saveFolder"_s), folder.toUtf8());
}

TEST_F(SecurityScopeTest, NoBookmarkResolvesToNothing)
{
    EXPECT_EQ(SecurityScope::resolve(u"saveFolder"_s), std::nullopt);
    EXPECT_EQ(SecurityScope::resolve(u"profilesFolder"_s), std::nullopt);
}

TEST_F(SecurityScopeTest, KeysAreIndependent)
{
    const QString a = makeFolder(u"a"_s);
    const QString b = makeFolder(u"b"_s);
    ASSERT_TRUE(SecurityScope::save(a, u"saveFolder"_s));
    ASSERT_TRUE(SecurityScope::save(b, u"profilesFolder"_s));
    EXPECT_EQ(SecurityScope::resolve(u"saveFolder"_s), a);
    EXPECT_EQ(SecurityScope::resolve(u"profilesFolder"_s), b);
}

TEST_F(SecurityScopeTest, SavingANewFolderReplacesTheOldOne)
{
    const QString a = makeFolder(u"a"_s);
    const QString b = makeFolder(u"b"_s);
    ASSERT_TRUE(SecurityScope::save(a, u"saveFolder"_s));
    ASSERT_EQ(SecurityScope::resolve(u"saveFolder"_s), a);
    ASSERT_TRUE(SecurityScope::save(b, u"saveFolder"_s));
    EXPECT_EQ(SecurityScope::resolve(u"saveFolder"_s), b);
    EXPECT_EQ(bookmark(u"saveFolder"_s), b.toUtf8());
}

TEST_F(SecurityScopeTest, DeletedFolderResolvesToNothingAndLosesItsBookmark)
{
    const QString folder = makeFolder(u"gone"_s);
    ASSERT_TRUE(SecurityScope::save(folder, u"saveFolder"_s));
    ASSERT_EQ(SecurityScope::resolve(u"saveFolder"_s), folder); // open now
    ASSERT_TRUE(QDir(folder).removeRecursively());
    EXPECT_EQ(SecurityScope::resolve(u"saveFolder"_s), std::nullopt);
    EXPECT_FALSE(UserDefaults::standard().contains(u"saveFolderBookmark"_s));
    // Recreating the folder does not bring the forgotten choice back.
    ASSERT_TRUE(QDir().mkpath(folder));
    EXPECT_EQ(SecurityScope::resolve(u"saveFolder"_s), std::nullopt);
}

TEST_F(SecurityScopeTest, FolderReplacedByAFileResolvesToNothing)
{
    const QString folder = makeFolder(u"was-a-folder"_s);
    ASSERT_TRUE(SecurityScope::save(folder, u"saveFolder"_s));
    ASSERT_TRUE(QDir(folder).removeRecursively());
    QFile f(folder);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    EXPECT_EQ(SecurityScope::resolve(u"saveFolder"_s), std::nullopt);
    EXPECT_FALSE(UserDefaults::standard().contains(u"saveFolderBookmark"_s));
}

TEST_F(SecurityScopeTest, ReadOnlyFolderResolvesToNothingAndLosesItsBookmark)
{
    const QString folder = makeFolder(u"locked"_s);
    ASSERT_TRUE(SecurityScope::save(folder, u"saveFolder"_s));
    ASSERT_EQ(SecurityScope::resolve(u"saveFolder"_s), folder);
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0555), 0);
    // Root may write whatever the permission bits say, so the bits prove nothing
    // there: the folder really is writable and must stay usable.
    const bool bitsBind = ::access(QFile::encodeName(folder).constData(), W_OK) != 0;
    const auto resolved = SecurityScope::resolve(u"saveFolder"_s);
    ::chmod(QFile::encodeName(folder).constData(), 0755);
    if (!bitsBind) {
        EXPECT_EQ(resolved, folder);
        GTEST_SKIP() << "running as root: permission bits do not stop writes";
    }
    EXPECT_EQ(resolved, std::nullopt);
    EXPECT_FALSE(UserDefaults::standard().contains(u"saveFolderBookmark"_s));
}

TEST_F(SecurityScopeTest, UnusableFolderIsNotSavedAndKeepsThePreviousChoice)
{
    const QString good = makeFolder(u"good"_s);
    ASSERT_TRUE(SecurityScope::save(good, u"saveFolder"_s));
    EXPECT_FALSE(SecurityScope::save(m_home.file(u"missing"_s), u"saveFolder"_s));
    EXPECT_FALSE(SecurityScope::save(u"relative/path"_s, u"saveFolder"_s));
    EXPECT_FALSE(SecurityScope::save(QString(), u"saveFolder"_s));
    EXPECT_FALSE(SecurityScope::save(u":/lang"_s, u"saveFolder"_s));
    EXPECT_EQ(bookmark(u"saveFolder"_s), good.toUtf8());
    EXPECT_EQ(SecurityScope::resolve(u"saveFolder"_s), good);
}

TEST_F(SecurityScopeTest, UnreadableBookmarkIsDeleted)
{
    const QByteArray bad[] = {
        QByteArray("relative/folder"),
        QByteArray("/tmp/\xff\xfe-not-utf8"),
        QByteArray("/tmp\0/x", 7),
        QByteArray(),
    };
    for (const QByteArray& data : bad) {
        UserDefaults::standard().setData(u"saveFolderBookmark"_s, data);
        EXPECT_EQ(SecurityScope::resolve(u"saveFolder"_s), std::nullopt) << data.toHex().constData();
        EXPECT_FALSE(UserDefaults::standard().contains(u"saveFolderBookmark"_s)) << data.toHex().constData();
    }
    // A bookmark of the wrong type reads as none and is left alone.
    UserDefaults::standard().setString(u"saveFolderBookmark"_s, makeFolder(u"x"_s));
    EXPECT_EQ(SecurityScope::resolve(u"saveFolder"_s), std::nullopt);
}

TEST_F(SecurityScopeTest, StaleBookmarkIsRewrittenInItsCleanForm)
{
    const QString folder = makeFolder(u"clean"_s);
    UserDefaults::standard().setData(u"saveFolderBookmark"_s, (folder + u"/./"_s).toUtf8());
    EXPECT_EQ(SecurityScope::resolve(u"saveFolder"_s), folder);
    EXPECT_EQ(bookmark(u"saveFolder"_s), folder.toUtf8());
}

TEST_F(SecurityScopeTest, BookmarkChangedBehindTheOpenFolderIsFollowed)
{
    const QString a = makeFolder(u"a"_s);
    const QString b = makeFolder(u"b"_s);
    ASSERT_TRUE(SecurityScope::save(a, u"saveFolder"_s));
    ASSERT_EQ(SecurityScope::resolve(u"saveFolder"_s), a);
    UserDefaults::standard().setData(u"saveFolderBookmark"_s, b.toUtf8());
    EXPECT_EQ(SecurityScope::resolve(u"saveFolder"_s), b);
    UserDefaults::standard().remove(u"saveFolderBookmark"_s);
    EXPECT_EQ(SecurityScope::resolve(u"saveFolder"_s), std::nullopt);
}

} // namespace
