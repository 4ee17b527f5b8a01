#include "engine/EngineTestSupport.h"

#include "engine/RecoveryJournal.h"
#include "engine/compositor/MouseTrack.h"
#include "platform/ffmpeg/MovieProbe.h"
#include "platform/MovieTestSupport.h"
#include "platform/x11/X11ConnectionLoss.h"
#include "platform/x11/X11PointerService.h"
#include "platform/x11/X11ScreenSource.h"
#include "support/XvfbTest.h"

#include <QFile>

#include <gtest/gtest.h>

// After gtest: Xlib defines macros (None, Bool) that clash with it.
#include "support/Painter.h"

using namespace corvessa;
using namespace corvessa::test;

// The X server dies under a recording from the real X11 source: the program
// lives on, reports the screen lost, keeps recording the last picture while
// the retries fail, and a stop finishes the movie like any other. The suite
// kills its server, so it has one of its own.

namespace {

class RecorderEngineServerLossXvfb : public XvfbTest {
protected:
    static void SetUpTestSuite() { startServer(QStringLiteral("640x480x24")); }
};

} // namespace

TEST_F(RecorderEngineServerLossXvfb, AKilledServerFreezesTheRecordingAndStopFinishesTheMovie)
{
    if (!X11ConnectionLoss::isSurvivable())
        GTEST_SKIP() << "this libX11 (before 1.7) always ends the program on a lost connection";
    MovieFolder folder(QStringLiteral("RecorderEngineServerLossXvfb"));
    EngineHarness h(true);
    auto source = std::make_shared<X11ScreenSource>(s_xvfb->display());
    source->setAudioInput(h.audio);
    h.engine->setScreenSource(source);
    // Polled on the main thread at 60 Hz: the first to find the server gone.
    h.engine->setPointerService(std::make_shared<X11PointerService>(s_xvfb->display()));
    const auto content = source->content();
    ASSERT_TRUE(content && !content->displays.empty());
    {
        Painter painter(s_xvfb->display());
        ASSERT_TRUE(painter.isOpen());
        painter.window(QRect(100, 100, 200, 150), 0x0000ff);

        auto config = h.config(12);
        config.target = RecorderEngine::Target::display(content->displays.front().id);
        config.outputURL = folder.file(QStringLiteral("Server killed.mov"));
        ASSERT_FALSE(h.engine->startInner(config));
        ASSERT_TRUE(waitUntil([&] { return h.engine->stats().writtenVideo > 0; }, 5));
        spin(1.0);
    } // the painter's connection would meet Xlib's default handler

    const double beforeLoss = h.engine->effectiveSeconds();
    s_xvfb->kill();
    ASSERT_TRUE(h.events.waitFor(line(RecorderEngine::Line::screenLost), 5));
    const int64_t repeatedAtLoss = h.engine->stats().repeatedVideo;
    // Two retries fail and the pointer service looks for a server again.
    spin(4.5);
    EXPECT_EQ(h.events.count(line(RecorderEngine::Line::screenLost)), 1);
    EXPECT_EQ(h.events.count(line(RecorderEngine::Line::screenRestored)), 0);
    EXPECT_EQ(h.engine->state(), RecorderEngine::State::recording);
    ASSERT_TRUE(h.engine->mouseTrack());
    EXPECT_TRUE(h.engine->mouseTrack()->isRunning());
    EXPECT_GT(h.engine->stats().repeatedVideo, repeatedAtLoss) << "the last picture goes on";

    const auto path = h.engine->stop();
    ASSERT_TRUE(path);
    EXPECT_EQ(h.events.count(line(RecorderEngine::Line::completed)), 1);
    EXPECT_FALSE(QFile::exists(RecoveryJournal::file()));
    const MovieProbe::Result probe = MovieProbe::probe(*path);
    ASSERT_TRUE(probe.playable) << probe.error.toStdString();
    const MovieProbe::Stream* video = probe.firstOf(MovieProbe::Stream::Kind::Video);
    ASSERT_TRUE(video);
    EXPECT_EQ(video->width, 640);
    EXPECT_EQ(video->height, 480);
    // The frozen stretch after the loss is in the movie.
    EXPECT_GT(video->seconds, beforeLoss + 2);
}
