#include "platform/core/RegularFile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvessa {

namespace {

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

} // namespace

RegularFile::RegularFile(const QString& path, Links links) : m_path(path)
{
    const QByteArray name = QFile::encodeName(path);
    const bool follow = links == Links::Follow;
    struct stat st {};
    // Looked at before opening, so a device is never opened (opening some has
    // effects of its own); checked again on the descriptor, which is what counts.
    if ((follow ? ::stat(name.constData(), &st) : ::lstat(name.constData(), &st)) != 0) {
        m_status = errno == ENOENT || errno == ENOTDIR ? Status::Missing : Status::Unreadable;
        m_error = systemError(errno);
        return;
    }
    if (!S_ISREG(st.st_mode)) {
        m_status = Status::NotRegular;
        m_error = QStringLiteral("not a regular file");
        return;
    }
    m_ownedByUser = st.st_uid == ::geteuid();
    int fd = -1;
    do {
        fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW));
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        // A link put in the file's place since it was looked at.
        if (!follow && errno == ELOOP) {
            m_status = Status::NotRegular;
            m_error = QStringLiteral("not a regular file");
            m_ownedByUser = false;
            return;
        }
        m_status = errno == ENOENT ? Status::Missing : Status::Unreadable;
        m_error = systemError(errno);
        return;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        m_status = Status::NotRegular;
        m_error = QStringLiteral("not a regular file");
        m_ownedByUser = false;
        return;
    }
    m_ownedByUser = st.st_uid == ::geteuid();
    m_size = qint64(st.st_size);
    m_fd = fd;
    m_status = Status::Open;
}

RegularFile::~RegularFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

QString RegularFile::openedPath() const
{
    if (m_fd < 0)
        return m_path;
    const QString self = QStringLiteral("/proc/self/fd/%1").arg(m_fd);
    // Without /proc the name is all there is.
    return QFileInfo::exists(self) ? self : m_path;
}

QByteArray RegularFile::head(qint64 maxBytes) const
{
    QByteArray bytes;
    if (m_fd < 0 || maxBytes <= 0)
        return bytes;
    bytes.resize(maxBytes);
    qint64 got = 0;
    while (got < maxBytes) {
        const ssize_t n = ::pread(m_fd, bytes.data() + got, size_t(maxBytes - got), off_t(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
    }
    bytes.truncate(got);
    return bytes;
}

RegularFile::Contents RegularFile::readAll(qint64 maxBytes)
{
    Contents out;
    out.status = m_status;
    out.error = m_error;
    if (m_fd < 0)
        return out;
    struct stat st {};
    if (::fstat(m_fd, &st) == 0 && st.st_size > maxBytes) {
        out.tooLarge = true;
        out.error = QStringLiteral("larger than %1 bytes").arg(maxBytes);
        return out;
    }
    // Read to the end rather than to the size seen: the file may grow meanwhile,
    // and the limit must hold for what is read, not for what was announced.
    QByteArray bytes;
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            out.status = Status::Unreadable;
            out.error = systemError(errno);
            return out;
        }
        if (n == 0)
            break;
        if (bytes.size() + n > maxBytes) {
            out.tooLarge = true;
            out.error = QStringLiteral("larger than %1 bytes").arg(maxBytes);
            return out;
        }
        bytes.append(chunk, n);
    }
    out.bytes = std::move(bytes);
    return out;
}

RegularFile::Contents RegularFile::read(const QString& path, qint64 maxBytes)
{
    return RegularFile(path).readAll(maxBytes);
}

} // namespace corvessa
