#pragma once

#include <QByteArray>
#include <QString>

namespace corvessa {

// A file of ours read back without trusting what now sits at its path. The path
// is opened without blocking, so a FIFO never stalls the caller, and only a
// regular file is accepted (symbolic links are followed to one, unless refused):
// a device, a folder or a FIFO is refused without a byte read. Owned by the
// thread that opened it.
class RegularFile {
public:
    enum class Links {
        Follow, // a link to a regular file counts as that file
        Refuse, // a link counts as not regular, whatever it points at
    };

    enum class Status {
        Open,       // a regular file, open for reading
        Missing,    // nothing at the path
        NotRegular, // a folder, device, FIFO or socket
        Unreadable, // there, but it cannot be opened (permissions)
    };

    struct Contents {
        Status status = Status::Missing;
        bool tooLarge = false; // a regular file over the limit; nothing was kept
        QByteArray bytes;
        QString error; // why it was not read
    };

    explicit RegularFile(const QString& path, Links links = Links::Follow);
    ~RegularFile();
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;

    Status status() const { return m_status; }
    bool isOpen() const { return m_status == Status::Open; }
    QString error() const { return m_error; }
    // The file is there as a regular file and belongs to the user this process
    // runs as (also when it cannot be opened).
    bool ownedByUser() const { return m_ownedByUser; }
    // Its length in bytes when it was opened; 0 when not open.
    qint64 size() const { return m_size; }
    // A path that names the very file opened (not whatever the original path
    // names by now), for libraries that open files by name themselves.
    QString openedPath() const;

    // Its first bytes, at most maxBytes (fewer when it is shorter); empty when
    // not open. Reads from the start whatever was read before.
    QByteArray head(qint64 maxBytes) const;
    // The whole file, if it holds at most maxBytes.
    Contents readAll(qint64 maxBytes);
    static Contents read(const QString& path, qint64 maxBytes);

private:
    QString m_path;
    int m_fd = -1;
    Status m_status = Status::Missing;
    QString m_error;
    bool m_ownedByUser = false;
    qint64 m_size = 0;
};

} // namespace corvessa
