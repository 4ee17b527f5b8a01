#include "engine/EngineTestSupport.h"

#include "engine/RecoveryJournal.h"
#include "platform/ffmpeg/MovieProbe.h"
#include "platform/MovieTestSupport.h"
#include "support/ChildProcess.h"
#include "support/DrivenTest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>

#include <gtest/gtest.h>

#include <csignal>

using namespace corvessa;
using namespace corvessa::test;

// The movie file through the real writer: what a crash leaves of it, and a file
// that is taken away while it is written.

namespace {

constexpr const char* kStillChildMovie = "CORVESSA_STILL_CHILD_MOVIE";

QString recordedFile(const QString& movie)
{
    return movie + QStringLiteral(".recorded");
}

} // namespace

// The child half of the still-screen crash test: one picture, then nothing
// changes; it keeps writing how much the engine has handed to the writer.
// Disabled, so it runs only when the parent starts this program for it.
CHILD_TEST(RecorderEngineFile, ChildRecordsAStillScreenUntilKilled)
{
    const QString moviePath = qEnvironmentVariable(kStillChildMovie);
    ASSERT_FALSE(moviePath.isEmpty()) << "runs as the child of AStillScreenLosesLittleWhenKilled";
    EngineHarness h(true);
    auto config = h.config();
    config.outputURL = moviePath;
    ASSERT_FALSE(h.engine->startInner(config));
    ASSERT_TRUE(waitUntil([&] { return h.engine->effectiveSeconds() > 0; }, 20));
    h.source->setDeliveryPaused(true); // from here on only the heartbeat's repeats
    for (;;) {
        QSaveFile out(recordedFile(moviePath));
        if (out.open(QIODevice::WriteOnly)) {
            out.write(QByteArray::number(h.engine->effectiveSeconds(), 'f', 3));
            out.commit();
        }
        spin(0.02);
    }
}

TEST(RecorderEngineFile, AStillScreenLosesLittleWhenKilled)
{
    MovieFolder folder(QStringLiteral("RecorderEngineFile"));
    TempHome home;
    const QString moviePath = folder.file(QStringLiteral("Still.mov"));
    QFile::remove(moviePath);
    QFile::remove(recordedFile(moviePath));

    QStringList environment = QProcess::systemEnvironment();
    environment << QStringLiteral("%1=%2").arg(QString::fromLatin1(kStillChildMovie), moviePath);
    auto child = ChildProcess::start(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath(),
                                     {QStringLiteral("--gtest_also_run_disabled_tests"),
                                      QStringLiteral("--gtest_filter=RecorderEngineFile.DISABLED_ChildRecordsAStillScreenUntilKilled")},
                                     environment);
    ASSERT_TRUE(child);
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(recordedFile(moviePath)); }, 20));
    spin(7.0); // long enough for an encoder that holds a dozen 0.9 s frames to show
    ::kill(child->pid(), SIGKILL);
    ASSERT_TRUE(child->waitFinished(5000));

    // What the engine had handed over by its own count, last written before the
    // kill: a busy machine only makes it smaller.
    QFile recorded(recordedFile(moviePath));
    ASSERT_TRUE(recorded.open(QIODevice::ReadOnly));
    const double handedOver = recorded.readAll().toDouble();
    ASSERT_GT(handedOver, 3.0);

    const MovieProbe::Result probe = MovieProbe::probe(moviePath);
    ASSERT_TRUE(probe.playable);
    const MovieProbe::Stream* video = probe.firstOf(MovieProbe::Stream::Kind::Video);
    const MovieProbe::Stream* audio = probe.firstOf(MovieProbe::Stream::Kind::Audio);
    ASSERT_TRUE(video && audio);
    EXPECT_GE(video->seconds, handedOver - 2.5) << "handed over " << handedOver;
    EXPECT_GE(audio->seconds, handedOver - 2.5) << "handed over " << handedOver;
    QFile::remove(recordedFile(moviePath));
}

TEST(RecorderEngineFile, AMovieMovedWhileRecordingIsSavedWhereItWentAndOneTakenAwayIsAFailedSave)
{
    MovieFolder folder(QStringLiteral("RecorderEngineFile"));
    struct Case {
        const char* what;
        // Meddles with the movie at `path`; answers where the whole movie is
        // now, or nothing when it is gone.
        std::function<std::optional<QString>(const QString& path)> meddle;
    };
    const std::vector<Case> cases = {
        {"folder renamed",
         [](const QString& path) -> std::optional<QString> {
             const QString dir = QFileInfo(path).absolutePath();
             EXPECT_TRUE(QDir().rename(dir, dir + QStringLiteral(" (old)")));
             return QDir(dir + QStringLiteral(" (old)")).filePath(QFileInfo(path).fileName());
         }},
        {"renamed",
         [](const QString& path) -> std::optional<QString> {
             EXPECT_TRUE(QFile::rename(path, path + QStringLiteral(".moved")));
             return path + QStringLiteral(".moved");
         }},
        {"folder removed",
         [](const QString& path) -> std::optional<QString> {
             EXPECT_TRUE(QFileInfo(path).dir().removeRecursively());
             return std::nullopt;
         }},
        {"removed",
         [](const QString& path) -> std::optional<QString> {
             EXPECT_TRUE(QFile::remove(path));
             return std::nullopt;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EngineHarness h(true);
        auto config = h.config();
        const QString dir = folder.file(QString::fromLatin1(c.what));
        ASSERT_TRUE(QDir().mkpath(dir));
        config.outputURL = QDir(dir).filePath(QStringLiteral("Taken.mov"));
        ASSERT_FALSE(h.engine->startInner(config));
        ASSERT_TRUE(waitUntil([&] { return h.engine->effectiveSeconds() > 0.5; }, 10));
        const double atMove = h.engine->effectiveSeconds();
        const std::optional<QString> now = c.meddle(config.outputURL);
        // The movie goes on being written where it is.
        ASSERT_TRUE(waitUntil([&] { return h.engine->effectiveSeconds() > atMove + 0.4; }, 10));
        const std::optional<QString> saved = h.engine->stop();
        if (now) {
            ASSERT_EQ(saved, now);
            EXPECT_EQ(h.events.count(line(RecorderEngine::Line::completed)), 1);
            EXPECT_EQ(h.events.count(RecorderEngine::Line::fileMoved({*now})), 1);
            EXPECT_EQ(h.events.countStartingWith(line(RecorderEngine::Line::saveFailed)), 0);
            const MovieProbe::Result probe = MovieProbe::probe(*now);
            ASSERT_TRUE(probe.playable);
            const MovieProbe::Stream* video = probe.firstOf(MovieProbe::Stream::Kind::Video);
            ASSERT_TRUE(video);
            EXPECT_GT(video->seconds, atMove + 0.2) << "the whole movie, written after the move too";
            const std::vector<WrittenFile> written = h.engine->writtenFiles();
            ASSERT_FALSE(written.empty());
            EXPECT_EQ(written.front().path(), *now);
            EXPECT_FALSE(QFile::exists(config.outputURL));
        } else {
            EXPECT_FALSE(saved);
            EXPECT_EQ(h.events.count(line(RecorderEngine::Line::completed)), 0);
            EXPECT_EQ(h.events.countStartingWith(line(RecorderEngine::Line::saveFailed)), 1);
            // The journal stays for the next launch.
            EXPECT_TRUE(QFile::exists(RecoveryJournal::file()));
        }
    }
}
