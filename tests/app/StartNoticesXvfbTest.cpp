// What the program tells at start, run for real on a private X server: the
// settings it had to reset, and what recordings show in a Wayland session.
#include "platform/core/UserDefaults.h"
#include "platform/core/XdgPaths.h"
#include "support/Artifacts.h"
#include "support/ChildProcess.h"
#include "support/TempHome.h"
#include "support/XvfbTest.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

namespace corvessa::test {
namespace {

class StartNoticesXvfb : public XvfbTest {
protected:
    void SetUp() override
    {
        XvfbTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        m_home = std::make_unique<TempHome>();
    }

    // The program with its own runtime folder and no session bus, `extra`
    // replacing what the caller's environment says.
    void launch(const QString& name, const QStringList& extra)
    {
        const QString runtime = m_home->file(QStringLiteral("runtime"));
        ASSERT_TRUE(QDir().mkpath(runtime));
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QStringList env = QProcess::systemEnvironment();
        QStringList set = extra;
        set << QStringLiteral("XDG_RUNTIME_DIR=") + runtime
            << QStringLiteral("DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/corvessa-bus")
            << QStringLiteral("CORVESSA_CAMERA=synthetic");
        if (!extra.join(QLatin1Char(' ')).contains(QLatin1String("QT_QPA_PLATFORM=")))
            set << QStringLiteral("QT_QPA_PLATFORM=xcb");
        for (const char* name : {"QT_QPA_PLATFORM=", "WAYLAND_DISPLAY=", "XDG_SESSION_TYPE="})
            env.removeIf([name](const QString& v) { return v.startsWith(QLatin1String(name)); });
        for (const QString& v : set)
            env.removeIf([&](const QString& old) { return old.section(QLatin1Char('='), 0, 0) == v.section(QLatin1Char('='), 0, 0); });
        env << set;
        m_program = ChildProcess::start(QStringLiteral(CORVESSA_BINARY), {}, env,
                                        Artifacts::path(name + QStringLiteral(".out")));
        ASSERT_TRUE(m_program);
    }

    static QByteArray logged()
    {
        QFile log(XdgPaths::logFile());
        return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
    }

    // Waits for `line` while the program runs.
    bool waitForLog(const QByteArray& line)
    {
        QElapsedTimer waited;
        waited.start();
        while (!logged().contains(line) && m_program->isRunning() && waited.elapsed() < 30000)
            QThread::msleep(50);
        return logged().contains(line);
    }

    void TearDown() override
    {
        if (m_program)
            m_program->terminate();
        m_program.reset();
        m_home.reset();
    }

    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<ChildProcess> m_program;
};

// A desktop that asks every Qt program for Wayland, with no compositor to
// reach: the interface comes up on the X server all the same.
TEST_F(StartNoticesXvfb, AWaylandSessionRunsTheInterfaceOnTheXServerAndSaysWhatRecordingsShow)
{
    launch(QStringLiteral("wayland"), {QStringLiteral("QT_QPA_PLATFORM=wayland"),
                                       QStringLiteral("WAYLAND_DISPLAY=wayland-corvessa-none"),
                                       QStringLiteral("XDG_SESSION_TYPE=wayland")});
    const QByteArray said = "[app] Wayland session: the interface runs on the xcb platform; recordings show only X11 windows";
    EXPECT_TRUE(waitForLog(said)) << logged().toStdString();
    EXPECT_TRUE(logged().contains("[hotkeys] registered")) << "its hot keys are on the X server";
    EXPECT_EQ(logged().count(said), 1) << "said once";
    ASSERT_TRUE(m_program->isRunning()) << "ended with status " << m_program->status().value_or(-1);
}

TEST_F(StartNoticesXvfb, SettingsThatCouldNotBeReadAreSaidOnce)
{
    const QString defaults = XdgPaths::defaultsFile();
    QDir().mkpath(QFileInfo(defaults).absolutePath());
    {
        QFile f(defaults);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("{ \"saveFolder\": ");
    }
    launch(QStringLiteral("settings-reset"), {});
    const QByteArray told = "[app] told the user the settings were reset; the old file is " + QFile::encodeName(defaults)
        + ".corrupt-";
    EXPECT_TRUE(waitForLog(told)) << logged().toStdString();
    EXPECT_FALSE(logged().contains("Wayland session"));
    // Taken from the store as it was said: the next start has nothing to say.
    QFile store(defaults);
    ASSERT_TRUE(store.open(QIODevice::ReadOnly));
    EXPECT_FALSE(store.readAll().contains(UserDefaults::setAsideKey.toUtf8()));
}

} // namespace
} // namespace corvessa::test
