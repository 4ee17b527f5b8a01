#include "prefs/PerfCounters.h"
#include "prefs/PerfProbe.h"

#include "platform/core/XdgPaths.h"
#include "support/TempHome.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <vector>

using namespace corvessa;

namespace {

// The "[perf]" lines of the log, without their time stamps.
QStringList perfLines()
{
    QFile f(XdgPaths::logFile());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList lines;
    for (const QString& line : QString::fromUtf8(f.readAll()).split('\n')) {
        const qsizetype at = line.indexOf(QStringLiteral("[perf]"));
        if (at >= 0)
            lines << line.mid(at);
    }
    return lines;
}

// A probe on a clock and CPU meter the test moves by hand.
struct FakeProbe {
    double now = 100;
    double cpu = 10;
    double memory = 212.4;
    PerfCounters counters;
    PerfProbe probe{PerfProbe::Sources{[this] { return now; }, [this] { return cpu; }, [this] { return memory; }},
                    counters};

    // Ticks every 0.2 s up to `until`. Times are kept to whole microseconds, so
    // that 0.2 s steps add up to exact report times.
    void tickTo(double until)
    {
        while (now + 0.2 <= until + 1e-9) {
            now = std::round((now + 0.2) * 1e6) / 1e6;
            probe.tick();
        }
    }
};

} // namespace

TEST(PerfCounters, DrainGivesAveragesAndStartsAgain)
{
    PerfCounters c;
    EXPECT_EQ(c.drain(), (PerfCounters::Drained{{0, 0, 0}, {0, 0, 0}}));
    c.addRender(2);
    c.addRender(6);
    c.addRender(4);
    c.addPen(10);
    const auto d = c.drain();
    EXPECT_EQ(d.render, (PerfCounters::Stats{3, 4, 6}));
    EXPECT_EQ(d.pen, (PerfCounters::Stats{1, 10, 10}));
    EXPECT_EQ(c.drain(), (PerfCounters::Drained{{0, 0, 0}, {0, 0, 0}}));
}

TEST(PerfCounters, SamplesFromManyThreadsAllCount)
{
    PerfCounters c;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&c, t] {
            for (int i = 0; i < 10000; ++i)
                c.addRender(t == 3 && i == 5000 ? 50 : 1);
        });
    for (auto& t : threads)
        t.join();
    const auto d = c.drain();
    EXPECT_EQ(d.render.n, 40000);
    EXPECT_EQ(d.render.max, 50);
    EXPECT_NEAR(d.render.avg, (39999 + 50) / 40000.0, 1e-12);
}

TEST(PerfProbe, LineFormat)
{
    EXPECT_EQ(PerfProbe::formatLine(35, 42, 212, 18, {150, 4.2, 9}, {0, 0, 0}, 0),
              "[perf] t=35s cpu=42% mem=212MB main_thread_stall_max=18ms composite n=150 avg4.2ms max9ms "
              "pen_latency n=0 avg0ms max0ms strokes=0");
    EXPECT_EQ(PerfProbe::formatLine(5.3, 150.4, 1024.6, 1000, {3, 12.345, 20.7}, {2, 7.6, 9.4}, 17),
              "[perf] t=5s cpu=150% mem=1025MB main_thread_stall_max=1000ms composite n=3 avg12.3ms max21ms "
              "pen_latency n=2 avg8ms max9ms strokes=17");
}

TEST(PerfProbe, WritesALineEveryFiveSeconds)
{
    test::TempHome home;
    FakeProbe f;
    f.counters.addRender(99); // from before the recording: not counted
    f.probe.start();
    f.probe.stop(); // the test ticks by hand
    f.probe.setStrokeCount([] { return 3; });
    f.counters.addRender(4);
    f.counters.addRender(5);
    f.tickTo(104.8);
    EXPECT_TRUE(perfLines().isEmpty());
    f.cpu = 12.5; // 2.5 s of CPU over 5 s: half a core
    f.tickTo(105.0);
    ASSERT_EQ(perfLines().size(), 1);
    EXPECT_EQ(perfLines()[0], "[perf] t=5s cpu=50% mem=212MB main_thread_stall_max=0ms composite n=2 avg4.5ms "
                              "max5ms pen_latency n=0 avg0ms max0ms strokes=3");
    // No frames in the next period.
    f.tickTo(110.0);
    ASSERT_EQ(perfLines().size(), 2);
    EXPECT_EQ(perfLines()[1], "[perf] t=10s cpu=0% mem=212MB main_thread_stall_max=0ms composite n=0 avg0.0ms "
                              "max0ms pen_latency n=0 avg0ms max0ms strokes=3");
}

TEST(PerfProbe, StallsAndLateReports)
{
    test::TempHome home;
    FakeProbe f;
    f.probe.start();
    f.probe.stop();
    f.tickTo(101.0);
    // The main thread hangs for 1.2 s between two ticks: 1 s later than due.
    f.now += 1.2;
    f.probe.tick();
    EXPECT_TRUE(perfLines().isEmpty());
    // Ticks resume; the report falls due at 105.0 but the next tick is at 105.6.
    f.tickTo(104.8);
    f.cpu = 15.6;
    f.now = 105.6;
    f.probe.tick();
    ASSERT_EQ(perfLines().size(), 1);
    // CPU over the real 5.6 s: 5.6 s of CPU is one full core.
    EXPECT_EQ(perfLines()[0], "[perf] t=6s cpu=100% mem=212MB main_thread_stall_max=1000ms composite n=0 "
                              "avg0.0ms max0ms pen_latency n=0 avg0ms max0ms strokes=0");
    // The worst stall starts again after each line.
    f.tickTo(110.8);
    ASSERT_EQ(perfLines().size(), 2);
    EXPECT_TRUE(perfLines()[1].contains("main_thread_stall_max=0ms")) << perfLines()[1].toStdString();
}

TEST(PerfProbe, RestartDiscardsEverything)
{
    test::TempHome home;
    FakeProbe f;
    f.probe.start();
    f.probe.stop();
    f.counters.addPen(30);
    f.tickTo(103);
    f.now += 2; // a stall before the restart is forgotten
    f.probe.start();
    f.probe.stop();
    f.tickTo(f.now + 4.8);
    EXPECT_TRUE(perfLines().isEmpty());
    f.tickTo(f.now + 0.2);
    ASSERT_EQ(perfLines().size(), 1);
    EXPECT_TRUE(perfLines()[0].startsWith("[perf] t=5s cpu=0% "));
    EXPECT_TRUE(perfLines()[0].contains("main_thread_stall_max=0ms"));
    EXPECT_TRUE(perfLines()[0].contains("pen_latency n=0 "));
}

TEST(PerfProbe, RealTimerAndSources)
{
    test::TempHome home;
    PerfCounters counters;
    PerfProbe probe(PerfProbe::defaultSources(), counters);
    EXPECT_FALSE(probe.isRunning());
    probe.start();
    EXPECT_TRUE(probe.isRunning());
    QEventLoop loop;
    QTimer::singleShot(250, &loop, &QEventLoop::quit);
    loop.exec();
    probe.stop();
    EXPECT_FALSE(probe.isRunning());
    EXPECT_TRUE(perfLines().isEmpty()); // too early for a line

    EXPECT_GT(PerfProbe::processCpuSeconds(), 0);
    const double mb = PerfProbe::residentMemoryMB();
    EXPECT_GT(mb, 1);
    EXPECT_LT(mb, 100000);
}
