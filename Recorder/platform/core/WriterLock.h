#pragma once

#include <QByteArray>
#include <QString>

namespace corvessa {

// An advisory lock (flock) on a file, held by the process that writes what the
// lock guards for as long as it writes. The kernel lets it go when the process
// ends, however it ends, so a reader that can take it knows the writer is gone.
// The descriptor is closed on exec: programs we start never hold it. Owned by
// the thread that uses it.
class WriterLock {
public:
    enum class Result {
        Taken,       // this object holds the lock now
        Busy,        // another process (or another lock object) holds it
        Missing,     // there is no lock file (and none was to be made)
        Unavailable, // the file system or the folder does not allow it
    };

    explicit WriterLock(QString path);
    ~WriterLock();
    WriterLock(const WriterLock&) = delete;
    WriterLock& operator=(const WriterLock&) = delete;

    // Takes the lock without waiting. `create`: make the lock file when it is
    // missing (a writer does; a reader never leaves one behind).
    Result tryTake(bool create);
    bool isTaken() const { return m_fd >= 0; }
    void release();

    QString path() const { return m_path; }

private:
    Result takeOnce(const QByteArray& name, bool create);

    QString m_path;
    int m_fd = -1;
};

} // namespace corvessa
