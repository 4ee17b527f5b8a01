#include "platform/core/WrittenFile.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvessa {

namespace {

bool sameFile(const struct stat& st, const WrittenFile& file)
{
    return S_ISREG(st.st_mode) && uint64_t(st.st_dev) == file.device() && uint64_t(st.st_ino) == file.inode();
}

} // namespace

WrittenFile::WrittenFile(QString path, uint64_t device, uint64_t inode)
    : m_path(std::move(path))
    , m_device(device)
    , m_inode(inode)
{
}

std::optional<WrittenFile> WrittenFile::ofDescriptor(const QString& path, int fd)
{
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return WrittenFile(path, uint64_t(st.st_dev), uint64_t(st.st_ino));
}

std::optional<WrittenFile> WrittenFile::atPath(const QString& path)
{
    struct stat st {};
    if (path.isEmpty() || ::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return WrittenFile(path, uint64_t(st.st_dev), uint64_t(st.st_ino));
}

WrittenFile WrittenFile::movedTo(const QString& path) const
{
    return WrittenFile(path, m_device, m_inode);
}

bool WrittenFile::isAtPath() const
{
    struct stat st {};
    return !m_path.isEmpty() && ::lstat(QFile::encodeName(m_path).constData(), &st) == 0 && sameFile(st, *this);
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
    struct stat st {};
    bool touched = false;
    if (::fstat(fd, &st) == 0 && sameFile(st, *this)) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_NOW}};
        touched = ::futimens(fd, times) == 0;
    }
    ::close(fd);
    return touched;
}

} // namespace corvessa
