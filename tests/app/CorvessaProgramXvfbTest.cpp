// The built program, run as a user would: under Xvfb with a window manager and
// a private sound server, driven by its global hot keys sent with XTest.
#include "engine/RecoveryJournal.h"
#include "platform/core/XdgPaths.h"
#include "prefs/Prefs.h"
#include "support/ChildProcess.h"
#include "support/PulseFixture.h"
#include "support/TempHome.h"
#include "support/XvfbTest.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <csignal>
#include <sys/wait.h>

namespace corvessa::test {
namespace {

class CorvessaProgramXvfb : public XvfbTest {
protected:
    void SetUp() override
    {
        XvfbTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        m_pulse = PulseFixture::shared();
        if (!m_pulse)
            GTEST_SKIP() << "PulseAudio cannot start here";
        m_home = std::make_unique<TempHome>();
        m_folder = m_home->file(QStringLiteral("Movies"));
        QDir().mkpath(m_folder);
        Prefs::resetShared();
        ASSERT_TRUE(Prefs::shared().setSaveFolder(m_folder));
        Prefs::shared().setSoundLaunch(false);
        if (!QStandardPaths::findExecutable(QStringLiteral("openbox")).isEmpty())
            m_wm = ChildProcess::start(QStringLiteral("openbox"), {});
        m_x = XOpenDisplay(nullptr);
        ASSERT_NE(m_x, nullptr);
    }
    void TearDown() override
    {
        m_program.reset();
        if (m_x)
            XCloseDisplay(m_x);
        m_wm.reset();
        m_home.reset();
    }

    std::unique_ptr<ChildProcess> launch(const QString& name, const QStringList& arguments = {})
    {
        QStringList env = QProcess::systemEnvironment();
        // The tests' own Qt draws offscreen; the program shows real windows.
        env.removeIf([](const QString& v) { return v.startsWith(QLatin1String("QT_QPA_PLATFORM=")); });
        env << QStringLiteral("QT_QPA_PLATFORM=xcb") << QStringLiteral("CORVESSA_CAMERA=synthetic");
        const QString artifacts = qEnvironmentVariable("CORVESSA_TEST_ARTIFACTS");
        const QString log = artifacts.isEmpty() ? QString() : artifacts + QLatin1Char('/') + name + QStringLiteral(".out");
        return ChildProcess::start(QStringLiteral(CORVESSA_BINARY), arguments, env, log);
    }

    static QString logText() 
    {
        QFile f(XdgPaths::logFile());
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    static bool waitFor(const std::function<bool()>& done, int ms = 30000)
    {
        QElapsedTimer t;
        t.start();
        while (!done()) {
            if (t.elapsed() > ms)
                return false;
            QThread::msleep(50);
        }
        return true;
    }

    bool waitForLog(const QString& text, int ms = 30000)
    {
        return waitFor([&] { return logText().contains(text); }, ms);
    }

    void chord(std::initializer_list<KeySym> keys)
    {
        for (KeySym k : keys)
            XTestFakeKeyEvent(m_x, XKeysymToKeycode(m_x, k), True, CurrentTime);
        for (auto it = std::rbegin(keys); it != std::rend(keys); ++it)
            XTestFakeKeyEvent(m_x, XKeysymToKeycode(m_x, *it), False, CurrentTime);
        XSync(m_x, False);
    }

    static bool recording() { return QFile::exists(RecoveryJournal::file()); }

    QStringList movies() const
    {
        return QDir(m_folder).entryList({QStringLiteral("*.mov")}, QDir::Files, QDir::Name);
    }

    // ffprobe's codecs and duration of a movie.
    static QJsonObject probe(const QString& path)
    {
        QProcess p;
        p.start(QStringLiteral("ffprobe"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                                            QStringLiteral("stream=codec_name:format=duration"), QStringLiteral("-of"),
                                            QStringLiteral("json"), path});
        p.waitForFinished(30000);
        return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    }

    static QStringList codecs(const QJsonObject& probe)
    {
        QStringList names;
        for (const QJsonValue& s : probe.value(QStringLiteral("streams")).toArray())
            names << s.toObject().value(QStringLiteral("codec_name")).toString();
        return names;
    }

    // Waits for the program to end and answers its exit status (-1 otherwise).
    static int exitStatus(ChildProcess& p, int ms)
    {
        if (!p.waitFinished(ms) || !p.status() || !WIFEXITED(*p.status()))
            return -1;
        return WEXITSTATUS(*p.status());
    }

    PulseFixture* m_pulse = nullptr;
    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<ChildProcess> m_wm;
    std::unique_ptr<ChildProcess> m_program;
    Display* m_x = nullptr;
    QString m_folder;
};

TEST_F(CorvessaProgramXvfb, RecordsPausesAndStopsWithTheHotKeys)
{
    m_program = launch(QStringLiteral("hotkeys"));
    ASSERT_TRUE(m_program);
    ASSERT_TRUE(waitForLog(QStringLiteral("[hotkeys] registered 15, failed 0"))) << logText().toStdString();

    // A second launch hands over to the first and ends.
    auto second = launch(QStringLiteral("second"));
    EXPECT_EQ(exitStatus(*second, 20000), 0);
    EXPECT_TRUE(waitForLog(QStringLiteral("[app] reopen requested by another launch")));

    QElapsedTimer wall;
    wall.start();
    chord({XK_Control_L, XK_Alt_L, XK_r});
    ASSERT_TRUE(waitFor(recording)) << logText().toStdString();
    QThread::msleep(1500);
    chord({XK_Control_L, XK_Alt_L, XK_p});
    QThread::msleep(800);
    chord({XK_Control_L, XK_Alt_L, XK_p});
    QThread::msleep(1500);
    chord({XK_Control_L, XK_Alt_L, XK_s});
    // The stop question: the red button confirms (Return would cancel); it is
    // reached from the focused cancel button with Shift+Tab.
    QString dialog;
    ASSERT_TRUE(waitFor([&] {
        QProcess search;
        search.start(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--name"),
                                                 QStringLiteral("Stop Recording and Save")});
        search.waitForFinished(5000);
        dialog = QString::fromLatin1(search.readAllStandardOutput()).split(QLatin1Char('\n')).value(0).trimmed();
        return !dialog.isEmpty();
    }, 15000)) << logText().toStdString();
    QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), dialog});
    QThread::msleep(300);
    chord({XK_Shift_L, XK_Tab});
    chord({XK_space});
    ASSERT_TRUE(waitFor([] { return !recording(); })) << logText().toStdString();
    ASSERT_TRUE(waitFor([&] { return movies().size() == 1; }));
    const double elapsed = wall.elapsed() / 1000.0;

    const QJsonObject info = probe(QDir(m_folder).filePath(movies().first()));
    EXPECT_TRUE(codecs(info).contains(QStringLiteral("hevc"))) << QJsonDocument(info).toJson().toStdString();
    EXPECT_TRUE(codecs(info).contains(QStringLiteral("aac")));
    const double duration = info.value(QStringLiteral("format")).toObject().value(QStringLiteral("duration")).toString().toDouble();
    EXPECT_GT(duration, 2.0) << "three seconds were recorded, less a pause";
    EXPECT_LT(duration, elapsed);
    EXPECT_TRUE(movies().first().startsWith(QStringLiteral("Corvessa ")));

    // Idle again: SIGTERM ends the program at once, with status 0.
    ::kill(m_program->pid(), SIGTERM);
    EXPECT_EQ(exitStatus(*m_program, 20000), 0);
}

TEST_F(CorvessaProgramXvfb, SigtermDuringARecordingSavesItFirst)
{
    m_program = launch(QStringLiteral("sigterm"));
    ASSERT_TRUE(m_program);
    ASSERT_TRUE(waitForLog(QStringLiteral("[hotkeys] registered")));
    chord({XK_Control_L, XK_Alt_L, XK_r});
    ASSERT_TRUE(waitFor(recording));
    QThread::msleep(1500);
    ::kill(m_program->pid(), SIGTERM);
    EXPECT_EQ(exitStatus(*m_program, 60000), 0);
    EXPECT_TRUE(logText().contains(QStringLiteral("[exit] system/signal exit while recording: saving first")));
    EXPECT_FALSE(recording()) << "the journal is gone once the movie is complete";
    ASSERT_EQ(movies().size(), 1);
    EXPECT_TRUE(codecs(probe(QDir(m_folder).filePath(movies().first()))).contains(QStringLiteral("hevc")));
}

TEST_F(CorvessaProgramXvfb, LauncherActionsReachTheRunningProgram)
{
    m_program = launch(QStringLiteral("launcher"));
    ASSERT_TRUE(m_program);
    ASSERT_TRUE(waitForLog(QStringLiteral("[hotkeys] registered")));
    const auto action = [this](const QString& id) {
        auto sender = launch(QStringLiteral("action-") + id, {QStringLiteral("--action"), id});
        return sender ? exitStatus(*sender, 20000) : -1;
    };
    EXPECT_EQ(action(QStringLiteral("nonsense")), 2) << "refused before anything is sent";
    EXPECT_EQ(action(QStringLiteral("pause")), 0);
    EXPECT_TRUE(waitForLog(QStringLiteral("[dock] pause is not offered now")));
    EXPECT_EQ(action(QStringLiteral("start")), 0);
    ASSERT_TRUE(waitFor(recording)) << logText().toStdString();
    QThread::msleep(1000);
    // Stop asks first; a SIGTERM while it asks saves the recording.
    EXPECT_EQ(action(QStringLiteral("stop")), 0);
    ASSERT_TRUE(waitForLog(QStringLiteral("[dock] stop")));
    ::kill(m_program->pid(), SIGTERM);
    EXPECT_EQ(exitStatus(*m_program, 60000), 0);
    EXPECT_EQ(movies().size(), 1);
}

} // namespace
} // namespace corvessa::test

namespace corvessa::test {
namespace {

// Its own server, since the test ends it.
class CorvessaServerLossXvfb : public CorvessaProgramXvfb {};

TEST_F(CorvessaServerLossXvfb, AnXServerThatDiesMidRecordingLeavesAFinishedMovie)
{
    m_program = launch(QStringLiteral("server-loss"));
    ASSERT_TRUE(m_program);
    ASSERT_TRUE(waitForLog(QStringLiteral("[hotkeys] registered")));
    chord({XK_Control_L, XK_Alt_L, XK_r});
    ASSERT_TRUE(waitFor(recording));
    QThread::msleep(1500);
    // Our own connection first: Xlib would end this test program with the server.
    XCloseDisplay(m_x);
    m_x = nullptr;
    m_wm.reset();
    s_xvfb->kill();
    ASSERT_TRUE(m_program->waitFinished(60000));
    EXPECT_FALSE(recording()) << logText().toStdString();
    ASSERT_EQ(movies().size(), 1);
    EXPECT_TRUE(codecs(probe(QDir(m_folder).filePath(movies().first()))).contains(QStringLiteral("hevc")));
}

} // namespace
} // namespace corvessa::test
