#include "platform/core/ProcessProbe.h"

#include "platform/core/RegularFile.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <set>
#include <utility>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvessa {

QString ProcessProbe::bootId()
{
    const auto read = RegularFile::read(QStringLiteral("/proc/sys/kernel/random/boot_id"), 256);
    return QString::fromLatin1(read.bytes).trimmed();
}

bool ProcessProbe::isRunning(qint64 pid)
{
    if (pid <= 0 || pid != qint64(pid_t(pid)))
        return false;
    // EPERM: it runs, as another user.
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

bool ProcessProbe::anyOtherHasOpen(const QStringList& paths)
{
    std::set<std::pair<dev_t, ino_t>> files;
    for (const QString& path : paths) {
        struct stat st {};
        if (::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode))
            files.insert({st.st_dev, st.st_ino});
    }
    if (files.empty())
        return false;
    const QDir proc(QStringLiteral("/proc"));
    if (!proc.exists(QStringLiteral("self/fd")))
        return true; // no way to tell
    const QString self = QString::number(::getpid());
    for (const QString& pid : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (pid == self || pid.toLongLong() <= 0)
            continue;
        // Another user's descriptors cannot be listed; such a process cannot
        // be writing our files in our folders either.
        const QDir fds(proc.filePath(pid + QStringLiteral("/fd")));
        for (const QString& fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
            struct stat st {};
            // stat follows the descriptor's link to the open file itself.
            if (::stat(QFile::encodeName(fds.filePath(fd)).constData(), &st) == 0
                && files.count({st.st_dev, st.st_ino}))
                return true;
        }
    }
    return false;
}

} // namespace corvessa
