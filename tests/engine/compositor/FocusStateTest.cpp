#include "engine/compositor/FocusState.h"
#include "platform/core/HostClock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

using namespace corvessa;

TEST(FocusState, StartsWithTheModelsDefaults)
{
    FocusState f;
    const auto s = f.snapshot();
    EXPECT_EQ(s.frac, 0.29);
    EXPECT_EQ(s.mode, 0);
    EXPECT_FALSE(s.anchor);
    EXPECT_EQ(s.touch, 0);
    EXPECT_EQ(s.speed, 0);
    EXPECT_FALSE(s.zoomingIn);
    EXPECT_FALSE(s.anchored());
    EXPECT_FALSE(f.seed());
    EXPECT_EQ(f.progress(1e9), 0);
}

TEST(FocusState, FirstSwitchOffAndRepeatsRecordNothing)
{
    FocusState f;
    f.set(false, 5.0);
    EXPECT_TRUE(f.edges().empty());
    EXPECT_EQ(f.progress(6.0), 0);

    f.set(true, 10.0);
    f.set(true, 10.3); // the running transition keeps its start
    ASSERT_EQ(f.edges().size(), 1u);
    EXPECT_EQ(f.edges()[0], (FocusState::Edge{10.0, true}));
    EXPECT_NEAR(f.progress(10.225), 0.5, 1e-9);
}

TEST(FocusState, ZoomInEasesOverTheTransition)
{
    FocusState f;
    f.set(true, 10.0);
    EXPECT_EQ(f.progress(9.9), 0); // before the switch
    EXPECT_EQ(f.progress(10.0), 0);
    EXPECT_NEAR(f.progress(10.225), 0.5, 1e-9);        // c = 0.5 -> 4 * 0.125
    EXPECT_NEAR(f.progress(10.1125), 4 * 0.015625, 1e-9); // c = 0.25, ease-in half
    EXPECT_NEAR(f.progress(10.3375), 1 - 0.125 / 2, 1e-9); // c = 0.75, ease-out half
    EXPECT_EQ(f.progress(10.45), 1);
    EXPECT_EQ(f.progress(99), 1);
    EXPECT_TRUE(f.snapshot().zoomingIn);
}

TEST(FocusState, ZoomOutStartsFromFullZoom)
{
    FocusState f;
    f.set(true, 10.0);
    f.set(false, 11.0);
    EXPECT_EQ(f.progress(11.0), 1);
    EXPECT_NEAR(f.progress(11.225), 0.5, 1e-9);
    EXPECT_EQ(f.progress(11.45), 0);
    EXPECT_EQ(f.progress(10.45), 1); // a time before the switch off still sees the zoom-in
    EXPECT_FALSE(f.snapshot().zoomingIn);

    // Switched off before the zoom-in finished: the zoom-out still runs from 1.
    FocusState g;
    g.set(true, 10.0);
    EXPECT_LT(g.progress(10.1), 0.5);
    g.set(false, 10.1);
    EXPECT_EQ(g.progress(10.1), 1);
}

TEST(FocusState, SpeedSelectsTheTransitionLength)
{
    FocusState f;
    f.set(true, 10.0);
    f.setSpeed(2);
    EXPECT_NEAR(f.progress(10.65), 0.5, 1e-9);
    EXPECT_LT(f.progress(11.29), 1);
    EXPECT_EQ(f.progress(11.3), 1);
    f.setSpeed(1);
    EXPECT_NEAR(f.progress(10.4), 0.5, 1e-9);
    // Out-of-range speeds are kept in the table.
    f.setSpeed(7);
    EXPECT_EQ(f.speed(), 2);
    f.setSpeed(-1);
    EXPECT_EQ(f.speed(), 0);
}

TEST(FocusState, HistoryIsBounded)
{
    FocusState f;
    for (int i = 0; i < 101; ++i)
        f.set(i % 2 == 0, double(i));
    const auto edges = f.edges();
    ASSERT_EQ(edges.size(), 51u);
    EXPECT_EQ(edges.front().t, 50);
    EXPECT_EQ(edges.back(), (FocusState::Edge{100, true}));
    for (size_t i = 1; i < edges.size(); ++i)
        EXPECT_NE(edges[i].on, edges[i - 1].on); // still alternating
}

TEST(FocusState, WithoutATimeTheHostClockIsUsed)
{
    FocusState f;
    const double before = HostClock::seconds();
    f.set(true);
    const double after = HostClock::seconds();
    ASSERT_EQ(f.edges().size(), 1u);
    EXPECT_GE(f.edges()[0].t, before);
    EXPECT_LE(f.edges()[0].t, after);
    EXPECT_EQ(f.progress(after + 1), 1);
    // A time that is not a number is no switch.
    f.set(false, std::nan(""));
    EXPECT_EQ(f.edges().size(), 1u);
    EXPECT_EQ(f.progress(std::nan("")), 0);
}

TEST(FocusState, FieldsKeepDrawableValues)
{
    FocusState f;
    f.setFrac(0.5);
    EXPECT_EQ(f.frac(), 0.5);
    f.setFrac(0); // would divide by zero in the full-zoom factor
    EXPECT_EQ(f.frac(), FocusState::minFrac);
    f.setFrac(3);
    EXPECT_EQ(f.frac(), 1);
    f.setFrac(std::nan(""));
    EXPECT_EQ(f.frac(), 1);

    f.setMode(1);
    EXPECT_FALSE(f.snapshot().anchored());
    f.setAnchor(QPointF(0.25, 0.75));
    EXPECT_TRUE(f.snapshot().anchored());
    EXPECT_EQ(f.snapshot().anchor, QPointF(0.25, 0.75));
    f.setAnchor(QPointF(std::nan(""), 0.5));
    EXPECT_FALSE(f.anchor());

    // The seed is taken once.
    f.setSeed(QPointF(0.5, 0.5));
    EXPECT_EQ(f.takeSeed(), QPointF(0.5, 0.5));
    EXPECT_FALSE(f.takeSeed());
    EXPECT_FALSE(f.seed());

    f.setTouch(12.5);
    EXPECT_EQ(f.snapshot().touch, 12.5);
}

TEST(FocusState, MainThreadWritesWhileTheEngineReads)
{
    FocusState f;
    std::atomic<bool> done{false};
    std::atomic<bool> sane{true};
    std::thread reader([&] {
        while (!done) {
            const double p = f.progress(HostClock::seconds());
            if (!(p >= 0 && p <= 1))
                sane = false;
            f.takeSeed();
            f.snapshot();
        }
    });
    for (int i = 0; i < 20000; ++i) {
        f.set(i % 2 == 0, double(i) * 0.01);
        f.setSeed(QPointF(0.1, 0.2));
        f.setSpeed(i % 3);
    }
    done = true;
    reader.join();
    EXPECT_TRUE(sane);
    EXPECT_LE(f.edges().size(), FocusState::kLimit);
}
