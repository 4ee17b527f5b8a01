#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

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

        bool operator==(const Entry&) const = default;
    };

    // A listed file that still exists.
    struct Found {
        QString path;
        double seconds = 0;    // how long it plays; 0 when unknown
        bool playable = false; // it plays and is longer than 0.2 s

        bool operator==(const Found&) const = default;
    };

    // What to tell the user, texts already translated.
    struct Announcement {
        enum class Kind { Recovered, Interrupted };
        Kind kind = Kind::Interrupted;
        QString title;
        QString message;
        // Recovered: "Show in Finder" then "OK"; interrupted: "OK".
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

    RecoveryJournal() = delete;

    // <data>/Recorder/Recovery/active.json
    static QString file();

    // A new journal naming the movie; replaces any earlier one.
    static void begin(const QString& moviePath);
    // Adds a file to the running journal; nothing without one, nothing for a
    // file already listed.
    static void add(const QString& path);
    // Forgets the running journal and deletes its file.
    static void end();
    // Stores an entry in the journal file (atomically). Callers hold the lock.
    static void write(const Entry& entry);

    // The journal's bytes: {"started": seconds since 2001-01-01 UTC, "files": [...]}.
    static QByteArray encode(const Entry& entry);
    static std::optional<Entry> decode(const QByteArray& data);

    // Examines the listed files in order; missing ones are left out.
    static std::vector<Found> inspect(const Entry& entry);

    // The launch check, all at once on the calling thread: takes a journal left
    // behind (deleting it, also when it cannot be decoded, so that a broken one
    // is not met again at every launch), examines its files and logs what it
    // found. Nothing when there was no journal or this process is recording.
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
