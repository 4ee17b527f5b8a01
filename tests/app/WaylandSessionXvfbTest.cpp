// The program started in a Wayland session whose desktop asks every Qt program
// for the Wayland platform: it captures through X11, so its interface must come
// up on the X server (XWayland there, Xvfb here) and say what recordings show.
#include "platform/core/XdgPaths.h"
#include "support/ChildProcess.h"
#include "support/TempHome.h"
#include "support/XvfbTest.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

namespace corvessa::test {
namespace {

class WaylandSessionXvfb : public XvfbTest {};

TEST_F(WaylandSessionXvfb, TheInterfaceRunsOnTheXServerAndSaysWhatRecordingsShow)
{
    TempHome home;
    const QString runtime = home.file(QStringLiteral("runtime"));
    ASSERT_TRUE(QDir().mkpath(runtime));
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QStringList env = QProcess::systemEnvironment();
    env.removeIf([](const QString& v) {
        for (const char* name : {"QT_QPA_PLATFORM=", "WAYLAND_DISPLAY=", "XDG_SESSION_TYPE=", "XDG_RUNTIME_DIR=",
                                 "DBUS_SESSION_BUS_ADDRESS="})
            if (v.startsWith(QLatin1String(name)))
                return true;
        return false;
    });
    // A compositor nobody runs, and no session bus: its own runtime folder only.
    env << QStringLiteral("QT_QPA_PLATFORM=wayland") << QStringLiteral("WAYLAND_DISPLAY=wayland-corvessa-none")
        << QStringLiteral("XDG_SESSION_TYPE=wayland") << QStringLiteral("XDG_RUNTIME_DIR=") + runtime
        << QStringLiteral("DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/corvessa-bus")
        << QStringLiteral("CORVESSA_CAMERA=synthetic");
    const QString artifacts = qEnvironmentVariable("CORVESSA_TEST_ARTIFACTS");
    auto program = ChildProcess::start(QStringLiteral(CORVESSA_BINARY), {}, env,
                                       artifacts.isEmpty() ? QString() : artifacts + QStringLiteral("/wayland.out"));
    ASSERT_TRUE(program);

    const QByteArray said = "[app] Wayland session: the interface runs on the xcb platform; recordings show only X11 windows";
    const auto logged = [] {
        QFile log(XdgPaths::logFile());
        return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
    };
    QElapsedTimer waited;
    waited.start();
    while (!logged().contains(said) && program->isRunning() && waited.elapsed() < 30000)
        QThread::msleep(50);
    EXPECT_TRUE(logged().contains(said)) << logged().toStdString();
    EXPECT_TRUE(logged().contains("[hotkeys] registered")) << "its hot keys are on the X server";
    EXPECT_EQ(logged().count(said), 1) << "said once";
    ASSERT_TRUE(program->isRunning()) << "ended with status " << program->status().value_or(-1);
    program->terminate();
}

} // namespace
} // namespace corvessa::test
