// The built program, run as a user would: under Xvfb with a window manager and
// a private sound server, driven by its global hot keys sent with XTest.
#include "app/StatusIcon.h"
#include "engine/RecoveryJournal.h"
#include "platform/core/UserDefaults.h"
#include "platform/core/XdgPaths.h"
#include "prefs/Prefs.h"
#include "support/Artifacts.h"
#include "support/ChildProcess.h"
#include "support/Immutable.h"
#include "support/MoviePictures.h"
#include "support/PulseFixture.h"
#include "support/ProgramSession.h"
#include "support/WindowManager.h"
#include "support/XvfbTest.h"
#include "toolbar/BarView.h"
#include "toolbar/Confirm.h"

#include <QDir>
#include <QColor>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QThread>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <optional>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvessa::test {
namespace {

// Each test's program runs in a desktop session of the test's own: home,
// runtime folder and session bus (or none), never the caller's.
class CorvessaProgramXvfb : public XvfbTest {
protected:
    // Which session bus the program finds; the suites run with and without one.
    virtual ProgramSession::Bus busKind() const { return ProgramSession::Bus::session; }

    void SetUp() override
    {
        XvfbTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        m_pulse = PulseFixture::shared();
        if (!m_pulse)
            GTEST_SKIP() << "PulseAudio cannot start here";
        m_session = std::make_unique<ProgramSession>(busKind());
        if (!m_session->ready())
            GTEST_SKIP() << m_session->why().toStdString();
        m_folder = m_session->home().file(QStringLiteral("Movies"));
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
        m_tray.reset();
        m_wm.reset();
        m_session.reset();
    }

    // The program's output goes to <test>-<name>.out in $CORVESSA_TEST_ARTIFACTS,
    // else to <name>.out in the session's home.
    QString outputFile(const QString& name) const
    {
        const QString kept = Artifacts::path(name + QStringLiteral(".out"));
        return kept.isEmpty() ? m_session->home().file(name + QStringLiteral(".out")) : kept;
    }

    QString output(const QString& name) const
    {
        QFile f(outputFile(name));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    // `environment` ("NAME=value") is added to the session's.
    std::unique_ptr<ChildProcess> launch(const QString& name, const QStringList& arguments = {},
                                         const QStringList& environment = {})
    {
        QFile::remove(outputFile(name));
        return ChildProcess::start(QStringLiteral(CORVESSA_BINARY), arguments,
                                   m_session->environment(QStringList{QStringLiteral("CORVESSA_CAMERA=synthetic")}
                                                          + environment),
                                   outputFile(name));
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

    struct Shown {
        Window id = None;
        QRect rect;   // global, y down
        bool inTray = false;
        QString title;
    };

    static QString classOf(Display* x, Window w)
    {
        XClassHint hint{};
        if (!XGetClassHint(x, w, &hint))
            return {};
        const QString cls = QString::fromLatin1(hint.res_name) + QLatin1Char('/') + QString::fromLatin1(hint.res_class);
        XFree(hint.res_name);
        XFree(hint.res_class);
        return cls;
    }

    QString titleOf(Window w)
    {
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long rest = 0;
        unsigned char* data = nullptr;
        QString title;
        if (XGetWindowProperty(m_x, w, XInternAtom(m_x, "_NET_WM_NAME", False), 0, 1024, False,
                               XInternAtom(m_x, "UTF8_STRING", False), &type, &format, &count, &rest, &data)
                == Success
            && data) {
            title = QString::fromUtf8(reinterpret_cast<const char*>(data), int(count));
        }
        if (data)
            XFree(data);
        return title;
    }

    // The program's windows on screen: its own top levels (inside the window
    // manager's frames or not) and the icon the tray took in.
    std::vector<Shown> shownWindows()
    {
        std::vector<Shown> found;
        const Window root = DefaultRootWindow(m_x);
        // Windows vanish while they are walked: their errors are expected.
        const auto previous = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
        std::function<void(Window, bool)> walk = [&](Window w, bool inTray) {
            XWindowAttributes a{};
            if (w != root && (!XGetWindowAttributes(m_x, w, &a) || a.map_state != IsViewable))
                return;
            const QString cls = w == root ? QString() : classOf(m_x, w);
            if (cls.contains(QLatin1String("corvessa"), Qt::CaseInsensitive)) {
                Window child = None;
                int x = 0;
                int y = 0;
                XTranslateCoordinates(m_x, w, root, 0, 0, &x, &y, &child);
                found.push_back({w, QRect(x, y, a.width, a.height), inTray, titleOf(w)});
                return;
            }
            inTray = inTray || cls.contains(QLatin1String("trayer"), Qt::CaseInsensitive);
            Window r = None;
            Window p = None;
            Window* children = nullptr;
            unsigned int count = 0;
            if (!XQueryTree(m_x, w, &r, &p, &children, &count))
                return;
            const std::vector<Window> list(children, children + count);
            if (children)
                XFree(children);
            for (Window c : list)
                walk(c, inTray);
        };
        walk(root, false);
        XSync(m_x, False);
        XSetErrorHandler(previous);
        return found;
    }

    // The tray icon: ours, taken into the tray.
    std::optional<QRect> trayIcon()
    {
        for (const Shown& s : shownWindows()) {
            if (s.inTray && !s.rect.isEmpty())
                return s.rect;
        }
        return std::nullopt;
    }

    // For failure messages: the windows' ids, places and titles.
    static QString describe(const std::vector<Shown>& list)
    {
        QString out;
        for (const Shown& s : list)
            out += QStringLiteral(" [%1 %2,%3 %4x%5 %6 %7]").arg(s.id, 0, 16).arg(s.rect.x()).arg(s.rect.y()).arg(s.rect.width()).arg(s.rect.height())
                       .arg(s.inTray ? QStringLiteral("tray") : QString(), s.title);
        return out;
    }

    // The program's windows once no more come or go for a while.
    std::vector<Shown> settledWindows()
    {
        std::vector<Shown> last;
        int still = 0;
        waitFor([&] {
            std::vector<Shown> now = shownWindows();
            const bool same = now.size() == last.size()
                && std::equal(now.begin(), now.end(), last.begin(), [](const Shown& a, const Shown& b) { return a.id == b.id; });
            still = same ? still + 1 : 0;
            last = std::move(now);
            QThread::msleep(100);
            return still >= 10;
        });
        return last;
    }

    // A window of ours not in `before` that opened up by the tray icon at `icon`
    // (a floating window's frame holds its shadow, so it may reach above it).
    std::optional<Shown> popUnder(const QRect& icon, const std::vector<Shown>& before)
    {
        for (const Shown& s : shownWindows()) {
            if (!s.inTray && s.rect.top() <= icon.bottom() + 40
                && std::none_of(before.begin(), before.end(), [&](const Shown& b) { return b.id == s.id; }))
                return s;
        }
        return std::nullopt;
    }

    // What the screen shows in `rect`.
    QImage grab(const QRect& rect)
    {
        XImage* image = XGetImage(m_x, DefaultRootWindow(m_x), rect.x(), rect.y(), unsigned(rect.width()),
                                  unsigned(rect.height()), AllPlanes, ZPixmap);
        if (!image)
            return {};
        QImage out(rect.size(), QImage::Format_RGB32);
        for (int y = 0; y < rect.height(); ++y) {
            for (int x = 0; x < rect.width(); ++x) {
                const unsigned long p = XGetPixel(image, x, y);
                out.setPixel(x, y, qRgb(int((p >> 16) & 0xff), int((p >> 8) & 0xff), int(p & 0xff)));
            }
        }
        XDestroyImage(image);
        return out;
    }

    void keepScreenshot(const QString& name)
    {
        const QString kept = Artifacts::path(name);
        if (kept.isEmpty())
            return;
        const Screen* s = DefaultScreenOfDisplay(m_x);
        grab(QRect(0, 0, s->width, s->height)).save(kept);
    }

    // The pixels of `rect` close to `colour`, and their centre.
    std::pair<int, QPoint> pixelsLike(const QRect& rect, const QColor& colour, int tolerance = 40)
    {
        const QImage image = grab(rect);
        int count = 0;
        QPoint sum;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                if (std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green())
                        + std::abs(c.blue() - colour.blue()) <= tolerance) {
                    ++count;
                    sum += QPoint(x, y);
                }
            }
        }
        return {count, count ? rect.topLeft() + sum / count : QPoint()};
    }

    void click(const QPoint& p)
    {
        XTestFakeMotionEvent(m_x, -1, p.x(), p.y(), CurrentTime);
        XSync(m_x, False);
        QThread::msleep(100);
        XTestFakeButtonEvent(m_x, 1, True, CurrentTime);
        XTestFakeButtonEvent(m_x, 1, False, CurrentTime);
        XSync(m_x, False);
    }

    // Waits for the question titled `title` and confirms it with a click on its red button.
    void confirm(const QString& title)
    {
        std::optional<Shown> dialog;
        ASSERT_TRUE(waitFor([&] {
            for (const Shown& s : shownWindows()) {
                if (!s.inTray && s.title == title)
                    dialog = s;
            }
            return dialog.has_value();
        }, 20000)) << logText().toStdString();
        std::pair<int, QPoint> red;
        ASSERT_TRUE(waitFor([&] { return (red = pixelsLike(dialog->rect, Confirm::okColour())).first > 100; }, 10000))
            << "the red button shows";
        keepScreenshot(QStringLiteral("question.png"));
        click(red.second);
    }

    // Whether the movie decodes to its end with hevc video and some length.
    static bool plays(const QString& path)
    {
        const QJsonObject info = probe(path);
        const double duration = info.value(QStringLiteral("format")).toObject().value(QStringLiteral("duration")).toString().toDouble();
        QProcess decode;
        decode.start(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-xerror"),
                                                QStringLiteral("-i"), path, QStringLiteral("-f"), QStringLiteral("null"),
                                                QStringLiteral("-")});
        return codecs(info).contains(QStringLiteral("hevc")) && duration > 0.5 && decode.waitForFinished(120000)
            && decode.exitStatus() == QProcess::NormalExit && decode.exitCode() == 0;
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
    std::unique_ptr<ProgramSession> m_session;
    std::unique_ptr<ChildProcess> m_wm;
    std::unique_ptr<ChildProcess> m_tray;
    std::unique_ptr<ChildProcess> m_program;
    Display* m_x = nullptr;
    QString m_folder;
};

// The same, once with a session bus (as on every desktop) and once without.
class CorvessaProgramEitherBus : public CorvessaProgramXvfb,
                                 public ::testing::WithParamInterface<ProgramSession::Bus> {
protected:
    ProgramSession::Bus busKind() const override { return GetParam(); }
};

INSTANTIATE_TEST_SUITE_P(Bus, CorvessaProgramEitherBus,
                         ::testing::Values(ProgramSession::Bus::session, ProgramSession::Bus::none),
                         [](const auto& info) {
                             return std::string(info.param == ProgramSession::Bus::session ? "SessionBus" : "NoBus");
                         });

TEST_P(CorvessaProgramEitherBus, RecordsPausesAndStopsWithTheHotKeys)
{
    m_program = launch(QStringLiteral("hotkeys"));
    ASSERT_TRUE(m_program);
    ASSERT_TRUE(waitForLog(QStringLiteral("[hotkeys] registered 15, failed 0"))) << logText().toStdString();

    // A second launch hands over to the idle first and ends.
    auto second = launch(QStringLiteral("second"));
    EXPECT_EQ(exitStatus(*second, 20000), 0);
    EXPECT_EQ(output(QStringLiteral("second")), QStringLiteral("Corvessa is already running.\n"));
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

TEST_P(CorvessaProgramEitherBus, SigtermDuringARecordingSavesItFirst)
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

// A main thread held up (as by a huge paste) does not keep SIGTERM from
// saving the recording and ending the program: the signal's watcher finishes
// the movie while the main thread still sleeps.
TEST_F(CorvessaProgramXvfb, SigtermSavesTheRecordingWhileTheMainThreadIsHeldUp)
{
    constexpr int stallMs = 180000;
    m_program = launch(QStringLiteral("stalled"), {}, {QStringLiteral("CORVESSA_TEST_STALL_MS=%1").arg(stallMs)});
    ASSERT_TRUE(m_program);
    ASSERT_TRUE(waitForLog(QStringLiteral("[exit] SIGTERM and SIGHUP now save")));
    chord({XK_Control_L, XK_Alt_L, XK_r});
    ASSERT_TRUE(waitFor(recording)) << logText().toStdString();
    ASSERT_TRUE(waitForLog(QStringLiteral("[test] the main thread stalls"))) << logText().toStdString();
    QThread::msleep(500);
    ::kill(m_program->pid(), SIGTERM);
    // Long before the main thread wakes.
    EXPECT_EQ(exitStatus(*m_program, stallMs / 3), 0) << logText().toStdString();
    const QString log = logText();
    EXPECT_TRUE(log.contains(QStringLiteral("[exit] the main thread did not take the signal within 2 s"))) << log.toStdString();
    EXPECT_FALSE(recording()) << "the journal is gone once the movie is complete";
    ASSERT_EQ(movies().size(), 1);
    EXPECT_TRUE(plays(QDir(m_folder).filePath(movies().first())));
}

TEST_F(CorvessaProgramXvfb, TheTrayIconStartsARecordingAndCtrlQSavesIt)
{
    QString why;
    m_tray = WindowManager::startTray(m_x, &why);
    ASSERT_TRUE(m_tray) << why.toStdString() << "; trayer is installed by scripts/install-deps.sh";
    m_program = launch(QStringLiteral("tray"));
    ASSERT_TRUE(m_program);
    ASSERT_TRUE(waitForLog(QStringLiteral("[hotkeys] registered")));

    // The idle glyph shows in the tray and holds still once the tray has laid it out.
    const QColor red = StatusIcon::recordingColour();
    QRect icon;
    int still = 0;
    ASSERT_TRUE(waitFor([&] {
        const QRect now = trayIcon().value_or(QRect());
        still = !now.isEmpty() && now == icon ? still + 1 : 0;
        icon = now;
        QThread::msleep(100);
        return still >= 5;
    })) << "the tray takes our icon in";
    EXPECT_LT(icon.top(), 40) << "in the tray at the top edge";
    // Drawn: the glyph stands out from the tray's background at the icon's corner.
    ASSERT_TRUE(waitFor([&] {
        const QColor background = grab(icon).pixelColor(0, 0);
        return icon.width() * icon.height() - pixelsLike(icon, background, 60).first > 10;
    }, 10000)) << "the idle glyph is drawn";
    EXPECT_LT(pixelsLike(icon, red).first, 5) << "and is not red";
    keepScreenshot(QStringLiteral("tray-idle.png"));

    // A click opens the status menu; its first row starts a recording.
    auto before = settledWindows();
    click(icon.center());
    std::optional<Shown> menu;
    ASSERT_TRUE(waitFor([&] { return (menu = popUnder(icon, before)).has_value(); }, 15000))
        << "the status menu opens; shown:" << describe(shownWindows()).toStdString();
    QThread::msleep(300);
    keepScreenshot(QStringLiteral("tray-status-menu.png"));
    click(QPoint(menu->rect.center().x(), menu->rect.top() + 12));
    ASSERT_TRUE(waitFor(recording)) << logText().toStdString();
    ASSERT_TRUE(waitFor([&] { return pixelsLike(icon, red).first > 20; })) << "the glyph turns red";
    keepScreenshot(QStringLiteral("tray-recording.png"));

    // A click opens the floating status menu, a second one closes it.
    before = settledWindows();
    click(icon.center());
    std::optional<Shown> floating;
    ASSERT_TRUE(waitFor([&] { return (floating = popUnder(icon, before)).has_value(); }, 15000))
        << "the floating status menu opens; shown:" << describe(shownWindows()).toStdString();
    QThread::msleep(300);
    keepScreenshot(QStringLiteral("tray-floating-menu.png"));
    click(icon.center());
    ASSERT_TRUE(waitFor([&] { return !popUnder(icon, before); }, 15000)) << "the second click closes it";
    QThread::msleep(1000);
    EXPECT_FALSE(popUnder(icon, before)) << "and it stays closed";

    // Ctrl+Q in a window of ours asks first, and the red button saves, then quits.
    // The bar never takes the focus on a click (it floats over what is being
    // recorded): the focus is handed to it as a window manager's keyboard would.
    // The bar is the window titled with the program's name (the shortcut hints
    // beside it can be wider).
    std::optional<Shown> bar;
    for (const Shown& s : before) {
        if (!s.inTray && s.title == QStringLiteral("Corvessa"))
            bar = s;
    }
    ASSERT_TRUE(bar);
    XSetInputFocus(m_x, bar->id, RevertToPointerRoot, CurrentTime);
    XSync(m_x, False);
    QThread::msleep(300);
    chord({XK_Control_L, XK_q});
    confirm(QStringLiteral("Stop Recording and Quit?"));
    EXPECT_EQ(exitStatus(*m_program, 60000), 0) << logText().toStdString();
    EXPECT_FALSE(recording());
    ASSERT_EQ(movies().size(), 1);
    EXPECT_TRUE(plays(QDir(m_folder).filePath(movies().first())));
}

TEST_P(CorvessaProgramEitherBus, LauncherActionsReachTheRunningProgram)
{
    m_program = launch(QStringLiteral("launcher"));
    ASSERT_TRUE(m_program);
    ASSERT_TRUE(waitForLog(QStringLiteral("[hotkeys] registered")));
    // Each launch ends with status 0 once it handed its message over: at
    // once, never after a wait for the action it asked for.
    const auto action = [this](const QString& id) {
        auto sender = launch(QStringLiteral("action-") + id, {QStringLiteral("--action"), id});
        const int status = sender ? exitStatus(*sender, 20000) : -1;
        if (status == 0)
            EXPECT_EQ(output(QStringLiteral("action-") + id), QStringLiteral("Corvessa is already running.\n")) << id.toStdString();
        return status;
    };
    EXPECT_EQ(action(QStringLiteral("nonsense")), 2) << "refused before anything is sent";
    EXPECT_EQ(action(QStringLiteral("pause")), 0);
    EXPECT_TRUE(waitForLog(QStringLiteral("[dock] pause is not offered now")));
    EXPECT_EQ(action(QStringLiteral("start")), 0);
    ASSERT_TRUE(waitFor(recording)) << logText().toStdString();
    auto second = launch(QStringLiteral("second-while-recording"));
    EXPECT_EQ(exitStatus(*second, 20000), 0);
    EXPECT_EQ(output(QStringLiteral("second-while-recording")), QStringLiteral("Corvessa is already running.\n"));
    QThread::msleep(1000);
    // Stop asks the menu item's question, which holds the recording paused:
    // a pause from the launcher then changes nothing, and says why.
    EXPECT_EQ(action(QStringLiteral("stop")), 0);
    ASSERT_TRUE(waitForLog(QStringLiteral("[dock] stop")));
    ASSERT_TRUE(waitFor([&] {
        const auto shown = shownWindows();
        return std::any_of(shown.begin(), shown.end(),
                           [](const Shown& s) { return s.title == QLatin1String("Stop Recording and Save?"); });
    }, 20000)) << logText().toStdString();
    EXPECT_EQ(action(QStringLiteral("pause")), 0);
    EXPECT_TRUE(waitForLog(QStringLiteral("[recording] pause and resume wait for the open question"))) << logText().toStdString();
    EXPECT_FALSE(logText().contains(QStringLiteral("Resumed"))) << "still paused behind the question";
    // Its red button saves a movie that plays.
    confirm(QStringLiteral("Stop Recording and Save?"));
    ASSERT_TRUE(waitFor([] { return !recording(); })) << logText().toStdString();
    ASSERT_TRUE(waitFor([&] { return movies().size() == 1; }));
    EXPECT_TRUE(plays(QDir(m_folder).filePath(movies().first())));
    ::kill(m_program->pid(), SIGTERM);
    EXPECT_EQ(exitStatus(*m_program, 60000), 0);
}

// Quit (Ctrl+Q in a window of ours), SIGTERM or SIGHUP during the 3-2-1
// countdown end the program at once: the countdown is cancelled and nothing
// is recorded.
TEST_P(CorvessaProgramEitherBus, QuitOrASignalDuringTheCountdownStartsNothing)
{
    struct Way {
        const char* name;
        int signal; // 0: Ctrl+Q in the settings window
    };
    for (const Way way : {Way{"sigterm", SIGTERM}, Way{"sighup", SIGHUP}, Way{"quit", 0}}) {
        SCOPED_TRACE(way.name);
        QFile::remove(XdgPaths::logFile());
        m_program = launch(QStringLiteral("countdown-") + QLatin1String(way.name));
        ASSERT_TRUE(m_program);
        ASSERT_TRUE(waitForLog(QStringLiteral("[exit] SIGTERM and SIGHUP now save a recording")));
        if (!way.signal) {
            // The settings window takes the keys; the countdown's windows never do.
            const auto before = settledWindows();
            auto sender = launch(QStringLiteral("countdown-settings"), {QStringLiteral("--action"), QStringLiteral("settings")});
            ASSERT_EQ(exitStatus(*sender, 20000), 0);
            std::optional<Shown> settings;
            ASSERT_TRUE(waitFor([&] {
                for (const Shown& w : shownWindows()) {
                    if (!w.title.isEmpty() && std::none_of(before.begin(), before.end(), [&](const Shown& b) { return b.id == w.id; }))
                        settings = w;
                }
                return settings.has_value();
            }, 20000)) << describe(shownWindows()).toStdString();
            XSetInputFocus(m_x, settings->id, RevertToPointerRoot, CurrentTime);
            XSync(m_x, False);
        }
        chord({XK_Control_L, XK_Alt_L, XK_r});
        ASSERT_TRUE(waitForLog(QStringLiteral("[recording] countdown started"))) << logText().toStdString();
        if (way.signal)
            ::kill(m_program->pid(), way.signal);
        else
            chord({XK_Control_L, XK_q});
        EXPECT_EQ(exitStatus(*m_program, 20000), 0);
        const QString log = logText();
        EXPECT_TRUE(log.contains(QStringLiteral("[exit] the countdown was cancelled: nothing was recorded"))) << log.toStdString();
        EXPECT_FALSE(log.contains(QStringLiteral("Started recording"))) << log.toStdString();
        EXPECT_FALSE(recording());
        EXPECT_TRUE(movies().isEmpty());
    }
}

// One program per user and display. Another test's session on the same
// display (its own home, runtime folder and bus) runs its own program; so
// does a second X display of the same user's session; a later launch reaches
// the program of its own display only.
TEST_F(CorvessaProgramXvfb, OneProgramPerSessionAndDisplay)
{
    m_program = launch(QStringLiteral("first"));
    ASSERT_TRUE(m_program);
    ASSERT_TRUE(waitForLog(QStringLiteral("[exit] SIGTERM and SIGHUP now save")));
    {
        ProgramSession other(ProgramSession::Bus::session);
        ASSERT_TRUE(other.ready()) << other.why().toStdString();
        auto beside = ChildProcess::start(QStringLiteral(CORVESSA_BINARY), {}, other.environment(),
                                          other.home().file(QStringLiteral("beside.out")));
        ASSERT_TRUE(beside);
        // Its own log, in its own home; SIGTERM ends it once it is armed.
        EXPECT_TRUE(waitForLog(QStringLiteral("[exit] SIGTERM and SIGHUP now save")));
        ::kill(beside->pid(), SIGTERM);
        EXPECT_EQ(exitStatus(*beside, 20000), 0);
    }
    const auto count = [this](const QString& text) { return int(logText().count(text)); };
    const QString registered = QStringLiteral("[exit] SIGTERM and SIGHUP now save");
    const QString reopened = QStringLiteral("[app] reopen requested by another launch");
    {
        XvfbFixture secondDisplay;
        QString why;
        ASSERT_TRUE(secondDisplay.start(&why)) << why.toStdString();
        auto onSecond = launch(QStringLiteral("second-display"));
        ASSERT_TRUE(onSecond);
        ASSERT_TRUE(waitFor([&] { return count(registered) == 2; })) << logText().toStdString();
        EXPECT_TRUE(m_program->isRunning());
        auto again = launch(QStringLiteral("again-on-second-display"));
        EXPECT_EQ(exitStatus(*again, 20000), 0);
        EXPECT_EQ(output(QStringLiteral("again-on-second-display")), QStringLiteral("Corvessa is already running.\n"));
        EXPECT_TRUE(waitFor([&] { return count(reopened) == 1; }));
        ::kill(onSecond->pid(), SIGTERM);
        EXPECT_EQ(exitStatus(*onSecond, 20000), 0);
    }
    auto again = launch(QStringLiteral("again-on-first-display"));
    EXPECT_EQ(exitStatus(*again, 20000), 0);
    EXPECT_TRUE(waitFor([&] { return count(reopened) == 2; }));
    EXPECT_EQ(count(registered), 2);
    ::kill(m_program->pid(), SIGTERM);
    EXPECT_EQ(exitStatus(*m_program, 20000), 0);
}

} // namespace
} // namespace corvessa::test

namespace corvessa::test {
namespace {

// A recording started soon after launch, while the bar and the hints beside
// it are first shown and placed, under a compositing manager that draws a
// shadow round every window it can: no frame holds any of our windows or their
// shadows, early or late. The desktop is one plain colour, so every pixel of
// a frame is that colour.
// (A shadow's faintest edge, a level or three, is below what is counted: a
// handful of pixels that close to the desktop may show in the first second.)
TEST_F(CorvessaProgramXvfb, ARecordingStartedSoonAfterLaunchHoldsNoShadowOfOurs)
{
    QString why;
    const QString xcompmgr = QStringLiteral("xcompmgr");
    auto compositor = WindowManager::startCompositor(m_x, &why, xcompmgr, WindowManager::shadowArguments(xcompmgr));
    if (!compositor)
        GTEST_SKIP() << why.toStdString();
    Prefs::shared().setCountdown(false);
    Prefs::shared().setCursorTheme(2); // no pointer drawn in the movie
    m_program = launch(QStringLiteral("soon"));
    ASSERT_TRUE(m_program);
    ASSERT_TRUE(waitFor([&] {
        const auto shown = shownWindows();
        return std::any_of(shown.begin(), shown.end(), [](const Shown& s) { return !s.inTray && s.title == QStringLiteral("Corvessa"); });
    })) << "the bar shows";
    ASSERT_TRUE(waitForLog(QStringLiteral("[hotkeys] registered"))) << logText().toStdString();
    QThread::msleep(1000); // as soon as a user presses the keys
    keepScreenshot(QStringLiteral("soon-ready.png"));
    chord({XK_Control_L, XK_Alt_L, XK_r});
    ASSERT_TRUE(waitFor(recording)) << logText().toStdString();
    keepScreenshot(QStringLiteral("soon-screen.png"));
    QThread::msleep(5000);
    ::kill(m_program->pid(), SIGTERM);
    EXPECT_EQ(exitStatus(*m_program, 60000), 0);
    ASSERT_EQ(movies().size(), 1u);
    const QString movie = QDir(m_folder).filePath(movies().first());

    const Screen* screen = DefaultScreenOfDisplay(m_x);
    const QSize size(screen->width, screen->height);
    const QColor desktop(0x80, 0x80, 0x80); // xcompmgr's without a wallpaper
    for (const char* at : {"1", "4"}) {
        QImage picture;
        MoviePictures::each(movie, size, [&](const QImage& p) { if (picture.isNull()) picture = p; },
                            {QStringLiteral("-ss"), QLatin1String(at)});
        ASSERT_FALSE(picture.isNull()) << "a picture at " << at << " s";
        const QString kept = Artifacts::path(QStringLiteral("soon-%1s.png").arg(QLatin1String(at)));
        if (!kept.isEmpty())
            picture.save(kept);
        int off = 0;
        int faint = 0;
        QRect where;
        QColor sample;
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x) {
                const int d = MoviePictures::distance(picture.pixelColor(x, y), desktop);
                if (d <= 8)
                    continue;
                if (d <= 12) {
                    ++faint;
                    continue;
                }
                if (!off++)
                    sample = picture.pixelColor(x, y);
                where |= QRect(x, y, 1, 1);
            }
        }
        EXPECT_EQ(off, 0) << "pixels off the desktop's colour at " << at << " s, within " << where.x() << ','
                          << where.y() << ' ' << where.width() << 'x' << where.height() << ", first "
                          << sample.name().toStdString();
        EXPECT_LE(faint, 16) << "faint pixels at " << at << " s: a band, not a stray pixel";
    }
}

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
    // Ended by exit() through the handler that finishes the movie, never by
    // a signal such as the one a write to the dead server's socket raises.
    EXPECT_FALSE(WIFSIGNALED(*m_program->status())) << "signal " << WTERMSIG(*m_program->status());
    EXPECT_FALSE(recording()) << logText().toStdString();
    EXPECT_TRUE(logText().contains(QStringLiteral("[exit] a library is ending the program: finishing the recording")));
    ASSERT_EQ(movies().size(), 1);
    EXPECT_TRUE(codecs(probe(QDir(m_folder).filePath(movies().first()))).contains(QStringLiteral("hevc")));
}

} // namespace
} // namespace corvessa::test

namespace corvessa::test {
namespace {

TEST_F(CorvessaProgramXvfb, AStartAfterAKilledRecordingGivesTheSpeakersBack)
{
    // Two programs play, one on another output, while a recording with system
    // audio mutes the speakers.
    UserDefaults::standard().setBool(QStringLiteral("systemAudio"), true);
    UserDefaults::standard().setBool(QStringLiteral("muteSpeakers"), true);
    const auto module = m_pulse->pactl({QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                                        QStringLiteral("sink_name=headphones")});
    ASSERT_TRUE(module);
    const auto unload = qScopeGuard([&] { m_pulse->pactl({QStringLiteral("unload-module"), module->trimmed()}); });
    const auto player = m_pulse->playTone(QString::fromLatin1(PulseFixture::speakers), 440, 120, 0.5, {},
                                          QStringLiteral("music"));
    const auto other = m_pulse->playTone(QStringLiteral("headphones"), 660, 120, 0.5, {}, QStringLiteral("radio"));
    ASSERT_TRUE(player && other);
    ASSERT_TRUE(waitFor([&] {
        return m_pulse->sinksOfStreams(QStringLiteral("music")).size() == 1
            && m_pulse->sinksOfStreams(QStringLiteral("radio")).size() == 1;
    }));
    m_program = launch(QStringLiteral("tap-crash"));
    ASSERT_TRUE(m_program);
    ASSERT_TRUE(waitForLog(QStringLiteral("[hotkeys] registered")));
    chord({XK_Control_L, XK_Alt_L, XK_r});
    ASSERT_TRUE(waitFor(recording)) << logText().toStdString();
    const auto onTap = [&] {
        return m_pulse->defaultSink().startsWith(QLatin1String("recorder_tap"))
            && m_pulse->sinksOfStreams(QStringLiteral("music")).value(0).startsWith(QLatin1String("recorder_tap"))
            && m_pulse->sinksOfStreams(QStringLiteral("radio")).value(0).startsWith(QLatin1String("recorder_tap"));
    };
    ASSERT_TRUE(waitFor(onTap)) << logText().toStdString();
    ::kill(m_program->pid(), SIGKILL);
    ASSERT_TRUE(m_program->waitFinished(20000));
    ASSERT_TRUE(onTap()) << "nothing but a start undoes what a killed run left";

    m_program = launch(QStringLiteral("tap-crash-again"));
    ASSERT_TRUE(m_program);
    ASSERT_TRUE(waitFor([] { return logText().count(QStringLiteral("[hotkeys] registered")) == 2; }))
        << logText().toStdString();
    const QString log = logText();
    const QString restored = QStringLiteral("[sys-audio] restored the audio output muted by an interrupted run");
    EXPECT_EQ(log.count(restored), 1) << log.toStdString();
    EXPECT_LT(log.indexOf(restored), log.lastIndexOf(QStringLiteral("[hotkeys] registered")))
        << "undone during the start-up, before the bar and its keys";
    EXPECT_EQ(m_pulse->defaultSink(), QString::fromLatin1(PulseFixture::speakers));
    EXPECT_EQ(m_pulse->sinksOfStreams(QStringLiteral("music")), QStringList{QString::fromLatin1(PulseFixture::speakers)});
    EXPECT_EQ(m_pulse->sinksOfStreams(QStringLiteral("radio")), QStringList{QStringLiteral("headphones")});
    EXPECT_FALSE(m_pulse->modules().join(QLatin1Char('\n')).contains(QLatin1String("recorder_tap")));
}

// Keeps `path` from being written: the immutable flag for root, whom the
// permission bits do not stop, else the bits. False where neither works.
bool lockAgainstWrites(const QString& path, bool folder, bool on)
{
    const QByteArray name = QFile::encodeName(path);
    if (geteuid() != 0)
        return chmod(name.constData(), on ? (folder ? 0555 : 0444) : (folder ? 0755 : 0644)) == 0;
    return setImmutable(path, on);
}

// Settings in a folder and file the user cannot change: the program says so
// once, at the start, and not again when the user changes a setting (the
// toolbar dragged to a corner, its place stored); the file is left as it was.
TEST_F(CorvessaProgramXvfb, SettingsThatCannotBeKeptAreToldOnce)
{
    const QString defaults = XdgPaths::defaultsFile();
    const QString folder = QFileInfo(defaults).absolutePath();
    QFile file(defaults);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();
    ASSERT_FALSE(before.isEmpty());
    bool fileLocked = false;
    bool folderLocked = false;
    const auto unlock = qScopeGuard([&] {
        if (fileLocked)
            lockAgainstWrites(defaults, false, false);
        if (folderLocked)
            lockAgainstWrites(folder, true, false);
    });
    fileLocked = lockAgainstWrites(defaults, false, true);
    folderLocked = lockAgainstWrites(folder, true, true);
    if (!fileLocked || !folderLocked)
        GTEST_SKIP() << "the settings cannot be locked against writes here";

    m_program = launch(QStringLiteral("settings-locked"));
    ASSERT_TRUE(m_program);
    const QString told = QStringLiteral("[app] told the user changes to the settings cannot be kept: cannot write ")
        + defaults + QStringLiteral(": ");
    ASSERT_TRUE(waitForLog(told)) << logText().toStdString();
    std::optional<Shown> bar;
    ASSERT_TRUE(waitFor([&] {
        for (const Shown& s : shownWindows()) {
            if (!s.inTray && s.title == QStringLiteral("Corvessa"))
                bar = s;
        }
        return bar.has_value();
    })) << describe(shownWindows()).toStdString();
    QThread::msleep(500);

    const QString failed = QStringLiteral("[defaults] cannot write ") + defaults;
    const qsizetype failures = logText().count(failed);
    const QPoint grip(bar->rect.left() + BarView::margin + 5, bar->rect.center().y());
    XTestFakeMotionEvent(m_x, -1, grip.x(), grip.y(), CurrentTime);
    XSync(m_x, False);
    QThread::msleep(100);
    XTestFakeButtonEvent(m_x, 1, True, CurrentTime);
    for (int i = 1; i <= 10; ++i) {
        const QPoint p = grip + (QPoint(60, 40) - grip) * i / 10;
        XTestFakeMotionEvent(m_x, -1, p.x(), p.y(), CurrentTime);
        XSync(m_x, False);
        QThread::msleep(30);
    }
    XTestFakeButtonEvent(m_x, 1, False, CurrentTime);
    XSync(m_x, False);
    EXPECT_TRUE(waitFor([&] { return logText().count(failed) > failures; }, 15000))
        << "the bar's new place is a change to keep: " << logText().toStdString();
    QThread::msleep(500);
    keepScreenshot(QStringLiteral("settings-locked.png"));
    EXPECT_EQ(logText().count(told), 1) << "said once: " << logText().toStdString();
    ASSERT_TRUE(m_program->isRunning());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before) << "the settings file is left as it was";
}

} // namespace
} // namespace corvessa::test
