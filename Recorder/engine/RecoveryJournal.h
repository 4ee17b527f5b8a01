#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

namespace corvessa {

// The record of the recording in progress: which files it is writing, kept in
// the recovery folder while they are written. A journal still there at the next
// launch means the recording did not end cleanly; the launch check then says
// which of its files still play and where they are.
//
// Each running program keeps its own journal, one per user and display like the
// program itself ("active-<scope>.json"), which names its writer (process and
// boot) and is locked by it while it records. The launch check takes only
// journals whose writer is gone, so a program on another display never takes
// a live recording for a crashed one. It also reads the single "active.json"
// that versions before kept, once no process has its files open.
//
// The engine calls begin(), add() and end() (on its queue); the application
// shell calls checkAtLaunch() once at start-up. Like every best-effort service
// it swallows its own failures.
class RecoveryJournal {
public:
    struct Entry {
        QDateTime started;
        QStringList files; // the movie first, then camera files, without duplicates
        // The recording ended cleanly but the journal could not be removed (its
        // folder turned read-only): nothing to recover.
        bool finished = false;
        // Who writes it: its process id and the boot it runs in; 0 and empty in
        // journals of older versions.
        qint64 pid = 0;
        QString boot;

        bool operator==(const Entry&) const = default;
    };

    // A listed file that still exists.
    struct Found {
        QString path;
        double seconds = 0;    // how long it plays; 0 when unknown
        bool playable = false; // it plays and is longer than 0.2 s
        // Nothing was recorded into it: empty, or a movie header without a
        // single sample (the recording was cut before its first one landed).
        bool empty = false;

        bool operator==(const Found&) const = default;
    };

    // What to tell the user, texts already translated.
    struct Announcement {
        enum class Kind { Recovered, Interrupted };
        Kind kind = Kind::Interrupted;
        QString title;
        QString message;
        // Recovered: "Show in Finder" (it reads "Show in Folder") then "OK"; interrupted: "OK".
        QStringList buttons;
        // The playable files, shown by reveal() when the first button is chosen.
        QStringList playablePaths;
    };

    struct LaunchReport {
        std::vector<Found> found;
        QString logLine;
        std::optional<Announcement> announcement; // absent when no listed file exists
    };

    // A file shorter than this is not worth recovering.
    static constexpr double minimumPlayableSeconds = 0.2;
    // A recording lists its movie and one file per camera it opened, a handful
    // even with many camera changes; each listed file costs a read of a movie,
    // so a journal listing more (or repeating itself) is examined up to this.
    static constexpr int maximumFiles = 64;
    // How long the launch check may spend reading movies, all files together:
    // an hour of recording reads in a few seconds from a local disk. It bounds
    // how long quitting soon after launch waits for the check.
    static constexpr std::chrono::seconds inspectTimeLimit{20};

    RecoveryJournal() = delete;

    // This program's journal: <data>/Recorder/Recovery/active-<scope>.json for
    // the instance scope of its display ("active-no_display.json" without one).
    static QString file();
    static QString fileFor(const QString& scope);
    // The one journal of versions before: <data>/Recorder/Recovery/active.json.
    static QString sharedFile();
    // The lock its writer holds beside a journal ("….lock").
    static QString lockFileFor(const QString& journal);

    // Whether a file name is one the program gives its movies and camera files
    // ("Corvessa 2026-12-07 22.30.35.mov", "… Screen.mov", "… Screen 2.mov",
    // "… Camera.mov", "… Camera 3.mov"); only such files are ever examined or
    // removed by the launch check.
    static bool isRecordingName(const QString& fileName);
    // Whether bytes begin like a QuickTime movie: a box of type ftyp, moov or
    // moof, as every movie our writer makes starts.
    static bool startsLikeMovie(const QByteArray& head);

    // A new journal naming the movie; replaces any earlier one.
    static void begin(const QString& moviePath);
    // Adds a file to the running journal; nothing without one, nothing for a
    // file already listed.
    static void add(const QString& path);
    // Forgets the running journal and deletes its file; a file that cannot be
    // deleted is logged and marked finished instead.
    static void end();
    // Stores an entry in the journal file (atomically). Callers hold the lock.
    static void write(const Entry& entry);

    // The journal's bytes: {"started": seconds since 2001-01-01 UTC, "files": [...]},
    // and "finished": true in a journal marked finished.
    static QByteArray encode(const Entry& entry);
    static std::optional<Entry> decode(const QByteArray& data);

    // Examines the listed files in order, each once and at most maximumFiles.
    // Only what can be a movie of ours counts, as a journal can be tampered
    // with: a file directly in the recordings folder (its real place, links
    // resolved), named as the program names recordings, a regular file (not a
    // link, a folder, a device or a FIFO) of this user, empty or starting like
    // a QuickTime movie. Anything else is left out, untouched, with a log line.
    // Reading stops at the deadline: files not read by then are reported with
    // what is known. Found paths name the files in the resolved folder.
    static std::vector<Found> inspect(const Entry& entry, const QString& recordingsFolder);
    static std::vector<Found> inspect(const Entry& entry, const QString& recordingsFolder,
                                      std::chrono::steady_clock::time_point deadline);

    // The launch check, all at once on the calling thread: takes the journals
    // left behind by programs that are gone (deleting them), examines their
    // files, removes those that hold nothing and logs what it found. Nothing
    // when there was no such journal, when one cannot be read or decoded (it
    // is then left where it is), when it was marked finished, or while its
    // writer still runs (this process recording, or another program).
    static std::optional<LaunchReport> checkNow(const QString& recordingsFolder);
    // The same off the main thread; `announce` then runs on the main thread when
    // there is something to show. Returns at once.
    static void checkAtLaunch(const QString& recordingsFolder, std::function<void(const Announcement&)> announce);
    // The user asked to see the recovered files; `done` tells on the main
    // thread whether anything showed them.
    static void reveal(const Announcement& announcement, std::function<void(bool shown)> done = {});

    // Pieces of the check. The log line lists the found files, or says that
    // none is left to recover.
    static QString logLine(const std::vector<Found>& found);
    static std::optional<Announcement> announcement(const std::vector<Found>& found);
    // Whole seconds, half away from zero: "0:45", "1:15", "1:02:05".
    static QString formatLength(double seconds);
};

} // namespace corvessa
