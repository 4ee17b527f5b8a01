#include "support/XvfbFixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

// X11 last: its macros clash with names in Qt.
#include <X11/Xlib.h>

namespace corvessa::test {

namespace {

constexpr int kFirstDisplay = 90;
constexpr int kDisplaysTried = 400;
constexpr int kStartTimeoutMs = 15000;

QString lockFile(int n)
{
    return QStringLiteral("/tmp/.X%1-lock").arg(n);
}

bool inUse(int n)
{
    return QFile::exists(lockFile(n)) || QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n));
}

// The server writes its pid into the lock file; another server that won the
// race for the same number would have written its own.
bool lockIsOurs(int n, qint64 pid)
{
    QFile f(lockFile(n));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    return f.readAll().trimmed().toLongLong() == pid;
}

Display* connect(const QString& display)
{
    const QByteArray name = display.toLocal8Bit();
    return XOpenDisplay(name.constData());
}

} // namespace

XvfbFixture::XvfbFixture(QString screen) : m_screen(std::move(screen)) {}

XvfbFixture::~XvfbFixture()
{
    stop();
}

bool XvfbFixture::isInstalled()
{
    return !QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty();
}

QString XvfbFixture::display() const
{
    return m_number < 0 ? QString() : QStringLiteral(":%1").arg(m_number);
}

bool XvfbFixture::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

bool XvfbFixture::start(QString* error)
{
    if (isRunning())
        return true;
    const QString program = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (program.isEmpty()) {
        if (error)
            *error = QStringLiteral("Xvfb is not installed");
        return false;
    }
    // Spread parallel test programs over the range, so they rarely try the same number.
    const int offset = int(getpid() % kDisplaysTried);
    QString lastOutput;
    for (int i = 0; i < kDisplaysTried; ++i) {
        const int n = kFirstDisplay + (offset + i) % kDisplaysTried;
        if (inUse(n))
            continue;
        auto process = std::make_unique<QProcess>();
        process->setProcessChannelMode(QProcess::MergedChannels);
        process->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
        process->start(program, {QStringLiteral(":%1").arg(n), QStringLiteral("-screen"), QStringLiteral("0"), m_screen,
                                 QStringLiteral("+extension"), QStringLiteral("Composite"), QStringLiteral("+extension"),
                                 QStringLiteral("RANDR"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        if (!process->waitForStarted(5000)) {
            if (error)
                *error = QStringLiteral("Xvfb did not start: ") + process->errorString();
            return false;
        }
        const QString display = QStringLiteral(":%1").arg(n);
        QElapsedTimer clock;
        clock.start();
        Display* connection = nullptr;
        while (clock.elapsed() < kStartTimeoutMs) {
            if (process->state() != QProcess::Running)
                break; // most likely another server took this number first
            if (lockIsOurs(n, process->processId()) && (connection = connect(display)))
                break;
            QThread::msleep(20);
        }
        if (!connection) {
            lastOutput = QString::fromLocal8Bit(process->readAll());
            process->kill();
            process->waitForFinished(2000);
            continue;
        }
        m_process = std::move(process);
        m_keepAlive = connection;
        m_number = n;
        m_hadDisplay = qEnvironmentVariableIsSet("DISPLAY");
        m_previousDisplay = qgetenv("DISPLAY");
        qputenv("DISPLAY", display.toLocal8Bit());
        return true;
    }
    if (error)
        *error = QStringLiteral("no Xvfb display could be started: ") + lastOutput;
    return false;
}

void XvfbFixture::kill()
{
    if (!m_process)
        return;
    if (m_keepAlive) {
        XCloseDisplay(m_keepAlive);
        m_keepAlive = nullptr;
    }
    m_killedPid = m_process->processId();
    m_process->kill();
    m_process->waitForFinished(5000);
}

void XvfbFixture::stop()
{
    if (!m_process)
        return;
    if (m_keepAlive) {
        XCloseDisplay(m_keepAlive);
        m_keepAlive = nullptr;
    }
    m_process->terminate();
    if (!m_process->waitForFinished(5000)) {
        m_process->kill();
        m_process->waitForFinished(2000);
    }
    m_process.reset();
    // A killed server leaves its lock and socket behind, which would keep the
    // number from later runs; they go only now, so that nobody else's server
    // answers at this number while the test still runs.
    if (m_killedPid && lockIsOurs(m_number, m_killedPid)) {
        QFile::remove(QStringLiteral("/tmp/.X11-unix/X%1").arg(m_number));
        QFile::remove(lockFile(m_number));
    }
    m_killedPid = 0;
    m_number = -1;
    if (m_hadDisplay)
        qputenv("DISPLAY", m_previousDisplay);
    else
        qunsetenv("DISPLAY");
}

} // namespace corvessa::test
