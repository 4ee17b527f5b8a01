#pragma once

#include "platform/SingleInstance.h"
#include "platform/core/InstanceScope.h"

#include <QByteArray>

#include <map>
#include <memory>

#include <sys/types.h>

class QSocketNotifier;

namespace corvessa {

// One instance per display through a Unix socket, for sessions without a bus.
// The holder listens at the socket's path; a later launch connects and writes
// its message followed by a line feed, then closes. A socket left behind by an
// instance that died refuses connections and is taken over. Launches starting
// together take turns through a lock file beside the socket. Connections from
// other users are refused. Main thread.
class SocketSingleInstance : public SingleInstance {
public:
    // Longer messages are refused: the channel carries short commands only.
    static constexpr qsizetype maxMessageBytes = 4096;

    // $XDG_RUNTIME_DIR/corvessa-<scope>.sock (corvessa.sock without a scope),
    // else the same name in the program's state folder. The scope is the
    // display's part (InstanceScope): one program per user and display.
    static QString defaultPath(const QString& scope);
    static QString defaultPath() { return defaultPath(InstanceScope::current()); }

    explicit SocketSingleInstance(QString socketPath = defaultPath());
    ~SocketSingleInstance() override;
    SocketSingleInstance(const SocketSingleInstance&) = delete;
    SocketSingleInstance& operator=(const SocketSingleInstance&) = delete;

    bool claim(OnMessage onMessage) override;
    bool send(const QString& message) override;

    QString path() const { return m_path; }
    // Whether this instance listens at the path.
    bool isListening() const { return m_listener >= 0; }

private:
    struct Client;

    bool listenOrFindHolder();
    void accept();
    void read(int fd);
    void drop(int fd);

    const QString m_path;
    OnMessage m_onMessage;
    int m_listener = -1;
    dev_t m_device = 0; // of the socket file we made, so we never unlink a successor's
    ino_t m_inode = 0;
    std::unique_ptr<QSocketNotifier> m_listenNotifier;
    std::map<int, std::unique_ptr<Client>> m_clients;
};

} // namespace corvessa
