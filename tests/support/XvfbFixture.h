#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

class QProcess;
class QTemporaryDir;
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
    // A real Xorg server with the dummy video driver instead, whose RandR
    // outputs DUMMY0, DUMMY1, ... can be switched on, moved and switched off
    // with xrandr as on a machine with several monitors; only DUMMY0 is on at
    // the start, in the first of `modes` (each "WIDTHxHEIGHT", 60 Hz). It gets a
    // generated configuration and log file of its own. Xorg needs root (or a
    // console) to start: where it cannot, start() says why.
    static std::unique_ptr<XvfbFixture> xorgDummy(const QStringList& modes);
    ~XvfbFixture();
    XvfbFixture(const XvfbFixture&) = delete;
    XvfbFixture& operator=(const XvfbFixture&) = delete;

    // Whether this fixture's server program is there.
    bool installed() const;
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
    QStringList m_xorgModes; // an Xorg dummy server when not empty
    std::unique_ptr<QTemporaryDir> m_xorgDir;
    std::unique_ptr<QProcess> m_process;
    _XDisplay* m_keepAlive = nullptr;
    int m_number = -1;
    qint64 m_killedPid = 0; // its lock and socket are left to remove
    bool m_hadDisplay = false;
    QByteArray m_previousDisplay;
};

} // namespace corvessa::test
