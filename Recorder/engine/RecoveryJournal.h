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
// "active.json" in the recovery folder while they are written. A journal still
// there at the next launch means the recording did not end cleanly; the launch
// check then says which of its files still play and where they are.
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

    // <data>/Recorder/Recovery/active.json
    static QString file();

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
    // Only what can be a movie of ours counts: a regular file (not a link, a
    // folder, a device or a FIFO) of this user, named with the movie extension,
    // at an absolute path; anything else is left out, as a journal can be
    // tampered with. Reading stops at the deadline: files not read by then are
    // reported with what is known.
    static std::vector<Found> inspect(const Entry& entry);
    static std::vector<Found> inspect(const Entry& entry, std::chrono::steady_clock::time_point deadline);

    // The launch check, all at once on the calling thread: takes a journal left
    // behind (deleting it), examines its files, removes those that hold nothing
    // and logs what it found. Nothing when there was no journal, when it cannot
    // be read or decoded (it is then left where it is), when it was marked
    // finished, or when this process is recording.
    static std::optional<LaunchReport> checkNow();
    // The same off the main thread; `announce` then runs on the main thread when
    // there is something to show. Returns at once.
    static void checkAtLaunch(std::function<void(const Announcement&)> announce);
    // The user asked to see the recovered files.
    static void reveal(const Announcement& announcement);

    // Pieces of the check.
    static QString logLine(const std::vector<Found>& found);
    static std::optional<Announcement> announcement(const std::vector<Found>& found);
    // Whole seconds, half away from zero: "0:45", "1:15", "1:02:05".
    static QString formatLength(double seconds);
};

} // namespace corvessa
