#include "engine/EngineTestSupport.h"

#include "platform/x11/X11ErrorTrap.h"
#include "platform/x11/X11PointerService.h"
#include "platform/x11/X11ScreenSource.h"
#include "support/XvfbTest.h"

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

// After gtest: Xlib defines macros (None, Bool) that clash with it.
#include <X11/Xlib.h>

using namespace corvessa;
using namespace corvessa::test;

// The pictures of a recording come from the capture thread's own connection
// and reach the movie without the main thread: a main thread that is held up
// (a long round trip to a server flooded by another program, a slow slot) or
// that keeps asking the server things costs no picture.

namespace {

constexpr int kFps = 30;

// Another program repainting a large window with new content every few
// milliseconds, on its own connection and thread, so every frame has changed.
class Repainter {
public:
    explicit Repainter(const QString& display)
    {
        m_thread = std::thread([this, name = display.toStdString()] {
            Display* dpy = XOpenDisplay(name.c_str());
            if (!dpy)
                return;
            const Window w = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 20, 20, 600, 440, 0, 0, 0);
            XMapWindow(dpy, w);
            GC gc = XCreateGC(dpy, w, 0, nullptr);
            for (unsigned long n = 1; !m_stop.load(); ++n) {
                for (int band = 0; band < 8; ++band) {
                    XSetForeground(dpy, gc, (n * 2654435761u + unsigned(band) * 40503u) & 0xffffff);
                    XFillRectangle(dpy, w, gc, int((n * 37 + unsigned(band) * 71) % 560), band * 55, 40, 55);
                }
                XSync(dpy, False);
                m_paints.fetch_add(1);
                std::this_thread::sleep_for(std::chrono::milliseconds(3));
            }
            XFreeGC(dpy, gc);
            XCloseDisplay(dpy);
        });
    }
    ~Repainter()
    {
        m_stop = true;
        m_thread.join();
    }
    int paints() const { return m_paints.load(); }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_paints{0};
    std::thread m_thread;
};

class RecorderEngineBusyScreenXvfb : public XvfbTest {
protected:
    static void SetUpTestSuite() { startServer(QStringLiteral("640x480x24")); }

    // Starts a 30 fps recording of the display from the real X11 source into a
    // recording writer, with the cursor drawn in every frame from the track the
    // main thread samples through the real pointer service.
    void start(EngineHarness& h)
    {
        h.engine->setPointerService(std::make_shared<X11PointerService>(s_xvfb->display()));
        auto source = std::make_shared<X11ScreenSource>(s_xvfb->display());
        h.engine->setScreenSource(source);
        const auto content = source->content();
        ASSERT_TRUE(content && !content->displays.empty());
        auto config = h.config(kFps, false);
        config.cursorTheme = CursorTheme::system;
        config.target = RecorderEngine::Target::display(content->displays.front().id);
        ASSERT_FALSE(h.engine->startInner(config));
        ASSERT_TRUE(waitUntil([&] { return h.videoFrames() > 5; }, 10));
    }

    // As start(), with another program repainting all the time and a
    // connection of the test's own (m_mine) for the main thread's X calls.
    void startBesideRepaints(EngineHarness& h)
    {
        m_repainter = std::make_unique<Repainter>(s_xvfb->display());
        ASSERT_TRUE(waitUntil([&] { return m_repainter->paints() > 0; }, 5));
        start(h);
        m_mine = XOpenDisplay(s_xvfb->display().toUtf8().constData());
        ASSERT_NE(m_mine, nullptr);
    }
    void TearDown() override
    {
        if (m_mine)
            XCloseDisplay(m_mine);
        m_repainter.reset();
    }
    std::unique_ptr<Repainter> m_repainter;
    Display* m_mine = nullptr;

    // The longest stretch of the movie between two pictures, in seconds.
    static double longestGap(const EngineHarness& h)
    {
        const auto video = h.writer()->appended(MovieWriter::Input::Video);
        double gap = 0;
        for (size_t i = 1; i < video.size(); ++i)
            gap = std::max(gap, (video[i].time - video[i - 1].time).seconds());
        return gap;
    }

    // Movie seconds from the first picture to the last.
    static double movieSeconds(const EngineHarness& h)
    {
        const auto video = h.writer()->appended(MovieWriter::Input::Video);
        return video.size() < 2 ? 0 : (video.back().time - video.front().time).seconds();
    }
};

// An X call of the main thread that takes `seconds` to come back.
void slowRoundTrip(Display* dpy, double seconds)
{
    X11ErrorTrap trap(dpy);
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(dpy, &focus, &revert);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

} // namespace

// The main thread is held up for two seconds, once in a slot and once in the
// middle of an X call (as when its round trip waits behind a client flooding
// the server): the capture goes on, so the movie has a fresh picture every
// frame interval across both, and the heartbeat repeats nothing. The cursor
// meanwhile is drawn where the track last saw it.
TEST_F(RecorderEngineBusyScreenXvfb, AStalledMainThreadCostsNoPicture)
{
    EngineHarness h;
    startBesideRepaints(h);
    ASSERT_FALSE(HasFatalFailure());
    spin(0.5);
    const int64_t repeatedBefore = h.engine->stats().repeatedVideo;
    std::this_thread::sleep_for(std::chrono::seconds(2));
    spin(0.3);
    slowRoundTrip(m_mine, 2);
    spin(0.5);
    const int64_t repeated = h.engine->stats().repeatedVideo - repeatedBefore;
    ASSERT_TRUE(h.engine->stop());

    EXPECT_EQ(repeated, 0) << "no picture was repeated for want of a fresh one";
    EXPECT_LT(longestGap(h), 0.5);
}

// While another program repaints all the time, the main thread keeps asking
// the server things under an error trap, as the bar and its timers do, each
// answer taking 0.15 s as on a server that a flooding client keeps busy: the
// pictures keep coming at the recording's rate.
TEST_F(RecorderEngineBusyScreenXvfb, AFloodedScreenRecordsAtTheChosenRateBesideABusyMainThread)
{
    EngineHarness h;
    startBesideRepaints(h);
    ASSERT_FALSE(HasFatalFailure());
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (std::chrono::steady_clock::now() < until) {
        slowRoundTrip(m_mine, 0.15);
        QCoreApplication::processEvents();
    }
    ASSERT_TRUE(h.engine->stop());

    const RecorderEngine::Stats stats = h.engine->stats();
    const double seconds = movieSeconds(h);
    ASSERT_GT(seconds, 2.5);
    // Counted in movie time: fresh pictures, not the heartbeat's repeats. A
    // machine busy with other work (the painter starved, the capture late)
    // may cost some; a capture waiting for the main thread's calls got one
    // picture between two of them, under a quarter of the rate.
    EXPECT_GT(double(stats.writtenVideo - stats.repeatedVideo), 0.5 * kFps * seconds)
        << stats.writtenVideo << " written, " << stats.repeatedVideo << " repeated, in " << seconds << " s";
}
