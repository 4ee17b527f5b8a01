#include "engine/compositor/MouseTrack.h"
#include "engine/compositor/PenBoard.h"
#include "platform/synthetic/SyntheticPointerService.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

using namespace corvessa;
using namespace std::chrono_literals;

namespace {

class MouseTrackTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        pointer = std::make_shared<SyntheticPointerService>();
        track = MouseTrack::create(pointer);
    }

    // Polls n times, 16 ms apart from t0.
    void polls(int n, double t0 = 1.0)
    {
        for (int i = 0; i < n; ++i)
            track->pollAt(t0 + 0.016 * i);
    }

    static CursorImage cursor(const QString& name, QColor colour = Qt::black, QSize size = {16, 16},
                              QPointF hot = {3, 5})
    {
        CursorImage c;
        c.name = name;
        c.image = QImage(size, QImage::Format_ARGB32_Premultiplied);
        c.image.fill(colour);
        c.size = QSizeF(size);
        c.hot = hot;
        return c;
    }

    // Runs the event loop for a while.
    static void pump(std::chrono::milliseconds duration)
    {
        QEventLoop loop;
        QTimer::singleShot(duration, &loop, &QEventLoop::quit);
        loop.exec();
    }

    std::shared_ptr<SyntheticPointerService> pointer;
    std::shared_ptr<MouseTrack> track;
};

} // namespace

TEST_F(MouseTrackTest, FirstPollRecordsAnUpEdgeThatDoesNotAnimate)
{
    EXPECT_FALSE(track->sample(1.0));
    EXPECT_EQ(track->press(1.0), 0);
    track->pollAt(1.0);
    ASSERT_EQ(track->edges().size(), 1u);
    EXPECT_EQ(track->edges()[0], (MouseTrack::Edge{1.0, false}));
    // Nothing was pressed before, so there is no release to show.
    for (double t : {1.0, 1.05, 1.1, 2.0})
        EXPECT_EQ(track->press(t), 0) << t;
    // A second poll with the button still up adds no edge.
    track->pollAt(1.016);
    EXPECT_EQ(track->edges().size(), 1u);
}

TEST_F(MouseTrackTest, PressAndReleaseCurves)
{
    track->pollAt(9.99);
    pointer->setPrimaryDown(true);
    track->pollAt(10.0);
    pointer->setPrimaryDown(false);
    track->pollAt(11.0);
    EXPECT_EQ(track->press(9.995), 0);
    EXPECT_EQ(track->press(10.0), 0);
    EXPECT_NEAR(track->press(10.04), 0.875, 1e-9); // 1 - 0.5^3
    EXPECT_EQ(track->press(10.08), 1);
    EXPECT_EQ(track->press(10.9), 1);
    // Release: 1 at the edge, about 0.204 after 50 ms, cut at 0 from about 76 ms.
    EXPECT_NEAR(track->press(11.0), 1, 1e-12);
    EXPECT_NEAR(track->press(11.05), 0.2036, 0.001);
    EXPECT_EQ(track->press(11.08), 0);
    EXPECT_EQ(track->press(11.2), 0);
    EXPECT_EQ(track->press(11.22), 0);
    EXPECT_EQ(track->press(50), 0);
    EXPECT_EQ(track->press(std::nan("")), 0);
}

TEST_F(MouseTrackTest, SamplesAndEdgesAreBounded)
{
    // The button flips at every poll: one edge per poll.
    for (int i = 0; i < 201; ++i) {
        pointer->setPrimaryDown(i % 2 == 1);
        track->pollAt(1.0 + i * 0.016);
    }
    EXPECT_EQ(track->edges().size(), 101u);
    EXPECT_EQ(track->samples().size(), 201u);
    polls(400, 10.0);
    const auto samples = track->samples();
    ASSERT_EQ(samples.size(), 301u); // the 601st sample dropped the oldest 300
    EXPECT_DOUBLE_EQ(samples.back().t, 10.0 + 399 * 0.016);
    for (size_t i = 1; i < samples.size(); ++i)
        ASSERT_LE(samples[i - 1].t, samples[i].t);
}

TEST_F(MouseTrackTest, SampleInterpolatesPositionAndHoldsTheRest)
{
    pointer->setLocation({0, 0});
    pointer->setPrimaryDown(true);
    track->pollAt(1.0);
    pointer->setLocation({10, -20});
    pointer->setPrimaryDown(false);
    track->pollAt(2.0);

    auto s = track->sample(1.5);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->t, 1.5);
    EXPECT_EQ(s->p, (GlobalPoint{5, -10}));
    EXPECT_TRUE(s->down); // from the earlier sample
    EXPECT_EQ(s->shape, -1);
    // Outside the samples: the first or last one, with its own time.
    EXPECT_EQ(track->sample(0.5)->t, 1.0);
    EXPECT_EQ(track->sample(0.5)->p, (GlobalPoint{0, 0}));
    EXPECT_EQ(track->sample(7.0)->t, 2.0);
    EXPECT_EQ(track->sample(7.0)->p, (GlobalPoint{10, -20}));
    EXPECT_FALSE(track->sample(7.0)->down);
    EXPECT_EQ(track->sample(std::nan(""))->t, 2.0);
}

TEST_F(MouseTrackTest, SamplesAtTheSameTimeDoNotDivideByZero)
{
    pointer->setLocation({0, 0});
    track->pollAt(5.0);
    pointer->setLocation({100, 100});
    track->pollAt(5.0);
    pointer->setLocation({200, 200});
    track->pollAt(6.0);
    for (double t : {5.0, 5.0000001, 5.5, 5.999999}) {
        const auto s = track->sample(t);
        ASSERT_TRUE(s);
        EXPECT_TRUE(std::isfinite(s->p.x) && std::isfinite(s->p.y)) << t;
    }
    EXPECT_EQ(track->sample(5.0)->p, (GlobalPoint{100, 100})); // the newer of the two
    EXPECT_EQ(track->sample(5.5)->p, (GlobalPoint{150, 150}));
}

TEST_F(MouseTrackTest, ActivityCountsChangesOnly)
{
    pointer->setLocation({3, 4});
    track->pollAt(1.0);
    EXPECT_EQ(track->lastActivity(), 0); // the first sample is no activity
    track->pollAt(1.016);
    EXPECT_EQ(track->lastActivity(), 0);
    pointer->setLocation({3, 4.5});
    track->pollAt(1.032);
    EXPECT_EQ(track->lastActivity(), 1.032);
    track->pollAt(1.048);
    EXPECT_EQ(track->lastActivity(), 1.032);
    pointer->setPrimaryDown(true);
    track->pollAt(1.064);
    EXPECT_EQ(track->lastActivity(), 1.064);
}

TEST_F(MouseTrackTest, ForcedButtonStateHidesRealClicks)
{
    track->setForceDown(false);
    pointer->setPrimaryDown(true);
    polls(5);
    EXPECT_EQ(track->edges().size(), 1u);
    EXPECT_FALSE(track->edges()[0].down);
    EXPECT_FALSE(track->sample(1.05)->down);
    EXPECT_EQ(track->press(1.05), 0);
    track->setForceDown(std::nullopt);
    track->pollAt(2.0);
    EXPECT_TRUE(track->sample(2.0)->down);
    EXPECT_EQ(track->edges().size(), 2u);
}

TEST_F(MouseTrackTest, WithoutAPointerThereAreNoSamples)
{
    pointer->setState(std::nullopt);
    polls(20);
    EXPECT_FALSE(track->sample(1.1));
    EXPECT_TRUE(track->edges().empty());
}

TEST_F(MouseTrackTest, SystemShapesAreKeptOncePerLook)
{
    pointer->setCursor(cursor(QStringLiteral("xterm")));
    polls(9);
    EXPECT_EQ(track->samples().back().shape, -1); // the look is first read at the 10th tick
    polls(1, 2.0);
    EXPECT_EQ(track->samples().back().shape, 0);
    ASSERT_EQ(track->shapeCount(), 1u);
    const auto shape = track->shape(0);
    ASSERT_TRUE(shape);
    EXPECT_EQ(shape->size, QSizeF(16, 16));
    EXPECT_EQ(shape->hot, QPointF(3, 5));
    EXPECT_EQ(shape->image.size(), QSize(16, 16));
    EXPECT_FALSE(track->shape(-1));
    EXPECT_FALSE(track->shape(1));

    // The arrow is drawn from the theme.
    pointer->setCursor(cursor(QStringLiteral("left_ptr")));
    polls(10, 3.0);
    EXPECT_EQ(track->samples().back().shape, -1);
    // Back over text: a new cursor object with the same look reuses the entry.
    pointer->setCursor(cursor(QStringLiteral("xterm")));
    polls(10, 4.0);
    EXPECT_EQ(track->samples().back().shape, 0);
    EXPECT_EQ(track->shapeCount(), 1u);
    // Another shape of the same size and hot spot is a look of its own.
    pointer->setCursor(cursor(QStringLiteral("crosshair"), Qt::red));
    polls(10, 5.0);
    EXPECT_EQ(track->samples().back().shape, 1);
    EXPECT_EQ(track->shapeCount(), 2u);
    // An unnamed cursor is some program's own shape; one without a picture is not drawn.
    pointer->setCursor(cursor(QString(), Qt::green, {32, 32}, {16, 16}));
    polls(10, 6.0);
    EXPECT_EQ(track->samples().back().shape, 2);
    CursorImage blank = cursor(QStringLiteral("xterm"));
    blank.image = QImage();
    pointer->setCursor(blank);
    polls(10, 7.0);
    EXPECT_EQ(track->samples().back().shape, -1);
    // No cursor readable: the last look stays.
    pointer->setCursor(cursor(QStringLiteral("xterm")));
    polls(10, 8.0);
    pointer->setCursor(std::nullopt);
    polls(10, 9.0);
    EXPECT_EQ(track->samples().back().shape, 0);
}

TEST_F(MouseTrackTest, CursorIsReadEveryTenthTick)
{
    pointer->setCursor(cursor(QStringLiteral("xterm")));
    polls(100);
    EXPECT_EQ(pointer->cursorQueries(), 10);
}

TEST_F(MouseTrackTest, ActivePenDrawsTheThemeCursor)
{
    pointer->setCursor(cursor(QStringLiteral("xterm")));
    PenBoard::shared().setActive(true);
    polls(30);
    PenBoard::shared().setActive(false);
    for (const auto& s : track->samples())
        EXPECT_EQ(s.shape, -1);
    EXPECT_EQ(track->shapeCount(), 0u);
    // The same cursor shows again once the pen is put away.
    polls(10, 5.0);
    EXPECT_EQ(track->samples().back().shape, 0);
}

TEST_F(MouseTrackTest, FollowsTheRecordedWindow)
{
    pointer->setWindowFrame(42, QRectF(10, 20, 300, 200));
    track->start(42);
    track->stop();
    EXPECT_EQ(track->windowID(), 42u);
    polls(5);
    EXPECT_FALSE(track->windowFrame()); // read every 6th tick
    polls(1, 2.0);
    EXPECT_EQ(track->windowFrame(), QRectF(10, 20, 300, 200));
    pointer->setWindowFrame(42, QRectF(50, 60, 300, 200));
    polls(6, 3.0);
    EXPECT_EQ(track->windowFrame(), QRectF(50, 60, 300, 200));
    // A window that cannot be read keeps its last frame.
    pointer->setWindowFrame(42, std::nullopt);
    polls(12, 4.0);
    EXPECT_EQ(track->windowFrame(), QRectF(50, 60, 300, 200));
    // A resume without an id keeps following the same window.
    track->start();
    track->stop();
    EXPECT_EQ(track->windowID(), 42u);
}

TEST_F(MouseTrackTest, TimerSamplesOnTheMainThreadUntilStopped)
{
    EXPECT_FALSE(track->isRunning());
    track->start();
    EXPECT_TRUE(track->isRunning());
    track->start(); // already running: nothing changes
    pump(200ms);
    const size_t running = track->samples().size();
    EXPECT_GE(running, 3u);
    EXPECT_LE(running, 200u / 16 + 3); // one timer, not two
    track->stop();
    EXPECT_FALSE(track->isRunning());
    pump(100ms);
    EXPECT_EQ(track->samples().size(), running);

    // Resume keeps what was recorded.
    track->start();
    pump(100ms);
    EXPECT_GT(track->samples().size(), running);

    // Stopped from the engine's thread: no firing after the stop.
    std::thread([&] { track->stop(); }).join();
    EXPECT_FALSE(track->isRunning());
    const size_t stopped = track->samples().size();
    pump(100ms);
    EXPECT_EQ(track->samples().size(), stopped);
}

TEST_F(MouseTrackTest, StartFromAnotherThreadRunsOnTheMainThread)
{
    std::thread([&] { track->start(); }).join();
    pump(100ms);
    EXPECT_TRUE(track->isRunning());
    EXPECT_FALSE(track->samples().empty());
    track->stop();
}

TEST_F(MouseTrackTest, ReleasedWhileRunning)
{
    track->start();
    pump(50ms);
    std::weak_ptr<MouseTrack> weak = track;
    track.reset();
    EXPECT_TRUE(weak.expired());
    pump(50ms); // the timer is gone with the track; nothing fires into it
}
