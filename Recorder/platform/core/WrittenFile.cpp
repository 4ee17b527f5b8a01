#include "platform/core/WrittenFile.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvessa {

namespace {

// What the file system says of a file: `fd` itself when `path` is empty, else
// the entry at `path` (a link is not followed). None when it is not a regular file.
std::optional<WrittenFile> look(int fd, const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct statx sx {};
    const int flags = path.isEmpty() ? AT_EMPTY_PATH : AT_SYMLINK_NOFOLLOW;
    if (::statx(path.isEmpty() ? fd : AT_FDCWD, name.constData(), flags, STATX_TYPE | STATX_INO | STATX_BTIME, &sx) != 0
        || !S_ISREG(sx.stx_mode))
        return std::nullopt;
    const int64_t birth =
        (sx.stx_mask & STATX_BTIME) ? int64_t(sx.stx_btime.tv_sec) * 1000000000 + sx.stx_btime.tv_nsec : 0;
    return WrittenFile(path, (uint64_t(sx.stx_dev_major) << 32) | sx.stx_dev_minor, sx.stx_ino, birth);
}

bool sameFile(const std::optional<WrittenFile>& seen, const WrittenFile& file)
{
    return seen && seen->device() == file.device() && seen->inode() == file.inode()
           && (!seen->birth() || !file.birth() || seen->birth() == file.birth());
}

} // namespace

WrittenFile::WrittenFile(QString path, uint64_t device, uint64_t inode, int64_t birth)
    : m_path(std::move(path))
    , m_device(device)
    , m_inode(inode)
    , m_birth(birth)
{
}

std::optional<WrittenFile> WrittenFile::ofDescriptor(const QString& path, int fd)
{
    if (fd < 0)
        return std::nullopt;
    auto file = look(fd, QString());
    if (file)
        file->m_path = path;
    return file;
}

std::optional<WrittenFile> WrittenFile::atPath(const QString& path)
{
    return path.isEmpty() ? std::nullopt : look(-1, path);
}

WrittenFile WrittenFile::movedTo(const QString& path) const
{
    return WrittenFile(path, m_device, m_inode, m_birth);
}

bool WrittenFile::isAtPath() const
{
    return !m_path.isEmpty() && sameFile(look(-1, m_path), *this);
}

bool WrittenFile::touch() const
{
    // Looked at first, so that nothing but our own file is ever opened (opening
    // a device or a FIFO has effects of its own); the descriptor is checked
    // again, since the path may have changed in between.
    if (!isAtPath())
        return false;
    int fd = -1;
    do {
        fd = ::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return false;
    bool touched = false;
    if (sameFile(look(fd, QString()), *this)) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_NOW}};
        touched = ::futimens(fd, times) == 0;
    }
    ::close(fd);
    return touched;
}

} // namespace corvessa
