#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QString>

#include <mutex>
#include <optional>

namespace corvessa {

// The typed user-defaults store: bool, integer, double, string, data, array and
// dictionary values kept in one JSON file, rewritten atomically (temporary file
// and rename) on every change. A value of another type than the one asked for
// reads as absent. Data keeps its bytes exactly (stored as {"$data": base64}).
// Integers and doubles are both numbers: an integral number reads as either,
// a fractional one only as a double. A file that cannot be read (corrupt,
// unreadable, not a regular file, too large to be ours) is set aside (renamed
// with a ".corrupt-<time>" suffix) rather than overwritten, and the store starts
// afresh holding only where the old file went (setAsideKey), so that the user
// can be told at the next start even when another process found it. Where it
// cannot be moved, it is never written over. Loading never blocks on what sits
// at the path (a FIFO, a device). A file that cannot be written (its folder or
// itself read-only, immutable, another user's, a full or read-only file
// system) is left exactly as it is; the values then live in memory only, and
// the first such failure of a load is kept in writeFailure() and, when a change
// finds it, signalled once. Thread-safe.
class UserDefaults : public QObject {
    Q_OBJECT
public:
    // The store holds a few dozen settings and the shortcut table, a few
    // kilobytes. 16 MiB leaves room for a thousand times that, yet bounds what a
    // stray file can cost: parsing it takes about twice its size again.
    static constexpr qint64 maximumFileBytes = qint64(16) << 20;
    // Where a settings file that could not be read was kept, until taken.
    static inline const QString setAsideKey = QStringLiteral("settingsSetAside");

    // Why changes cannot be kept: the settings file and what stops its writing
    // (the system's words for the error, e.g. "Permission denied").
    struct WriteFailure {
        QString path;
        QString reason;
        bool operator==(const WriteFailure&) const = default;
    };

    explicit UserDefaults(QString path, QObject* parent = nullptr);

    // The program's store at XdgPaths::defaultsFile(). Tests that change HOME call
    // reopenStandard() to point it at the new file.
    static UserDefaults& standard();
    static void reopenStandard();

    QString path() const;
    // Reloads from disk (dropping unsaved state is impossible: every change is saved).
    void reload();

    bool contains(const QString& key) const;
    std::optional<QJsonValue> object(const QString& key) const; // raw stored value

    std::optional<bool> boolValue(const QString& key) const;
    std::optional<qint64> integer(const QString& key) const;
    std::optional<double> doubleValue(const QString& key) const;
    std::optional<QString> string(const QString& key) const;
    std::optional<QByteArray> data(const QString& key) const;
    std::optional<QJsonArray> array(const QString& key) const;
    std::optional<QJsonObject> dictionary(const QString& key) const;
    // An array whose every element is a string; absent otherwise.
    std::optional<QStringList> stringArray(const QString& key) const;

    void setBool(const QString& key, bool value);
    void setInteger(const QString& key, qint64 value);
    void setDouble(const QString& key, double value);
    void setString(const QString& key, const QString& value);
    void setData(const QString& key, const QByteArray& value);
    void setArray(const QString& key, const QJsonArray& value);
    void setDictionary(const QString& key, const QJsonObject& value);
    void setStringArray(const QString& key, const QStringList& value);
    void remove(const QString& key);

    // The last error of writing the file (empty after a good write).
    QString lastError() const;
    // Where an unreadable settings file was kept, once: the mark is removed.
    std::optional<QString> takeSetAside();
    // The file at path() when it could be neither read nor set aside: the
    // store then runs on defaults and saves nothing, each time it is loaded.
    std::optional<QString> stuckFile() const;
    // The first reason found since loading that changes cannot be written:
    // known at loading when the file or its folder may not be written, else
    // found by the first change whose write fails. Not for a stuck file.
    std::optional<WriteFailure> writeFailure() const;

signals:
    // Emitted on the thread that made the change.
    void valueChanged(const QString& key);
    // Once per load, on the thread of the change whose write failed first,
    // unless loading already found the file unwritable (writeFailure() says so).
    void writeFailed(const QString& path, const QString& reason);

private:
    void put(const QString& key, const QJsonValue& value);
    void loadLocked();
    void setAsideLocked(const QString& reason);
    // Notes at loading a file or folder the store may not write.
    void checkWritableLocked();
    bool saveLocked();
    // A write that failed for `reason`: said in lastError(), and kept as the
    // write failure when it is the first.
    void writeFailedLocked(const QString& error, const QString& reason);

    mutable std::mutex m_mutex;
    QString m_path;
    QJsonObject m_values;
    QString m_lastError;
    // The file at the path could be neither read nor moved: it is not written over.
    bool m_protected = false;
    std::optional<WriteFailure> m_writeFailure;
};

} // namespace corvessa
