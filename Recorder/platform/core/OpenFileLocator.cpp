#include "platform/core/OpenFileLocator.h"

#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace corvessa {

std::optional<WrittenFile> OpenFileLocator::locate(const WrittenFile& file, int fd, const QString& procFolder)
{
    if (file.isAtPath())
        return file;
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    // Removed: no name names it any more (what the link below then gives ends
    // in " (deleted)", and may well name another file).
    if (::fstat(fd, &st) != 0 || st.st_nlink == 0)
        return std::nullopt;
    const QByteArray link = QFile::encodeName(procFolder + QLatin1Char('/') + QString::number(fd));
    std::vector<char> target(4096);
    for (;;) {
        const ssize_t n = ::readlink(link.constData(), target.data(), target.size());
        if (n < 0)
            return std::nullopt;
        if (size_t(n) < target.size()) {
            target.resize(size_t(n));
            break;
        }
        if (target.size() >= (size_t(1) << 20))
            return std::nullopt;
        target.resize(target.size() * 2);
    }
    const WrittenFile there = file.movedTo(QFile::decodeName(QByteArray(target.data(), qsizetype(target.size()))));
    // Only an absolute name that really is the same file counts (a file in
    // another mount namespace gives a name that means something else here).
    if (!there.path().startsWith(QLatin1Char('/')) || !there.isAtPath())
        return std::nullopt;
    return there;
}

} // namespace corvessa
