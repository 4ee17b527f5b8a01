#include "support/XvfbFixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
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

// A dummy-driver configuration: one screen large enough for the outputs side
// by side or stacked, each mode timed for 60 Hz with short blanking. No input
// devices and no VT switching: the server is a test's, not a console's.
QString xorgDummyConfig(const QStringList& modes)
{
    QString modelines;
    QString names;
    for (const QString& mode : modes) {
        const int w = mode.section(QLatin1Char('x'), 0, 0).toInt();
        const int h = mode.section(QLatin1Char('x'), 1, 1).toInt();
        const int htotal = w + 160;
        const int vtotal = h + 40;
        const double clock = double(htotal) * vtotal * 60 / 1e6;
        modelines += QStringLiteral("    Modeline \"%1\" %2 %3 %4 %5 %6 %7 %8 %9 %10 +hsync -vsync\n")
                         .arg(mode)
                         .arg(clock, 0, 'f', 2)
                         .arg(w).arg(w + 48).arg(w + 80).arg(htotal)
                         .arg(h).arg(h + 3).arg(h + 8).arg(vtotal);
        names += QStringLiteral(" \"%1\"").arg(mode);
    }
    return QStringLiteral("Section \"ServerFlags\"\n"
                          "    Option \"AutoAddDevices\" \"false\"\n"
                          "    Option \"AutoAddGPU\" \"false\"\n"
                          "    Option \"DontVTSwitch\" \"true\"\n"
                          "EndSection\n"
                          "Section \"Device\"\n"
                          "    Identifier \"dummy\"\n"
                          "    Driver \"dummy\"\n"
                          "    VideoRam 256000\n"
                          "EndSection\n"
                          "Section \"Monitor\"\n"
                          "    Identifier \"monitor\"\n"
                          "    HorizSync 5.0-1000.0\n"
                          "    VertRefresh 5.0-200.0\n"
                          "    Option \"ReducedBlanking\" \"true\"\n"
                          "%1"
                          "EndSection\n"
                          "Section \"Screen\"\n"
                          "    Identifier \"screen\"\n"
                          "    Device \"dummy\"\n"
                          "    Monitor \"monitor\"\n"
                          "    DefaultDepth 24\n"
                          "    SubSection \"Display\"\n"
                          "        Depth 24\n"
                          "        Virtual 4096 4096\n"
                          "        Modes%2\n"
                          "    EndSubSection\n"
                          "EndSection\n")
        .arg(modelines, names);
}

} // namespace

XvfbFixture::XvfbFixture(QString screen) : m_screen(std::move(screen)) {}

std::unique_ptr<XvfbFixture> XvfbFixture::xorgDummy(const QStringList& modes)
{
    auto fixture = std::make_unique<XvfbFixture>();
    fixture->m_xorgModes = modes;
    return fixture;
}

bool XvfbFixture::installed() const
{
    if (m_xorgModes.isEmpty())
        return isInstalled();
    return !QStandardPaths::findExecutable(QStringLiteral("Xorg")).isEmpty() &&
           QFile::exists(QStringLiteral("/usr/lib/xorg/modules/drivers/dummy_drv.so"));
}

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
    const bool xorg = !m_xorgModes.isEmpty();
    const QString program = QStandardPaths::findExecutable(xorg ? QStringLiteral("Xorg") : QStringLiteral("Xvfb"));
    if (!installed()) {
        if (error)
            *error = xorg ? QStringLiteral("Xorg with the dummy driver is not installed")
                          : QStringLiteral("Xvfb is not installed");
        return false;
    }
    if (xorg && !m_xorgDir) {
        m_xorgDir = std::make_unique<QTemporaryDir>();
        QFile conf(m_xorgDir->filePath(QStringLiteral("xorg.conf")));
        if (!m_xorgDir->isValid() || !conf.open(QIODevice::WriteOnly) ||
            conf.write(xorgDummyConfig(m_xorgModes).toUtf8()) < 0) {
            if (error)
                *error = QStringLiteral("the Xorg configuration could not be written");
            return false;
        }
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
        if (xorg) {
            // -config with a path outside /etc needs root, which the server must have anyway.
            process->start(program, {QStringLiteral(":%1").arg(n), QStringLiteral("-config"),
                                     m_xorgDir->filePath(QStringLiteral("xorg.conf")), QStringLiteral("-logfile"),
                                     m_xorgDir->filePath(QStringLiteral("Xorg.log")), QStringLiteral("-noreset"),
                                     QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-novtswitch"),
                                     QStringLiteral("-sharevts")});
        } else {
            process->start(program, {QStringLiteral(":%1").arg(n), QStringLiteral("-screen"), QStringLiteral("0"),
                                     m_screen, QStringLiteral("+extension"), QStringLiteral("Composite"),
                                     QStringLiteral("+extension"), QStringLiteral("RANDR"), QStringLiteral("-nolisten"),
                                     QStringLiteral("tcp")});
        }
        if (!process->waitForStarted(5000)) {
            if (error)
                *error = program + QStringLiteral(" did not start: ") + process->errorString();
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
            if (xorg && !lockIsOurs(n, process->processId()) && !inUse(n))
                break; // it failed by itself, not for the number: another number fares no better
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
        *error = QStringLiteral("no %1 display could be started: ").arg(QFileInfo(program).fileName()) + lastOutput.right(2000);
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
