#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class QProcess;
struct _XDisplay;

namespace corvessa::test {

// A private Xvfb server for the life of the object (or between start() and
// stop()): a free display number is found by the lock files /tmp/.X<N>-lock,
// the server is started there with Composite and RANDR, and DISPLAY points at it
// until it is stopped; the previous DISPLAY comes back afterwards. Should the
// test program die, the server is told to end too. The fixture keeps a
// connection of its own open: Xvfb resets when its last client leaves, and a
// connection attempt during the reset fails.
class XvfbFixture {
public:
    // screen: the -screen 0 geometry, WIDTHxHEIGHTxDEPTH.
    explicit XvfbFixture(QString screen = QStringLiteral("1280x800x24"));
    ~XvfbFixture();
    XvfbFixture(const XvfbFixture&) = delete;
    XvfbFixture& operator=(const XvfbFixture&) = delete;

    static bool isInstalled();

    // Starts the server and waits until it accepts connections. False with a
    // reason in *error when no server could be started.
    bool start(QString* error = nullptr);
    void stop();
    // Kills the server at once, as a crash would; DISPLAY still names it.
    // Connections of the test's own must be closed first: Xlib's default
    // handler ends the program when it finds one broken.
    void kill();
    bool isRunning() const;

    // ":N" while running.
    QString display() const;
    int displayNumber() const { return m_number; }

private:
    QString m_screen;
    std::unique_ptr<QProcess> m_process;
    _XDisplay* m_keepAlive = nullptr;
    int m_number = -1;
    qint64 m_killedPid = 0; // its lock and socket are left to remove
    bool m_hadDisplay = false;
    QByteArray m_previousDisplay;
};

} // namespace corvessa::test
