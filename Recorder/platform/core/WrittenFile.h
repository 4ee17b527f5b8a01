#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace corvessa {

// A file this program created, known by its path and by what the file system
// calls it (device and inode, and its birth time where the file system keeps
// one, since a removed file's inode number is soon given to a new file), so
// that what sits at the path later can be told apart from it: the user may have
// removed it, moved it, or put something else there, a link included. A value;
// any thread.
class WrittenFile {
public:
    WrittenFile() = default;
    // `birth`: nanoseconds since the epoch; 0 = not known.
    WrittenFile(QString path, uint64_t device, uint64_t inode, int64_t birth = 0);

    // The file open as `fd`, created at `path`; none when the descriptor cannot
    // be looked at.
    static std::optional<WrittenFile> ofDescriptor(const QString& path, int fd);
    // The regular file at `path` now (a link is not followed); none when there
    // is none.
    static std::optional<WrittenFile> atPath(const QString& path);

    const QString& path() const { return m_path; }
    uint64_t device() const { return m_device; }
    uint64_t inode() const { return m_inode; }
    int64_t birth() const { return m_birth; }
    // The same file under another name.
    WrittenFile movedTo(const QString& path) const;

    // The path still names this very file (not a link to it, not another file).
    bool isAtPath() const;
    // Sets the file's modification time to now, if the path still names this
    // very file; never creates a file and never follows a link. False when
    // nothing was changed.
    bool touch() const;

    bool operator==(const WrittenFile&) const = default;

private:
    QString m_path;
    uint64_t m_device = 0;
    uint64_t m_inode = 0;
    int64_t m_birth = 0;
};

} // namespace corvessa
