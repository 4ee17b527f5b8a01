#include "engine/EngineTestSupport.h"

#include "platform/FallbackPowerControl.h"
#include "platform/dbus/ScreenSaverPowerControl.h"
#include "platform/ffmpeg/MovieProbe.h"
#include "platform/MovieTestSupport.h"
#include "platform/x11/X11PointerService.h"
#include "platform/x11/X11ScreenSaverPowerControl.h"
#include "platform/x11/X11ScreenSource.h"
#include "platform/x11/XRandRDisplayList.h"
#include "support/WindowManager.h"
#include "support/XvfbTest.h"

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

// X11 last: its macros clash with names in Qt and GoogleTest.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/scrnsaver.h>
// After gtest: Xlib defines macros (None, Bool) that clash with it.
#include "support/Painter.h"

using namespace corvessa;
using namespace corvessa::test;

// Whole recordings from the real X11 screen source under Xvfb through the real
// writer, with the synthetic tone as microphone; the movies are read back with
// ffprobe, libavformat and, for their pictures, ffmpeg.

namespace {

constexpr int kScreenWidth = 640;
constexpr int kScreenHeight = 480;
constexpr uint32_t kRed = 0xff0000;
constexpr uint32_t kGreen = 0x00ff00;
constexpr uint32_t kBlue = 0x0000ff;

// A small window inside `parent` that changes colour 40 times a second from a
// connection and thread of its own: the screen source sends frames only for
// changes, so this keeps the movie at its full frame rate.
class Animator {
public:
    Animator(const QString& display, uint32_t parent, const QRect& r)
    {
        m_thread = std::thread([this, name = display.toLocal8Bit(), parent, r] {
            Display* d = XOpenDisplay(name.constData());
            if (!d)
                return;
            const Window w = XCreateSimpleWindow(d, Window(parent), r.x(), r.y(), unsigned(r.width()),
                                                 unsigned(r.height()), 0, 0, 0x303030);
            XMapWindow(d, w);
            XSync(d, False);
            for (unsigned long i = 0; !m_stop; ++i) {
                XSetWindowBackground(d, w, i % 2 ? 0x303030 : 0x505050);
                XClearWindow(d, w);
                XSync(d, False);
                std::this_thread::sleep_for(std::chrono::milliseconds(25));
            }
            XCloseDisplay(d);
        });
    }
    ~Animator()
    {
        m_stop = true;
        m_thread.join();
    }
    Animator(const Animator&) = delete;
    Animator& operator=(const Animator&) = delete;

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Decoded pictures of a movie as packed RGB.
struct Frames {
    int width = 0;
    int height = 0;
    std::vector<QByteArray> pictures;

    uint32_t pixel(size_t i, int x, int y) const
    {
        const auto* p = reinterpret_cast<const uint8_t*>(pictures[i].constData()) + (size_t(y) * size_t(width) + size_t(x)) * 3;
        return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    }
    // Pixels of picture i within `tolerance` of `colour` in every channel (the
    // codec's 4:2:0 and video range move plain colours a little).
    int count(size_t i, uint32_t colour, int tolerance = 48) const
    {
        int n = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const uint32_t c = pixel(i, x, y);
                bool near = true;
                for (int shift : {0, 8, 16})
                    near = near && std::abs(int((c >> shift) & 0xff) - int((colour >> shift) & 0xff)) <= tolerance;
                n += near ? 1 : 0;
            }
        return n;
    }
};

// `fps` pictures a second of the movie, through ffmpeg.
Frames decode(const QString& path, int width, int height, int fps = 2)
{
    Frames f;
    f.width = width;
    f.height = height;
    QProcess p;
    p.start(QStandardPaths::findExecutable(QStringLiteral("ffmpeg")),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path, QStringLiteral("-vf"),
             QStringLiteral("fps=%1").arg(fps), QStringLiteral("-f"), QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"),
             QStringLiteral("rgb24"), QStringLiteral("-")});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return f;
    const QByteArray all = p.readAllStandardOutput();
    const qsizetype size = qsizetype(width) * height * 3;
    for (qsizetype at = 0; at + size <= all.size(); at += size)
        f.pictures.push_back(all.mid(at, size));
    return f;
}

double rate(const QString& fraction)
{
    const auto parts = fraction.split(QLatin1Char('/'));
    if (parts.size() != 2 || parts[1].toDouble() == 0)
        return 0;
    return parts[0].toDouble() / parts[1].toDouble();
}

class RecorderEngineXvfb : public XvfbTest {
protected:
    static void SetUpTestSuite() { startServer(QStringLiteral("%1x%2x24").arg(kScreenWidth).arg(kScreenHeight)); }

    void SetUp() override
    {
        XvfbTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        if (QStandardPaths::findExecutable(QStringLiteral("ffprobe")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty())
            GTEST_SKIP() << "ffmpeg and ffprobe are needed";
        painter = std::make_unique<Painter>(s_xvfb->display());
        ASSERT_TRUE(painter->isOpen());
        source = std::make_shared<X11ScreenSource>(s_xvfb->display());
        source->setAudioInput(h.audio);
        h.engine->setScreenSource(source);
        // Ours, not the process-wide one: its connection must end before the
        // server does, or Xlib ends the program.
        h.engine->setPointerService(std::make_shared<X11PointerService>(s_xvfb->display()));
        const auto content = source->content();
        ASSERT_TRUE(content && !content->displays.empty());
        displayID = content->displays.front().id;
    }

    void TearDown() override
    {
        h.engine->stop();
        animator.reset();
        painter.reset(); // its windows go with its connection
    }

    RecorderEngine::Config config(const RecorderEngine::Target& target, const QString& movie, int fps = 12)
    {
        auto c = h.config(fps);
        c.target = target;
        c.outputURL = folder.file(movie);
        return c;
    }

    // The movie's one video and one audio stream have the size, the rate and
    // the length of what was recorded. A movie with a frozen stretch (screen
    // lost) repeats its picture only about once a second there: `fullRate`
    // false leaves the rate out.
    void expectMovie(const QString& path, int width, int height, int fps, double recorded, bool fullRate = true)
    {
        const QJsonObject json = ffprobe(path);
        QJsonObject video;
        int videoStreams = 0, audioStreams = 0;
        for (const auto& s : json.value(QStringLiteral("streams")).toArray()) {
            const QJsonObject o = s.toObject();
            if (o.value(QStringLiteral("codec_type")).toString() == QStringLiteral("video")) {
                video = o;
                ++videoStreams;
            } else if (o.value(QStringLiteral("codec_type")).toString() == QStringLiteral("audio")) {
                ++audioStreams;
            }
        }
        EXPECT_EQ(videoStreams, 1) << path.toStdString();
        EXPECT_EQ(audioStreams, 1) << path.toStdString();
        EXPECT_EQ(video.value(QStringLiteral("codec_name")).toString(), QStringLiteral("hevc"));
        EXPECT_EQ(video.value(QStringLiteral("width")).toInt(), width);
        EXPECT_EQ(video.value(QStringLiteral("height")).toInt(), height);
        if (fullRate) {
            EXPECT_NEAR(rate(video.value(QStringLiteral("avg_frame_rate")).toString()), fps, 1.0);
        }
        const double duration =
            json.value(QStringLiteral("format")).toObject().value(QStringLiteral("duration")).toString().toDouble();
        EXPECT_NEAR(duration, recorded, 0.2);

        const MovieProbe::Result probe = MovieProbe::probe(path);
        ASSERT_TRUE(probe.playable) << probe.error.toStdString();
        const MovieProbe::Stream* v = probe.firstOf(MovieProbe::Stream::Kind::Video);
        const MovieProbe::Stream* a = probe.firstOf(MovieProbe::Stream::Kind::Audio);
        ASSERT_TRUE(v && a);
        EXPECT_EQ(v->width, width);
        EXPECT_EQ(v->height, height);
        if (fullRate) {
            EXPECT_NEAR(double(v->packets), recorded * fps, 3);
        }
        EXPECT_NEAR(v->seconds, recorded, 0.15);
        EXPECT_NEAR(a->seconds, recorded, 0.15);
    }

    // Recorded seconds of the movie just stopped, its last frame included.
    double recorded(int fps) const { return h.engine->effectiveSeconds() + 1.0 / fps; }

    void animate(uint32_t parent, const QRect& r = QRect(100, 60, 24, 24))
    {
        animator = std::make_unique<Animator>(s_xvfb->display(), parent, r);
    }

    MovieFolder folder{QStringLiteral("RecorderEngineXvfb")};
    EngineHarness h{true};
    std::unique_ptr<Painter> painter;
    std::unique_ptr<Animator> animator; // reset before the painter, whose windows hold it
    std::shared_ptr<X11ScreenSource> source;
    uint32_t displayID = 0;
};

} // namespace

TEST_F(RecorderEngineXvfb, DisplayWindowAndAreaEachMakeAMovieOfTheirSize)
{
    const uint32_t red = painter->window(QRect(40, 40, 300, 200), kRed);
    // Covers the red window's right part: a window target still reads it whole.
    painter->window(QRect(240, 100, 200, 200), kBlue);
    animate(red); // inside the window, the display and the area alike

    struct Case {
        RecorderEngine::Target target;
        QString movie;
        int width;
        int height;
    };
    const std::vector<Case> cases = {
        {RecorderEngine::Target::display(displayID), QStringLiteral("Display 640x480.mov"), kScreenWidth, kScreenHeight},
        {RecorderEngine::Target::window(red), QStringLiteral("Window 300x200 covered.mov"), 300, 200},
        {RecorderEngine::Target::area(displayID, QRectF(100, 80, 320, 240)), QStringLiteral("Area 320x240.mov"), 320,
         240},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.movie.toStdString());
        h.events.clear();
        QElapsedTimer wall;
        wall.start();
        ASSERT_FALSE(h.engine->startInner(config(c.target, c.movie)));
        spin(2.0);
        const auto path = h.engine->stop();
        ASSERT_TRUE(path);
        const double seconds = recorded(12);
        // At least the time waited, at most the time the test took (a busy
        // machine lengthens both the start and the stop).
        EXPECT_GE(seconds, 2.0 - 0.3);
        EXPECT_LE(seconds, double(wall.elapsed()) / 1000 + 0.2);
        EXPECT_EQ(h.engine->stats().droppedVideo, 0);
        EXPECT_EQ(h.events.count(line(RecorderEngine::Line::screenLost)), 0);
        expectMovie(*path, c.width, c.height, 12, seconds);

        const Frames frames = decode(*path, c.width, c.height);
        ASSERT_GE(frames.pictures.size(), 3u);
        const size_t mid = frames.pictures.size() / 2;
        if (c.target.kind == RecorderEngine::Target::Kind::window) {
            // The part under the blue window is the red window's own picture.
            EXPECT_GT(frames.count(mid, kRed), 300 * 200 * 9 / 10);
            EXPECT_EQ(frames.count(mid, kBlue), 0);
        } else if (c.target.kind == RecorderEngine::Target::Kind::area) {
            // The area starts at (100, 80): the red window's visible corner at
            // (0, 0) and the blue window beside it at (140, 20).
            EXPECT_GT(frames.pixel(mid, 20, 20) >> 16, 200u);
            EXPECT_GT(frames.pixel(mid, 200, 100) & 0xff, 200u);
        } else {
            EXPECT_GT(frames.count(mid, kRed), 200 * 200 * 9 / 10);
            EXPECT_GT(frames.count(mid, kBlue), 200 * 200 * 9 / 10);
        }
    }
}

TEST_F(RecorderEngineXvfb, ProgramWindowsAreInNoFrameWhileForeignOnesAre)
{
    const uint32_t foreign = painter->window(QRect(60, 60, 240, 180), kRed);
    animate(foreign);
    std::atomic<uint32_t> program{0};
    auto c = config(RecorderEngine::Target::display(displayID), QStringLiteral("Program window excluded.mov"));
    c.excludedWindows = [&program] {
        const uint32_t w = program.load();
        return w ? std::vector<uint32_t>{w} : std::vector<uint32_t>{};
    };
    // The program's window exists, hidden, before the start, as a toolbar does;
    // it is shown over the foreign one while recording.
    program = painter->window(QRect(200, 150, 300, 200), kGreen, 0, false);
    ASSERT_FALSE(h.engine->startInner(c));
    spin(0.5);
    painter->map(program);
    spin(0.5);
    painter->window(QRect(400, 300, 100, 100), kRed); // a foreign window opens meanwhile
    spin(1.5);
    const auto path = h.engine->stop();
    ASSERT_TRUE(path);
    expectMovie(*path, kScreenWidth, kScreenHeight, 12, recorded(12));

    const Frames frames = decode(*path, kScreenWidth, kScreenHeight);
    ASSERT_GE(frames.pictures.size(), 4u);
    for (size_t i = 0; i < frames.pictures.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(frames.count(i, kGreen), 0);
        // All of the foreign window, also where the excluded one lies over it.
        EXPECT_GT(frames.count(i, kRed), 240 * 180 * 9 / 10);
    }
    // The foreign window opened during the recording reached the last pictures.
    EXPECT_GT(frames.count(frames.pictures.size() - 1, kRed), (240 * 180 + 100 * 100) * 9 / 10);
}

TEST_F(RecorderEngineXvfb, PauseThroughTheEcoTierIsLeftOutOfTheMovie)
{
    h.engine->setTierDelays(1.0, 60);
    animate(painter->window(QRect(100, 100, 200, 150), kBlue));
    QElapsedTimer wall;
    wall.start();
    ASSERT_FALSE(h.engine->startInner(
        config(RecorderEngine::Target::display(displayID), QStringLiteral("Paused 1.5+1.5s with eco.mov"))));
    spin(1.5);
    h.engine->pause();
    ASSERT_TRUE(h.events.waitFor(line(RecorderEngine::Line::paused), 30));
    ASSERT_TRUE(h.events.waitFor(line(RecorderEngine::Line::eco), 30));
    EXPECT_EQ(h.engine->tier(), RecorderEngine::PauseTier::eco);
    // The screen changes while paused; none of it is recorded.
    painter->window(QRect(300, 250, 100, 100), kGreen);
    spin(0.5);
    h.engine->resume();
    ASSERT_TRUE(h.events.waitForPrefix(line(RecorderEngine::Line::resumed), 30));
    EXPECT_EQ(*h.events.firstStartingWith(line(RecorderEngine::Line::resumed)), QStringLiteral("Resumed (previous level: eco)"));
    spin(1.5);
    const auto tiers = h.events.tiers();
    const auto path = h.engine->stop();
    ASSERT_TRUE(path);
    const double seconds = recorded(12);
    // The two stretches waited are in it; the pause, which lasted until the
    // eco tier (1 s paused), is not, however long a busy machine made it.
    EXPECT_GE(seconds, 3.0 - 0.35);
    EXPECT_LE(seconds, double(wall.elapsed()) / 1000 - 1.0 + 0.2);
    EXPECT_EQ(h.events.count(line(RecorderEngine::Line::deep)), 0);
    EXPECT_EQ(h.events.count(line(RecorderEngine::Line::screenLost)), 0);
    ASSERT_EQ(tiers.size(), 3u);
    EXPECT_EQ(tiers[0], RecorderEngine::PauseTier::instant);
    EXPECT_EQ(tiers[1], RecorderEngine::PauseTier::eco);
    EXPECT_EQ(tiers[2], std::nullopt);
    expectMovie(*path, kScreenWidth, kScreenHeight, 12, seconds);
}

// On a desktop with no screen saver service (a bare window manager, where a
// locker follows the X server's own saver), the server's saver stays off for
// the whole of a recording without input, and starts once it stops.
TEST_F(RecorderEngineXvfb, TheServersScreenSaverWaitsUntilTheRecordingStops)
{
    Display* dpy = painter->display();
    int event = 0, error = 0;
    if (!XScreenSaverQueryExtension(dpy, &event, &error))
        GTEST_SKIP() << "no MIT-SCREEN-SAVER extension";
    int timeout = 0, interval = 0, blanking = 0, exposures = 0;
    XGetScreenSaver(dpy, &timeout, &interval, &blanking, &exposures);
    struct Restore {
        Display* dpy;
        int timeout, interval, blanking, exposures;
        ~Restore()
        {
            XSetScreenSaver(dpy, timeout, interval, blanking, exposures);
            XForceScreenSaver(dpy, ScreenSaverReset);
            XSync(dpy, False);
        }
    } restore{dpy, timeout, interval, blanking, exposures};
    XSetScreenSaver(dpy, 3, interval, blanking, exposures); // as "xset s 3"
    XForceScreenSaver(dpy, ScreenSaverReset);
    XSync(dpy, False);
    const auto saverOn = [dpy] {
        XScreenSaverInfo* info = XScreenSaverAllocInfo();
        XScreenSaverQueryInfo(dpy, DefaultRootWindow(dpy), info);
        const bool on = info->state == ScreenSaverOn;
        XFree(info);
        return on;
    };
    // The program's own power control, on a session bus that is not there.
    const auto log = [](const QString&) {};
    h.engine->setPowerControl(std::make_shared<FallbackPowerControl>(std::vector<std::shared_ptr<PowerControl>>{
        std::make_shared<ScreenSaverPowerControl>(log, QDBusConnection(QStringLiteral("no session bus"))),
        std::make_shared<X11ScreenSaverPowerControl>(log, s_xvfb->display())}));

    ASSERT_FALSE(h.engine->startInner(
        config(RecorderEngine::Target::display(displayID), QStringLiteral("Ten still seconds.mov"))));
    int on = 0;
    for (int i = 0; i < 40; ++i) {
        spin(0.25);
        on += saverOn() ? 1 : 0;
    }
    EXPECT_EQ(on, 0) << "quarter seconds with the screen saver on while recording";
    ASSERT_TRUE(h.engine->stop());
    QElapsedTimer waited;
    waited.start();
    while (!saverOn() && waited.elapsed() < 20000)
        spin(0.25);
    EXPECT_TRUE(saverOn()) << "the screen saver never started after the stop";
}

TEST_F(RecorderEngineXvfb, ClosedTargetWindowIsSaidAsClosed)
{
    const uint32_t target = painter->window(QRect(100, 100, 200, 160), kRed);
    ASSERT_FALSE(h.engine->startInner(config(RecorderEngine::Target::window(target), QStringLiteral("Window closed.mov"))));
    spin(1.0);
    painter->destroy(target);
    ASSERT_TRUE(h.events.waitFor(line(RecorderEngine::Line::windowClosed), 30));
    // Nothing retries a closed window; the owner stops, meanwhile the picture is frozen.
    spin(2.5);
    EXPECT_EQ(h.events.count(line(RecorderEngine::Line::windowClosed)), 1);
    EXPECT_EQ(h.events.count(line(RecorderEngine::Line::screenLost)), 0);
    EXPECT_EQ(h.events.count(line(RecorderEngine::Line::screenRestored)), 0);
    EXPECT_EQ(h.engine->state(), RecorderEngine::State::recording);
    const auto path = h.engine->stop();
    ASSERT_TRUE(path);
    const MovieProbe::Result probe = MovieProbe::probe(*path);
    ASSERT_TRUE(probe.playable);
    const MovieProbe::Stream* v = probe.firstOf(MovieProbe::Stream::Kind::Video);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->width, 200);
    EXPECT_EQ(v->height, 160);
    EXPECT_GT(v->seconds, 0.8);
}

TEST_F(RecorderEngineXvfb, UnpluggedDisplayIsRetriedUntilItIsBack)
{
    // Xvfb cannot lose its output: the layout forgets it instead, and a RandR
    // event tells the stream to look again. Each look while it is gone is counted.
    std::atomic<bool> unplugged{false};
    std::atomic<int> looksWhileGone{0};
    const QString name = s_xvfb->display();
    source->setLayout([&unplugged, &looksWhileGone, name] {
        if (!unplugged)
            return XRandRDisplayList(name).outputs();
        ++looksWhileGone;
        return std::vector<XRandRDisplayList::Output>{};
    });
    animate(painter->window(QRect(100, 100, 200, 150), kBlue));
    ASSERT_FALSE(
        h.engine->startInner(config(RecorderEngine::Target::display(displayID), QStringLiteral("Display unplugged.mov"))));
    spin(1.0);
    unplugged = true;
    painter->pokeRandr();
    ASSERT_TRUE(h.events.waitFor(line(RecorderEngine::Line::screenLost), 30));
    // A retry looks again, finds nothing, and the picture stays frozen.
    const int looked = looksWhileGone;
    ASSERT_TRUE(waitUntil([&] { return looksWhileGone > looked; }, 30));
    EXPECT_EQ(h.events.count(line(RecorderEngine::Line::screenRestored)), 0);
    unplugged = false;
    ASSERT_TRUE(h.events.waitFor(line(RecorderEngine::Line::screenRestored), 30));
    const int lost = h.events.indexOf(line(RecorderEngine::Line::screenLost));
    EXPECT_GT(h.events.indexOf(line(RecorderEngine::Line::screenRestored), lost), lost);
    // Frames flow again after the restore: a second's worth more is written.
    painter->window(QRect(300, 250, 100, 100), kGreen);
    const int64_t before = h.engine->stats().writtenVideo;
    ASSERT_TRUE(waitUntil([&] { return h.engine->stats().writtenVideo >= before + 12; }, 30));
    const auto path = h.engine->stop();
    ASSERT_TRUE(path);
    const double seconds = recorded(12);
    // The frozen stretch is recorded time: it lasted a failed retry and the
    // one that found the display, each streamRetryDelay after the last.
    EXPECT_GE(seconds, 2 * RecorderEngine::streamRetryDelay);
    expectMovie(*path, kScreenWidth, kScreenHeight, 12, seconds, false);
    const Frames frames = decode(*path, kScreenWidth, kScreenHeight);
    ASSERT_FALSE(frames.pictures.empty());
    // The frozen stretch holds the blue window and never the green one, which
    // the restored stream shows.
    EXPECT_EQ(frames.count(frames.pictures.size() / 2, kGreen), 0);
    EXPECT_GT(frames.count(frames.pictures.size() / 2, kBlue), 200 * 150 * 9 / 10);
    EXPECT_GT(frames.count(frames.pictures.size() - 1, kGreen), 100 * 100 * 9 / 10);
}

// A window target minimised for a while in the middle of a recording: the movie
// holds the window's last picture meanwhile (the heartbeat repeats it) and
// never shows what a window away from the screen reads, black; after the
// restore the movie is live again.
TEST_F(RecorderEngineXvfb, AMinimisedWindowTargetHoldsItsLastPicture)
{
    QString why;
    const auto wm = WindowManager::startOpenbox(painter->display(), &why);
    if (!wm)
        GTEST_SKIP() << why.toStdString();
    const Window client = painter->window(QRect(120, 100, 300, 200), kRed);
    ASSERT_TRUE(waitUntil([&] { return painter->topLevel(client) != client && painter->viewable(client); }, 15));
    animate(uint32_t(client)); // the movie at its full rate while the window is there
    const QString id = QString::number(client);
    ASSERT_FALSE(h.engine->startInner(config(RecorderEngine::Target::window(client), QStringLiteral("Window minimised.mov"))));
    ASSERT_TRUE(waitUntil([&] { return h.engine->stats().writtenVideo >= 12; }, 30));

    if (!WindowManager::xdotool({QStringLiteral("windowminimize"), id}))
        GTEST_SKIP() << "xdotool is not installed";
    ASSERT_TRUE(waitUntil([&] { return !painter->viewable(painter->topLevel(client)); }, 15));
    // Minimised for three of the heartbeat's repeats (one about every 0.9 s).
    const int64_t minimised = h.engine->stats().writtenVideo;
    ASSERT_TRUE(waitUntil([&] { return h.engine->stats().writtenVideo >= minimised + 3; }, 30));

    ASSERT_TRUE(WindowManager::xdotool({QStringLiteral("windowactivate"), id}));
    ASSERT_TRUE(waitUntil([&] { return painter->viewable(client); }, 15));
    painter->recolour(client, kBlue);
    const int64_t restored = h.engine->stats().writtenVideo;
    ASSERT_TRUE(waitUntil([&] { return h.engine->stats().writtenVideo >= restored + 12; }, 30));
    const auto path = h.engine->stop();
    ASSERT_TRUE(path);
    EXPECT_EQ(h.events.count(line(RecorderEngine::Line::windowClosed)), 0);

    const MovieProbe::Result probe = MovieProbe::probe(*path);
    ASSERT_TRUE(probe.playable) << probe.error.toStdString();
    const MovieProbe::Stream* v = probe.firstOf(MovieProbe::Stream::Kind::Video);
    ASSERT_TRUE(v);
    const Frames frames = decode(*path, v->width, v->height, 4);
    ASSERT_GE(frames.pictures.size(), 8u);
    const int area = v->width * v->height;
    for (size_t i = 0; i < frames.pictures.size(); ++i) {
        EXPECT_LT(frames.count(i, 0x000000, 24), area / 10) << "dark picture " << i << " of " << frames.pictures.size();
        EXPECT_GT(frames.count(i, kRed) + frames.count(i, kBlue), area / 2) << "picture " << i;
    }
    EXPECT_GT(frames.count(frames.pictures.size() - 1, kBlue), area / 2);
}
