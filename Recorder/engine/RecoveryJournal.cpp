#include "engine/RecoveryJournal.h"

#include "platform/core/RecorderLog.h"
#include "platform/FileReveal.h"
#include "platform/MovieWriter.h"
#include "platform/core/InstanceScope.h"
#include "platform/core/MainQueue.h"
#include "platform/core/ProcessProbe.h"
#include "platform/core/RegularFile.h"
#include "platform/core/WriterLock.h"
#include "platform/ffmpeg/MovieProbe.h"
#include "platform/core/XdgPaths.h"
#include "prefs/Loc.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QThreadPool>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <utility>

#include <unistd.h>

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
    QString path;                                // where it is kept
    std::unique_ptr<WriterLock> lock;            // held while it is kept
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

// A reader holds a journal's lock only while it reads and removes the journal;
// a writer starting meanwhile waits this long for it.
constexpr int kLockWaitMs = 2000;

// Takes the writer's lock of a journal, waiting a little for a launch check
// that holds it; without it the journal is kept all the same (it still names
// its writer).
std::unique_ptr<WriterLock> holdWriterLock(const QString& journal)
{
    QDir().mkpath(XdgPaths::recoveryDir());
    auto lock = std::make_unique<WriterLock>(RecoveryJournal::lockFileFor(journal));
    for (int waited = 0; waited < kLockWaitMs; waited += 20) {
        const auto result = lock->tryTake(true);
        if (result == WriterLock::Result::Taken)
            return lock;
        if (result != WriterLock::Result::Busy)
            break;
        ::usleep(20000);
    }
    RecorderLog::write(QStringLiteral("[recovery] could not lock %1; the journal names its writer only")
                           .arg(QFileInfo(journal).fileName()));
    return lock;
}

// The journals in the recovery folder: this program's first, then the shared
// one of older versions, then those of other displays.
QStringList journals()
{
    QStringList out{RecoveryJournal::file(), RecoveryJournal::sharedFile()};
    const QDir dir(XdgPaths::recoveryDir());
    for (const QString& name : dir.entryList({QStringLiteral("active-*.json")}, QDir::Files | QDir::System | QDir::Hidden, QDir::Name)) {
        const QString path = dir.filePath(name);
        if (!out.contains(path))
            out << path;
    }
    return out;
}

// Takes a journal left behind: reads it and removes it, unless its writer still
// runs or it cannot be read. Callers hold the state's mutex.
std::optional<RecoveryJournal::Entry> take(const QString& journal)
{
    const QString name = QFileInfo(journal).fileName();
    const bool shared = journal == RecoveryJournal::sharedFile();
    WriterLock lock(RecoveryJournal::lockFileFor(journal));
    const WriterLock::Result locked = shared ? WriterLock::Result::Missing : lock.tryTake(false);
    // Read without blocking and only as a regular file of a sane size; one
    // that cannot be read or decoded stays where it is and is reported to
    // nobody.
    const RegularFile::Contents read = RegularFile::read(journal, kMaxJournalBytes);
    if (read.status != RegularFile::Status::Open || read.tooLarge)
        return std::nullopt;
    const std::optional<RecoveryJournal::Entry> entry = RecoveryJournal::decode(read.bytes);
    if (!entry)
        return std::nullopt;
    // Its writer still records: the lock says so, or, where there is no lock
    // to ask, its process of this boot still runs; a journal of an older
    // version names no writer, and its writer records while it has a file open.
    bool alive = locked == WriterLock::Result::Busy;
    if (!alive && locked != WriterLock::Result::Taken) {
        if (shared)
            alive = !entry->finished && ProcessProbe::anyOtherHasOpen(entry->files.mid(0, RecoveryJournal::maximumFiles));
        else
            alive = entry->pid > 0 && entry->pid != ::getpid() && !entry->boot.isEmpty()
                    && entry->boot == ProcessProbe::bootId() && ProcessProbe::isRunning(entry->pid);
    }
    if (alive) {
        RecorderLog::write(QStringLiteral("[recovery] left %1 alone: the program writing it is still recording%2")
                               .arg(name, entry->pid > 0 ? QStringLiteral(" (process %1)").arg(entry->pid) : QString()));
        return std::nullopt;
    }
    // Removed before its files are examined: a file that brought the reader
    // down would otherwise do so at every launch.
    QFile::remove(journal);
    // No longer needed: nobody writes this journal any more.
    if (locked == WriterLock::Result::Taken)
        QFile::remove(lock.path());
    return entry;
}

// The file in the resolved recordings folder that a listed path names, when it
// names one there with a recording's name.
std::optional<QString> inRecordingsFolder(const QString& path, const QString& canonicalFolder)
{
    // We write absolute paths only; a relative one would name a file wherever
    // this process happens to run.
    if (canonicalFolder.isEmpty() || !QDir::isAbsolutePath(path))
        return std::nullopt;
    const QFileInfo info(QDir::cleanPath(path));
    if (!RecoveryJournal::isRecordingName(info.fileName()))
        return std::nullopt;
    // The folder it says, with every link resolved, must be the recordings
    // folder itself; the file is then named through the resolved folder, so a
    // link put in the folder's place later leads nowhere else.
    const QString dir = QFileInfo(info.path()).canonicalFilePath();
    if (dir != canonicalFolder)
        return std::nullopt;
    return QDir(canonicalFolder).filePath(info.fileName());
}

} // namespace

QString RecoveryJournal::file()
{
    return fileFor(InstanceScope::current());
}

QString RecoveryJournal::fileFor(const QString& scope)
{
    return XdgPaths::recoveryDir() + QStringLiteral("/active-")
           + (scope.isEmpty() ? QStringLiteral("no_display") : scope) + QStringLiteral(".json");
}

QString RecoveryJournal::sharedFile()
{
    return XdgPaths::recoveryDir() + QStringLiteral("/active.json");
}

QString RecoveryJournal::lockFileFor(const QString& journal)
{
    QString lock = journal;
    if (lock.endsWith(QStringLiteral(".json")))
        lock.chop(5);
    return lock + QStringLiteral(".lock");
}

bool RecoveryJournal::isRecordingName(const QString& fileName)
{
    // As StartFlow::outputPath names a movie ("Corvessa <date> <time>", then
    // " Screen" beside a camera file, then " <n>" from 2 on when the name is
    // taken) and CameraSideFile::cameraFilePath its camera files (the movie's
    // name without " Screen", then " Camera", then " <n>" from 2 on).
    static const QRegularExpression name(QRegularExpression::anchoredPattern(QStringLiteral(
        "Corvessa \\d{4}-\\d{2}-\\d{2} \\d{2}\\.\\d{2}\\.\\d{2}"
        "(?:(?: Screen)?(?: (?:[2-9]|[1-9]\\d+))?|(?: Screen (?:[2-9]|[1-9]\\d+))? Camera(?: (?:[2-9]|[1-9]\\d+))?)"
        "\\.mov")));
    return name.match(fileName).hasMatch();
}

bool RecoveryJournal::startsLikeMovie(const QByteArray& head)
{
    if (head.size() < 8)
        return false;
    const QByteArray type = head.mid(4, 4);
    return type == "ftyp" || type == "moov" || type == "moof";
}

void RecoveryJournal::begin(const QString& moviePath)
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (!s.lock) {
        s.path = file();
        s.lock = holdWriterLock(s.path);
    }
    s.entry = Entry{QDateTime::currentDateTimeUtc(), {moviePath}, false, qint64(::getpid()), ProcessProbe::bootId()};
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
    // The lock goes with the journal: nothing of ours is written any more.
    const std::unique_ptr<WriterLock> held = std::exchange(s.lock, nullptr);
    QFile journal(file());
    if (journal.remove() || !journal.exists()) {
        if (held && held->isTaken())
            QFile::remove(held->path());
        return;
    }
    // Its folder no longer lets it go (made read-only): a journal left as it is
    // would be taken for a crash at every launch. Marked finished, with no files
    // for a reader that does not know the mark to report.
    const QString why = journal.errorString();
    Entry done{ended ? ended->started : QDateTime::currentDateTimeUtc(), {}, true, qint64(::getpid()), ProcessProbe::bootId()};
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
    if (entry.pid > 0)
        o.insert(QStringLiteral("pid"), double(entry.pid));
    if (!entry.boot.isEmpty())
        o.insert(QStringLiteral("boot"), entry.boot);
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
    const double pid = o.value(QStringLiteral("pid")).toDouble(0);
    e.pid = pid >= 1 && pid < 4194305 ? qint64(pid) : 0; // beyond pid_max: no process
    e.boot = o.value(QStringLiteral("boot")).toString();
    return e;
}

std::vector<RecoveryJournal::Found> RecoveryJournal::inspect(const Entry& entry, const QString& recordingsFolder)
{
    return inspect(entry, recordingsFolder, std::chrono::steady_clock::now() + inspectTimeLimit);
}

std::vector<RecoveryJournal::Found> RecoveryJournal::inspect(const Entry& entry, const QString& recordingsFolder,
                                                             std::chrono::steady_clock::time_point deadline)
{
    const QString folder = recordingsFolder.isEmpty() ? QString() : QFileInfo(recordingsFolder).canonicalFilePath();
    const auto leftAlone = [](const QString& path, const QString& why) {
        RecorderLog::write(QStringLiteral("[recovery] left %1 alone: %2").arg(path, why));
    };
    std::vector<Found> found;
    QSet<QString> seen;
    for (const QString& listed : entry.files) {
        if (seen.contains(listed))
            continue;
        if (seen.size() == maximumFiles)
            break;
        seen.insert(listed);
        // Only our own recordings in the recordings folder are looked at (and
        // perhaps removed): a journal can be tampered with, and a file of the
        // user elsewhere is none of the check's business.
        const std::optional<QString> path = inRecordingsFolder(listed, folder);
        if (!path) {
            leftAlone(listed, folder.isEmpty() ? QStringLiteral("no recordings folder is set")
                                               : QStringLiteral("not a recording in the recordings folder"));
            continue;
        }
        // Only a regular file of this user can be one of our movies: a FIFO
        // would block the reader for ever, a device or a folder is no recording,
        // and a link or someone else's file is not what we wrote.
        const RegularFile movie(*path, RegularFile::Links::Refuse);
        if (movie.status() == RegularFile::Status::Missing)
            continue;
        if (!movie.isOpen() || !movie.ownedByUser()) {
            leftAlone(listed, movie.isOpen() ? QStringLiteral("not this user's file") : movie.error());
            continue;
        }
        // Empty is what a recording cut before its first byte leaves; anything
        // else must begin as our movies do, or it is some other file that
        // happens to carry the name.
        if (movie.size() > 0 && !startsLikeMovie(movie.head(8))) {
            leftAlone(listed, QStringLiteral("not a QuickTime movie"));
            continue;
        }
        Found f{*path};
        // The very file checked above, whatever the path names by now.
        const MovieProbe::Result probe = MovieProbe::probe(movie.openedPath(), deadline);
        if (probe.opened && std::isfinite(probe.seconds)) {
            f.seconds = probe.seconds;
            f.playable = probe.playable && probe.seconds > minimumPlayableSeconds;
        }
        f.empty = movie.size() == 0 || (probe.opened && !probe.torn && !probe.timedOut && noSample(probe));
        if (probe.timedOut)
            RecorderLog::write(QStringLiteral("[recovery] stopped reading %1 at the time limit; it may be longer")
                                   .arg(QFileInfo(*path).fileName()));
        found.push_back(f);
    }
    return found;
}

QString RecoveryJournal::logLine(const std::vector<Found>& found)
{
    if (found.empty())
        return QStringLiteral("[recovery] last session did not finish normally; no file of it is left to recover");
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

std::optional<RecoveryJournal::LaunchReport> RecoveryJournal::checkNow(const QString& recordingsFolder)
{
    std::optional<Entry> left;
    {
        State& s = state();
        std::lock_guard lock(s.mutex);
        for (const QString& journal : journals()) {
            // A recording of this process has begun: that journal is its own.
            if (s.entry && journal == s.path)
                continue;
            const std::optional<Entry> taken = take(journal);
            if (!taken || taken->finished)
                continue;
            if (!left) {
                left = taken;
                continue;
            }
            for (const QString& f : taken->files)
                left->files.append(f);
        }
    }
    if (!left)
        return std::nullopt;
    LaunchReport report;
    report.found = inspect(*left, recordingsFolder);
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

void RecoveryJournal::checkAtLaunch(const QString& recordingsFolder, std::function<void(const Announcement&)> announce)
{
    // The global pool is waited for when the application ends.
    QThreadPool::globalInstance()->start([recordingsFolder, announce = std::move(announce)] {
        const auto report = checkNow(recordingsFolder);
        if (report && report->announcement && announce)
            MainQueue::async([announce, a = *report->announcement] { announce(a); });
    });
}

void RecoveryJournal::reveal(const Announcement& announcement, std::function<void(bool shown)> done)
{
    FileReveal::current()->showItems(announcement.playablePaths, std::move(done));
}

} // namespace corvessa
