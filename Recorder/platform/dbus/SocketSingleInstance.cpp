#include "platform/dbus/SocketSingleInstance.h"

#include "platform/core/InstanceScope.h"
#include "platform/core/RecorderLog.h"
#include "platform/core/XdgPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <optional>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace corvessa {

namespace {

std::optional<sockaddr_un> socketAddress(const QString& path)
{
    const QByteArray bytes = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (bytes.isEmpty() || size_t(bytes.size()) >= sizeof(address.sun_path))
        return std::nullopt;
    std::memcpy(address.sun_path, bytes.constData(), size_t(bytes.size()));
    return address;
}

// A blocking connection to the holder, or -1 when nobody listens.
int connectTo(const sockaddr_un& address)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void logUnguarded(const QString& why)
{
    RecorderLog::write(QStringLiteral("[instance] %1: other launches are not noticed").arg(why));
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

struct SocketSingleInstance::Client {
    int fd = -1;
    QByteArray data;
    QSocketNotifier* notifier = nullptr; // deleted later: it may be the one signalling

    ~Client()
    {
        notifier->setEnabled(false);
        notifier->deleteLater();
        ::close(fd);
    }
};

QString SocketSingleInstance::defaultPath(const QString& scope)
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString dir = runtime.isEmpty() ? XdgPaths::logDir() : runtime;
    const QString name = scope.isEmpty() ? QStringLiteral("corvessa") : QStringLiteral("corvessa-") + scope;
    return QDir(dir).filePath(name + QStringLiteral(".sock"));
}

SocketSingleInstance::SocketSingleInstance(QString socketPath)
    : m_path(std::move(socketPath))
{
}

SocketSingleInstance::~SocketSingleInstance()
{
    m_clients.clear();
    m_listenNotifier.reset();
    if (m_listener < 0)
        return;
    ::close(m_listener);
    struct stat st {};
    const QByteArray path = QFile::encodeName(m_path);
    if (::lstat(path.constData(), &st) == 0 && st.st_dev == m_device && st.st_ino == m_inode)
        ::unlink(path.constData());
}

bool SocketSingleInstance::claim(OnMessage onMessage)
{
    m_onMessage = std::move(onMessage);
    if (m_listener >= 0)
        return true;
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    // Two launches finding a stale socket together must not both take it over.
    const int lock = ::open(QFile::encodeName(m_path + QStringLiteral(".lock")).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock >= 0)
        ::flock(lock, LOCK_EX);
    const bool first = listenOrFindHolder();
    if (lock >= 0)
        ::close(lock); // and with it the lock
    return first;
}

bool SocketSingleInstance::listenOrFindHolder()
{
    const auto address = socketAddress(m_path);
    if (!address) {
        logUnguarded(QStringLiteral("socket path too long: ") + m_path);
        return true;
    }
    const QByteArray path = QFile::encodeName(m_path);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0)
            break;
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof(*address)) == 0 && ::listen(fd, 16) == 0) {
            struct stat st {};
            ::lstat(path.constData(), &st);
            m_device = st.st_dev;
            m_inode = st.st_ino;
            m_listener = fd;
            m_listenNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
            QObject::connect(m_listenNotifier.get(), &QSocketNotifier::activated, m_listenNotifier.get(), [this] { accept(); });
            return true;
        }
        const int error = errno;
        ::close(fd);
        if (error != EADDRINUSE) {
            logUnguarded(QStringLiteral("cannot listen at %1 (%2)").arg(m_path, systemError(error)));
            return true;
        }
        if (const int holder = connectTo(*address); holder >= 0) {
            ::close(holder); // it ends without a line feed, so it carries no message
            return false;
        }
        struct stat st {};
        if (::lstat(path.constData(), &st) != 0 || !S_ISSOCK(st.st_mode)) {
            logUnguarded(m_path + QStringLiteral(" is not a socket"));
            return true;
        }
        ::unlink(path.constData()); // left by an instance that died
    }
    logUnguarded(QStringLiteral("cannot listen at %1 (%2)").arg(m_path, systemError(errno)));
    return true;
}

bool SocketSingleInstance::send(const QString& message)
{
    QByteArray bytes = message.toUtf8();
    const auto address = socketAddress(m_path);
    if (!address || bytes.size() > maxMessageBytes)
        return false;
    const int fd = connectTo(*address);
    if (fd < 0)
        return false;
    bytes.append('\n');
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + written, size_t(bytes.size() - written), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += n;
    }
    ::close(fd);
    return written == bytes.size();
}

void SocketSingleInstance::accept()
{
    for (;;) {
        const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            return; // EAGAIN: all taken; anything else: the next one may do better
        ucred peer{};
        socklen_t size = sizeof(peer);
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != ::geteuid()) {
            RecorderLog::write(QStringLiteral("[instance] refused a message from another user"));
            ::close(fd);
            continue;
        }
        auto client = std::make_unique<Client>();
        client->fd = fd;
        client->notifier = new QSocketNotifier(fd, QSocketNotifier::Read);
        QObject::connect(client->notifier, &QSocketNotifier::activated, client->notifier, [this, fd] { read(fd); });
        m_clients[fd] = std::move(client);
    }
}

void SocketSingleInstance::read(int fd)
{
    Client& client = *m_clients.at(fd);
    char buffer[1024];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
        if (n > 0) {
            client.data.append(buffer, n);
            if (client.data.size() > maxMessageBytes + 1) {
                RecorderLog::write(QStringLiteral("[instance] refused a message longer than %1 bytes").arg(maxMessageBytes));
                drop(fd);
                return;
            }
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        break; // the end of the message, or a broken connection
    }
    // Only a line feed at the end makes a message: a launch that merely looked
    // for a holder closes without one.
    QByteArray data = client.data;
    drop(fd);
    if (!data.endsWith('\n'))
        return;
    data.chop(1);
    if (const auto handler = m_onMessage)
        handler(QString::fromUtf8(data));
}

void SocketSingleInstance::drop(int fd)
{
    m_clients.erase(fd);
}

} // namespace corvessa
