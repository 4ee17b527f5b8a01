#pragma once

#include "prefs/PerfCounters.h"

#include <QPointer>
#include <QString>

#include <chrono>
#include <functional>

class QTimer;

namespace corvessa {

// While a recording runs, writes one "[perf]" line of health figures to the log
// every five seconds: elapsed time, CPU use, memory, the worst main-thread
// stall, the compositor's render times, the pen's input-to-ink latency and the
// pen's stroke count. A 0.2 s main-thread timer measures how late it fires
// (a stall) and, once five seconds have passed since the last line, drains
// the counters and writes the next one. Main thread only.
class PerfProbe {
public:
    // Where the figures come from; replaceable for tests.
    struct Sources {
        std::function<double()> now;        // monotonic seconds
        std::function<double()> cpuSeconds; // CPU time of the process, user + system
        std::function<double()> memoryMB;   // resident memory; 0 when unknown
    };

    static constexpr std::chrono::milliseconds interval{200};
    static constexpr double reportSeconds = 5.0;

    // The program's probe, over PerfCounters::shared().
    static PerfProbe& shared();

    explicit PerfProbe(Sources sources = defaultSources(), PerfCounters& counters = PerfCounters::shared());
    ~PerfProbe();
    PerfProbe(const PerfProbe&) = delete;
    PerfProbe& operator=(const PerfProbe&) = delete;

    // (Re)starts every measurement; counts from before are discarded.
    void start();
    void stop();
    bool isRunning() const;
    // One timer firing.
    void tick();

    // The pen board's stroke count for the line (the pen lives above this
    // library); without one the line shows 0.
    void setStrokeCount(std::function<int()> count);

    static Sources defaultSources();
    // user + system seconds from getrusage.
    static double processCpuSeconds();
    // Resident memory in MB (1048576 bytes) from /proc/self/statm; 0 when unreadable.
    static double residentMemoryMB();
    // The log line.
    static QString formatLine(double seconds, double cpuPercent, double memoryMB, double stallMs,
                              const PerfCounters::Stats& render, const PerfCounters::Stats& pen, int strokes);

private:
    Sources m_sources;
    PerfCounters& m_counters;
    std::function<int()> m_strokes;
    // Owned by the application object, so it never outlives the event loop.
    QPointer<QTimer> m_timer;
    double m_t0 = 0;
    double m_lastTick = 0;
    double m_lastReport = 0;
    double m_maxLate = 0;
    double m_lastCPU = 0;
};

} // namespace corvessa
