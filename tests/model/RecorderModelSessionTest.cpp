#include "engine/EngineLines.h"
#include "support/ModelHarness.h"
#include "support/Unprivileged.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvessa::test {
namespace {

using Kind = RecorderPhase::Kind;

// The recording's life with a folder chosen and every phase written down.
class RecorderModelSessionTest : public ModelHarness {
protected:
    void SetUp() override
    {
        ModelHarness::SetUp();
        QDir(home.path()).mkpath(QStringLiteral("Videos"));
        folder = home.file(QStringLiteral("Videos"));
        prefs().setSaveFolder(folder);
    }

    RecorderModel& makeWatched()
    {
        RecorderModel& m = make();
        QObject::connect(&m, &RecorderModel::changed, [this, &m](RecorderModel::Field f) {
            if (f != RecorderModel::Field::phase)
                return;
            const RecorderPhase& p = m.phase();
            phases.push_back(p.is(Kind::countdown) ? "countdown" + std::to_string(p.count)
                             : p.is(Kind::ready)    ? "ready"
                             : p.is(Kind::recording) ? "recording"
                             : p.is(Kind::paused)    ? "paused"
                             : p.is(Kind::finishing) ? "finishing"
                             : p.is(Kind::saved)     ? "saved"
                                                     : "failed");
        });
        return m;
    }

    // Starts and runs through the countdown and the engine's start.
    void startRecording(RecorderModel& m)
    {
        m.record();
        scheduler.advance(3.5);
        runBackground();
        ASSERT_TRUE(m.phase().is(Kind::recording));
    }

    QString folder;
    std::vector<std::string> phases;
};

TEST_F(RecorderModelSessionTest, ARecordingWalksThroughEveryPhase)
{
    RecorderModel& m = makeWatched();
    m.record();
    m.record(); // a second press while the start is under way changes nothing
    scheduler.advance(3.0);
    EXPECT_EQ(std::count(journal.begin(), journal.end(), "cue.tick_last"), 1);
    scheduler.advance(0.5); // the start cue's 0.45 s
    EXPECT_EQ(std::count(journal.begin(), journal.end(), "engine.start"), 0) << "the engine starts off the main thread";
    runBackground();
    EXPECT_EQ(engine->config.outputURL, QDir(folder).filePath(QStringLiteral("Corvessa 2024-03-05 14.07.09.mov")));
    EXPECT_FALSE(engine->config.microphoneID) << "the microphone is off";
    EXPECT_FALSE(engine->config.microphoneMissing) << "the microphone is off";

    m.togglePause();
    m.togglePause();
    m.togglePause(); // within the 0.4 s of the resume sound: ignored
    scheduler.advance(0.4);
    QFile(engine->config.outputURL).open(QIODevice::WriteOnly);
    m.stop();
    runBackground();
    EXPECT_EQ(phases, (std::vector<std::string>{"countdown0", "countdown3", "countdown2", "countdown1", "recording",
                                                "paused", "recording", "finishing", "saved"}));
    EXPECT_EQ(m.phase().url, engine->config.outputURL);

    // A movie of that name exists: the next one does not replace it, and a
    // camera writing its own file adds " Screen".
    EXPECT_EQ(RecorderModel::outputPath(folder, QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)), false),
              QDir(folder).filePath(QStringLiteral("Corvessa 2024-03-05 14.07.09 2.mov")));
    EXPECT_EQ(RecorderModel::outputPath(folder, QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)), true),
              QDir(folder).filePath(QStringLiteral("Corvessa 2024-03-05 14.07.09 Screen.mov")));
}

TEST_F(RecorderModelSessionTest, EventLinesFollowTheirRuleOrder)
{
    RecorderModel& m = make();
    startRecording(m);
    struct Row {
        const char* line;
        std::optional<QString> screenNotice;
    };
    const QString unavailable = QStringLiteral(
        "The screen is unavailable. The image will freeze, and recording will resume automatically when it's back.");
    const std::vector<Row> rows{
        {"Screen is temporarily unavailable, skipping frames", unavailable},
        {"File completed", unavailable},
        {"Screen restored", std::nullopt},
        {"Microphone write error: x", QStringLiteral("Microphone write error: x")},
        {"Microphone switched to y", std::nullopt},
        {"Audio mix unavailable: z",
         QStringLiteral("Audio could not be combined. Your original recording is saved with separate audio tracks.")},
        {"Camera frame late", QStringLiteral("Audio could not be combined. Your original recording is saved with separate audio tracks.")},
    };
    for (const Row& row : rows) {
        m.handleEvent(QString::fromLatin1(row.line));
        EXPECT_EQ(m.screenNotice(), row.screenNotice) << row.line;
    }
    // Missing sound is a notice of its own, beside the screen's.
    const QString late = QStringLiteral("2.5 s of sound arrived too late under heavy load and is missing from the recording.");
    m.handleEvent(late);
    EXPECT_EQ(m.soundNotice(), late);
    EXPECT_NE(m.screenNotice(), late);
    // What a camera file lacks is said beside the movie's, not in its place.
    const QString camera = EngineLines::cameraSoundMissing({QStringLiteral("1.2"), QStringLiteral("A Camera.mov")});
    m.handleEvent(camera);
    m.handleEvent(late);
    EXPECT_EQ(m.soundNotice(), late + QLatin1Char(' ') + camera);
    EXPECT_EQ(m.cameraNotice(), QStringLiteral("Camera frame late"));
    m.handleEvent(QStringLiteral("Camera Save failed"));
    EXPECT_TRUE(m.phase().is(Kind::recording)) << "a camera line is only a camera notice";
    EXPECT_EQ(logLines.last(), QStringLiteral("Camera Save failed"));

    // Low disk: a notice, then the ordinary stop saves what was written.
    QFile(engine->config.outputURL).open(QIODevice::WriteOnly);
    m.handleEvent(QStringLiteral("Insufficient disk space, recording stopped and saved automatically"));
    EXPECT_TRUE(m.screenNotice()->startsWith(QStringLiteral("Insufficient disk space")));
    runBackground();
    EXPECT_TRUE(m.phase().is(Kind::saved));
    m.handleEvent(QStringLiteral("Save failed: late"));
    EXPECT_TRUE(m.phase().is(Kind::saved)) << "a saved movie is not undone by a late line";
}

TEST_F(RecorderModelSessionTest, CancelDeletesTheFilesAndAFailedStopLeavesNoBrokenFile)
{
    RecorderModel& m = make();
    startRecording(m);
    const QString camera = QDir(folder).filePath(QStringLiteral("cam.mov"));
    engine->cameraFiles = {camera};
    QFile(engine->config.outputURL).open(QIODevice::WriteOnly);
    QFile(camera).open(QIODevice::WriteOnly);
    m.discard(false);
    runBackground();
    EXPECT_TRUE(logLines.contains(QStringLiteral("Discarded this recording (Cancel Recording)")));
    EXPECT_FALSE(QFile::exists(engine->config.outputURL));
    EXPECT_FALSE(QFile::exists(camera));
    EXPECT_TRUE(m.phase().is(Kind::ready));
    EXPECT_EQ(m.elapsed(), 0);

    engine->cameraFiles.clear();
    startRecording(m);
    engine->movie = false;
    QFile(engine->config.outputURL).open(QIODevice::WriteOnly); // what a failed writer left
    m.stop();
    runBackground();
    EXPECT_EQ(m.phase().message, QStringLiteral("Save Failed"));
    EXPECT_FALSE(QFile::exists(engine->config.outputURL));

    // A writer failing mid-recording stops the model too, with its reason.
    engine->movie = false;
    m.backToReady();
    startRecording(m);
    m.handleEvent(QStringLiteral("Save failed: disk gone"));
    runBackground();
    EXPECT_EQ(m.phase().message, QStringLiteral("Save failed: disk gone"));
}

TEST_F(RecorderModelSessionTest, QuitAndSignalsWaitForWhatIsUnderWay)
{
    RecorderModel& m = make();
    int done = 0;
    m.saveAndExit([&] { ++done; });
    EXPECT_EQ(done, 1) << "idle: at once";

    // During the countdown, and the start cue after it, nothing has started
    // yet: the countdown is cancelled and nothing ever starts.
    for (const double into : {1.0, 3.2}) {
        m.record();
        scheduler.advance(into);
        clearJournal();
        m.saveAndExit([&] { ++done; });
        EXPECT_EQ(done, 2) << into << " s into the countdown: at once";
        EXPECT_TRUE(m.phase().is(Kind::ready));
        EXPECT_TRUE(logLines.contains(QStringLiteral("[exit] the countdown was cancelled: nothing was recorded")));
        scheduler.advance(5);
        runBackground();
        EXPECT_EQ(journal.front(), "countdown.hide");
        EXPECT_EQ(std::count(journal.begin(), journal.end(), "engine.start"), 0);
        --done;
    }
    // A quit from a menu does the same.
    m.record();
    scheduler.advance(1);
    clearJournal();
    m.quit();
    EXPECT_EQ(journal.back(), "terminate");
    scheduler.advance(5);
    runBackground();
    EXPECT_EQ(std::count(journal.begin(), journal.end(), "engine.start"), 0);

    // Once the engine was asked to start, the start settles, then the recording is saved.
    m.record();
    scheduler.advance(3.5);
    m.saveAndExit([&] { ++done; });
    m.saveAndExit([&] { ++done; });
    runBackground();
    EXPECT_EQ(done, 3);
    EXPECT_EQ(std::count(journal.begin(), journal.end(), "engine.stop"), 1);
    EXPECT_EQ(logLines.last(), QStringLiteral("[exit] system/signal exit while recording: saving first"));

    // While saving, a quit ends the program once the save is over.
    m.backToReady();
    startRecording(m);
    m.stop();
    clearJournal();
    m.quit();
    EXPECT_TRUE(journal.empty());
    runBackground();
    EXPECT_EQ(journal.back(), "terminate");

    // A save that never ends is waited for at most 15 s.
    m.backToReady();
    startRecording(m);
    m.stop();
    m.saveAndExit([&] { ++done; });
    scheduler.advance(14.9);
    EXPECT_EQ(done, 3);
    scheduler.advance(0.2);
    EXPECT_EQ(done, 4);
}

TEST_F(RecorderModelSessionTest, StopAsksWhilePausedAndCancelResumes)
{
    RecorderModel& m = make();
    startRecording(m);
    confirm->answer = false;
    clearJournal();
    m.requestStop();
    std::erase_if(journal, [](const std::string& e) { return e.starts_with("tools."); });
    EXPECT_EQ(journal, (Journal{"engine.pause", "escape(off)", "confirm.ask(Stop Recording and Save?)", "escape(off)",
                                "cue.start"}));
    scheduler.advance(0.4);
    EXPECT_TRUE(m.phase().is(Kind::recording));

    // While the question holds the recording paused, a pause or resume from
    // anywhere else does nothing; the answer decides.
    confirm->whileAsking = [&] {
        m.togglePause();
        m.togglePause();
        EXPECT_TRUE(m.phase().is(Kind::paused));
        EXPECT_EQ(logLines.last(), QStringLiteral("[recording] pause and resume wait for the open question"));
    };
    clearJournal();
    m.requestStop();
    EXPECT_EQ(std::count(journal.begin(), journal.end(), "engine.pause"), 1);
    EXPECT_EQ(std::count(journal.begin(), journal.end(), "engine.resume"), 0) << "the refusal resumes once, after the cue";
    scheduler.advance(0.4);
    EXPECT_EQ(std::count(journal.begin(), journal.end(), "engine.resume"), 1);
    EXPECT_TRUE(m.phase().is(Kind::recording));
    confirm->whileAsking = nullptr;

    confirm->showing = true;
    m.requestStop();
    EXPECT_TRUE(m.phase().is(Kind::recording)) << "no second question";
    confirm->showing = false;
    confirm->answer = true;
    m.requestStop();
    runBackground();
    EXPECT_TRUE(m.phase().is(Kind::saved));
}

// With the microphone on, the start records the chosen microphone; with none
// listed (none at launch, or the last one unplugged) it records none, rather
// than an empty name the engine would take for the default input, and tells
// the engine the microphone is missing, so that the user hears of it.
TEST_F(RecorderModelSessionTest, OnlyAListedMicrophoneIsRecorded)
{
    store().setBool("micOn", true);
    startRecording(make());
    EXPECT_EQ(engine->config.microphoneID, std::optional<QString>(QStringLiteral("built_in")));
    EXPECT_FALSE(engine->config.microphoneMissing);

    // The last microphone unplugged while ready.
    model.reset();
    RecorderModel& unplugged = make();
    audio->setSources({});
    unplugged.refreshDevices();
    ASSERT_TRUE(unplugged.micOn());
    startRecording(unplugged);
    EXPECT_FALSE(engine->config.microphoneID) << "no microphone is listed";
    EXPECT_TRUE(engine->config.microphoneMissing);

    // None at launch.
    model.reset();
    startRecording(make());
    EXPECT_FALSE(engine->config.microphoneID) << "no microphone is listed";
    EXPECT_TRUE(engine->config.microphoneMissing);
}

TEST_F(RecorderModelSessionTest, StandingHints)
{
    store().setBool("micOn", true);
    RecorderModel& m = make();
    m.setMuteSpeakers(false);
    m.setSystemAudio(true);
    EXPECT_EQ(m.hints().size(), 1u);
    EXPECT_EQ(m.hints()[0].icon, QStringLiteral("headphones"));
    builtInSpeaker = false;
    EXPECT_TRUE(m.hints().empty());

    for (int i = 0; i < 16; ++i) {
        monitors->micLevel(LevelStats{0, 0, 0});
        scheduler.advance(1);
    }
    ASSERT_EQ(m.hints().size(), 1u);
    EXPECT_EQ(m.hints()[0].icon, QStringLiteral("mic.slash"));
    scheduler.advance(2); // no levels for 2 s
    EXPECT_TRUE(m.hints().empty());

    m.flash(QStringLiteral("a"));
    scheduler.advance(3);
    m.flash(QStringLiteral("b"));
    scheduler.advance(6.9);
    EXPECT_EQ(m.hint(), QStringLiteral("b"));
    scheduler.advance(0.2);
    EXPECT_FALSE(m.hint());
}

// A recordings folder that went away (or became read-only) brings the folder
// chooser up with a word of why.
TEST_F(RecorderModelSessionTest, AFolderThatCannotTakeRecordingsIsSaidBeforeTheChooser)
{
    RecorderModel& m = makeWatched();
    ASSERT_TRUE(QDir(folder).removeRecursively());
    chosenFolder.reset();
    m.record();
    runBackground();
    EXPECT_TRUE(m.phase().is(Kind::ready)) << "the question was cancelled";
    ASSERT_TRUE(m.hint());
    EXPECT_TRUE(m.hint()->contains(folder)) << m.hint()->toStdString();
    EXPECT_TRUE(logLines.join(QLatin1Char('\n')).contains(QStringLiteral("is missing or not writable")));
}

// A folder already read-only at start-up is named too, though start-up forgets
// its bookmark.
TEST_F(RecorderModelSessionTest, AFolderReadOnlyAtStartUpIsSaidBeforeTheChooser)
{
    // Open to an unprivileged user down to the folder, which alone is read-only.
    ASSERT_EQ(chmod(QFile::encodeName(home.path()).constData(), 0755), 0);
    ASSERT_EQ(chmod(QFile::encodeName(folder).constData(), 0555), 0);
    runUnprivileged([&] {
        Prefs::resetShared(); // the next start reads the defaults afresh
        EXPECT_EQ(prefs().saveFolder(), QString());
        RecorderModel& m = make();
        m.record();
        runBackground();
        EXPECT_TRUE(m.phase().is(Kind::ready)) << "the question was cancelled";
        ASSERT_TRUE(m.hint());
        EXPECT_TRUE(m.hint()->contains(folder)) << m.hint()->toStdString();
    });
    chmod(QFile::encodeName(folder).constData(), 0755);
}

namespace {

// Old times, as a file has before a nudge.
void ageFile(const QString& path)
{
    const struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), old, AT_SYMLINK_NOFOLLOW), 0);
}

int64_t modified(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int64_t(st.st_mtim.tv_sec) : -1;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

} // namespace

// The nudges after a save, for the file indexers: they touch the very files
// saved, or nothing. A movie removed meanwhile stays removed; a link put in a
// file's place is not followed, and what it points at is neither changed nor
// made.
TEST_F(RecorderModelSessionTest, TheNudgesAfterASaveTouchOnlyTheVeryFilesSaved)
{
    RecorderModel& m = make();
    startRecording(m);
    const QString kept = QDir(folder).filePath(QStringLiteral("kept Camera.mov"));
    const QString linked = QDir(folder).filePath(QStringLiteral("linked Camera.mov"));
    const QString dangling = QDir(folder).filePath(QStringLiteral("dangling Camera.mov"));
    engine->cameraFiles = {kept, linked, dangling};
    for (const QString& f : {engine->config.outputURL, kept, linked, dangling}) {
        writeFile(f, "movie");
        ageFile(f);
    }
    m.stop();
    runBackground();
    ASSERT_TRUE(m.phase().is(Kind::saved));

    // Within the first second after the save: the movie removed, links put in
    // place of two camera files.
    const QString target = home.file(QStringLiteral("someone else's.txt"));
    const QString nowhere = home.file(QStringLiteral("nothing here yet.txt"));
    writeFile(target, "theirs");
    ageFile(target);
    ASSERT_TRUE(QFile::remove(engine->config.outputURL));
    for (const auto& [file, to] : {std::pair{linked, target}, std::pair{dangling, nowhere}}) {
        ASSERT_TRUE(QFile::remove(file));
        ASSERT_EQ(::symlink(QFile::encodeName(to).constData(), QFile::encodeName(file).constData()), 0);
    }
    scheduler.advance(1.5);
    scheduler.advance(6.0);

    EXPECT_FALSE(QFileInfo::exists(engine->config.outputURL)) << "a removed movie came back";
    EXPECT_FALSE(QFileInfo::exists(nowhere)) << "a link's target was made";
    EXPECT_EQ(modified(target), 1000000000);
    QFile theirs(target);
    ASSERT_TRUE(theirs.open(QIODevice::ReadOnly));
    EXPECT_EQ(theirs.readAll(), QByteArray("theirs"));
    // The file left alone was nudged.
    EXPECT_GT(modified(kept), 1000000000);
}

// A movie the user moved while it was recorded (its folder renamed): the saved
// row holds where it is now, and the nudges reach it there.
TEST_F(RecorderModelSessionTest, AMovieMovedWhileRecordingIsSavedWhereItWent)
{
    RecorderModel& m = make();
    startRecording(m);
    ASSERT_TRUE(QDir(home.path()).mkpath(QStringLiteral("Videos (old)")));
    const QString moved = QDir(home.file(QStringLiteral("Videos (old)"))).filePath(QFileInfo(engine->config.outputURL).fileName());
    const QString camera = QDir(home.file(QStringLiteral("Videos (old)"))).filePath(QStringLiteral("A Camera.mov"));
    engine->savedAs = moved;
    engine->cameraFiles = {camera};
    for (const QString& f : {moved, camera}) {
        writeFile(f, "movie");
        ageFile(f);
    }
    m.stop();
    runBackground();
    ASSERT_TRUE(m.phase().is(Kind::saved));
    EXPECT_EQ(m.phase().url, moved);
    EXPECT_EQ(m.cameraFiles(), std::vector<QString>{camera});
    scheduler.advance(7.5);
    EXPECT_GT(modified(moved), 1000000000);
    EXPECT_GT(modified(camera), 1000000000);
    EXPECT_FALSE(QFileInfo::exists(engine->config.outputURL)) << "nothing is made where it was started";
}

// What the user moved out of the recordings folder, or put in a movie's place,
// is theirs: a cancel or a failed save removes only our own files.
TEST_F(RecorderModelSessionTest, CancelAndAFailedSaveRemoveOnlyFilesStillOurs)
{
    RecorderModel& m = make();
    startRecording(m);
    ASSERT_TRUE(QDir(home.path()).mkpath(QStringLiteral("Elsewhere")));
    const QString moved = QDir(home.file(QStringLiteral("Elsewhere"))).filePath(QStringLiteral("A.mov"));
    const QString camera = QDir(folder).filePath(QStringLiteral("A Camera.mov"));
    engine->savedAs = moved;
    engine->cameraFiles = {camera};
    writeFile(moved, "movie");
    writeFile(camera, "camera");
    m.discard(false);
    runBackground();
    EXPECT_TRUE(QFileInfo::exists(moved)) << "moved out of the recordings folder: not ours to remove";
    EXPECT_FALSE(QFileInfo::exists(camera));

    // A failed save, and someone else's file in place of the movie by then.
    engine->savedAs.reset();
    engine->cameraFiles.clear();
    startRecording(m);
    writeFile(engine->config.outputURL, "half a movie");
    engine->writtenAtStop = std::vector<WrittenFile>{*WrittenFile::atPath(engine->config.outputURL)};
    const QString other = home.file(QStringLiteral("other"));
    writeFile(other, "theirs");
    ASSERT_EQ(::rename(QFile::encodeName(other).constData(), QFile::encodeName(engine->config.outputURL).constData()), 0);
    engine->movie = false;
    m.stop();
    runBackground();
    EXPECT_TRUE(m.phase().is(Kind::failed));
    QFile theirs(engine->config.outputURL);
    ASSERT_TRUE(theirs.open(QIODevice::ReadOnly)) << "someone else's file was removed";
    EXPECT_EQ(theirs.readAll(), QByteArray("theirs"));
}

} // namespace
} // namespace corvessa::test
