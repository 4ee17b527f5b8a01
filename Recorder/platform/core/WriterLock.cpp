#include "platform/core/WriterLock.h"

#include <QFile>

#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvessa {

WriterLock::WriterLock(QString path) : m_path(std::move(path)) {}

WriterLock::~WriterLock()
{
    release();
}

WriterLock::Result WriterLock::tryTake(bool create)
{
    if (m_fd >= 0)
        return Result::Taken;
    const QByteArray name = QFile::encodeName(m_path);
    // A holder removes the file when done with it; a lock taken on the file it
    // removed guards nothing, so it is taken again on the file the path names
    // now.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const Result result = takeOnce(name, create);
        if (result != Result::Taken || m_fd < 0)
            return result;
        struct stat held {};
        struct stat named {};
        if (::fstat(m_fd, &held) == 0 && ::lstat(name.constData(), &named) == 0 && held.st_dev == named.st_dev
            && held.st_ino == named.st_ino)
            return Result::Taken;
        release();
    }
    return Result::Busy;
}

WriterLock::Result WriterLock::takeOnce(const QByteArray& name, bool create)
{
    int fd = -1;
    do {
        fd = ::open(name.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | (create ? O_CREAT : 0), 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return errno == ENOENT ? Result::Missing : Result::Unavailable;
    int rc = -1;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int error = errno;
        ::close(fd);
        return error == EWOULDBLOCK ? Result::Busy : Result::Unavailable;
    }
    m_fd = fd;
    return Result::Taken;
}

void WriterLock::release()
{
    if (m_fd < 0)
        return;
    // Closing the only descriptor of the open file lets the lock go.
    ::close(m_fd);
    m_fd = -1;
}

} // namespace corvessa
