#include "engine/RecoveryJournal.h"

#include "platform/core/RecorderLog.h"
#include "platform/FileReveal.h"
#include "platform/MovieWriter.h"
#include "platform/core/MainQueue.h"
#include "platform/core/RegularFile.h"
#include "platform/ffmpeg/MovieProbe.h"
#include "platform/core/XdgPaths.h"
#include "prefs/Loc.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSet>
#include <QThreadPool>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <utility>

namespace corvessa {

namespace {

// Dates are stored as seconds since 1 January 2001 UTC, the other platform's
// reference date, so journals read the same on both.
constexpr qint64 kReferenceDateMs = 978307200000;

// A journal names a few paths; even the most it lists, each as long as a path
// can be, fits many times over.
constexpr qint64 kMaxJournalBytes = 1 << 20;

struct State {
    std::mutex mutex;
    std::optional<RecoveryJournal::Entry> entry; // the running recording's journal
};

State& state()
{
    static State s;
    return s;
}

bool noSample(const MovieProbe::Result& probe)
{
    return std::all_of(probe.streams.begin(), probe.streams.end(),
                       [](const MovieProbe::Stream& s) { return s.packets == 0; });
}

} // namespace

QString RecoveryJournal::file()
{
    return XdgPaths::recoveryDir() + QStringLiteral("/active.json");
}

void RecoveryJournal::begin(const QString& moviePath)
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.entry = Entry{QDateTime::currentDateTimeUtc(), {moviePath}};
    write(*s.entry);
}

void RecoveryJournal::add(const QString& path)
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (!s.entry || s.entry->files.contains(path))
        return;
    s.entry->files.append(path);
    write(*s.entry);
}

void RecoveryJournal::end()
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    const std::optional<Entry> ended = std::exchange(s.entry, std::nullopt);
    QFile journal(file());
    if (journal.remove() || !journal.exists())
        return;
    // Its folder no longer lets it go (made read-only): a journal left as it is
    // would be taken for a crash at every launch. Marked finished, with no files
    // for a reader that does not know the mark to report.
    const QString why = journal.errorString();
    Entry done{ended ? ended->started : QDateTime::currentDateTimeUtc(), {}, true};
    write(done);
    const auto stored = decode(RegularFile::read(file(), kMaxJournalBytes).bytes);
    RecorderLog::write(QStringLiteral("[recovery] could not remove the journal (%1); %2")
                           .arg(why, stored && stored->finished ? QStringLiteral("marked it finished")
                                                                : QStringLiteral("could not mark it finished either")));
}

void RecoveryJournal::write(const Entry& entry)
{
    QDir().mkpath(XdgPaths::recoveryDir());
    // QSaveFile writes a temporary file and renames it over the journal, so a
    // crash mid-write leaves the old journal, never half of a new one.
    QSaveFile out(file());
    // In a folder that turned read-only the journal is rewritten in place: a
    // write torn by a crash then reads as invalid and is left alone.
    out.setDirectWriteFallback(true);
    if (!out.open(QIODevice::WriteOnly))
        return;
    out.write(encode(entry));
    out.commit();
}

QByteArray RecoveryJournal::encode(const Entry& entry)
{
    QJsonObject o;
    o.insert(QStringLiteral("started"), double(entry.started.toMSecsSinceEpoch() - kReferenceDateMs) / 1000.0);
    o.insert(QStringLiteral("files"), QJsonArray::fromStringList(entry.files));
    if (entry.finished)
        o.insert(QStringLiteral("finished"), true);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<RecoveryJournal::Entry> RecoveryJournal::decode(const QByteArray& data)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    const QJsonValue started = o.value(QStringLiteral("started"));
    const QJsonValue files = o.value(QStringLiteral("files"));
    if (!started.isDouble() || !std::isfinite(started.toDouble()) || !files.isArray())
        return std::nullopt;
    Entry e;
    e.started = QDateTime::fromMSecsSinceEpoch(kReferenceDateMs + qint64(std::llround(started.toDouble() * 1000)), Qt::UTC);
    for (const QJsonValue& f : files.toArray()) {
        if (!f.isString())
            return std::nullopt;
        e.files.append(f.toString());
    }
    e.finished = o.value(QStringLiteral("finished")).toBool(false);
    return e;
}

std::vector<RecoveryJournal::Found> RecoveryJournal::inspect(const Entry& entry)
{
    return inspect(entry, std::chrono::steady_clock::now() + inspectTimeLimit);
}

std::vector<RecoveryJournal::Found> RecoveryJournal::inspect(const Entry& entry,
                                                             std::chrono::steady_clock::time_point deadline)
{
    std::vector<Found> found;
    QSet<QString> seen;
    for (const QString& path : entry.files) {
        if (seen.contains(path))
            continue;
        if (seen.size() == maximumFiles)
            break;
        seen.insert(path);
        // We write absolute paths only; a relative one would name a file
        // wherever this process happens to run.
        if (!QDir::isAbsolutePath(path) || !path.endsWith(MovieWriter::fileExtension))
            continue;
        // Only a regular file of this user can be one of our movies: a FIFO
        // would block the reader for ever, a device or a folder is no recording,
        // and a link or someone else's file is not what we wrote. One that is
        // there but cannot be opened is reported, as not playable.
        const RegularFile movie(path, RegularFile::Links::Refuse);
        const bool there = movie.isOpen() || movie.status() == RegularFile::Status::Unreadable;
        if (!there || !movie.ownedByUser())
            continue;
        Found f{path};
        if (movie.isOpen()) {
            // The very file checked above, whatever the path names by now.
            const MovieProbe::Result probe = MovieProbe::probe(movie.openedPath(), deadline);
            if (probe.opened && std::isfinite(probe.seconds)) {
                f.seconds = probe.seconds;
                f.playable = probe.playable && probe.seconds > minimumPlayableSeconds;
            }
            f.empty = movie.size() == 0 || (probe.opened && !probe.torn && !probe.timedOut && noSample(probe));
            if (probe.timedOut)
                RecorderLog::write(QStringLiteral("[recovery] stopped reading %1 at the time limit; it may be longer")
                                       .arg(QFileInfo(path).fileName()));
        }
        found.push_back(f);
    }
    return found;
}

QString RecoveryJournal::logLine(const std::vector<Found>& found)
{
    QStringList items;
    for (const Found& f : found) {
        items << QFileInfo(f.path).fileName() + QLatin1Char(' ') + QString::asprintf("%.1f", f.seconds)
                     + QStringLiteral("s playable=") + (f.playable ? QStringLiteral("true") : QStringLiteral("false"));
    }
    return QStringLiteral("[recovery] last session did not finish normally; found %1 file(s): ").arg(found.size())
           + items.join(QStringLiteral("; "));
}

QString RecoveryJournal::formatLength(double seconds)
{
    const long long n = std::isfinite(seconds) && seconds > 0 ? std::llround(seconds) : 0;
    if (n < 3600)
        return QString::asprintf("%lld:%02lld", n / 60, n % 60);
    return QString::asprintf("%lld:%02lld:%02lld", n / 3600, (n / 60) % 60, n % 60);
}

std::optional<RecoveryJournal::Announcement> RecoveryJournal::announcement(const std::vector<Found>& found)
{
    if (found.empty())
        return std::nullopt;
    Announcement a;
    QStringList lines;
    for (const Found& f : found) {
        if (!f.playable)
            continue;
        a.playablePaths << f.path;
        lines << QFileInfo(f.path).fileName() + QStringLiteral("  (") + formatLength(f.seconds) + QLatin1Char(')');
    }
    if (!a.playablePaths.isEmpty()) {
        a.kind = Announcement::Kind::Recovered;
        a.title = Loc::text(QStringLiteral("Your last recording was recovered"));
        a.message = Loc::fill(Loc::text(QStringLiteral(
                                  "Corvessa didn't close normally last time (a crash, a power cut or a system problem), "
                                  "but what was already recorded was saved. You may lose the last few seconds.\n\n%@")),
                              lines.join(QLatin1Char('\n')));
        a.buttons = {Loc::text(QStringLiteral("Show in Finder")), Loc::text(QStringLiteral("OK"))};
    } else {
        a.kind = Announcement::Kind::Interrupted;
        a.title = Loc::text(QStringLiteral("The last recording was interrupted"));
        a.message = Loc::text(QStringLiteral("Corvessa didn't close normally last time, and the recording was too short to recover."));
        a.buttons = {Loc::text(QStringLiteral("OK"))};
    }
    return a;
}

std::optional<RecoveryJournal::LaunchReport> RecoveryJournal::checkNow()
{
    std::optional<Entry> entry;
    {
        State& s = state();
        std::lock_guard lock(s.mutex);
        // A recording of this process has begun: the journal is its own.
        if (s.entry)
            return std::nullopt;
        // Read without blocking and only as a regular file of a sane size; one
        // that cannot be read or decoded stays where it is and is reported to
        // nobody.
        const RegularFile::Contents read = RegularFile::read(file(), kMaxJournalBytes);
        if (read.status != RegularFile::Status::Open || read.tooLarge)
            return std::nullopt;
        entry = decode(read.bytes);
        if (!entry)
            return std::nullopt;
        // Removed before its files are examined: a file that brought the reader
        // down would otherwise do so at every launch.
        QFile::remove(file());
        if (entry->finished)
            return std::nullopt;
    }
    LaunchReport report;
    report.found = inspect(*entry);
    // A file with nothing in it is no recording to tell about: it goes.
    std::erase_if(report.found, [](const Found& f) {
        if (!f.empty)
            return false;
        const bool removed = QFile::remove(f.path);
        RecorderLog::write(QStringLiteral("[recovery] %1 %2: nothing was recorded into it")
                               .arg(removed ? QStringLiteral("removed") : QStringLiteral("could not remove"),
                                    QFileInfo(f.path).fileName()));
        return removed;
    });
    report.logLine = logLine(report.found);
    RecorderLog::write(report.logLine);
    report.announcement = announcement(report.found);
    return report;
}

void RecoveryJournal::checkAtLaunch(std::function<void(const Announcement&)> announce)
{
    // The global pool is waited for when the application ends.
    QThreadPool::globalInstance()->start([announce = std::move(announce)] {
        const auto report = checkNow();
        if (report && report->announcement && announce)
            MainQueue::async([announce, a = *report->announcement] { announce(a); });
    });
}

void RecoveryJournal::reveal(const Announcement& announcement)
{
    FileReveal::current()->showItems(announcement.playablePaths);
}

} // namespace corvessa
