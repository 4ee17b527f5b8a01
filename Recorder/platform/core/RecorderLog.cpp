#include "platform/core/RecorderLog.h"

#include "platform/core/XdgPaths.h"

#include <QDateTime>
#include <QDir>

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace corvessa {

namespace {

// Serialises writers in this process, so a size reset never races an append.
std::mutex& logMutex()
{
    static std::mutex m;
    return m;
}

} // namespace

QByteArray RecorderLog::formatLine(const QString& message)
{
    const QString stamp = QDateTime::currentDateTimeUtc().toString(Qt::ISODate); // 2026-12-07T22:30:35Z
    return (stamp + QLatin1Char(' ') + message + QLatin1Char('\n')).toUtf8();
}

void RecorderLog::write(const QString& message)
{
    const QByteArray line = formatLine(message);
    const QString dir = XdgPaths::logDir();
    const QByteArray path = QFile::encodeName(XdgPaths::logFile());

    std::lock_guard lock(logMutex());
    QDir().mkpath(dir); // failure shows up as a failed open below

    struct stat st{};
    if (::stat(path.constData(), &st) == 0 && st.st_size > sizeLimit)
        ::unlink(path.constData());

    // O_APPEND makes each line one atomic append, also against other processes.
    const int fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    const char* p = line.constData();
    qsizetype left = line.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        p += n;
        left -= n;
    }
    ::close(fd);
}

} // namespace corvessa
