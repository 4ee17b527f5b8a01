#include "platform/core/OpenFileLocator.h"
#include "platform/core/WrittenFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace corvessa;

// A file of ours, known by identity: nothing but that very file is ever
// touched, and it is found again when the user renames it or its folder.

namespace {

QByteArray name(const QString& path)
{
    return QFile::encodeName(path);
}

// Creates a file with old times, as the writer's file is before a nudge.
void makeOld(const QString& path, const QByteArray& bytes = "movie")
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();
    const struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, name(path).constData(), old, AT_SYMLINK_NOFOLLOW), 0);
}

int64_t mtime(const QString& path)
{
    struct stat st {};
    return ::lstat(name(path).constData(), &st) == 0 ? int64_t(st.st_mtim.tv_sec) : -1;
}

QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

TEST(WrittenFile, TouchChangesOnlyTheVeryFileWritten)
{
    QTemporaryDir dir;
    const QString movie = dir.filePath(QStringLiteral("A.mov"));
    const QString elsewhere = dir.filePath(QStringLiteral("target.txt"));

    makeOld(movie);
    const auto written = WrittenFile::atPath(movie);
    ASSERT_TRUE(written);
    ASSERT_TRUE(written->isAtPath());
    EXPECT_TRUE(written->touch());
    EXPECT_GT(mtime(movie), 1000000000);

    // Each way the path can stop naming our file: the touch changes nothing,
    // creates nothing and follows no link.
    struct Case {
        const char* what;
        std::function<void()> meddle;
        bool pathExistsAfter;
    };
    const std::vector<Case> cases{
        {"removed", [&] { ASSERT_TRUE(QFile::remove(movie)); }, false},
        {"a link to another file in its place",
         [&] {
             ASSERT_TRUE(QFile::remove(movie));
             makeOld(elsewhere, "someone else's");
             ASSERT_EQ(::symlink(name(elsewhere).constData(), name(movie).constData()), 0);
         },
         true},
        {"a link to nothing in its place",
         [&] {
             ASSERT_TRUE(QFile::remove(movie));
             ASSERT_EQ(::symlink(name(elsewhere).constData(), name(movie).constData()), 0);
         },
         true},
        {"another file in its place",
         [&] {
             ASSERT_TRUE(QFile::remove(movie));
             makeOld(movie, "someone else's");
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(movie);
        QFile::remove(elsewhere);
        makeOld(movie);
        const auto file = WrittenFile::atPath(movie);
        ASSERT_TRUE(file);
        c.meddle();
        const bool elsewhereExisted = QFile::exists(elsewhere);
        const int64_t elsewhereTime = mtime(elsewhere);
        const QByteArray onPath = contents(movie);

        EXPECT_FALSE(file->isAtPath());
        EXPECT_FALSE(file->touch());
        EXPECT_EQ(QFileInfo::exists(movie) || QFileInfo(movie).isSymLink(), c.pathExistsAfter);
        EXPECT_EQ(QFile::exists(elsewhere), elsewhereExisted) << "a link's target is never created";
        EXPECT_EQ(mtime(elsewhere), elsewhereTime);
        EXPECT_EQ(contents(movie), onPath);
        if (QFileInfo(movie).isFile() && !QFileInfo(movie).isSymLink())
            EXPECT_EQ(mtime(movie), 1000000000);
    }
}

TEST(WrittenFile, AtPathKnowsOnlyARegularFileAndNoLink)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("f"));
    const QString link = dir.filePath(QStringLiteral("l"));
    makeOld(file);
    ASSERT_EQ(::symlink(name(file).constData(), name(link).constData()), 0);
    EXPECT_TRUE(WrittenFile::atPath(file));
    EXPECT_FALSE(WrittenFile::atPath(link));
    EXPECT_FALSE(WrittenFile::atPath(dir.path()));
    EXPECT_FALSE(WrittenFile::atPath(dir.filePath(QStringLiteral("none"))));
    EXPECT_FALSE(WrittenFile::atPath(QString()));
}

TEST(OpenFileLocator, FindsAnOpenFileWhereverItWasMovedAndNothingOnceItIsGone)
{
    QTemporaryDir root;
    struct Case {
        const char* what;
        // Moves or removes the file at `path`; answers where it is now, or
        // empty when it is gone.
        std::function<QString(const QString& folder, const QString& path)> meddle;
    };
    const std::vector<Case> cases{
        {"left alone", [](const QString&, const QString& path) { return path; }},
        {"renamed",
         [](const QString& folder, const QString&) {
             const QString to = QDir(folder).filePath(QStringLiteral("renamed.mov"));
             EXPECT_TRUE(QFile::rename(QDir(folder).filePath(QStringLiteral("A.mov")), to));
             return to;
         }},
        {"its folder renamed",
         [](const QString& folder, const QString&) {
             const QString to = folder + QStringLiteral(" renamed");
             EXPECT_EQ(::rename(name(folder).constData(), name(to).constData()), 0);
             return QDir(to).filePath(QStringLiteral("A.mov"));
         }},
        {"removed",
         [](const QString&, const QString& path) {
             EXPECT_TRUE(QFile::remove(path));
             return QString();
         }},
        {"its folder removed",
         [](const QString& folder, const QString&) {
             EXPECT_TRUE(QDir(folder).removeRecursively());
             return QString();
         }},
        {"replaced by another",
         [](const QString& folder, const QString& path) {
             const QString other = QDir(folder).filePath(QStringLiteral("other"));
             makeOld(other, "someone else's");
             EXPECT_EQ(::rename(name(other).constData(), name(path).constData()), 0);
             return QString();
         }},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString folder = root.filePath(QStringLiteral("Videos %1").arg(++n));
        ASSERT_TRUE(QDir().mkpath(folder));
        const QString path = QDir(folder).filePath(QStringLiteral("A.mov"));
        const int fd = ::open(name(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        const auto written = WrittenFile::ofDescriptor(path, fd);
        ASSERT_TRUE(written);
        const QString now = c.meddle(folder, path);

        const auto found = OpenFileLocator::locate(*written, fd);
        if (now.isEmpty()) {
            EXPECT_FALSE(found) << found->path().toStdString();
        } else {
            ASSERT_TRUE(found);
            EXPECT_EQ(found->path(), now);
            EXPECT_EQ(found->inode(), written->inode());
            EXPECT_TRUE(found->isAtPath());
        }
        // Without its descriptor only the path itself counts.
        EXPECT_EQ(OpenFileLocator::locate(*written, -1).has_value(), now == path);
        ::close(fd);
    }
}

TEST(OpenFileLocator, ANameThatNowMeansAnotherFileIsNotTakenForIt)
{
    // The descriptor's name is only believed when it names the very file: in
    // another mount namespace, or after a rename race, it may name another.
    QTemporaryDir root;
    const QString path = root.filePath(QStringLiteral("A.mov"));
    const int fd = ::open(name(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    const auto written = WrittenFile::ofDescriptor(path, fd);
    ASSERT_TRUE(written);
    ASSERT_TRUE(QFile::rename(path, root.filePath(QStringLiteral("B.mov"))));

    const QString fakeProc = root.filePath(QStringLiteral("fd"));
    ASSERT_TRUE(QDir().mkpath(fakeProc));
    const QString other = root.filePath(QStringLiteral("other.mov"));
    makeOld(other);
    const QString entry = QDir(fakeProc).filePath(QString::number(fd));
    ASSERT_EQ(::symlink(name(other).constData(), name(entry).constData()), 0);
    EXPECT_FALSE(OpenFileLocator::locate(*written, fd, fakeProc));
    EXPECT_EQ(mtime(other), 1000000000);

    // The real one finds it.
    const auto found = OpenFileLocator::locate(*written, fd);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->path(), root.filePath(QStringLiteral("B.mov")));
    ::close(fd);
}
