#include "engine/EngineTestSupport.h"

#include "platform/MovieTestSupport.h"
#include "platform/x11/X11PointerService.h"
#include "platform/x11/X11ScreenSource.h"
#include "support/MoviePictures.h"
#include "support/XvfbFixture.h"

#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

// After gtest: Xlib defines macros (None, Bool) that clash with it.
#include "support/Painter.h"

using namespace corvessa;
using namespace corvessa::test;

// Recordings on a real Xorg server with two monitors (the dummy driver), whose
// layout is changed with xrandr while they run: the recorded monitor moved,
// switched off and on, given another mode; an area's monitor moved. Each
// monitor shows its own colour (DUMMY0 red, DUMMY1 blue with a green square),
// so every picture of the movie tells whose it is and whether it kept its shape.

namespace {

constexpr uint32_t kRed = 0xff0000;
constexpr uint32_t kBlue = 0x0000ff;
constexpr uint32_t kGreen = 0x00ff00;
constexpr uint32_t kYellow = 0xffff00;
constexpr uint32_t kGrey = 0x808080;
const QRect kSquare(200, 200, 300, 300); // in a monitor's content

bool near(QRgb pixel, uint32_t colour, int tolerance = 56)
{
    return std::abs(qRed(pixel) - int(colour >> 16 & 0xff)) <= tolerance &&
           std::abs(qGreen(pixel) - int(colour >> 8 & 0xff)) <= tolerance &&
           std::abs(qBlue(pixel) - int(colour & 0xff)) <= tolerance;
}

struct Seen {
    int count = 0;
    QRect bounds;
};

Seen find(const QImage& picture, uint32_t colour)
{
    Seen seen;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if (near(picture.pixel(x, y), colour)) {
                ++seen.count;
                seen.bounds |= QRect(x, y, 1, 1);
            }
    return seen;
}

class RecorderEngineMonitors : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_server = XvfbFixture::xorgDummy({QStringLiteral("1920x1080"), QStringLiteral("1280x1024")}).release();
        s_error.clear();
        if (s_server->installed())
            s_server->start(&s_error);
    }
    static void TearDownTestSuite()
    {
        delete s_server;
        s_server = nullptr;
    }

    void SetUp() override
    {
        if (!s_server->installed())
            GTEST_SKIP() << "Xorg with the dummy video driver is not installed";
        if (!s_server->isRunning())
            GTEST_SKIP() << "Xorg could not start here: " << s_error.toStdString();
        if (QStandardPaths::findExecutable(QStringLiteral("xrandr")).isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty())
            GTEST_SKIP() << "xrandr and ffmpeg are needed";
        // DUMMY1 is switched on by giving it modes; both back where a test starts.
        xrandr({QStringLiteral("--addmode"), QStringLiteral("DUMMY1"), QStringLiteral("1280x1024")}, false);
        xrandr({QStringLiteral("--addmode"), QStringLiteral("DUMMY1"), QStringLiteral("1920x1080")}, false);
        ASSERT_TRUE(xrandr({QStringLiteral("--output"), QStringLiteral("DUMMY0"), QStringLiteral("--mode"),
                            QStringLiteral("1920x1080"), QStringLiteral("--pos"), QStringLiteral("0x0"),
                            QStringLiteral("--primary"), QStringLiteral("--output"), QStringLiteral("DUMMY1"),
                            QStringLiteral("--mode"), QStringLiteral("1280x1024"), QStringLiteral("--pos"),
                            QStringLiteral("1920x0")}));
        // The driver calls an output connected once it has modes, which the
        // server's outputs list only after a probe: xrandr's query is one.
        ASSERT_TRUE(xrandr({QStringLiteral("--query")}));
        painter = std::make_unique<Painter>(s_server->display());
        ASSERT_TRUE(painter->isOpen());
        Display* dpy = painter->display();
        XSetWindowBackground(dpy, DefaultRootWindow(dpy), kGrey);
        XClearWindow(dpy, DefaultRootWindow(dpy));
        painter->sync();
        source = std::make_shared<X11ScreenSource>(s_server->display());
        source->setAudioInput(h.audio);
        h.engine->setScreenSource(source);
        h.engine->setPointerService(std::make_shared<X11PointerService>(s_server->display()));
        const auto content = source->content();
        ASSERT_TRUE(content);
        ASSERT_EQ(content->displays.size(), 2u) << "the dummy driver did not give two monitors";
    }

    void TearDown() override
    {
        ticker.reset();
        h.engine->stop();
        painter.reset();
    }

    static bool xrandr(const QStringList& arguments, bool mustWork = true)
    {
        QProcess p;
        p.start(QStringLiteral("xrandr"), QStringList{QStringLiteral("-display"), s_server->display()} + arguments);
        const bool ok = p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        if (!ok && mustWork)
            ADD_FAILURE() << "xrandr " << arguments.join(QLatin1Char(' ')).toStdString() << ": "
                          << p.readAllStandardError().toStdString();
        return ok;
    }

    // One monitor's content at `r`: its colour, a square in `mark`, and a small
    // patch that changes ten times a second, so pictures keep coming.
    void content(const QRect& r, uint32_t colour, uint32_t mark)
    {
        const Window w = painter->window(r, colour);
        painter->window(kSquare, mark, w);
        ticking.push_back(painter->window(QRect(1000, 700, 32, 32), 0x303030, w));
    }
    void tick()
    {
        ticker = std::make_unique<QTimer>();
        QObject::connect(ticker.get(), &QTimer::timeout, [this] {
            for (Window w : ticking)
                painter->recolour(w, (++ticks % 2) ? 0x303030 : 0x505050);
        });
        ticker->start(100);
    }

    // Waits for `n` more pictures written.
    bool written(int n)
    {
        const int64_t from = h.engine->stats().writtenVideo;
        return waitUntil([&] { return h.engine->stats().writtenVideo >= from + n; }, 60);
    }

    RecorderEngine::Config config(const RecorderEngine::Target& target, const QString& movie)
    {
        auto c = h.config(12);
        c.target = target;
        c.outputURL = folder.file(movie);
        return c;
    }

    static inline XvfbFixture* s_server = nullptr;
    static inline QString s_error;
    MovieFolder folder{QStringLiteral("RecorderEngineMonitors")};
    EngineHarness h{true};
    std::unique_ptr<Painter> painter;
    std::shared_ptr<X11ScreenSource> source;
    std::vector<Window> ticking;
    std::unique_ptr<QTimer> ticker;
    unsigned ticks = 0;
};

} // namespace

// The recorded monitor moved below the other, switched off and on again, and
// given a wider mode: every picture is its own (never the other monitor's),
// frozen while it is off, and keeps its shape (the new mode letterboxed).
TEST_F(RecorderEngineMonitors, TheRecordedMonitorIsFollowedThroughMovesOffAndModes)
{
    content(QRect(0, 0, 1920, 1080), kRed, kYellow);
    // DUMMY1's content wherever it will be: right of DUMMY0, in either mode, and below it.
    content(QRect(1920, 0, 1920, 1080), kBlue, kGreen);
    content(QRect(0, 1080, 1920, 1080), kBlue, kGreen);
    tick();
    const uint32_t dummy1 = DisplayInfo::idForName(QStringLiteral("DUMMY1"));
    ASSERT_FALSE(h.engine->startInner(config(RecorderEngine::Target::display(dummy1), QStringLiteral("DUMMY1 followed.mov"))));
    ASSERT_TRUE(written(12));

    ASSERT_TRUE(xrandr({QStringLiteral("--output"), QStringLiteral("DUMMY1"), QStringLiteral("--below"), QStringLiteral("DUMMY0")}));
    ASSERT_TRUE(written(12));
    EXPECT_EQ(h.events.count(line(RecorderEngine::Line::screenLost)), 0) << "a moved monitor is not lost";

    ASSERT_TRUE(xrandr({QStringLiteral("--output"), QStringLiteral("DUMMY1"), QStringLiteral("--off")}));
    ASSERT_TRUE(h.events.waitFor(line(RecorderEngine::Line::screenLost), 30));
    // Off for longer than three retries (the heartbeat's repeats count the
    // time): the microphone is no cause of the failures and stays.
    ASSERT_TRUE(written(9));
    EXPECT_EQ(h.events.count(line(RecorderEngine::Line::screenRestored)), 0) << "restored while DUMMY1 is off";
    EXPECT_EQ(h.events.count(line(RecorderEngine::Line::micCouldNotConnect)), 0);

    ASSERT_TRUE(xrandr({QStringLiteral("--output"), QStringLiteral("DUMMY1"), QStringLiteral("--mode"),
                        QStringLiteral("1280x1024"), QStringLiteral("--right-of"), QStringLiteral("DUMMY0")}));
    ASSERT_TRUE(h.events.waitFor(line(RecorderEngine::Line::screenRestored), 30));
    ASSERT_TRUE(written(12));

    ASSERT_TRUE(xrandr({QStringLiteral("--output"), QStringLiteral("DUMMY1"), QStringLiteral("--mode"), QStringLiteral("1920x1080")}));
    ASSERT_TRUE(written(12));
    const auto path = h.engine->stop();
    ASSERT_TRUE(path);
    EXPECT_EQ(h.events.count(line(RecorderEngine::Line::screenLost)), 1);
    EXPECT_EQ(h.events.count(line(RecorderEngine::Line::screenRestored)), 1);

    // A quarter of the size: 320x256. The square is 75 wide in 1280x1024 and 50
    // in the letterboxed 1920x1080 (a band 180 high between bars of 38).
    const QSize size(320, 256);
    int pictures = 0, letterboxed = 0;
    QImage last;
    const int n = MoviePictures::each(*path, size, [&](const QImage& p) {
        SCOPED_TRACE(pictures);
        ++pictures;
        last = p;
        EXPECT_LT(find(p, kRed).count, 100) << "DUMMY0's picture in picture " << pictures;
        const Seen blue = find(p, kBlue);
        EXPECT_GT(blue.count, 320 * 180 / 2) << "not DUMMY1's picture: " << pictures;
        const Seen square = find(p, kGreen);
        ASSERT_GT(square.count, 50 * 50 / 2) << "no square in picture " << pictures;
        const double aspect = double(square.bounds.width()) / square.bounds.height();
        EXPECT_NEAR(aspect, 1.0, 0.1) << "out of shape in picture " << pictures;
        if (blue.bounds.height() < 200) {
            ++letterboxed;
            EXPECT_NEAR(double(blue.bounds.width()) / blue.bounds.height(), 1920.0 / 1080, 0.08);
        }
    });
    EXPECT_EQ(n, pictures);
    EXPECT_GT(pictures, 10);
    // The last pictures show the new mode between black bars.
    EXPECT_GT(letterboxed, 0);
    ASSERT_FALSE(last.isNull());
    EXPECT_TRUE(near(last.pixel(160, 10), 0x000000, 24)) << "no bar above the letterboxed picture";
    EXPECT_TRUE(near(last.pixel(160, 250), 0x000000, 24)) << "no bar below the letterboxed picture";
}

// An area of DUMMY0 while DUMMY1 is put to its left, which moves DUMMY0 along
// the root: the area goes with its monitor, and that is said once.
TEST_F(RecorderEngineMonitors, AnAreaMovesWithItsMonitorAndSaysSo)
{
    const Window red = painter->window(QRect(0, 0, 1920, 1080), kRed);
    painter->window(kSquare, kYellow, red);
    ticking.push_back(painter->window(QRect(1000, 700, 32, 32), 0x303030, red));
    tick();
    const uint32_t dummy0 = DisplayInfo::idForName(QStringLiteral("DUMMY0"));
    const QRectF area(100, 100, 400, 300); // the square at (100, 100) in it
    ASSERT_FALSE(h.engine->startInner(config(RecorderEngine::Target::area(dummy0, area), QStringLiteral("Area moved.mov"))));
    ASSERT_TRUE(written(12));
    ASSERT_TRUE(xrandr({QStringLiteral("--output"), QStringLiteral("DUMMY1"), QStringLiteral("--left-of"), QStringLiteral("DUMMY0")}));
    // Its content goes with it, as a window manager would take it along.
    painter->move(red, 1280, 0);
    ASSERT_TRUE(h.events.waitFor(line(RecorderEngine::Line::areaMoved), 30));
    ASSERT_TRUE(written(12));
    const auto path = h.engine->stop();
    ASSERT_TRUE(path);
    EXPECT_EQ(h.events.count(line(RecorderEngine::Line::areaMoved)), 1);
    EXPECT_EQ(h.events.count(line(RecorderEngine::Line::screenLost)), 0);

    const QImage last = MoviePictures::last(*path, QSize(400, 300));
    ASSERT_FALSE(last.isNull());
    const Seen square = find(last, kYellow);
    EXPECT_NEAR(square.bounds.left(), 100, 4);
    EXPECT_NEAR(square.bounds.top(), 100, 4);
    EXPECT_NEAR(square.bounds.width(), 300, 6);
}
