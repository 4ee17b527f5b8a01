#include "engine/RecoveryJournal.h"

#include "engine/CameraSideFile.h"
#include "platform/ffmpeg/FFmpegMovieWriter.h"
#include "platform/core/MainQueue.h"
#include "platform/core/InstanceScope.h"
#include "platform/core/PixelBuffer.h"
#include "platform/core/ProcessProbe.h"
#include "platform/core/RecorderLog.h"
#include "platform/core/SampleBuffer.h"
#include "platform/core/WriterLock.h"
#include "platform/core/XdgPaths.h"
#include "support/ChildProcess.h"
#include "support/TempHome.h"
#include "support/Unprivileged.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <map>

#include <sys/stat.h>
#include <unistd.h>

using namespace corvessa;
using corvessa::test::runUnprivileged;
using Found = RecoveryJournal::Found;
using Kind = RecoveryJournal::Announcement::Kind;

namespace {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

std::optional<RecoveryJournal::Entry> journalOnDisk()
{
    return RecoveryJournal::decode(readFile(RecoveryJournal::file()));
}

// A writer of 16x16 pictures.
MovieWriter::Settings smallMovie(const QString& path)
{
    MovieWriter::Settings s;
    s.path = path;
    MovieWriter::VideoSettings v;
    v.width = 16;
    v.height = 16;
    v.expectedFrameRate = 30;
    v.averageBitRate = 10000;
    s.video = v;
    return s;
}

// A small real movie lasting `seconds`: a picture a second (or every frame for
// short ones), the last lasting to the end.
void writeMovie(const QString& path, double seconds)
{
    FFmpegMovieWriter w(smallMovie(path));
    ASSERT_TRUE(w.startWriting());
    const MediaTime start(1000, 1);
    w.startSession(start);
    auto picture = PixelBuffer::create(16, 16, PixelFormat::BGRA);
    const MediaTime step = seconds >= 2 ? MediaTime(1, 1) : MediaTime(1, 30);
    for (int i = 0; step.multiplied(i).seconds() < seconds - 1e-9; ++i) {
        picture = PixelBuffer::create(16, 16, PixelFormat::BGRA);
        picture->fill(uint8_t(i * 10), 0, 0);
        while (!w.isReadyForMoreMediaData(MovieWriter::Input::Video))
            QThread::msleep(1);
        ASSERT_TRUE(w.append(MovieWriter::Input::Video, SampleBuffer::video(picture, start + step.multiplied(i), step)));
    }
    w.endSession(start + MediaTime::fromSeconds(seconds));
    std::promise<void> done;
    w.finishWriting([&done] { done.set_value(); });
    done.get_future().wait();
    ASSERT_EQ(w.status(), MovieWriter::Status::Completed);
}

QStringList logLines()
{
    QStringList out;
    for (const QByteArray& line : readFile(XdgPaths::logFile()).split('\n')) {
        if (!line.isEmpty())
            out << QString::fromUtf8(line).section(QLatin1Char(' '), 1); // without the time stamp
    }
    return out;
}

QStringList recoveryLines()
{
    return logLines().filter(QStringLiteral("[recovery]"));
}

void makeFifo(const QString& path)
{
    ASSERT_EQ(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
}

// The recordings folder of a temporary home, and the name of the n-th of its
// recordings as the program names them.
QString recordings(const test::TempHome& home)
{
    const QString folder = home.file(QStringLiteral("Videos"));
    QDir().mkpath(folder);
    return folder;
}

QString recording(const test::TempHome& home, const QString& suffix = {}, int n = 0)
{
    return QDir(recordings(home)).filePath(QStringLiteral("Corvessa 2026-12-07 22.30.%1%2.mov").arg(n, 2, 10, QLatin1Char('0')).arg(suffix));
}

} // namespace

TEST(RecoveryJournal, EncodesTheStartAndTheFiles)
{
    const RecoveryJournal::Entry e{QDateTime(QDate(2001, 1, 1), QTime(0, 1, 30, 500), Qt::UTC),
                                   {QStringLiteral("/m/Rec 1.mov"), QStringLiteral("/m/Rec 1 Camera.mov")}};
    const QByteArray bytes = RecoveryJournal::encode(e);
    EXPECT_FALSE(bytes.contains('\n')) << "compact";
    const QJsonObject o = QJsonDocument::fromJson(bytes).object();
    EXPECT_EQ(o.size(), 2);
    EXPECT_DOUBLE_EQ(o.value(QStringLiteral("started")).toDouble(), 90.5); // seconds since 2001-01-01 UTC
    EXPECT_EQ(RecoveryJournal::decode(bytes), e);
    RecoveryJournal::Entry finished = e;
    finished.finished = true;
    EXPECT_EQ(RecoveryJournal::decode(RecoveryJournal::encode(finished)), finished);

    // What the other platform writes reads the same.
    const auto other = RecoveryJournal::decode(R"({"files":["\/a.mov"],"started":786000000.25})");
    ASSERT_TRUE(other);
    EXPECT_EQ(other->files, QStringList{QStringLiteral("/a.mov")});
    EXPECT_EQ(other->started, QDateTime(QDate(2025, 11, 28), QTime(5, 20, 0, 250), Qt::UTC));
}

TEST(RecoveryJournal, RejectsJournalsItCannotDecode)
{
    for (const char* bad : {"", "not json", "[]", R"({"files":["/a.mov"]})", R"({"started":1})",
                            R"({"started":"yesterday","files":[]})", R"({"started":1,"files":"/a.mov"})",
                            R"({"started":1,"files":["/a.mov",3]})"}) {
        EXPECT_FALSE(RecoveryJournal::decode(bad)) << bad;
    }
    EXPECT_TRUE(RecoveryJournal::decode(R"({"started":0,"files":[]})"));
}

TEST(RecoveryJournal, BeginAddAndEndKeepTheFileInStep)
{
    test::TempHome home;
    // One journal per display, as one program runs per display.
    const QString dir = home.file(QStringLiteral(".local/share/Recorder/Recovery/"));
    EXPECT_EQ(RecoveryJournal::file(), RecoveryJournal::fileFor(InstanceScope::current()));
    EXPECT_EQ(RecoveryJournal::fileFor(QStringLiteral("display_0")), dir + QStringLiteral("active-display_0.json"));
    EXPECT_EQ(RecoveryJournal::fileFor({}), dir + QStringLiteral("active-no_display.json"));
    EXPECT_EQ(RecoveryJournal::sharedFile(), dir + QStringLiteral("active.json"));
    EXPECT_EQ(RecoveryJournal::lockFileFor(RecoveryJournal::fileFor({})), dir + QStringLiteral("active-no_display.lock"));

    // Nothing to add to before a recording begins.
    RecoveryJournal::add(QStringLiteral("/m/early.mov"));
    EXPECT_FALSE(QFile::exists(RecoveryJournal::file()));

    const QDateTime before = QDateTime::currentDateTimeUtc().addMSecs(-1);
    RecoveryJournal::begin(QStringLiteral("/m/first.mov"));
    RecoveryJournal::begin(QStringLiteral("/m/Rec.mov")); // replaces the first
    auto e = journalOnDisk();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->files, QStringList{QStringLiteral("/m/Rec.mov")});
    EXPECT_GE(e->started, before);
    EXPECT_LE(e->started, QDateTime::currentDateTimeUtc().addMSecs(1));

    RecoveryJournal::add(QStringLiteral("/m/Rec Camera.mov"));
    RecoveryJournal::add(QStringLiteral("/m/Rec Camera 2.mov"));
    EXPECT_EQ(journalOnDisk()->files, (QStringList{QStringLiteral("/m/Rec.mov"), QStringLiteral("/m/Rec Camera.mov"),
                                                   QStringLiteral("/m/Rec Camera 2.mov")}));

    // A file already listed writes nothing: the journal is not recreated.
    QFile::remove(RecoveryJournal::file());
    RecoveryJournal::add(QStringLiteral("/m/Rec Camera.mov"));
    RecoveryJournal::add(QStringLiteral("/m/Rec.mov"));
    EXPECT_FALSE(QFile::exists(RecoveryJournal::file()));
    RecoveryJournal::add(QStringLiteral("/m/Rec Camera 3.mov"));
    EXPECT_EQ(journalOnDisk()->files.size(), 4);

    RecoveryJournal::end();
    EXPECT_FALSE(QFile::exists(RecoveryJournal::file()));
    RecoveryJournal::add(QStringLiteral("/m/late.mov"));
    EXPECT_FALSE(QFile::exists(RecoveryJournal::file()));
    RecoveryJournal::end(); // again: harmless
    // No temporary files are left beside the journal.
    EXPECT_TRUE(QDir(XdgPaths::recoveryDir()).entryList(QDir::Files).isEmpty());
}

TEST(RecoveryJournal, FormatsLengthsInWholeSeconds)
{
    EXPECT_EQ(RecoveryJournal::formatLength(45.0), "0:45");
    EXPECT_EQ(RecoveryJournal::formatLength(75.4), "1:15");
    EXPECT_EQ(RecoveryJournal::formatLength(44.5), "0:45"); // halves away from zero
    EXPECT_EQ(RecoveryJournal::formatLength(3599.6), "1:00:00");
    EXPECT_EQ(RecoveryJournal::formatLength(3725), "1:02:05");
    EXPECT_EQ(RecoveryJournal::formatLength(0), "0:00");
    EXPECT_EQ(RecoveryJournal::formatLength(std::nan("")), "0:00");
}

TEST(RecoveryJournal, LogLineListsEveryFoundFile)
{
    EXPECT_EQ(RecoveryJournal::logLine({}), "[recovery] last session did not finish normally; no file of it is left to recover");
    EXPECT_EQ(RecoveryJournal::logLine({{QStringLiteral("/m/Rec.mov"), 45.04, true}, {QStringLiteral("/m/Rec Camera.mov"), 0.1, false}}),
              "[recovery] last session did not finish normally; found 2 file(s): Rec.mov 45.0s playable=true; "
              "Rec Camera.mov 0.1s playable=false");
}

TEST(RecoveryJournal, AnnouncesRecoveredOrInterruptedRecordings)
{
    EXPECT_FALSE(RecoveryJournal::announcement({}));

    const auto recovered = RecoveryJournal::announcement(
        {{QStringLiteral("/m/Rec.mov"), 45.0, true}, {QStringLiteral("/m/Rec Camera.mov"), 0.1, false},
         {QStringLiteral("/m/Rec Camera 2.mov"), 3725, true}});
    ASSERT_TRUE(recovered);
    EXPECT_EQ(recovered->kind, Kind::Recovered);
    EXPECT_EQ(recovered->title, "Your last recording was recovered");
    EXPECT_EQ(recovered->message,
              "Corvessa didn't close normally last time (a crash, a power cut or a system problem), but what was already "
              "recorded was saved. You may lose the last few seconds.\n\nRec.mov  (0:45)\nRec Camera 2.mov  (1:02:05)");
    EXPECT_EQ(recovered->buttons, (QStringList{QStringLiteral("Show in Finder"), QStringLiteral("OK")}));
    EXPECT_EQ(recovered->playablePaths, (QStringList{QStringLiteral("/m/Rec.mov"), QStringLiteral("/m/Rec Camera 2.mov")}));

    const auto interrupted = RecoveryJournal::announcement({{QStringLiteral("/m/Rec.mov"), 0.2, false}});
    ASSERT_TRUE(interrupted);
    EXPECT_EQ(interrupted->kind, Kind::Interrupted);
    EXPECT_EQ(interrupted->title, "The last recording was interrupted");
    EXPECT_EQ(interrupted->message, "Corvessa didn't close normally last time, and the recording was too short to recover.");
    EXPECT_EQ(interrupted->buttons, QStringList{QStringLiteral("OK")});
    EXPECT_TRUE(interrupted->playablePaths.isEmpty());
}

TEST(RecoveryJournal, LaunchCheckReportsWhatStillPlays)
{
    test::TempHome home;
    const QString movie = recording(home, QStringLiteral(" Screen"), 35);
    const QString camera = recording(home, QStringLiteral(" Camera"), 35);
    writeMovie(movie, 45.0);
    writeMovie(camera, 0.1);
    writeFile(RecoveryJournal::file(),
              RecoveryJournal::encode({QDateTime::currentDateTimeUtc(), {movie, recording(home, {}, 1), camera}}));

    const auto report = RecoveryJournal::checkNow(recordings(home));
    ASSERT_TRUE(report);
    EXPECT_FALSE(QFile::exists(RecoveryJournal::file())) << "the journal is consumed";
    ASSERT_EQ(report->found.size(), 2u) << "the missing file is left out";
    EXPECT_EQ(report->found[0].path, movie);
    EXPECT_NEAR(report->found[0].seconds, 45.0, 0.001);
    EXPECT_TRUE(report->found[0].playable);
    EXPECT_NEAR(report->found[1].seconds, 0.1, 0.001);
    EXPECT_FALSE(report->found[1].playable);
    EXPECT_EQ(report->logLine,
              "[recovery] last session did not finish normally; found 2 file(s): Corvessa 2026-12-07 22.30.35 Screen.mov 45.0s "
              "playable=true; Corvessa 2026-12-07 22.30.35 Camera.mov 0.1s playable=false");
    EXPECT_TRUE(logLines().contains(report->logLine));
    ASSERT_TRUE(report->announcement);
    EXPECT_EQ(report->announcement->kind, Kind::Recovered);
    EXPECT_TRUE(report->announcement->message.endsWith(QStringLiteral("\n\nCorvessa 2026-12-07 22.30.35 Screen.mov  (0:45)")));
    EXPECT_EQ(report->announcement->playablePaths, QStringList{movie});

    // Consumed: the next launch finds nothing.
    EXPECT_FALSE(RecoveryJournal::checkNow(recordings(home)));
}

TEST(RecoveryJournal, LaunchCheckWithoutSurvivingFilesShowsNothing)
{
    test::TempHome home;
    EXPECT_FALSE(RecoveryJournal::checkNow(recordings(home))) << "no journal";

    writeFile(RecoveryJournal::file(), RecoveryJournal::encode({QDateTime::currentDateTimeUtc(), {recording(home)}}));
    const auto report = RecoveryJournal::checkNow(recordings(home));
    ASSERT_TRUE(report);
    EXPECT_TRUE(report->found.empty());
    EXPECT_FALSE(report->announcement);
    EXPECT_FALSE(QFile::exists(RecoveryJournal::file()));
    EXPECT_EQ(recoveryLines(), QStringList{QStringLiteral("[recovery] last session did not finish normally; no file of it is left to recover")});

    // Only a movie too short to keep: interrupted.
    const QString shortMovie = recording(home);
    writeMovie(shortMovie, 0.2);
    writeFile(RecoveryJournal::file(), RecoveryJournal::encode({QDateTime::currentDateTimeUtc(), {shortMovie}}));
    const auto interrupted = RecoveryJournal::checkNow(recordings(home));
    ASSERT_TRUE(interrupted && interrupted->announcement);
    EXPECT_EQ(interrupted->announcement->kind, Kind::Interrupted);
    EXPECT_FALSE(interrupted->found[0].playable);
}

TEST(RecoveryJournal, AJournalThatCannotBeReadStaysAndIsReportedToNobody)
{
    test::TempHome home;
    const QByteArray broken = "{\"started\": 12, \"files\": [";
    writeFile(RecoveryJournal::file(), broken);
    for (int launch = 0; launch < 2; ++launch) {
        EXPECT_FALSE(RecoveryJournal::checkNow(recordings(home)));
        EXPECT_EQ(readFile(RecoveryJournal::file()), broken);
    }

    // Nor does one that is not a regular file hold the check up.
    QFile::remove(RecoveryJournal::file());
    makeFifo(RecoveryJournal::file());
    EXPECT_FALSE(RecoveryJournal::checkNow(recordings(home)));
    EXPECT_TRUE(QFileInfo::exists(RecoveryJournal::file()));
    EXPECT_TRUE(recoveryLines().isEmpty());
}

// A journal can be tampered with: it must not make the check open, announce or
// remove whatever it names (a FIFO would block the check and the program's exit
// for ever, a system file would be announced, a user's file elsewhere deleted).
// Only a regular file of this user, directly in the recordings folder (links
// resolved), named as our recordings and holding a movie (or nothing) counts.
TEST(RecoveryJournal, LaunchCheckTouchesNothingButOurRecordingsInTheFolder)
{
    test::TempHome home;
    const QString folder = recordings(home);
    const QString elsewhere = home.file(QStringLiteral("Documents"));
    QDir().mkpath(elsewhere);
    const QString movie = recording(home);
    writeMovie(movie, 2.0);
    const QString header = home.file(QStringLiteral("header.mov"));
    {
        // A movie as a writer leaves it right after its start: no sample.
        FFmpegMovieWriter w(smallMovie(header));
        ASSERT_TRUE(w.startWriting());
        ASSERT_TRUE(QFile::copy(header, header + QStringLiteral(".kept")));
        w.cancelWriting();
    }
    const QByteArray headerOnly = readFile(header + QStringLiteral(".kept"));
    const QByteArray playable = readFile(movie);
    const QByteArray png = QByteArray::fromHex("89504e470d0a1a0a0000000d49484452");

    // Paths the check must neither announce nor change, with what to put there.
    struct Case {
        QString path;
        QByteArray bytes;
        enum { File, LinkTo, Fifo, Folder } kind = File;
        QString target = {};
    };
    const QString name = QFileInfo(movie).fileName();
    const QString camera = QFileInfo(recording(home, QStringLiteral(" Camera"), 1)).fileName();
    const std::vector<Case> untouched{
        {QDir(elsewhere).filePath(name), {}},                                        // outside, empty
        {QDir(elsewhere).filePath(camera), headerOnly},                              // outside, no sample
        {QDir(elsewhere).filePath(QFileInfo(recording(home, {}, 2)).fileName()), playable}, // outside, plays
        {QDir(folder).filePath(QStringLiteral("Inside/") + name), headerOnly},        // a folder within
        {QDir(folder).filePath(QStringLiteral("notes.mov")), {}},                     // not our name
        {QDir(folder).filePath(QStringLiteral("Corvessa 2026-12-07.mov")), playable},
        {QDir(folder).filePath(QStringLiteral("Corvessa 2026-12-07 22.30.03 Camera 1.mov")), headerOnly},
        {QDir(folder).filePath(QStringLiteral("Corvessa 2026-12-07 22.30.03.mov.txt")), playable},
        {recording(home, {}, 4), "plain text, named as a movie"},                      // no movie in it
        {recording(home, {}, 5), png},
        {recording(home, {}, 6), QByteArray::fromHex("00000008667479")}, // shorter than a box
        {recording(home, {}, 7), {}, Case::LinkTo, QDir(elsewhere).filePath(name)},  // a link out
        {recording(home, {}, 8), {}, Case::LinkTo, QStringLiteral("/etc/passwd")},
        {recording(home, {}, 9), {}, Case::Fifo},
        {recording(home, {}, 10), {}, Case::Folder},
    };
    QStringList listed{QStringLiteral("/dev/null"), QStringLiteral("/etc/passwd"), name /* relative */};
    for (const Case& c : untouched) {
        QDir().mkpath(QFileInfo(c.path).path());
        if (c.kind == Case::File)
            writeFile(c.path, c.bytes);
        else if (c.kind == Case::LinkTo)
            ASSERT_TRUE(QFile::link(c.target, c.path));
        else if (c.kind == Case::Fifo)
            makeFifo(c.path);
        else
            QDir().mkpath(c.path);
        listed << c.path;
    }
    // Through a link to another folder put inside the recordings folder.
    ASSERT_TRUE(QFile::link(elsewhere, QDir(folder).filePath(QStringLiteral("Out"))));
    listed << QDir(folder).filePath(QStringLiteral("Out/") + name) << QDir(folder).filePath(QStringLiteral("Out/") + camera);
    // Another user's movie, where this process may give a file away.
    if (geteuid() == 0) {
        const QString theirs = recording(home, {}, 11);
        ASSERT_TRUE(QFile::copy(movie, theirs));
        ASSERT_EQ(chown(QFile::encodeName(theirs).constData(), 65534, 65534), 0);
        listed << theirs;
    }
    // The folder named through a link to it is the folder all the same.
    const QString alias = home.file(QStringLiteral("Alias"));
    ASSERT_TRUE(QFile::link(folder, alias));
    listed << QDir(alias).filePath(name);
    std::map<QString, QByteArray> before;
    for (const QString& path : listed)
        before[path] = QFileInfo(path).isFile() ? readFile(path) : QByteArray();

    for (const QString& recordingsFolder : {folder, alias}) {
        writeFile(RecoveryJournal::file(), RecoveryJournal::encode({QDateTime::currentDateTimeUtc(), listed}));
        const auto report = RecoveryJournal::checkNow(recordingsFolder);
        ASSERT_TRUE(report);
        ASSERT_EQ(report->found.size(), 1u);
        EXPECT_EQ(report->found[0].path, movie);
        EXPECT_TRUE(report->found[0].playable);
        ASSERT_TRUE(report->announcement);
        EXPECT_EQ(report->announcement->playablePaths, QStringList{movie});
        for (const auto& [path, bytes] : before) {
            if (!QDir::isAbsolutePath(path))
                continue;
            EXPECT_TRUE(QFileInfo(path).exists() || QFileInfo(path).isSymLink()) << path.toStdString();
            if (QFileInfo(path).isFile())
                EXPECT_EQ(readFile(path), bytes) << path.toStdString();
        }
    }
    EXPECT_TRUE(recoveryLines().filter(QStringLiteral("removed")).isEmpty());
    EXPECT_EQ(recoveryLines().filter(QStringLiteral(": not a QuickTime movie")).size(), 6) << "three files, twice";

    // Without a recordings folder nothing at all is examined.
    writeFile(RecoveryJournal::file(), RecoveryJournal::encode({QDateTime::currentDateTimeUtc(), {movie}}));
    const auto none = RecoveryJournal::checkNow({});
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->found.empty());
    EXPECT_FALSE(none->announcement);
}

// The names the program gives its movies and camera files are the only ones
// the check accepts.
TEST(RecoveryJournal, KnowsTheNamesOfOurRecordings)
{
    const QString stem = QStringLiteral("/v/Corvessa 2026-12-07 22.30.35");
    for (const QString& screen : {stem + QStringLiteral(".mov"), stem + QStringLiteral(" 2.mov"),
                                  stem + QStringLiteral(" Screen.mov"), stem + QStringLiteral(" Screen 12.mov")}) {
        EXPECT_TRUE(RecoveryJournal::isRecordingName(QFileInfo(screen).fileName())) << screen.toStdString();
        if (!screen.contains(QStringLiteral(" Screen")))
            continue;
        for (int segment = 0; segment < 12; ++segment) {
            const QString camera = CameraSideFile::cameraFilePath(screen, segment);
            EXPECT_TRUE(RecoveryJournal::isRecordingName(QFileInfo(camera).fileName())) << camera.toStdString();
        }
    }
    for (const char* bad : {"", ".mov", "Rec.mov", "Corvessa 2026-12-07 22.30.35", "Corvessa 2026-12-07 22.30.35.MOV",
                            "Corvessa 2026-12-07 22.30.35 1.mov", "Corvessa 2026-12-07 22.30.35 Camera 1.mov",
                            "Corvessa 2026-12-07 22.30.35 Camera Screen.mov", "corvessa 2026-12-07 22.30.35.mov",
                            "Corvessa 2026-12-07 22:30:35.mov", "Corvessa 2026-12-07 22.30.35.mov.mov",
                            "Corvessa 2026-12-07 22.30.35 2.mov\n.mov", "xCorvessa 2026-12-07 22.30.35.mov"})
        EXPECT_FALSE(RecoveryJournal::isRecordingName(QString::fromUtf8(bad))) << bad;
}

// A journal is its writer's while that writer runs: held by its lock, or,
// where no lock is to be had, named by its process in this boot; the one
// journal of older versions while any process holds one of its files open.
TEST(RecoveryJournal, AJournalIsLeftAloneWhileItsWriterLives)
{
    test::TempHome home;
    const QString movie = recording(home);
    writeMovie(movie, 2.0);
    const QString other = RecoveryJournal::fileFor(QStringLiteral("display_other"));
    const auto left = [&](const QString& journal, const RecoveryJournal::Entry& entry, const std::function<void()>& writerGone) {
        writeFile(journal, RecoveryJournal::encode(entry));
        for (int launch = 0; launch < 2; ++launch)
            EXPECT_FALSE(RecoveryJournal::checkNow(recordings(home))) << journal.toStdString();
        EXPECT_EQ(readFile(journal), RecoveryJournal::encode(entry));
        EXPECT_TRUE(QFile::exists(movie));
        writerGone();
        const auto report = RecoveryJournal::checkNow(recordings(home));
        ASSERT_TRUE(report);
        EXPECT_FALSE(QFile::exists(journal));
        ASSERT_EQ(report->found.size(), 1u);
        EXPECT_EQ(report->found[0].path, movie);
    };
    const RecoveryJournal::Entry entry{QDateTime::currentDateTimeUtc(), {movie}};

    {
        QDir().mkpath(XdgPaths::recoveryDir());
        WriterLock lock(RecoveryJournal::lockFileFor(other));
        ASSERT_EQ(lock.tryTake(true), WriterLock::Result::Taken);
        RecoveryJournal::Entry locked = entry;
        locked.pid = 1; // running, but the lock says more
        locked.boot = ProcessProbe::bootId();
        left(other, locked, [&] { lock.release(); });
        EXPECT_FALSE(QFile::exists(lock.path())) << "the lock of a journal taken goes with it";
    }

    // A process that records: here one that holds the movie open, as a writer does.
    auto writer = test::ChildProcess::start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("exec 3<\"$0\"; exec sleep 60"), movie});
    ASSERT_TRUE(writer);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ProcessProbe::anyOtherHasOpen({movie}); }, 10000));
    RecoveryJournal::Entry named = entry;
    named.pid = writer->pid();
    named.boot = ProcessProbe::bootId();
    ASSERT_FALSE(named.boot.isEmpty());
    left(other, named, [&] { writer->terminate(); });

    writer = test::ChildProcess::start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("exec 3<\"$0\"; exec sleep 60"), movie});
    ASSERT_TRUE(writer);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ProcessProbe::anyOtherHasOpen({movie}); }, 10000));
    left(RecoveryJournal::sharedFile(), entry, [&] { writer->terminate(); });

    // A process id of another boot names nobody.
    named.boot = QStringLiteral("00000000-0000-0000-0000-000000000000");
    named.pid = ::getppid();
    writeFile(other, RecoveryJournal::encode(named));
    EXPECT_TRUE(RecoveryJournal::checkNow(recordings(home)));
    EXPECT_FALSE(QFile::exists(other));
}

// A kill before the first sample reached the file leaves a movie header and
// nothing else (or not even that): the check removes such a file instead of
// announcing it, and keeps every file that holds anything.
TEST(RecoveryJournal, LaunchCheckRemovesMoviesWithNothingInThem)
{
    test::TempHome home;
    const QString movie = recording(home, QStringLiteral(" Screen"));
    writeMovie(movie, 2.0);
    const QString headerOnly = recording(home, QStringLiteral(" Camera"));
    {
        // The file as a writer leaves it on disk right after its start.
        const QString writing = home.file(QStringLiteral("writing.mov"));
        FFmpegMovieWriter w(smallMovie(writing));
        ASSERT_TRUE(w.startWriting());
        ASSERT_TRUE(QFile::copy(writing, headerOnly));
        w.cancelWriting();
    }
    ASSERT_GT(QFileInfo(headerOnly).size(), 0);
    const QString empty = recording(home, QStringLiteral(" Camera 2"));
    writeFile(empty, {});
    const QString torn = recording(home, QStringLiteral(" 2"));
    writeFile(torn, readFile(movie).left(int(QFileInfo(movie).size() / 2)));

    writeFile(RecoveryJournal::file(),
              RecoveryJournal::encode({QDateTime::currentDateTimeUtc(), {movie, headerOnly, empty, torn}}));
    const auto report = RecoveryJournal::checkNow(recordings(home));
    ASSERT_TRUE(report);
    EXPECT_FALSE(QFile::exists(headerOnly));
    EXPECT_FALSE(QFile::exists(empty));
    EXPECT_TRUE(QFile::exists(movie));
    EXPECT_TRUE(QFile::exists(torn)) << "a damaged movie may still hold something";
    ASSERT_EQ(report->found.size(), 2u);
    EXPECT_EQ(report->found[0].path, movie);
    EXPECT_EQ(report->found[1].path, torn);
    EXPECT_EQ(recoveryLines().filter(QStringLiteral("nothing was recorded into it")),
              (QStringList{QStringLiteral("[recovery] removed Corvessa 2026-12-07 22.30.00 Camera.mov: nothing was recorded into it"),
                           QStringLiteral("[recovery] removed Corvessa 2026-12-07 22.30.00 Camera 2.mov: nothing was recorded into it")}));

    // Cut in its first moments: nothing to announce.
    writeFile(headerOnly, {});
    writeFile(RecoveryJournal::file(), RecoveryJournal::encode({QDateTime::currentDateTimeUtc(), {headerOnly}}));
    const auto cut = RecoveryJournal::checkNow(recordings(home));
    ASSERT_TRUE(cut);
    EXPECT_TRUE(cut->found.empty());
    EXPECT_FALSE(cut->announcement);
    EXPECT_FALSE(QFile::exists(headerOnly));
}

TEST(RecoveryJournal, LaunchCheckLooksAtEachFileOnceAndAtMostSoMany)
{
    test::TempHome home;
    const QString movie = recording(home);
    const QString beyond = recording(home, {}, 1);
    writeMovie(movie, 2.0);
    writeMovie(beyond, 2.0);
    QStringList files;
    for (int i = 0; i < 1001; ++i)
        files << movie;
    for (int i = 1; i < RecoveryJournal::maximumFiles; ++i)
        files << recording(home, QStringLiteral(" Camera %1").arg(i + 1), 2) << movie;
    files << beyond;
    writeFile(RecoveryJournal::file(), RecoveryJournal::encode({QDateTime::currentDateTimeUtc(), files}));

    const auto report = RecoveryJournal::checkNow(recordings(home));
    ASSERT_TRUE(report);
    ASSERT_EQ(report->found.size(), 1u);
    EXPECT_EQ(report->found[0].path, movie);
}

TEST(RecoveryJournal, ReadingAMovieStopsAtTheDeadline)
{
    test::TempHome home;
    const QString movie = recording(home);
    writeMovie(movie, 2.0);
    const RecoveryJournal::Entry entry{QDateTime::currentDateTimeUtc(), {movie}};

    const auto late = RecoveryJournal::inspect(entry, recordings(home), std::chrono::steady_clock::now());
    ASSERT_EQ(late.size(), 1u) << "still found";
    EXPECT_FALSE(late[0].playable);
    EXPECT_EQ(recoveryLines(), QStringList{QStringLiteral(
                                   "[recovery] stopped reading Corvessa 2026-12-07 22.30.00.mov at the time limit; it may be longer")});

    const auto inTime = RecoveryJournal::inspect(entry, recordings(home));
    ASSERT_EQ(inTime.size(), 1u);
    EXPECT_TRUE(inTime[0].playable);
}

// A folder made read-only keeps the journal after a clean finish; it must not be
// taken for a crash at every launch.
TEST(RecoveryJournal, AJournalThatCannotBeRemovedIsMarkedFinished)
{
    test::TempHome home;
    const QString movie = home.file(QStringLiteral("Rec.mov"));
    writeMovie(movie, 2.0);
    // Made while the folder could still be written, open to whoever records.
    RecorderLog::write(QStringLiteral("[test] begins"));
    writeFile(RecoveryJournal::file(), RecoveryJournal::encode({QDateTime::currentDateTimeUtc(), {movie}}));
    ASSERT_EQ(chmod(QFile::encodeName(home.path()).constData(), 0755), 0);
    for (const QString& f : {RecoveryJournal::file(), XdgPaths::logFile()})
        ASSERT_EQ(chmod(QFile::encodeName(f).constData(), 0666), 0);
    const QByteArray folder = QFile::encodeName(XdgPaths::recoveryDir());
    ASSERT_EQ(chmod(folder.constData(), 0555), 0);

    runUnprivileged([&] {
        RecoveryJournal::begin(movie);
        RecoveryJournal::end();
    });
    ASSERT_EQ(chmod(folder.constData(), 0755), 0);

    const auto left = journalOnDisk();
    ASSERT_TRUE(left);
    EXPECT_TRUE(left->finished);
    EXPECT_TRUE(left->files.isEmpty()) << "nothing for a reader that does not know the mark";
    EXPECT_EQ(recoveryLines().filter(QStringLiteral("[recovery] could not remove the journal")).size(), 1);
    EXPECT_FALSE(RecoveryJournal::checkNow(recordings(home)));
    EXPECT_TRUE(recoveryLines().filter(QStringLiteral("last session")).isEmpty());
    EXPECT_FALSE(QFile::exists(RecoveryJournal::file())) << "removed once the folder allows it";
}

TEST(RecoveryJournal, LaunchCheckLeavesTheJournalOfARecordingInProgress)
{
    test::TempHome home;
    // A recording started before the launch check got to run.
    RecoveryJournal::begin(home.file(QStringLiteral("now.mov")));
    EXPECT_FALSE(RecoveryJournal::checkNow(recordings(home)));
    ASSERT_TRUE(journalOnDisk());
    EXPECT_EQ(journalOnDisk()->files, QStringList{home.file(QStringLiteral("now.mov"))});
    RecoveryJournal::end();
}

TEST(RecoveryJournal, CheckAtLaunchAnnouncesOnTheMainThread)
{
    test::TempHome home;
    const QString movie = recording(home);
    writeMovie(movie, 2.0);
    writeFile(RecoveryJournal::file(), RecoveryJournal::encode({QDateTime::currentDateTimeUtc(), {movie}}));

    std::optional<RecoveryJournal::Announcement> got;
    bool onMain = false;
    RecoveryJournal::checkAtLaunch(recordings(home), [&](const RecoveryJournal::Announcement& a) {
        onMain = MainQueue::isCurrent();
        got = a;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return got.has_value(); }, 30000));
    EXPECT_TRUE(onMain);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->kind, Kind::Recovered);
    EXPECT_EQ(got->playablePaths, QStringList{movie});
    EXPECT_FALSE(QFile::exists(RecoveryJournal::file()));
}
