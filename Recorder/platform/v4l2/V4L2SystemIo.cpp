#include "platform/v4l2/V4L2SystemIo.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace corvessa {

namespace {

// The number of a "videoN" node name, or -1.
int nodeNumber(const QString& name)
{
    static const QRegularExpression pattern(QStringLiteral("^video(\\d+)$"));
    const auto match = pattern.match(name);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

// The name of a link in `directory` that resolves to `node`.
QString linkTo(const QString& directory, const QString& node)
{
    const QString target = QFileInfo(node).canonicalFilePath();
    if (target.isEmpty())
        return {};
    QDir dir(directory);
    QStringList names = dir.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) {
        if (QFileInfo(dir.filePath(name)).canonicalFilePath() == target)
            return name;
    }
    return {};
}

} // namespace

std::vector<QString> V4L2SystemIo::listNodes(const QString& directory)
{
    std::vector<std::pair<int, QString>> found;
    const QDir dir(directory);
    for (const QString& name : dir.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        const int n = nodeNumber(name);
        if (n >= 0)
            found.emplace_back(n, dir.filePath(name));
    }
    std::sort(found.begin(), found.end());
    std::vector<QString> nodes;
    for (auto& [n, path] : found)
        nodes.push_back(std::move(path));
    return nodes;
}

QString V4L2SystemIo::persistentName(const QString& node)
{
    QString name = linkTo(QStringLiteral("/dev/v4l/by-id"), node);
    if (name.isEmpty())
        name = linkTo(QStringLiteral("/dev/v4l/by-path"), node);
    return name;
}

int V4L2SystemIo::access(const QString& path)
{
    return ::access(QFile::encodeName(path).constData(), R_OK | W_OK);
}

int V4L2SystemIo::open(const QString& path)
{
    return ::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
}

int V4L2SystemIo::close(int fd)
{
    return ::close(fd);
}

int V4L2SystemIo::ioctl(int fd, unsigned long request, void* argument)
{
    int r;
    do {
        r = ::ioctl(fd, request, argument);
    } while (r == -1 && errno == EINTR);
    return r;
}

void* V4L2SystemIo::mmap(size_t length, int fd, int64_t offset)
{
    return ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, off_t(offset));
}

int V4L2SystemIo::munmap(void* address, size_t length)
{
    return ::munmap(address, length);
}

int V4L2SystemIo::poll(pollfd* fds, nfds_t count, int timeoutMs)
{
    return ::poll(fds, count, timeoutMs);
}

} // namespace corvessa
